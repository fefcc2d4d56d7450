#include "wmf_player.h"

#include "dib.h"
#include "imagelib/trace.h"
#include "imagelib/work_budget.h"
#include "text_encoding.h"

#include <QPainterPath>

#include <algorithm>
#include <unordered_map>

namespace metafile {

namespace {

// Record functions (the low byte numbers the record, the high byte is a size hint).
enum Function : uint16_t {
    kEof = 0x0000,
    kSaveDc = 0x001E,
    kRealizePalette = 0x0035,
    kCreatePalette = 0x00F7,
    kCreateBrush = 0x00F8,
    kSetBkMode = 0x0102,
    kSetMapMode = 0x0103,
    kSetRop2 = 0x0104,
    kSetRelAbs = 0x0105,
    kSetPolyFillMode = 0x0106,
    kSetStretchBltMode = 0x0107,
    kSetTextCharExtra = 0x0108,
    kRestoreDc = 0x0127,
    kInvertRegion = 0x012A,
    kPaintRegion = 0x012B,
    kSelectClipRegion = 0x012C,
    kSelectObject = 0x012D,
    kSetTextAlign = 0x012E,
    kDibCreatePatternBrush = 0x0142,
    kDeleteObject = 0x01F0,
    kCreatePatternBrush = 0x01F9,
    kSetBkColor = 0x0201,
    kSetTextColor = 0x0209,
    kSetWindowOrg = 0x020B,
    kSetWindowExt = 0x020C,
    kSetViewportOrg = 0x020D,
    kSetViewportExt = 0x020E,
    kOffsetWindowOrg = 0x020F,
    kOffsetViewportOrg = 0x0211,
    kLineTo = 0x0213,
    kMoveTo = 0x0214,
    kOffsetClipRgn = 0x0220,
    kFillRegion = 0x0228,
    kSelectPalette = 0x0234,
    kCreatePenIndirect = 0x02FA,
    kCreateFontIndirect = 0x02FB,
    kCreateBrushIndirect = 0x02FC,
    kCreateBitmapIndirect = 0x02FD,
    kPolygon = 0x0324,
    kPolyline = 0x0325,
    kScaleWindowExt = 0x0410,
    kScaleViewportExt = 0x0412,
    kExcludeClipRect = 0x0415,
    kIntersectClipRect = 0x0416,
    kEllipse = 0x0418,
    kFloodFill = 0x0419,
    kRectangle = 0x041B,
    kSetPixel = 0x041F,
    kFrameRegion = 0x0429,
    kTextOut = 0x0521,
    kPolyPolygon = 0x0538,
    kExtFloodFill = 0x0548,
    kRoundRect = 0x061C,
    kPatBlt = 0x061D,
    kCreateBitmap = 0x06FE,
    kCreateRegion = 0x06FF,
    kArc = 0x0817,
    kPie = 0x081A,
    kChord = 0x0830,
    kBitBlt = 0x0922,
    kDibBitBlt = 0x0940,
    kExtTextOut = 0x0A32,
    kStretchBlt = 0x0B23,
    kDibStretchBlt = 0x0B41,
    kSetDibToDev = 0x0D33,
    kStretchDib = 0x0F43,
};

constexpr uint32_t kSrcCopy = 0x00CC0020;

// Every record starts with its size in 16-bit words and its function.
constexpr size_t kRecordHeaderBytes = 6;

QColor ColourRef(uint32_t ref, const GdiPalette& palette) {
    // 0x01 in the high byte: the low word indexes the selected palette.
    if ((ref >> 24) == 0x01) {
        const uint32_t index = ref & 0xFFFF;
        return index < palette.entries.size() ? QColor::fromRgb(palette.entries[index]) : QColor(Qt::black);
    }
    return QColor(static_cast<int>(ref & 0xFF), static_cast<int>((ref >> 8) & 0xFF), static_cast<int>((ref >> 16) & 0xFF));
}

// A device-dependent bitmap of the old blit records: 1 bit (black and white), 8 bits
// (grey), 24 and 32 bits; none for other layouts or when the bits fall short.
QImage DecodeBitmap16(int width, int height, int widthBytes, int planes, int bitsPixel, CRecordReader& in) {
    if (width <= 0 || height <= 0 || widthBytes <= 0 || planes != 1) return {};
    if (static_cast<int64_t>(width) * height > kMaxDibPixels) return {};
    // Bits shorter than the bitmap says leave the bitmap out, not the records after it.
    if (!in.Has(static_cast<size_t>(widthBytes) * static_cast<size_t>(height))) return {};
    const auto bits = in.Bytes(static_cast<size_t>(widthBytes) * static_cast<size_t>(height));
    if (static_cast<int64_t>(width) * bitsPixel > int64_t{widthBytes} * 8) return {};
    if (bitsPixel != 1 && bitsPixel != 8 && bitsPixel != 24 && bitsPixel != 32) return {};
    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull()) return {};
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = bits.data() + static_cast<size_t>(y) * static_cast<size_t>(widthBytes);
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const auto ux = static_cast<size_t>(x);
            switch (bitsPixel) {
            case 1: out[x] = (row[ux / 8] >> (7 - ux % 8)) & 1 ? 0xFFFFFFFFu : 0xFF000000u; break;
            case 8: out[x] = qRgb(row[ux], row[ux], row[ux]); break;
            case 24: out[x] = qRgb(row[3 * ux + 2], row[3 * ux + 1], row[3 * ux]); break;
            default: out[x] = qRgb(row[4 * ux + 2], row[4 * ux + 1], row[4 * ux]); break;
            }
        }
    }
    return image;
}

}  // namespace

