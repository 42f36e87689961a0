#pragma once
// Implemented features: the capture-source port over a PulseAudio server (or
// PipeWire's), recording the server's default source as 32-bit float at the
// source's own rate, mono or stereo.
#include <memory>

#include "recording/capture_source.h"

// An unopened source. Each source connects anew, when opened, to the server
// named by PULSE_SERVER or to the user's default server, and never starts one.
std::unique_ptr<CaptureSource> makePulseCaptureSource();
