// The Windows capture source against fakes of the Core Audio interfaces and
// the endpoint's property store (64-bit only: one calling convention). The
// fakes refuse what Microsoft documents Windows to refuse: a partial
// ReleaseBuffer, a second GetBuffer before ReleaseBuffer, a shared-mode
// Initialize with anything but the mix format, any call once the device is
// invalidated, unregistering a callback never registered; and any call from
// outside the multithreaded apartment, where the recording thread must be.
#include <windows.h>

#include <audioclient.h>
#include <ks.h>
#include <ksmedia.h>
#include <mmdeviceapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <thread>

#include "wasapi_capture_source.h"

#include <initguid.h>
#include <functiondiscoverykeys_devpkey.h>

namespace {

using Bytes = std::vector<uint8_t>;
using Names = std::vector<std::string>;
const Names EVERY_OBJECT = {"property store", "registration", "capture client",
                            "audio client",   "device",       "enumerator"};
const wchar_t ID[] = L"{0.0.1.00000000}.{5f1e}", NAME[] = L"Mikrofon (USB) – Çalışma";
Names released;  // by the endpoint under test, in turn

// One of the endpoint's interfaces; the Release that lets it go notes EVERY_OBJECT[OBJECT].
template <typename Interface, size_t OBJECT>
struct Counted : Interface {
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }  // never asked
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        if (--refs == 0) released.push_back(EVERY_OBJECT[OBJECT]);
        return refs;
    }
    ULONG refs = 0;
};

