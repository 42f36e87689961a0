#include "recording/recording_thread.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

#include "app/messages.h"
#include "app/shared_state.h"
#include "app/thread_start.h"
#include "app/window_port.h"
#include "recording/live_feed.h"
#include "recording/sample_conversion.h"
#include "recording/take.h"
#include "recording/wav_writer.h"
#include "spectrum/spectrum_worker.h"

namespace {

constexpr int64_t BUFFER_DURATION_100NS = 10000000;  // 1 s absorbs late polls
// The longest the thread waits for the source between passes: how late it may
// notice Stop, and how late the last views of a pause are announced.
constexpr std::chrono::milliseconds PACKET_WAIT_LIMIT{50};
// How long the device may deliver nothing before the status line says so.
constexpr std::chrono::seconds STALL_NOTICE{2};
// The level and the waveform are repainted at most this often, however many
// packets arrive: 30 times a second is as smooth as a meter needs to be, and
// half the drawing of a screen's full rate.
constexpr std::chrono::milliseconds VISUALS_INTERVAL{33};

std::once_flag lastFftInitialised;

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

std::unique_ptr<std::ostream> openFile(const std::filesystem::path& path) {
    auto file = std::make_unique<std::ofstream>(path, std::ios::binary | std::ios::trunc);
    if (!file->is_open()) return nullptr;
    return file;
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

// Blocks until the window answers WM_APP_SAVE_FAILED: another path, or empty to discard.
std::wstring waitForSaveAnswer() {
    std::unique_lock<std::mutex> lock(saveAnswerMutex);
    saveAnswerCv.wait(lock, [] { return saveAnswer.has_value(); });
    std::wstring answer = std::move(*saveAnswer);
    saveAnswer.reset();
    return answer;
}

// What the setup obtained, so that the release steps give back exactly that.
struct Obtained {
    bool enumerator = false;
    bool device = false;
    bool audioClient = false;
    bool captureClient = false;
    WaveFormat* mixFormat = nullptr;
};

bool setUpDevice(CaptureSource& source, Obtained& got, int& channels) {
    if (failed(source.createEnumerator())) return false;
    got.enumerator = true;
    if (failed(source.getDefaultCaptureEndpoint())) return false;
    got.device = true;
    if (failed(source.activateAudioClient())) return false;
    got.audioClient = true;
    WaveFormat* format = nullptr;
    if (failed(source.getMixFormat(&format)) || format == nullptr) return false;
    got.mixFormat = format;
    // The mix format as it is: shared mode always accepts it, while an edited
    // copy (say, a 6-channel mix cut to 2) is refused by the engine. A wider
    // mix keeps its first two channels when packets are converted.
    channels = takeChannels(format);
    if (failed(source.initialize(format, BUFFER_DURATION_100NS))) return false;
    if (failed(source.getCaptureService())) return false;
    got.captureClient = true;
    return !failed(source.start());
}

void release(CaptureSource& source, Obtained& got) {
    if (got.mixFormat) source.freeMixFormat(got.mixFormat);
    if (got.captureClient) source.releaseCaptureClient();
    if (got.audioClient) source.releaseAudioClient();
    if (got.device) source.releaseDevice();
    if (got.enumerator) source.releaseEnumerator();
}

// Drains the source's packets until isRecording falls, the source fails, or the take
// cannot grow any further. Returns how capture ended.
TakeOutcome capture(CaptureSource& source, const WaveFormat* format, int channels, WindowPort* window,
                    Take& take, uint64_t maxTakeSamples) {
    std::vector<int16_t> packetSamples;
    bool firstPacket = true;
    auto lastDelivery = std::chrono::steady_clock::now();
    // New data for the views not yet announced; announced on a later poll if
    // need be, so the last packet before a pause is always shown.
    bool visualsPending = false;
    auto lastVisuals = lastDelivery - VISUALS_INTERVAL;
    const auto announceVisuals = [&](std::chrono::steady_clock::time_point now) {
        if (!visualsPending || now - lastVisuals < VISUALS_INTERVAL) return;
        window->postMessage(WM_APP_UPDATE_VISUALS);
        visualsPending = false;
        lastVisuals = now;
    };
    // Every way out of capture shows what was captured last.
    struct FinalVisuals {
        const bool& pending;
        WindowPort* window;
        ~FinalVisuals() {
            if (pending) window->postMessage(WM_APP_UPDATE_VISUALS);
        }
    } finalVisuals{visualsPending, window};

    while (isRecording) {
        uint32_t packetLength = 0;
        if (failed(source.getNextPacketSize(&packetLength))) return TakeOutcome::DeviceLost;
        const auto now = std::chrono::steady_clock::now();
        announceVisuals(now);
        if (packetLength != 0) {
            lastDelivery = now;
            if (deviceSilentSeconds.exchange(0) != 0) window->postMessage(WM_APP_RECORDING_STARTED);
        } else if (now - lastDelivery >= STALL_NOTICE) {
            const auto silent = static_cast<uint32_t>(
                std::chrono::duration_cast<std::chrono::seconds>(now - lastDelivery).count());
            if (deviceSilentSeconds.exchange(silent) != silent) window->postMessage(WM_APP_RECORDING_STALLED);
        }
        while (packetLength != 0 && isRecording) {
            const uint8_t* data = nullptr;
            uint32_t frames = 0;
            uint32_t flags = 0;
            if (failed(source.getBuffer(&data, &frames, &flags))) break;
            // Some drivers flag the very first packet of a stream; that is no loss.
            if ((flags & BUFFER_FLAG_DATA_DISCONTINUITY) != 0 && !firstPacket) ++inputGaps;
            firstPacket = false;

            TakeOutcome ending = TakeOutcome::Saved;
            bool endNow = false;
            uint32_t keptFrames = frames;
            const uint64_t room = maxTakeSamples - take.size();
            if (static_cast<uint64_t>(frames) * channels > room) {
                // Whole frames only, so the file never ends mid-frame.
                keptFrames = static_cast<uint32_t>(room / channels);
                ending = TakeOutcome::SizeLimit;
                endNow = true;
            }

            bool accepted = false;
            try {
                const bool silent = (flags & BUFFER_FLAG_SILENT) != 0;
                accepted = convertPacket(format, data, keptFrames, silent, packetSamples, take);
                if (accepted) feedLiveAnalysis(packetSamples, channels, std::chrono::steady_clock::now());
            } catch (const std::bad_alloc&) {
                ending = TakeOutcome::OutOfMemory;
                endNow = true;
            }
            if (accepted) visualsPending = true;
            // A refused packet is handed back too, so the source can go on.
            source.releaseBuffer(frames);
            if (endNow) return ending;
            if (!accepted) break;
            source.getNextPacketSize(&packetLength);
        }
        source.waitForPacket(PACKET_WAIT_LIMIT);
    }
    return TakeOutcome::Saved;
}

bool writeTake(std::ostream& file, uint32_t sampleRate, int channels, const Take& take) {
    const uint64_t dataSize = take.size() * sizeof(int16_t);
    writeWavHeader(file, static_cast<int32_t>(sampleRate), 16, channels, dataSize);
    take.forEachBlock([&file](const int16_t* samples, size_t count) {
        file.write(reinterpret_cast<const char*>(samples),
                   static_cast<std::streamsize>(count * sizeof(int16_t)));
    });
    // Flushing and closing is where a full disk shows up at the latest.
    file.flush();
    if (auto* onDisk = dynamic_cast<std::ofstream*>(&file)) onDisk->close();
    return !file.fail();
}

// Writes the take to the file that is open, then, as long as that fails,
// to whatever path the window answers with, until it is written or the user
// lets it go. Returns how the take ended.
TakeOutcome saveTake(std::unique_ptr<std::ostream> file, uint32_t sampleRate, int channels, const Take& take,
                     TakeOutcome captured, WindowPort* window) {
    while (true) {
        if (file && writeTake(*file, sampleRate, channels, take)) return captured;
        file.reset();
        removeFailedOutput();
        lastTakeOutcome = TakeOutcome::WriteFailed;
        window->postMessage(WM_APP_SAVE_FAILED);
        const std::wstring next = waitForSaveAnswer();
        if (next.empty()) return TakeOutcome::Discarded;
        file = openOutput(next);
    }
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

void recordTake(const std::wstring& path, WindowPort* window, CaptureSource& source, uint64_t maxTakeSamples,
                Take& take) {
    recordingThreadActive = true;
    source.initializeThread();

    Obtained got;
    int channels = 1;
    std::unique_ptr<std::ostream> file;
    inputGaps = 0;
    deviceSilentSeconds = 0;

    if (!setUpDevice(source, got, channels)) {
        lastTakeOutcome = TakeOutcome::DeviceFailed;
        window->postMessage(WM_APP_RECORDING_FAILED);
    } else {
        const uint32_t sampleRate = got.mixFormat->nSamplesPerSec;
        globalSampleRate = static_cast<int32_t>(sampleRate);
        bool workerStarted = true;
        try {
            startSpectrumWorker();
        } catch (const std::system_error&) {
            workerStarted = false;
        }

        if (!workerStarted) {
            lastTakeOutcome = TakeOutcome::ThreadFailed;
            window->showErrorBox(THREAD_REFUSED_TEXT, L"Error");
            window->postMessage(WM_APP_RECORDING_FAILED);
        } else if (!(file = openOutput(path))) {
            lastTakeOutcome = TakeOutcome::OpenFailed;
            // The box comes first: the window thread answers the end-of-take
            // message by joining this thread, and would sit frozen behind a
            // box that blocks it.
            window->showErrorBox(L"Cannot open file for writing", L"Error");
            window->postMessage(WM_APP_RECORDING_DONE);
        } else {
            window->postMessage(WM_APP_RECORDING_STARTED);
            std::call_once(lastFftInitialised, [] { lastFFT = std::chrono::steady_clock::now(); });

            const TakeOutcome captured =
                capture(source, got.mixFormat, channels, window, take, maxTakeSamples);
            source.stop();
            const TakeOutcome outcome =
                saveTake(std::move(file), sampleRate, channels, take, captured, window);
            if (outcome == TakeOutcome::Discarded) take.clear();
            lastTakeOutcome = outcome;
            window->postMessage(WM_APP_RECORDING_DONE);
        }
    }

    stopSpectrumWorker();
    release(source, got);
    source.uninitializeThread();
    recordingThreadActive = false;
}

std::unique_ptr<std::ostream> (*openTakeFile)(const std::filesystem::path& path) = openFile;

void recordAudioToWav(std::wstring path, WindowPort* window, std::unique_ptr<CaptureSource> source) {
    Take take;
    recordTake(path, window, *source, MAX_TAKE_SAMPLES, take);
}
