// Implemented features:
//  - connection to the default (or PULSE_SERVER) PulseAudio server, no autospawn
//  - the server's default source as the capture endpoint; no default = failure
//  - mix format: 32-bit float, extensible form, at the source's rate and
//    channel count (the server converts whatever the source really holds)
//  - a record stream of 1 s maximum length and 25 ms fragments
//  - libpulse's loop run by the recording thread itself, inside the port's
//    calls: waiting for a packet is waiting on the server's socket, so the
//    thread wakes once per fragment and no loop thread of its own is needed
//  - packets straight from the stream's buffer; holes come back as silence
//  - a server that goes away mid-take fails the next packet-size query
//  - every object released in reverse order of creation, also on destruction
#include "platform/linux/pulse_capture_source.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "recording/sample_conversion.h"

namespace {

constexpr Status OK = 0;
constexpr Status FAILURE = -1;

constexpr int64_t HUNDRED_NS_PER_SECOND = 10'000'000;
// Large enough that the server wakes us at most 40 times a second, small
// enough that the level meter follows sound within 50 ms: a fragment's
// sound is shown with it or with the next one.
constexpr uint32_t FRAGMENT_MS = 25;
// A server that accepts the connection but never answers must not hang the
// recording thread forever.
constexpr std::chrono::seconds SERVER_ANSWER_LIMIT{5};

constexpr uint32_t SPEAKER_FRONT_LEFT = 0x1;
constexpr uint32_t SPEAKER_FRONT_RIGHT = 0x2;
constexpr uint32_t SPEAKER_FRONT_CENTER = 0x4;

uint32_t channelMaskFor(uint32_t channels) {
    if (channels == 1) return SPEAKER_FRONT_CENTER;
    if (channels == 2) return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    return channels >= 32 ? 0xFFFFFFFFu : (1u << channels) - 1u;
}

// The server had to throw input away because the stream was not read in time.
void onStreamOverflow(pa_stream*, void* overflowed) { *static_cast<bool*>(overflowed) = true; }

struct ServerInfoQuery {
    bool done = false;
    std::string defaultSource;
};

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* query = static_cast<ServerInfoQuery*>(userdata);
    if (info != nullptr && info->default_source_name != nullptr) {
        query->defaultSource = info->default_source_name;
    }
    query->done = true;
}

struct SourceInfoQuery {
    bool done = false;
    bool found = false;
    pa_sample_spec sampleSpec{};
};

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* query = static_cast<SourceInfoQuery*>(userdata);
    if (eol == 0 && info != nullptr) {
        query->found = true;
        query->sampleSpec = info->sample_spec;
        return;
    }
    query->done = true;
}

class PulseCaptureSource final : public CaptureSource {
public:
    PulseCaptureSource() = default;
    PulseCaptureSource(const PulseCaptureSource&) = delete;
    PulseCaptureSource& operator=(const PulseCaptureSource&) = delete;

    // The recording thread releases what it obtained; this catches whatever
    // a path that gave up early left behind.
    ~PulseCaptureSource() override {
        releaseAudioClient();
        releaseDevice();
        releaseEnumerator();
    }

    // libpulse needs no per-thread set-up.
    void initializeThread() override {}
    void uninitializeThread() override {}

    Status createEnumerator() override {
        if (mainloop_ != nullptr) return FAILURE;
        mainloop_ = pa_mainloop_new();
        if (mainloop_ == nullptr) return FAILURE;
        context_ = pa_context_new(pa_mainloop_get_api(mainloop_), "Quorvel");
        // A null server name lets libpulse honour PULSE_SERVER and the
        // user's client configuration.
        if (context_ == nullptr ||
            pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            releaseEnumerator();
            return FAILURE;
        }
        runLoopUntil([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; }, answerDeadline());
        if (pa_context_get_state(context_) != PA_CONTEXT_READY) {
            releaseEnumerator();
            return FAILURE;
        }
        return OK;
    }

    Status getDefaultCaptureEndpoint() override {
        if (context_ == nullptr) return FAILURE;
        ServerInfoQuery server;
        if (!runOperation(pa_context_get_server_info(context_, onServerInfo, &server), server.done) ||
            server.defaultSource.empty()) {
            return FAILURE;
        }
        SourceInfoQuery source;
        if (!runOperation(pa_context_get_source_info_by_name(context_, server.defaultSource.c_str(),
                                                             onSourceInfo, &source),
                          source.done) ||
            !source.found || !pa_sample_spec_valid(&source.sampleSpec)) {
            return FAILURE;
        }
        sourceName_ = server.defaultSource;
        sourceSpec_ = source.sampleSpec;
        return OK;
    }

    // The stream is made by initialize, once the channel count is settled.
    Status activateAudioClient() override { return sourceName_.empty() ? FAILURE : OK; }