const std::unordered_map<uint16_t, CWmfPlayer::Handler>& CWmfPlayer::Handlers() {
    using P = CWmfPlayer;
    static const std::unordered_map<uint16_t, CWmfPlayer::Handler> handlers = {
        {kSaveDc, &P::SaveDc},
        {kRestoreDc, &P::RestoreDc},
        {kSetBkMode, &P::SetBkMode},
        {kSetMapMode, &P::SetMapMode},
        {kSetRop2, &P::SetRop2},
        {kSetPolyFillMode, &P::SetPolyFillMode},
        {kSetStretchBltMode, &P::SetStretchBltMode},
        {kSetTextCharExtra, &P::SetTextCharExtra},
        {kSetTextAlign, &P::SetTextAlign},
        {kSetBkColor, &P::SetBkColor},
        {kSetTextColor, &P::SetTextColor},
        {kSetWindowOrg, &P::SetWindowOrg},
        {kSetWindowExt, &P::SetWindowExt},
        {kSetViewportOrg, &P::SetViewportOrg},
        {kSetViewportExt, &P::SetViewportExt},
        {kOffsetWindowOrg, &P::OffsetWindowOrg},
        {kOffsetViewportOrg, &P::OffsetViewportOrg},
        {kScaleWindowExt, &P::ScaleWindowExt},
        {kScaleViewportExt, &P::ScaleViewportExt},
        {kMoveTo, &P::MoveTo},
        {kLineTo, &P::LineTo},
        {kExcludeClipRect, &P::ExcludeClipRect},
        {kIntersectClipRect, &P::IntersectClipRect},
        {kOffsetClipRgn, &P::OffsetClipRgn},
        {kSelectClipRegion, &P::SelectClipRegion},
        {kEllipse, &P::Ellipse},
        {kRectangle, &P::Rectangle},
        {kRoundRect, &P::RoundRect},
        {kArc, &P::Arc},
        {kPie, &P::Pie},
        {kChord, &P::Chord},
        {kPolygon, &P::Polygon},
        {kPolyline, &P::Polyline},
        {kPolyPolygon, &P::PolyPolygon},
        {kSetPixel, &P::SetPixel},
        {kFloodFill, &P::FloodFill},
        {kExtFloodFill, &P::ExtFloodFill},
        {kPatBlt, &P::PatBlt},
        {kTextOut, &P::TextOut},
        {kExtTextOut, &P::ExtTextOut},
        {kCreatePenIndirect, &P::CreatePenIndirect},
        {kCreateFontIndirect, &P::CreateFontIndirect},
        {kCreateBrushIndirect, &P::CreateBrushIndirect},
        {kDibCreatePatternBrush, &P::DibCreatePatternBrush},
        {kCreatePatternBrush, &P::CreatePatternBrush},
        {kCreatePalette, &P::CreatePalette},
        {kCreateRegion, &P::CreateRegion},
        {kCreateBrush, &P::CreatePlaceholder},
        {kCreateBitmap, &P::CreatePlaceholder},
        {kCreateBitmapIndirect, &P::CreatePlaceholder},
        {kDeleteObject, &P::DeleteObject},
        {kSelectObject, &P::SelectObject},
        {kSelectPalette, &P::SelectPalette},
        {kFillRegion, &P::FillRegion},
        {kFrameRegion, &P::FrameRegion},
        {kInvertRegion, &P::InvertRegion},
        {kPaintRegion, &P::PaintRegion},
        {kDibBitBlt, &P::DibBitBlt},
        {kDibStretchBlt, &P::DibStretchBlt},
        {kBitBlt, &P::BitBlt},
        {kStretchBlt, &P::StretchBlt},
        {kStretchDib, &P::StretchDib},
        {kSetDibToDev, &P::SetDibToDev},
    };
    return handlers;
}

