#pragma once
// Starting the program's two extra threads (a take's recording thread and its
// spectrum worker). The system may refuse a thread; that must end in a clear
// message, never in std::terminate, so every start goes through here and the
// caller catches std::system_error.
#include <system_error>
#include <thread>
#include <utility>

// Status line and error box when a take could not start a thread.
constexpr wchar_t THREAD_REFUSED_TEXT[] = L"Recording not started: the system could not start a thread";

// Null in the program. Tests set it to make the next starts fail as a system
// out of threads would.
extern bool (*threadStartRefused)();

template <typename Function, typename... Args>
std::thread startThread(Function&& function, Args&&... args) {
    if (threadStartRefused && threadStartRefused())
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::forward<Function>(function), std::forward<Args>(args)...);
}
