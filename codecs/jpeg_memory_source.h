#pragma once

// libjpeg's headers need the standard I/O declarations before them.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

// Lets libjpeg read one block of memory: the rest of a data source, which may start inside
// another file (an embedded JPEG stream). libjpeg never reads past the block; when it asks
// for more, it gets libjpeg's "Premature end of JPEG file" warning and an end-of-image
// marker, so a truncated stream decodes the rows it holds.
//
// The managers live in the decompressor's permanent pool and are reused by later calls.
// clientData becomes the decompressor's client_data; progress, when given, becomes its
// progress monitor.
void JpegMemorySource(j_decompress_ptr decompressor, const uint8_t* data, size_t byteCount, void* clientData,
                      void (*progress)(j_common_ptr));