CWmfPlayer::CWmfPlayer(std::span<const uint8_t> records, CGdiCanvas& canvas) : records_(records), canvas_(canvas) {}

PlayOutcome CWmfPlayer::Play() {
    size_t at = 0;
    size_t index = 0;
    while (records_.size() - at >= kRecordHeaderBytes) {
        CRecordReader header(records_.subspan(at, kRecordHeaderBytes));
        const uint32_t words = header.U32();
        const uint16_t function = header.U16();
        if (function == kEof) return {};
        if (words < 3 || words > (records_.size() - at) / 2) {
            Trace(2, FormatText("Metafile record %zu (function 0x%04X) has an impossible size.\n", index, function));
            return {false, FormatText("record %zu (function 0x%04X) has an impossible size of %u words", index, function, words)};
        }
        CWorkBudget::Charge();
        CRecordReader in(records_.subspan(at + kRecordHeaderBytes, words * size_t{2} - kRecordHeaderBytes));
        function_ = function;
        recordWords_ = words;
        try {
            Dispatch(function, in);
        } catch (const CBadRecord& bad) {
            Trace(2, FormatText("Metafile record %zu (function 0x%04X) %s.\n", index, function, bad.what()));
            return {false, FormatText("record %zu (function 0x%04X) %s", index, function, bad.what())};
        }
        at += words * size_t{2};
        ++index;
    }
    return {};
}

CWmfPlayer::Window CWmfPlayer::FindWindow(std::span<const uint8_t> records) {
    Window window;
    size_t at = 0;
    while (records.size() - at >= kRecordHeaderBytes && !window.extent) {
        CRecordReader in(records.subspan(at));
        const uint32_t words = in.U32();
        const uint16_t function = in.U16();
        if (function == kEof || words < 3 || words > (records.size() - at) / 2) break;
        if ((function == kSetWindowOrg || function == kSetWindowExt) && words >= 5) {
            const int y = in.I16();
            const int x = in.I16();
            if (function == kSetWindowExt && x != 0 && y != 0) window.extent = QSizeF(x, y);
            if (function == kSetWindowOrg && !window.origin) window.origin = QPointF(x, y);
        }
        at += words * size_t{2};
    }
    return window;
}

void CWmfPlayer::Dispatch(uint16_t function, CRecordReader& in) {
    const auto& handlers = Handlers();
    const auto found = handlers.find(function);
    if (found != handlers.end()) (this->*(found->second))(in);
}

QPointF CWmfPlayer::Point(CRecordReader& in) {
    const double x = in.I16();
    const double y = in.I16();
    return {x, y};
}

