#pragma once
// Capture format record as the capture sources hand it over. The layout is
// byte-for-byte that of the Windows WAVEFORMATEX / WAVEFORMATEXTENSIBLE records
// (packed, little-endian), so the Windows source can pass its own record
// through unchanged while the core stays free of platform headers.
#include <cstdint>
#include <cstring>

#pragma pack(push, 1)
struct FormatGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

struct WaveFormat {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};

struct WaveFormatExtensible {
    WaveFormat Format;
    uint16_t wValidBitsPerSample;
    uint32_t dwChannelMask;
    FormatGuid SubFormat;
};
#pragma pack(pop)

static_assert(sizeof(FormatGuid) == 16);
static_assert(sizeof(WaveFormat) == 18);
static_assert(sizeof(WaveFormatExtensible) == 40);

constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

constexpr FormatGuid KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr FormatGuid KSDATAFORMAT_SUBTYPE_PCM = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// Byte-wise identity of two sub-format identifiers.
inline bool IsEqualGUID(const FormatGuid& a, const FormatGuid& b) {
    return std::memcmp(&a, &b, sizeof(FormatGuid)) == 0;
}
inline bool operator==(const FormatGuid& a, const FormatGuid& b) { return IsEqualGUID(a, b); }
