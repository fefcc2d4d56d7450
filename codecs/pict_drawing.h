#pragma once

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QMap>
#include <QPainter>
#include <QPainterPath>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QString>

#include <array>
#include <cstdint>
#include <span>

// QuickDraw's drawing opcodes played on a painter in picture coordinates: the pen (its
// position, size, pattern and mode), patterns and colours, the clip region and origin, text,
// and the shapes (lines, rectangles, rounded rectangles, ovals, arcs, polygons, regions)
// framed, painted, erased, inverted or filled. Opcodes of other kinds are ignored.
class PictDrawing {
public:
    explicit PictDrawing(QPainter& painter);

    // Whether an opcode puts something on the picture (as opposed to setting up state).
    static bool Draws(int opcode);
    // Whether an opcode draws text, for which fonts must be at hand.
    static bool DrawsText(int opcode);

    // Acts on one opcode; data is what follows the opcode (after the length word of opcodes
    // that have one). Data too short for its opcode is ignored.
    void Play(int opcode, std::span<const uint8_t> data);

private:
    // An 8 x 8 pattern of bits (set bits in the foreground colour), or one colour throughout.
    struct Pattern {
        std::array<uint8_t, 8> bits{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        QColor colour;  // valid for a colour pattern
    };
    enum class Verb { Frame, Paint, Erase, Invert, Fill };

    void SetState(int opcode, std::span<const uint8_t> data);
    void Shape(int opcode, std::span<const uint8_t> data);
    void Line(QPoint from, QPoint to);
    void Text(int opcode, std::span<const uint8_t> data);
    void Apply(Verb verb, const QPainterPath& area, const QPainterPath& frame);
    void FillWith(const QPainterPath& path, const Pattern& pattern, int mode);
    void PixPattern(int opcode, std::span<const uint8_t> data);
    Pattern* PatternOf(int opcode);
    QFont CurrentFont() const;

    QPainter& painter_;
    QPoint pen_;
    QSize penSize_{1, 1};
    int penMode_ = 8;  // patCopy
    Pattern penPattern_;
    Pattern fillPattern_;
    Pattern backPattern_{{0, 0, 0, 0, 0, 0, 0, 0}, QColor()};
    QColor foreground_ = Qt::black;
    QColor background_ = Qt::white;
    QSize ovalSize_;
    QRect lastRect_;
    QPolygon lastPolygon_;
    QRegion lastRegion_;
    QPoint textAt_;
    int fontId_ = 0;
    int face_ = 0;
    int textSize_ = 12;
    QMap<int, QString> fontNames_;
};
