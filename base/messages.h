#pragma once
// Messages posted to the main window and the ids of its controls. The posted
// messages carry no data: the window reads the shared state when it handles them.
#include <cstdint>

constexpr uint32_t WM_APP_BASE = 0x8000;
constexpr uint32_t WM_APP_UPDATE_VISUALS = WM_APP_BASE + 1;
constexpr uint32_t WM_APP_RECORDING_DONE = WM_APP_BASE + 2;
constexpr uint32_t WM_APP_RECORDING_STARTED = WM_APP_BASE + 3;
// The capture device could not be set up; the take never started.
constexpr uint32_t WM_APP_RECORDING_FAILED = WM_APP_BASE + 4;
// The take's file could not be written; the take waits in memory for the
// window's answer (saveAnswer): another path, or discard.
constexpr uint32_t WM_APP_SAVE_FAILED = WM_APP_BASE + 5;
// No packet has come from the device for a while (deviceSilentSeconds).
constexpr uint32_t WM_APP_RECORDING_STALLED = WM_APP_BASE + 6;
// A new spectrum is published. It comes a few times a second, while the level
// and the waveform change with every packet: each repaints only its own panels.
constexpr uint32_t WM_APP_UPDATE_SPECTRUM = WM_APP_BASE + 7;
// The take's file could not be written while recording; the take goes on in
// memory and is saved elsewhere after Stop.
constexpr uint32_t WM_APP_WRITE_FAILED = WM_APP_BASE + 8;
// The device went away mid-take; the recording thread is opening it again.
constexpr uint32_t WM_APP_RECONNECTING = WM_APP_BASE + 9;
// The level changed while the waveform waits for its next repaint: each panel
// keeps its own repaint ceiling, so that a sound's onset shows on the meter
// at once, whenever the waveform was last repainted.
constexpr uint32_t WM_APP_UPDATE_LEVEL = WM_APP_BASE + 10;

constexpr int IDC_START = 1;
constexpr int IDC_STOP = 2;
constexpr int IDC_VOLUME_METER = 3;
constexpr int IDC_WAVEFORM = 4;
constexpr int IDC_SPECTRUM = 5;
