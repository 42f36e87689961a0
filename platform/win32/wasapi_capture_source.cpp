// Implemented features:
// - CaptureSource over COM and Core Audio in shared mode: a COM apartment per
//   source, the default capture endpoint of the console role, its audio client
//   initialised with the mix format as the engine gave it (1 s buffer, no
//   event), the capture client, and packets polled every 5 ms
// - refusals told apart: no capture endpoint, access denied by the privacy
//   settings, the device held exclusively, a mix format of an unknown kind
// - a failing capture call (the device invalidated, the service gone) ends
//   the source; the recording thread makes a new one
// - the recording thread registered with the multimedia scheduler ("Audio")
//   from Start until stop()
#include "wasapi_capture_source.h"

#include <avrt.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <objbase.h>
#include <wrl/client.h>

#include <algorithm>
#include <optional>

#include "com_apartment.h"
#include "mix_format.h"

namespace {

using Microsoft::WRL::ComPtr;

// The engine's buffer, in 100 ns units: 1 s of sound, so a poll that comes late loses nothing.
constexpr REFERENCE_TIME BUFFER_DURATION = 10000000;
// The stream was opened without an event, so it is polled: every 5 ms, half
// the engine's usual 10 ms period, so no packet waits long.
constexpr std::chrono::milliseconds POLL_INTERVAL{5};

// Keeps this thread ahead of ordinary work while it captures, so a busy
// machine does not leave the engine's buffer unread until it overruns.
// Without the service the thread just runs at its normal priority.
class MmcssRegistration {
public:
    MmcssRegistration() {
        DWORD taskIndex = 0;
        task_ = AvSetMmThreadCharacteristicsW(L"Audio", &taskIndex);
    }
    ~MmcssRegistration() {
        if (task_ != nullptr) AvRevertMmThreadCharacteristics(task_);
    }
    MmcssRegistration(const MmcssRegistration&) = delete;
    MmcssRegistration& operator=(const MmcssRegistration&) = delete;

private:
    HANDLE task_;
};

struct CoTaskMemDeleter {
    void operator()(void* memory) const { CoTaskMemFree(memory); }
};

OpenResult openResultOf(HRESULT status) {
    switch (status) {
    case E_NOTFOUND:  // no endpoint of that data flow at all
        return OpenResult::NoDevice;
    case E_ACCESSDENIED:  // the microphone privacy settings
        return OpenResult::AccessDenied;
    case AUDCLNT_E_DEVICE_IN_USE:  // another program holds it in exclusive mode
        return OpenResult::DeviceInUse;
    default:
        return OpenResult::Failed;
    }
}

class WasapiCaptureSource final : public CaptureSource {
public:
    explicit WasapiCaptureSource(DeviceEnumeratorFactory makeEnumerator)
        : makeEnumerator_(std::move(makeEnumerator)) {}

    OpenResult open(StreamFormat& format, CaptureDevice& /*device*/, const OpenLimits& /*limits*/) override {
        apartment_.emplace();
        HRESULT status = makeEnumerator_(enumerator_.ReleaseAndGetAddressOf());
        if (SUCCEEDED(status)) status = enumerator_->GetDefaultAudioEndpoint(eCapture, eConsole, &device_);
        if (SUCCEEDED(status))
            status = device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                       reinterpret_cast<void**>(audioClient_.ReleaseAndGetAddressOf()));
        if (SUCCEEDED(status)) {
            WAVEFORMATEX* mixFormat = nullptr;
            status = audioClient_->GetMixFormat(&mixFormat);
            mixFormat_.reset(mixFormat);
        }
        if (FAILED(status)) return openResultOf(status);

        // Decided here, before the take begins: a stream of samples the core
        // cannot read would give an empty take reported as saved.
        const std::optional<StreamFormat> stream = streamFormatOf(*mixFormat_);
        if (!stream) return OpenResult::UnsupportedFormat;
        // Shared mode takes the mix format exactly as GetMixFormat gave it;
        // an edited copy (fewer channels) is refused.
        status = audioClient_->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, BUFFER_DURATION, 0, mixFormat_.get(),
                                          nullptr);
        if (SUCCEEDED(status)) status = audioClient_->GetService(IID_PPV_ARGS(&captureClient_));
        if (SUCCEEDED(status)) status = audioClient_->Start();
        if (FAILED(status)) return openResultOf(status);
        mmcss_.emplace();
        format = *stream;
        return OpenResult::Opened;
    }

    void waitForPacket(std::chrono::milliseconds longest) override {
        Sleep(static_cast<DWORD>(std::min(longest, POLL_INTERVAL).count()));
    }

    PacketResult takePacket(CapturePacket& packet) override {
        UINT32 frames = 0;
        if (FAILED(captureClient_->GetNextPacketSize(&frames))) return PacketResult::Lost;
        if (frames == 0) return PacketResult::NoneWaiting;
        BYTE* data = nullptr;
        DWORD flags = 0;
        const HRESULT status = captureClient_->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
        if (FAILED(status)) return PacketResult::Lost;
        // Nothing is lent then, so nothing is to be released.
        if (status == AUDCLNT_S_BUFFER_EMPTY) return PacketResult::NoneWaiting;
        lentFrames_ = frames;
        packet.data = data;
        packet.frames = frames;
        packet.silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
        packet.gap = (flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0;
        return PacketResult::Taken;
    }

    // The engine takes back a whole packet or none of it. A refusal needs no
    // answer here: the device is gone, and the next takePacket says Lost.
    void releasePacket() override { captureClient_->ReleaseBuffer(lentFrames_); }

    // The scheduler registration ends with capture: the thread goes on to
    // write the file and may wait for the user.
    void stop() override {
        if (audioClient_) audioClient_->Stop();
        mmcss_.reset();
    }

private:
    DeviceEnumeratorFactory makeEnumerator_;
    // Destroyed in reverse order: the scheduler registration, the mix format,
    // the capture client, the audio client, the device, the enumerator, and
    // COM last, after everything of it has been released.
    std::optional<ComApartment> apartment_;
    ComPtr<IMMDeviceEnumerator> enumerator_;
    ComPtr<IMMDevice> device_;
    ComPtr<IAudioClient> audioClient_;
    ComPtr<IAudioCaptureClient> captureClient_;
    std::unique_ptr<WAVEFORMATEX, CoTaskMemDeleter> mixFormat_;
    std::optional<MmcssRegistration> mmcss_;
    UINT32 lentFrames_ = 0;  // of the packet lent last
};

}  // namespace

std::unique_ptr<CaptureSource> makeWasapiCaptureSourceWith(DeviceEnumeratorFactory makeEnumerator) {
    return std::make_unique<WasapiCaptureSource>(std::move(makeEnumerator));
}

std::unique_ptr<CaptureSource> makeWasapiCaptureSource() {
    return makeWasapiCaptureSourceWith([](IMMDeviceEnumerator** enumerator) {
        return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, IID_PPV_ARGS(enumerator));
    });
}
