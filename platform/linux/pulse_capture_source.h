#pragma once
// Implemented features: the capture-source port over a PulseAudio server
// (libpulse, its main loop run by the recording thread), recording the
// server's default source as 32-bit float at the source's own rate, mono or
// stereo.
#include <memory>

#include "recording/capture_source.h"

// Connects to the server named by PULSE_SERVER, or to the user's default
// server, when the recording thread calls createEnumerator. Never autospawns
// a server. Each call gives a new, unconnected source.
std::unique_ptr<CaptureSource> makePulseCaptureSource();
