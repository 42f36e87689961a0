#include "recording/wav_writer.h"

#include <cstring>

WAVHeader::WAVHeader()
    : riffSize(0),
      fmtSize(16),
      audioFormat(1),
      numChannels(0),
      sampleRate(0),
      byteRate(0),
      blockAlign(0),
      bitsPerSample(0),
      dataSize(0) {
    std::memcpy(riffTag, "RIFF", 4);
    std::memcpy(waveTag, "WAVE", 4);
    std::memcpy(fmtTag, "fmt ", 4);
    std::memcpy(dataTag, "data", 4);
}

void writeWavHeader(std::ostream& file, int32_t sampleRate, int32_t bitsPerSample, int32_t channels,
                    uint64_t dataSize) {
    WAVHeader header;
    header.numChannels = static_cast<uint16_t>(channels);
    header.bitsPerSample = static_cast<uint16_t>(bitsPerSample);
    header.sampleRate = static_cast<uint32_t>(sampleRate);
    header.byteRate = static_cast<uint32_t>(sampleRate * channels * bitsPerSample / 8);
    header.blockAlign = static_cast<uint16_t>(channels * bitsPerSample / 8);
    header.dataSize = static_cast<uint32_t>(dataSize);
    header.riffSize = header.dataSize + 36;
    // The record is the file's little-endian image on every platform we build for.
    file.write(reinterpret_cast<const char*>(&header), sizeof(header));
}
