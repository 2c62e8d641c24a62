#pragma once
// Whether the screen shows at most 256 colours through a palette. The loaders
// take it as the default for palette output, which load flags override. It is
// false unless the window reports a screen of 8 bits per pixel or fewer.

bool ScreenIsPalettized();

// Called by the window when it learns the screen's depth.
void SetScreenPalettized(bool palettized);
