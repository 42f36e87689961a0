#include "recording/recording_thread.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "base/shared_state.h"
#include "base/thread_start.h"
#include "base/window_port.h"
#include "recording/live_feed.h"
#include "recording/sample_conversion.h"
#include "recording/take_saving.h"
#include "recording/view_announcer.h"
#include "spectrum/spectrum_relay.h"
#include "spectrum/spectrum_worker.h"

namespace {

using Clock = std::chrono::steady_clock;

// The longest the thread waits for the source between passes: how late it may
// notice Stop, and how late the last views of a pause are announced.
constexpr std::chrono::milliseconds PACKET_WAIT_LIMIT{50};
// How long the device may deliver nothing before the status line says so.
constexpr std::chrono::seconds STALL_NOTICE{2};
// A lost device is opened again this often, until this long after the loss.
constexpr std::chrono::milliseconds REOPEN_INTERVAL{500};
constexpr std::chrono::seconds REOPEN_LIMIT{10};
// The longest one attempt to open the device may take: at Start, where a
// slow server only delays the take, and while a take waits for its device,
// where Stop and every ending must be answered within about a second.
constexpr std::chrono::seconds FIRST_OPEN_LIMIT{5};
constexpr std::chrono::seconds REOPEN_ATTEMPT_LIMIT{1};
// Silence (a hole the server skipped, the time without a device) reaches the
// take and the views a tenth of a second at a time, so that no allocation
// follows its length; a hole longer than HOLE_GAP is input lost.
constexpr uint32_t SILENCE_PIECES_PER_SECOND = 10;
constexpr std::chrono::milliseconds HOLE_GAP{200};

std::once_flag lastFftInitialised;

// Stop's way to the recording thread wherever it waits: the source it waits
// on, or the condition of its waits between sources. The source is set before
// it is waited on and cleared before it is destroyed, so that no wake reaches
// a source that is gone.
std::mutex wakeMutex;
std::condition_variable wakeCv;
CaptureSource* wakeableSource = nullptr;

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

// Makes a source and opens it within `longest`. Null, with why, when that
// fails; a stream format without channels or rate is one nothing can be made of.
std::unique_ptr<CaptureSource> openSource(const CaptureSourceFactory& makeSource, StreamFormat& format,
                                          CaptureDevice& device, OpenResult& result,
                                          Clock::duration longest) {
    std::unique_ptr<CaptureSource> source = makeSource ? makeSource() : nullptr;
    result =
        source ? source->open(format, device, {Clock::now() + longest, isRecording}) : OpenResult::Failed;
    if (result == OpenResult::Opened && (format.channels == 0 || format.sampleRate == 0))
        result = OpenResult::UnsupportedFormat;
    if (result != OpenResult::Opened) source.reset();
    return source;
}

// The source that Stop wakes from now on; null for none.
void setWakeableSource(CaptureSource* source) {
    std::lock_guard<std::mutex> lock(wakeMutex);
    wakeableSource = source;
}

// Sleeps until `until`, or less once the take is stopped.
void sleepUntilStopped(Clock::time_point until) {
    std::unique_lock<std::mutex> lock(wakeMutex);
    wakeCv.wait_until(lock, until, [] { return !isRecording; });
}

// One take while it captures. Recording thread only.
struct Session {
    WindowPort* window;
    const CaptureSourceFactory& makeSource;
    std::unique_ptr<CaptureSource> source;  // null while the device is being opened again
    StreamFormat stream;                    // of the source now open
    CaptureDevice device;                   // the take began on it
    uint32_t sampleRate;                    // the take's: the first stream's
    int channels;                           // the take's: 1 or 2
    Take& take;
    uint64_t maxTakeSamples;
    std::optional<TakeSaving> saving;
    std::vector<int16_t> packetSamples;
    // The device came back after an outage: the outage's silence goes in
    // before the new stream's first sample, so the take keeps wall-clock time
    // however late that sample comes.
    std::optional<Clock::time_point> outageSince;
};

// The session's source becomes `source` (null: none), reachable by Stop;
// the one before is destroyed.
void replaceSource(Session& s, std::unique_ptr<CaptureSource> source) {
    setWakeableSource(nullptr);
    s.source = std::move(source);
    setWakeableSource(s.source.get());
}

// Appends samples to the take and the live views; an outcome when the take
// cannot grow any further.
std::optional<TakeOutcome> appendSamples(Session& s, const StreamFormat& format, const uint8_t* data,
                                         uint32_t frames, bool silent) {
    std::optional<TakeOutcome> ending;
    const uint64_t room = (s.maxTakeSamples - s.take.size()) / s.channels;
    if (frames > room) {
        // Whole frames only, so the file never ends mid-frame.
        frames = static_cast<uint32_t>(room);
        ending = TakeOutcome::SizeLimit;
    }
    const uint32_t piece = silent ? std::max<uint32_t>(s.sampleRate / SILENCE_PIECES_PER_SECOND, 1)
                                  : std::max<uint32_t>(frames, 1);
    const size_t frameBytes = size_t{format.channels} * bytesPerSample(format.sampleType);
    try {
        uint32_t done = 0;
        do {
            const uint32_t count = std::min(frames - done, piece);
            convertPacket(format, s.channels, silent ? nullptr : data + done * frameBytes, count, silent,
                          s.packetSamples, s.take);
            feedLiveAnalysis(s.packetSamples, s.channels, Clock::now());
            done += count;
        } while (done < frames);
    } catch (const std::bad_alloc&) {
        ending = TakeOutcome::OutOfMemory;
    }
    return ending;
}

// `missing` of silence in the take's own format.
std::optional<TakeOutcome> appendSilence(Session& s, Clock::duration missing) {
    const StreamFormat silence{s.sampleRate, static_cast<uint16_t>(s.channels), SampleType::Int16};
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(missing).count();
    const uint64_t frames = micros > 0 ? static_cast<uint64_t>(micros) * s.sampleRate / 1000000 : 0;
    for (uint64_t left = frames; left != 0;) {
        const auto chunk = static_cast<uint32_t>(std::min<uint64_t>(left, s.sampleRate));
        if (auto ending = appendSamples(s, silence, nullptr, chunk, true)) return ending;
        left -= chunk;
    }
    return std::nullopt;
}

// While the device is away the views show the silence as it passes; the take
// gets it when the device is back.
void showSilence(Session& s, Clock::duration passed) {
    const auto frames = static_cast<size_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(passed).count() * s.sampleRate / 1000);
    s.packetSamples.assign(std::min<size_t>(frames, s.sampleRate / SILENCE_PIECES_PER_SECOND) * s.channels,
                           0);
    feedLiveAnalysis(s.packetSamples, s.channels, Clock::now());
    if (takeNewSpectrum()) s.window->postMessage(WM_APP_UPDATE_SPECTRUM);
    s.window->postMessage(WM_APP_UPDATE_VISUALS);
}

