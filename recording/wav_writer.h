#pragma once
// Canonical 44-byte RIFF/WAVE header for integer PCM, little-endian, written
// as it lies in memory.
#include <cstdint>
#include <ostream>

#pragma pack(push, 1)
struct WAVHeader {
    char riffTag[4];
    uint32_t riffSize;  // dataSize + 36
    char waveTag[4];
    char fmtTag[4];
    uint32_t fmtSize;      // 16
    uint16_t audioFormat;  // 1 = integer PCM
    uint16_t numChannels;
    uint32_t sampleRate;
    uint32_t byteRate;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    char dataTag[4];
    uint32_t dataSize;  // bytes of samples after the header

    WAVHeader();
};
#pragma pack(pop)
static_assert(sizeof(WAVHeader) == 44);

// Writes the 44 header bytes at the stream's position in one write; no flush.
void writeWavHeader(std::ostream& file, int32_t sampleRate, int32_t bitsPerSample, int32_t channels,
                    uint64_t dataSize);
