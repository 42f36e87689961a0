#include "recording/recording_thread.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "base/messages.h"
#include "base/shared_state.h"
#include "base/thread_start.h"
#include "base/window_port.h"
#include "recording/live_feed.h"
#include "recording/sample_conversion.h"
#include "recording/take_file.h"
#include "spectrum/spectrum_worker.h"

namespace {

using Clock = std::chrono::steady_clock;

// The longest the thread waits for the source between passes: how late it may
// notice Stop, and how late the last views of a pause are announced.
constexpr std::chrono::milliseconds PACKET_WAIT_LIMIT{50};
// How long the device may deliver nothing before the status line says so.
constexpr std::chrono::seconds STALL_NOTICE{2};
// The level and the waveform are repainted at most this often, however many
// packets arrive: 30 times a second is as smooth as a meter needs to be, and
// half the drawing of a screen's full rate.
constexpr std::chrono::milliseconds VISUALS_INTERVAL{33};
// How much of a take a crash may cost: the file is brought up to date this often.
constexpr std::chrono::seconds FILE_UPDATE_INTERVAL{1};
// A lost device is opened again this often, for this long, before the take ends.
constexpr std::chrono::milliseconds REOPEN_INTERVAL{500};
constexpr std::chrono::seconds REOPEN_LIMIT{10};
// The longest one attempt to open the device may take: at Start, where a
// slow server only delays the take, and while a take waits for its device,
// where Stop and every ending must be answered within about a second.
constexpr std::chrono::seconds FIRST_OPEN_LIMIT{5};
constexpr std::chrono::seconds REOPEN_ATTEMPT_LIMIT{1};

std::once_flag lastFftInitialised;

// Requests from other threads to bring the file up to date: numbered, so a
// caller knows when the recording thread has served its own.
std::mutex fileRequestMutex;
std::condition_variable fileRequestCv;
uint64_t fileRequestsMade = 0;    // guarded by fileRequestMutex
uint64_t fileRequestsServed = 0;  // guarded by fileRequestMutex
std::atomic<bool> fileRequestPending{false};

void appendUtf8(std::string& out, uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// The take's file as a path object. A UTF-8 path object is converted to the
// platform's own file-name encoding, so non-ASCII names work on Windows as well.
std::filesystem::path outputPath() {
    return std::filesystem::path(std::u8string(utf8Path.begin(), utf8Path.end()));
}

// Opens the take's file, truncating it. Null when the name cannot be
// encoded or the file cannot be created.
std::unique_ptr<std::ostream> openOutput(const std::wstring& path) {
    try {
        utf8Path = ws2s(path);
        return openTakeFile(outputPath());
    } catch (const std::exception&) {
        return nullptr;
    }
}

// A file that failed to take the whole take would lie about its length in
// its header: it goes. Only regular files, never a device standing in for one.
void removeFailedOutput() {
    std::error_code ignored;
    const std::filesystem::path path = outputPath();
    if (std::filesystem::is_regular_file(path, ignored)) std::filesystem::remove(path, ignored);
}

// Blocks until the window answers WM_APP_SAVE_FAILED: the places to try, or none to discard.
std::vector<std::wstring> waitForSaveAnswer() {
    std::unique_lock<std::mutex> lock(saveAnswerMutex);
    saveAnswerCv.wait(lock, [] { return saveAnswer.has_value(); });
    std::vector<std::wstring> answer = std::move(*saveAnswer);
    saveAnswer.reset();
    return answer;
}

TakeOutcome refusalOutcome(OpenResult result) {
    switch (result) {
    case OpenResult::NoDevice:
        return TakeOutcome::NoDevice;
    case OpenResult::AccessDenied:
        return TakeOutcome::AccessDenied;
    case OpenResult::DeviceInUse:
        return TakeOutcome::DeviceInUse;
    case OpenResult::UnsupportedFormat:
        return TakeOutcome::FormatUnsupported;
    case OpenResult::Opened:
    case OpenResult::Failed:
        break;
    }
    return TakeOutcome::DeviceFailed;
}

// Makes a source and opens it. Null, with why, when that fails; a stream
// format without channels or rate is one nothing can be made of.
std::unique_ptr<CaptureSource> openSource(const CaptureSourceFactory& makeSource, StreamFormat& format,
                                          CaptureDevice& device, OpenResult& result, Clock::duration longest) {
    std::unique_ptr<CaptureSource> source = makeSource ? makeSource() : nullptr;
    result = source ? source->open(format, device, {Clock::now() + longest, isRecording}) : OpenResult::Failed;
    if (result == OpenResult::Opened && (format.channels == 0 || format.sampleRate == 0))
        result = OpenResult::UnsupportedFormat;
    if (result != OpenResult::Opened) source.reset();
    return source;
}

// One take while it captures. Recording thread only.
struct Session {
    WindowPort* window;
    const CaptureSourceFactory& makeSource;
    std::unique_ptr<CaptureSource> source;  // null while the device is being opened again
    StreamFormat stream;                    // of the source now open
    uint32_t sampleRate;                    // the take's: the first stream's
    int channels;                           // the take's: 1 or 2
    Take& take;
    uint64_t maxTakeSamples;
    std::optional<TakeFile> file;  // gone once a write failed: the take then lives in memory only
    std::vector<int16_t> packetSamples;
};

// Brings the file up to date. A failed write does not stop the take: it goes
// on in memory, the status says so at once, and the half-written file goes.
void updateFile(Session& s) {
    if (!s.file || s.file->update(s.take)) return;
    s.file.reset();
    removeFailedOutput();
    takeFileFailed = true;
    s.window->postMessage(WM_APP_WRITE_FAILED);
}

void serveFileRequests(Session& s) {
    if (!fileRequestPending.exchange(false)) return;
    uint64_t served;
    {
        std::lock_guard<std::mutex> lock(fileRequestMutex);
        served = fileRequestsMade;
    }
    updateFile(s);
    if (!s.file) return;  // the caller learns of the failure by its time running out
    {
        std::lock_guard<std::mutex> lock(fileRequestMutex);
        fileRequestsServed = served;
    }
    fileRequestCv.notify_all();
}

// Appends samples to the take and the live views; an outcome when the take
// cannot grow any further.
std::optional<TakeOutcome> appendSamples(Session& s, const StreamFormat& format, const uint8_t* data,
                                         uint32_t frames, bool silent) {
    std::optional<TakeOutcome> ending;
    const uint64_t room = s.maxTakeSamples - s.take.size();
    if (static_cast<uint64_t>(frames) * s.channels > room) {
        // Whole frames only, so the file never ends mid-frame.
        frames = static_cast<uint32_t>(room / s.channels);
        ending = TakeOutcome::SizeLimit;
    }
    try {
        convertPacket(format, s.channels, data, frames, silent, s.packetSamples, s.take);
        feedLiveAnalysis(s.packetSamples, s.channels, Clock::now());
    } catch (const std::bad_alloc&) {
        ending = TakeOutcome::OutOfMemory;
    }
    return ending;
}

// The time without a device, as silence: the take keeps its wall-clock length.
std::optional<TakeOutcome> appendSilence(Session& s, Clock::duration missing) {
    const StreamFormat silence{s.sampleRate, static_cast<uint16_t>(s.channels), SampleType::Int16};
    uint64_t frames =
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(missing).count()) *
        s.sampleRate / 1000000;
    while (frames != 0) {
        const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(frames, s.sampleRate / 10 + 1));
        if (auto ending = appendSamples(s, silence, nullptr, chunk, true)) return ending;
        frames -= chunk;
    }
    return std::nullopt;
}

