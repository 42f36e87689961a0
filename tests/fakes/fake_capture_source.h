#pragma once
// A scriptable capture source. It logs every call, fails the operation named
// in failOn, and hands out the scripted packets in order. When the script runs
// out it calls onExhausted (tests use it to clear isRecording) and reports no
// more packets. Used from the recording thread; read the log after joining.
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "recording/capture_source.h"

constexpr Status FAKE_FAILURE = -2147467259;  // any negative status will do

struct FakePacket {
    std::vector<uint8_t> bytes;
    uint32_t frames = 0;
    bool failGetBuffer = false;  // this GetBuffer call fails; the packet stays queued
};

class FakeCaptureSource : public CaptureSource {
public:
    FakeCaptureSource() { setFloatFormat(48000, 2); }

    void setFormat(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                   const FormatGuid& subFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT) {
        format = {};
        format.Format.wFormatTag = tag;
        format.Format.nChannels = channels;
        format.Format.nSamplesPerSec = rate;
        format.Format.wBitsPerSample = bits;
        format.Format.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
        format.Format.nAvgBytesPerSec = rate * format.Format.nBlockAlign;
        format.Format.cbSize = tag == 0xFFFE ? 22 : 0;
        format.SubFormat = subFormat;
    }
    void setFloatFormat(uint32_t rate, uint16_t channels) {
        setFormat(0xFFFE, channels, rate, 32, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
    }

    void addFloatPacket(const std::vector<float>& samples, uint32_t frames) {
        FakePacket p;
        p.bytes.resize(samples.size() * sizeof(float));
        if (!samples.empty()) std::memcpy(p.bytes.data(), samples.data(), p.bytes.size());
        p.frames = frames;
        packets.push_back(std::move(p));
    }
    void addPcmPacket(const std::vector<int16_t>& samples, uint32_t frames) {
        FakePacket p;
        p.bytes.resize(samples.size() * sizeof(int16_t));
        if (!samples.empty()) std::memcpy(p.bytes.data(), samples.data(), p.bytes.size());
        p.frames = frames;
        packets.push_back(std::move(p));
    }

    void initializeThread() override { log("initializeThread"); }
    void uninitializeThread() override { log("uninitializeThread"); }
    Status createEnumerator() override { return step("createEnumerator"); }
    Status getDefaultCaptureEndpoint() override { return step("getDefaultCaptureEndpoint"); }
    Status activateAudioClient() override { return step("activateAudioClient"); }
    Status getMixFormat(WaveFormat** out) override {
        const Status s = step("getMixFormat");
        if (s >= 0) {
            handedOut = new WaveFormatExtensible(format);
            *out = &handedOut->Format;
        }
        return s;
    }
    void freeMixFormat(WaveFormat* f) override {
        log("freeMixFormat");
        if (f == &handedOut->Format) {
            delete handedOut;
            handedOut = nullptr;
        }
    }
    Status initialize(const WaveFormat* f, int64_t bufferDuration) override {
        initializedChannels = f->nChannels;
        initializedFormat = *reinterpret_cast<const WaveFormatExtensible*>(f);
        initializedBuffer = bufferDuration;
        if (maxChannelsAccepted != 0 && f->nChannels > maxChannelsAccepted) {
            log("initialize");
            return FAKE_FAILURE;
        }
        return step("initialize");
    }
    Status getCaptureService() override { return step("getCaptureService"); }
    Status start() override { return step("start"); }

    Status getNextPacketSize(uint32_t* frames) override {
        ++packetSizeQueries;
        if (failPacketSizeWhenEmpty && packets.empty()) return FAKE_FAILURE;
        if (packets.empty() && !exhausted) {
            exhausted = true;
            if (onExhausted) onExhausted();
        }
        *frames = packets.empty() ? 0 : (packets.front().frames == 0 ? 1 : packets.front().frames);
        return 0;
    }
    Status getBuffer(const uint8_t** data, uint32_t* frames, uint32_t* flags) override {
        if (packets.empty()) return FAKE_FAILURE;
        if (packets.front().failGetBuffer) {
            packets.front().failGetBuffer = false;
            ++getBufferFailures;
            return FAKE_FAILURE;
        }
        inHand = std::move(packets.front());
        packets.pop_front();
        *data = inHand.bytes.data();
        *frames = inHand.frames;
        *flags = 0;
        return 0;
    }
    Status releaseBuffer(uint32_t frames) override {
        releasedFrames.push_back(frames);
        return 0;
    }
    Status stop() override {
        log("stop");
        return 0;
    }
    void releaseCaptureClient() override { log("releaseCaptureClient"); }
    void releaseAudioClient() override { log("releaseAudioClient"); }
    void releaseDevice() override { log("releaseDevice"); }
    void releaseEnumerator() override { log("releaseEnumerator"); }

    // Script.
    WaveFormatExtensible format{};
    std::deque<FakePacket> packets;
    std::string failOn;
    uint16_t maxChannelsAccepted = 0;  // 0: any
    bool failPacketSizeWhenEmpty = false;
    std::function<void()> onExhausted;

    // Observations.
    std::vector<std::string> calls;
    std::vector<uint32_t> releasedFrames;
    uint16_t initializedChannels = 0;
    WaveFormatExtensible initializedFormat{};
    int64_t initializedBuffer = 0;
    int getBufferFailures = 0;
    int packetSizeQueries = 0;
    WaveFormatExtensible* handedOut = nullptr;

private:
    void log(const std::string& name) { calls.push_back(name); }
    Status step(const std::string& name) {
        log(name);
        return name == failOn ? FAKE_FAILURE : 0;
    }

    FakePacket inHand;
    bool exhausted = false;
};
