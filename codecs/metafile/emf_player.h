#pragma once

#include "gdi_canvas.h"
#include "play_outcome.h"
#include "record_reader.h"

#include <QRectF>

#include <cstdint>
#include <span>
#include <unordered_map>

namespace metafile {

// Plays the records of an enhanced metafile on a canvas, one handler per record type.
// Comments (EMF+ data among them) and records this player does not draw are skipped by
// their size; a record whose size is not a multiple of four, runs past the data or is too
// short for its own fields ends playing.
class CEmfPlayer {
public:
    // handles: the handle table size the header declares; objects made outside it mark
    // a damaged record.
    CEmfPlayer(std::span<const uint8_t> records, int handles, CGdiCanvas& canvas);

    PlayOutcome Play();

    // Each handler gets the whole record, positioned after its type and size, so that the
    // offsets the record gives (counted from its start) can be followed with At.
    using Handler = void (CEmfPlayer::*)(CRecordReader&);

private:
    static const std::unordered_map<uint32_t, Handler>& Handlers();

    QPointF Point(CRecordReader& in);
    QPointF Point16(CRecordReader& in);
    QRectF Box(CRecordReader& in);
    QColor Colour(CRecordReader& in);
    QColor ColourOf(uint32_t ref) const;
    QTransform Xform(CRecordReader& in);
    std::vector<QPointF> Points(CRecordReader& in, bool small);
    void PolyCounts(CRecordReader& in, bool small, std::vector<QPointF>& points, std::vector<uint32_t>& counts);
    // Poly-polygons (closed) and poly-polylines, with 16- (small) or 32-bit points.
    void PlayPolyPoly(CRecordReader& in, bool small, bool closed);
    QPainterPath Region(CRecordReader in);
    const GdiBrush* BrushAt(uint32_t index);
    uint32_t NewObjectIndex(CRecordReader& in);
    void Text(CRecordReader& in, size_t emrText, bool wide);

    void PolyBezier(CRecordReader& in);
    void Polygon(CRecordReader& in);
    void Polyline(CRecordReader& in);
    void PolyBezierTo(CRecordReader& in);
    void PolylineTo(CRecordReader& in);
    void PolyPolyline(CRecordReader& in);
    void PolyPolygon(CRecordReader& in);
    void PolyBezier16(CRecordReader& in);
    void Polygon16(CRecordReader& in);
    void Polyline16(CRecordReader& in);
    void PolyBezierTo16(CRecordReader& in);
    void PolylineTo16(CRecordReader& in);
    void PolyPolyline16(CRecordReader& in);
    void PolyPolygon16(CRecordReader& in);
    void PolyDraw(CRecordReader& in);
    void PolyDraw16(CRecordReader& in);
    void SetWindowExtEx(CRecordReader& in);
    void SetWindowOrgEx(CRecordReader& in);
    void SetViewportExtEx(CRecordReader& in);
    void SetViewportOrgEx(CRecordReader& in);
    void SetBrushOrgEx(CRecordReader& in);
    void SetPixelV(CRecordReader& in);
    void SetMapMode(CRecordReader& in);
    void SetBkMode(CRecordReader& in);
    void SetPolyFillMode(CRecordReader& in);
    void SetRop2(CRecordReader& in);
    void SetStretchBltMode(CRecordReader& in);
    void SetTextAlign(CRecordReader& in);
    void SetTextColor(CRecordReader& in);
    void SetBkColor(CRecordReader& in);
    void OffsetClipRgn(CRecordReader& in);
    void MoveToEx(CRecordReader& in);
    void ExcludeClipRect(CRecordReader& in);
    void IntersectClipRect(CRecordReader& in);
    void ScaleViewportExtEx(CRecordReader& in);
    void ScaleWindowExtEx(CRecordReader& in);
    void SaveDc(CRecordReader& in);
    void RestoreDc(CRecordReader& in);
    void SetWorldTransform(CRecordReader& in);
    void ModifyWorldTransform(CRecordReader& in);
    void SelectObject(CRecordReader& in);
    void CreatePen(CRecordReader& in);
    void CreateBrushIndirect(CRecordReader& in);
    void DeleteObject(CRecordReader& in);
    void AngleArc(CRecordReader& in);
    void Ellipse(CRecordReader& in);
    void Rectangle(CRecordReader& in);
    void RoundRect(CRecordReader& in);
    void Arc(CRecordReader& in);
    void Chord(CRecordReader& in);
    void Pie(CRecordReader& in);
    void ArcTo(CRecordReader& in);
    void SelectPalette(CRecordReader& in);
    void CreatePalette(CRecordReader& in);
    void ExtFloodFill(CRecordReader& in);
    void LineTo(CRecordReader& in);
    void SetArcDirection(CRecordReader& in);
    void SetMiterLimit(CRecordReader& in);
    void BeginPath(CRecordReader& in);
    void EndPath(CRecordReader& in);
    void CloseFigure(CRecordReader& in);
    void FillPath(CRecordReader& in);
    void StrokeAndFillPath(CRecordReader& in);
    void StrokePath(CRecordReader& in);
    void WidenPath(CRecordReader& in);
    void SelectClipPath(CRecordReader& in);
    void AbortPath(CRecordReader& in);
    void FillRgn(CRecordReader& in);
    void FrameRgn(CRecordReader& in);
    void InvertRgn(CRecordReader& in);
    void PaintRgn(CRecordReader& in);
    void ExtSelectClipRgn(CRecordReader& in);
    void PlayBlit(CRecordReader& in, bool stretched);
    void BitBlt(CRecordReader& in);
    void StretchBlt(CRecordReader& in);
    void SetDiBitsToDevice(CRecordReader& in);
    void StretchDiBits(CRecordReader& in);
    void ExtCreateFontIndirectW(CRecordReader& in);
    void ExtTextOutA(CRecordReader& in);
    void ExtTextOutW(CRecordReader& in);
    void PolyTextOutA(CRecordReader& in);
    void PolyTextOutW(CRecordReader& in);
    void SmallTextOut(CRecordReader& in);
    void CreateMonoBrush(CRecordReader& in);
    void CreateDibPatternBrushPt(CRecordReader& in);
    void ExtCreatePen(CRecordReader& in);
    void AlphaBlend(CRecordReader& in);
    void TransparentBlt(CRecordReader& in);
    void GradientFill(CRecordReader& in);

    std::span<const uint8_t> records_;
    uint32_t handles_;
    CGdiCanvas& canvas_;
};

}  // namespace metafile
