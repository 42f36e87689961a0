#pragma once
// Recognising the accepted capture formats and turning packets into 16-bit samples.
#include <cstdint>
#include <vector>

#include "recording/wave_format.h"

bool isFormatFloat32(const WaveFormat* format);
bool isFormatPCM16(const WaveFormat* format);

// Clips to -1..1 and truncates x * 32767 toward zero; NaN gives 0.
int16_t floatToPCM16(float x);

// Converts one packet of `frames` frames (channel count from format->nChannels)
// into packetSamples and appends the same samples to take. Returns false, with
// nothing appended and packetSamples empty, when the format is not accepted.
bool convertPacket(const WaveFormat* format, const uint8_t* data, uint32_t frames,
                   std::vector<int16_t>& packetSamples, std::vector<int16_t>& take);