// The device went away: everything of it is given back, and it is opened
// again every half second until it comes back, Stop is pressed or 10 s pass.
// Nothing when the take goes on; else how it ended.
std::optional<TakeOutcome> reopen(Session& s) {
    s.source.reset();
    s.window->postMessage(WM_APP_RECONNECTING);
    const Clock::time_point lostAt = Clock::now();
    for (Clock::time_point attempt = lostAt; attempt - lostAt <= REOPEN_LIMIT; attempt += REOPEN_INTERVAL) {
        for (Clock::time_point now = Clock::now(); isRecording && now < attempt; now = Clock::now()) {
            serveFileRequests(s);
            std::this_thread::sleep_for(std::min<Clock::duration>(attempt - now, PACKET_WAIT_LIMIT));
        }
        if (!isRecording) return TakeOutcome::Saved;
        StreamFormat stream;
        CaptureDevice device;
        OpenResult result;
        std::unique_ptr<CaptureSource> source = openSource(s.makeSource, stream, device, result, REOPEN_ATTEMPT_LIMIT);
        if (!source) continue;
        if (stream.sampleRate != s.sampleRate) return TakeOutcome::RateChanged;
        if (auto ending = appendSilence(s, Clock::now() - lostAt)) return ending;
        ++inputGaps;
        s.source = std::move(source);
        s.stream = stream;
        s.window->postMessage(WM_APP_RECORDING_STARTED);
        return std::nullopt;
    }
    return TakeOutcome::DeviceLost;
}

