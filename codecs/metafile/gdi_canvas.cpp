#include "gdi_canvas.h"

#include "dib.h"
#include "font_environment.h"
#include "raster_ops.h"
#include "text_renderer.h"

#include "imagelib/work_budget.h"

#include <QLinearGradient>
#include <QPainterPathStroker>

#include <algorithm>
#include <cmath>
#include <vector>

namespace metafile {

namespace {

// Pixel patterns of GDI's one-pixel styled pens, and the geometric pens' patterns in units
// of the pen width.
const QList<qreal> kCosmeticDash = {18, 6};
const QList<qreal> kCosmeticDot = {3, 3};
const QList<qreal> kCosmeticDashDot = {9, 6, 3, 6};
const QList<qreal> kCosmeticDashDotDot = {9, 3, 3, 3, 3, 3};
const QList<qreal> kGeometricDash = {3, 1};
const QList<qreal> kGeometricDot = {1, 1};
const QList<qreal> kGeometricDashDot = {3, 1, 1, 1};
const QList<qreal> kGeometricDashDotDot = {3, 1, 1, 1, 1, 1};

// More dashes than this along one outline take Qt's stroker minutes; such pens are drawn
// solid.
constexpr double kMaxDashes = 200000;

// Work units: Qt fills this many pixels in about the time of one step of a decoder's loop;
// the player's own per-pixel loops (flood fill, raster operations, triangles) are slower.
constexpr uint64_t kPixelsPerUnit = 256;
constexpr uint64_t kPixelsPerUnitOwnLoops = 16;

// Output coordinates are kept within this range so that the rasteriser's fixed-point
// arithmetic never overflows, whatever the file's transforms do.
constexpr double kCoordinateLimit = 1e7;

QPainterPath Limited(const QPainterPath& path) {
    const QRectF bounds = path.controlPointRect();
    if (std::abs(bounds.left()) <= kCoordinateLimit && std::abs(bounds.right()) <= kCoordinateLimit &&
        std::abs(bounds.top()) <= kCoordinateLimit && std::abs(bounds.bottom()) <= kCoordinateLimit)
        return path;
    QPainterPath limited;
    limited.setFillRule(path.fillRule());
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        const QPointF p(std::clamp(e.x, -kCoordinateLimit, kCoordinateLimit), std::clamp(e.y, -kCoordinateLimit, kCoordinateLimit));
        if (e.isMoveTo()) limited.moveTo(p);
        else limited.lineTo(p);
    }
    return limited;
}

// The whole pixels a rectangle touches, within limit; safe for any coordinates.
QRect PixelBounds(const QRectF& r, const QRect& limit) {
    if (!(r.left() <= r.right() && r.top() <= r.bottom())) return {};
    const double minX = limit.left(), maxX = limit.right() + 1.0, minY = limit.top(), maxY = limit.bottom() + 1.0;
    const double left = std::clamp(std::floor(r.left()), minX, maxX);
    const double right = std::clamp(std::ceil(r.right()), minX, maxX);
    const double top = std::clamp(std::floor(r.top()), minY, maxY);
    const double bottom = std::clamp(std::ceil(r.bottom()), minY, maxY);
    return QRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left), static_cast<int>(bottom - top));
}

double Determinant(const QTransform& t) { return t.m11() * t.m22() - t.m12() * t.m21(); }

QPainterPath RectPath(QRectF box) {
    QPainterPath path;
    path.addRect(box.normalized());
    return path;
}

// Line hatches leave gaps that show the background colour when the background is opaque.
bool HatchesLines(const GdiBrush& brush) { return brush.style == kBsHatched && brush.hatch < kHsSolidColour; }

// Edges far outside the picture slow the antialiasing rasteriser down by orders of
// magnitude, so areas reaching beyond a small margin around the picture are cut at that
// margin first. Cutting a polygon against a rectangle keeps the winding number of every
// point inside the rectangle, so the pixels drawn stay the same under either fill rule.
constexpr double kCutMargin = 4;

bool Within(const QRectF& inner, const QRectF& outer) {
    return inner.left() >= outer.left() && inner.right() <= outer.right() && inner.top() >= outer.top() &&
           inner.bottom() <= outer.bottom();
}

// Sutherland-Hodgman: the polygon cut against each side of the box in turn.
std::vector<QPointF> CutPolygon(std::vector<QPointF> points, const QRectF& box) {
    const auto side = [&points](auto inside, auto crossing) {
        std::vector<QPointF> out;
        out.reserve(points.size() + 4);
        for (size_t i = 0; i < points.size(); ++i) {
            const QPointF a = points[i == 0 ? points.size() - 1 : i - 1];
            const QPointF b = points[i];
            if (inside(b)) {
                if (!inside(a)) out.push_back(crossing(a, b));
                out.push_back(b);
            } else if (inside(a)) {
                out.push_back(crossing(a, b));
            }
        }
        points = std::move(out);
    };
    // Called only for points on either side of the line, so the divisor is never zero.
    const auto atX = [](double x) {
        return [x](QPointF a, QPointF b) { return QPointF(x, a.y() + (b.y() - a.y()) * (x - a.x()) / (b.x() - a.x())); };
    };
    const auto atY = [](double y) {
        return [y](QPointF a, QPointF b) { return QPointF(a.x() + (b.x() - a.x()) * (y - a.y()) / (b.y() - a.y()), y); };
    };
    side([&box](QPointF p) { return p.x() >= box.left(); }, atX(box.left()));
    side([&box](QPointF p) { return p.x() <= box.right(); }, atX(box.right()));
    side([&box](QPointF p) { return p.y() >= box.top(); }, atY(box.top()));
    side([&box](QPointF p) { return p.y() <= box.bottom(); }, atY(box.bottom()));
    return points;
}

