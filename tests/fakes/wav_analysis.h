#pragma once
// Reads a 16-bit PCM WAV file as this program writes it and measures the
// tone in it.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct WavContents {
    bool valid = false;  // a 44-byte PCM header whose sizes match the file
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    std::vector<int16_t> samples;  // interleaved
    size_t frames() const { return channels == 0 ? 0 : samples.size() / channels; }
};

inline WavContents readWav(const std::string& path) {
    WavContents wav;
    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    if (bytes.size() < 44) return wav;
    auto u16 = [&](size_t at) { return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8); };
    auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(u16(at) | static_cast<uint32_t>(u16(at + 2)) << 16);
    };
    const uint32_t dataSize = u32(40);
    wav.channels = u16(22);
    wav.sampleRate = u32(24);
    wav.valid = std::memcmp(bytes.data(), "RIFF", 4) == 0 && std::memcmp(&bytes[8], "WAVEfmt ", 8) == 0 &&
                std::memcmp(&bytes[36], "data", 4) == 0 && u32(4) == dataSize + 36 && u32(16) == 16 &&
                u16(20) == 1 && u16(34) == 16 && wav.channels != 0 && u16(32) == wav.channels * 2 &&
                u32(28) == wav.sampleRate * wav.channels * 2 && bytes.size() == 44 + size_t{dataSize} &&
                dataSize % (wav.channels * 2u) == 0;
    wav.samples.resize(dataSize / 2);
    if (dataSize != 0 && bytes.size() >= 44 + size_t{dataSize})
        std::memcpy(wav.samples.data(), &bytes[44], dataSize);
    return wav;
}

inline std::vector<double> channelOf(const WavContents& wav, int channel) {
    std::vector<double> out;
    for (size_t i = channel; i < wav.samples.size(); i += wav.channels) out.push_back(wav.samples[i]);
    return out;
}

// Index of the first sample whose magnitude exceeds `threshold`, or size().
inline size_t firstLoud(const std::vector<double>& x, double threshold) {
    size_t i = 0;
    while (i < x.size() && std::fabs(x[i]) <= threshold) ++i;
    return i;
}

// A pure sine obeys x[n+1] + x[n-1] = 2 cos(w) x[n]. Least-squares estimate
// of the frequency in hertz over x[from..].
inline double sineFrequency(const std::vector<double>& x, size_t from, uint32_t sampleRate) {
    double cross = 0.0, energy = 0.0;
    for (size_t n = from + 1; n + 1 < x.size(); ++n) {
        cross += x[n] * (x[n + 1] + x[n - 1]);
        energy += x[n] * x[n];
    }
    if (energy == 0.0) return 0.0;
    const double cosine = std::fmax(-1.0, std::fmin(1.0, cross / (2.0 * energy)));
    return std::acos(cosine) * sampleRate / (2.0 * 3.14159265358979323846);
}

// Largest deviation from the sine recurrence for frequency `hz` over x[from..]:
// a few LSB of rounding for an unbroken tone; hundreds or more where a
// sample is missing, repeated or replaced by silence.
struct RecurrenceError {
    double largest = 0.0;
    size_t at = 0;  // sample index of the largest deviation
};

inline RecurrenceError largestRecurrenceError(const std::vector<double>& x, size_t from, double hz,
                                              uint32_t sampleRate) {
    const double twoCos = 2.0 * std::cos(2.0 * 3.14159265358979323846 * hz / sampleRate);
    RecurrenceError worst;
    for (size_t n = from + 1; n + 1 < x.size(); ++n) {
        const double error = std::fabs(x[n + 1] - twoCos * x[n] + x[n - 1]);
        if (error > worst.largest) worst = {error, n};
    }
    return worst;
}
