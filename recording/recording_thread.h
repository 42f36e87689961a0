#pragma once
// One take, from opening the capture device to the finished WAV file.
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <memory>
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

// Opens the file a take is written to, truncating it; null when it cannot be
// created. Tests put a stream that fails part-way in its place.
extern std::unique_ptr<std::ostream> (*openTakeFile)(const std::filesystem::path& path);

// Thread body. path: the file the user chose; window: where to post the
// take's messages; source: the capture device, owned for this take.
void recordAudioToWav(std::wstring path, WindowPort* window, std::unique_ptr<CaptureSource> source);

// The same with a chosen size limit in samples and a take to fill (tests use
// a small limit and small blocks). The take is left as captured.
void recordTake(const std::wstring& path, WindowPort* window, CaptureSource& source, uint64_t maxTakeSamples,
                Take& take);
