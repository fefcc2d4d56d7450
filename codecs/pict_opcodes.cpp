#include "pict_opcodes.h"

#include <array>
#include <cstddef>

namespace {

using Table = std::array<PictOpcodeInfo, kLastTabledPictOpcode + 1>;

constexpr PictOpcodeInfo Fixed(const char* name, int length) { return {name, PictDataKind::Fixed, length}; }
constexpr PictOpcodeInfo Word(const char* name) { return {name, PictDataKind::WordLength, 0}; }
constexpr PictOpcodeInfo Handled(const char* name) { return {name, PictDataKind::Handled, 0}; }

// Eight opcodes of one shape family (frame, paint, erase, invert, fill, three reserved).
constexpr void Family(Table& t, int first, const char* const (&names)[5], PictDataKind kind, int length = 0) {
    for (int i = 0; i < 8; ++i) t[static_cast<size_t>(first + i)] = {i < 5 ? names[i] : "reserved", kind, length};
}

constexpr PictDataKind kFixed = PictDataKind::Fixed;

constexpr Table BuildTable() {
    Table t{};
    const char* const simple[] = {"NOP",     "Clip",    "BkPat",   "TxFont",  "TxFace",     "TxMode",
                                  "SpExtra", "PnSize",  "PnMode",  "PnPat",   "FillPat",    "OvSize",
                                  "Origin",  "TxSize",  "FgColor", "BkColor", "TxRatio",    "Version",
                                  "BkPixPat", "PnPixPat", "FillPixPat", "PnLocHFrac", "ChExtra"};
    const int simpleLength[] = {0, -1, 8, 2, 1, 2, 4, 4, 2, 8, 8, 4, 4, 2, 4, 4, 8, 1, -1, -1, -1, 2, 2};
    for (int i = 0; i <= 0x16; ++i)
        t[static_cast<size_t>(i)] = simpleLength[i] < 0 ? Handled(simple[i]) : Fixed(simple[i], simpleLength[i]);
    for (int i = 0x17; i <= 0x19; ++i) t[static_cast<size_t>(i)] = Fixed("reserved", 0);
    t[0x1A] = Fixed("RGBFgCol", 6);
    t[0x1B] = Fixed("RGBBkCol", 6);
    t[0x1C] = Fixed("HiliteMode", 0);
    t[0x1D] = Fixed("HiliteColor", 6);
    t[0x1E] = Fixed("DefHilite", 0);
    t[0x1F] = Fixed("OpColor", 6);
    t[0x20] = Fixed("Line", 8);
    t[0x21] = Fixed("LineFrom", 4);
    t[0x22] = Fixed("ShortLine", 6);
    t[0x23] = Fixed("ShortLineFrom", 2);
    for (int i = 0x24; i <= 0x27; ++i) t[static_cast<size_t>(i)] = Word("reserved");
    // Text: a position, a count byte and that many characters.
    t[0x28] = Handled("LongText");
    t[0x29] = Handled("DHText");
    t[0x2A] = Handled("DVText");
    t[0x2B] = Handled("DHDVText");
    t[0x2C] = Word("FontName");
    t[0x2D] = Word("LineJustify");
    t[0x2E] = Word("GlyphState");
    t[0x2F] = Word("reserved");

    Family(t, 0x30, {"frameRect", "paintRect", "eraseRect", "invertRect", "fillRect"}, kFixed, 8);
    Family(t, 0x38, {"frameSameRect", "paintSameRect", "eraseSameRect", "invertSameRect", "fillSameRect"}, kFixed);
    Family(t, 0x40, {"frameRRect", "paintRRect", "eraseRRect", "invertRRect", "fillRRrect"}, kFixed, 8);
    Family(t, 0x48, {"frameSameRRect", "paintSameRRect", "eraseSameRRect", "invertSameRRect", "fillSameRRect"}, kFixed);
    Family(t, 0x50, {"frameOval", "paintOval", "eraseOval", "invertOval", "fillOval"}, kFixed, 8);
    Family(t, 0x58, {"frameSameOval", "paintSameOval", "eraseSameOval", "invertSameOval", "fillSameOval"}, kFixed);
    Family(t, 0x60, {"frameArc", "paintArc", "eraseArc", "invertArc", "fillArc"}, kFixed, 12);
    Family(t, 0x68, {"frameSameArc", "paintSameArc", "eraseSameArc", "invertSameArc", "fillSameArc"}, kFixed, 4);
    // Polygons and regions carry their own 2-byte size.
    Family(t, 0x70, {"framePoly", "paintPoly", "erasePoly", "invertPoly", "fillPoly"}, PictDataKind::Handled);
    Family(t, 0x78, {"frameSamePoly", "paintSamePoly", "eraseSamePoly", "invertSamePoly", "fillSamePoly"}, kFixed);
    Family(t, 0x80, {"frameRgn", "paintRgn", "eraseRgn", "invertRgn", "fillRgn"}, PictDataKind::Handled);
    Family(t, 0x88, {"frameSameRgn", "paintSameRgn", "eraseSameRgn", "invertSameRgn", "fillSameRgn"}, kFixed);

    t[0x90] = Handled("BitsRect");
    t[0x91] = Handled("BitsRgn");
    for (int i = 0x92; i <= 0x97; ++i) t[static_cast<size_t>(i)] = Word("reserved");
    t[0x98] = Handled("PackBitsRect");
    t[0x99] = Handled("PackBitsRgn");
    t[0x9A] = Handled("Opcode_9A");  // direct pixels, clipped by a rectangle
    t[0x9B] = Handled("Opcode_9B");  // direct pixels, clipped by a region
    for (int i = 0x9C; i <= 0x9F; ++i) t[static_cast<size_t>(i)] = Word("reserved");
    t[0xA0] = Fixed("ShortComment", 2);
    t[0xA1] = Handled("LongComment");
    return t;
}

constexpr Table kOpcodes = BuildTable();

}  // namespace

const PictOpcodeInfo& PictOpcode(int opcode) { return kOpcodes[static_cast<size_t>(opcode)]; }