    Status getMixFormat(WaveFormat** format) override {
        if (format == nullptr || sourceName_.empty()) return FAILURE;
        auto* mix = new WaveFormatExtensible{};
        // Takes are mono or stereo: the server mixes a wider source down to two
        // channels, which costs less than carrying the others to be dropped.
        const uint16_t channels = std::min<uint16_t>(sourceSpec_.channels, 2);
        mix->Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
        mix->Format.nChannels = channels;
        mix->Format.nSamplesPerSec = sourceSpec_.rate;
        mix->Format.wBitsPerSample = 32;
        mix->Format.nBlockAlign = static_cast<uint16_t>(channels * sizeof(float));
        mix->Format.nAvgBytesPerSec = sourceSpec_.rate * mix->Format.nBlockAlign;
        mix->Format.cbSize = sizeof(WaveFormatExtensible) - sizeof(WaveFormat);
        mix->wValidBitsPerSample = 32;
        mix->dwChannelMask = channelMaskFor(channels);
        mix->SubFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
        *format = &mix->Format;
        return OK;
    }

    void freeMixFormat(WaveFormat* format) override {
        // Format is the first member of the record getMixFormat allocated.
        delete reinterpret_cast<WaveFormatExtensible*>(format);
    }

    // Takes the sample type, rate and channel count from the format.
    Status initialize(const WaveFormat* format, int64_t bufferDuration) override {
        if (context_ == nullptr || stream_ != nullptr || format == nullptr) return FAILURE;
        pa_sample_spec sampleSpec{};
        if (isFormatFloat32(format)) {
            sampleSpec.format = PA_SAMPLE_FLOAT32LE;
        } else if (isFormatPCM16(format)) {
            sampleSpec.format = PA_SAMPLE_S16LE;
        } else {
            return FAILURE;
        }
        sampleSpec.rate = format->nSamplesPerSec;
        sampleSpec.channels = static_cast<uint8_t>(format->nChannels);
        if (format->nChannels > PA_CHANNELS_MAX || !pa_sample_spec_valid(&sampleSpec)) return FAILURE;
        pa_channel_map map{};
        if (pa_channel_map_init_auto(&map, sampleSpec.channels, PA_CHANNEL_MAP_DEFAULT) == nullptr) {
            return FAILURE;
        }

        const int64_t duration = bufferDuration > 0 ? bufferDuration : HUNDRED_NS_PER_SECOND;
        const uint64_t frameBytes = pa_frame_size(&sampleSpec);
        const uint64_t bufferFrames =
            static_cast<uint64_t>(duration) * sampleSpec.rate / HUNDRED_NS_PER_SECOND;
        bufferAttr_.maxlength = static_cast<uint32_t>(std::max<uint64_t>(bufferFrames, 1) * frameBytes);
        bufferAttr_.fragsize = static_cast<uint32_t>(
            std::max<uint64_t>(uint64_t{sampleSpec.rate} * FRAGMENT_MS / 1000, 1) * frameBytes);
        bufferAttr_.tlength = static_cast<uint32_t>(-1);
        bufferAttr_.prebuf = static_cast<uint32_t>(-1);
        bufferAttr_.minreq = static_cast<uint32_t>(-1);

        stream_ = pa_stream_new(context_, "Quorvel capture", &sampleSpec, &map);
        if (stream_ == nullptr) return FAILURE;
        pa_stream_set_overflow_callback(stream_, onStreamOverflow, &overflowed_);
        frameBytes_ = frameBytes;
        return OK;
    }

    // The record stream serves as its own capture service.
    Status getCaptureService() override { return stream_ == nullptr ? FAILURE : OK; }

    Status start() override {
        if (stream_ == nullptr || connected_) return FAILURE;
        if (pa_stream_connect_record(stream_, sourceName_.c_str(), &bufferAttr_, PA_STREAM_ADJUST_LATENCY) <
            0) {
            return FAILURE;
        }
        connected_ = true;
        runLoopUntil(
            [this] {
                const pa_stream_state_t state = pa_stream_get_state(stream_);
                return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
            },
            answerDeadline());
        return pa_stream_get_state(stream_) == PA_STREAM_READY ? OK : FAILURE;
    }

    // Runs the loop until the server has sent more than is buffered already,
    // the stream fails, or time is up. Fragments arrive as whole messages, so
    // this is one wake-up per fragment.
    void waitForPacket(std::chrono::milliseconds longest) override {
        const auto deadline = std::chrono::steady_clock::now() + longest;
        if (stream_ == nullptr || !streamUsable()) return;
        const size_t buffered = pa_stream_readable_size(stream_);
        runLoopUntil(
            [this, buffered] {
                const size_t readable = pa_stream_readable_size(stream_);
                return !streamUsable() || readable == static_cast<size_t>(-1) || readable > buffered;
            },
            deadline);
    }

