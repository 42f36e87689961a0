#pragma once
// One take, from opening the capture device to the finished WAV file.
#include <cstdint>
#include <string>

#include "recording/capture_source.h"
#include "recording/take.h"
#include "recording/take_file.h"
#include "recording/take_saving.h"
#include "recording/text_encoding.h"

class WindowPort;

// Thread body. path: the file the user chose; window: where to post the
// take's messages; makeSource: opens the capture device, again after it was lost.
// The window thread sets recordingThreadActive before it starts the thread;
// the thread clears it as its last step.
void recordAudioToWav(std::wstring path, WindowPort* window, CaptureSourceFactory makeSource);

// Ends the take that is capturing, at once: clears isRecording and wakes the
// recording thread wherever it waits. Any thread.
void stopRecording();

// The same with a chosen size limit in samples and a take to fill (tests use
// a small limit and small blocks). The take is left as captured.
void recordTake(const std::wstring& path, WindowPort* window, const CaptureSourceFactory& makeSource,
                uint64_t maxTakeSamples, Take& take);
