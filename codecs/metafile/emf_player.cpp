#include "emf_player.h"

#include "dib.h"
#include "text_encoding.h"

#include "imagelib/trace.h"
#include "imagelib/work_budget.h"

#include <QRegion>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

namespace metafile {

namespace {

enum RecordType : uint32_t {
    kEmrHeader = 1,
    kEmrPolyBezier = 2,
    kEmrPolygon = 3,
    kEmrPolyline = 4,
    kEmrPolyBezierTo = 5,
    kEmrPolylineTo = 6,
    kEmrPolyPolyline = 7,
    kEmrPolyPolygon = 8,
    kEmrSetWindowExtEx = 9,
    kEmrSetWindowOrgEx = 10,
    kEmrSetViewportExtEx = 11,
    kEmrSetViewportOrgEx = 12,
    kEmrSetBrushOrgEx = 13,
    kEmrEof = 14,
    kEmrSetPixelV = 15,
    kEmrSetMapMode = 17,
    kEmrSetBkMode = 18,
    kEmrSetPolyFillMode = 19,
    kEmrSetRop2 = 20,
    kEmrSetStretchBltMode = 21,
    kEmrSetTextAlign = 22,
    kEmrSetTextColor = 24,
    kEmrSetBkColor = 25,
    kEmrOffsetClipRgn = 26,
    kEmrMoveToEx = 27,
    kEmrExcludeClipRect = 29,
    kEmrIntersectClipRect = 30,
    kEmrScaleViewportExtEx = 31,
    kEmrScaleWindowExtEx = 32,
    kEmrSaveDc = 33,
    kEmrRestoreDc = 34,
    kEmrSetWorldTransform = 35,
    kEmrModifyWorldTransform = 36,
    kEmrSelectObject = 37,
    kEmrCreatePen = 38,
    kEmrCreateBrushIndirect = 39,
    kEmrDeleteObject = 40,
    kEmrAngleArc = 41,
    kEmrEllipse = 42,
    kEmrRectangle = 43,
    kEmrRoundRect = 44,
    kEmrArc = 45,
    kEmrChord = 46,
    kEmrPie = 47,
    kEmrSelectPalette = 48,
    kEmrCreatePalette = 49,
    kEmrExtFloodFill = 53,
    kEmrLineTo = 54,
    kEmrArcTo = 55,
    kEmrPolyDraw = 56,
    kEmrSetArcDirection = 57,
    kEmrSetMiterLimit = 58,
    kEmrBeginPath = 59,
    kEmrEndPath = 60,
    kEmrCloseFigure = 61,
    kEmrFillPath = 62,
    kEmrStrokeAndFillPath = 63,
    kEmrStrokePath = 64,
    kEmrWidenPath = 66,
    kEmrSelectClipPath = 67,
    kEmrAbortPath = 68,
    kEmrFillRgn = 71,
    kEmrFrameRgn = 72,
    kEmrInvertRgn = 73,
    kEmrPaintRgn = 74,
    kEmrExtSelectClipRgn = 75,
    kEmrBitBlt = 76,
    kEmrStretchBlt = 77,
    kEmrSetDiBitsToDevice = 80,
    kEmrStretchDiBits = 81,
    kEmrExtCreateFontIndirectW = 82,
    kEmrExtTextOutA = 83,
    kEmrExtTextOutW = 84,
    kEmrPolyBezier16 = 85,
    kEmrPolygon16 = 86,
    kEmrPolyline16 = 87,
    kEmrPolyBezierTo16 = 88,
    kEmrPolylineTo16 = 89,
    kEmrPolyPolyline16 = 90,
    kEmrPolyPolygon16 = 91,
    kEmrPolyDraw16 = 92,
    kEmrCreateMonoBrush = 93,
    kEmrCreateDibPatternBrushPt = 94,
    kEmrExtCreatePen = 95,
    kEmrPolyTextOutA = 96,
    kEmrPolyTextOutW = 97,
    kEmrSmallTextOut = 108,
    kEmrAlphaBlend = 114,
    kEmrTransparentBlt = 116,
    kEmrGradientFill = 118,
};

constexpr uint32_t kStockObject = 0x80000000u;
constexpr uint32_t kSrcCopy = 0x00CC0020;
constexpr size_t kRecordHeaderBytes = 8;

// Text options of the short text record.
constexpr uint32_t kEtoNoRect = 0x0100;
constexpr uint32_t kEtoSmallChars = 0x0200;

// Records whose size never varies: any other size is impossible.
uint32_t FixedSize(uint32_t type) {
    switch (type) {
    case kEmrSaveDc:
    case kEmrBeginPath:
    case kEmrEndPath:
    case kEmrCloseFigure:
    case kEmrAbortPath:
    case kEmrWidenPath:
        return 8;
    case kEmrSetMapMode:
    case kEmrSetBkMode:
    case kEmrSetPolyFillMode:
    case kEmrSetRop2:
    case kEmrSetStretchBltMode:
    case kEmrSetTextAlign:
    case kEmrSetTextColor:
    case kEmrSetBkColor:
    case kEmrRestoreDc:
    case kEmrSelectObject:
    case kEmrDeleteObject:
    case kEmrSelectPalette:
    case kEmrSetArcDirection:
    case kEmrSetMiterLimit:
    case kEmrSelectClipPath:
        return 12;
    case kEmrSetWindowExtEx:
    case kEmrSetWindowOrgEx:
    case kEmrSetViewportExtEx:
    case kEmrSetViewportOrgEx:
    case kEmrSetBrushOrgEx:
    case kEmrOffsetClipRgn:
    case kEmrMoveToEx:
    case kEmrLineTo:
        return 16;
    case kEmrSetPixelV:
        return 20;
    case kEmrExcludeClipRect:
    case kEmrIntersectClipRect:
    case kEmrScaleViewportExtEx:
    case kEmrScaleWindowExtEx:
    case kEmrCreateBrushIndirect:
    case kEmrEllipse:
    case kEmrRectangle:
    case kEmrExtFloodFill:
    case kEmrFillPath:
    case kEmrStrokeAndFillPath:
    case kEmrStrokePath:
        return 24;
    case kEmrCreatePen:
    case kEmrAngleArc:
        return 28;
    case kEmrSetWorldTransform:
    case kEmrRoundRect:
        return 32;
    case kEmrModifyWorldTransform:
        return 36;
    case kEmrArc:
    case kEmrChord:
    case kEmrPie:
    case kEmrArcTo:
        return 40;
    default:
        return 0;
    }
}

QColor ColourRef(uint32_t ref) {
    return QColor(static_cast<int>(ref & 0xFF), static_cast<int>((ref >> 8) & 0xFF), static_cast<int>((ref >> 16) & 0xFF));
}

double Finite(float v) { return std::isfinite(v) ? static_cast<double>(v) : 0.0; }

}  // namespace

const std::unordered_map<uint32_t, CEmfPlayer::Handler>& CEmfPlayer::Handlers() {
    using P = CEmfPlayer;
    static const std::unordered_map<uint32_t, Handler> handlers = {
        {kEmrPolyBezier, &P::PolyBezier},
        {kEmrPolygon, &P::Polygon},
        {kEmrPolyline, &P::Polyline},
        {kEmrPolyBezierTo, &P::PolyBezierTo},
        {kEmrPolylineTo, &P::PolylineTo},
        {kEmrPolyPolyline, &P::PolyPolyline},
        {kEmrPolyPolygon, &P::PolyPolygon},
        {kEmrSetWindowExtEx, &P::SetWindowExtEx},
        {kEmrSetWindowOrgEx, &P::SetWindowOrgEx},
        {kEmrSetViewportExtEx, &P::SetViewportExtEx},
        {kEmrSetViewportOrgEx, &P::SetViewportOrgEx},
        {kEmrSetBrushOrgEx, &P::SetBrushOrgEx},
        {kEmrSetPixelV, &P::SetPixelV},
        {kEmrSetMapMode, &P::SetMapMode},
        {kEmrSetBkMode, &P::SetBkMode},
        {kEmrSetPolyFillMode, &P::SetPolyFillMode},
        {kEmrSetRop2, &P::SetRop2},
        {kEmrSetStretchBltMode, &P::SetStretchBltMode},
        {kEmrSetTextAlign, &P::SetTextAlign},
        {kEmrSetTextColor, &P::SetTextColor},
        {kEmrSetBkColor, &P::SetBkColor},
        {kEmrOffsetClipRgn, &P::OffsetClipRgn},
        {kEmrMoveToEx, &P::MoveToEx},
        {kEmrExcludeClipRect, &P::ExcludeClipRect},
        {kEmrIntersectClipRect, &P::IntersectClipRect},
        {kEmrScaleViewportExtEx, &P::ScaleViewportExtEx},
        {kEmrScaleWindowExtEx, &P::ScaleWindowExtEx},
        {kEmrSaveDc, &P::SaveDc},
        {kEmrRestoreDc, &P::RestoreDc},
        {kEmrSetWorldTransform, &P::SetWorldTransform},
        {kEmrModifyWorldTransform, &P::ModifyWorldTransform},
        {kEmrSelectObject, &P::SelectObject},
        {kEmrCreatePen, &P::CreatePen},
        {kEmrCreateBrushIndirect, &P::CreateBrushIndirect},
        {kEmrDeleteObject, &P::DeleteObject},
        {kEmrAngleArc, &P::AngleArc},
        {kEmrEllipse, &P::Ellipse},
        {kEmrRectangle, &P::Rectangle},
        {kEmrRoundRect, &P::RoundRect},
        {kEmrArc, &P::Arc},
        {kEmrChord, &P::Chord},
        {kEmrPie, &P::Pie},
        {kEmrSelectPalette, &P::SelectPalette},
        {kEmrCreatePalette, &P::CreatePalette},
        {kEmrExtFloodFill, &P::ExtFloodFill},
        {kEmrLineTo, &P::LineTo},
        {kEmrArcTo, &P::ArcTo},
        {kEmrPolyDraw, &P::PolyDraw},
        {kEmrSetArcDirection, &P::SetArcDirection},
        {kEmrSetMiterLimit, &P::SetMiterLimit},
        {kEmrBeginPath, &P::BeginPath},
        {kEmrEndPath, &P::EndPath},
        {kEmrCloseFigure, &P::CloseFigure},
        {kEmrFillPath, &P::FillPath},
        {kEmrStrokeAndFillPath, &P::StrokeAndFillPath},
        {kEmrStrokePath, &P::StrokePath},
        {kEmrWidenPath, &P::WidenPath},
        {kEmrSelectClipPath, &P::SelectClipPath},
        {kEmrAbortPath, &P::AbortPath},
        {kEmrFillRgn, &P::FillRgn},
        {kEmrFrameRgn, &P::FrameRgn},
        {kEmrInvertRgn, &P::InvertRgn},
        {kEmrPaintRgn, &P::PaintRgn},
        {kEmrExtSelectClipRgn, &P::ExtSelectClipRgn},
        {kEmrBitBlt, &P::BitBlt},
        {kEmrStretchBlt, &P::StretchBlt},
        {kEmrSetDiBitsToDevice, &P::SetDiBitsToDevice},
        {kEmrStretchDiBits, &P::StretchDiBits},
        {kEmrExtCreateFontIndirectW, &P::ExtCreateFontIndirectW},
        {kEmrExtTextOutA, &P::ExtTextOutA},
        {kEmrExtTextOutW, &P::ExtTextOutW},
        {kEmrPolyBezier16, &P::PolyBezier16},
        {kEmrPolygon16, &P::Polygon16},
        {kEmrPolyline16, &P::Polyline16},
        {kEmrPolyBezierTo16, &P::PolyBezierTo16},
        {kEmrPolylineTo16, &P::PolylineTo16},
        {kEmrPolyPolyline16, &P::PolyPolyline16},
        {kEmrPolyPolygon16, &P::PolyPolygon16},
        {kEmrPolyDraw16, &P::PolyDraw16},
        {kEmrCreateMonoBrush, &P::CreateMonoBrush},
        {kEmrCreateDibPatternBrushPt, &P::CreateDibPatternBrushPt},
        {kEmrExtCreatePen, &P::ExtCreatePen},
        {kEmrPolyTextOutA, &P::PolyTextOutA},
        {kEmrPolyTextOutW, &P::PolyTextOutW},
        {kEmrSmallTextOut, &P::SmallTextOut},
        {kEmrAlphaBlend, &P::AlphaBlend},
        {kEmrTransparentBlt, &P::TransparentBlt},
        {kEmrGradientFill, &P::GradientFill},
    };
    return handlers;
}

CEmfPlayer::CEmfPlayer(std::span<const uint8_t> records, int handles, CGdiCanvas& canvas)
    : records_(records), handles_(static_cast<uint32_t>(std::max(handles, 0))), canvas_(canvas) {}

// Slot 0 belongs to the metafile itself; new objects go into slots 1 to handles - 1.
uint32_t CEmfPlayer::NewObjectIndex(CRecordReader& in) {
    const uint32_t index = in.U32();
    if (index == 0 || index >= handles_) throw CBadRecord("creates an object outside the handle table");
    return index;
}

PlayOutcome CEmfPlayer::Play() {
    const auto& handlers = Handlers();
    size_t at = 0;
    size_t index = 0;
    while (records_.size() - at >= kRecordHeaderBytes) {
        CRecordReader header(records_.subspan(at, kRecordHeaderBytes));
        const uint32_t type = header.U32();
        const uint32_t size = header.U32();
        if (size < kRecordHeaderBytes || size % 4 != 0 || size > records_.size() - at) {
            Trace(2, FormatText("Metafile record %zu (type %u) has an impossible size.\n", index, type));
            return {false, FormatText("record %zu (type %u) has an impossible size of %u bytes", index, type, size)};
        }
        if (type == kEmrEof) return {};
        CWorkBudget::Charge();
        if (const uint32_t fixed = FixedSize(type); fixed != 0 && size != fixed) {
            Trace(2, FormatText("Metafile record %zu (type %u) has an impossible size.\n", index, type));
            return {false, FormatText("record %zu (type %u) has an impossible size of %u bytes", index, type, size)};
        }
        if (const auto found = handlers.find(type); found != handlers.end()) {
            CRecordReader in(records_.subspan(at, size));
            in.Skip(kRecordHeaderBytes);
            try {
                (this->*(found->second))(in);
            } catch (const CBadRecord& bad) {
                Trace(2, FormatText("Metafile record %zu (type %u) %s.\n", index, type, bad.what()));
                return {false, FormatText("record %zu (type %u) %s", index, type, bad.what())};
            }
        }
        at += size;
        ++index;
    }
    return {};
}

QPointF CEmfPlayer::Point(CRecordReader& in) {
    const double x = in.I32();
    const double y = in.I32();
    return {x, y};
}

QPointF CEmfPlayer::Point16(CRecordReader& in) {
    const double x = in.I16();
    const double y = in.I16();
    return {x, y};
}

QRectF CEmfPlayer::Box(CRecordReader& in) {
    const QPointF topLeft = Point(in);
    const QPointF bottomRight = Point(in);
    return QRectF(topLeft, bottomRight);
}

QColor CEmfPlayer::Colour(CRecordReader& in) { return ColourOf(in.U32()); }

QColor CEmfPlayer::ColourOf(uint32_t ref) const {
    if ((ref >> 24) == 0x01) {
        const auto& entries = canvas_.State().palette.entries;
        const uint32_t index = ref & 0xFFFF;
        return index < entries.size() ? QColor::fromRgb(entries[index]) : QColor(Qt::black);
    }
    return ColourRef(ref);
}

QTransform CEmfPlayer::Xform(CRecordReader& in) {
    const double m11 = Finite(in.F32()), m12 = Finite(in.F32()), m21 = Finite(in.F32()), m22 = Finite(in.F32());
    const double dx = Finite(in.F32()), dy = Finite(in.F32());
    return QTransform(m11, m12, m21, m22, dx, dy);
}

std::vector<QPointF> CEmfPlayer::Points(CRecordReader& in, bool small) {
    in.Skip(16);  // bounds
    const uint32_t count = in.U32();
    if (!in.Has(static_cast<uint64_t>(count) * (small ? 4 : 8))) throw CRecordTooShort();
    std::vector<QPointF> points;
    points.reserve(count);
    for (uint32_t i = 0; i < count; ++i) points.push_back(small ? Point16(in) : Point(in));
    return points;
}

void CEmfPlayer::PolyCounts(CRecordReader& in, bool small, std::vector<QPointF>& points, std::vector<uint32_t>& counts) {
    in.Skip(16);  // bounds
    const uint32_t polys = in.U32();
    const uint32_t total = in.U32();
    if (!in.Has(static_cast<uint64_t>(polys) * 4 + static_cast<uint64_t>(total) * (small ? 4 : 8))) throw CRecordTooShort();
    uint64_t sum = 0;
    counts.reserve(polys);
    for (uint32_t i = 0; i < polys; ++i) {
        counts.push_back(in.U32());
        sum += counts.back();
    }
    if (sum > total) throw CRecordTooShort();
    points.reserve(total);
    for (uint32_t i = 0; i < total; ++i) points.push_back(small ? Point16(in) : Point(in));
}

void CEmfPlayer::PolyBezier(CRecordReader& in) { canvas_.PolyBezier(Points(in, false)); }
void CEmfPlayer::Polygon(CRecordReader& in) { canvas_.Polygon(Points(in, false)); }
void CEmfPlayer::Polyline(CRecordReader& in) { canvas_.Polyline(Points(in, false)); }
void CEmfPlayer::PolyBezierTo(CRecordReader& in) { canvas_.PolyBezierTo(Points(in, false)); }
void CEmfPlayer::PolylineTo(CRecordReader& in) { canvas_.PolylineTo(Points(in, false)); }
void CEmfPlayer::PolyBezier16(CRecordReader& in) { canvas_.PolyBezier(Points(in, true)); }
void CEmfPlayer::Polygon16(CRecordReader& in) { canvas_.Polygon(Points(in, true)); }
void CEmfPlayer::Polyline16(CRecordReader& in) { canvas_.Polyline(Points(in, true)); }
void CEmfPlayer::PolyBezierTo16(CRecordReader& in) { canvas_.PolyBezierTo(Points(in, true)); }
void CEmfPlayer::PolylineTo16(CRecordReader& in) { canvas_.PolylineTo(Points(in, true)); }

void CEmfPlayer::PlayPolyPoly(CRecordReader& in, bool small, bool closed) {
    std::vector<QPointF> points;
    std::vector<uint32_t> counts;
    PolyCounts(in, small, points, counts);
    if (closed)
        canvas_.PolyPolygon(points, counts);
    else
        canvas_.PolyPolyline(points, counts);
}

void CEmfPlayer::PolyPolyline(CRecordReader& in) { PlayPolyPoly(in, false, false); }
void CEmfPlayer::PolyPolygon(CRecordReader& in) { PlayPolyPoly(in, false, true); }
void CEmfPlayer::PolyPolyline16(CRecordReader& in) { PlayPolyPoly(in, true, false); }
void CEmfPlayer::PolyPolygon16(CRecordReader& in) { PlayPolyPoly(in, true, true); }

void CEmfPlayer::PolyDraw(CRecordReader& in) {
    in.Skip(16);
    const uint32_t count = in.U32();
    if (!in.Has(static_cast<uint64_t>(count) * 9)) throw CRecordTooShort();
    std::vector<QPointF> points;
    for (uint32_t i = 0; i < count; ++i) points.push_back(Point(in));
    const auto types = in.Bytes(count);
    canvas_.PolyDraw(points, types);
}

void CEmfPlayer::PolyDraw16(CRecordReader& in) {
    in.Skip(16);
    const uint32_t count = in.U32();
    if (!in.Has(static_cast<uint64_t>(count) * 5)) throw CRecordTooShort();
    std::vector<QPointF> points;
    for (uint32_t i = 0; i < count; ++i) points.push_back(Point16(in));
    const auto types = in.Bytes(count);
    canvas_.PolyDraw(points, types);
}

void CEmfPlayer::SetWindowExtEx(CRecordReader& in) {
    const QPointF e = Point(in);
    canvas_.Dc().SetWindowExt(QSizeF(e.x(), e.y()));
}

void CEmfPlayer::SetViewportExtEx(CRecordReader& in) {
    const QPointF e = Point(in);
    canvas_.Dc().SetViewportExt(QSizeF(e.x(), e.y()));
}

void CEmfPlayer::SetWindowOrgEx(CRecordReader& in) { canvas_.Dc().SetWindowOrg(Point(in)); }
void CEmfPlayer::SetViewportOrgEx(CRecordReader& in) { canvas_.Dc().SetViewportOrg(Point(in)); }
void CEmfPlayer::SetBrushOrgEx(CRecordReader& in) { Point(in); }

void CEmfPlayer::SetPixelV(CRecordReader& in) {
    const QPointF p = Point(in);
    canvas_.SetPixel(p, Colour(in));
}

void CEmfPlayer::SetMapMode(CRecordReader& in) { canvas_.Dc().SetMapMode(in.I32()); }
void CEmfPlayer::SetBkMode(CRecordReader& in) { canvas_.State().bkMode = in.I32(); }
void CEmfPlayer::SetPolyFillMode(CRecordReader& in) { canvas_.State().polyFillMode = in.I32(); }
void CEmfPlayer::SetRop2(CRecordReader& in) { canvas_.State().rop2 = in.I32(); }
void CEmfPlayer::SetStretchBltMode(CRecordReader& in) { canvas_.State().stretchMode = in.I32(); }
void CEmfPlayer::SetTextAlign(CRecordReader& in) { canvas_.State().textAlign = in.U32(); }
void CEmfPlayer::SetTextColor(CRecordReader& in) { canvas_.State().textColour = Colour(in); }
void CEmfPlayer::SetBkColor(CRecordReader& in) { canvas_.State().bkColour = Colour(in); }
void CEmfPlayer::OffsetClipRgn(CRecordReader& in) { canvas_.OffsetClip(Point(in)); }
void CEmfPlayer::MoveToEx(CRecordReader& in) { canvas_.MoveTo(Point(in)); }
void CEmfPlayer::ExcludeClipRect(CRecordReader& in) { canvas_.ExcludeClipRect(Box(in)); }
void CEmfPlayer::IntersectClipRect(CRecordReader& in) { canvas_.IntersectClipRect(Box(in)); }

void CEmfPlayer::ScaleViewportExtEx(CRecordReader& in) {
    const double xNum = in.I32(), xDenom = in.I32(), yNum = in.I32(), yDenom = in.I32();
    canvas_.Dc().ScaleViewportExt(xNum, xDenom, yNum, yDenom);
}

void CEmfPlayer::ScaleWindowExtEx(CRecordReader& in) {
    const double xNum = in.I32(), xDenom = in.I32(), yNum = in.I32(), yDenom = in.I32();
    canvas_.Dc().ScaleWindowExt(xNum, xDenom, yNum, yDenom);
}

void CEmfPlayer::SaveDc(CRecordReader&) { canvas_.Dc().Save(); }
void CEmfPlayer::RestoreDc(CRecordReader& in) { canvas_.Dc().Restore(in.I32()); }

void CEmfPlayer::SetWorldTransform(CRecordReader& in) {
    const QTransform t = Xform(in);
    if (t.determinant() != 0) canvas_.State().world = t;
}

void CEmfPlayer::ModifyWorldTransform(CRecordReader& in) {
    const QTransform t = Xform(in);
    const uint32_t mode = in.U32();
    QTransform& world = canvas_.State().world;
    switch (mode) {
    case 1: world = QTransform(); break;
    case 2: world = t * world; break;  // the new transform applies first
    case 3: world = world * t; break;
    case 4: world = t; break;
    default: break;
    }
}

void CEmfPlayer::SelectObject(CRecordReader& in) {
    const uint32_t index = in.U32();
    const GdiObject* object = (index & kStockObject) ? StockObject(index & ~kStockObject) : canvas_.Objects().Find(index);
    if (object != nullptr) canvas_.SelectObject(*object);
}

void CEmfPlayer::CreatePen(CRecordReader& in) {
    const uint32_t index = NewObjectIndex(in);
    GdiPen pen;
    pen.style = in.U32();
    pen.width = std::abs(static_cast<double>(in.I32()));
    in.I32();
    pen.colour = Colour(in);
    pen.cosmetic = pen.width == 0;
    canvas_.Objects().Store(index, pen);
}

void CEmfPlayer::CreateBrushIndirect(CRecordReader& in) {
    const uint32_t index = NewObjectIndex(in);
    GdiBrush brush;
    brush.style = in.U32();
    brush.colour = Colour(in);
    brush.hatch = in.U32();
    if (brush.style != kBsSolid && brush.style != kBsNull && brush.style != kBsHatched) brush.style = kBsSolid;
    canvas_.Objects().Store(index, brush);
}

void CEmfPlayer::DeleteObject(CRecordReader& in) { canvas_.Objects().Delete(in.U32()); }

void CEmfPlayer::AngleArc(CRecordReader& in) {
    const QPointF centre = Point(in);
    const double radius = in.U32();
    const double start = Finite(in.F32());
    const double sweep = Finite(in.F32());
    canvas_.AngleArc(centre, radius, start, sweep);
}

void CEmfPlayer::Ellipse(CRecordReader& in) { canvas_.Ellipse(Box(in)); }
void CEmfPlayer::Rectangle(CRecordReader& in) { canvas_.Rectangle(Box(in)); }

void CEmfPlayer::RoundRect(CRecordReader& in) {
    const QRectF box = Box(in);
    const QPointF corner = Point(in);
    canvas_.RoundRect(box, QSizeF(corner.x(), corner.y()));
}

void CEmfPlayer::Arc(CRecordReader& in) {
    const QRectF box = Box(in);
    const QPointF start = Point(in);
    canvas_.Arc(box, start, Point(in), CGdiCanvas::ArcKind::Arc);
}

void CEmfPlayer::Chord(CRecordReader& in) {
    const QRectF box = Box(in);
    const QPointF start = Point(in);
    canvas_.Arc(box, start, Point(in), CGdiCanvas::ArcKind::Chord);
}

void CEmfPlayer::Pie(CRecordReader& in) {
    const QRectF box = Box(in);
    const QPointF start = Point(in);
    canvas_.Arc(box, start, Point(in), CGdiCanvas::ArcKind::Pie);
}

void CEmfPlayer::ArcTo(CRecordReader& in) {
    const QRectF box = Box(in);
    const QPointF start = Point(in);
    canvas_.Arc(box, start, Point(in), CGdiCanvas::ArcKind::ArcTo);
}

void CEmfPlayer::SelectPalette(CRecordReader& in) {
    const uint32_t index = in.U32();
    const GdiObject* object = (index & kStockObject) ? StockObject(index & ~kStockObject) : canvas_.Objects().Find(index);
    if (object != nullptr && std::holds_alternative<GdiPalette>(*object)) canvas_.SelectObject(*object);
}

void CEmfPlayer::CreatePalette(CRecordReader& in) {
    const uint32_t index = NewObjectIndex(in);
    in.U16();  // version
    const uint16_t count = in.U16();
    GdiPalette palette;
    for (uint16_t i = 0; i < count; ++i) {
        const auto e = in.Bytes(4);
        palette.entries.push_back(qRgb(e[0], e[1], e[2]));
    }
    canvas_.Objects().Store(index, palette);
}

void CEmfPlayer::ExtFloodFill(CRecordReader& in) {
    const QPointF p = Point(in);
    const QColor colour = Colour(in);
    canvas_.FloodFill(p, colour, in.U32() == 1);
}

void CEmfPlayer::LineTo(CRecordReader& in) { canvas_.LineTo(Point(in)); }
void CEmfPlayer::SetArcDirection(CRecordReader& in) { canvas_.State().arcDirection = in.I32(); }

void CEmfPlayer::SetMiterLimit(CRecordReader& in) {
    // Written as an integer by some programs and as a float by others.
    const uint32_t raw = in.U32();
    double limit = raw;
    if (raw > 0xFFFF) limit = Finite(std::bit_cast<float>(raw));
    if (limit >= 1) canvas_.State().miterLimit = limit;
}

void CEmfPlayer::BeginPath(CRecordReader&) { canvas_.BeginPath(); }
void CEmfPlayer::EndPath(CRecordReader&) { canvas_.EndPath(); }
void CEmfPlayer::CloseFigure(CRecordReader&) { canvas_.CloseFigure(); }
void CEmfPlayer::FillPath(CRecordReader&) { canvas_.FillPath(); }
void CEmfPlayer::StrokeAndFillPath(CRecordReader&) { canvas_.StrokeAndFillPath(); }
void CEmfPlayer::StrokePath(CRecordReader&) { canvas_.StrokePath(); }
void CEmfPlayer::WidenPath(CRecordReader&) { canvas_.WidenPath(); }
void CEmfPlayer::SelectClipPath(CRecordReader& in) { canvas_.SelectClipPath(in.I32()); }
void CEmfPlayer::AbortPath(CRecordReader&) { canvas_.AbortPath(); }

// Region data: a 32-byte header (its size, type, rectangle count, byte count, bounds) and
// the rectangles.
QPainterPath CEmfPlayer::Region(CRecordReader in) {
    const uint32_t headerSize = in.U32();
    in.U32();  // type
    const uint32_t count = in.U32();
    in.U32();  // byte count
    in.Skip(16);  // bounds
    if (headerSize > 32) in.Skip(headerSize - 32);
    if (!in.Has(static_cast<uint64_t>(count) * 16)) throw CRecordTooShort();
    std::vector<QRect> rects;
    rects.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const int left = in.I32(), top = in.I32(), right = in.I32(), bottom = in.I32();
        if (right > left && bottom > top) rects.push_back(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)));
    }
    QRegion region;
    region.setRects(rects.data(), static_cast<int>(rects.size()));
    QPainterPath path;
    path.addRegion(region);
    return path;
}

