#pragma once
// The 2-D canvas port the panels draw through. Window thread only.
// Rectangles exclude their right and bottom edges.
#include <cstdint>
#include <string>

struct Rect {
    int32_t left, top, right, bottom;
};

struct Color {
    uint8_t r, g, b;
    bool operator==(const Color&) const = default;
};

enum class PenStyle { Solid, Dot };

class Canvas {
public:
    virtual ~Canvas() = default;
    // The system's button-face colour.
    virtual void fillBackground(const Rect& rect) = 0;
    virtual void fillRect(const Rect& rect, Color color) = 0;
    // Creates a pen and makes it current; restorePen makes the previous pen
    // current again and deletes this one. Calls pair up, never nest.
    virtual void selectPen(PenStyle style, int width, Color color) = 0;
    virtual void restorePen() = 0;
    virtual void moveTo(int32_t x, int32_t y) = 0;
    // Draws to (x, y) with the current pen, end point excluded.
    virtual void lineTo(int32_t x, int32_t y) = 0;
    // Text in the default font with its top-left corner at (x, y), no background.
    virtual void drawText(int32_t x, int32_t y, const std::wstring& text, Color color) = 0;
};
