// Implemented features:
//  - a fresh connection to the PULSE_SERVER or default server for each
//    source, never autospawned (PulseAudio, or PipeWire's PulseAudio server)
//  - the server's default source, recorded as 32-bit float at its own rate,
//    mono or stereo: the server mixes a wider source down
//  - the device opened named: the source's name, its description, whether it
//    is the monitor of a sink
//  - a record stream of 5 s maximum length and 40 ms fragments that stays on
//    its source: a source that goes away (or a move) ends it
//  - open() within its deadline, and within 50 ms of the take being stopped;
//    stop() within a short bound, whatever the server does
//  - libpulse's loop run by the recording thread inside waitForPacket: one
//    wake-up per block the source hands over, whatever pieces the server
//    sends it in; no thread of libpulse's own
//  - wake() from any thread through an eventfd the loop watches
//  - holes in the stream as silent packets; input the server threw away as a
//    gap on the next packet
//  - a server or stream gone away: Lost
//  - every libpulse object held by an owner that frees it, the stream before
//    the context before the loop
#include "platform/linux/pulse_capture_source.h"

#include <poll.h>
#include <pulse/pulseaudio.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "platform/linux/input_loss_watch.h"
#include "recording/text_encoding.h"

namespace {

using Clock = std::chrono::steady_clock;

// Large enough that the server wakes us 25 times a second, and that every
// fragment is shown as it comes, well clear of the views' 33 ms repaint
// ceiling; small enough that the level meter follows sound within 50 ms.
// Not 50 ms: PipeWire's PulseAudio server (0.3.65) then runs its graph in
// cycles of 2048 frames rather than 1024, and a new stream's first 2048
// frames now and then came with the right channel silent.
constexpr uint32_t FRAGMENT_MS = 40;
// The source hands over what it captured since its last hand-over, and the
// server sends that block in pieces a few hundred microseconds apart (cut at
// the fragment size, or where the server's memory blocks end). Waking for
// each piece would double the wake-ups, so after a block the thread sleeps
// with the socket unwatched until just after the next block is due (a block
// later by the audio's own clock: as long as the block lasted) and takes all
// its pieces at once. A block that is late ends the rhythm until it comes.
constexpr std::chrono::milliseconds BLOCK_MARGIN{2};
// What the server keeps for us while the recording thread is busy elsewhere
// (a slow disk may hold it for seconds); beyond it the server drops input.
// Latency comes from the fragments, not from this.
constexpr uint32_t MAX_LENGTH_MS = 5000;
// The longest one poll of the loop may last while opening: a stopped take
// must not wait on a server that does not answer.
constexpr std::chrono::milliseconds OPEN_POLL_LIMIT{50};
// What stop() gives the server to confirm the stream's end; the take's file
// is written after it, and the context's end tears the stream down anyway.
constexpr std::chrono::milliseconds STOP_LIMIT{250};

struct MainloopFree {
    void operator()(pa_mainloop* loop) const { pa_mainloop_free(loop); }
};
// Disconnecting ends the streams the context still keeps; the loop must
// outlive the context, whose socket it watches.
struct ContextUnref {
    void operator()(pa_context* context) const {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};
// The eventfd that wake() writes to and the loop watches.
struct WakeFd {
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ~WakeFd() {
        if (fd >= 0) close(fd);
    }
    void raise() const {
        const uint64_t one = 1;
        // A counter too full to add to is raised already.
        if (fd >= 0 && write(fd, &one, sizeof one) < 0) return;
    }
    // True when raised since the last call.
    bool lower() const {
        uint64_t count = 0;
        return fd >= 0 && read(fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
    }
};
struct IoEventFree {
    pa_mainloop_api* api;
    void operator()(pa_io_event* event) const { api->io_free(event); }
};
using IoEvent = std::unique_ptr<pa_io_event, IoEventFree>;
struct StreamUnref {
    void operator()(pa_stream* stream) const { pa_stream_unref(stream); }
};
struct OperationUnref {
    void operator()(pa_operation* operation) const { pa_operation_unref(operation); }
};
using Operation = std::unique_ptr<pa_operation, OperationUnref>;

// The answers of the two queries open() makes; filled by libpulse's callbacks
// while the loop runs.
struct DefaultSource {
    bool serverAnswered = false;
    std::string name;  // empty: the server has no default source
    bool sourceAnswered = false;
    std::optional<pa_sample_spec> sampleSpec;  // none: no source of that name
    std::string description;
    bool monitor = false;
};

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* query = static_cast<DefaultSource*>(userdata);
    if (info != nullptr && info->default_source_name != nullptr) query->name = info->default_source_name;
    query->serverAnswered = true;
}

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* query = static_cast<DefaultSource*>(userdata);
    if (eol == 0 && info != nullptr) {
        query->sampleSpec = info->sample_spec;
        query->description = info->description != nullptr ? info->description : info->name;
        query->monitor = info->monitor_of_sink != PA_INVALID_INDEX;
    } else {
        query->sourceAnswered = true;
    }
}

// The stream was moved to another source despite PA_STREAM_DONT_MOVE (a
// server that ignores the flag): it no longer records the device opened.
void onMoved(pa_stream*, void* userdata) { *static_cast<bool*>(userdata) = true; }

class PulseCaptureSource final : public CaptureSource {
public:
    OpenResult open(StreamFormat& format, CaptureDevice& device, const OpenLimits& limits) override {
        // Every wait below ends by the deadline, or soon after the take is stopped.
        opening_ = &limits;
        const struct Opened {
            const OpenLimits*& limits;
            ~Opened() { limits = nullptr; }
        } opened{opening_};
        const Clock::time_point deadline = limits.deadline;
        loop_.reset(pa_mainloop_new());
        if (!loop_ || wake_.fd < 0) return OpenResult::Failed;
        pa_mainloop_api* const api = pa_mainloop_get_api(loop_.get());
        wakeEvent_ = IoEvent(api->io_new(api, wake_.fd, PA_IO_EVENT_INPUT, onWake, this), IoEventFree{api});
        if (!wakeEvent_) return OpenResult::Failed;
        context_.reset(pa_context_new(pa_mainloop_get_api(loop_.get()), "Quorvel"));
        // A null server name lets libpulse honour PULSE_SERVER and the user's
        // client configuration.
        if (!context_ || pa_context_connect(context_.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return OpenResult::Failed;
        runLoopUntil([this] { return pa_context_get_state(context_.get()) == PA_CONTEXT_READY; }, deadline);
        if (pa_context_get_state(context_.get()) != PA_CONTEXT_READY) return OpenResult::Failed;

        DefaultSource source;
        if (!runQuery(pa_context_get_server_info(context_.get(), onServerInfo, &source),
                      source.serverAnswered, deadline))
            return OpenResult::Failed;
        if (source.name.empty()) return OpenResult::NoDevice;
        if (!runQuery(pa_context_get_source_info_by_name(context_.get(), source.name.c_str(), onSourceInfo,
                                                         &source),
                      source.sourceAnswered, deadline))
            return OpenResult::Failed;
        if (!source.sampleSpec) return OpenResult::NoDevice;

        const pa_sample_spec streamSpec{PA_SAMPLE_FLOAT32LE, source.sampleSpec->rate,
                                        std::min<uint8_t>(source.sampleSpec->channels, 2)};
        pa_channel_map map;
        if (!pa_sample_spec_valid(&streamSpec) ||
            pa_channel_map_init_auto(&map, streamSpec.channels, PA_CHANNEL_MAP_DEFAULT) == nullptr)
            return OpenResult::UnsupportedFormat;
        stream_.reset(pa_stream_new(context_.get(), "Quorvel capture", &streamSpec, &map));
        if (!stream_) return OpenResult::Failed;
        frameBytes_ = pa_frame_size(&streamSpec);
        const auto bytesFor = [&streamSpec, this](uint32_t ms) {
            return static_cast<uint32_t>(std::max<uint64_t>(uint64_t{streamSpec.rate} * ms / 1000, 1) *
                                         frameBytes_);
        };
        pa_buffer_attr buffer;
        buffer.maxlength = bytesFor(MAX_LENGTH_MS);
        buffer.fragsize = bytesFor(FRAGMENT_MS);
        buffer.tlength = buffer.prebuf = buffer.minreq = static_cast<uint32_t>(-1);  // playback only
        // The stream stays on the device the take knows of: when it goes, the
        // server ends the stream rather than moving it to another source
        // (with no microphone left, to the monitor of an output).
        pa_stream_set_moved_callback(stream_.get(), onMoved, &moved_);
        const int connected = pa_stream_connect_record(
            stream_.get(), source.name.c_str(), &buffer,
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE));
        if (connected < 0) return OpenResult::Failed;
        runLoopUntil(
            [this] {
                const pa_stream_state_t state = pa_stream_get_state(stream_.get());
                return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
            },
            deadline);
        if (!streamUsable()) return OpenResult::Failed;

        uint64_t fragmentBytes = buffer.fragsize;
        if (const pa_buffer_attr* granted = pa_stream_get_buffer_attr(stream_.get()))
            fragmentBytes = granted->fragsize;
        rate_ = streamSpec.rate;
        fragmentLength_ = std::chrono::microseconds(fragmentBytes / frameBytes_ * 1000000 / rate_);
        lossWatch_.emplace(Clock::now(), streamSpec.rate);
        format = {streamSpec.rate, streamSpec.channels, SampleType::Float32};
        device = {source.name, s2ws(source.description), source.monitor};
        return OpenResult::Opened;
    }

    // Runs the loop until the server has sent more than is buffered already,
    // wake() is called, the stream fails, or time is up; after a block, it
    // first sleeps until the next block is due (see BLOCK_MARGIN).
    void waitForPacket(std::chrono::milliseconds longest) override {
        const Clock::time_point began = Clock::now();
        if (blockFrames_ != 0) {
            // The block just taken says when the next one is due. Pieces far
            // shorter than a fragment are blocks at another listener's low
            // latency (however many came at once), which this stream follows
            // block by block.
            const Clock::time_point from = onBeat_ ? *beat_ : blockArrived_ + BLOCK_MARGIN;
            const auto length = std::chrono::microseconds(blockFrames_ * 1000000 / rate_);
            beat_ = std::min(from + length, began + fragmentLength_ + BLOCK_MARGIN);
            if (std::chrono::microseconds(largestPiece_ * 1000000 / rate_) < fragmentLength_ / 2)
                beat_.reset();
            blockFrames_ = largestPiece_ = 0;
        }
        onBeat_ = false;
        if (!streamUsable() || std::exchange(woken_, false)) return;
        if (beat_ && began < *beat_) {
            if (sleepUnlessWoken(std::min(*beat_, began + longest)) || Clock::now() < *beat_) return;
            // Every piece that came meanwhile, without waiting again: one
            // turn of the loop reads all the server has handed over, so the
            // turns stop at the first that leaves something to read. The
            // queue was empty before the sleep: only these turns fill it.
            size_t readable = 0;
            for (int i = 0; i < 8 && readable == 0 && pa_mainloop_iterate(loop_.get(), 0, nullptr) > 0; ++i)
                readable = pa_stream_readable_size(stream_.get());
            if (std::exchange(woken_, false)) return;
            onBeat_ = readable != 0;
            if (onBeat_) return;
        }
        beat_.reset();  // the block is late, or this thread was: it comes when it comes
        const size_t buffered = pa_stream_readable_size(stream_.get());
        const auto arrived = [this, buffered] {
            const size_t readable = pa_stream_readable_size(stream_.get());
            return !streamUsable() || readable == static_cast<size_t>(-1) || readable > buffered;
        };
        runLoopUntil([&arrived, this] { return arrived() || woken_; }, began + longest);
        blockArrived_ = Clock::now();
        if (std::exchange(woken_, false)) return;
        // Beyond `longest` this thread was held up (stopped, starved), which
        // says nothing of the device.
        if (!arrived()) lossWatch_->waitedInVain(std::min<Clock::duration>(Clock::now() - began, longest));
    }

    void wake() override { wake_.raise(); }

    // One fragment of the stream, lent until releasePacket: it is dropped
    // from the stream's queue only then.
    PacketResult takePacket(CapturePacket& packet) override {
        if (!streamUsable()) return PacketResult::Lost;
        // Peeked without asking first how much is readable: every call into
        // libpulse costs a system call of its own (it checks for a fork).
        const void* fragment = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream_.get(), &fragment, &bytes) < 0) return PacketResult::Lost;
        if (bytes == 0) return PacketResult::NoneWaiting;
        lent_ = true;
        packet.frames = static_cast<uint32_t>(bytes / frameBytes_);
        blockFrames_ += packet.frames;
        largestPiece_ = std::max<uint64_t>(largestPiece_, packet.frames);
        // A hole: the server skipped ahead and the skipped frames are silence.
        packet.data = static_cast<const uint8_t*>(fragment);
        packet.silent = fragment == nullptr;
        packet.gap = lossWatch_->arrived(Clock::now(), packet.frames);
        return PacketResult::Taken;
    }