const GdiBrush* CEmfPlayer::BrushAt(uint32_t index) {
    const GdiObject* object = (index & kStockObject) ? StockObject(index & ~kStockObject) : canvas_.Objects().Find(index);
    return object != nullptr ? std::get_if<GdiBrush>(object) : nullptr;
}

void CEmfPlayer::FillRgn(CRecordReader& in) {
    in.Skip(16);
    const uint32_t bytes = in.U32();
    const uint32_t brushIndex = in.U32();
    const QPainterPath area = Region(in.At(in.Position(), bytes));
    if (const GdiBrush* brush = BrushAt(brushIndex)) canvas_.FillArea(canvas_.Dc().Transform().map(area), *brush);
}

void CEmfPlayer::FrameRgn(CRecordReader& in) {
    in.Skip(16);
    const uint32_t bytes = in.U32();
    const uint32_t brushIndex = in.U32();
    const double width = in.I32();
    const double height = in.I32();
    const QPainterPath area = Region(in.At(in.Position(), bytes));
    if (const GdiBrush* brush = BrushAt(brushIndex))
        canvas_.FrameArea(canvas_.Dc().Transform().map(area), *brush, QSizeF(width, height));
}

void CEmfPlayer::InvertRgn(CRecordReader& in) {
    in.Skip(16);
    const uint32_t bytes = in.U32();
    canvas_.InvertArea(canvas_.Dc().Transform().map(Region(in.At(in.Position(), bytes))));
}