QPointF CWmfPlayer::ReversedPoint(CRecordReader& in) {
    const double y = in.I16();
    const double x = in.I16();
    return {x, y};
}

QRectF CWmfPlayer::ReversedRect(CRecordReader& in) {
    const double bottom = in.I16();
    const double right = in.I16();
    const double top = in.I16();
    const double left = in.I16();
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}

QColor CWmfPlayer::Colour(CRecordReader& in) { return ColourRef(in.U32(), canvas_.State().palette); }

void CWmfPlayer::SaveDc(CRecordReader&) { canvas_.Dc().Save(); }
void CWmfPlayer::RestoreDc(CRecordReader& in) { canvas_.Dc().Restore(in.I16()); }
void CWmfPlayer::SetBkMode(CRecordReader& in) { canvas_.State().bkMode = in.U16(); }
void CWmfPlayer::SetMapMode(CRecordReader& in) { canvas_.Dc().SetMapMode(in.U16()); }
void CWmfPlayer::SetRop2(CRecordReader& in) { canvas_.State().rop2 = in.U16(); }
void CWmfPlayer::SetPolyFillMode(CRecordReader& in) { canvas_.State().polyFillMode = in.U16(); }
void CWmfPlayer::SetStretchBltMode(CRecordReader& in) { canvas_.State().stretchMode = in.U16(); }
void CWmfPlayer::SetTextCharExtra(CRecordReader& in) { canvas_.State().charExtra = in.I16(); }
void CWmfPlayer::SetTextAlign(CRecordReader& in) { canvas_.State().textAlign = in.U16(); }
void CWmfPlayer::SetBkColor(CRecordReader& in) { canvas_.State().bkColour = Colour(in); }
void CWmfPlayer::SetTextColor(CRecordReader& in) { canvas_.State().textColour = Colour(in); }
void CWmfPlayer::SetWindowOrg(CRecordReader& in) { canvas_.Dc().SetWindowOrg(ReversedPoint(in)); }
void CWmfPlayer::SetViewportOrg(CRecordReader& in) { canvas_.Dc().SetViewportOrg(ReversedPoint(in)); }

void CWmfPlayer::SetWindowExt(CRecordReader& in) {
    const QPointF e = ReversedPoint(in);
    canvas_.Dc().SetWindowExt(QSizeF(e.x(), e.y()));
}

void CWmfPlayer::SetViewportExt(CRecordReader& in) {
    const QPointF e = ReversedPoint(in);
    canvas_.Dc().SetViewportExt(QSizeF(e.x(), e.y()));
}

void CWmfPlayer::OffsetWindowOrg(CRecordReader& in) {
    canvas_.Dc().SetWindowOrg(canvas_.State().windowOrg + ReversedPoint(in));
}

void CWmfPlayer::OffsetViewportOrg(CRecordReader& in) {
    canvas_.Dc().SetViewportOrg(canvas_.State().viewportOrg + ReversedPoint(in));
}

void CWmfPlayer::ScaleWindowExt(CRecordReader& in) {
    const double yDenom = in.I16(), yNum = in.I16(), xDenom = in.I16(), xNum = in.I16();
    canvas_.Dc().ScaleWindowExt(xNum, xDenom, yNum, yDenom);
}

void CWmfPlayer::ScaleViewportExt(CRecordReader& in) {
    const double yDenom = in.I16(), yNum = in.I16(), xDenom = in.I16(), xNum = in.I16();
    canvas_.Dc().ScaleViewportExt(xNum, xDenom, yNum, yDenom);
}

void CWmfPlayer::MoveTo(CRecordReader& in) { canvas_.MoveTo(ReversedPoint(in)); }
void CWmfPlayer::LineTo(CRecordReader& in) { canvas_.LineTo(ReversedPoint(in)); }
void CWmfPlayer::ExcludeClipRect(CRecordReader& in) { canvas_.ExcludeClipRect(ReversedRect(in)); }
void CWmfPlayer::IntersectClipRect(CRecordReader& in) { canvas_.IntersectClipRect(ReversedRect(in)); }
void CWmfPlayer::OffsetClipRgn(CRecordReader& in) { canvas_.OffsetClip(ReversedPoint(in)); }

