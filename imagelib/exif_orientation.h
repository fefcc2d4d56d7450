#pragma once

#include <cstdint>
#include <span>

// The Orientation tag (0x0112) of IFD0 in an Exif block: 1 to 8, or 1 when the block has
// none. block is the TIFF structure Exif stores (byte-order mark, 42, offset of IFD0),
// optionally behind the "Exif\0\0" prefix that JPEG's APP1 segment (and some PNG writers)
// put before it. A malformed block (offsets outside it, absurd counts, a value outside 1 to
// 8) is ignored with a trace line: the picture shows as stored.
int ReadExifOrientation(std::span<const uint8_t> block);
