#pragma once
// The capture-source port: what the recording thread needs from the
// platform's audio capture, at the level of a recorder rather than of any one
// engine. Each platform implements it once; the tests use a scripted fake.
//
// Threads: every operation, the constructor (through the factory) and the
// destructor run on the recording thread of one take. A source is opened at
// most once; the recording thread makes a new one to open the device again
// (after the device or the sound server went away).
//
// Ownership: the source owns every platform object it creates and gives all
// of them back, in reverse order of creation, when it is destroyed, whatever
// state it is in (never opened, failed to open, running, stopped). The
// recording thread owns the source.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// How one sample lies in a packet; always little-endian, interleaved by frame.
enum class SampleType : uint8_t {
    Int16,    // 2 bytes, full scale 32,768
    Int24,    // 3 bytes, packed, full scale 2^23
    Int32,    // 4 bytes, full scale 2^31 (24 valid bits sit in the upper three bytes)
    Float32,  // 4 bytes, full scale 1.0
    Float64,  // 8 bytes, full scale 1.0
};

struct StreamFormat {
    uint32_t sampleRate = 0;  // frames per second
    uint16_t channels = 0;    // samples per frame, 1 or more
    SampleType sampleType = SampleType::Float32;
};

// Bytes of one sample of that type.
constexpr uint32_t bytesPerSample(SampleType type) {
    switch (type) {
    case SampleType::Int16:
        return 2;
    case SampleType::Int24:
        return 3;
    case SampleType::Int32:
    case SampleType::Float32:
        return 4;
    case SampleType::Float64:
        return 8;
    }
    return 0;
}

// Why a device could not be opened, as far as the platform can tell.
enum class OpenResult {
    Opened,
    NoDevice,           // no capture device is connected (or the server has no default source)
    AccessDenied,       // the system's privacy settings refuse this program the microphone
    DeviceInUse,        // another program holds the device exclusively
    UnsupportedFormat,  // the device delivers samples of a kind no SampleType describes
    Failed,             // anything else: no sound server, the engine refused, ...
};

// The device a source records, as the system knows it.
struct CaptureDevice {
    std::string id;        // the system's own id (a PulseAudio source name, an endpoint id); empty if none
    std::wstring name;     // as the system shows it to the user ("USB Microphone")
    bool monitor = false;  // the sound an output plays rather than an input
};

// How long open() may take: it gives up with Failed by `deadline` at the
// latest, and within about 50 ms once `keepGoing` reads false (the take was
// stopped or the program is ending), whatever the server or driver does.
struct OpenLimits {
    std::chrono::steady_clock::time_point deadline;
    const std::atomic<bool>& keepGoing;
};

// One packet as the source lends it.
struct CapturePacket {
    const uint8_t* data =
        nullptr;          // frames x channels samples of the stream format; valid until releasePacket
    uint32_t frames = 0;  // may be 0: nothing to append, but the packet is still handed back
    bool silent = false;  // treat as silence, whatever data holds
    bool gap = false;     // input was lost just before this packet
};

enum class PacketResult {
    Taken,        // `packet` is lent until releasePacket
    NoneWaiting,  // nothing to take now; wait and ask again
    Lost,         // the device or the server went away: this source delivers nothing more
};

class CaptureSource {
public:
    // Gives back everything the source still holds; see Ownership above.
    virtual ~CaptureSource() = default;

    // Opens the platform's default capture device in shared mode and starts
    // its stream, within `limits`. On Opened, `format` says what every packet
    // will hold (its rate and channel count are the device's own; the take
    // decides which channels it keeps) and `device` which device it is. The
    // stream stays on that device: when the device goes away (or the system
    // would move the stream elsewhere), takePacket says Lost. On anything else
    // nothing is running and the only call left is the destructor.
    virtual OpenResult open(StreamFormat& format, CaptureDevice& device, const OpenLimits& limits) = 0;

    // Between passes over the waiting packets: returns once another packet
    // may be waiting, after `longest` at most. A polled engine sleeps its
    // polling interval; a source told of new data returns then, so a quiet
    // stream costs no wake-ups between its packets.
    virtual void waitForPacket(std::chrono::milliseconds longest) = 0;

    // From any thread, while the source exists: a waitForPacket under way
    // returns at once, and so does the next one if none is under way. Stop
    // calls it, so that a take ends within milliseconds of the click rather
    // than at the next poll.
    virtual void wake() = 0;

    // Lends the next packet when one is waiting. At most one packet is lent
    // at a time: each Taken is followed by releasePacket before the next call.
    virtual PacketResult takePacket(CapturePacket& packet) = 0;
    // Hands the whole packet lent last back to the device.
    virtual void releasePacket() = 0;

    // Ends the stream once the take stops capturing; after it, only the
    // destructor. Never fails in a way the take must hear of.
    virtual void stop() = 0;
};

// Makes an unopened source; called on the recording thread, once per attempt
// to open the device. Null when not even that was possible.
using CaptureSourceFactory = std::function<std::unique_ptr<CaptureSource>()>;