void CEmfPlayer::PaintRgn(CRecordReader& in) {
    in.Skip(16);
    const uint32_t bytes = in.U32();
    const QPainterPath area = Region(in.At(in.Position(), bytes));
    canvas_.FillArea(canvas_.Dc().Transform().map(area), canvas_.State().brush);
}

void CEmfPlayer::ExtSelectClipRgn(CRecordReader& in) {
    const uint32_t bytes = in.U32();
    const int mode = in.I32();
    if (bytes == 0) {
        canvas_.CombineClip(std::nullopt, mode);
        return;
    }
    // Clipping regions are in the metafile's device units.
    canvas_.CombineClip(canvas_.Dc().Device().map(Region(in.At(in.Position(), bytes))), mode);
}

// Bit blits and stretch blits share their layout; a stretch blit adds the source's size,
// a bit blit copies the destination's.
void CEmfPlayer::PlayBlit(CRecordReader& in, bool stretched) {
    in.Skip(16);
    const QPointF at = Point(in);
    const QPointF size = Point(in);
    const uint32_t rop = in.U32();
    const QPointF source = Point(in);
    in.Skip(24 + 4);  // source transform, background colour
    const uint32_t usage = in.U32();
    const uint32_t bmiOffset = in.U32(), bmiBytes = in.U32(), bitsOffset = in.U32(), bitsBytes = in.U32();
    const QPointF sourceSize = stretched ? Point(in) : size;
    const QRectF destination(at, QSizeF(size.x(), size.y()));
    if (bmiBytes == 0) {
        canvas_.Blit(destination, nullptr, QRectF(), rop);
        return;
    }
    const DibImage dib = DecodeDib(in.At(bmiOffset, bmiBytes), in.At(bitsOffset, bitsBytes),
                                   DibColourSource{usage == 1, &canvas_.State().palette});
    canvas_.Blit(destination, &dib.image, QRectF(source, QSizeF(sourceSize.x(), sourceSize.y())), rop);
}

