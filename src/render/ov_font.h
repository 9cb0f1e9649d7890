// The built-in font: 128 x 128 pixels, a 16 x 8 grid of 8 x 16 glyph cells
// for characters 32 ... 159, row by row from the top-left. Each byte holds two
// pixels' coverage (4 bits, the left pixel in the high nibble).
#pragma once

#include <cstdint>

inline constexpr int OV_FONT_SIZE = 128;
inline constexpr int OV_FONT_COLUMNS = 16;
inline constexpr int OV_FONT_ROWS = 8;
inline constexpr int OV_FONT_FIRST_CHAR = 32;

extern const uint8_t g_ovFontCoverage[OV_FONT_SIZE * OV_FONT_SIZE / 2];
