#pragma once
// The capture-source port: the operations the recording thread needs from an
// audio capture device, one per capture call of the Windows shared-mode
// engine. All operations are called on the recording thread only, in the order
// the recording thread documents; a Status below zero is a failure.
//
// Ownership: the source owns every device object it creates. The recording
// thread calls each release* operation only for an object whose creating call
// succeeded, in reverse order of creation, and frees the mix format it was given.
#include <chrono>
#include <cstdint>
#include <memory>

#include "recording/wave_format.h"

using Status = int32_t;

inline bool failed(Status status) { return status < 0; }

// Packet flags as getBuffer reports them.
constexpr uint32_t BUFFER_FLAG_DATA_DISCONTINUITY = 0x1;  // input was lost before this packet
constexpr uint32_t BUFFER_FLAG_SILENT = 0x2;              // treat the packet as silence, whatever it holds

class CaptureSource {
public:
    virtual ~CaptureSource() = default;

    // Per-thread set-up and tear-down of the platform's audio runtime
    // (COM on Windows). The result of the first is not examined; the second
    // is called on every path.
    virtual void initializeThread() = 0;
    virtual void uninitializeThread() = 0;

    virtual Status createEnumerator() = 0;
    virtual Status getDefaultCaptureEndpoint() = 0;
    virtual Status activateAudioClient() = 0;

    // On success *format points at a record the source allocated; it is at
    // least a WaveFormat, and a WaveFormatExtensible when wFormatTag says so.
    // The caller passes it to initialize unchanged and gives it back with freeMixFormat.
    virtual Status getMixFormat(WaveFormat** format) = 0;
    virtual void freeMixFormat(WaveFormat* format) = 0;

    // Shared mode, no stream flags, periodicity 0; bufferDuration in 100 ns units.
    virtual Status initialize(const WaveFormat* format, int64_t bufferDuration) = 0;
    virtual Status getCaptureService() = 0;
    virtual Status start() = 0;

    // Between passes over the waiting packets: returns once another packet
    // may be waiting, after at most `longest`. A polled engine sleeps its
    // polling interval; a source that learns when data arrives returns then,
    // so that a quiet stream costs no wake-ups between its packets.
    virtual void waitForPacket(std::chrono::milliseconds longest) = 0;

    // Frames in the next packet; 0 when none is waiting.
    virtual Status getNextPacketSize(uint32_t* frames) = 0;
    // On success *data holds *frames frames in the mix format, valid until
    // releaseBuffer. Flags are BUFFER_FLAG_* bits.
    virtual Status getBuffer(const uint8_t** data, uint32_t* frames, uint32_t* flags) = 0;
    virtual Status releaseBuffer(uint32_t frames) = 0;
    virtual Status stop() = 0;

    virtual void releaseCaptureClient() = 0;
    virtual void releaseAudioClient() = 0;
    virtual void releaseDevice() = 0;
    virtual void releaseEnumerator() = 0;
};

using CaptureSourceFactory = std::unique_ptr<CaptureSource> (*)();
