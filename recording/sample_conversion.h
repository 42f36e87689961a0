#pragma once
// Recognising the accepted capture formats and turning packets into 16-bit samples.
#include <cstdint>
#include <vector>

#include "recording/take.h"
#include "recording/wave_format.h"

bool isFormatFloat32(const WaveFormat* format);
bool isFormatPCM16(const WaveFormat* format);

// Clips to -1..1 and truncates x * 32767 toward zero; NaN gives 0.
int16_t floatToPCM16(float x);

// Channels a take keeps of a capture format: mono stays mono, anything wider
// keeps its first two channels (front left and right) as stereo.
int takeChannels(const WaveFormat* format);

// Converts one packet of `frames` frames in `format` into packetSamples, with
// takeChannels(format) samples a frame, and appends the same samples to take.
// A silent packet gives zeros whatever its buffer holds. Returns false, with
// nothing appended and packetSamples empty, when the format is not accepted.
// packetSamples keeps its capacity, so steady packets allocate nothing.
bool convertPacket(const WaveFormat* format, const uint8_t* data, uint32_t frames, bool silent,
                   std::vector<int16_t>& packetSamples, Take& take);