void CWmfPlayer::SelectClipRegion(CRecordReader& in) {
    const uint16_t index = in.U16();
    const GdiObject* object = canvas_.Objects().Find(index);
    if (const auto* region = object ? std::get_if<GdiRegion>(object) : nullptr)
        canvas_.CombineClip(canvas_.Dc().Transform().map(region->area), kRgnCopy);
    else
        canvas_.CombineClip(std::nullopt, kRgnCopy);
}

void CWmfPlayer::Ellipse(CRecordReader& in) { canvas_.Ellipse(ReversedRect(in)); }
void CWmfPlayer::Rectangle(CRecordReader& in) { canvas_.Rectangle(ReversedRect(in)); }

void CWmfPlayer::RoundRect(CRecordReader& in) {
    const double height = in.I16();
    const double width = in.I16();
    canvas_.RoundRect(ReversedRect(in), QSizeF(width, height));
}

void CWmfPlayer::Arc(CRecordReader& in) {
    const QPointF end = ReversedPoint(in);
    const QPointF start = ReversedPoint(in);
    canvas_.Arc(ReversedRect(in), start, end, CGdiCanvas::ArcKind::Arc);
}

void CWmfPlayer::Pie(CRecordReader& in) {
    const QPointF end = ReversedPoint(in);
    const QPointF start = ReversedPoint(in);
    canvas_.Arc(ReversedRect(in), start, end, CGdiCanvas::ArcKind::Pie);
}

void CWmfPlayer::Chord(CRecordReader& in) {
    const QPointF end = ReversedPoint(in);
    const QPointF start = ReversedPoint(in);
    canvas_.Arc(ReversedRect(in), start, end, CGdiCanvas::ArcKind::Chord);
}

// A count of points, then the points.
std::vector<QPointF> CWmfPlayer::CountedPoints(CRecordReader& in) {
    const uint16_t count = in.U16();
    std::vector<QPointF> points;
    points.reserve(count);
    for (uint16_t i = 0; i < count; ++i) points.push_back(Point(in));
    return points;
}

void CWmfPlayer::Polygon(CRecordReader& in) { canvas_.Polygon(CountedPoints(in)); }
void CWmfPlayer::Polyline(CRecordReader& in) { canvas_.Polyline(CountedPoints(in)); }

void CWmfPlayer::PolyPolygon(CRecordReader& in) {
    const uint16_t polygons = in.U16();
    std::vector<uint32_t> counts;
    size_t total = 0;
    for (uint16_t i = 0; i < polygons; ++i) {
        counts.push_back(in.U16());
        total += counts.back();
    }
    if (!in.Has(total * 4)) throw CRecordTooShort();
    std::vector<QPointF> points;
    points.reserve(total);
    for (size_t i = 0; i < total; ++i) points.push_back(Point(in));
    canvas_.PolyPolygon(points, counts);
}

void CWmfPlayer::SetPixel(CRecordReader& in) {
    const QColor colour = Colour(in);
    canvas_.SetPixel(ReversedPoint(in), colour);
}

void CWmfPlayer::FloodFill(CRecordReader& in) {
    const QColor colour = Colour(in);
    canvas_.FloodFill(ReversedPoint(in), colour, false);
}

void CWmfPlayer::ExtFloodFill(CRecordReader& in) {
    const uint16_t mode = in.U16();
    const QColor colour = Colour(in);
    canvas_.FloodFill(ReversedPoint(in), colour, mode == 1);
}

void CWmfPlayer::PatBlt(CRecordReader& in) {
    const uint32_t rop = in.U32();
    const double height = in.I16();
    const double width = in.I16();
    const QPointF at = ReversedPoint(in);
    canvas_.Blit(QRectF(at, QSizeF(width, height)), nullptr, QRectF(), rop);
}