QPainterPath CutToPicture(const QPainterPath& area, const QRect& picture) {
    const QRectF box = QRectF(picture).adjusted(-kCutMargin, -kCutMargin, kCutMargin, kCutMargin);
    if (Within(area.controlPointRect(), box)) return area;
    QPainterPath cut;
    cut.setFillRule(area.fillRule());
    for (const QPolygonF& subpath : area.toSubpathPolygons()) {
        const std::vector<QPointF> points = CutPolygon(std::vector<QPointF>(subpath.begin(), subpath.end()), box);
        if (points.size() < 3) continue;
        cut.moveTo(points.front());
        for (size_t i = 1; i < points.size(); ++i) cut.lineTo(points[i]);
        cut.closeSubpath();
    }
    return cut;
}

}  // namespace

CGdiCanvas::CGdiCanvas(QImage& target, const QTransform& device, double pixelsPerMmX, double pixelsPerMmY,
                       std::optional<QRectF> measuredSurface)
    : target_(target),
      dc_(device, pixelsPerMmX, pixelsPerMmY),
      measuring_(measuredSurface.has_value()),
      surface_(measuredSurface.value_or(QRectF(target.rect()))) {
    painter_.begin(&target_);
}

CGdiCanvas::~CGdiCanvas() { painter_.end(); }

void CGdiCanvas::SelectObject(const GdiObject& object) {
    if (const auto* pen = std::get_if<GdiPen>(&object)) State().pen = *pen;
    else if (const auto* brush = std::get_if<GdiBrush>(&object)) State().brush = *brush;
    else if (const auto* font = std::get_if<GdiFont>(&object)) State().font = *font;
    else if (const auto* palette = std::get_if<GdiPalette>(&object)) State().palette = *palette;
    else if (const auto* region = std::get_if<GdiRegion>(&object)) CombineClip(dc_.Transform().map(region->area), kRgnCopy);
}

void CGdiCanvas::Charge(const QRectF& outputBounds, uint64_t pixelsPerUnit, uint64_t elements) const {
    const QRect touched = PixelBounds(outputBounds, target_.rect());
    const uint64_t pixels = static_cast<uint64_t>(touched.width()) * static_cast<uint64_t>(touched.height());
    CWorkBudget::Charge(1 + elements + pixels / pixelsPerUnit);
}

void CGdiCanvas::NoteDrawn(const QRectF& outputBounds) {
    if (!measuring_) return;
    const QRectF area = outputBounds.normalized() & ClipArea().boundingRect();
    if (!area.isEmpty() && std::isfinite(area.width()) && std::isfinite(area.height())) drawn_ |= area;
}

void CGdiCanvas::NoteDrawn(const QPainterPath& outputArea) {
    if (!measuring_) return;
    const QPainterPath limit = ClipArea();
    // Turned text reaches out of the device with corners its box would count.
    if (Within(outputArea.controlPointRect(), limit.boundingRect())) NoteDrawn(outputArea.controlPointRect());
    else NoteDrawn(Limited(outputArea).intersected(limit).boundingRect());
}

std::optional<QRectF> CGdiCanvas::DrawnBounds() const {
    if (drawn_.isNull()) return std::nullopt;
    return drawn_;
}

double CGdiCanvas::PenScale() const { return std::sqrt(std::abs(Determinant(dc_.Transform()))); }

bool CGdiCanvas::PenVisible() const { return (State().pen.style & kPsStyleMask) != kPsNull; }

QPen CGdiCanvas::OutputPen() const {
    const GdiPen& pen = dc_.State().pen;
    const bool geometric = (pen.style & kPsGeometric) != 0;
    double width = pen.cosmetic || pen.width <= 0 ? 1.0 : pen.width * PenScale();
    if (!std::isfinite(width)) width = 1;
    width = std::clamp(width, 1.0, kCoordinateLimit);
    QPen q(pen.colour, width);
    if (geometric && pen.brush) q.setBrush(OutputBrush(*pen.brush));
    switch (pen.style & kPsEndCapMask) {
    case kPsEndCapSquare: q.setCapStyle(Qt::SquareCap); break;
    case kPsEndCapFlat: q.setCapStyle(Qt::FlatCap); break;
    default: q.setCapStyle(width > 1.5 ? Qt::RoundCap : Qt::FlatCap); break;
    }
    switch (pen.style & kPsJoinMask) {
    case kPsJoinBevel: q.setJoinStyle(Qt::BevelJoin); break;
    case kPsJoinMiter:
        q.setJoinStyle(Qt::MiterJoin);
        q.setMiterLimit(std::clamp(dc_.State().miterLimit, 1.0, 100.0));
        break;
    default: q.setJoinStyle(Qt::RoundJoin); break;
    }
    // Styled pens: GDI draws the cosmetic patterns in pixels, the geometric ones in pen
    // widths; an old-style pen wider than a pixel is solid.
    const bool pixelPattern = !geometric;
    if (pixelPattern && width > 1.5 && (pen.style & kPsStyleMask) != kPsUserStyle) return q;
    switch (pen.style & kPsStyleMask) {
    case kPsDash: q.setDashPattern(pixelPattern ? kCosmeticDash : kGeometricDash); break;
    case kPsDot: q.setDashPattern(pixelPattern ? kCosmeticDot : kGeometricDot); break;
    case kPsDashDot: q.setDashPattern(pixelPattern ? kCosmeticDashDot : kGeometricDashDot); break;
    case kPsDashDotDot: q.setDashPattern(pixelPattern ? kCosmeticDashDotDot : kGeometricDashDotDot); break;
    case kPsAlternate: q.setDashPattern({1, 1}); break;
    case kPsUserStyle: {
        QList<qreal> dashes;
        const double unit = pen.cosmetic ? 1.0 : PenScale() / width;
        for (double d : pen.dashes) dashes.push_back(std::max(d * unit, 0.01));
        if (dashes.size() % 2 == 1) dashes.push_back(dashes.back());
        if (!dashes.isEmpty()) q.setDashPattern(dashes);
        break;
    }
    default: break;
    }
    q.setCapStyle(pen.style & kPsEndCapMask ? q.capStyle() : Qt::FlatCap);
    return q;
}