    void releasePacket() override {
        // A failed drop means the stream is gone; the next take says Lost.
        if (lent_) pa_stream_drop(stream_.get());
        lent_ = false;
    }

    // Waits a little for the server to end the stream: the request leaves
    // only while the loop runs, and the take is written after this, which
    // may take a while. A server that does not answer is left to the
    // context's end.
    void stop() override {
        if (!streamUsable()) return;
        releasePacket();
        if (pa_stream_disconnect(stream_.get()) < 0) return;
        runLoopUntil([this] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_.get())); },
                     Clock::now() + STOP_LIMIT);
    }

private:
    // Sleeps until `until` with only the eventfd watched; true when woken.
    bool sleepUnlessWoken(Clock::time_point until) {
        pollfd watched{wake_.fd, POLLIN, 0};
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
        return left > 0 && poll(&watched, 1, static_cast<int>(left)) > 0 && wake_.lower();
    }

    static void onWake(pa_mainloop_api*, pa_io_event*, int, pa_io_event_flags_t, void* userdata) {
        auto* source = static_cast<PulseCaptureSource*>(userdata);
        if (source->wake_.lower()) source->woken_ = true;
    }

    // Runs the loop's iterations on this thread until done() holds, the
    // context fails or the deadline passes; while opening, also until the
    // take is stopped. The callbacks that make done() true run inside the
    // iterations.
    template <class Done>
    void runLoopUntil(Done done, Clock::time_point deadline) {
        while (!done() && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_.get()))) {
            if (opening_ != nullptr && !opening_->keepGoing) return;
            auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
            if (left.count() <= 0) return;
            if (opening_ != nullptr) left = std::min<std::chrono::microseconds>(left, OPEN_POLL_LIMIT);
            if (pa_mainloop_prepare(loop_.get(), static_cast<int>(left.count())) < 0 ||
                pa_mainloop_poll(loop_.get()) < 0 || pa_mainloop_dispatch(loop_.get()) < 0)
                return;
        }
    }

    // Runs a query to its end; false when it could not be sent, the context
    // failed or the server did not answer in time.
    bool runQuery(pa_operation* sent, const bool& answered, Clock::time_point deadline) {
        const Operation operation(sent);
        if (!operation) return false;
        runLoopUntil([&answered] { return answered; }, deadline);
        // No callback may come after the query's answer went out of scope.
        if (!answered) pa_operation_cancel(operation.get());
        return answered;
    }

    bool streamUsable() const {
        return stream_ && !moved_ && pa_context_get_state(context_.get()) == PA_CONTEXT_READY &&
               pa_stream_get_state(stream_.get()) == PA_STREAM_READY;
    }

    // Destroyed bottom up: the stream, then the context, then the wake's
    // watch, the loop and the eventfd.
    WakeFd wake_;
    std::unique_ptr<pa_mainloop, MainloopFree> loop_;
    IoEvent wakeEvent_{nullptr, IoEventFree{nullptr}};
    std::unique_ptr<pa_context, ContextUnref> context_;
    std::unique_ptr<pa_stream, StreamUnref> stream_;
    const OpenLimits* opening_ = nullptr;  // while open() runs
    size_t frameBytes_ = 0;
    uint64_t rate_ = 0;
    Clock::duration fragmentLength_{};  // as the server granted it: the longest sleep before a block
    // The block rhythm: when the next block is in, just after it is due; kept
    // from block to block, so that the sleeps follow the source's clock.
    std::optional<Clock::time_point> beat_;
    bool onBeat_ = false;                      // the last wait ended on the beat with packets waiting
    Clock::time_point blockArrived_;           // when a wait on the socket last ended
    uint64_t blockFrames_ = 0;                 // taken since the last wait
    uint64_t largestPiece_ = 0;                // the largest packet of them
    bool woken_ = false;                       // wake() was heard; the wait under way returns
    bool moved_ = false;                       // the stream records another source than the one opened
    bool lent_ = false;                        // a fragment is peeked and not yet dropped
    std::optional<InputLossWatch> lossWatch_;  // from the stream's start
};

}  // namespace

std::unique_ptr<CaptureSource> makePulseCaptureSource() { return std::make_unique<PulseCaptureSource>(); }