void CWmfPlayer::TextOut(CRecordReader& in) {
    const uint16_t length = in.U16();
    const auto bytes = in.Bytes(length + (length & 1u));
    TextRun run;
    run.reference = ReversedPoint(in);
    const GdiFont& font = canvas_.State().font;
    run.text = DecodeText(bytes.first(length), font.charSet, font.faceName);
    canvas_.DrawText(run);
}

void CWmfPlayer::ExtTextOut(CRecordReader& in) {
    TextRun run;
    run.reference = ReversedPoint(in);
    const uint16_t length = in.U16();
    run.options = in.U16();
    if (run.options & (kEtoOpaque | kEtoClipped)) {
        const double left = in.I16(), top = in.I16(), right = in.I16(), bottom = in.I16();
        run.rect = QRectF(QPointF(left, top), QPointF(right, bottom));
    }
    const auto bytes = in.Bytes(length + (length & 1u));
    const GdiFont& font = canvas_.State().font;
    run.text = DecodeText(bytes.first(length), font.charSet, font.faceName);
    // Advances are optional; they count bytes, which equal characters in single-byte sets.
    if (in.Remaining() >= length * size_t{2} && run.text.size() == length) {
        for (uint16_t i = 0; i < length; ++i) run.dx.push_back(in.I16());
    }
    canvas_.DrawText(run);
}

void CWmfPlayer::CreatePenIndirect(CRecordReader& in) {
    GdiPen pen;
    pen.style = in.U16();
    pen.width = std::abs(in.I16());
    in.I16();  // the height of the width point is unused
    pen.colour = Colour(in);
    pen.cosmetic = pen.width == 0;
    canvas_.Objects().InsertAtFreeSlot(pen);
}

void CWmfPlayer::CreateFontIndirect(CRecordReader& in) {
    GdiFont font;
    font.height = in.I16();
    font.width = in.I16();
    font.escapement = in.I16();
    in.I16();  // orientation
    font.weight = in.I16();
    font.italic = in.U8() != 0;
    font.underline = in.U8() != 0;
    font.strikeOut = in.U8() != 0;
    font.charSet = in.U8();
    in.Skip(3);  // output precision, clip precision, quality
    font.pitchAndFamily = in.U8();
    // The face name is at most 32 bytes; some writers cut the record short after the name.
    const auto name = in.Bytes(std::min<size_t>(in.Remaining(), 32));
    const size_t end = static_cast<size_t>(std::find(name.begin(), name.end(), 0) - name.begin());
    font.faceName = DecodeText(name.first(end), 0, QString());
    canvas_.Objects().InsertAtFreeSlot(font);
}

void CWmfPlayer::CreateBrushIndirect(CRecordReader& in) {
    GdiBrush brush;
    brush.style = in.U16();
    brush.colour = Colour(in);
    brush.hatch = in.U16();
    if (brush.style != kBsSolid && brush.style != kBsNull && brush.style != kBsHatched) brush.style = kBsSolid;
    canvas_.Objects().InsertAtFreeSlot(brush);
}

void CWmfPlayer::DibCreatePatternBrush(CRecordReader& in) {
    GdiBrush brush;
    brush.style = kBsDibPatternPt;
    in.U16();  // style: the bitmap that follows is a device-independent one either way
    const uint16_t usage = in.U16();
    const DibImage dib = DecodePackedDib(in.At(in.Position(), in.Remaining()),
                                         DibColourSource{usage == 1, &canvas_.State().palette});
    brush.pattern = dib.image;
    canvas_.Objects().InsertAtFreeSlot(brush);
}

QImage CWmfPlayer::Bitmap16(CRecordReader& in) {
    in.I16();  // type
    const int width = in.I16();
    const int height = in.I16();
    const int widthBytes = in.I16();
    const int planes = in.U8();
    const int bitsPixel = in.U8();
    QImage image = DecodeBitmap16(width, height, widthBytes, planes, bitsPixel, in);
    // Blitting a monochrome bitmap paints its 0 bits in the text colour, its 1 bits in the
    // background colour.
    if (bitsPixel == 1 && !image.isNull())
        image = RecolourMonochrome(image, canvas_.State().textColour, canvas_.State().bkColour);
    return image;
}

