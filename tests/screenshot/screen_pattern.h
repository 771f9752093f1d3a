// The picture the screenshot test paints over the whole screen and then looks for in the captures:
// cells of solid colour, neighbours far apart in every channel, red and blue never exchanged for one
// another, so that a skewed row, a swapped channel or a shifted rectangle shows at the cell centres.
#pragma once

#include <cstdint>

namespace screenpattern {

constexpr int kCellWidth = 80;
constexpr int kCellHeight = 64;

struct Rgb {
  uint8_t red, green, blue;
};

constexpr Rgb kPalette[12] = {
    {0xFF, 0x00, 0x00}, {0x00, 0xFF, 0x00}, {0x00, 0x00, 0xFF}, {0xFF, 0xFF, 0x00},
    {0x00, 0xFF, 0xFF}, {0xFF, 0x00, 0xFF}, {0xFF, 0xFF, 0xFF}, {0x20, 0x20, 0x20},
    {0xFF, 0x80, 0x00}, {0x80, 0x00, 0xFF}, {0x00, 0x80, 0x40}, {0xC0, 0xC0, 0x60},
};

// Colour of the cell holding screen pixel (x, y).
inline Rgb ColourAt(int x, int y) {
  const int column = x / kCellWidth;
  const int row = y / kCellHeight;
  return kPalette[(column + 5 * row) % 12];
}

}  // namespace screenpattern
