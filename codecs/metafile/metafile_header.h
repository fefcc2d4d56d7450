#pragma once

#include <QRect>
#include <QRgb>
#include <QSizeF>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace metafile {

// The 22-byte header some 16-bit metafiles start with ("placeable" metafiles): the
// picture's box in logical units and how many of those units make an inch.
struct PlaceableHeader {
    QRect box;  // left, top, right, bottom as stored
    int unitsPerInch = 0;
};

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr size_t kPlaceableHeaderSize = 22;

struct WmfFile {
    std::optional<PlaceableHeader> placeable;
    int objects = 0;                    // handle table size the header asks for
    std::span<const uint8_t> records;   // from the first record to the end of the data
};

// Checks the headers of a 16-bit metafile. Throws CTextException code 6 when the data is
// not one.
WmfFile ParseWmf(std::span<const uint8_t> data);

struct EmfFile {
    QRect bounds;                // device units, inclusive
    QRect frame;                 // hundredths of a millimetre, inclusive
    QSizeF devicePixels;         // the reference device: its size in pixels ...
    QSizeF deviceMillimetres;    // ... and in millimetres
    int handles = 0;             // size of the handle table, slot 0 included
    std::vector<QRgb> palette;   // from the end-of-file record
    std::span<const uint8_t> records;  // the whole metafile as its header's byte count gives it
};

// Checks the header record of an enhanced metafile and finds its palette. Throws
// CTextException code 6 when the data is not one.
EmfFile ParseEmf(std::span<const uint8_t> data);

}  // namespace metafile
