// Implemented features:
// - CaptureSource over COM and Core Audio in shared mode: the recording
//   thread in the multithreaded apartment for each source's life, the default
//   capture endpoint of the console role, its audio client initialised with
//   the mix format as the engine gave it (5 s buffer, no event), the capture
//   client, and packets polled every 20 ms
// - the device opened named: its endpoint id and friendly name
// - the endpoint watched while the source lives: removed, disabled or
//   unplugged, it ends the source at once; a new default device does not
// - open() gives up between its steps once the take is stopped or its time
//   is up
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
#include <atomic>
#include <cwchar>
#include <optional>
#include <string>

#include "com_apartment.h"
#include "mix_format.h"

// The property keys defined in this file rather than taken from a library.
#include <initguid.h>
#include <functiondiscoverykeys_devpkey.h>

namespace {

using Microsoft::WRL::ComPtr;

// The engine's buffer, in 100 ns units: 5 s of sound, so that a write to a
// slow disk holding the recording thread for seconds loses nothing. Shared
// mode sets no upper bound (the 5 s and 2 s limits are exclusive mode's).
constexpr REFERENCE_TIME BUFFER_DURATION = 50000000;
// The stream was opened without an event, so it is polled: every 20 ms,
// taking two of the engine's usual 10 ms packets at a time. An event would
// wake the thread for every packet; polling at 20 ms wakes it 50 times a
// second, still more often than the views may be repainted (33 ms), and
// the buffer above holds far longer waits than this.
constexpr std::chrono::milliseconds POLL_INTERVAL{20};

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

// Tells the source when the endpoint it records goes: removed, disabled or
// unplugged. Called by the system on a thread of its own, so it only sets a
// flag: Microsoft's rules for these callbacks forbid waiting, unregistering
// and releasing a last MMDevice reference in them. The source owns it and
// unregisters it before it goes; the system keeps no reference of its own.
class EndpointWatch final : public IMMNotificationClient {
public:
    explicit EndpointWatch(std::wstring id) : id_(std::move(id)) {}
    bool gone() const { return gone_.load(std::memory_order_relaxed); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = iid == __uuidof(IUnknown) || iid == __uuidof(IMMNotificationClient) ? this : nullptr;
        return *object != nullptr ? S_OK : E_NOINTERFACE;
    }
    // Lives as long as the source; counting would change nothing.
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD state) override {
        if (state != DEVICE_STATE_ACTIVE) endIf(id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR id) override {
        endIf(id);
        return S_OK;
    }
    // The take stays on its device while that device is there.
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow, ERole, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

private:
    // Endpoint ids are opaque: compared whole, never parsed.
    void endIf(LPCWSTR id) {
        if (id != nullptr && id_ == id) gone_.store(true, std::memory_order_relaxed);
    }

    const std::wstring id_;  // set before registration, read only after
    std::atomic<bool> gone_{false};
};

// The watch registered with the enumerator, unregistered before either goes.
class Registration {
public:
    Registration(IMMDeviceEnumerator* enumerator, IMMNotificationClient* client)
        : enumerator_(enumerator), client_(client) {}
    ~Registration() { enumerator_->UnregisterEndpointNotificationCallback(client_); }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    IMMDeviceEnumerator* enumerator_;
    IMMNotificationClient* client_;
};

struct PropVariant : PROPVARIANT {
    PropVariant() { PropVariantInit(this); }
    ~PropVariant() { PropVariantClear(this); }
    PropVariant(const PropVariant&) = delete;
    PropVariant& operator=(const PropVariant&) = delete;
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

// The event wake() sets, auto-reset: one wait returns per wake. Null when
// the system had none to give; the polls then simply sleep.
class WakeEvent {
public:
    WakeEvent() : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~WakeEvent() {
        if (event_ != nullptr) CloseHandle(event_);
    }
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;
    void set() const {
        if (event_ != nullptr) SetEvent(event_);
    }
    void wait(DWORD milliseconds) const {
        if (event_ != nullptr)
            WaitForSingleObject(event_, milliseconds);
        else
            Sleep(milliseconds);
    }

private:
    const HANDLE event_;
};

class WasapiCaptureSource final : public CaptureSource {
public:
    explicit WasapiCaptureSource(DeviceEnumeratorFactory makeEnumerator)
        : makeEnumerator_(std::move(makeEnumerator)) {}

