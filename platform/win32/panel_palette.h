#pragma once
// Implemented features:
// - the panels' colours for the current Windows colour setting: the core's
//   own while high contrast is off, the system's colours while it is on
#include "panels/panels.h"

// Reads the high-contrast setting and the system colours as they are now.
// Any thread; call it again after WM_SYSCOLORCHANGE or a WM_SETTINGCHANGE for
// SPI_SETHIGHCONTRAST.
PanelPalette currentPanelPalette();
