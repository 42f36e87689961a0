#pragma once
// One take on its own thread, as the window's Start runs it, with a real
// capture source; Stop is finish(). The messages land in `window`.
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "app/shared_state.h"
#include "fake_window.h"
#include "recording/live_feed.h"
#include "recording/recording_thread.h"

class ThreadedTake {
public:
    ThreadedTake(const std::filesystem::path& file, std::unique_ptr<CaptureSource> source) {
        {
            // As Start does, so the history shows only this take.
            std::lock_guard<std::mutex> lock(waveformMutex);
            waveformBufferL.clear();
        }
        hwndMain = &window;
        isRecording = true;
        thread_ = std::thread(recordAudioToWav, file.wstring(), &window, std::move(source));
    }
    ~ThreadedTake() { finish(); }

    // Waits until the display history holds `samples` samples: a sound server
    // may take a moment to deliver the first data of a new stream.
    bool waitForHistory(size_t samples, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            {
                std::lock_guard<std::mutex> lock(waveformMutex);
                if (waveformBufferL.size() >= samples) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    void finish() {
        isRecording = false;
        if (thread_.joinable()) thread_.join();
    }

    FakeWindow window;

private:
    std::thread thread_;
};
