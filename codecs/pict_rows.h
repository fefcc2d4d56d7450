#pragma once

#include "imagelib/pixel.h"

#include <cstddef>
#include <cstdint>

class CByteSource;
class CImageBitmap;

// The pixel rows of QuickDraw bitmaps and pixmaps: stored plain when a row has fewer than 8
// bytes, otherwise PackBits-packed behind a byte count (one byte when rows hold at most 250
// bytes, two above; some writers use two bytes for shorter rows too, which the first count
// tells).

struct PictRowFormat {
    int pixelSize = 1;    // 1, 2, 4 or 8 (colour indices), 16 (5-5-5) or 32 (component planes)
    size_t rowBytes = 0;  // bytes of one unpacked row, flag bits cleared; 0 derives it from the width
    int components = 3;   // 32 bits: 3 planes (red, green, blue) or 4 (alpha, red, green, blue)
};

// Reads the bitmap's height rows into its 8- or 32-bit rows. Indexed pixels become indices
// (8 bits) or their table colours (32 bits; table has 256 entries); 16- and 32-bit pixels
// need a 32-bit bitmap. Pixels a row's bytes do not cover get index 0 or table[0]. Rows
// whose runs produce more than a row holds keep what fits; runs cut short by their row's
// byte count end the row there.
void ReadPictRows(CByteSource& source, const PictRowFormat& format, const BGRA* table, CImageBitmap& bitmap);

// The fewest bytes height rows of this format can take, so that a picture whose data is
// shorter is refused before its bitmap is allocated.
uint64_t PictRowsMinimumBytes(const PictRowFormat& format, int width, int height);

// Passes over the rows ReadPictRows would read for a bitmap of this size.
void SkipPictPixelRows(CByteSource& source, const PictRowFormat& format, int width, int height);

// Skips height rows of rowBytes bytes (the pixels of a pattern).
void SkipPictRows(CByteSource& source, size_t rowBytes, int height);

// Unpacks PackBits data of elements of elementSize bytes into at most capacity bytes and
// returns the number written: a header h below 128 precedes h + 1 literal elements, 128 is
// skipped, any other h precedes one element repeated 257 - h times.
size_t UnpackBits(const uint8_t* in, size_t inSize, uint8_t* out, size_t capacity, size_t elementSize);
