#pragma once
// Implemented features:
// - the panels' Canvas over a GDI device context (one paint's worth of pens and brushes)
#include <windows.h>

#include "panels/canvas.h"

// Draws into a device context it does not own. Pens live from selectPen to
// restorePen; one still selected when the canvas dies is put back and freed.
class GdiCanvas final : public Canvas {
public:
    explicit GdiCanvas(HDC dc) : dc_(dc) {}
    ~GdiCanvas() override;
    GdiCanvas(const GdiCanvas&) = delete;
    GdiCanvas& operator=(const GdiCanvas&) = delete;

    void fillBackground(const Rect& rect) override;
    void fillRect(const Rect& rect, Color color) override;
    void selectPen(PenStyle style, int width, Color color) override;
    void restorePen() override;
    void moveTo(int32_t x, int32_t y) override;
    void lineTo(int32_t x, int32_t y) override;
    void drawText(int32_t x, int32_t y, const std::wstring& text, Color color) override;

private:
    HDC dc_;
    HPEN pen_ = nullptr;
    HGDIOBJ previousPen_ = nullptr;
};