void CEmfPlayer::BitBlt(CRecordReader& in) { PlayBlit(in, false); }
void CEmfPlayer::StretchBlt(CRecordReader& in) { PlayBlit(in, true); }

void CEmfPlayer::SetDiBitsToDevice(CRecordReader& in) {
    in.Skip(16);
    const QPointF at = Point(in);
    const QPointF source = Point(in);
    const QPointF size = Point(in);
    const uint32_t bmiOffset = in.U32(), bmiBytes = in.U32(), bitsOffset = in.U32(), bitsBytes = in.U32();
    const uint32_t usage = in.U32();
    const DibImage dib = DecodeDib(in.At(bmiOffset, bmiBytes), in.At(bitsOffset, bitsBytes),
                                   DibColourSource{usage == 1, &canvas_.State().palette}, false, true);
    const QSizeF extent(size.x(), size.y());
    canvas_.Blit(QRectF(at, extent), &dib.image, TopDownSource(dib, QRectF(source, extent)), kSrcCopy);
}

void CEmfPlayer::StretchDiBits(CRecordReader& in) {
    in.Skip(16);
    const QPointF at = Point(in);
    const QPointF source = Point(in);
    const QPointF sourceSize = Point(in);
    const uint32_t bmiOffset = in.U32(), bmiBytes = in.U32(), bitsOffset = in.U32(), bitsBytes = in.U32();
    const uint32_t usage = in.U32();
    const uint32_t rop = in.U32();
    const QPointF size = Point(in);
    const QRectF destination(at, QSizeF(size.x(), size.y()));
    if (bmiBytes == 0) {
        canvas_.Blit(destination, nullptr, QRectF(), rop);
        return;
    }
    const DibImage dib = DecodeDib(in.At(bmiOffset, bmiBytes), in.At(bitsOffset, bitsBytes),
                                   DibColourSource{usage == 1, &canvas_.State().palette});
    canvas_.Blit(destination, &dib.image, TopDownSource(dib, QRectF(source, QSizeF(sourceSize.x(), sourceSize.y()))), rop);
}

