#pragma once
// A capture source scripted with a 48 kHz mix format, packets and one failing
// call: a set-up step, "getBuffer" once, or "getNextPacketSize" once the
// packets are gone, as when the device vanishes. It logs its device calls in
// `calls`. Recording thread only; read it after the take.
#include <algorithm>
#include <cstring>
#include <deque>
#include <thread>

#include "app/shared_state.h"
#include "recording/capture_source.h"

// A packet as the device hands it over: the samples' bytes, whole frames of the mix format.
template <typename Sample>
std::vector<uint8_t> packetOf(const std::vector<Sample>& samples) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
    return std::vector<uint8_t>(bytes, bytes + samples.size() * sizeof(Sample));
}

class FakeCaptureSource : public CaptureSource {
public:
    explicit FakeCaptureSource(uint16_t tag = WAVE_FORMAT_EXTENSIBLE, uint16_t bits = 32,
                               uint16_t channels = 2,
                               const FormatGuid& sub = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT) {
        const uint16_t align = channels * bits / 8, extra = tag == WAVE_FORMAT_EXTENSIBLE ? 22 : 0;
        format = mix = {{tag, channels, 48000, 48000u * align, align, bits, extra}, bits, 0, sub};
    }

    void initializeThread() override { log("initializeThread"); }
    void uninitializeThread() override { log("uninitializeThread"); }
    Status createEnumerator() override { return step("createEnumerator"); }
    Status getDefaultCaptureEndpoint() override { return step("getDefaultCaptureEndpoint"); }
    Status activateAudioClient() override { return step("activateAudioClient"); }
    // Lends `format` itself, so that a test sees what the recording thread asked for.
    Status getMixFormat(WaveFormat** out) override { return *out = &format.Format, step("getMixFormat"); }
    void freeMixFormat(WaveFormat* f) override { log(f == &format.Format ? "freeMixFormat" : "freeOther"); }
    // Shared mode without auto-conversion takes the mix format as it was lent, nothing else,
    // and never a record whose block align or byte rate does not follow from the rest.
    Status initialize(const WaveFormat* f, int64_t) override {
        const bool consistent = f->nBlockAlign == f->nChannels * f->wBitsPerSample / 8 &&
                                f->nAvgBytesPerSec == f->nSamplesPerSec * f->nBlockAlign;
        return std::memcmp(f, &mix, sizeof(WaveFormat) + f->cbSize) == 0 && consistent ? step("initialize")
                                                                                       : -1;
    }
    Status getCaptureService() override { return step("getCaptureService"); }
    Status start() override { return step("start"); }
    // As the polled engine does.
    void waitForPacket(std::chrono::milliseconds longest) override {
        std::this_thread::sleep_for(std::min(longest, std::chrono::milliseconds(5)));
    }
    Status getNextPacketSize(uint32_t* frames) override {
        if (packets.empty() && failOn == "getNextPacketSize") return -1;
        if (silentPolls > 0)
            return --silentPolls, *frames = 0, 0;  // a device that delivers nothing for a while
        // As the user's Stop would; a take that stalls ends too, so that it fails instead of hanging.
        if ((packets.empty() && stopWhenDrained) || ++polls > 1000) isRecording = false;
        *frames = packets.empty() ? 0 : framesIn(packets.front());
        return 0;
    }
    Status getBuffer(const uint8_t** data, uint32_t* frames, uint32_t* flags) override {
        if (held || packets.empty()) return -1;  // as Windows refuses a second GetBuffer before ReleaseBuffer
        if (failOn == "getBuffer") return failOn.clear(), -1;
        held = true;
        *data = packets.front().data();
        *frames = framesIn(packets.front());
        if (!packetFlags.empty() && (packetFlags.front() & BUFFER_FLAG_SILENT))
            std::fill(packets.front().begin(), packets.front().end(), uint8_t{0x5A});
        return *flags = packetFlags.empty() ? 0 : packetFlags.front(), 0;
    }
    Status releaseBuffer(uint32_t n) override {
        if (!packetFlags.empty()) packetFlags.pop_front();
        return held = false, packets.pop_front(), released.push_back(n), 0;
    }
    Status stop() override { return step("stop"); }
    void releaseCaptureClient() override { log("releaseCaptureClient"); }
    void releaseAudioClient() override { log("releaseAudioClient"); }
    void releaseDevice() override { log("releaseDevice"); }
    void releaseEnumerator() override { log("releaseEnumerator"); }

    WaveFormatExtensible format, mix;  // mix: the format as lent, to tell a changed one
    std::deque<std::vector<uint8_t>> packets;
    std::string failOn, calls;  // calls: space-separated
    int polls = 0, silentPolls = 0;
    std::deque<uint32_t> packetFlags;           // getBuffer flags per packet; a silent one's bytes are noise
    bool stopWhenDrained = true, held = false;  // held: a packet is out until released
    std::vector<uint32_t> released;             // frames handed back, per packet

private:
    void log(const std::string& name) { calls += (calls.empty() ? "" : " ") + name; }
    Status step(const std::string& name) { return log(name), failOn == name ? -1 : 0; }
    // In the channel count the recording thread asked for.
    uint32_t framesIn(const std::vector<uint8_t>& packet) const {
        return static_cast<uint32_t>(packet.size() /
                                     (format.Format.nChannels * format.Format.wBitsPerSample / 8));
    }
};
