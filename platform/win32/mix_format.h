#pragma once
// Implemented features:
// - the stream format of a shared-mode mix format (WAVEFORMATEX or its
//   WAVEFORMATEXTENSIBLE form): rate, channel count and sample type
#include <windows.h>

#include <mmreg.h>

#include <optional>

#include "recording/capture_source.h"

// What every packet of a stream in `mixFormat` holds, or nothing when its
// samples are of a kind no SampleType describes (8-bit, compressed, an
// unknown sub-format, a record whose sizes disagree). Reads cbSize bytes past
// the head only when the tag says the record is the extensible form.
std::optional<StreamFormat> streamFormatOf(const WAVEFORMATEX& mixFormat);