void CEmfPlayer::ExtCreateFontIndirectW(CRecordReader& in) {
    const uint32_t index = NewObjectIndex(in);
    GdiFont font;
    font.height = in.I32();
    font.width = in.I32();
    font.escapement = in.I32();
    in.I32();  // orientation
    font.weight = in.I32();
    font.italic = in.U8() != 0;
    font.underline = in.U8() != 0;
    font.strikeOut = in.U8() != 0;
    font.charSet = in.U8();
    in.Skip(3);
    font.pitchAndFamily = in.U8();
    QString name;
    for (int i = 0; i < 32; ++i) {
        const char16_t c = in.U16();
        if (c == 0) break;
        name.append(QChar(c));
    }
    font.faceName = name;
    canvas_.Objects().Store(index, font);
}

// One EMRTEXT block at emrText (offsets inside it count from the record's start).
void CEmfPlayer::Text(CRecordReader& in, size_t emrText, bool wide) {
    CRecordReader text = in.At(emrText, 40);
    TextRun run;
    run.reference = Point(text);
    const uint32_t count = text.U32();
    const uint32_t stringOffset = text.U32();
    run.options = text.U32();
    run.rect = Box(text);
    if (!(run.options & (kEtoOpaque | kEtoClipped))) run.rect.reset();
    const uint32_t dxOffset = text.U32();
    if (count == 0 && !(run.options & kEtoOpaque)) return;
    const GdiFont& font = canvas_.State().font;
    if (wide) {
        CRecordReader chars = in.At(stringOffset, count, 2);
        QString string;
        string.reserve(count);
        for (uint32_t i = 0; i < count; ++i) string.append(QChar(static_cast<char16_t>(chars.U16())));
        run.text = string;
    } else {
        run.text = DecodeText(in.At(stringOffset, count).Data(), font.charSet, font.faceName);
    }
    if (dxOffset != 0 && count != 0) {
        // With kEtoPdy each advance comes with a vertical one, which is not followed.
        const bool pairs = (run.options & kEtoPdy) != 0;
        CRecordReader dx = in.At(dxOffset, static_cast<uint64_t>(count) * (pairs ? 2 : 1), 4);
        for (uint32_t i = 0; i < count; ++i) {
            run.dx.push_back(dx.I32());
            if (pairs) dx.I32();
        }
        // Multi-byte strings give one advance per byte; without a one-to-one match the
        // font's own advances are used.
        if (run.dx.size() != static_cast<size_t>(run.text.size())) run.dx.clear();
    }
    canvas_.DrawText(run);
}