// Takes the source's packets until isRecording falls or the take cannot go
// on. Returns how capture ended.
TakeOutcome capture(Session& s) {
    bool firstPacket = true;
    Clock::time_point lastDelivery = Clock::now();
    Clock::time_point lastFileUpdate = lastDelivery;
    // New data for the views not yet announced; announced on a later pass if
    // need be, so the last packet before a pause is always shown.
    bool visualsPending = false;
    Clock::time_point lastVisuals = lastDelivery - VISUALS_INTERVAL;
    // Every way out of capture shows what was captured last.
    struct FinalVisuals {
        const bool& pending;
        WindowPort* window;
        ~FinalVisuals() {
            if (pending) window->postMessage(WM_APP_UPDATE_VISUALS);
        }
    } finalVisuals{visualsPending, s.window};

    while (isRecording) {
        const Clock::time_point now = Clock::now();
        if (now - lastFileUpdate >= FILE_UPDATE_INTERVAL) {
            updateFile(s);
            lastFileUpdate = now;
        }
        serveFileRequests(s);

        CapturePacket packet;
        const PacketResult result = s.source->takePacket(packet);
        if (result == PacketResult::Lost) {
            if (auto ending = reopen(s)) return *ending;
            // Some drivers flag the first packet of a stream; the loss is counted already.
            firstPacket = true;
            lastDelivery = Clock::now();
            continue;
        }
        if (result == PacketResult::NoneWaiting) {
            if (visualsPending && now - lastVisuals >= VISUALS_INTERVAL) {
                s.window->postMessage(WM_APP_UPDATE_VISUALS);
                visualsPending = false;
                lastVisuals = now;
            }
            if (now - lastDelivery >= STALL_NOTICE) {
                const auto silent = static_cast<uint32_t>(
                    std::chrono::duration_cast<std::chrono::seconds>(now - lastDelivery).count());
                if (deviceSilentSeconds.exchange(silent) != silent)
                    s.window->postMessage(WM_APP_RECORDING_STALLED);
            }
            s.source->waitForPacket(PACKET_WAIT_LIMIT);
            continue;
        }

        if (packet.frames != 0) {
            lastDelivery = now;
            if (deviceSilentSeconds.exchange(0) != 0) s.window->postMessage(WM_APP_RECORDING_STARTED);
        }
        // Some drivers flag the very first packet of a stream; that is no loss.
        if (packet.gap && !firstPacket) ++inputGaps;
        firstPacket = false;
        const std::optional<TakeOutcome> ending =
            appendSamples(s, s.stream, packet.data, packet.frames, packet.silent);
        visualsPending = true;
        s.source->releasePacket();
        if (ending) return *ending;
    }
    return TakeOutcome::Saved;
}

// Writes the take, from memory, to the places the window answers with until
// one of them takes it or the user lets it go. Returns how the take ended.
TakeOutcome saveElsewhere(const Session& s, TakeOutcome captured) {
    while (true) {
        lastTakeOutcome = TakeOutcome::WriteFailed;
        s.window->postMessage(WM_APP_SAVE_FAILED);
        const std::vector<std::wstring> places = waitForSaveAnswer();
        if (places.empty()) return TakeOutcome::Discarded;
        for (const std::wstring& place : places) {
            if (place.empty()) return TakeOutcome::Discarded;  // nobody is left to ask
            if (TakeFile(openOutput(place), s.sampleRate, s.channels).finish(s.take)) {
                takeWrittenTo = place;
                return captured;
            }
            removeFailedOutput();  // closed first: Windows keeps an open file
        }
    }
}

