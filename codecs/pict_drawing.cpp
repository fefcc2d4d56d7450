#include "pict_drawing.h"

#include "pict_mac_roman.h"
#include "pict_region.h"

#include "codecs/metafile/font_environment.h"
#include "imagelib/byte_order.h"
#include "imagelib/work_budget.h"

#include <QImage>
#include <QPolygonF>

#include <algorithm>
#include <vector>

namespace {

constexpr int kFrame = 0;
constexpr int kLastVerb = 4;  // frame, paint, erase, invert, fill; the other three are reserved

int S16(const uint8_t* p) { return static_cast<int16_t>(ReadBE16(p)); }

// A rectangle stored as top, left, bottom, right.
QRect RectAt(const uint8_t* p) { return QRect(S16(p + 2), S16(p), S16(p + 6) - S16(p + 2), S16(p + 4) - S16(p)); }
// A point stored as v, h.
QPoint PointAt(const uint8_t* p) { return QPoint(S16(p + 2), S16(p)); }

QColor RgbAt(const uint8_t* p) { return QColor(p[0], p[2], p[4]); }

// The eight colours of the first QuickDraw, by their constants.
QColor OldStyleColour(uint32_t value) {
    switch (value) {
    case 30: return Qt::white;
    case 69: return Qt::yellow;
    case 137: return Qt::magenta;
    case 205: return Qt::red;
    case 273: return Qt::cyan;
    case 341: return Qt::green;
    case 409: return Qt::blue;
    default: return Qt::black;
    }
}

// Convex hull of a few points (monotone chain), for the area a rectangular pen sweeps.
QPolygonF Hull(std::vector<QPointF> points) {
    std::sort(points.begin(), points.end(), [](const QPointF& a, const QPointF& b) {
        return a.x() < b.x() || (a.x() == b.x() && a.y() < b.y());
    });
    const auto cross = [](const QPointF& o, const QPointF& a, const QPointF& b) {
        return (a.x() - o.x()) * (b.y() - o.y()) - (a.y() - o.y()) * (b.x() - o.x());
    };
    std::vector<QPointF> hull(2 * points.size());
    size_t k = 0;
    for (const QPointF& p : points) {
        while (k >= 2 && cross(hull[k - 2], hull[k - 1], p) <= 0) --k;
        hull[k++] = p;
    }
    for (size_t i = points.size() - 1, lower = k + 1; i-- > 0;) {
        while (k >= lower && cross(hull[k - 2], hull[k - 1], points[i]) <= 0) --k;
        hull[k++] = points[i];
    }
    hull.resize(k > 1 ? k - 1 : k);
    return QPolygonF(QList<QPointF>(hull.begin(), hull.end()));
}

QString FamilyOf(int id) {
    switch (id) {
    case 0: return QStringLiteral("Chicago");
    case 2: return QStringLiteral("New York");
    case 4: return QStringLiteral("Monaco");
    case 20: return QStringLiteral("Times");
    case 21: return QStringLiteral("Helvetica");
    case 22: return QStringLiteral("Courier");
    case 23: return QStringLiteral("Symbol");
    default: return QStringLiteral("Geneva");
    }
}

QFont::StyleHint HintOf(const QString& family) {
    for (const char* serif : {"Times", "New York", "Palatino", "Bookman", "Century", "Garamond", "Georgia"})
        if (family.contains(QLatin1String(serif), Qt::CaseInsensitive)) return QFont::Serif;
    for (const char* fixed : {"Courier", "Monaco"})
        if (family.contains(QLatin1String(fixed), Qt::CaseInsensitive)) return QFont::TypeWriter;
    return QFont::SansSerif;
}

}  // namespace

PictDrawing::PictDrawing(QPainter& painter) : painter_(painter) {}

bool PictDrawing::Draws(int opcode) {
    if ((opcode >= 0x20 && opcode <= 0x23) || DrawsText(opcode)) return true;
    return opcode >= 0x30 && opcode <= 0x8F && (opcode & 7) <= kLastVerb;
}

bool PictDrawing::DrawsText(int opcode) { return opcode >= 0x28 && opcode <= 0x2B; }

