#pragma once
// Implemented features:
// - the memory bitmap an owner-drawn panel is painted into and copied from
//   with one BitBlt, so that a repaint never shows a half-drawn panel
#include <windows.h>

#include "panels/panels.h"

// Keeps one memory device context and a bitmap as large as the largest panel
// painted so far, for the window's lifetime. Window thread only.
class PanelBuffer {
public:
    PanelBuffer() = default;
    ~PanelBuffer();
    PanelBuffer(const PanelBuffer&) = delete;
    PanelBuffer& operator=(const PanelBuffer&) = delete;

    // Draws the panel `controlId` for WM_DRAWITEM in `palette`'s colours and
    // returns what the panel's drawing returned. item.hDC is left as it came.
    bool paint(int controlId, const DRAWITEMSTRUCT& item, const PanelPalette& palette);

private:
    // A bitmap of at least this size, compatible with `screen`; false if
    // GDI has none to give.
    bool reserve(HDC screen, int width, int height);
    void release();

    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ initialBitmap_ = nullptr;  // selected back before the bitmap is deleted
    int width_ = 0;
    int height_ = 0;
};
