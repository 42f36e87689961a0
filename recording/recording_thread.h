#pragma once
// One take, from opening the capture device to the finished WAV file.
#include <chrono>
#include <cstdint>
#include <string>

#include "recording/capture_source.h"
#include "recording/take.h"

class WindowPort;

// Largest take in samples whose data size both WAV size fields describe.
constexpr uint64_t MAX_TAKE_SAMPLES = 2147483629ull;

// UTF-8 encoding of a wide string, one code point per character (UTF-16
// surrogate pairs are combined where wchar_t is 16 bits). Throws
// std::range_error for a lone surrogate or a value above U+10FFFF.
std::string ws2s(const std::wstring& text);

// Thread body. path: the file the user chose; window: where to post the
// take's messages; makeSource: opens the capture device, again after it was lost.
// The window thread sets recordingThreadActive before it starts the thread;
// the thread clears it as its last step.
void recordAudioToWav(std::wstring path, WindowPort* window, CaptureSourceFactory makeSource);

// The same with a chosen size limit in samples and a take to fill (tests use
// a small limit and small blocks). The take is left as captured.
void recordTake(const std::wstring& path, WindowPort* window, const CaptureSourceFactory& makeSource,
                uint64_t maxTakeSamples, Take& take);

// Any thread but the recording thread: asks the running take to write every
// sample captured so far and its header now. True once that is done; false
// when `longest` passed first (no take running, or its file already failed).
bool bringTakeFileUpToDate(std::chrono::milliseconds longest);