QBrush CGdiCanvas::OutputBrush(const GdiBrush& brush) const {
    switch (brush.style) {
    case kBsSolid: return QBrush(brush.colour);
    case kBsHatched: {
        static constexpr Qt::BrushStyle kHatches[] = {Qt::HorPattern, Qt::VerPattern, Qt::FDiagPattern,
                                                     Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
        if (brush.hatch < kHsSolidColour) return QBrush(brush.colour, kHatches[brush.hatch]);
        if (brush.hatch == kHsSolidTextColour || brush.hatch == kHsDitheredTextColour) return QBrush(State().textColour);
        if (brush.hatch == kHsSolidBkColour || brush.hatch == kHsDitheredBkColour) return QBrush(State().bkColour);
        return QBrush(brush.colour);
    }
    case kBsPattern:
    case kBsDibPattern:
    case kBsDibPatternPt: {
        if (brush.pattern.isNull()) return QBrush(brush.colour);
        QBrush textured(brush.monochrome ? RecolourMonochrome(brush.pattern, State().textColour, State().bkColour) : brush.pattern);
        return textured;
    }
    default: return QBrush(Qt::NoBrush);
    }
}

void CGdiCanvas::FillWithBrush(const QPainterPath& uncut, const GdiBrush& brush) {
    if (brush.style == kBsNull) return;
    const Rop2Drawing rop = Rop2ToDrawing(State().rop2);
    if (!rop.draws) return;
    const QPainterPath area = CutToPicture(uncut, target_.rect());
    if (rop.colour) {
        painter_.fillPath(area, *rop.colour);
        return;
    }
    if (HatchesLines(brush) && State().bkMode == kOpaque) painter_.fillPath(area, State().bkColour);
    painter_.setBrushOrigin(0, 0);
    painter_.fillPath(area, OutputBrush(brush));
}

void CGdiCanvas::PreparePainter() {
    const DcState& s = State();
    if (s.clipped) painter_.setClipPath(s.clip);
    else painter_.setClipping(false);
    const Rop2Drawing rop = Rop2ToDrawing(s.rop2);
    painter_.setCompositionMode(rop.mode);
    painter_.setRenderHint(QPainter::Antialiasing, rop.mode == QPainter::CompositionMode_SourceOver);
    painter_.setTransform(QTransform());
    painter_.setOpacity(1);
}

void CGdiCanvas::Draw(const QPainterPath& outputPath, bool fill, bool stroke) {
    if (pathOpen_) {
        AddToPath(outputPath, fill);
        return;
    }
    const Rop2Drawing rop = Rop2ToDrawing(State().rop2);
    if (!rop.draws) return;
    QPainterPath path = Limited(outputPath);
    Charge(path.controlPointRect(), kPixelsPerUnit, static_cast<uint64_t>(path.elementCount()));
    path.setFillRule(State().polyFillMode == kWinding ? Qt::WindingFill : Qt::OddEvenFill);
    PreparePainter();
    if (fill && State().brush.style != kBsNull) NoteDrawn(path.controlPointRect());
    if (fill) FillWithBrush(path, State().brush);
    if (stroke && PenVisible()) {
        QPen pen = OutputPen();
        const double halfWidth = pen.widthF() / 2 * (pen.joinStyle() == Qt::MiterJoin ? std::max(pen.miterLimit(), 1.0) : 1.0);
        NoteDrawn(path.controlPointRect().adjusted(-halfWidth, -halfWidth, halfWidth, halfWidth));
        if (rop.colour) pen.setColor(*rop.colour);
        if (pen.style() == Qt::CustomDashLine) {
            double cycle = 0;
            for (qreal d : pen.dashPattern()) cycle += d;
            if (cycle * pen.widthF() <= 0 || path.length() / (cycle * pen.widthF()) > kMaxDashes) pen.setStyle(Qt::SolidLine);
        }
        const bool background = !rop.colour && State().pen.brush && HatchesLines(*State().pen.brush) && State().bkMode == kOpaque;
        // Lines of a pixel or less go through the painter's own line drawing, which cuts them
        // itself; wider ones (a pixel and a third too) are filled outlines, which the painter
        // would walk in full, however far outside the picture they reach.
        const double reach = pen.widthF() * std::max(pen.miterLimit(), 1.0);
        if (pen.widthF() <= 1 || Within(path.controlPointRect().adjusted(-reach, -reach, reach, reach), QRectF(target_.rect()))) {
            if (background) {
                QPen gaps = pen;
                gaps.setColor(State().bkColour);
                painter_.strokePath(path, gaps);
            }
            painter_.strokePath(path, pen);
        } else {
            // What the painter would fill for the stroke, cut like any other area.
            QPainterPath outline = CutToPicture(QPainterPathStroker(pen).createStroke(path), target_.rect());
            outline.setFillRule(Qt::WindingFill);
            if (background) painter_.fillPath(outline, State().bkColour);
            painter_.fillPath(outline, pen.brush());
        }
    }
}

void CGdiCanvas::AddToPath(const QPainterPath& outputPath, bool closed) {
    CWorkBudget::Charge(static_cast<uint64_t>(outputPath.elementCount()));
    if (closed) {
        path_.addPath(outputPath);
        // addPath leaves the last figure open; closed shapes must stay closed.
        path_.closeSubpath();
    } else {
        path_.addPath(outputPath);
    }
}

void CGdiCanvas::MoveTo(QPointF p) {
    State().position = p;
    if (pathOpen_) path_.moveTo(ToOutput(p));
}

void CGdiCanvas::AppendLines(std::span<const QPointF> points, bool fromCurrent) {
    if (points.empty()) return;
    const QTransform t = dc_.Transform();
    if (pathOpen_) {
        const QPointF start = t.map(fromCurrent ? State().position : points.front());
        if (path_.elementCount() == 0 || path_.currentPosition() != start || !fromCurrent) path_.moveTo(start);
        for (size_t i = fromCurrent ? 0 : 1; i < points.size(); ++i) path_.lineTo(t.map(points[i]));
    } else {
        QPainterPath line;
        line.moveTo(t.map(fromCurrent ? State().position : points.front()));
        for (size_t i = fromCurrent ? 0 : 1; i < points.size(); ++i) line.lineTo(t.map(points[i]));
        Draw(line, false, true);
    }
    State().position = points.back();
}

void CGdiCanvas::LineTo(QPointF p) { AppendLines(std::span<const QPointF>(&p, 1), true); }

void CGdiCanvas::Polyline(std::span<const QPointF> points) {
    const QPointF keep = State().position;
    AppendLines(points, false);
    State().position = keep;  // Polyline leaves the current position alone
}

void CGdiCanvas::PolylineTo(std::span<const QPointF> points) { AppendLines(points, true); }

void CGdiCanvas::PolyBezier(std::span<const QPointF> points) {
    if (points.empty()) return;
    const QPointF keep = State().position;
    State().position = points.front();
    PolyBezierTo(points.subspan(1));
    State().position = keep;
}

void CGdiCanvas::PolyBezierTo(std::span<const QPointF> points) {
    const size_t usable = points.size() - points.size() % 3;
    if (usable == 0) return;
    const QTransform t = dc_.Transform();
    const QPointF start = t.map(State().position);
    QPainterPath curve;
    QPainterPath& into = pathOpen_ ? path_ : curve;
    if (!pathOpen_ || path_.elementCount() == 0 || path_.currentPosition() != start) into.moveTo(start);
    for (size_t i = 0; i < usable; i += 3) into.cubicTo(t.map(points[i]), t.map(points[i + 1]), t.map(points[i + 2]));
    State().position = points[usable - 1];
    if (!pathOpen_) Draw(curve, false, true);
}

void CGdiCanvas::PolyDraw(std::span<const QPointF> points, std::span<const uint8_t> types) {
    enum : uint8_t { kCloseFigure = 1, kLineTo = 2, kBezierTo = 4, kMoveTo = 6 };
    const QTransform t = dc_.Transform();
    QPainterPath figure;
    QPainterPath& into = pathOpen_ ? path_ : figure;
    into.moveTo(t.map(State().position));
    const size_t count = std::min(points.size(), types.size());
    for (size_t i = 0; i < count; ++i) {
        const uint8_t type = types[i] & ~kCloseFigure;
        if (type == kMoveTo) {
            into.moveTo(t.map(points[i]));
        } else if (type == kBezierTo && i + 2 < count) {
            into.cubicTo(t.map(points[i]), t.map(points[i + 1]), t.map(points[i + 2]));
            i += 2;
        } else {
            into.lineTo(t.map(points[i]));
        }
        State().position = points[i];
        if (types[i] & kCloseFigure) into.closeSubpath();
    }
    if (!pathOpen_) Draw(figure, false, true);
}

void CGdiCanvas::Polygon(std::span<const QPointF> points) {
    if (points.size() < 2) return;
    const uint32_t count = static_cast<uint32_t>(points.size());
    PolyPolygon(points, std::span<const uint32_t>(&count, 1));
}

void CGdiCanvas::PolyPolygon(std::span<const QPointF> points, std::span<const uint32_t> counts) {
    const QTransform t = dc_.Transform();
    QPainterPath area;
    size_t at = 0;
    for (uint32_t n : counts) {
        if (n > points.size() - at) break;
        if (n >= 2) {
            area.moveTo(t.map(points[at]));
            for (size_t i = 1; i < n; ++i) area.lineTo(t.map(points[at + i]));
            area.closeSubpath();
        }
        at += n;
    }
    Draw(area, true, true);
}

void CGdiCanvas::PolyPolyline(std::span<const QPointF> points, std::span<const uint32_t> counts) {
    const QTransform t = dc_.Transform();
    QPainterPath lines;
    size_t at = 0;
    for (uint32_t n : counts) {
        if (n > points.size() - at) break;
        if (n >= 1) {
            lines.moveTo(t.map(points[at]));
            for (size_t i = 1; i < n; ++i) lines.lineTo(t.map(points[at + i]));
        }
        at += n;
    }
    Draw(lines, false, true);
}

void CGdiCanvas::Rectangle(QRectF box) { Draw(dc_.Transform().map(RectPath(box)), true, true); }

void CGdiCanvas::RoundRect(QRectF box, QSizeF corner) {
    box = box.normalized();
    QPainterPath path;
    path.addRoundedRect(box, std::min(std::abs(corner.width()) / 2, box.width() / 2),
                        std::min(std::abs(corner.height()) / 2, box.height() / 2));
    Draw(dc_.Transform().map(path), true, true);
}

void CGdiCanvas::Ellipse(QRectF box) {
    QPainterPath path;
    path.addEllipse(box.normalized());
    Draw(dc_.Transform().map(path), true, true);
}

QPainterPath CGdiCanvas::ArcPath(QRectF box, QPointF start, QPointF end, ArcKind kind, QPointF* arcStart,
                                 QPointF* arcEnd) const {
    box = box.normalized();
    QPainterPath path;
    const double rx = box.width() / 2;
    const double ry = box.height() / 2;
    if (rx <= 0 || ry <= 0) return path;
    const QPointF c = box.center();
    // Qt measures angles counter-clockwise with y pointing down, in the ellipse's own
    // parameter; GDI gives points on the rays from the centre.
    auto angleOf = [&](QPointF p) { return std::atan2(-(p.y() - c.y()) / ry, (p.x() - c.x()) / rx) * 180 / M_PI; };
    const double a0 = angleOf(start);
    const double a1 = angleOf(end);
    // GDI turns counter-clockwise as seen on the output unless told otherwise; a mirroring
    // transform turns the logical direction round.
    const bool counterClockwise = (State().arcDirection == kCounterClockwise) != (Determinant(dc_.Transform()) < 0);
    double sweep = 0;
    if (counterClockwise) {
        sweep = std::fmod(a1 - a0 + 720, 360);
        if (sweep == 0) sweep = 360;
    } else {
        sweep = -std::fmod(a0 - a1 + 720, 360);
        if (sweep == 0) sweep = -360;
    }
    if (kind == ArcKind::Pie) {
        path.moveTo(c);
        path.arcTo(box, a0, sweep);
        path.closeSubpath();
    } else {
        path.arcMoveTo(box, a0);
        path.arcTo(box, a0, sweep);
        if (kind == ArcKind::Chord) path.closeSubpath();
    }
    QPainterPath probe;
    probe.arcMoveTo(box, a0);
    if (arcStart) *arcStart = probe.currentPosition();
    probe.arcMoveTo(box, a0 + sweep);
    if (arcEnd) *arcEnd = probe.currentPosition();
    return path;
}

void CGdiCanvas::Arc(QRectF box, QPointF start, QPointF end, ArcKind kind) {
    QPointF arcStart, arcEnd;
    QPainterPath path = ArcPath(box, start, end, kind, &arcStart, &arcEnd);
    if (path.isEmpty()) return;
    const QTransform t = dc_.Transform();
    if (kind == ArcKind::ArcTo) {
        QPainterPath joined;
        joined.moveTo(State().position);
        joined.lineTo(arcStart);
        joined.connectPath(path);
        State().position = arcEnd;
        if (pathOpen_) {
            const QPainterPath mapped = t.map(joined);
            if (path_.elementCount() == 0) path_.moveTo(mapped.elementAt(0));
            path_.connectPath(mapped);
            return;
        }
        Draw(t.map(joined), false, true);
        return;
    }
    const bool closed = kind != ArcKind::Arc;
    Draw(t.map(path), closed, true);
}

void CGdiCanvas::AngleArc(QPointF centre, double radius, double startDegrees, double sweepDegrees) {
    if (!std::isfinite(radius) || !std::isfinite(startDegrees) || !std::isfinite(sweepDegrees)) return;
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    sweepDegrees = std::clamp(sweepDegrees, -3600.0, 3600.0);
    QPainterPath path;
    path.moveTo(State().position);
    QPainterPath probe;
    probe.arcMoveTo(box, startDegrees);
    path.lineTo(probe.currentPosition());
    path.arcTo(box, startDegrees, sweepDegrees);
    State().position = path.currentPosition();
    const QPainterPath mapped = dc_.Transform().map(path);
    if (pathOpen_) {
        path_.connectPath(mapped);
        return;
    }
    Draw(mapped, false, true);
}

void CGdiCanvas::SetPixel(QPointF p, QColor colour) {
    if (pathOpen_) return;
    const QPointF at = ToOutput(p);
    NoteDrawn(QRectF(std::floor(at.x()), std::floor(at.y()), 1, 1));
    PreparePainter();
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.fillRect(QRectF(std::floor(at.x()), std::floor(at.y()), 1, 1), colour);
}

void CGdiCanvas::FloodFill(QPointF p, QColor colour, bool surface) {
    if (pathOpen_) return;
    const QPointF at = ToOutput(p);
    if (!(at.x() >= 0 && at.y() >= 0 && at.x() < target_.width() && at.y() < target_.height())) return;
    const int width = target_.width();
    const int height = target_.height();
    // Edges are drawn smoothed, so a border is not one exact colour: a pixel can be filled
    // when it is at least twice as near the colour under the start point as the border
    // colour (half-covered border pixels stop the fill), and a surface reaches as far as
    // pixels stay within a small distance of the surface colour.
    const int sx = static_cast<int>(at.x());
    const int sy = static_cast<int>(at.y());
    const QRgb key = colour.rgb();
    const QRgb seed = target_.pixel(sx, sy);
    auto distance = [](QRgb a, QRgb b) {
        const int dr = qRed(a) - qRed(b), dg = qGreen(a) - qGreen(b), db = qBlue(a) - qBlue(b);
        return dr * dr + dg * dg + db * db;
    };
    constexpr int kSurfaceTolerance = 3 * 32 * 32;
    auto fillable = [&](int x, int y) {
        const QRgb pixel = target_.pixel(x, y);
        return surface ? distance(pixel, key) <= kSurfaceTolerance : 4 * distance(pixel, seed) < distance(pixel, key);
    };
    if (!fillable(sx, sy)) return;
    Charge(QRectF(target_.rect()), kPixelsPerUnitOwnLoops);
    QImage mask(width, height, QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    std::vector<QPoint> stack{{sx, sy}};
    while (!stack.empty()) {
        const QPoint q = stack.back();
        stack.pop_back();
        int x = q.x();
        const int y = q.y();
        auto* row = reinterpret_cast<QRgb*>(mask.scanLine(y));
        if (row[x] != 0 || !fillable(x, y)) continue;
        while (x > 0 && row[x - 1] == 0 && fillable(x - 1, y)) --x;
        bool above = false, below = false;
        for (; x < width && row[x] == 0 && fillable(x, y); ++x) {
            row[x] = 0xFFFFFFFFu;
            if (y > 0) {
                const bool open = reinterpret_cast<const QRgb*>(mask.constScanLine(y - 1))[x] == 0 && fillable(x, y - 1);
                if (open && !above) stack.push_back({x, y - 1});
                above = open;
            }
            if (y + 1 < height) {
                const bool open = reinterpret_cast<const QRgb*>(mask.constScanLine(y + 1))[x] == 0 && fillable(x, y + 1);
                if (open && !below) stack.push_back({x, y + 1});
                below = open;
            }
        }
    }
    // The brush, clipped like any drawing, shows through the mask.
    QImage layer(width, height, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter lp(&layer);
        if (State().clipped) lp.setClipPath(State().clip);
        if (State().brush.style == kBsHatched && State().bkMode == kOpaque) lp.fillRect(layer.rect(), State().bkColour);
        lp.fillRect(layer.rect(), OutputBrush(State().brush));
        lp.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        lp.setClipping(false);
        lp.drawImage(0, 0, mask);
    }
    PreparePainter();
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.drawImage(0, 0, layer);
}

void CGdiCanvas::FillArea(const QPainterPath& area, const GdiBrush& brush) {
    if (pathOpen_) return;
    Charge(area.controlPointRect(), kPixelsPerUnit, static_cast<uint64_t>(area.elementCount()));
    if (brush.style != kBsNull) NoteDrawn(area.controlPointRect());
    PreparePainter();
    FillWithBrush(Limited(area), brush);
}

void CGdiCanvas::FrameArea(const QPainterPath& area, const GdiBrush& brush, QSizeF logicalSize) {
    if (pathOpen_) return;
    const QTransform t = dc_.Transform();
    const double w = std::abs(t.map(QLineF(0, 0, logicalSize.width(), 0)).dx());
    const double h = std::abs(t.map(QLineF(0, 0, 0, logicalSize.height())).dy());
    QPainterPathStroker stroker;
    stroker.setWidth(2 * std::clamp(std::max(w, h), 1.0, 1000.0));
    Charge(area.controlPointRect(), kPixelsPerUnit, static_cast<uint64_t>(area.elementCount()) * 16);
    const QPainterPath frame = stroker.createStroke(Limited(area)).intersected(area);
    NoteDrawn(frame.controlPointRect());
    PreparePainter();
    FillWithBrush(frame, brush);
}

void CGdiCanvas::InvertArea(const QPainterPath& area) {
    if (pathOpen_) return;
    Charge(area.controlPointRect(), kPixelsPerUnit, static_cast<uint64_t>(area.elementCount()));
    NoteDrawn(area.controlPointRect());
    PreparePainter();
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setCompositionMode(QPainter::RasterOp_NotDestination);
    painter_.fillPath(Limited(area), Qt::black);
}

void CGdiCanvas::BeginPath() {
    pathOpen_ = true;
    path_ = QPainterPath();
}

void CGdiCanvas::EndPath() { pathOpen_ = false; }

void CGdiCanvas::AbortPath() {
    pathOpen_ = false;
    path_ = QPainterPath();
}

void CGdiCanvas::CloseFigure() {
    if (pathOpen_) path_.closeSubpath();
}

void CGdiCanvas::FillPath() {
    pathOpen_ = false;
    Draw(path_, true, false);
    path_ = QPainterPath();
}

void CGdiCanvas::StrokePath() {
    pathOpen_ = false;
    Draw(path_, false, true);
    path_ = QPainterPath();
}

void CGdiCanvas::StrokeAndFillPath() {
    pathOpen_ = false;
    Draw(path_, true, true);
    path_ = QPainterPath();
}

void CGdiCanvas::WidenPath() {
    if (!PenVisible()) return;
    const QPen pen = OutputPen();
    QPainterPathStroker stroker(pen);
    path_ = stroker.createStroke(Limited(path_));
}

void CGdiCanvas::SelectClipPath(int mode) {
    pathOpen_ = false;
    QPainterPath area = Limited(path_);
    area.setFillRule(State().polyFillMode == kWinding ? Qt::WindingFill : Qt::OddEvenFill);
    CombineClip(area, mode);
    path_ = QPainterPath();
}

QPainterPath CGdiCanvas::ClipArea() const {
    if (State().clipped) return State().clip;
    return RectPath(surface_);
}

void CGdiCanvas::SetClip(const QPainterPath& area) {
    State().clip = area;
    State().clipped = true;
}

void CGdiCanvas::IntersectClipRect(QRectF box) { CombineClip(dc_.Transform().map(RectPath(box)), kRgnAnd); }

void CGdiCanvas::ExcludeClipRect(QRectF box) { CombineClip(dc_.Transform().map(RectPath(box)), kRgnDiff); }

void CGdiCanvas::CombineClip(const std::optional<QPainterPath>& area, int mode) {
    if (!area) {
        if (mode == kRgnCopy) {
            State().clipped = false;
            State().clip = QPainterPath();
        }
        return;
    }
    const QPainterPath a = Limited(*area);
    // Boolean operations on paths grow with the product of their sizes.
    const auto elements = static_cast<uint64_t>(a.elementCount()) + static_cast<uint64_t>(ClipArea().elementCount());
    CWorkBudget::Charge(elements * elements / 64);
    switch (mode) {
    case kRgnAnd: SetClip(ClipArea().intersected(a)); break;
    case kRgnOr: SetClip(ClipArea().united(a)); break;
    case kRgnXor: SetClip(ClipArea().united(a).subtracted(ClipArea().intersected(a))); break;
    case kRgnDiff: SetClip(ClipArea().subtracted(a)); break;
    case kRgnCopy: SetClip(a); break;
    default: break;
    }
}

void CGdiCanvas::OffsetClip(QPointF logicalOffset) {
    if (!State().clipped) return;
    const QTransform t = dc_.Transform();
    const QPointF d = t.map(logicalOffset) - t.map(QPointF(0, 0));
    if (!std::isfinite(d.x()) || !std::isfinite(d.y())) return;
    State().clip = Limited(State().clip.translated(d));
}

void CGdiCanvas::DrawText(const TextRun& run) {
    const double defaultEm = 16 * std::sqrt(std::abs(Determinant(dc_.Device())));
    const QTransform t = dc_.Transform();
    CWorkBudget::Charge(64 * static_cast<uint64_t>(run.text.size()));
    QPainterPath cells;
    TextTarget target{nullptr, &path_, nullptr};
    if (!pathOpen_) {
        PreparePainter();
        // Text is not drawn with the binary raster operation.
        painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter_.setRenderHint(QPainter::Antialiasing, true);
        painter_.setRenderHint(QPainter::TextAntialiasing, true);
        target = TextTarget{&painter_, nullptr, measuring_ ? &cells : nullptr};
    }
    const QPointF end = RenderText(target, State(), t, run, defaultEm);
    if ((run.options & kEtoClipped) && run.rect) cells = cells.intersected(t.map(RectPath(*run.rect)));
    if (!cells.isEmpty()) NoteDrawn(cells);
    if (State().textAlign & kTaUpdateCp) State().position = end;
}

void CGdiCanvas::Blit(QRectF destination, const QImage* source, QRectF sourceRect, uint32_t rop) {
    if (pathOpen_) return;
    const uint8_t code = Rop3Code(rop);
    const QTransform t = dc_.Transform();
    const bool usesSource = Rop3UsesSource(code) && source != nullptr && !source->isNull();
    if (Rop3UsesSource(code) && !usesSource) return;
    // Source pixels to logical units: the source rectangle onto the destination rectangle;
    // negative extents mirror.
    QTransform sourceToLogical;
    if (usesSource) {
        if (sourceRect.width() == 0 || sourceRect.height() == 0) return;
        sourceToLogical.translate(destination.x(), destination.y());
        sourceToLogical.scale(destination.width() / sourceRect.width(), destination.height() / sourceRect.height());
        sourceToLogical.translate(-sourceRect.x(), -sourceRect.y());
    }
    const QPainterPath outputArea = Limited(t.map(RectPath(destination)));
    Charge(outputArea.controlPointRect(), kPixelsPerUnitOwnLoops);
    NoteDrawn(outputArea.controlPointRect());
    if (code == kRop3SourceCopy && usesSource) {
        PreparePainter();
        painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter_.setRenderHint(QPainter::SmoothPixmapTransform, State().stretchMode == kStretchHalftone);
        painter_.setClipPath(outputArea, State().clipped ? Qt::IntersectClip : Qt::ReplaceClip);
        painter_.setTransform(sourceToLogical * t);
        painter_.drawImage(sourceRect, *source, sourceRect);
        painter_.setTransform(QTransform());
        return;
    }
    if (code == kRop3PatternCopy) {
        PreparePainter();
        painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter_.setRenderHint(QPainter::Antialiasing, false);
        FillWithBrush(outputArea, State().brush);
        return;
    }
    const QRect area = PixelBounds(outputArea.boundingRect(), target_.rect());
    if (area.isEmpty()) return;
    const QTransform toLayer = t * QTransform::fromTranslate(-area.x(), -area.y());
    QImage coverage(area.size(), QImage::Format_ARGB32_Premultiplied);
    coverage.fill(Qt::transparent);
    {
        QPainter lp(&coverage);
        if (State().clipped) lp.setClipPath(State().clip.translated(-area.x(), -area.y()));
        if (usesSource) {
            lp.setClipPath(outputArea.translated(-area.x(), -area.y()), State().clipped ? Qt::IntersectClip : Qt::ReplaceClip);
            lp.setTransform(sourceToLogical * toLayer);
            lp.drawImage(sourceRect, *source, sourceRect);
        } else {
            lp.fillPath(outputArea.translated(-area.x(), -area.y()), Qt::white);
        }
    }
    QImage pattern;
    if (Rop3UsesPattern(code)) {
        pattern = QImage(area.size(), QImage::Format_ARGB32_Premultiplied);
        pattern.fill(Qt::black);
        QPainter lp(&pattern);
        if (State().brush.style == kBsHatched && State().bkMode == kOpaque) lp.fillRect(pattern.rect(), State().bkColour);
        if (State().brush.style != kBsNull) {
            lp.setBrushOrigin(-area.x(), -area.y());
            lp.fillRect(pattern.rect(), OutputBrush(State().brush));
        }
    }
    painter_.end();
    ApplyRop3(target_, area.topLeft(), code, usesSource ? coverage : QImage(), pattern, coverage);
    painter_.begin(&target_);
}

void CGdiCanvas::AlphaBlend(QRectF destination, const QImage& source, QRectF sourceRect, int constantAlpha, bool sourceAlpha) {
    if (pathOpen_ || source.isNull() || sourceRect.width() == 0 || sourceRect.height() == 0) return;
    QTransform sourceToLogical;
    sourceToLogical.translate(destination.x(), destination.y());
    sourceToLogical.scale(destination.width() / sourceRect.width(), destination.height() / sourceRect.height());
    sourceToLogical.translate(-sourceRect.x(), -sourceRect.y());
    Charge(dc_.Transform().map(RectPath(destination)).controlPointRect(), kPixelsPerUnit);
    NoteDrawn(dc_.Transform().map(RectPath(destination)).controlPointRect());
    const QImage pixels = sourceAlpha ? source.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                      : source.convertToFormat(QImage::Format_RGB32);
    PreparePainter();
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter_.setOpacity(std::clamp(constantAlpha, 0, 255) / 255.0);
    painter_.setTransform(sourceToLogical * dc_.Transform());
    painter_.drawImage(sourceRect, pixels, sourceRect);
    painter_.setTransform(QTransform());
    painter_.setOpacity(1);
}

void CGdiCanvas::GradientRect(QRectF box, QColor from, QColor to, bool vertical) {
    if (pathOpen_) return;
    const QTransform t = dc_.Transform();
    box = box.normalized();
    const QPointF start = t.map(box.topLeft());
    const QPointF end = t.map(vertical ? box.bottomLeft() : box.topRight());
    Charge(t.map(RectPath(box)).controlPointRect(), kPixelsPerUnit);
    NoteDrawn(t.map(RectPath(box)).controlPointRect());
    QLinearGradient ramp(start, end);
    ramp.setColorAt(0, from);
    ramp.setColorAt(1, to);
    PreparePainter();
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.fillPath(Limited(t.map(RectPath(box))), QBrush(ramp));
}

void CGdiCanvas::GradientTriangle(const std::array<QPointF, 3>& corners, const std::array<QColor, 3>& colours) {
    if (pathOpen_) return;
    const QTransform t = dc_.Transform();
    const QPointF a = t.map(corners[0]), b = t.map(corners[1]), c = t.map(corners[2]);
    const double area = (b.x() - a.x()) * (c.y() - a.y()) - (c.x() - a.x()) * (b.y() - a.y());
    if (!std::isfinite(area) || area == 0) return;
    NoteDrawn(QPolygonF({a, b, c}).boundingRect());
    const QRect bounds = PixelBounds(QPolygonF({a, b, c}).boundingRect(), target_.rect());
    if (bounds.isEmpty()) return;
    Charge(QRectF(bounds), kPixelsPerUnitOwnLoops);
    QImage layer(bounds.size(), QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    for (int y = 0; y < bounds.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(layer.scanLine(y));
        const double py = bounds.y() + y + 0.5;
        for (int x = 0; x < bounds.width(); ++x) {
            const double px = bounds.x() + x + 0.5;
            const double wa = ((b.x() - px) * (c.y() - py) - (c.x() - px) * (b.y() - py)) / area;
            const double wb = ((c.x() - px) * (a.y() - py) - (a.x() - px) * (c.y() - py)) / area;
            const double wc = 1 - wa - wb;
            if (wa < 0 || wb < 0 || wc < 0) continue;
            auto mix = [&](int ca, int cb, int cc) { return std::clamp(static_cast<int>(std::lround(wa * ca + wb * cb + wc * cc)), 0, 255); };
            row[x] = qRgb(mix(colours[0].red(), colours[1].red(), colours[2].red()),
                          mix(colours[0].green(), colours[1].green(), colours[2].green()),
                          mix(colours[0].blue(), colours[1].blue(), colours[2].blue()));
        }
    }
    PreparePainter();
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.drawImage(bounds.topLeft(), layer);
}

}  // namespace metafile
