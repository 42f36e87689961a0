#include "panel_palette.h"

#include <windows.h>

namespace {

Color systemColor(int index) {
    const COLORREF color = GetSysColor(index);
    return Color{GetRValue(color), GetGValue(color), GetBValue(color)};
}

}  // namespace

PanelPalette currentPanelPalette() {
    HIGHCONTRASTW setting{};
    setting.cbSize = sizeof(setting);
    if (!SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(setting), &setting, 0) ||
        (setting.dwFlags & HCF_HIGHCONTRASTON) == 0) {
        return DEFAULT_PANEL_PALETTE;
    }
    // The theme's pairs only: text on the window colour for every line and
    // for the label, so that each stays readable as text does; the selection
    // colour for what is filled or marked (the level bar, the peak marker),
    // set off from the lines as a selection is from text.
    const Color text = systemColor(COLOR_WINDOWTEXT);
    const Color mark = systemColor(COLOR_HIGHLIGHT);
    return PanelPalette{systemColor(COLOR_WINDOW), mark, text, text, text, mark, text};
}