void CEmfPlayer::ExtTextOutA(CRecordReader& in) { Text(in, 36, false); }
void CEmfPlayer::ExtTextOutW(CRecordReader& in) { Text(in, 36, true); }

void CEmfPlayer::PolyTextOutA(CRecordReader& in) {
    in.Skip(28);  // bounds, graphics mode, scales
    const uint32_t strings = in.U32();
    in.At(in.Position(), strings, 40);
    for (uint32_t i = 0; i < strings; ++i) Text(in, 40 + size_t{40} * i, false);
}

void CEmfPlayer::PolyTextOutW(CRecordReader& in) {
    in.Skip(28);
    const uint32_t strings = in.U32();
    in.At(in.Position(), strings, 40);
    for (uint32_t i = 0; i < strings; ++i) Text(in, 40 + size_t{40} * i, true);
}

void CEmfPlayer::SmallTextOut(CRecordReader& in) {
    TextRun run;
    run.reference = Point(in);
    const uint32_t count = in.U32();
    run.options = in.U32();
    in.Skip(12);  // graphics mode, scales
    if (!(run.options & kEtoNoRect)) {
        const QRectF clip = Box(in);
        if (run.options & (kEtoOpaque | kEtoClipped)) run.rect = clip;
    }
    const GdiFont& font = canvas_.State().font;
    if (run.options & kEtoSmallChars) {
        run.text = DecodeText(in.Bytes(count), font.charSet, font.faceName);
    } else {
        if (!in.Has(static_cast<uint64_t>(count) * 2)) throw CRecordTooShort();
        for (uint32_t i = 0; i < count; ++i) run.text.append(QChar(static_cast<char16_t>(in.U16())));
    }
    canvas_.DrawText(run);
}

