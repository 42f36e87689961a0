#pragma once
// Turning a packet of whatever the device delivers into the take's 16-bit samples.
#include <cstdint>
#include <vector>

#include "recording/capture_source.h"
#include "recording/take.h"

// Clips to -1..1 and truncates x * 32767 toward zero; NaN gives 0.
int16_t floatToPCM16(float x);

// Channels a take keeps of a stream: mono stays mono, anything wider keeps
// its first two channels (front left and right) as stereo.
int takeChannels(const StreamFormat& format);

// Converts one packet of `frames` frames of `format` into packetSamples, with
// `channels` (the take's, 1 or 2) samples a frame, and appends the same
// samples to take. Channel c of the take is the stream's channel c, or its
// last one where it has fewer: a mono stream fills both sides of a stereo
// take. 16-bit samples are kept as they are; every other type is scaled to
// -1..1 and goes through floatToPCM16's clipping and rounding. A silent
// packet gives zeros whatever its buffer holds. packetSamples keeps its
// capacity, so steady packets allocate nothing.
void convertPacket(const StreamFormat& format, int channels, const uint8_t* data, uint32_t frames,
                   bool silent, std::vector<int16_t>& packetSamples, Take& take);