void PictDrawing::Play(int opcode, std::span<const uint8_t> data) {
    CWorkBudget::Charge();
    if (DrawsText(opcode))
        Text(opcode, data);
    else if (opcode >= 0x30 && opcode <= 0x8F)
        Shape(opcode, data);
    else
        SetState(opcode, data);
}

PictDrawing::Pattern* PictDrawing::PatternOf(int opcode) {
    switch (opcode) {
    case 0x02:
    case 0x12: return &backPattern_;
    case 0x09:
    case 0x13: return &penPattern_;
    default: return &fillPattern_;
    }
}

void PictDrawing::SetState(int opcode, std::span<const uint8_t> data) {
    const uint8_t* p = data.data();
    const size_t n = data.size();
    switch (opcode) {
    case 0x01:
        if (n >= 10) painter_.setClipRegion(PictRegion(data));
        break;
    case 0x02:
    case 0x09:
    case 0x0A:
        if (n >= 8) {
            Pattern* pattern = PatternOf(opcode);
            std::copy_n(p, 8, pattern->bits.begin());
            pattern->colour = QColor();
        }
        break;
    case 0x03:
        if (n >= 2) fontId_ = ReadBE16(p);
        break;
    case 0x04:
        if (n >= 1) face_ = p[0];
        break;
    case 0x07:
        if (n >= 4) penSize_ = QSize(S16(p + 2), S16(p));
        break;
    case 0x08:
        if (n >= 2) penMode_ = ReadBE16(p);
        break;
    case 0x0B:
        if (n >= 4) ovalSize_ = QSize(S16(p + 2), S16(p));
        break;
    case 0x0C:
        if (n >= 4) painter_.translate(-S16(p), -S16(p + 2));
        break;
    case 0x0D:
        if (n >= 2) textSize_ = ReadBE16(p);
        break;
    case 0x0E:
        if (n >= 4) foreground_ = OldStyleColour(ReadBE32(p));
        break;
    case 0x0F:
        if (n >= 4) background_ = OldStyleColour(ReadBE32(p));
        break;
    case 0x12:
    case 0x13:
    case 0x14: PixPattern(opcode, data); break;
    case 0x1A:
        if (n >= 6) foreground_ = RgbAt(p);
        break;
    case 0x1B:
        if (n >= 6) background_ = RgbAt(p);
        break;
    case 0x20:
        if (n >= 8) Line(PointAt(p), PointAt(p + 4));
        break;
    case 0x21:
        if (n >= 4) Line(pen_, PointAt(p));
        break;
    case 0x22:
        if (n >= 6) {
            const QPoint from = PointAt(p);
            Line(from, from + QPoint(static_cast<int8_t>(p[4]), static_cast<int8_t>(p[5])));
        }
        break;
    case 0x23:
        if (n >= 2) Line(pen_, pen_ + QPoint(static_cast<int8_t>(p[0]), static_cast<int8_t>(p[1])));
        break;
    case 0x2C:  // font name: the font's number and its name
        if (n >= 3 && n >= 3u + p[2]) fontNames_[ReadBE16(p)] = MacRomanToUnicode(data.subspan(3, p[2]));
        break;
    default: break;
    }
}

// A colour pattern: a dithered one stands for its colour; a full one is shown by the
// two-colour pattern it carries for screens without colour.
void PictDrawing::PixPattern(int opcode, std::span<const uint8_t> data) {
    if (data.size() < 10) return;
    Pattern* pattern = PatternOf(opcode);
    std::copy_n(data.data() + 2, 8, pattern->bits.begin());
    pattern->colour = ReadBE16(data.data()) == 2 && data.size() >= 15 ? RgbAt(data.data() + 10) : QColor();
}

void PictDrawing::Line(QPoint from, QPoint to) {
    pen_ = to;
    const int w = penSize_.width();
    const int h = penSize_.height();
    if (w <= 0 || h <= 0) return;
    // The pen is a rectangle hanging below and right of its position, swept along the line.
    std::vector<QPointF> corners;
    for (const QPoint& at : {from, to})
        for (const QPoint& d : {QPoint(0, 0), QPoint(w, 0), QPoint(0, h), QPoint(w, h)}) corners.emplace_back(at + d);
    QPainterPath path;
    path.addPolygon(Hull(corners));
    path.closeSubpath();
    FillWith(path, penPattern_, penMode_);
}

