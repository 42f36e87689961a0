// Implemented features:
// - CaptureSource over COM and Core Audio: CoInitialize/CoUninitialize per
//   recording thread, the device enumerator, the default capture endpoint of
//   the console role, its audio client in shared mode, the capture client and
//   packet polling every 5 ms (GetNextPacketSize, GetBuffer, ReleaseBuffer)
// - the recording thread registered with the multimedia scheduler (MMCSS "Audio")
// - the mix format handed to the core as its layout-identical record and
//   freed with CoTaskMemFree
// - makeWasapiCaptureSource

// The core spells its two sub-format constants as the platform's media headers
// do, which declare them again as GUID objects. This file uses neither, so the
// core's pair is renamed for the length of its header.
#define KSDATAFORMAT_SUBTYPE_IEEE_FLOAT coreSubtypeIeeeFloat
#define KSDATAFORMAT_SUBTYPE_PCM coreSubtypePcm
#include "platform/win32/wasapi_capture_source.h"
#undef KSDATAFORMAT_SUBTYPE_IEEE_FLOAT
#undef KSDATAFORMAT_SUBTYPE_PCM

#include <algorithm>
#include <cstddef>

// mingw declares the Core Audio identifiers but its uuid library does not
// define them; initguid.h makes this file define the ones these headers name
// (as selectany objects, so another file doing the same does not clash).
#include <initguid.h>

#include <windows.h>

#include <audioclient.h>
#include <avrt.h>
#include <mmdeviceapi.h>
#include <objbase.h>

// The core reads the mix format through its own record, so the two must agree
// byte for byte.
static_assert(sizeof(WaveFormat) == sizeof(WAVEFORMATEX));
static_assert(offsetof(WaveFormat, wFormatTag) == offsetof(WAVEFORMATEX, wFormatTag));
static_assert(offsetof(WaveFormat, nChannels) == offsetof(WAVEFORMATEX, nChannels));
static_assert(offsetof(WaveFormat, nSamplesPerSec) == offsetof(WAVEFORMATEX, nSamplesPerSec));
static_assert(offsetof(WaveFormat, nAvgBytesPerSec) == offsetof(WAVEFORMATEX, nAvgBytesPerSec));
static_assert(offsetof(WaveFormat, nBlockAlign) == offsetof(WAVEFORMATEX, nBlockAlign));
static_assert(offsetof(WaveFormat, wBitsPerSample) == offsetof(WAVEFORMATEX, wBitsPerSample));
static_assert(offsetof(WaveFormat, cbSize) == offsetof(WAVEFORMATEX, cbSize));
static_assert(sizeof(WaveFormatExtensible) == sizeof(WAVEFORMATEXTENSIBLE));
static_assert(offsetof(WaveFormatExtensible, wValidBitsPerSample) == offsetof(WAVEFORMATEXTENSIBLE, Samples));
static_assert(offsetof(WaveFormatExtensible, dwChannelMask) == offsetof(WAVEFORMATEXTENSIBLE, dwChannelMask));
static_assert(offsetof(WaveFormatExtensible, SubFormat) == offsetof(WAVEFORMATEXTENSIBLE, SubFormat));
static_assert(sizeof(FormatGuid) == sizeof(GUID));
static_assert(sizeof(Status) == sizeof(HRESULT));
static_assert(BUFFER_FLAG_SILENT == AUDCLNT_BUFFERFLAGS_SILENT);
static_assert(BUFFER_FLAG_DATA_DISCONTINUITY == AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY);

