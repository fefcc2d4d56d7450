#pragma once

#include "image_filter.h"
#include "pixel.h"

#include <array>
#include <cstdint>
#include <vector>

// Converts a 32-bit bitmap into an 8-bit one with a palette of 256 entries: the palette from
// a fixed table, by median cut or by popularity of the colours, and every pixel mapped to
// its nearest entry, plainly, through an ordered dither or by Floyd-Steinberg error
// diffusion.
//
// Colours are grouped by their top five bits per channel (a 15-bit key); the nearest entry
// is searched once per key, and every later pixel of that key takes the same index.
class CQuantizeFilter : public CImageFilter {
public:
    enum PaletteMode { kMedianCut = 0, kPopularity = 1, kFixedPalette = 2 };
    enum DitherMode { kNoDither = 0, kOrderedDither = 1, kFloydSteinberg = 2 };

    CQuantizeFilter(int paletteMode, int ditherMode) : paletteMode_(paletteMode), ditherMode_(ditherMode) {}

    // Recreates destination as an 8-bit bitmap of the source's size. A source of another depth
    // than 32 is refused (code 7) before the destination is touched; when source and
    // destination are one bitmap it is converted through a scratch copy.
    void Apply(CImageBitmap& source, CImageBitmap& destination) override;

    // The fixed palette's 256 colours (alpha 255).
    static const std::array<BGRA, 256>& FixedPalette();

    static constexpr int kKeys = 1 << 15;
    static constexpr int kMaxCount = 65535;

private:
    // One colour key's share of the picture; a count of 0 means the key was never counted.
    struct HistogramCell {
        int32_t paletteIndex = -1;
        int32_t count = 0;
    };
    // A box of colour keys for median cut: corners and mean as blue, green, red levels 0-31.
    struct Box {
        std::array<uint8_t, 4> minCorner{};
        std::array<uint8_t, 4> maxCorner{};
        std::array<uint8_t, 4> meanColour{};
        uint32_t pixelCount = 0;
    };

    void CountColours(CImageBitmap& source);
    void BuildMedianCutPalette(BGRA* palette);
    void BuildPopularityPalette(BGRA* palette);
    void ShrinkBox(Box& box) const;
    void SplitBox(Box& box, Box& newBox) const;
    uint8_t NearestIndex(int blue, int green, int red, const BGRA* palette);
    void MapPlain(CImageBitmap& source, CImageBitmap& destination);
    void MapOrdered(CImageBitmap& source, CImageBitmap& destination);
    void MapFloydSteinberg(CImageBitmap& source, CImageBitmap& destination);

    int paletteMode_;
    int ditherMode_;
    std::vector<HistogramCell> histogram_;
    std::vector<Box> boxes_;
};
