#include "quantize_filter.h"

#include "image_bitmap.h"
#include "text_exception.h"

#include <algorithm>
#include <climits>
#include <new>

namespace {

constexpr int kBlue = 0;
constexpr int kGreen = 1;
constexpr int kRed = 2;
constexpr int kPaletteSize = 256;
constexpr int kFixedBoxes = 8;

int Key(int blue, int green, int red) { return ((red >> 3) << 10) | ((green >> 3) << 5) | (blue >> 3); }

// Black, red, blue, green, magenta, cyan, yellow and white as blue, green and red levels:
// the colours median cut and popularity always keep.
constexpr uint8_t kPrimaryLevels[kFixedBoxes][3] = {{0, 0, 0},   {0, 0, 31},  {31, 0, 0},  {0, 31, 0},
                                                    {31, 0, 31}, {31, 31, 0}, {0, 31, 31}, {31, 31, 31}};

// The ordered dither's 4 x 4 threshold matrix.
constexpr int kDitherMatrix[16] = {-7, 1, -5, 3, 5, -3, 7, -1, -4, 4, -6, 2, 8, 0, 6, -2};

uint8_t ClampToByte(int value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

}  // namespace

const std::array<BGRA, 256>& CQuantizeFilter::FixedPalette() {
    static const std::array<BGRA, 256> table = [] {
        std::array<BGRA, 256> entries{};
        auto set = [&entries](int index, uint8_t b, uint8_t g, uint8_t r) { entries[static_cast<size_t>(index)] = {b, g, r, 255}; };
        // The sixteen colours of the classic system palette.
        const uint8_t system[16][3] = {{0, 0, 0},       {191, 0, 0},   {0, 191, 0},     {191, 191, 0},
                                       {0, 0, 191},     {191, 0, 191}, {0, 191, 191},   {192, 192, 192},
                                       {192, 220, 192}, {166, 202, 240}, {128, 0, 0},   {0, 128, 0},
                                       {128, 128, 0},   {0, 0, 128},   {128, 0, 128},   {0, 128, 128}};
        for (int i = 0; i < 16; ++i) set(i, system[i][0], system[i][1], system[i][2]);
        // A 6 x 6 x 6 colour cube without the colours the other entries already hold.
        const uint8_t levels[6] = {0, 81, 133, 177, 217, 255};
        int index = 16;
        for (int b2 = 0; b2 < 6; ++b2)
            for (int b1 = 0; b1 < 6; ++b1)
                for (int b0 = 0; b0 < 6; ++b0) {
                    if ((b1 == 0 && b2 == 0) || (b0 == 5 && b1 == 5 && b2 == 5)) continue;
                    set(index++, levels[b0], levels[b1], levels[b2]);
                }
        for (; index <= 244; ++index) {
            const auto grey = static_cast<uint8_t>(196 + 3 * (index - 225));
            set(index, grey, grey, grey);
        }
        const uint8_t last[11][3] = {{155, 207, 207}, {255, 251, 240}, {160, 160, 164}, {128, 128, 128},
                                     {255, 0, 0},     {0, 255, 0},     {255, 255, 0},   {0, 0, 255},
                                     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
        for (int i = 0; i < 11; ++i) set(245 + i, last[i][0], last[i][1], last[i][2]);
        return entries;
    }();
    return table;
}

void CQuantizeFilter::Apply(CImageBitmap& source, CImageBitmap& destination) {
    if (&source == &destination) {
        ApplyInPlace(destination);
        return;
    }
    if (source.BitsPerPixel() != 32)
        throw CTextException(ERR_CANNOT_HANDLE, "Only bitmaps of 32 bits per pixel can be quantized.");
    if (paletteMode_ < kMedianCut || paletteMode_ > kFixedPalette || ditherMode_ < kNoDither || ditherMode_ > kFloydSteinberg)
        throw CTextException(ERR_CANNOT_HANDLE, "Unknown palette or dither mode.");
    destination.Create(source.Width(), source.Height(), 8, false);
    try {
        boxes_.assign(kPaletteSize, Box{});
        histogram_.assign(kKeys, HistogramCell{});
    } catch (const std::bad_alloc&) {
        throw CTextException(ERR_OUT_OF_MEMORY, "Out of memory.");
    }
    {
        CBitmapLock sourceLock(source, true, false);
        CBitmapLock destinationLock(destination, false, true);
        if (paletteMode_ != kFixedPalette) CountColours(source);
        BGRA* palette = destination.Palette();
        switch (paletteMode_) {
        case kMedianCut:
            BuildMedianCutPalette(palette);
            break;
        case kPopularity:
            BuildPopularityPalette(palette);
            break;
        default:
            for (int i = 0; i < kPaletteSize; ++i) {
                const BGRA& entry = FixedPalette()[static_cast<size_t>(i)];
                palette[i].b = entry.b;
                palette[i].g = entry.g;
                palette[i].r = entry.r;
            }
            break;
        }
        switch (ditherMode_) {
        case kOrderedDither:
            MapOrdered(source, destination);
            break;
        case kFloydSteinberg:
            MapFloydSteinberg(source, destination);
            break;
        default:
            MapPlain(source, destination);
            break;
        }
    }
    std::vector<Box>().swap(boxes_);
    std::vector<HistogramCell>().swap(histogram_);
}

void CQuantizeFilter::CountColours(CImageBitmap& source) {
    for (int y = 0; y < source.Height(); ++y) {
        const BGRA* row = source.PixelLine(y);
        for (int x = 0; x < source.Width(); ++x) {
            HistogramCell& cell = histogram_[static_cast<size_t>(Key(row[x].b, row[x].g, row[x].r))];
            if (cell.count < kMaxCount) ++cell.count;
        }
    }
}

void CQuantizeFilter::ShrinkBox(Box& box) const {
    std::array<int, 3> low{31, 31, 31};
    std::array<int, 3> high{0, 0, 0};
    std::array<uint64_t, 3> weighted{};
    uint64_t total = 0;
    for (int r = box.minCorner[kRed]; r <= box.maxCorner[kRed]; ++r)
        for (int g = box.minCorner[kGreen]; g <= box.maxCorner[kGreen]; ++g)
            for (int b = box.minCorner[kBlue]; b <= box.maxCorner[kBlue]; ++b) {
                const int count = histogram_[static_cast<size_t>((r << 10) | (g << 5) | b)].count;
                if (count == 0) continue;
                const std::array<int, 3> level{b, g, r};
                for (int c = 0; c < 3; ++c) {
                    low[c] = std::min(low[c], level[c]);
                    high[c] = std::max(high[c], level[c]);
                    weighted[c] += static_cast<uint64_t>(level[c]) * static_cast<uint64_t>(count);
                }
                total += static_cast<uint64_t>(count);
            }
    for (int c = 0; c < 3; ++c) {
        box.minCorner[c] = static_cast<uint8_t>(low[c]);
        box.maxCorner[c] = static_cast<uint8_t>(high[c]);
        box.meanColour[c] = static_cast<uint8_t>(total ? weighted[c] / total : 0);
    }
    box.pixelCount = static_cast<uint32_t>(std::min<uint64_t>(total, kMaxCount));
    if (total != 0 && box.minCorner == box.maxCorner) box.pixelCount = 1;
}

void CQuantizeFilter::SplitBox(Box& box, Box& newBox) const {
    newBox = box;
    const int blue = box.maxCorner[kBlue] - box.minCorner[kBlue];
    const int green = box.maxCorner[kGreen] - box.minCorner[kGreen];
    const int red = box.maxCorner[kRed] - box.minCorner[kRed];
    const int axis = (red >= green && red >= blue) ? kRed : (green >= blue ? kGreen : kBlue);
    if (box.maxCorner[axis] - box.minCorner[axis] == 2) {
        newBox.maxCorner[axis] = newBox.minCorner[axis];
        box.minCorner[axis] = box.maxCorner[axis];
    } else {
        int middle = box.meanColour[axis];
        if (middle == box.maxCorner[axis]) --middle;
        box.maxCorner[axis] = static_cast<uint8_t>(middle);
        newBox.minCorner[axis] = static_cast<uint8_t>(middle + 1);
    }
    ShrinkBox(box);
    ShrinkBox(newBox);
}

void CQuantizeFilter::BuildMedianCutPalette(BGRA* palette) {
    for (int i = 0; i < kFixedBoxes; ++i) {
        Box& box = boxes_[static_cast<size_t>(i)];
        for (int c = 0; c < 3; ++c)
            box.minCorner[c] = box.maxCorner[c] = box.meanColour[c] = kPrimaryLevels[i][c];
        box.pixelCount = 1;
    }
    boxes_[kFixedBoxes].maxCorner = {31, 31, 31, 0};
    ShrinkBox(boxes_[kFixedBoxes]);
    for (size_t used = kFixedBoxes + 1; used < kPaletteSize; ++used) {
        size_t largest = kFixedBoxes;
        for (size_t i = kFixedBoxes + 1; i < used; ++i)
            if (boxes_[i].pixelCount > boxes_[largest].pixelCount) largest = i;
        if (boxes_[largest].pixelCount < 2) {
            std::fill(boxes_.begin() + static_cast<std::ptrdiff_t>(used), boxes_.end(), Box{});
            break;
        }
        SplitBox(boxes_[largest], boxes_[used]);
    }
    for (int i = 0; i < kPaletteSize; ++i) {
        const Box& box = boxes_[static_cast<size_t>(i)];
        auto centre = [&box](int c) { return static_cast<uint8_t>((box.minCorner[c] + box.maxCorner[c]) * 255 / 62); };
        palette[i] = BGRA{centre(kBlue), centre(kGreen), centre(kRed), 0};
    }
}

void CQuantizeFilter::BuildPopularityPalette(BGRA* palette) {
    // Entries 8 to 255 hold the most frequent keys in descending order of count; on equal
    // counts the key visited first stays ahead.
    std::array<int, kPaletteSize> keys;
    std::array<int, kPaletteSize> counts{};
    keys.fill(-1);
    for (int r = 0; r < 32; ++r)
        for (int b = 0; b < 32; ++b)
            for (int g = 0; g < 32; ++g) {
                const int key = (r << 10) | (g << 5) | b;
                const int count = histogram_[static_cast<size_t>(key)].count;
                if (count == 0 || count <= counts[kPaletteSize - 1]) continue;
                int slot = kPaletteSize - 1;
                for (; slot > kFixedBoxes && counts[static_cast<size_t>(slot - 1)] < count; --slot) {
                    keys[static_cast<size_t>(slot)] = keys[static_cast<size_t>(slot - 1)];
                    counts[static_cast<size_t>(slot)] = counts[static_cast<size_t>(slot - 1)];
                }
                keys[static_cast<size_t>(slot)] = key;
                counts[static_cast<size_t>(slot)] = count;
            }
    auto scaled = [](int level) { return static_cast<uint8_t>(level * 255 / 31); };
    for (int i = 0; i < kFixedBoxes; ++i)
        palette[i] = BGRA{scaled(kPrimaryLevels[i][kBlue]), scaled(kPrimaryLevels[i][kGreen]), scaled(kPrimaryLevels[i][kRed]), 0};
    // Entries no key reached keep the grey ramp the bitmap was created with: real colours,
    // so a pixel that finds one nearest still shows about its own shade.
    for (int i = kFixedBoxes; i < kPaletteSize; ++i) {
        const int key = keys[static_cast<size_t>(i)];
        if (key >= 0) palette[i] = BGRA{scaled(key & 31), scaled((key >> 5) & 31), scaled(key >> 10), 0};
    }
}

uint8_t CQuantizeFilter::NearestIndex(int blue, int green, int red, const BGRA* palette) {
    HistogramCell& cell = histogram_[static_cast<size_t>(Key(blue, green, red))];
    if (cell.paletteIndex >= 0) return static_cast<uint8_t>(cell.paletteIndex);
    int best = 0;
    int bestDistance = INT_MAX;
    for (int i = 0; i < kPaletteSize; ++i) {
        const int db = blue - palette[i].b;
        const int dg = green - palette[i].g;
        const int dr = red - palette[i].r;
        const int distance = db * db + dg * dg + dr * dr;
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    cell.paletteIndex = best;
    return static_cast<uint8_t>(best);
}

void CQuantizeFilter::MapPlain(CImageBitmap& source, CImageBitmap& destination) {
    const BGRA* palette = destination.Palette();
    for (int y = 0; y < source.Height(); ++y) {
        const BGRA* in = source.PixelLine(y);
        uint8_t* out = destination.Line(y);
        for (int x = 0; x < source.Width(); ++x) out[x] = NearestIndex(in[x].b, in[x].g, in[x].r, palette);
    }
}

void CQuantizeFilter::MapOrdered(CImageBitmap& source, CImageBitmap& destination) {
    const BGRA* palette = destination.Palette();
    const int width = source.Width();
    for (int y = 0; y < source.Height(); ++y) {
        const BGRA* in = source.PixelLine(y);
        uint8_t* out = destination.Line(y);
        for (int x = 0; x < width; ++x) {
            const int remaining = width - 1 - x;
            const int offset = 2 * kDitherMatrix[(remaining % 4) * 4 + y % 4];
            out[x] = NearestIndex(ClampToByte(in[x].b + offset), ClampToByte(in[x].g + offset),
                                  ClampToByte(in[x].r + offset), palette);
        }
    }
}

void CQuantizeFilter::MapFloydSteinberg(CImageBitmap& source, CImageBitmap& destination) {
    const BGRA* palette = destination.Palette();
    const int width = source.Width();
    // Error rows with one spare entry at each end, so that the edge pixels need no tests.
    using Error = std::array<double, 3>;
    std::vector<Error> current(static_cast<size_t>(width) + 2);
    std::vector<Error> next(static_cast<size_t>(width) + 2);
    for (int y = 0; y < source.Height(); ++y) {
        const BGRA* in = source.PixelLine(y);
        uint8_t* out = destination.Line(y);
        const int step = y % 2 == 0 ? 1 : -1;
        for (int i = 0; i < width; ++i) {
            const int x = step > 0 ? i : width - 1 - i;
            const auto at = static_cast<size_t>(x + 1);
            const auto ahead = static_cast<size_t>(x + 1 + step);
            const auto behind = static_cast<size_t>(x + 1 - step);
            const Error& error = current[at];
            const double value[3] = {std::clamp(in[x].b + error[0], 0.0, 255.0), std::clamp(in[x].g + error[1], 0.0, 255.0),
                                     std::clamp(in[x].r + error[2], 0.0, 255.0)};
            const uint8_t index =
                NearestIndex(static_cast<int>(value[0]), static_cast<int>(value[1]), static_cast<int>(value[2]), palette);
            out[x] = index;
            const int chosen[3] = {palette[index].b, palette[index].g, palette[index].r};
            for (size_t c = 0; c < 3; ++c) {
                const double share = (value[c] - chosen[c]) / 16.0;
                current[ahead][c] += 7 * share;
                next[behind][c] += 3 * share;
                next[at][c] += 5 * share;
                next[ahead][c] += share;
            }
        }
        std::swap(current, next);
        std::fill(next.begin(), next.end(), Error{});
    }
}