namespace {

constexpr std::chrono::milliseconds POLL_INTERVAL{5};

template <typename Interface>
void releaseObject(Interface*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

}  // namespace

WasapiCaptureSource::~WasapiCaptureSource() {
    releaseCaptureClient();
    releaseAudioClient();
    releaseDevice();
    releaseEnumerator();
}

void WasapiCaptureSource::initializeThread() {
    // Its status is deliberately ignored: a thread that already has an
    // apartment still gets working COM, and any real failure shows up in the
    // next call.
    (void)CoInitialize(nullptr);
    // The multimedia scheduler keeps this thread ahead of ordinary work, so a
    // busy machine does not leave the engine's buffer unread until it overruns.
    // Without the service the thread just runs at its normal priority.
    DWORD taskIndex = 0;
    mmcssTask_ = AvSetMmThreadCharacteristicsW(L"Audio", &taskIndex);
}

void WasapiCaptureSource::uninitializeThread() {
    if (mmcssTask_ != nullptr) AvRevertMmThreadCharacteristics(mmcssTask_);
    mmcssTask_ = nullptr;
    CoUninitialize();
}

Status WasapiCaptureSource::createEnumerator() {
    return CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL, IID_IMMDeviceEnumerator,
                            reinterpret_cast<void**>(&enumerator_));
}

Status WasapiCaptureSource::getDefaultCaptureEndpoint() {
    return enumerator_->GetDefaultAudioEndpoint(eCapture, eConsole, &device_);
}

Status WasapiCaptureSource::activateAudioClient() {
    return device_->Activate(IID_IAudioClient, CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&audioClient_));
}

Status WasapiCaptureSource::getMixFormat(WaveFormat** format) {
    WAVEFORMATEX* mixFormat = nullptr;
    const HRESULT status = audioClient_->GetMixFormat(&mixFormat);
    *format = reinterpret_cast<WaveFormat*>(mixFormat);
    return status;
}

void WasapiCaptureSource::freeMixFormat(WaveFormat* format) { CoTaskMemFree(format); }

Status WasapiCaptureSource::initialize(const WaveFormat* format, int64_t bufferDuration) {
    return audioClient_->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, bufferDuration, 0,
                                    reinterpret_cast<const WAVEFORMATEX*>(format), nullptr);
}

Status WasapiCaptureSource::getCaptureService() {
    return audioClient_->GetService(IID_IAudioCaptureClient, reinterpret_cast<void**>(&captureClient_));
}

Status WasapiCaptureSource::start() { return audioClient_->Start(); }

// The stream was opened without an event, so it is polled: every 5 ms, half
// the engine's usual 10 ms period, so no packet waits long.
void WasapiCaptureSource::waitForPacket(std::chrono::milliseconds longest) {
    Sleep(static_cast<DWORD>(std::min(longest, POLL_INTERVAL).count()));
}

Status WasapiCaptureSource::getNextPacketSize(uint32_t* frames) {
    UINT32 packetFrames = 0;
    const HRESULT status = captureClient_->GetNextPacketSize(&packetFrames);
    *frames = packetFrames;
    return status;
}

Status WasapiCaptureSource::getBuffer(const uint8_t** data, uint32_t* frames, uint32_t* flags) {
    BYTE* packet = nullptr;
    UINT32 packetFrames = 0;
    DWORD packetFlags = 0;
    const HRESULT status = captureClient_->GetBuffer(&packet, &packetFrames, &packetFlags, nullptr, nullptr);
    *data = packet;
    *frames = packetFrames;
    *flags = packetFlags;
    return status;
}

Status WasapiCaptureSource::releaseBuffer(uint32_t frames) { return captureClient_->ReleaseBuffer(frames); }

Status WasapiCaptureSource::stop() { return audioClient_->Stop(); }

void WasapiCaptureSource::releaseCaptureClient() { releaseObject(captureClient_); }
void WasapiCaptureSource::releaseAudioClient() { releaseObject(audioClient_); }
void WasapiCaptureSource::releaseDevice() { releaseObject(device_); }
void WasapiCaptureSource::releaseEnumerator() { releaseObject(enumerator_); }

std::unique_ptr<CaptureSource> makeWasapiCaptureSource() { return std::make_unique<WasapiCaptureSource>(); }
