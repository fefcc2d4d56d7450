#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>

#include <cstdint>
#include <optional>

namespace metafile {

// How to draw with a binary raster operation (pen and brush against the destination).
struct Rop2Drawing {
    bool draws = true;                       // false for the operation that keeps the destination
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    std::optional<QColor> colour;            // the operations that paint black or white
};
Rop2Drawing Rop2ToDrawing(int rop2);

// The ternary raster operation code of a ROP value (its third byte): bit (p << 2 | s << 1 | d)
// of the code is the result for pattern bit p, source bit s and destination bit d.
constexpr uint8_t Rop3Code(uint32_t rop) { return static_cast<uint8_t>(rop >> 16); }
constexpr bool Rop3UsesSource(uint8_t code) { return ((code >> 2) & 0x33) != (code & 0x33); }
constexpr bool Rop3UsesPattern(uint8_t code) { return ((code >> 4) & 0x0F) != (code & 0x0F); }
constexpr uint8_t kRop3SourceCopy = 0xCC;
constexpr uint8_t kRop3PatternCopy = 0xF0;

uint32_t Rop3(uint8_t code, uint32_t pattern, uint32_t source, uint32_t destination);

// Applies the operation to target pixels at offset `at` wherever coverage (same size as
// source and pattern layers) has alpha of at least one half. Layers may be null images
// when the code does not use them. Results are opaque.
void ApplyRop3(QImage& target, QPoint at, uint8_t code, const QImage& source, const QImage& pattern, const QImage& coverage);

}  // namespace metafile
