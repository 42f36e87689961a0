#pragma once
// Feeds one accepted packet to the live views: the display history, the FFT
// hand-off (at most every 200 ms, at most 4 blocks waiting) and the level meter.
// Recording thread only.
#include <chrono>
#include <cstdint>
#include <vector>

// Time of the last block handed to the spectrum worker. Set once per process
// when the first take starts capturing, then by each hand-off.
extern std::chrono::steady_clock::time_point lastFFT;

constexpr std::chrono::milliseconds FFT_INTERVAL{200};

// Begins the level meter's next reading afresh. At a take's start, so that its
// first reading holds none of the last take's input.
void restartLevelReading();

// `now` is one reading of the steady clock, taken by the caller so that tests
// can choose it.
void feedLiveAnalysis(const std::vector<int16_t>& packetSamples, int channels,
                      std::chrono::steady_clock::time_point now);
