#pragma once
// Implemented features:
// - the capture-source port over the shared-mode Core Audio capture engine
//   (COM apartment per recording thread, default console capture endpoint,
//   audio client, capture client, packet polling)
// - makeWasapiCaptureSource, the factory the Windows program installs as
//   captureSourceFactory
//
// The COM interfaces are only forward-declared so that this header does not
// pull the platform headers into its includers.
#include <memory>

#include "recording/capture_source.h"

struct IMMDeviceEnumerator;
struct IMMDevice;
struct IAudioClient;
struct IAudioCaptureClient;

// One object per take. Each call maps onto exactly one COM call; the
// recording thread decides the order and which objects to release.
class WasapiCaptureSource final : public CaptureSource {
public:
    WasapiCaptureSource() = default;
    // Releases whatever the recording thread left held (it normally releases
    // everything itself, before it uninitialises COM).
    ~WasapiCaptureSource() override;
    WasapiCaptureSource(const WasapiCaptureSource&) = delete;
    WasapiCaptureSource& operator=(const WasapiCaptureSource&) = delete;

    void initializeThread() override;
    void uninitializeThread() override;

    Status createEnumerator() override;
    Status getDefaultCaptureEndpoint() override;
    Status activateAudioClient() override;

    Status getMixFormat(WaveFormat** format) override;
    void freeMixFormat(WaveFormat* format) override;

    Status initialize(const WaveFormat* format, int64_t bufferDuration) override;
    Status getCaptureService() override;
    Status start() override;

    void waitForPacket(std::chrono::milliseconds longest) override;
    Status getNextPacketSize(uint32_t* frames) override;
    Status getBuffer(const uint8_t** data, uint32_t* frames, uint32_t* flags) override;
    Status releaseBuffer(uint32_t frames) override;
    Status stop() override;

    void releaseCaptureClient() override;
    void releaseAudioClient() override;
    void releaseDevice() override;
    void releaseEnumerator() override;

private:
    IMMDeviceEnumerator* enumerator_ = nullptr;
    IMMDevice* device_ = nullptr;
    IAudioClient* audioClient_ = nullptr;
    IAudioCaptureClient* captureClient_ = nullptr;
    void* mmcssTask_ = nullptr;  // the recording thread's scheduler registration (a HANDLE)
};

std::unique_ptr<CaptureSource> makeWasapiCaptureSource();
