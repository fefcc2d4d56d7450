#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

enum class ImageFormat { None, BMP, PICT, TGA, TIFF, JPEG, PNG, EPS, WMF, EMF, PCX, PGM, GIF };

// Bytes DetectFormat looks at. A PICT file's version opcode sits at bytes 522 to 525,
// after its 512-byte preamble.
constexpr size_t kDetectionHeaderSize = 528;

// Classifies data of size bytes by its first kDetectionHeaderSize bytes (bytes past the
// end of the data count as 0). The tests run in a fixed order and the first match
// wins: BMP, TGA, GIF, TIFF, PICT, JPEG, PNG, EPS with TIFF preview, PCX, PGM.
ImageFormat DetectFormat(const uint8_t* header, size_t size);

// Metafiles carry no reliable signature; their names decide (".WMF" or ".EMF" anywhere in
// the upper-cased name).
ImageFormat DetectFormatByName(std::string_view name);

// Short upper-case name of a format ("BMP", "JPEG", ...); "unknown" for None.
const char* FormatName(ImageFormat format);
