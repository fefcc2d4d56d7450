#pragma once

#include <cstddef>
#include <cstdint>

#include <tiffio.h>

// Opens one block of memory with libtiff for reading: the rest of a data source, which may
// start inside another file (the TIFF preview of an EPS file). Reads and seeks stay within
// the block, whose size libtiff is told, and libtiff reads strips straight out of it as
// from a mapped file; nothing is ever written to it. The block must outlive the handle.
//
// options (may be none) carries the handle's error and warning handlers. Returns none when
// libtiff cannot open the data; its error handler has then been told why.
TIFF* TiffMemoryOpen(const uint8_t* data, size_t byteCount, TIFFOpenOptions* options);