void CWmfPlayer::CreatePatternBrush(CRecordReader& in) {
    GdiBrush brush;
    brush.style = kBsPattern;
    in.I16();  // type
    const int width = in.I16();
    const int height = in.I16();
    const int widthBytes = in.I16();
    const int planes = in.U8();
    const int bitsPixel = in.U8();
    in.Skip(22);  // a pointer and reserved bytes before the bits
    brush.pattern = DecodeBitmap16(width, height, widthBytes, planes, bitsPixel, in);
    brush.monochrome = bitsPixel == 1;
    canvas_.Objects().InsertAtFreeSlot(brush);
}

void CWmfPlayer::CreatePalette(CRecordReader& in) {
    in.U16();  // version
    const uint16_t count = in.U16();
    GdiPalette palette;
    for (uint16_t i = 0; i < count; ++i) {
        const auto e = in.Bytes(4);
        palette.entries.push_back(qRgb(e[0], e[1], e[2]));
    }
    canvas_.Objects().InsertAtFreeSlot(palette);
}

void CWmfPlayer::CreateRegion(CRecordReader& in) {
    // The published layout has a 32-bit object count, which some writers store in 16
    // bits; the region's size field, which must equal the record's, tells them apart.
    const size_t total = in.Size();
    const bool shortCount = in.At(8, 2).U16() != total && in.At(6, 2).U16() == total;
    in.Skip(shortCount ? 8 : 10);  // chain, type, object count, region size
    const uint16_t scans = in.U16();
    in.Skip(10);  // largest scan, bounding box
    GdiRegion region;
    region.area.setFillRule(Qt::WindingFill);
    for (uint16_t s = 0; s < scans; ++s) {
        const uint16_t count = in.U16();
        const double top = in.I16();
        const double bottom = in.I16();
        for (uint16_t i = 0; i + 1 < count; i += 2) {
            const double left = in.I16();
            const double right = in.I16();
            region.area.addRect(QRectF(QPointF(left, top), QPointF(right, bottom)).normalized());
        }
        if (count % 2) in.I16();
        in.U16();  // the count again
    }
    canvas_.Objects().InsertAtFreeSlot(region);
}

void CWmfPlayer::CreatePlaceholder(CRecordReader&) {
    // Obsolete object records still take a slot in the handle table.
    canvas_.Objects().InsertAtFreeSlot(GdiPalette{});
}

void CWmfPlayer::DeleteObject(CRecordReader& in) { canvas_.Objects().Delete(in.U16()); }

void CWmfPlayer::Select(uint16_t index) {
    if (const GdiObject* object = canvas_.Objects().Find(index)) canvas_.SelectObject(*object);
}

void CWmfPlayer::SelectObject(CRecordReader& in) { Select(in.U16()); }
void CWmfPlayer::SelectPalette(CRecordReader& in) { Select(in.U16()); }

void CWmfPlayer::FillRegion(CRecordReader& in) {
    const uint16_t regionIndex = in.U16();
    const uint16_t brushIndex = in.U16();
    const GdiObject* region = canvas_.Objects().Find(regionIndex);
    const GdiObject* brush = canvas_.Objects().Find(brushIndex);
    if (region && brush && std::holds_alternative<GdiRegion>(*region) && std::holds_alternative<GdiBrush>(*brush))
        canvas_.FillArea(canvas_.Dc().Transform().map(std::get<GdiRegion>(*region).area), std::get<GdiBrush>(*brush));
}

void CWmfPlayer::FrameRegion(CRecordReader& in) {
    const uint16_t regionIndex = in.U16();
    const uint16_t brushIndex = in.U16();
    const double height = in.I16();
    const double width = in.I16();
    const GdiObject* region = canvas_.Objects().Find(regionIndex);
    const GdiObject* brush = canvas_.Objects().Find(brushIndex);
    if (region && brush && std::holds_alternative<GdiRegion>(*region) && std::holds_alternative<GdiBrush>(*brush))
        canvas_.FrameArea(canvas_.Dc().Transform().map(std::get<GdiRegion>(*region).area), std::get<GdiBrush>(*brush),
                          QSizeF(width, height));
}

