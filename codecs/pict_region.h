#pragma once

#include <QRect>
#include <QRegion>

#include <cstdint>
#include <span>

// QuickDraw regions: a size (counting itself), a bounding box and, for anything but a plain
// rectangle, scan lines. Each line gives its y and the x positions where coverage flips
// compared with the line above, ending with 0x7FFF; the list of lines ends with 0x7FFF too.
// Coordinates are the picture's own units.

// The bounding box of a region or polygon record (the 8 bytes after its size).
QRect PictRecordBox(std::span<const uint8_t> record);

// The area a region record covers. Records cut short or too intricate to hold (beyond a
// bound on rectangles, so that a few bytes cannot ask for millions) cover their bounding box.
QRegion PictRegion(std::span<const uint8_t> record);
