// Implemented features:
// - background in the button-face system colour, solid filled rectangles
// - solid and dotted pens, created per paint and deleted after use
// - lines (end point excluded, as LineTo draws them) and transparent text
#include "gdi_canvas.h"

namespace {

RECT toRect(const Rect& rect) { return RECT{rect.left, rect.top, rect.right, rect.bottom}; }

COLORREF toColorRef(Color color) { return RGB(color.r, color.g, color.b); }

}  // namespace

GdiCanvas::~GdiCanvas() {
    if (pen_ != nullptr) {
        restorePen();
    }
}

void GdiCanvas::fillBackground(const Rect& rect) {
    const RECT area = toRect(rect);
    // A system colour index plus one stands in for a brush and is never deleted.
    FillRect(dc_, &area, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1)));
}

void GdiCanvas::fillRect(const Rect& rect, Color color) {
    const RECT area = toRect(rect);
    HBRUSH brush = CreateSolidBrush(toColorRef(color));
    if (brush == nullptr) {
        return;
    }
    FillRect(dc_, &area, brush);
    DeleteObject(brush);
}

void GdiCanvas::selectPen(PenStyle style, int width, Color color) {
    if (pen_ != nullptr) {
        restorePen();
    }
    pen_ = CreatePen(style == PenStyle::Dot ? PS_DOT : PS_SOLID, width, toColorRef(color));
    if (pen_ != nullptr) {
        previousPen_ = SelectObject(dc_, pen_);
    }
}

void GdiCanvas::restorePen() {
    if (pen_ == nullptr) {
        return;
    }
    // The pen must leave the device context before it can be deleted.
    SelectObject(dc_, previousPen_);
    DeleteObject(pen_);
    pen_ = nullptr;
    previousPen_ = nullptr;
}

void GdiCanvas::moveTo(int32_t x, int32_t y) { MoveToEx(dc_, x, y, nullptr); }

void GdiCanvas::lineTo(int32_t x, int32_t y) { LineTo(dc_, x, y); }

void GdiCanvas::drawText(int32_t x, int32_t y, const std::wstring& text, Color color) {
    SetBkMode(dc_, TRANSPARENT);
    SetTextColor(dc_, toColorRef(color));
    TextOutW(dc_, x, y, text.c_str(), lstrlenW(text.c_str()));
}
