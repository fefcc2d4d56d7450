#pragma once

#include <cstddef>

// The formats the library knows; the codecs' format registry describes each one.
enum class ImageFormat { None, BMP, PICT, TGA, TIFF, JPEG, PNG, EPS, WMF, EMF, PCX, PGM, GIF, WEBP, AVIF, HEIF, JXL, SVG };

// Number of ImageFormat values, None included: tables indexed by format have this size.
constexpr size_t kImageFormatCount = static_cast<size_t>(ImageFormat::SVG) + 1;

// Bytes a signature test may look at. A PICT file's version opcode sits at bytes 522 to
// 525, after its 512-byte preamble.
constexpr size_t kDetectionHeaderSize = 528;