void PictDrawing::Shape(int opcode, std::span<const uint8_t> data) {
    const int verb = opcode & 7;
    if (verb > kLastVerb) return;
    const int family = (opcode - 0x30) >> 3;  // pairs of a shape and its "same" form
    const int kind = family / 2;               // rect, rounded rect, oval, arc, polygon, region
    const bool same = family % 2 == 1;
    const uint8_t* p = data.data();
    const size_t n = data.size();
    const int pw = penSize_.width();
    const int ph = penSize_.height();
    QPainterPath area;
    QPainterPath inner;
    if (kind <= 3) {
        if (!same) {
            if (n < 8) return;
            lastRect_ = RectAt(p);
            p += 8;
        }
        const QRectF r(lastRect_);
        const QRectF in = r.adjusted(pw, ph, -pw, -ph);
        const bool hollow = in.width() > 0 && in.height() > 0;
        if (kind == 0) {
            area.addRect(r);
            if (hollow) inner.addRect(in);
        } else if (kind == 1) {
            area.addRoundedRect(r, ovalSize_.width() / 2.0, ovalSize_.height() / 2.0);
            if (hollow)
                inner.addRoundedRect(in, std::max(0.0, ovalSize_.width() / 2.0 - pw),
                                     std::max(0.0, ovalSize_.height() / 2.0 - ph));
        } else {
            area.addEllipse(r);
            if (hollow) inner.addEllipse(in);
        }
        if (kind == 3) {
            if (static_cast<size_t>(p - data.data()) + 4 > n) return;
            // Angles run clockwise from twelve o'clock here, anticlockwise from three in Qt.
            const int start = S16(p);
            const int sweep = S16(p + 2);
            QPainterPath wedge;
            const QRectF around = r.adjusted(-r.width(), -r.height(), r.width(), r.height());
            wedge.moveTo(r.center());
            wedge.arcTo(around, 90 - start, -sweep);
            wedge.closeSubpath();
            Apply(static_cast<Verb>(verb), area.intersected(wedge), area.subtracted(inner).intersected(wedge));
            return;
        }
        // The inset shape lies wholly inside: both outlines filled even-odd make the ring.
        QPainterPath ring = area;
        ring.addPath(inner);
        ring.setFillRule(Qt::OddEvenFill);
        Apply(static_cast<Verb>(verb), area, ring);
        return;
    }
    if (kind == 4) {
        if (!same) {
            if (n < 10) return;
            const size_t size = std::min<size_t>(ReadBE16(p), n);
            QPolygon polygon;
            for (size_t at = 10; at + 4 <= size; at += 4) polygon << PointAt(p + at);
            lastPolygon_ = polygon;
        }
        if (lastPolygon_.isEmpty()) return;
        if (verb == kFrame) {
            for (qsizetype i = 1; i < lastPolygon_.size(); ++i) Line(lastPolygon_[i - 1], lastPolygon_[i]);
            return;
        }
        area.addPolygon(QPolygonF(lastPolygon_));
        area.closeSubpath();
        area.setFillRule(Qt::OddEvenFill);
        Apply(static_cast<Verb>(verb), area, area);
        return;
    }
    if (!same) lastRegion_ = PictRegion(data);
    area.addRegion(lastRegion_);
    QPainterPath frame = area;
    if (verb == kFrame) {
        const QRegion inside = lastRegion_.intersected(lastRegion_.translated(pw, 0))
                                   .intersected(lastRegion_.translated(-pw, 0))
                                   .intersected(lastRegion_.translated(0, ph))
                                   .intersected(lastRegion_.translated(0, -ph));
        frame = QPainterPath();
        frame.addRegion(lastRegion_.subtracted(inside));
    }
    Apply(static_cast<Verb>(verb), area, frame);
}

void PictDrawing::Apply(Verb verb, const QPainterPath& area, const QPainterPath& frame) {
    constexpr int kPatCopy = 8;
    switch (verb) {
    case Verb::Frame: FillWith(frame, penPattern_, penMode_); break;
    case Verb::Paint: FillWith(area, penPattern_, penMode_); break;
    case Verb::Erase: FillWith(area, backPattern_, kPatCopy); break;
    case Verb::Fill: FillWith(area, fillPattern_, kPatCopy); break;
    case Verb::Invert:
        painter_.save();
        painter_.setCompositionMode(QPainter::RasterOp_NotDestination);
        painter_.fillPath(area, Qt::black);
        painter_.restore();
        break;
    }
}

