#pragma once

#include "device_context.h"
#include "gdi_canvas.h"

#include <QPainter>
#include <QPainterPath>
#include <QTransform>

namespace metafile {

// Where text goes: drawn with a painter already set up for clipping and raster operation,
// or (inside a path bracket) added to a path as glyph outlines. Both in output pixels.
// cells, when given, receives the outlines of the run's character cells and its opaque
// rectangle: the area the run covers.
struct TextTarget {
    QPainter* painter = nullptr;
    QPainterPath* path = nullptr;
    QPainterPath* cells = nullptr;
};

// Lays out one run the way GDI does (font height, alignment, escapement, advances,
// opaque background and rectangle, clipping rectangle) and draws it. defaultEm is the
// character height in output pixels of a font that asks for the default height. Returns
// the current position after the run, in logical units, for the update-current-position
// alignment.
QPointF RenderText(const TextTarget& target, const DcState& state, const QTransform& toOutput, const TextRun& run,
                   double defaultEm);

}  // namespace metafile
