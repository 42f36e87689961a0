#pragma once
// A capture source scripted with a mix format, packets and one failing call
// (failOn: a set-up step, "getBuffer" once, or "getNextPacketSize" once the
// packets are gone, as when the device vanishes). Every other call is logged
// in `calls`. Recording thread only; read it after the take.
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/shared_state.h"
#include "recording/capture_source.h"

struct FakePacket {
    std::vector<uint8_t> bytes;
    uint32_t frames;
};

template <typename Sample>
FakePacket fakePacket(const std::vector<Sample>& samples, uint32_t frames) {
    FakePacket packet{std::vector<uint8_t>(samples.size() * sizeof(Sample)), frames};
    if (!samples.empty()) std::memcpy(packet.bytes.data(), samples.data(), packet.bytes.size());
    return packet;
}

class FakeCaptureSource : public CaptureSource {
public:
    explicit FakeCaptureSource(uint16_t tag = WAVE_FORMAT_EXTENSIBLE, uint16_t bits = 32,
                               uint16_t channels = 2,
                               const FormatGuid& subFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT) {
        const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
        const uint16_t extra = tag == WAVE_FORMAT_EXTENSIBLE ? 22 : 0;
        format = {{tag, channels, 48000, 48000u * align, align, bits, extra}, bits, 0, subFormat};
    }

    void initializeThread() override { log("initializeThread"); }
    void uninitializeThread() override { log("uninitializeThread"); }
    Status createEnumerator() override { return step("createEnumerator"); }
    Status getDefaultCaptureEndpoint() override { return step("getDefaultCaptureEndpoint"); }
    Status activateAudioClient() override { return step("activateAudioClient"); }
    Status getMixFormat(WaveFormat** out) override {
        if (failed(step("getMixFormat"))) return -1;
        given = std::make_unique<WaveFormatExtensible>(format);
        *out = &given->Format;
        return 0;
    }
    void freeMixFormat(WaveFormat* f) override {
        log("freeMixFormat");
        if (given && f == &given->Format) given.reset();
    }
    Status initialize(const WaveFormat* f, int64_t) override {
        initializedChannels = f->nChannels;
        return step("initialize");
    }
    Status getCaptureService() override { return step("getCaptureService"); }
    Status start() override { return step("start"); }
    Status getNextPacketSize(uint32_t* frames) override {
        if (packets.empty() && failOn == "getNextPacketSize") return -1;
        if (packets.empty() && stopWhenDrained) isRecording = false;  // as the user's Stop would
        *frames = packets.empty() ? 0 : packets.front().frames;
        return 0;
    }
    Status getBuffer(const uint8_t** data, uint32_t* frames, uint32_t* flags) override {
        if (packets.empty()) return -1;  // as a vanished device's does
        if (failOn == "getBuffer") return failOn.clear(), -1;
        inHand = std::move(packets.front());
        packets.pop_front();
        *data = inHand.bytes.data();
        *frames = inHand.frames;
        *flags = 0;
        return 0;
    }
    Status releaseBuffer(uint32_t frames) override { return released.push_back(frames), 0; }
    Status stop() override { return step("stop"); }
    void releaseCaptureClient() override { log("releaseCaptureClient"); }
    void releaseAudioClient() override { log("releaseAudioClient"); }
    void releaseDevice() override { log("releaseDevice"); }
    void releaseEnumerator() override { log("releaseEnumerator"); }

    WaveFormatExtensible format;
    std::deque<FakePacket> packets;
    std::string failOn;
    bool stopWhenDrained = true;

    std::string calls;                            // space-separated
    std::vector<uint32_t> released;               // frames handed back, per packet
    std::unique_ptr<WaveFormatExtensible> given;  // the mix format until it is freed
    uint16_t initializedChannels = 0;

private:
    void log(const std::string& name) { calls += (calls.empty() ? "" : " ") + name; }
    Status step(const std::string& name) { return log(name), failOn == name ? -1 : 0; }

    FakePacket inHand;
};