    // Fails once the server or the stream is gone, which ends the take.
    Status getNextPacketSize(uint32_t* frames) override {
        if (frames == nullptr || stream_ == nullptr || !streamUsable()) return FAILURE;
        const size_t readable = pa_stream_readable_size(stream_);
        if (readable == static_cast<size_t>(-1)) return FAILURE;
        *frames = static_cast<uint32_t>(readable / frameBytes_);
        return OK;
    }

    // One fragment of the stream. The data stays valid until releaseBuffer
    // because the fragment is not dropped before then.
    Status getBuffer(const uint8_t** data, uint32_t* frames, uint32_t* flags) override {
        if (data == nullptr || frames == nullptr || stream_ == nullptr || peeked_ || !streamUsable()) {
            return FAILURE;
        }
        const void* fragment = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream_, &fragment, &bytes) < 0) return FAILURE;
        uint32_t packetFlags = 0;
        if (bytes == 0) {
            // Nothing buffered: an empty packet, nothing to drop later.
            *data = silence_.data();
        } else if (fragment == nullptr) {
            silence_.assign(bytes, 0);
            *data = silence_.data();
            packetFlags = BUFFER_FLAG_SILENT;
            peeked_ = true;
        } else {
            *data = static_cast<const uint8_t*>(fragment);
            peeked_ = true;
        }
        *frames = static_cast<uint32_t>(bytes / frameBytes_);
        if (overflowed_ && *frames != 0) {
            packetFlags |= BUFFER_FLAG_DATA_DISCONTINUITY;
            overflowed_ = false;
        }
        if (flags != nullptr) *flags = packetFlags;
        return OK;
    }

    Status releaseBuffer(uint32_t) override {
        if (stream_ == nullptr) return FAILURE;
        if (!peeked_) return OK;
        peeked_ = false;
        return pa_stream_drop(stream_) < 0 ? FAILURE : OK;
    }

    // The request to end the stream leaves only while the loop runs: waiting
    // for the server's answer lets the source go before the take is written,
    // which may take a while.
    Status stop() override {
        if (stream_ == nullptr) return FAILURE;
        disconnect();
        runLoopUntil([this] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)); }, answerDeadline());
        return OK;
    }

    // The capture service is the stream itself; releaseAudioClient frees it.
    void releaseCaptureClient() override {}

    void releaseAudioClient() override {
        if (stream_ == nullptr) return;
        disconnect();
        pa_stream_set_overflow_callback(stream_, nullptr, nullptr);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }

    void releaseDevice() override { sourceName_.clear(); }

    void releaseEnumerator() override {
        if (context_ != nullptr) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        if (mainloop_ != nullptr) {
            pa_mainloop_free(mainloop_);
            mainloop_ = nullptr;
        }
    }

private:
    static std::chrono::steady_clock::time_point answerDeadline() {
        return std::chrono::steady_clock::now() + SERVER_ANSWER_LIMIT;
    }

    // Runs the loop's iterations on this thread until done() holds, the
    // context fails or the deadline passes. The callbacks that make done()
    // true run inside the iterations.
    template <class Done>
    void runLoopUntil(Done done, std::chrono::steady_clock::time_point deadline) {
        while (!done() && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return;
            if (pa_mainloop_prepare(mainloop_, static_cast<int>(left.count())) < 0 ||
                pa_mainloop_poll(mainloop_) < 0 || pa_mainloop_dispatch(mainloop_) < 0) {
                return;
            }
        }
    }

    // Runs a query to its end; false when it could not be sent, or the
    // context failed or the server did not answer in time.
    bool runOperation(pa_operation* operation, const bool& done) {
        if (operation == nullptr) return false;
        runLoopUntil([&done] { return done; }, answerDeadline());
        if (!done) pa_operation_cancel(operation);
        pa_operation_unref(operation);
        return done;
    }

    bool streamUsable() const {
        return pa_context_get_state(context_) == PA_CONTEXT_READY &&
               pa_stream_get_state(stream_) == PA_STREAM_READY;
    }

    void disconnect() {
        if (peeked_) {
            pa_stream_drop(stream_);
            peeked_ = false;
        }
        if (connected_) {
            pa_stream_disconnect(stream_);
            connected_ = false;
        }
    }

    pa_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    std::string sourceName_;  // empty until the default source is known
    pa_sample_spec sourceSpec_{};
    pa_stream* stream_ = nullptr;
    pa_buffer_attr bufferAttr_{};
    size_t frameBytes_ = 0;    // of the stream, not of the source
    bool connected_ = false;   // pa_stream_connect_record succeeded
    bool peeked_ = false;      // a fragment is held until releaseBuffer
    bool overflowed_ = false;  // input was lost since the last packet
    std::vector<uint8_t> silence_ = std::vector<uint8_t>(1, 0);
};

}  // namespace

std::unique_ptr<CaptureSource> makePulseCaptureSource() { return std::make_unique<PulseCaptureSource>(); }
