#pragma once
// What the main window looks like, the same on every platform: caption, the
// fixed client layout in pixels, control texts and the Save As proposal.
// Both programs build their windows from these; the window never rescales.
#include <array>

#include "base/messages.h"
#include "base/shared_state.h"

constexpr wchar_t WINDOW_CAPTION[] = L"Quorvel: Thread-Safe GUI 64K FFT";

// Outer size of the Windows frame; its client area is CLIENT_WIDTH x CLIENT_HEIGHT,
// which is what the Linux window asks for directly.
constexpr int WINDOW_WIDTH = 400;
constexpr int WINDOW_HEIGHT = 270;
constexpr int CLIENT_WIDTH = 384;
constexpr int CLIENT_HEIGHT = 231;

// A child control of the main window at its client coordinates. The status
// line has no control id (0).
struct ControlLayout {
    int controlId;
    int x, y, width, height;
    const wchar_t* text;  // nullptr for the owner-drawn panels
};
constexpr int IDC_STATUS = 0;

constexpr std::array<ControlLayout, 6> MAIN_WINDOW_CONTROLS{{
    {IDC_START, 20, 20, 140, 30, L"Start Recording"},
    {IDC_STOP, 180, 20, 80, 30, L"Stop"},
    {IDC_STATUS, 20, 60, 340, 20, L"Ready"},
    {IDC_VOLUME_METER, 20, 90, 340, 20, nullptr},
    {IDC_WAVEFORM, 20, 120, 340, 40, nullptr},
    {IDC_SPECTRUM, 20, 170, 340, 40, nullptr},
}};

// Save As file types in the order offered. On Windows a name typed without an
// extension gets ".wav", whichever type is chosen; on Linux it is used as typed.
struct FileFilter {
    const wchar_t* description;
    const wchar_t* pattern;
};
constexpr std::array<FileFilter, 2> SAVE_FILTERS{{
    {L"WAV files", L"*.wav"},
    {L"All files", L"*.*"},
}};