// The device went away: everything of it is given back, and the default
// device is opened again every half second until one comes back, Stop is
// pressed or 10 s have passed since the loss. A take that began on an input
// never goes on from the monitor of an output. The take's silence runs
// from `inputEnded`. Nothing when the take goes on; else how it ended.
std::optional<TakeOutcome> reopen(Session& s, Clock::time_point inputEnded) {
    replaceSource(s, nullptr);
    s.window->postMessage(WM_APP_RECONNECTING);
    const Clock::time_point lostAt = Clock::now();
    Clock::time_point shown = lostAt;
    reconnectRefusal = TakeOutcome::Saved;
    for (Clock::time_point attempt = lostAt;; attempt += REOPEN_INTERVAL) {
        for (Clock::time_point now = Clock::now(); isRecording && now < attempt; now = Clock::now()) {
            s.saving->keepUpToDate(s.take, now);
            sleepUntilStopped(std::min<Clock::time_point>(attempt, now + PACKET_WAIT_LIMIT));
            showSilence(s, Clock::now() - shown);
            shown = Clock::now();
        }
        const Clock::time_point now = Clock::now();
        if (!isRecording || now - lostAt >= REOPEN_LIMIT) return TakeOutcome::DeviceLost;
        StreamFormat stream;
        CaptureDevice device;
        OpenResult result;
        std::unique_ptr<CaptureSource> source =
            openSource(s.makeSource, stream, device, result,
                       std::min<Clock::duration>(REOPEN_ATTEMPT_LIMIT, lostAt + REOPEN_LIMIT - now));
        if (source && device.monitor && !s.device.monitor) {
            // Only the sound of the speakers is left: that is no microphone.
            source.reset();
            result = OpenResult::NoDevice;
        }
        if (!source) {
            if (result != OpenResult::Failed) reconnectRefusal = refusalOutcome(result);
            continue;
        }
        // Stopped while it opened: nothing is recorded after Stop.
        if (!isRecording) return TakeOutcome::DeviceLost;
        if (stream.sampleRate != s.sampleRate) return TakeOutcome::RateChanged;
        ++inputGaps;
        reconnectRefusal = TakeOutcome::Saved;
        {
            std::lock_guard<std::mutex> lock(takeDeviceMutex);
            takeDevices.now = device.name;
        }
        replaceSource(s, std::move(source));
        s.stream = stream;
        s.outageSince = inputEnded;
        s.window->postMessage(WM_APP_RECORDING_STARTED);
        return std::nullopt;
    }
}

