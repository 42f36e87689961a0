#include "recording/sample_conversion.h"

#include <cstring>

namespace {

const FormatGuid& subFormatOf(const WaveFormat* format) {
    return reinterpret_cast<const WaveFormatExtensible*>(format)->SubFormat;
}

}  // namespace

bool isFormatFloat32(const WaveFormat* format) {
    if (format->wFormatTag == WAVE_FORMAT_IEEE_FLOAT && format->wBitsPerSample == 32) return true;
    return format->wFormatTag == WAVE_FORMAT_EXTENSIBLE &&
           IsEqualGUID(subFormatOf(format), KSDATAFORMAT_SUBTYPE_IEEE_FLOAT) && format->wBitsPerSample == 32;
}

bool isFormatPCM16(const WaveFormat* format) {
    if (format->wFormatTag == WAVE_FORMAT_PCM && format->wBitsPerSample == 16) return true;
    return format->wFormatTag == WAVE_FORMAT_EXTENSIBLE &&
           IsEqualGUID(subFormatOf(format), KSDATAFORMAT_SUBTYPE_PCM) && format->wBitsPerSample == 16;
}

int16_t floatToPCM16(float x) {
    if (x > 1.0f) x = 1.0f;
    if (x < -1.0f) x = -1.0f;
    // NaN fails both tests; the cast of NaN would be undefined, so it maps to silence.
    if (x != x) return 0;
    return static_cast<int16_t>(x * 32767.0f);
}

bool convertPacket(const WaveFormat* format, const uint8_t* data, uint32_t frames,
                   std::vector<int16_t>& packetSamples, std::vector<int16_t>& take) {
    const uint64_t count = static_cast<uint32_t>(frames * format->nChannels);
    packetSamples.clear();
    if (isFormatFloat32(format)) {
        packetSamples.reserve(count);
        for (uint64_t i = 0; i < count; ++i) {
            float value;
            // Packet buffers need not be aligned for float access.
            std::memcpy(&value, data + i * sizeof(float), sizeof(float));
            packetSamples.push_back(floatToPCM16(value));
        }
    } else if (isFormatPCM16(format)) {
        packetSamples.resize(count);
        if (count != 0) std::memcpy(packetSamples.data(), data, count * sizeof(int16_t));
    } else {
        return false;
    }
    take.insert(take.end(), packetSamples.begin(), packetSamples.end());
    return true;
}