// Fills with a pattern in a transfer mode: copy (set bits in the foreground colour, clear
// ones in the background colour), or (set bits only), xor (set bits invert) or bic (set bits
// in the background colour); the "not" modes use the pattern inverted.
void PictDrawing::FillWith(const QPainterPath& path, const Pattern& pattern, int mode) {
    constexpr int kTransparent = 36;
    const int kindOfMode = mode == kTransparent ? 1 : mode < 32 ? (mode & 3) : 0;
    const bool inverted = mode < 32 && (mode & 4) != 0;
    std::array<uint8_t, 8> bits = pattern.bits;
    QColor set = pattern.colour.isValid() ? pattern.colour : foreground_;
    if (pattern.colour.isValid()) bits.fill(0xFF);
    if (inverted)
        for (uint8_t& b : bits) b = static_cast<uint8_t>(~b);
    QColor clear = background_;
    auto composition = QPainter::CompositionMode_SourceOver;
    switch (kindOfMode) {
    case 1: clear = Qt::transparent; break;
    case 2:
        set = Qt::white;
        clear = Qt::black;
        composition = QPainter::RasterOp_SourceXorDestination;
        break;
    case 3:
        set = background_;
        clear = Qt::transparent;
        break;
    default: break;
    }
    const bool allSet = std::all_of(bits.begin(), bits.end(), [](uint8_t b) { return b == 0xFF; });
    const bool allClear = std::all_of(bits.begin(), bits.end(), [](uint8_t b) { return b == 0; });
    QBrush brush;
    if (allSet || allClear) {
        brush = QBrush(allSet ? set : clear);
    } else {
        QImage tile(8, 8, QImage::Format_ARGB32);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) tile.setPixelColor(x, y, (bits[static_cast<size_t>(y)] >> (7 - x)) & 1 ? set : clear);
        brush = QBrush(tile);
    }
    if (brush.style() == Qt::SolidPattern && brush.color().alpha() == 0) return;
    painter_.save();
    painter_.setCompositionMode(composition);
    painter_.fillPath(path, brush);
    painter_.restore();
}

QFont PictDrawing::CurrentFont() const {
    const QString family = fontNames_.value(fontId_, FamilyOf(fontId_));
    QFont font(family);
    font.setStyleHint(HintOf(family));
    font.setPixelSize(textSize_ > 0 ? textSize_ : 12);
    font.setBold((face_ & 1) != 0);
    font.setItalic((face_ & 2) != 0);
    font.setUnderline((face_ & 4) != 0);
    if ((face_ & 32) != 0) font.setStretch(QFont::Condensed);
    if ((face_ & 64) != 0) font.setStretch(QFont::Expanded);
    return font;
}

// Text: a position (absolute, or offsets from the previous text's), a count and the
// characters, drawn on their baseline in the foreground colour.
void PictDrawing::Text(int opcode, std::span<const uint8_t> data) {
    const uint8_t* p = data.data();
    size_t at = 0;
    switch (opcode) {
    case 0x28:
        if (data.size() < 4) return;
        textAt_ = PointAt(p);
        at = 4;
        break;
    case 0x29:
        if (data.size() < 1) return;
        textAt_.rx() += p[0];
        at = 1;
        break;
    case 0x2A:
        if (data.size() < 1) return;
        textAt_.ry() += p[0];
        at = 1;
        break;
    default:
        if (data.size() < 2) return;
        textAt_ += QPoint(p[0], p[1]);
        at = 2;
        break;
    }
    if (at >= data.size()) return;
    const size_t count = std::min<size_t>(p[at], data.size() - at - 1);
    if (count == 0) return;
    metafile::RequireFontSupport();
    painter_.save();
    painter_.setFont(CurrentFont());
    painter_.setPen(foreground_);
    painter_.drawText(textAt_, MacRomanToUnicode(data.subspan(at + 1, count)));
    painter_.restore();
}