// Takes the source's packets until isRecording falls or the take cannot go
// on. Returns how capture ended.
TakeOutcome capture(Session& s) {
    bool firstPacket = true;
    Clock::time_point lastDelivery = Clock::now();
    ViewAnnouncer views(s.window, lastDelivery);

    while (isRecording) {
        const Clock::time_point now = Clock::now();
        s.saving->keepUpToDate(s.take, now);

        CapturePacket packet;
        const PacketResult result = s.source->takePacket(packet);
        if (result == PacketResult::Lost) {
            // The input ended with its last packet: what the device held
            // after it went with the device, however late this thread saw
            // the loss. A stall already told adds no silence, as it adds
            // none when the device comes out of it.
            const Clock::time_point inputEnded = now - lastDelivery < STALL_NOTICE ? lastDelivery : now;
            if (auto ending = reopen(s, inputEnded)) return *ending;
            // Some drivers flag the first packet of a stream; the loss is counted already.
            firstPacket = true;
            lastDelivery = Clock::now();
            continue;
        }
        if (result == PacketResult::NoneWaiting) {
            const Clock::duration viewsDue = views.announce(now, lastDelivery);
            if (now - lastDelivery >= STALL_NOTICE) {
                const auto silent = static_cast<uint32_t>(
                    std::chrono::duration_cast<std::chrono::seconds>(now - lastDelivery).count());
                if (deviceSilentSeconds.exchange(silent) != silent)
                    s.window->postMessage(WM_APP_RECORDING_STALLED);
            }
            s.source->waitForPacket(std::min<std::chrono::milliseconds>(
                PACKET_WAIT_LIMIT, std::chrono::ceil<std::chrono::milliseconds>(viewsDue)));
            views.waited();
            continue;
        }

        std::optional<TakeOutcome> ending;
        if (packet.frames != 0) {
            lastDelivery = now;
            if (deviceSilentSeconds.exchange(0) != 0) s.window->postMessage(WM_APP_RECORDING_STARTED);
            if (s.outageSince) {
                const auto packetLength =
                    std::chrono::microseconds(uint64_t{packet.frames} * 1000000 / s.stream.sampleRate);
                ending = appendSilence(s, now - *std::exchange(s.outageSince, std::nullopt) - packetLength);
            }
        }
        // Some drivers flag the very first packet of a stream; that is no loss.
        // A long hole the server skipped is.
        const bool longHole = packet.silent && uint64_t{packet.frames} * 1000 >
                                                   uint64_t{s.stream.sampleRate} * HOLE_GAP.count();
        if ((packet.gap && !firstPacket) || longHole) ++inputGaps;
        firstPacket = false;
        if (!ending) ending = appendSamples(s, s.stream, packet.data, packet.frames, packet.silent);
        views.packetFed();
        s.source->releasePacket();
        if (ending) return *ending;
    }
    // Stopped after the device came back but before it delivered: the time up to Stop.
    if (s.outageSince) appendSilence(s, Clock::now() - *s.outageSince);
    return TakeOutcome::Saved;
}