void CEmfPlayer::CreateMonoBrush(CRecordReader& in) {
    const uint32_t index = NewObjectIndex(in);
    const uint32_t usage = in.U32();
    const uint32_t bmiOffset = in.U32(), bmiBytes = in.U32(), bitsOffset = in.U32(), bitsBytes = in.U32();
    GdiBrush brush;
    brush.style = kBsPattern;
    brush.pattern = DecodeDib(in.At(bmiOffset, bmiBytes), in.At(bitsOffset, bitsBytes),
                              DibColourSource{usage == 1, &canvas_.State().palette}).image;
    brush.monochrome = true;
    canvas_.Objects().Store(index, brush);
}

void CEmfPlayer::CreateDibPatternBrushPt(CRecordReader& in) {
    const uint32_t index = NewObjectIndex(in);
    const uint32_t usage = in.U32();
    const uint32_t bmiOffset = in.U32(), bmiBytes = in.U32(), bitsOffset = in.U32(), bitsBytes = in.U32();
    GdiBrush brush;
    brush.style = kBsDibPatternPt;
    brush.pattern = DecodeDib(in.At(bmiOffset, bmiBytes), in.At(bitsOffset, bitsBytes),
                              DibColourSource{usage == 1, &canvas_.State().palette}).image;
    canvas_.Objects().Store(index, brush);
}