void CWmfPlayer::InvertRegion(CRecordReader& in) {
    const GdiObject* region = canvas_.Objects().Find(in.U16());
    if (region && std::holds_alternative<GdiRegion>(*region))
        canvas_.InvertArea(canvas_.Dc().Transform().map(std::get<GdiRegion>(*region).area));
}

void CWmfPlayer::PaintRegion(CRecordReader& in) {
    const GdiObject* region = canvas_.Objects().Find(in.U16());
    if (region && std::holds_alternative<GdiRegion>(*region))
        canvas_.FillArea(canvas_.Dc().Transform().map(std::get<GdiRegion>(*region).area), canvas_.State().brush);
}

// The blit records come with or without a bitmap; without one their size is the
// function's high byte plus three words and they carry one reserved word. The stretching
// ones give the source's size, the others take the destination's.
void CWmfPlayer::PlayBlit(CRecordReader& in, bool stretched, bool deviceIndependent) {
    const bool withBitmap = recordWords_ != (function_ >> 8) + 3u;
    const uint32_t rop = in.U32();
    const double sourceHeight = stretched ? in.I16() : 0;
    const double sourceWidth = stretched ? in.I16() : 0;
    const QPointF source = ReversedPoint(in);
    if (!withBitmap) in.I16();
    const double height = in.I16();
    const double width = in.I16();
    const QPointF at = ReversedPoint(in);
    const QRectF destination(at, QSizeF(width, height));
    if (!withBitmap) {
        canvas_.Blit(destination, nullptr, QRectF(), rop);
        return;
    }
    const QRectF from(source, stretched ? QSizeF(sourceWidth, sourceHeight) : QSizeF(width, height));
    const QImage bitmap = deviceIndependent ? DecodePackedDib(in.At(in.Position(), in.Remaining()), DibColourSource{}).image
                                            : Bitmap16(in);
    canvas_.Blit(destination, &bitmap, from, rop);
}

void CWmfPlayer::DibBitBlt(CRecordReader& in) { PlayBlit(in, false, true); }
void CWmfPlayer::DibStretchBlt(CRecordReader& in) { PlayBlit(in, true, true); }
void CWmfPlayer::BitBlt(CRecordReader& in) { PlayBlit(in, false, false); }
void CWmfPlayer::StretchBlt(CRecordReader& in) { PlayBlit(in, true, false); }

void CWmfPlayer::StretchDib(CRecordReader& in) {
    const uint32_t rop = in.U32();
    const uint16_t usage = in.U16();
    const double sourceHeight = in.I16();
    const double sourceWidth = in.I16();
    const QPointF source = ReversedPoint(in);
    const double height = in.I16();
    const double width = in.I16();
    const QPointF at = ReversedPoint(in);
    const DibImage dib = DecodePackedDib(in.At(in.Position(), in.Remaining()),
                                         DibColourSource{usage == 1, &canvas_.State().palette});
    canvas_.Blit(QRectF(at, QSizeF(width, height)), &dib.image,
                 TopDownSource(dib, QRectF(source, QSizeF(sourceWidth, sourceHeight))), rop);
}

void CWmfPlayer::SetDibToDev(CRecordReader& in) {
    const uint16_t usage = in.U16();
    in.U16();  // scan count
    in.U16();  // first scan
    const QPointF source = ReversedPoint(in);
    const double height = in.I16();
    const double width = in.I16();
    const QPointF at = ReversedPoint(in);
    const DibImage dib = DecodePackedDib(in.At(in.Position(), in.Remaining()),
                                         DibColourSource{usage == 1, &canvas_.State().palette});
    canvas_.Blit(QRectF(at, QSizeF(width, height)), &dib.image, TopDownSource(dib, QRectF(source, QSizeF(width, height))),
                 kSrcCopy);
}

}  // namespace metafile
