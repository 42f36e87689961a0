#pragma once
// A capture device scripted by a test: what each open answers and with which
// stream format, the packets it delivers (a lost device is a packet too), and
// what was asked of it. Sources are made on the recording thread; read the
// device after the take.
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/shared_state.h"
#include "recording/capture_source.h"

struct FakePacket {
    std::vector<uint8_t> bytes;  // whole frames of the stream format
    bool silent = false, gap = false;
    bool lost = false;   // not a packet: the device goes away here
    int quietPolls = 0;  // polls that find nothing (5 ms each) before this packet comes
    uint32_t hole = 0;   // not data: the server skipped this many frames
};

// A packet as the device hands it over: the samples' bytes.
template <typename Sample>
FakePacket packetOf(const std::vector<Sample>& samples, bool silent = false, bool gap = false) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
    return {std::vector<uint8_t>(bytes, bytes + samples.size() * sizeof(Sample)), silent, gap, false, 0, 0};
}
inline const FakePacket DEVICE_LOST{{}, false, false, true, 0, 0};
// The same packet, after `seconds` of nothing.
inline FakePacket after(double seconds, FakePacket packet) {
    packet.quietPolls = static_cast<int>(seconds * 200);
    return packet;
}

struct FakeDevice {
    StreamFormat format{48000, 2, SampleType::Float32};
    CaptureDevice device{"fake-mic", L"Fake Microphone", false};
    std::deque<OpenResult> opens;  // what each open answers, in turn; then always `later`
    OpenResult later = OpenResult::Opened;
    std::deque<StreamFormat> reopened;     // the stream format of each later successful open, in turn
    std::deque<CaptureDevice> reopenedAs;  // and the device it opens
    std::deque<FakePacket> packets;
    bool stopWhenDrained = true;     // as the user's Stop would, once the packets are gone
    std::string calls;               // space-separated: open, stop, woken, gone (destroyed), misuse
    std::vector<uint32_t> released;  // frames of each packet handed back
    int polls = 0, opened = 0;       // opened: sources that opened

    CaptureSourceFactory factory();
    void log(const std::string& name) { calls += (calls.empty() ? "" : " ") + name; }
};

class FakeCaptureSource : public CaptureSource {
public:
    explicit FakeCaptureSource(FakeDevice& device) : device_(device) {}
    ~FakeCaptureSource() override {
        if (std::lock_guard<std::mutex> lock(wakeMutex_); woken_) device_.log("woken");
        device_.log(lent_ ? "gone-holding-a-packet" : "gone");
    }

    OpenResult open(StreamFormat& format, CaptureDevice& device, const OpenLimits&) override {
        device_.log("open");
        const OpenResult result = device_.opens.empty() ? device_.later : device_.opens.front();
        if (!device_.opens.empty()) device_.opens.pop_front();
        if (result != OpenResult::Opened) return result;
        if (opened_++ != 0) device_.log("misuse");  // a source is opened once
        if (device_.opened++ != 0 && !device_.reopened.empty()) {
            device_.format = device_.reopened.front();
            device_.reopened.pop_front();
        }
        if (device_.opened > 1 && !device_.reopenedAs.empty()) {
            device_.device = device_.reopenedAs.front();
            device_.reopenedAs.pop_front();
        }
        format = stream_ = device_.format;
        device = device_.device;
        return result;
    }
    void waitForPacket(std::chrono::milliseconds longest) override {  // as the polled engine does
        std::unique_lock<std::mutex> lock(wakeMutex_);
        wakeCv_.wait_for(lock, std::min(longest, std::chrono::milliseconds(5)),
                         [this] { return wakePending_; });
        wakePending_ = false;
    }
    void wake() override {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        wakePending_ = woken_ = true;
        wakeCv_.notify_all();
    }
    PacketResult takePacket(CapturePacket& packet) override {
        if (lent_ || !opened_ || stopped_) return device_.log("misuse"), PacketResult::Lost;
        if (lost_) return PacketResult::Lost;
        if (!device_.packets.empty() && device_.packets.front().quietPolls > 0)
            return --device_.packets.front().quietPolls, PacketResult::NoneWaiting;
        if (device_.packets.empty()) {
            // A take that stalls ends too, so that it fails instead of hanging.
            if (device_.stopWhenDrained || ++device_.polls > 1000) isRecording = false;
            return PacketResult::NoneWaiting;
        }
        FakePacket& next = device_.packets.front();
        if (next.lost) return device_.packets.pop_front(), lost_ = true, PacketResult::Lost;
        // A silent packet's bytes are noise: only the flag says silence.
        if (next.silent) std::fill(next.bytes.begin(), next.bytes.end(), uint8_t{0x5A});
        lent_ = true;
        packet = {next.hole ? nullptr : next.bytes.data(), framesIn(next), next.silent || next.hole,
                  next.gap};
        return PacketResult::Taken;
    }
    void releasePacket() override {
        if (!lent_) return device_.log("misuse");
        lent_ = false;
        device_.released.push_back(framesIn(device_.packets.front()));
        device_.packets.pop_front();
    }
    void stop() override { device_.log(stopped_ ? "misuse" : "stop"), stopped_ = true; }

private:
    uint32_t framesIn(const FakePacket& packet) const {
        if (packet.hole) return packet.hole;
        return static_cast<uint32_t>(packet.bytes.size() /
                                     (stream_.channels * bytesPerSample(stream_.sampleType)));
    }

    FakeDevice& device_;
    StreamFormat stream_;
    int opened_ = 0;
    bool lent_ = false, lost_ = false, stopped_ = false;
    std::mutex wakeMutex_;  // wake() comes from another thread
    std::condition_variable wakeCv_;
    bool wakePending_ = false, woken_ = false;
};

inline CaptureSourceFactory FakeDevice::factory() {
    return [this] { return std::make_unique<FakeCaptureSource>(*this); };
}