// One capture endpoint: its enumerator, device, audio client, capture client
// and property store, which live as long as it does.
struct FakeEndpoint : Counted<IPropertyStore, 0>,
                      Counted<IAudioCaptureClient, 2>,
                      Counted<IAudioClient, 3>,
                      Counted<IMMDevice, 4>,
                      Counted<IMMDeviceEnumerator, 5> {
    explicit FakeEndpoint(Bytes mix) : mixFormat(std::move(mix)) { released.clear(); }
    HRESULT step(const std::string& name) const {
        APTTYPE apartment;
        APTTYPEQUALIFIER qualifier;
        if (FAILED(CoGetApartmentType(&apartment, &qualifier)) || apartment != APTTYPE_MTA)
            return RPC_E_WRONG_THREAD;
        return invalidated ? AUDCLNT_E_DEVICE_INVALIDATED : name == failingStep ? failure : S_OK;
    }
    // One counted reference, from the call that finds or makes the object.
    template <typename Interface>
    HRESULT lend(const char* name, void** object) {
        *object = SUCCEEDED(step(name)) ? static_cast<Interface*>(this) : nullptr;
        if (*object) static_cast<Interface*>(this)->AddRef();
        return step(name);
    }
    std::unique_ptr<CaptureSource> source() {
        return makeWasapiCaptureSourceWith([this](IMMDeviceEnumerator** made) {
            return lend<IMMDeviceEnumerator>("CoCreateInstance", reinterpret_cast<void**>(made));
        });
    }

    HRESULT RegisterEndpointNotificationCallback(IMMNotificationClient* client) override {
        if (client == nullptr) return E_POINTER;
        if (SUCCEEDED(step("Register"))) listener = client;
        return step("Register");
    }
    HRESULT UnregisterEndpointNotificationCallback(IMMNotificationClient* client) override {
        if (client == nullptr || client != listener) return E_NOTFOUND;
        listener = nullptr;
        released.push_back("registration");
        return S_OK;
    }
    HRESULT GetId(LPWSTR* id) override {
        *id = SUCCEEDED(step("GetId"))
                  ? static_cast<LPWSTR>(std::memcpy(CoTaskMemAlloc(sizeof(ID)), ID, sizeof(ID)))
                  : nullptr;
        return step("GetId");
    }
    HRESULT OpenPropertyStore(DWORD access, IPropertyStore** store) override {
        return access == STGM_READ
                   ? lend<IPropertyStore>("OpenPropertyStore", reinterpret_cast<void**>(store))
                   : E_ACCESSDENIED;
    }
    HRESULT GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
        PropVariantInit(value);
        if (!IsEqualPropertyKey(key, PKEY_Device_FriendlyName)) return S_OK;  // VT_EMPTY: no such value
        value->vt = VT_LPWSTR;
        value->pwszVal = static_cast<LPWSTR>(std::memcpy(CoTaskMemAlloc(sizeof(NAME)), NAME, sizeof(NAME)));
        return step("GetValue");
    }
    HRESULT GetDefaultAudioEndpoint(EDataFlow flow, ERole, IMMDevice** endpoint) override {
        if (flow != eCapture) return E_NOTFOUND;  // a machine with a microphone only
        return lend<IMMDevice>("GetDefaultAudioEndpoint", reinterpret_cast<void**>(endpoint));
    }
    HRESULT Activate(REFIID iid, DWORD, PROPVARIANT*, void** client) override {
        return iid == __uuidof(IAudioClient) ? lend<IAudioClient>("Activate", client) : E_NOINTERFACE;
    }
    HRESULT GetMixFormat(WAVEFORMATEX** format) override {
        *format = FAILED(step("GetMixFormat")) ? nullptr
                                               : static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(mixFormat.size()));
        if (*format) std::memcpy(*format, mixFormat.data(), mixFormat.size());
        return step("GetMixFormat");
    }
    HRESULT Initialize(AUDCLNT_SHAREMODE mode, DWORD, REFERENCE_TIME, REFERENCE_TIME periodicity,
                       const WAVEFORMATEX* format, LPCGUID) override {
        if (mode != AUDCLNT_SHAREMODE_SHARED || periodicity != 0) return E_INVALIDARG;
        // The shared engine captures in its mix format and in no other.
        const auto* bytes = reinterpret_cast<const uint8_t*>(format);
        if (Bytes(bytes, bytes + sizeof(WAVEFORMATEX) + format->cbSize) != mixFormat)
            return AUDCLNT_E_UNSUPPORTED_FORMAT;
        initialized = SUCCEEDED(step("Initialize"));
        return step("Initialize");
    }
    HRESULT GetService(REFIID iid, void** service) override {
        if (!initialized) return AUDCLNT_E_NOT_INITIALIZED;
        return iid == __uuidof(IAudioCaptureClient) ? lend<IAudioCaptureClient>("GetService", service)
                                                    : E_NOINTERFACE;
    }
    HRESULT Start() override {
        started = initialized && SUCCEEDED(step("Start"));
        return initialized ? step("Start") : AUDCLNT_E_NOT_INITIALIZED;
    }
    HRESULT Stop() override {
        started = false;
        return step("Stop");
    }
    HRESULT GetNextPacketSize(UINT32* frames) override {
        *frames = started && !packets.empty() ? std::get<1>(packets.front()) : 0;
        return step("GetNextPacketSize");
    }
    HRESULT GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64*, UINT64*) override {
        *frames = 0;
        if (FAILED(step("GetBuffer"))) return step("GetBuffer");
        if (lent) return AUDCLNT_E_OUT_OF_ORDER;
        if (!started || packets.empty()) return AUDCLNT_S_BUFFER_EMPTY;
        std::tie(*data, *frames, *flags) = packets.front();
        lent = true;
        return S_OK;
    }
    HRESULT ReleaseBuffer(UINT32 frames) override {
        if (FAILED(step("ReleaseBuffer"))) return step("ReleaseBuffer");
        if (!lent) return AUDCLNT_E_OUT_OF_ORDER;
        if (frames != 0 && frames != std::get<1>(packets.front())) return AUDCLNT_E_INVALID_SIZE;
        lent = false;
        if (frames != 0) packets.pop_front();  // 0 hands the same packet out again
        return S_OK;
    }
    // The calls the source never makes.
#define NOT_USED(...) \
    HRESULT __VA_ARGS__ override { return E_NOTIMPL; }
    // clang-format off
    NOT_USED(EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection**)) NOT_USED(GetDevice(LPCWSTR, IMMDevice**))
    NOT_USED(GetState(DWORD*)) NOT_USED(GetCount(DWORD*)) NOT_USED(GetAt(DWORD, PROPERTYKEY*)) NOT_USED(Commit())
    NOT_USED(SetValue(REFPROPERTYKEY, REFPROPVARIANT)) NOT_USED(GetBufferSize(UINT32*)) NOT_USED(Reset())
    NOT_USED(GetStreamLatency(REFERENCE_TIME*)) NOT_USED(GetDevicePeriod(REFERENCE_TIME*, REFERENCE_TIME*))
    NOT_USED(IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*, WAVEFORMATEX**))
    NOT_USED(GetCurrentPadding(UINT32*)) NOT_USED(SetEventHandle(HANDLE))
    // clang-format on
