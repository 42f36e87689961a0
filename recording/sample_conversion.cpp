#include "recording/sample_conversion.h"

#include <algorithm>
#include <cstring>

namespace {

// As floatToPCM16, for samples whose full scale needs more precision than a float has.
int16_t scaledToPCM16(double x) {
    if (x > 1.0) x = 1.0;
    if (x < -1.0) x = -1.0;
    if (x != x) return 0;
    return static_cast<int16_t>(x * 32767.0);
}

// One sample of `type` at `source`; packet buffers need not be aligned.
int16_t sampleAt(SampleType type, const uint8_t* source) {
    switch (type) {
    case SampleType::Int16: {
        int16_t value;
        std::memcpy(&value, source, sizeof(value));
        return value;
    }
    case SampleType::Int24: {
        // Sign-extended from the top byte.
        const int32_t value = static_cast<int32_t>(static_cast<uint32_t>(source[0]) << 8 |
                                                   static_cast<uint32_t>(source[1]) << 16 |
                                                   static_cast<uint32_t>(source[2]) << 24) >>
                              8;
        return scaledToPCM16(value / 8388608.0);
    }
    case SampleType::Int32: {
        int32_t value;
        std::memcpy(&value, source, sizeof(value));
        return scaledToPCM16(value / 2147483648.0);
    }
    case SampleType::Float32: {
        float value;
        std::memcpy(&value, source, sizeof(value));
        return floatToPCM16(value);
    }
    case SampleType::Float64: {
        double value;
        std::memcpy(&value, source, sizeof(value));
        return scaledToPCM16(value);
    }
    }
    return 0;
}

}  // namespace

int16_t floatToPCM16(float x) {
    if (x > 1.0f) x = 1.0f;
    if (x < -1.0f) x = -1.0f;
    // NaN fails both tests; the cast of NaN would be undefined, so it maps to silence.
    if (x != x) return 0;
    return static_cast<int16_t>(x * 32767.0f);
}

int takeChannels(const StreamFormat& format) { return format.channels <= 1 ? 1 : 2; }

void convertPacket(const StreamFormat& format, int channels, const uint8_t* data, uint32_t frames,
                   bool silent, std::vector<int16_t>& packetSamples, Take& take) {
    const size_t kept = static_cast<size_t>(channels);
    packetSamples.resize(static_cast<size_t>(frames) * kept);
    if (silent || format.channels == 0) {
        std::fill(packetSamples.begin(), packetSamples.end(), int16_t{0});
    } else {
        const size_t sampleBytes = bytesPerSample(format.sampleType);
        const size_t frameBytes = format.channels * sampleBytes;
        for (size_t frame = 0; frame < frames; ++frame) {
            for (size_t channel = 0; channel < kept; ++channel) {
                const size_t from = std::min<size_t>(channel, format.channels - 1);
                packetSamples[frame * kept + channel] =
                    sampleAt(format.sampleType, data + frame * frameBytes + from * sampleBytes);
            }
        }
    }
    take.append(packetSamples.data(), packetSamples.size());
}
