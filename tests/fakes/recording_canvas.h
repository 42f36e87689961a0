#pragma once
// A canvas that writes every drawing call down as one line of text (colours
// left out), so tests can check coordinates exactly.
#include <string>
#include <vector>

#include "panels/canvas.h"

class RecordingCanvas : public Canvas {
public:
    void fillBackground(const Rect& r) override { ops.push_back("background " + rect(r)); }
    void fillRect(const Rect& r, Color) override { ops.push_back("fill " + rect(r)); }
    void selectPen(PenStyle style, int width, Color) override {
        ++pensAlive;
        ops.push_back((style == PenStyle::Dot ? "pen dot " : "pen solid ") + std::to_string(width));
    }
    void restorePen() override { --pensAlive, ops.push_back("restore"); }
    void moveTo(int32_t x, int32_t y) override { ops.push_back("move " + point(x, y)); }
    void lineTo(int32_t x, int32_t y) override { ops.push_back("line " + point(x, y)); }
    void drawText(int32_t x, int32_t y, const std::wstring& text, Color) override {
        ops.push_back("text " + point(x, y) + " " + std::string(text.begin(), text.end()));
    }

    std::vector<std::string> ops;
    int pensAlive = 0;  // pens selected and not yet restored

private:
    static std::string point(int32_t x, int32_t y) { return std::to_string(x) + "," + std::to_string(y); }
    static std::string rect(const Rect& r) { return point(r.left, r.top) + "-" + point(r.right, r.bottom); }
};