    // Core Audio's calls do not hang in practice: the take's end and the
    // deadline are looked at between them.
    OpenResult open(StreamFormat& format, CaptureDevice& device, const OpenLimits& limits) override {
        const auto inTime = [&limits] {
            return limits.keepGoing && std::chrono::steady_clock::now() < limits.deadline;
        };
        // The capture objects are free-threaded and this thread pumps no
        // messages: a single-threaded apartment would break COM's rules.
        apartment_.emplace(COINIT_MULTITHREADED);
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
        if (!inTime()) return OpenResult::Failed;

        // Decided here, before the take begins: a stream of samples the core
        // cannot read would give an empty take reported as saved.
        const std::optional<StreamFormat> stream = streamFormatOf(*mixFormat_);
        if (!stream) return OpenResult::UnsupportedFormat;
        // Shared mode takes the mix format exactly as GetMixFormat gave it;
        // an edited copy (fewer channels) is refused.
        status = audioClient_->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, BUFFER_DURATION, 0, mixFormat_.get(),
                                          nullptr);
        if (SUCCEEDED(status)) status = audioClient_->GetService(IID_PPV_ARGS(&captureClient_));
        if (FAILED(status)) return openResultOf(status);
        if (!inTime()) return OpenResult::Failed;

        // Watched from before the stream starts, so a removal from then on is
        // heard; one before shows as a failing call.
        status = nameDevice(device);
        if (FAILED(status)) return openResultOf(status);
        if (!inTime()) return OpenResult::Failed;
        status = audioClient_->Start();
        if (FAILED(status)) return openResultOf(status);
        mmcss_.emplace();
        format = *stream;
        return OpenResult::Opened;
    }

    void waitForPacket(std::chrono::milliseconds longest) override {
        wake_.wait(static_cast<DWORD>(std::min(longest, POLL_INTERVAL).count()));
    }

    void wake() override { wake_.set(); }

    PacketResult takePacket(CapturePacket& packet) override {
        if (watch_->gone()) return PacketResult::Lost;
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
    // The endpoint's id and friendly name, and the watch on it registered.
    HRESULT nameDevice(CaptureDevice& device) {
        LPWSTR id = nullptr;
        HRESULT status = device_->GetId(&id);
        const std::unique_ptr<wchar_t, CoTaskMemDeleter> ownedId(id);
        if (FAILED(status)) return status;
        watch_.emplace(id);
        status = enumerator_->RegisterEndpointNotificationCallback(&*watch_);
        if (FAILED(status)) return status;
        registration_.emplace(enumerator_.Get(), &*watch_);

        ComPtr<IPropertyStore> properties;
        status = device_->OpenPropertyStore(STGM_READ, &properties);
        PropVariant name;
        if (SUCCEEDED(status)) status = properties->GetValue(PKEY_Device_FriendlyName, &name);
        if (FAILED(status)) return status;
        device.id = narrowId(id);
        device.name = name.vt == VT_LPWSTR && name.pwszVal != nullptr ? name.pwszVal : L"";
        device.monitor = false;  // a loopback stream is never what this source opens
        return S_OK;
    }

    // The endpoint id in UTF-8, as the core keeps ids.
    static std::string narrowId(LPCWSTR id) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, id, -1, nullptr, 0, nullptr, nullptr);
        std::string narrow(bytes > 0 ? bytes : 1, '\0');
        if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, id, -1, narrow.data(), bytes, nullptr, nullptr);
        narrow.pop_back();  // the terminator
        return narrow;
    }

    DeviceEnumeratorFactory makeEnumerator_;
    WakeEvent wake_;
    // Destroyed in reverse order: the scheduler registration, the mix format,
    // the watch's registration, the watch, the capture client, the audio
    // client, the device, the enumerator, and COM last, after everything of
    // it has been released.
    std::optional<ComApartment> apartment_;
    ComPtr<IMMDeviceEnumerator> enumerator_;
    ComPtr<IMMDevice> device_;
    ComPtr<IAudioClient> audioClient_;
    ComPtr<IAudioCaptureClient> captureClient_;
    std::optional<EndpointWatch> watch_;
    std::optional<Registration> registration_;
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
