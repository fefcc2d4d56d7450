#pragma once

#include "gdi_canvas.h"
#include "play_outcome.h"
#include "record_reader.h"

#include <QPointF>
#include <QSizeF>

#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

namespace metafile {

// Plays the records of a 16-bit metafile on a canvas, one handler per record function.
// Records are skipped by their size when this player does not draw them; a record that is
// shorter than its own fields need, or whose size runs past the data, ends playing.
class CWmfPlayer {
public:
    CWmfPlayer(std::span<const uint8_t> records, CGdiCanvas& canvas);

    PlayOutcome Play();

    // The first window origin and extent the records set, which give a metafile without
    // a placeable header its size.
    struct Window {
        std::optional<QPointF> origin;
        std::optional<QSizeF> extent;
    };
    static Window FindWindow(std::span<const uint8_t> records);

    using Handler = void (CWmfPlayer::*)(CRecordReader&);

private:
    static const std::unordered_map<uint16_t, Handler>& Handlers();
    void Dispatch(uint16_t function, CRecordReader& in);
    QPointF Point(CRecordReader& in);          // x, y
    QPointF ReversedPoint(CRecordReader& in);  // y, x as most records store them
    std::vector<QPointF> CountedPoints(CRecordReader& in);
    QRectF ReversedRect(CRecordReader& in);    // bottom, right, top, left
    QColor Colour(CRecordReader& in);
    void Select(uint16_t index);
    QImage Bitmap16(CRecordReader& in);

    void SaveDc(CRecordReader& in);
    void RestoreDc(CRecordReader& in);
    void SetBkMode(CRecordReader& in);
    void SetMapMode(CRecordReader& in);
    void SetRop2(CRecordReader& in);
    void SetPolyFillMode(CRecordReader& in);
    void SetStretchBltMode(CRecordReader& in);
    void SetTextCharExtra(CRecordReader& in);
    void SetTextAlign(CRecordReader& in);
    void SetBkColor(CRecordReader& in);
    void SetTextColor(CRecordReader& in);
    void SetWindowOrg(CRecordReader& in);
    void SetWindowExt(CRecordReader& in);
    void SetViewportOrg(CRecordReader& in);
    void SetViewportExt(CRecordReader& in);
    void OffsetWindowOrg(CRecordReader& in);
    void OffsetViewportOrg(CRecordReader& in);
    void ScaleWindowExt(CRecordReader& in);
    void ScaleViewportExt(CRecordReader& in);
    void MoveTo(CRecordReader& in);
    void LineTo(CRecordReader& in);
    void ExcludeClipRect(CRecordReader& in);
    void IntersectClipRect(CRecordReader& in);
    void OffsetClipRgn(CRecordReader& in);
    void SelectClipRegion(CRecordReader& in);
    void Ellipse(CRecordReader& in);
    void Rectangle(CRecordReader& in);
    void RoundRect(CRecordReader& in);
    void Arc(CRecordReader& in);
    void Pie(CRecordReader& in);
    void Chord(CRecordReader& in);
    void Polygon(CRecordReader& in);
    void Polyline(CRecordReader& in);
    void PolyPolygon(CRecordReader& in);
    void SetPixel(CRecordReader& in);
    void FloodFill(CRecordReader& in);
    void ExtFloodFill(CRecordReader& in);
    void PatBlt(CRecordReader& in);
    void TextOut(CRecordReader& in);
    void ExtTextOut(CRecordReader& in);
    void CreatePenIndirect(CRecordReader& in);
    void CreateFontIndirect(CRecordReader& in);
    void CreateBrushIndirect(CRecordReader& in);
    void DibCreatePatternBrush(CRecordReader& in);
    void CreatePatternBrush(CRecordReader& in);
    void CreatePalette(CRecordReader& in);
    void CreateRegion(CRecordReader& in);
    void CreatePlaceholder(CRecordReader& in);
    void DeleteObject(CRecordReader& in);
    void SelectObject(CRecordReader& in);
    void SelectPalette(CRecordReader& in);
    void FillRegion(CRecordReader& in);
    void FrameRegion(CRecordReader& in);
    void InvertRegion(CRecordReader& in);
    void PaintRegion(CRecordReader& in);
    void PlayBlit(CRecordReader& in, bool stretched, bool deviceIndependent);
    void DibBitBlt(CRecordReader& in);
    void DibStretchBlt(CRecordReader& in);
    void BitBlt(CRecordReader& in);
    void StretchBlt(CRecordReader& in);
    void StretchDib(CRecordReader& in);
    void SetDibToDev(CRecordReader& in);

    std::span<const uint8_t> records_;
    CGdiCanvas& canvas_;
    uint16_t function_ = 0;
    size_t recordWords_ = 0;
};

}  // namespace metafile
