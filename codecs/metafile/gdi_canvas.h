#pragma once

#include "device_context.h"
#include "gdi_objects.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>

#include <array>
#include <optional>
#include <span>
#include <vector>

namespace metafile {

// Region combination modes.
enum RegionMode : int { kRgnAnd = 1, kRgnOr = 2, kRgnXor = 3, kRgnDiff = 4, kRgnCopy = 5 };

// Text output options.
enum TextOptions : uint32_t {
    kEtoOpaque = 0x0002,
    kEtoClipped = 0x0004,
    kEtoGlyphIndex = 0x0010,
    kEtoPdy = 0x2000,
};

// One string to draw: reference point and rectangle in logical units, and the advance of
// each character in logical units when the file gives them.
struct TextRun {
    QPointF reference;
    QString text;
    std::vector<double> dx;
    uint32_t options = 0;
    std::optional<QRectF> rect;
};

// The drawing surface both players drive: GDI's drawing operations in the device
// context's logical units, carried out with a QPainter on the output picture. Paths and
// clipping are kept in output pixels, as GDI keeps them in device units.
class CGdiCanvas {
public:
    // measuredSurface, when given, makes the canvas measure what it draws (DrawnBounds),
    // with that output area, however far it reaches beyond the target, standing for the
    // whole device; otherwise the target is the device and nothing is measured.
    CGdiCanvas(QImage& target, const QTransform& device, double pixelsPerMmX, double pixelsPerMmY,
               std::optional<QRectF> measuredSurface = std::nullopt);
    ~CGdiCanvas();
    CGdiCanvas(const CGdiCanvas&) = delete;
    CGdiCanvas& operator=(const CGdiCanvas&) = delete;

    CDeviceContext& Dc() { return dc_; }
    DcState& State() { return dc_.State(); }
    const DcState& State() const { return dc_.State(); }
    CObjectTable& Objects() { return objects_; }
    const QImage& Target() const { return target_; }

    // Pens, brushes, fonts and palettes become the current ones; a region becomes the clip.
    void SelectObject(const GdiObject& object);

    void MoveTo(QPointF p);
    void LineTo(QPointF p);
    void Polyline(std::span<const QPointF> points);
    void PolylineTo(std::span<const QPointF> points);
    void PolyBezier(std::span<const QPointF> points);
    void PolyBezierTo(std::span<const QPointF> points);
    void PolyDraw(std::span<const QPointF> points, std::span<const uint8_t> types);
    void Polygon(std::span<const QPointF> points);
    void PolyPolygon(std::span<const QPointF> points, std::span<const uint32_t> counts);
    void PolyPolyline(std::span<const QPointF> points, std::span<const uint32_t> counts);
    void Rectangle(QRectF box);
    void RoundRect(QRectF box, QSizeF corner);
    void Ellipse(QRectF box);
    enum class ArcKind { Arc, ArcTo, Chord, Pie };
    void Arc(QRectF box, QPointF start, QPointF end, ArcKind kind);
    void AngleArc(QPointF centre, double radius, double startDegrees, double sweepDegrees);
    void SetPixel(QPointF p, QColor colour);
    // Flood fills need the pixels under a point: filled with the brush from that point
    // while the colour stays (surface) or until the border colour.
    void FloodFill(QPointF p, QColor colour, bool surface);

    // Areas given in output pixels (regions).
    void FillArea(const QPainterPath& area, const GdiBrush& brush);
    void FrameArea(const QPainterPath& area, const GdiBrush& brush, QSizeF logicalSize);
    void InvertArea(const QPainterPath& area);

    void BeginPath();
    void EndPath();
    void AbortPath();
    void CloseFigure();
    void FillPath();
    void StrokePath();
    void StrokeAndFillPath();
    void WidenPath();
    void SelectClipPath(int mode);

    void IntersectClipRect(QRectF box);
    void ExcludeClipRect(QRectF box);
    // area in output pixels; none with kRgnCopy removes the clip.
    void CombineClip(const std::optional<QPainterPath>& area, int mode);
    void OffsetClip(QPointF logicalOffset);

    void DrawText(const TextRun& run);

    // A bit-block transfer to a logical rectangle: source pixels (sourceRect of source),
    // the current brush and the destination combined by a ternary raster operation.
    // Without a source only the brush and the destination take part.
    void Blit(QRectF destination, const QImage* source, QRectF sourceRect, uint32_t rop);
    // Source pixels blended over the destination with a constant opacity and, when
    // sourceAlpha, their own premultiplied alpha.
    void AlphaBlend(QRectF destination, const QImage& source, QRectF sourceRect, int constantAlpha, bool sourceAlpha);
    // Colour ramps between the corners of a rectangle (left to right, or top to bottom) and
    // across a triangle from its three corners.
    void GradientRect(QRectF box, QColor from, QColor to, bool vertical);
    void GradientTriangle(const std::array<QPointF, 3>& corners, const std::array<QColor, 3>& colours);

    // Output-pixel geometry of a logical shape, and its reverse.
    QPointF ToOutput(QPointF p) const { return dc_.Transform().map(p); }

    // A measuring canvas: the box, in output pixels, around everything drawn so far within
    // the clip, or within the measured surface when nothing is clipped; none while nothing
    // was drawn. Flood fills only spread over what is already there and do not count.
    std::optional<QRectF> DrawnBounds() const;

private:
    void Draw(const QPainterPath& outputPath, bool fill, bool stroke);
    void AddToPath(const QPainterPath& outputPath, bool closed);
    void AppendLines(std::span<const QPointF> points, bool fromCurrent);
    void PreparePainter();
    bool PenVisible() const;
    QPen OutputPen() const;
    QBrush OutputBrush(const GdiBrush& brush) const;
    void FillWithBrush(const QPainterPath& area, const GdiBrush& brush);
    void SetClip(const QPainterPath& area);
    QPainterPath ClipArea() const;
    QPainterPath ArcPath(QRectF box, QPointF start, QPointF end, ArcKind kind, QPointF* arcStart, QPointF* arcEnd) const;
    double PenScale() const;
    // Counts drawing work against the decode's work budget: elements of geometry, and
    // output pixels touched (within the picture), pixelsPerUnit of them per unit.
    void Charge(const QRectF& outputBounds, uint64_t pixelsPerUnit, uint64_t elements = 0) const;
    void NoteDrawn(const QRectF& outputBounds);
    void NoteDrawn(const QPainterPath& outputArea);

    QImage& target_;
    QPainter painter_;
    CDeviceContext dc_;
    CObjectTable objects_;

    bool pathOpen_ = false;  // between BeginPath and EndPath: shapes go into path_
    QPainterPath path_;      // output pixels
    bool measuring_;
    QRectF surface_;         // output pixels: the device
    QRectF drawn_;           // output pixels; null while nothing was drawn
};

}  // namespace metafile
