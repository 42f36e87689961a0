#include "recording/sample_conversion.h"

#include <algorithm>
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

int takeChannels(const WaveFormat* format) { return format->nChannels <= 1 ? 1 : 2; }

bool convertPacket(const WaveFormat* format, const uint8_t* data, uint32_t frames, bool silent,
                   std::vector<int16_t>& packetSamples, Take& take) {
    packetSamples.clear();
    const bool isFloat = isFormatFloat32(format);
    if (!isFloat && !isFormatPCM16(format)) return false;

    const size_t kept = static_cast<size_t>(takeChannels(format));
    const size_t stride = format->nChannels;
    const size_t bytesPerSample = isFloat ? sizeof(float) : sizeof(int16_t);
    packetSamples.resize(static_cast<size_t>(frames) * kept);
    if (silent) {
        std::fill(packetSamples.begin(), packetSamples.end(), int16_t{0});
    } else {
        for (size_t frame = 0; frame < frames; ++frame) {
            for (size_t channel = 0; channel < kept; ++channel) {
                // Packet buffers need not be aligned for float or short access.
                const uint8_t* source = data + (frame * stride + channel) * bytesPerSample;
                int16_t& sample = packetSamples[frame * kept + channel];
                if (isFloat) {
                    float value;
                    std::memcpy(&value, source, sizeof(float));
                    sample = floatToPCM16(value);
                } else {
                    std::memcpy(&sample, source, sizeof(int16_t));
                }
            }
        }
    }
    take.append(packetSamples.data(), packetSamples.size());
    return true;
}