// From a running stream to the finished file; the take's end is posted.
void recordOpenedTake(Session& s, const std::wstring& path) {
    bool workerStarted = true;
    try {
        startSpectrumWorker();
    } catch (const std::system_error&) {
        workerStarted = false;
    }
    std::unique_ptr<std::ostream> output = workerStarted ? openOutput(path) : nullptr;
    if (!workerStarted) {
        lastTakeOutcome = TakeOutcome::ThreadFailed;
        s.window->showErrorBox(THREAD_REFUSED_TEXT, L"Error");
        s.window->postMessage(WM_APP_RECORDING_FAILED);
        return;
    }
    if (!output) {
        lastTakeOutcome = TakeOutcome::OpenFailed;
        // The box comes first: the window thread answers the end-of-take
        // message by joining this thread, and would sit frozen behind a
        // box that blocks it.
        s.window->showErrorBox(L"Cannot open file for writing", L"Error");
        s.window->postMessage(WM_APP_RECORDING_DONE);
        return;
    }
    s.file.emplace(std::move(output), s.sampleRate, s.channels);
    if (s.file->failed()) {
        s.file.reset();
        removeFailedOutput();
        takeFileFailed = true;
    }
    s.window->postMessage(WM_APP_RECORDING_STARTED);
    std::call_once(lastFftInitialised, [] { lastFFT = Clock::now(); });
    restartLevelReading();

    const TakeOutcome captured = capture(s);
    // The device goes first: writing what is left takes milliseconds, but
    // the source need not wait for it.
    if (s.source) s.source->stop();
    s.source.reset();
    TakeOutcome outcome = captured;
    if (s.file && s.file->finish(s.take)) {
        takeWrittenTo = path;
    } else {
        const bool opened = s.file.has_value();
        s.file.reset();
        if (opened) removeFailedOutput();  // closed first: Windows keeps an open file
        outcome = saveElsewhere(s, captured);
    }
    if (outcome == TakeOutcome::Discarded) s.take.clear();
    lastTakeOutcome = outcome;
    s.window->postMessage(WM_APP_RECORDING_DONE);
}

}  // namespace

std::string ws2s(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
                const uint32_t low = static_cast<uint32_t>(text[i + 1]);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            throw std::range_error("ws2s: character cannot be encoded as UTF-8");
        appendUtf8(out, c);
    }
    return out;
}

void recordTake(const std::wstring& path, WindowPort* window, const CaptureSourceFactory& makeSource,
                uint64_t maxTakeSamples, Take& take) {
    inputGaps = 0;
    deviceSilentSeconds = 0;
    takeFileFailed = false;
    takeWrittenTo.clear();

    Session s{window, makeSource, nullptr, {}, 0, 1, take, maxTakeSamples, std::nullopt, {}};
    OpenResult result;
    CaptureDevice device;
    s.source = openSource(makeSource, s.stream, device, result, FIRST_OPEN_LIMIT);
    if (!s.source) {
        lastTakeOutcome = refusalOutcome(result);
        window->postMessage(WM_APP_RECORDING_FAILED);
    } else {
        s.sampleRate = s.stream.sampleRate;
        s.channels = takeChannels(s.stream);
        globalSampleRate = static_cast<int32_t>(s.sampleRate);
        recordOpenedTake(s, path);
    }

    stopSpectrumWorker();
    s.source.reset();
    recordingThreadActive = false;
}

void recordAudioToWav(std::wstring path, WindowPort* window, CaptureSourceFactory makeSource) {
    Take take;
    recordTake(path, window, makeSource, MAX_TAKE_SAMPLES, take);
}

bool bringTakeFileUpToDate(std::chrono::milliseconds longest) {
    std::unique_lock<std::mutex> lock(fileRequestMutex);
    const uint64_t ticket = ++fileRequestsMade;
    fileRequestPending = true;
    return fileRequestCv.wait_for(lock, longest, [ticket] { return fileRequestsServed >= ticket; });
}
