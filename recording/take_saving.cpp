#include "recording/take_saving.h"

#include <condition_variable>
#include <cwctype>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "base/messages.h"
#include "base/window_port.h"
#include "recording/text_encoding.h"

namespace {

using Clock = std::chrono::steady_clock;

// How much of a take a crash may cost: the file is brought up to date this often.
constexpr std::chrono::seconds FILE_UPDATE_INTERVAL{1};
// "<name>.recovered-99.wav" is the last name tried in one place.
constexpr int RECOVERY_NAMES = 99;

// Requests from other threads to bring the file up to date: numbered, so a
// caller knows when the recording thread has served its own.
std::mutex fileRequestMutex;
std::condition_variable fileRequestCv;
uint64_t fileRequestsMade = 0;    // guarded by fileRequestMutex
uint64_t fileRequestsServed = 0;  // guarded by fileRequestMutex
std::atomic<bool> fileRequestPending{false};

// A UTF-8 path object is converted to the platform's own file-name encoding,
// so non-ASCII names work on Windows as well. Throws std::range_error for a
// name that cannot be encoded.
std::filesystem::path pathOf(const std::wstring& path) {
    const std::string utf8 = ws2s(path);
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Blocks until the window answers WM_APP_SAVE_FAILED.
SaveAnswer waitForSaveAnswer() {
    std::unique_lock<std::mutex> lock(saveAnswerMutex);
    saveAnswerCv.wait(lock, [] { return saveAnswer.has_value(); });
    SaveAnswer answer = std::move(*saveAnswer);
    saveAnswer.reset();
    return answer;
}

TakeFileTrouble troubleOf(FileError error) {
    switch (error) {
    case FileError::TooLarge:
        return TakeFileTrouble::SizeLimit;
    case FileError::Gone:
        return TakeFileTrouble::Gone;
    default:
        return TakeFileTrouble::WriteFailed;
    }
}

}  // namespace

std::wstring recoveredName(const std::wstring& chosen, int n) {
    std::wstring name = chosen;
    const size_t slash = name.find_last_of(L"/\\");
    const size_t start = slash == std::wstring::npos ? 0 : slash + 1;
    if (name.size() - start >= 4) {
        std::wstring extension = name.substr(name.size() - 4);
        for (wchar_t& c : extension) c = static_cast<wchar_t>(std::towlower(c));
        if (extension == L".wav") name.resize(name.size() - 4);
    }
    return name + L".recovered" + (n == 1 ? L"" : L"-" + std::to_wstring(n)) + L".wav";
}

TakeSaving::TakeSaving(WindowPort* window, uint32_t sampleRate, int channels)
    : window_(window), sampleRate_(sampleRate), channels_(channels) {}

TakeSaving::~TakeSaving() = default;

bool TakeSaving::open(const std::wstring& path) {
    try {
        utf8Path = ws2s(path);
        chosen_ = path;
        file_.emplace(pathOf(path), CreateMode::Replace, sampleRate_, channels_);
    } catch (const std::exception&) {
        return false;
    }
    if (!file_->opened()) {
        file_.reset();
        return false;
    }
    if (file_->error() != FileError::None) tellTrouble();
    lastUpdate_ = Clock::now();
    return true;
}

void TakeSaving::tellTrouble() {
    if (troubleTold_) return;
    troubleTold_ = true;
    takeFileKeptSeconds = static_cast<double>(file_->samplesKept()) / channels_ / sampleRate_;
    takeFileTrouble = troubleOf(file_->error());
    window_->postMessage(WM_APP_WRITE_FAILED);
}

void TakeSaving::serveRequests(const Take& take) {
    if (!fileRequestPending.exchange(false)) return;
    uint64_t served;
    {
        std::lock_guard<std::mutex> lock(fileRequestMutex);
        served = fileRequestsMade;
    }
    if (!file_->update(take)) return tellTrouble();  // the caller learns of it by its time running out
    {
        std::lock_guard<std::mutex> lock(fileRequestMutex);
        fileRequestsServed = served;
    }
    fileRequestCv.notify_all();
}

void TakeSaving::keepUpToDate(const Take& take, Clock::time_point now) {
    serveRequests(take);
    if (now - lastUpdate_ < FILE_UPDATE_INTERVAL) return;
    lastUpdate_ = now;
    if (!file_->update(take)) tellTrouble();
}

// Writes the whole take to a file of its own; a file this attempt made and
// could not fill goes again.
bool TakeSaving::saveTo(const std::filesystem::path& place, CreateMode mode, const Take& take) {
    TakeFile copy(place, mode, sampleRate_, channels_);
    lastError_ = copy.error();
    if (!copy.opened()) return false;
    if (copy.finish(take)) return true;
    lastError_ = copy.error();
    copy.remove();
    return false;
}

TakeOutcome TakeSaving::finish(const Take& take, TakeOutcome captured) {
    if (file_->finish(take)) {
        takeWrittenTo = chosen_;
        return captured;
    }
    tellTrouble();
    while (true) {
        lastTakeOutcome = TakeOutcome::WriteFailed;
        window_->postMessage(WM_APP_SAVE_FAILED);
        const SaveAnswer answer = waitForSaveAnswer();
        if (answer.places.empty() && !answer.final) {
            file_->remove();
            return TakeOutcome::Discarded;
        }
        for (const std::wstring& place : answer.places) {
            std::filesystem::path path;
            try {
                path = pathOf(place);
            } catch (const std::range_error&) {
                continue;
            }
            bool saved = false;
            std::wstring savedAs = place;
            if (answer.final) {
                // A recovered take never replaces a file, not even an earlier recovered take.
                for (int n = 1; n <= RECOVERY_NAMES && !saved; ++n) {
                    savedAs = recoveredName(place, n);
                    saved = saveTo(pathOf(savedAs), CreateMode::CreateNew, take);
                    if (!saved && lastError_ != FileError::Exists) break;
                }
            } else if (file_->namedBy(path)) {
                // The user made room and chose the take's own file again.
                if (file_->retry(take)) {
                    takeWrittenTo = place;
                    return captured;
                }
                continue;
            } else {
                saved = saveTo(path, CreateMode::Replace, take);
            }
            if (saved) {
                // The whole take is safe elsewhere: the part left in the chosen file goes.
                file_->remove();
                takeWrittenTo = savedAs;
                return captured;
            }
        }
        if (answer.final) return TakeOutcome::Unsaved;
    }
}

bool bringTakeFileUpToDate(std::chrono::milliseconds longest) {
    std::unique_lock<std::mutex> lock(fileRequestMutex);
    const uint64_t ticket = ++fileRequestsMade;
    fileRequestPending = true;
    return fileRequestCv.wait_for(lock, longest, [ticket] { return fileRequestsServed >= ticket; });
}
