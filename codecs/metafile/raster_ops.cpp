#include "raster_ops.h"

namespace metafile {

Rop2Drawing Rop2ToDrawing(int rop2) {
    using M = QPainter::CompositionMode;
    Rop2Drawing d;
    switch (rop2) {
    case 1: d.colour = QColor(Qt::black); break;
    case 2: d.mode = M::RasterOp_NotSourceAndNotDestination; break;
    case 3: d.mode = M::RasterOp_NotSourceAndDestination; break;
    case 4: d.mode = M::RasterOp_NotSource; break;
    case 5: d.mode = M::RasterOp_SourceAndNotDestination; break;
    case 6: d.mode = M::RasterOp_NotDestination; break;
    case 7: d.mode = M::RasterOp_SourceXorDestination; break;
    case 8: d.mode = M::RasterOp_NotSourceOrNotDestination; break;
    case 9: d.mode = M::RasterOp_SourceAndDestination; break;
    case 10: d.mode = M::RasterOp_NotSourceXorDestination; break;
    case 11: d.draws = false; break;
    case 12: d.mode = M::RasterOp_NotSourceOrDestination; break;
    case 14: d.mode = M::RasterOp_SourceOrNotDestination; break;
    case 15: d.mode = M::RasterOp_SourceOrDestination; break;
    case 16: d.colour = QColor(Qt::white); break;
    default: break;  // 13 copies the pen; unknown values do the same
    }
    return d;
}

uint32_t Rop3(uint8_t code, uint32_t pattern, uint32_t source, uint32_t destination) {
    uint32_t result = 0;
    for (int i = 0; i < 8; ++i) {
        if ((code & (1 << i)) == 0) continue;
        result |= ((i & 4) ? pattern : ~pattern) & ((i & 2) ? source : ~source) & ((i & 1) ? destination : ~destination);
    }
    return result;
}

void ApplyRop3(QImage& target, QPoint at, uint8_t code, const QImage& source, const QImage& pattern, const QImage& coverage) {
    for (int y = 0; y < coverage.height(); ++y) {
        const int ty = at.y() + y;
        if (ty < 0 || ty >= target.height()) continue;
        const auto* cover = reinterpret_cast<const QRgb*>(coverage.constScanLine(y));
        const auto* src = source.isNull() ? nullptr : reinterpret_cast<const QRgb*>(source.constScanLine(y));
        const auto* pat = pattern.isNull() ? nullptr : reinterpret_cast<const QRgb*>(pattern.constScanLine(y));
        auto* dst = reinterpret_cast<QRgb*>(target.scanLine(ty));
        for (int x = 0; x < coverage.width(); ++x) {
            const int tx = at.x() + x;
            if (tx < 0 || tx >= target.width() || qAlpha(cover[x]) < 128) continue;
            const uint32_t s = src != nullptr ? src[x] : 0;
            const uint32_t p = pat != nullptr ? pat[x] : 0;
            dst[tx] = (Rop3(code, p, s, dst[tx]) & 0x00FFFFFFu) | 0xFF000000u;
        }
    }
}

}  // namespace metafile
