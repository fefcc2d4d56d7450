#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QString>

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

namespace metafile {

// Pen styles, end caps, joins and types as GDI packs them into one 32-bit style.
enum PenStyle : uint32_t {
    kPsSolid = 0,
    kPsDash = 1,
    kPsDot = 2,
    kPsDashDot = 3,
    kPsDashDotDot = 4,
    kPsNull = 5,
    kPsInsideFrame = 6,
    kPsUserStyle = 7,
    kPsAlternate = 8,
    kPsStyleMask = 0x0000000F,
    kPsEndCapSquare = 0x00000100,
    kPsEndCapFlat = 0x00000200,
    kPsEndCapMask = 0x00000F00,
    kPsJoinBevel = 0x00001000,
    kPsJoinMiter = 0x00002000,
    kPsJoinMask = 0x0000F000,
    kPsGeometric = 0x00010000,
};

// Hatches past the six line patterns are solid: in the brush's colour, the text colour or
// the background colour (the dithered ones too).
enum HatchStyle : uint32_t {
    kHsSolidColour = 6,
    kHsDitheredColour = 7,
    kHsSolidTextColour = 8,
    kHsDitheredTextColour = 9,
    kHsSolidBkColour = 10,
    kHsDitheredBkColour = 11,
};

enum BrushStyle : uint32_t {
    kBsSolid = 0,
    kBsNull = 1,
    kBsHatched = 2,
    kBsPattern = 3,
    kBsDibPattern = 5,
    kBsDibPatternPt = 6,
};

struct GdiBrush {
    uint32_t style = kBsSolid;
    QColor colour = Qt::white;
    uint32_t hatch = 0;
    QImage pattern;
    // A 1-bit pattern without colours of its own paints its 0 bits in the text colour and
    // its 1 bits in the background colour.
    bool monochrome = false;
};

struct GdiPen {
    uint32_t style = kPsSolid;
    double width = 0;      // logical units; 0 draws one output pixel wide
    bool cosmetic = true;  // width in output pixels, never scaled
    QColor colour = Qt::black;
    std::vector<double> dashes;  // user style: on/off lengths in logical units
    // A geometric pen may paint its strokes with a hatch or a pattern instead of its colour.
    std::optional<GdiBrush> brush;
};

struct GdiFont {
    int height = 0;  // < 0: character height; > 0: cell height; 0: default
    int width = 0;
    int escapement = 0;  // tenths of a degree, counter-clockwise
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    uint8_t charSet = 0;
    uint8_t pitchAndFamily = 0;
    QString faceName;
};

struct GdiPalette {
    std::vector<QRgb> entries;
};

// A region in the coordinates it was defined in (logical units for 16-bit metafiles).
struct GdiRegion {
    QPainterPath area;
};

using GdiObject = std::variant<std::monostate, GdiPen, GdiBrush, GdiFont, GdiPalette, GdiRegion>;

// The stock objects both formats may select: white, light grey, grey, dark grey, black and
// null brushes; white, black and null pens; the fonts; the default palette.
const GdiObject* StockObject(uint32_t index);

// The handle table of a metafile. 16-bit metafiles put each new object in the lowest free
// slot; enhanced metafiles name the slot themselves.
class CObjectTable {
public:
    // Slots beyond this are refused: both formats count their handles in 16 bits.
    static constexpr size_t kMaxSlots = 65536;

    void InsertAtFreeSlot(GdiObject object);
    void Store(uint32_t index, GdiObject object);
    const GdiObject* Find(uint32_t index) const;
    void Delete(uint32_t index);

private:
    std::vector<GdiObject> slots_;
    size_t firstFree_ = 0;  // no slot below this one is free
};

}  // namespace metafile