void CEmfPlayer::ExtCreatePen(CRecordReader& in) {
    const uint32_t index = NewObjectIndex(in);
    const uint32_t bmiOffset = in.U32(), bmiBytes = in.U32(), bitsOffset = in.U32(), bitsBytes = in.U32();
    GdiPen pen;
    pen.style = in.U32();
    pen.width = in.U32();
    GdiBrush brush;
    brush.style = in.U32();
    const uint32_t colourRef = in.U32();
    pen.colour = brush.colour = ColourOf(colourRef);
    brush.hatch = in.U32();
    const uint32_t entries = in.U32();
    pen.cosmetic = (pen.style & kPsGeometric) == 0 || pen.width == 0;
    if (brush.style == kBsNull) pen.style = (pen.style & ~kPsStyleMask) | kPsNull;
    if (brush.style == kBsHatched) pen.brush = brush;
    if ((brush.style == kBsPattern || brush.style == kBsDibPattern || brush.style == kBsDibPatternPt) && bmiBytes != 0) {
        // The pattern's colour table holds colours, or palette indices when the colour
        // field says so (its low word is then the usage).
        const bool paletteIndices = brush.style != kBsPattern && (colourRef & 0xFFFF) == 1;
        brush.pattern = DecodeDib(in.At(bmiOffset, bmiBytes), in.At(bitsOffset, bitsBytes),
                                  DibColourSource{paletteIndices, &canvas_.State().palette}).image;
        brush.monochrome = brush.style == kBsPattern;
        if (!brush.pattern.isNull()) pen.brush = brush;
    }
    if ((pen.style & kPsStyleMask) == kPsUserStyle) {
        if (!in.Has(static_cast<uint64_t>(entries) * 4)) throw CRecordTooShort();
        for (uint32_t i = 0; i < entries && i < 64; ++i) pen.dashes.push_back(in.U32());
    }
    canvas_.Objects().Store(index, pen);
}

void CEmfPlayer::AlphaBlend(CRecordReader& in) {
    in.Skip(16);
    const QPointF at = Point(in);
    const QPointF size = Point(in);
    in.U8();  // operation: always "source over"
    in.U8();
    const int constantAlpha = in.U8();
    const bool sourceAlpha = (in.U8() & 0x01) != 0;
    const QPointF source = Point(in);
    in.Skip(24 + 4);
    const uint32_t usage = in.U32();
    const uint32_t bmiOffset = in.U32(), bmiBytes = in.U32(), bitsOffset = in.U32(), bitsBytes = in.U32();
    const QPointF sourceSize = Point(in);
    if (bmiBytes == 0) return;
    const DibImage dib = DecodeDib(in.At(bmiOffset, bmiBytes), in.At(bitsOffset, bitsBytes),
                                   DibColourSource{usage == 1, &canvas_.State().palette}, sourceAlpha);
    canvas_.AlphaBlend(QRectF(at, QSizeF(size.x(), size.y())), dib.image,
                       QRectF(source, QSizeF(sourceSize.x(), sourceSize.y())), constantAlpha, sourceAlpha);
}

void CEmfPlayer::TransparentBlt(CRecordReader& in) {
    in.Skip(16);
    const QPointF at = Point(in);
    const QPointF size = Point(in);
    const QRgb key = Colour(in).rgb();
    const QPointF source = Point(in);
    in.Skip(24 + 4);
    const uint32_t usage = in.U32();
    const uint32_t bmiOffset = in.U32(), bmiBytes = in.U32(), bitsOffset = in.U32(), bitsBytes = in.U32();
    const QPointF sourceSize = Point(in);
    if (bmiBytes == 0) return;
    DibImage dib = DecodeDib(in.At(bmiOffset, bmiBytes), in.At(bitsOffset, bitsBytes),
                             DibColourSource{usage == 1, &canvas_.State().palette});
    for (int y = 0; y < dib.image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(dib.image.scanLine(y));
        for (int x = 0; x < dib.image.width(); ++x)
            if ((row[x] | 0xFF000000u) == key) row[x] = 0;
    }
    canvas_.Blit(QRectF(at, QSizeF(size.x(), size.y())), &dib.image, QRectF(source, QSizeF(sourceSize.x(), sourceSize.y())),
                 kSrcCopy);
}

void CEmfPlayer::GradientFill(CRecordReader& in) {
    in.Skip(16);
    const uint32_t vertexCount = in.U32();
    const uint32_t shapes = in.U32();
    const uint32_t mode = in.U32();
    if (!in.Has(static_cast<uint64_t>(vertexCount) * 16)) throw CRecordTooShort();
    std::vector<QPointF> points;
    std::vector<QColor> colours;
    for (uint32_t i = 0; i < vertexCount; ++i) {
        points.push_back(Point(in));
        const int r = in.U16() >> 8, g = in.U16() >> 8, b = in.U16() >> 8;
        in.U16();  // alpha
        colours.push_back(QColor(r, g, b));
    }
    const bool triangles = mode == 2;
    if (!in.Has(static_cast<uint64_t>(shapes) * (triangles ? 12 : 8))) throw CRecordTooShort();
    for (uint32_t i = 0; i < shapes; ++i) {
        if (triangles) {
            const uint32_t a = in.U32(), b = in.U32(), c = in.U32();
            if (a < vertexCount && b < vertexCount && c < vertexCount)
                canvas_.GradientTriangle({points[a], points[b], points[c]}, {colours[a], colours[b], colours[c]});
        } else {
            const uint32_t a = in.U32(), b = in.U32();
            if (a < vertexCount && b < vertexCount)
                canvas_.GradientRect(QRectF(points[a], points[b]), colours[a], colours[b], mode == 1);
        }
    }
}

}  // namespace metafile
