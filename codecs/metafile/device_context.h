#pragma once

#include "gdi_objects.h"

#include <QColor>
#include <QPainterPath>
#include <QPointF>
#include <QSizeF>
#include <QTransform>

#include <cstdint>
#include <vector>

namespace metafile {

enum MapMode : int {
    kMmText = 1,
    kMmLoMetric = 2,
    kMmHiMetric = 3,
    kMmLoEnglish = 4,
    kMmHiEnglish = 5,
    kMmTwips = 6,
    kMmIsotropic = 7,
    kMmAnisotropic = 8,
};

enum BackgroundMode : int { kTransparent = 1, kOpaque = 2 };
enum PolyFillMode : int { kAlternate = 1, kWinding = 2 };
enum ArcDirection : int { kCounterClockwise = 1, kClockwise = 2 };
constexpr int kR2CopyPen = 13;     // the binary raster operation that paints with the pen
constexpr int kStretchHalftone = 4;  // stretched bitmaps are averaged, not sampled

// Text alignment bits.
enum TextAlign : uint32_t {
    kTaUpdateCp = 0x0001,
    kTaRight = 0x0002,
    kTaCenter = 0x0006,
    kTaHorizontalMask = 0x0006,
    kTaBottom = 0x0008,
    kTaBaseline = 0x0018,
    kTaVerticalMask = 0x0018,
};

// Everything a saved device context brings back.
struct DcState {
    int mapMode = kMmText;
    QPointF windowOrg;
    QSizeF windowExt{1, 1};
    QPointF viewportOrg;
    QSizeF viewportExt{1, 1};
    QTransform world;

    GdiPen pen;
    GdiBrush brush;
    GdiFont font;
    GdiPalette palette;

    QColor textColour = Qt::black;
    QColor bkColour = Qt::white;
    int bkMode = kOpaque;
    uint32_t textAlign = 0;
    double charExtra = 0;  // logical units added after each character
    int polyFillMode = kAlternate;
    int rop2 = kR2CopyPen;
    int stretchMode = 1;
    int arcDirection = kCounterClockwise;
    double miterLimit = 10;
    QPointF position;  // the current position, logical units

    bool clipped = false;
    QPainterPath clip;  // output pixels
};

// The state of one playing device context: attributes, selected objects, clipping and the
// chain of coordinate spaces logical -> (world) -> page -> metafile device -> output pixels.
// The last step, fixed for one playing, places the metafile's own device space (the
// reference device of an enhanced metafile, the picture box of a 16-bit one) onto the
// output picture.
class CDeviceContext {
public:
    // pixelsPerMm: the metafile device's resolution, which the metric and English mapping
    // modes use.
    CDeviceContext(const QTransform& device, double pixelsPerMmX, double pixelsPerMmY);

    DcState& State() { return state_; }
    const DcState& State() const { return state_; }

    void Save();
    // which < 0 counts back from the last saved state; which > 0 names one from the first.
    void Restore(int which);

    void SetMapMode(int mode);
    void SetWindowOrg(QPointF org) { state_.windowOrg = org; }
    void SetViewportOrg(QPointF org) { state_.viewportOrg = org; }
    // Extents of zero are refused, as GDI refuses them.
    void SetWindowExt(QSizeF ext);
    void SetViewportExt(QSizeF ext);
    void ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom);
    void ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom);

    // Logical units to the metafile device.
    QTransform PageTransform() const;
    // Logical units to output pixels, world transform included.
    QTransform Transform() const;
    const QTransform& Device() const { return device_; }

private:
    // Deeper nesting than this only comes from broken files; further saves are ignored.
    static constexpr size_t kMaxSavedStates = 4096;

    QTransform device_;
    double pixelsPerMmX_;
    double pixelsPerMmY_;
    DcState state_;
    std::vector<DcState> saved_;
    size_t ignoredSaves_ = 0;
};

}  // namespace metafile
