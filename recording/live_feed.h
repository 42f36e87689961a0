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

// The level's reading that is under way holds input not measured yet: short
// packets are summed until they are long enough to measure.
bool levelReadingUnderWay();
// Level readings completed so far.
uint64_t levelReadingCount();

// True once after each change of what the views would draw (the level, the
// waveform's trace); the views of silence stand still. The spectrum's changes
// are the spectrum worker's to announce.
bool takeLiveViewsChanged();

// At a take's start: a new level reading, and views that may show anything.
void restartLiveViews();

// `now` is one reading of the steady clock, taken by the caller so that tests
// can choose it.
void feedLiveAnalysis(const std::vector<int16_t>& packetSamples, int channels,
                      std::chrono::steady_clock::time_point now);
