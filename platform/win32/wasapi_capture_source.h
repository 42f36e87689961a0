#pragma once
// Implemented features:
// - makeWasapiCaptureSource, the factory the Windows program installs as
//   captureSourceFactory: the default console capture endpoint, opened in
//   shared mode and polled
// - the same source over another device enumerator, for the tests' fakes
#include <windows.h>

#include <functional>
#include <memory>

#include "recording/capture_source.h"

struct IMMDeviceEnumerator;

// Creates a device enumerator as CoCreateInstance would: a status and, on
// success, one counted reference that the caller then owns. Called on the
// recording thread from open(), after COM is initialised there.
using DeviceEnumeratorFactory = std::function<HRESULT(IMMDeviceEnumerator** enumerator)>;

std::unique_ptr<CaptureSource> makeWasapiCaptureSource();
std::unique_ptr<CaptureSource> makeWasapiCaptureSourceWith(DeviceEnumeratorFactory makeEnumerator);
