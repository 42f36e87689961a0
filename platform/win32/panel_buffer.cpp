#include "panel_buffer.h"

#include <algorithm>

#include "gdi_canvas.h"

namespace {

// A palette's own background also fills the gaps of a dotted line.
void setGapColor(HDC dc, const PanelPalette& palette) {
    if (palette.background)
        SetBkColor(dc, RGB(palette.background->r, palette.background->g, palette.background->b));
}

}  // namespace

PanelBuffer::~PanelBuffer() { release(); }

bool PanelBuffer::paint(int controlId, const DRAWITEMSTRUCT& item, const PanelPalette& palette) {
    const RECT& area = item.rcItem;
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    const Rect rect{area.left, area.top, area.right, area.bottom};
    bool drawn = false;
    if (!reserve(item.hDC, width, height)) {
        // Straight onto the screen then, with the context restored after.
        const int saved = SaveDC(item.hDC);
        setGapColor(item.hDC, palette);
        {
            GdiCanvas canvas(item.hDC);
            drawn = drawPanel(controlId, canvas, rect, palette);
        }
        RestoreDC(item.hDC, saved);
        return drawn;
    }
    // What the control's context holds for this paint (its font, and the
    // background that fills the gaps of a dotted line), at its coordinates.
    const HGDIOBJ font = SelectObject(dc_, GetCurrentObject(item.hDC, OBJ_FONT));
    SetBkMode(dc_, GetBkMode(item.hDC));
    SetBkColor(dc_, GetBkColor(item.hDC));
    SetTextColor(dc_, GetTextColor(item.hDC));
    setGapColor(dc_, palette);
    SetWindowOrgEx(dc_, area.left, area.top, nullptr);
    {
        GdiCanvas canvas(dc_);
        drawn = drawPanel(controlId, canvas, rect, palette);
    }
    BitBlt(item.hDC, area.left, area.top, width, height, dc_, area.left, area.top, SRCCOPY);
    SelectObject(dc_, font);
    return drawn;
}

bool PanelBuffer::reserve(HDC screen, int width, int height) {
    if (dc_ != nullptr && width <= width_ && height <= height_) return true;
    release();
    width = std::max(width, width_);
    height = std::max(height, height_);
    dc_ = CreateCompatibleDC(screen);
    // Compatible with the screen's context: one made from the memory context would be monochrome.
    bitmap_ = CreateCompatibleBitmap(screen, width, height);
    if (dc_ == nullptr || bitmap_ == nullptr) {
        release();
        return false;
    }
    initialBitmap_ = SelectObject(dc_, bitmap_);
    width_ = width;
    height_ = height;
    return true;
}

void PanelBuffer::release() {
    if (dc_ != nullptr && initialBitmap_ != nullptr) SelectObject(dc_, initialBitmap_);
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
    if (dc_ != nullptr) DeleteDC(dc_);
    dc_ = nullptr;
    bitmap_ = nullptr;
    initialBitmap_ = nullptr;
}