// From a running stream to the finished file; the take's end is posted.
void recordOpenedTake(Session& s, const std::wstring& path) {
    bool workerStarted = true;
    try {
        startSpectrumWorker();
    } catch (const std::system_error&) {
        workerStarted = false;
    }
    if (!workerStarted) {
        lastTakeOutcome = TakeOutcome::ThreadFailed;
        s.window->showErrorBox(THREAD_REFUSED_TEXT, L"Error");
        s.window->postMessage(WM_APP_RECORDING_FAILED);
        return;
    }
    s.saving.emplace(s.window, s.sampleRate, s.channels);
    if (!s.saving->open(path)) {
        lastTakeOutcome = TakeOutcome::OpenFailed;
        // The box comes first: the window thread answers the end-of-take
        // message by joining this thread, and would sit frozen behind a
        // box that blocks it.
        s.window->showErrorBox(L"Cannot open file for writing", L"Error");
        s.window->postMessage(WM_APP_RECORDING_DONE);
        return;
    }
    s.window->postMessage(WM_APP_RECORDING_STARTED);
    std::call_once(lastFftInitialised, [] { lastFFT = Clock::now(); });
    restartLiveViews();

    const TakeOutcome captured = capture(s);
    // The device goes first: writing what is left takes milliseconds, but
    // the source need not wait for it.
    if (s.source) s.source->stop();
    replaceSource(s, nullptr);
    const TakeOutcome outcome = s.saving->finish(s.take, captured);
    if (outcome == TakeOutcome::Discarded) s.take.clear();
    lastTakeOutcome = outcome;
    s.window->postMessage(WM_APP_RECORDING_DONE);
}

}  // namespace

void stopRecording() {
    isRecording = false;
    std::lock_guard<std::mutex> lock(wakeMutex);
    if (wakeableSource != nullptr) wakeableSource->wake();
    wakeCv.notify_all();
}

void recordTake(const std::wstring& path, WindowPort* window, const CaptureSourceFactory& makeSource,
                uint64_t maxTakeSamples, Take& take) {
    inputGaps = 0;
    deviceSilentSeconds = 0;
    takeFileTrouble = TakeFileTrouble::None;
    takeFileKeptSeconds = 0.0;
    reconnectRefusal = TakeOutcome::Saved;
    takeWrittenTo.clear();

    Session s{window, makeSource, nullptr,        {},           {}, 0,
              1,      take,       maxTakeSamples, std::nullopt, {}, std::nullopt};
    OpenResult result;
    replaceSource(s, openSource(makeSource, s.stream, s.device, result, FIRST_OPEN_LIMIT));
    {
        std::lock_guard<std::mutex> lock(takeDeviceMutex);
        takeDevices = {s.device.name, s.device.name, s.device.monitor};
    }
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
    s.saving.reset();
    replaceSource(s, nullptr);
    recordingThreadActive = false;
}

void recordAudioToWav(std::wstring path, WindowPort* window, CaptureSourceFactory makeSource) {
    Take take;
    recordTake(path, window, makeSource, MAX_TAKE_SAMPLES, take);
}
