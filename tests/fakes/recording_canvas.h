#pragma once
// A canvas that writes every drawing call down as one line of text, so tests
// can check coordinates exactly.
#include <string>
#include <vector>

#include "panels/canvas.h"

class RecordingCanvas : public Canvas {
public:
    void fillBackground(const Rect& r) override { add("background " + rect(r)); }
    void fillRect(const Rect& r, Color c) override { add("fill " + rect(r) + " " + color(c)); }
    void selectPen(PenStyle style, int width, Color c) override {
        ++pensAlive;
        add((style == PenStyle::Dot ? "pen dot " : "pen solid ") + std::to_string(width) + " " + color(c));
    }
    void restorePen() override { --pensAlive, add("restore"); }
    void moveTo(int32_t x, int32_t y) override { add("move " + point(x, y)); }
    void lineTo(int32_t x, int32_t y) override { add("line " + point(x, y)); }
    void drawText(int32_t x, int32_t y, const std::wstring& text, Color c) override {
        add("text " + point(x, y) + " " + std::string(text.begin(), text.end()) + " " + color(c));
    }

    std::vector<std::string> ops;
    int pensAlive = 0;  // pens selected and not yet restored

private:
    void add(std::string op) { ops.push_back(std::move(op)); }
    static std::string point(int32_t x, int32_t y) { return std::to_string(x) + "," + std::to_string(y); }
    static std::string rect(const Rect& r) { return point(r.left, r.top) + "-" + point(r.right, r.bottom); }
    static std::string color(Color c) {
        return "rgb(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
    }
};
