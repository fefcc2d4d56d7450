#pragma once

#include "play_outcome.h"

#include <QImage>
#include <QRgb>

#include <cstdint>
#include <span>
#include <vector>

namespace metafile {

enum class MetafileKind { Wmf, Emf };

struct RenderedMetafile {
    QImage picture;               // RGB32, white where the metafile draws nothing
    std::vector<QRgb> palette;    // the metafile's own palette (enhanced metafiles only)
    PlayOutcome outcome;
};

// Plays a metafile into a new picture of the size its header gives at dotsPerInch:
// - a placeable 16-bit metafile: its box in units per inch;
// - a 16-bit metafile without that header: its window extent, one unit per pixel, or
//   without a window the extent of what it draws from the origin, one unit per pixel;
// - an enhanced metafile: its frame in hundredths of a millimetre.
// A width that comes out as 0 or less becomes 320, a height 200.
//
// Throws CTextException: code 6 when the data is not a metafile of that kind, code 10
// when the picture would exceed the bitmap storage limit.
RenderedMetafile RenderMetafile(std::span<const uint8_t> data, MetafileKind kind, int dotsPerInch);

struct MetafileMeasure {
    int width = 0;
    int height = 0;
    std::vector<QRgb> palette;  // as RenderedMetafile's
};

// The size RenderMetafile gives the picture and the metafile's palette, from the headers
// (a 16-bit metafile without placeable header: from its first window extent record, found
// by record lengths; without one the records are played onto a single pixel to measure
// what they draw). Throws code 6 as RenderMetafile does for data that is not a metafile of
// that kind.
MetafileMeasure MeasureMetafile(std::span<const uint8_t> data, MetafileKind kind, int dotsPerInch);

}  // namespace metafile