#undef NOT_USED

                                Bytes mixFormat;
    std::string failingStep;
    HRESULT failure = S_OK;
    std::deque<std::tuple<BYTE*, UINT32, DWORD>> packets;  // data, frames, flags
    bool initialized = false, started = false, lent = false, invalidated = false;
    IMMNotificationClient* listener = nullptr;  // registered
};

// Opens as the recording thread does, with time to spare unless the take was stopped.
OpenResult openSource(CaptureSource& source, StreamFormat& format, bool stopped = false,
                      CaptureDevice* named = nullptr) {
    const std::atomic<bool> keepGoing{!stopped};
    CaptureDevice device;
    const OpenResult result =
        source.open(format, device, {std::chrono::steady_clock::now() + std::chrono::seconds(5), keepGoing});
    if (named != nullptr) *named = device;
    return result;
}

// A 48 kHz mix format record: plain, or extensible when a sub-format is given.
Bytes mixFormat(WORD tag, WORD channels, WORD bits, WORD validBits = 0, GUID subFormat = GUID_NULL) {
    const WORD block = channels * bits / 8, extension = subFormat == GUID_NULL ? 0 : 22;
    const WAVEFORMATEXTENSIBLE format{
        {tag, channels, 48000, 48000u * block, block, bits, extension}, {validBits}, 0, subFormat};
    const auto* head = reinterpret_cast<const uint8_t*>(&format);
    return Bytes(head, head + sizeof(WAVEFORMATEX) + extension);
}
const Bytes PCM16_STEREO = mixFormat(WAVE_FORMAT_PCM, 2, 16);

TEST(WasapiCaptureSource, EachRefusalSaysWhyAndGivesBackWhatWasObtainedInOrder) {
    // The step that fails, how, what open() says, how many of EVERY_OBJECT (the last ones) were let go.
    const std::tuple<const char*, HRESULT, OpenResult, size_t> cases[] = {
        {"CoCreateInstance", REGDB_E_CLASSNOTREG, OpenResult::Failed, 0},
        {"GetDefaultAudioEndpoint", E_NOTFOUND, OpenResult::NoDevice, 1},
        {"Activate", E_ACCESSDENIED, OpenResult::AccessDenied, 2},
        {"GetMixFormat", E_OUTOFMEMORY, OpenResult::Failed, 3},
        {"Initialize", AUDCLNT_E_DEVICE_IN_USE, OpenResult::DeviceInUse, 3},
        {"Initialize", E_ACCESSDENIED, OpenResult::AccessDenied, 3},
        {"GetService", AUDCLNT_E_SERVICE_NOT_RUNNING, OpenResult::Failed, 3},
        {"stopped", S_OK, OpenResult::Failed, 3},  // the take was stopped meanwhile
        {"GetId", E_OUTOFMEMORY, OpenResult::Failed, 4},
        {"Register", E_OUTOFMEMORY, OpenResult::Failed, 4},
        {"OpenPropertyStore", AUDCLNT_E_DEVICE_INVALIDATED, OpenResult::Failed, 5},
        {"Start", AUDCLNT_E_DEVICE_INVALIDATED, OpenResult::Failed, 6},
        {"", S_OK, OpenResult::Opened, 6},
    };
    for (const auto& [step, failure, result, objects] : cases) {
        FakeEndpoint endpoint(PCM16_STEREO);
        std::tie(endpoint.failingStep, endpoint.failure) = std::tie(step, failure);
        StreamFormat format;
        EXPECT_EQ(openSource(*endpoint.source(), format, step == std::string("stopped")), result) << step;
        EXPECT_EQ(released, Names(EVERY_OBJECT.end() - objects, EVERY_OBJECT.end())) << step;
    }
}

TEST(WasapiCaptureSource, TheMixFormatGivesTheStreamFormatOrIsRefusedAtOpen) {
    const GUID PCM = KSDATAFORMAT_SUBTYPE_PCM, FLOAT = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    const std::tuple<uint16_t, SampleType> REFUSED{0, SampleType::Int16};  // what a refusal must leave
    const std::pair<Bytes, std::tuple<uint16_t, SampleType>> cases[] = {
        {PCM16_STEREO, {2, SampleType::Int16}},
        {mixFormat(WAVE_FORMAT_IEEE_FLOAT, 1, 32), {1, SampleType::Float32}},
        {mixFormat(WAVE_FORMAT_IEEE_FLOAT, 2, 64), {2, SampleType::Float64}},
        {mixFormat(WAVE_FORMAT_EXTENSIBLE, 2, 24, 24, PCM), {2, SampleType::Int24}},
        {mixFormat(WAVE_FORMAT_EXTENSIBLE, 2, 32, 24, PCM), {2, SampleType::Int32}},
        {mixFormat(WAVE_FORMAT_EXTENSIBLE, 6, 32, 32, FLOAT), {6, SampleType::Float32}},
        {mixFormat(WAVE_FORMAT_PCM, 2, 8), REFUSED},
        {mixFormat(WAVE_FORMAT_ALAW, 1, 8), REFUSED},
        {mixFormat(WAVE_FORMAT_EXTENSIBLE, 2, 16, 16, KSDATAFORMAT_SUBTYPE_ALAW), REFUSED},
        {mixFormat(WAVE_FORMAT_EXTENSIBLE, 2, 32, 24, FLOAT), REFUSED},
    };
    for (const auto& [mix, expected] : cases) {
        StreamFormat format{48000, 0, SampleType::Int16};
        const OpenResult result = openSource(*FakeEndpoint(mix).source(), format);
        EXPECT_EQ(result, expected == REFUSED ? OpenResult::UnsupportedFormat : OpenResult::Opened);
        EXPECT_EQ(std::tuple(format.channels, format.sampleType), expected) << testing::PrintToString(mix);
    }
}

TEST(WasapiCaptureSource, PacketsAreLentWithTheirFlagsAndHandedBackWholeUntilTheDeviceGoes) {
    BYTE first[8], second[12];
    FakeEndpoint endpoint(PCM16_STEREO);
    endpoint.packets = {{first, 2, AUDCLNT_BUFFERFLAGS_SILENT},
                        {second, 3, AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY}};
    std::unique_ptr<CaptureSource> source = endpoint.source();
    StreamFormat format;
    CaptureDevice device;
    ASSERT_EQ(openSource(*source, format, false, &device), OpenResult::Opened);
    EXPECT_EQ(std::tuple(device.id, device.name, device.monitor),
              std::tuple("{0.0.1.00000000}.{5f1e}", NAME, false));
    // Data, frames, silent, gap of each packet, then nothing waits.
    CapturePacket packet;
    for (const auto& lent : {std::tuple(first, 2u, true, false), std::tuple(second, 3u, false, true)}) {
        ASSERT_EQ(source->takePacket(packet), PacketResult::Taken);
        EXPECT_EQ(std::tuple(packet.data, packet.frames, packet.silent, packet.gap), lent);
        source->releasePacket();
    }
    EXPECT_EQ(source->takePacket(packet), PacketResult::NoneWaiting);
    endpoint.invalidated = true;
    EXPECT_EQ(source->takePacket(packet), PacketResult::Lost);
    source->stop();
    EXPECT_FALSE(endpoint.started);
    source.reset();
    EXPECT_EQ(released, EVERY_OBJECT);
}

TEST(WasapiCaptureSource, ItsDeviceGoneEndsTheStreamAtOnceAndANewDefaultDoesNot) {
    // What the system tells, on a thread of its own (removed, state changed, default changed), about which
    // endpoint, and whether the next packet is then Lost.
    const std::tuple<int, const wchar_t*, DWORD, bool> cases[] = {{0, ID, 0, true},
                                                                  {1, ID, DEVICE_STATE_UNPLUGGED, true},
                                                                  {1, ID, DEVICE_STATE_DISABLED, true},
                                                                  {0, L"{other}", 0, false},
                                                                  {2, L"{other}", 0, false},
                                                                  {1, ID, DEVICE_STATE_ACTIVE, false}};
    for (const auto& [notice, id, state, lost] : cases) {
        BYTE data[8];
        FakeEndpoint endpoint(PCM16_STEREO);
        endpoint.packets = {{data, 2, 0}};
        std::unique_ptr<CaptureSource> source = endpoint.source();
        StreamFormat format;
        ASSERT_EQ(openSource(*source, format), OpenResult::Opened);
        std::thread([&, c = endpoint.listener] {
            notice == 0   ? c->OnDeviceRemoved(id)
            : notice == 1 ? c->OnDeviceStateChanged(id, state)
                          : c->OnDefaultDeviceChanged(eCapture, eConsole, id);
        }).join();
        CapturePacket packet;
        EXPECT_EQ(source->takePacket(packet), lost ? PacketResult::Lost : PacketResult::Taken) << notice;
        if (!lost) source->releasePacket();
        source.reset();
        EXPECT_EQ(released, EVERY_OBJECT);  // the registration ended before the enumerator went
    }
}

}  // namespace
