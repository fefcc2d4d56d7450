#include "tiff_decoder.h"

#include "tiff_memory_client.h"

#include "imagelib/byte_order.h"
#include "imagelib/byte_source.h"
#include "imagelib/colour_management.h"
#include "imagelib/decode_context.h"
#include "imagelib/image_bitmap.h"
#include "imagelib/premultiplied_alpha.h"
#include "imagelib/row_bands.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "imagelib/work_budget.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

// libtiff's messages during one decode. The handlers only format and record, then return
// to libtiff, which reports the failure through its return values.
struct TiffMessages {
    char lastError[256] = {};

    void Clear() { lastError[0] = '\0'; }
    bool Failed() const { return lastError[0] != '\0'; }
    std::string LastError() const { return lastError[0] != '\0' ? lastError : "The TIFF data cannot be read."; }
};

// Writes one of libtiff's messages to the trace log: errors at level 0, warnings at 2.
// Tracing is best effort, and nothing may unwind into libtiff.
void TraceMessage(bool error, const char* module, const char* text) noexcept {
    try {
        if (error)
            Trace(0, std::string(text) + "\n");
        else if (module != nullptr)
            Trace(2, FormatText("Warning in LIBTIFF(%s): %s\n", module, text));
        else
            Trace(2, FormatText("Warning in LIBTIFF: %s\n", text));
    } catch (...) {
    }
}

int ErrorHandler(TIFF*, void* user, const char*, const char* format, va_list args) noexcept {
    auto* messages = static_cast<TiffMessages*>(user);
    std::vsnprintf(messages->lastError, sizeof messages->lastError, format, args);
    TraceMessage(true, nullptr, messages->lastError);
    return 1;  // handled: the process-wide handler stays quiet
}

int WarningHandler(TIFF*, void*, const char* module, const char* format, va_list args) noexcept {
    char text[256];
    std::vsnprintf(text, sizeof text, format, args);
    TraceMessage(false, module, text);
    return 1;
}

// Messages libtiff reports outside any handle go to the trace log, never to the terminal.
void ProcessErrorHandler(const char*, const char* format, va_list args) noexcept {
    char text[256];
    std::vsnprintf(text, sizeof text, format, args);
    TraceMessage(true, nullptr, text);
}

void ProcessWarningHandler(const char* module, const char* format, va_list args) noexcept {
    char text[256];
    std::vsnprintf(text, sizeof text, format, args);
    TraceMessage(false, module, text);
}

struct CloseTiff {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
struct FreeOptions {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

class RgbaImageEnd {
public:
    explicit RgbaImageEnd(TIFFRGBAImage& image) : image_(image) {}
    ~RgbaImageEnd() { TIFFRGBAImageEnd(&image_); }
    RgbaImageEnd(const RgbaImageEnd&) = delete;
    RgbaImageEnd& operator=(const RgbaImageEnd&) = delete;

private:
    TIFFRGBAImage& image_;
};

void CheckDimensions(uint32_t width, uint32_t height) {
    if (width == 0 || height == 0 || width > INT_MAX || height > INT_MAX)
        RaiseError(ERR_BAD_DATA, FormatText("TIFF decoder: invalid image size %u x %u.", width, height));
}

// True when the rows follow each other in memory from the top, as one raster.
bool ContiguousTopDown(const CImageBitmap& bitmap) {
    const size_t rowBytes = static_cast<size_t>(bitmap.Width()) * 4;
    for (int y = 1; y < bitmap.Height(); ++y)
        if (bitmap.Line(y) != bitmap.Line(y - 1) + rowBytes) return false;
    return true;
}

// libtiff's RGBA pixels are the bytes red, green, blue, alpha; the bitmap's blue, green,
// red, alpha.
void SwapRedAndBlue(uint32_t* pixels, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint32_t p = pixels[i];
        pixels[i] = (p & 0xFF00FF00u) | ((p >> 16) & 0xFFu) | ((p & 0xFFu) << 16);
    }
}

// The RGBA interface's put routine for the commonest layout, 8-bit RGB samples side by
// side: it writes the bitmap's byte order at once, sparing a second pass over the picture.
// It follows the contract of libtiff's own routines: w pixels per row from pp, h rows, the
// skews added after each row.
void PutBgraFromRgb8(TIFFRGBAImage* image, uint32_t* cp, uint32_t, uint32_t, uint32_t w, uint32_t h,
                     int32_t fromskew, int32_t toskew, unsigned char* pp) noexcept {
    const int samples = image->samplesperpixel;
    for (; h > 0; --h) {
        for (uint32_t x = 0; x < w; ++x, pp += samples)
            cp[x] = 0xFF000000u | static_cast<uint32_t>(pp[0]) << 16 | static_cast<uint32_t>(pp[1]) << 8 | pp[2];
        cp += static_cast<int64_t>(w) + toskew;
        pp += static_cast<int64_t>(fromskew) * samples;
    }
}

// The same for 8-bit grey and alpha. libtiff's own routine for this layout steps over the
// part of an edge tile outside the picture by one byte a pixel instead of two, shearing
// every row of such tiles after the first.
void PutBgraFromGreyAlpha8(TIFFRGBAImage* image, uint32_t* cp, uint32_t, uint32_t, uint32_t w, uint32_t h,
                           int32_t fromskew, int32_t toskew, unsigned char* pp) noexcept {
    const int samples = image->samplesperpixel;
    for (; h > 0; --h) {
        for (uint32_t x = 0; x < w; ++x, pp += samples)
            cp[x] = static_cast<uint32_t>(pp[1]) << 24 | static_cast<uint32_t>(pp[0]) * 0x010101u;
        cp += static_cast<int64_t>(w) + toskew;
        pp += static_cast<int64_t>(fromskew) * samples;
    }
}

// A put routine of ours for the layouts that have one: 8-bit samples side by side of RGB,
// or of black-is-zero grey with alpha. nullptr for the rest.
tileContigRoutine OwnPutRoutine(TIFF* tiff, const TIFFRGBAImage& image) {
    uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    if (image.bitspersample != 8 || planar != PLANARCONFIG_CONTIG) return nullptr;
    if (image.photometric == PHOTOMETRIC_RGB && image.samplesperpixel == 3 && image.alpha == 0) return PutBgraFromRgb8;
    if (image.photometric == PHOTOMETRIC_MINISBLACK && image.samplesperpixel == 2 && image.alpha != 0)
        return PutBgraFromGreyAlpha8;
    return nullptr;
}

// Rows per band of the RGBA interface: a strip's or a row of tiles'. libtiff decodes a strip
// or tile from its start for each band that needs part of it, so bands hold whole ones.
uint32_t BandRows(TIFF* tiff, uint32_t height) {
    uint32_t rows = 0;
    if (TIFFIsTiled(tiff))
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &rows);
    else
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rows);
    return rows == 0 || rows > height ? height : rows;
}

// The RGBA interface delivers the rows as stored, top row first (its requested orientation
// is the stored one); the decode turns the picture upright afterwards, or keeps it as
// stored when asked to.
void DecodeFullColour(CImageBitmap& bitmap, int& depth, TIFF* tiff, TiffMessages& messages, CByteSource& source) {
    depth = 32;
    char reason[1024] = {};
    TIFFRGBAImage image{};
    if (!TIFFRGBAImageBegin(&image, tiff, 0, reason))
        RaiseError(ERR_NOT_THIS_FORMAT, reason[0] != '\0' ? std::string(reason) : messages.LastError());
    RgbaImageEnd end(image);
    image.req_orientation = image.orientation;
    const tileContigRoutine own = OwnPutRoutine(tiff, image);
    const bool swap = own == nullptr;
    if (own != nullptr) image.put.contig = own;
    const uint32_t width = image.width, height = image.height;
    CheckDimensions(width, height);
    bitmap.Create(static_cast<int>(width), static_cast<int>(height), 32, image.alpha != 0);
    CBitmapLock lock(bitmap, false, true);

    // Straight into the bitmap when its rows form one raster; through a copy otherwise.
    const size_t pixels = static_cast<size_t>(width) * height;
    const bool direct = ContiguousTopDown(bitmap);
    std::vector<uint32_t> copy(direct ? 0 : pixels);
    uint32_t* raster = direct ? reinterpret_cast<uint32_t*>(bitmap.Line(0)) : copy.data();
    // Band by band, so that a cancel is noticed and progress told between them.
    const uint32_t band = BandRows(tiff, height);
    // libtiff goes on past a strip or tile it cannot decode, drawing whatever its buffer
    // held; any error it reports on the way fails the image instead.
    messages.Clear();
    for (uint32_t row = 0; row < height; row += band) {
        CheckDecodeCancelled();
        const uint32_t rows = std::min(band, height - row);
        image.row_offset = static_cast<int>(row);
        uint32_t* out = raster + static_cast<size_t>(row) * width;
        if (!TIFFRGBAImageGet(&image, out, width, rows) || messages.Failed())
            RaiseError(ERR_NOT_THIS_FORMAT, messages.LastError());
        if (direct && swap) SwapRedAndBlue(out, static_cast<size_t>(rows) * width);
        source.ReportProgress(static_cast<double>(row + rows) / height);
    }
    if (!direct) {
        for (int y = 0; y < bitmap.Height(); ++y) {
            uint32_t* row = raster + static_cast<size_t>(y) * width;
            if (swap) SwapRedAndBlue(row, width);
            std::memcpy(bitmap.Line(y), row, static_cast<size_t>(width) * 4);
        }
    }
    // The interface delivers premultiplied colours for associated alpha, as stored, and for
    // unassociated alpha with RGB, which it premultiplies itself; grey it leaves straight.
    if (image.alpha == EXTRASAMPLE_ASSOCALPHA || (image.alpha == EXTRASAMPLE_UNASSALPHA && image.photometric == PHOTOMETRIC_RGB))
        for (int y = 0; y < bitmap.Height(); ++y) Unpremultiply(bitmap.PixelLine(y), width);
}

// The layout of an image of plain grey or RGB samples, with at most one extra (alpha).
struct SampleLayout {
    uint32_t width = 0, height = 0;
    uint16_t bits = 1, samples = 1, photometric = 0, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT;
    uint16_t extra = EXTRASAMPLE_UNSPECIFIED;  // what the first extra sample is
    int colours = 1;
};

SampleLayout ReadLayout(TIFF* tiff) {
    SampleLayout l;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &l.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &l.height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &l.bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &l.planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &l.format);
    if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &l.photometric) != 1) l.photometric = 0xFFFF;
    l.colours = l.photometric == PHOTOMETRIC_RGB ? 3 : 1;
    uint16_t extras = 0;
    const uint16_t* types = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extras, &types) == 1 && extras > 0 && types != nullptr) l.extra = types[0];
    return l;
}

bool HasAlphaSample(const SampleLayout& l) {
    return l.samples > l.colours && (l.extra == EXTRASAMPLE_ASSOCALPHA || l.extra == EXTRASAMPLE_UNASSALPHA);
}

// Plain samples the RGBA interface refuses or misreads: bit depths it does not know (12-bit
// scans, 4-bit RGB), signed samples (it takes them as unsigned), grey with alpha in
// separate planes, and alpha (it premultiplies colours by an alpha stored apart, and keeps
// only 8 bits of alpha it would have to undo that from). Read here scanline by scanline
// from strips, or a row of tiles at a time when the samples are whole bytes side by side.
bool NeedsOwnSampleReading(TIFF* tiff, const SampleLayout& l) {
    const bool plain = (l.photometric == PHOTOMETRIC_MINISWHITE || l.photometric == PHOTOMETRIC_MINISBLACK ||
                        l.photometric == PHOTOMETRIC_RGB) &&
                       (l.format == SAMPLEFORMAT_UINT || l.format == SAMPLEFORMAT_INT) && l.bits >= 1 &&
                       l.bits <= 16 && l.samples >= l.colours && l.samples <= l.colours + 1;
    // Tiles are read here when their samples are whole bytes side by side.
    if (!plain || (TIFFIsTiled(tiff) && (l.planar != PLANARCONFIG_CONTIG || l.bits % 8 != 0))) return false;
    // 16-bit samples too: the RGBA interface keeps their high byte, where rounding to the
    // nearest 8-bit level is exact.
    if (l.format == SAMPLEFORMAT_INT || l.bits == 16 || (l.planar == PLANARCONFIG_SEPARATE && l.colours == 1 && l.samples == 2) ||
        HasAlphaSample(l))
        return true;
    char reason[1024];
    TIFFRGBAImage probe{};
    if (!TIFFRGBAImageBegin(&probe, tiff, 0, reason)) return true;
    TIFFRGBAImageEnd(&probe);
    return false;
}

// Sample index of a scanline. 16-bit samples come in the machine's byte order; smaller
// ones are packed from the most significant bit, read through three bytes they may straddle.
uint32_t SampleAt(const uint8_t* line, size_t index, int bits) {
    if (bits == 16) {
        uint16_t v;
        std::memcpy(&v, line + 2 * index, 2);
        return v;
    }
    if (bits == 8) return line[index];
    const size_t bit = index * static_cast<size_t>(bits);
    const uint32_t window = static_cast<uint32_t>(line[bit / 8]) << 16 | static_cast<uint32_t>(line[bit / 8 + 1]) << 8 |
                            line[bit / 8 + 2];
    return window >> (24 - bits - bit % 8) & ((1u << bits) - 1);
}

// The levels of a scanline's samples through each sample's table, with the common depths
// read directly.
template <int Bits>
void FillLevelsAt(std::vector<uint8_t>& levels, const uint8_t* line, const uint8_t* const* tables, int perPixel) {
    const size_t pixels = levels.size() / static_cast<size_t>(perPixel);
    for (size_t i = 0, x = 0; x < pixels; ++x)
        for (int k = 0; k < perPixel; ++k, ++i) {
            uint32_t v;
            if constexpr (Bits == 16) {
                uint16_t v16;
                std::memcpy(&v16, line + 2 * i, 2);
                v = v16;
            } else if constexpr (Bits == 8) {
                v = line[i];
            } else {
                v = SampleAt(line, i, Bits);
            }
            levels[i] = tables[k][v];
        }
}

void FillLevels(std::vector<uint8_t>& levels, const uint8_t* line, const uint8_t* const* tables, int perPixel, int bits) {
    if (bits == 16) return FillLevelsAt<16>(levels, line, tables, perPixel);
    if (bits == 8) return FillLevelsAt<8>(levels, line, tables, perPixel);
    const size_t pixels = levels.size() / static_cast<size_t>(perPixel);
    for (size_t i = 0, x = 0; x < pixels; ++x)
        for (int k = 0; k < perPixel; ++k, ++i) levels[i] = tables[k][SampleAt(line, i, bits)];
}

// The rows of a tiled image of whole-byte samples side by side, as scanlines: a row of
// tiles at a time is read into a band of whole rows.
class TileRows {
public:
    TileRows(TIFF* tiff, const SampleLayout& l, const TiffMessages& messages)
        : tiff_(tiff), messages_(messages), width_(l.width), height_(l.height),
          pixelBytes_(static_cast<size_t>(l.samples) * (l.bits / 8)) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth_);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileLength_);
        const tmsize_t tileSize = TIFFTileSize(tiff);
        if (tileWidth_ == 0 || tileLength_ == 0 || tileSize <= 0 ||
            static_cast<uint64_t>(tileSize) < uint64_t{tileWidth_} * tileLength_ * pixelBytes_)
            RaiseError(ERR_CANNOT_HANDLE, messages.LastError());
        const uint64_t bandBytes = uint64_t{std::min(tileLength_, height_)} * width_ * pixelBytes_;
        if (bandBytes > BitmapStorageLimit()) RaiseError(ERR_OUT_OF_MEMORY, "TIFF decoder: a row of tiles exceeds the storage limit.");
        tile_.resize(static_cast<size_t>(tileSize));
        band_.resize(static_cast<size_t>(bandBytes));
    }

    // Row y, bytes for width pixels; rows are asked for from the top down.
    const uint8_t* Row(uint32_t y) {
        if (!loaded_ || y < top_ || y >= top_ + tileLength_) Load(y / tileLength_ * tileLength_);
        return band_.data() + static_cast<size_t>(y - top_) * width_ * pixelBytes_;
    }

private:
    void Load(uint32_t top) {
        const uint32_t rows = std::min(tileLength_, height_ - top);
        const size_t lineBytes = static_cast<size_t>(width_) * pixelBytes_;
        for (uint32_t x = 0; x < width_; x += tileWidth_) {
            CWorkBudget::ChargeRow(tile_.size());
            if (TIFFReadTile(tiff_, tile_.data(), x, top, 0, 0) < 0) RaiseError(ERR_CANNOT_HANDLE, messages_.LastError());
            const size_t bytes = std::min(tileWidth_, width_ - x) * pixelBytes_;
            for (uint32_t r = 0; r < rows; ++r)
                std::memcpy(band_.data() + r * lineBytes + x * pixelBytes_, tile_.data() + r * tileWidth_ * pixelBytes_, bytes);
        }
        top_ = top;
        loaded_ = true;
    }

    TIFF* tiff_;
    const TiffMessages& messages_;
    uint32_t width_, height_, tileWidth_ = 0, tileLength_ = 0, top_ = 0;
    size_t pixelBytes_;
    bool loaded_ = false;
    std::vector<uint8_t> tile_, band_;
};

// Straight samples of up to 16 bits from premultiplied ones: colours first, alpha last.
void UnpremultiplyWide(uint16_t* samples, size_t pixels, int perPixel) {
    for (size_t x = 0; x < pixels; ++x, samples += perPixel) {
        const uint32_t a = samples[perPixel - 1];
        if (a == 65535 || a == 0) continue;
        for (int k = 0; k + 1 < perPixel; ++k)
            samples[k] = static_cast<uint16_t>(std::min<uint32_t>(65535, (samples[k] * 65535u + a / 2) / a));
    }
}

// 16-bit samples side by side, colours then alpha, to their nearest 8-bit levels.
void ReduceWide(const uint16_t* samples, BGRA* out, uint32_t width, int perPixel, int colours) {
    const auto level = [](uint16_t v) { return static_cast<uint8_t>((v * 255u + 32767) / 65535); };
    for (uint32_t x = 0; x < width; ++x, samples += perPixel) {
        const uint8_t r = level(samples[0]);
        const uint8_t g = colours == 1 ? r : level(samples[1]);
        const uint8_t b = colours == 1 ? r : level(samples[2]);
        out[x] = BGRA{b, g, r, perPixel > colours ? level(samples[colours]) : uint8_t{255}};
    }
}

// converter: for contiguous samples of more than 8 bits whose colours are to be converted;
// they reach it as 16-bit samples. Otherwise each sample becomes its nearest 8-bit level.
void DecodeSamples(CImageBitmap& bitmap, int& depth, TIFF* tiff, const SampleLayout& l, const TiffMessages& messages,
                   CByteSource& source, CColourRowConverter* converter) {
    depth = 32;
    CheckDimensions(l.width, l.height);
    const bool alpha = l.samples > l.colours;
    const bool associated = alpha && l.extra == EXTRASAMPLE_ASSOCALPHA;
    bitmap.Create(static_cast<int>(l.width), static_cast<int>(l.height), 32, alpha);
    CBitmapLock lock(bitmap, false, true);
    const tmsize_t scanlineSize = TIFFScanlineSize(tiff);
    if (scanlineSize <= 0) RaiseError(ERR_CANNOT_HANDLE, messages.LastError());
    std::vector<uint8_t> line(static_cast<size_t>(scanlineSize) + 2);
    std::optional<TileRows> tiles;
    if (TIFFIsTiled(tiff)) tiles.emplace(tiff, l, messages);
    // Separate planes are read one after the other: switching planes on every row would
    // make libtiff decode each strip again from its start.
    const bool separate = l.planar == PLANARCONFIG_SEPARATE && l.samples > 1;
    const int planes = separate ? l.samples : 1;
    const int perPixel = separate ? 1 : l.samples;
    // Every stored sample value's level, rounded to the nearest: signed samples are offset
    // first (two's complement), and colour samples of white-is-zero images inverted.
    const uint32_t max = (1u << l.bits) - 1;
    const uint32_t offset = l.format == SAMPLEFORMAT_INT ? 1u << (l.bits - 1) : 0;
    const bool inverted = l.photometric == PHOTOMETRIC_MINISWHITE;
    // Samples of more than 8 bits are taken to 16 bits first when they are to be converted,
    // or divided by an associated alpha: 8-bit levels would lose the faint colours of
    // nearly transparent pixels.
    const bool wide = (converter != nullptr || (associated && l.bits > 8)) && !separate;
    std::vector<uint8_t> alphaLevels(max + 1), colourLevels(max + 1);
    std::vector<uint16_t> wideAlpha(wide ? max + 1 : 0), wideColour(wide ? max + 1 : 0);
    for (uint32_t v = 0; v <= max; ++v) {
        alphaLevels[v] = static_cast<uint8_t>(((v ^ offset) * 255 + max / 2) / max);
        colourLevels[v] = inverted ? static_cast<uint8_t>(255 - alphaLevels[v]) : alphaLevels[v];
        if (wide) {
            wideAlpha[v] = static_cast<uint16_t>(((v ^ offset) * uint64_t{65535} + max / 2) / max);
            wideColour[v] = inverted ? static_cast<uint16_t>(65535 - wideAlpha[v]) : wideAlpha[v];
        }
    }
    // The levels of one scanline's samples, in the order they are stored.
    std::vector<uint8_t> rowLevels(static_cast<size_t>(l.width) * static_cast<size_t>(perPixel));
    std::vector<uint16_t> wideRow(wide ? rowLevels.size() : 0);
    for (int plane = 0; plane < planes; ++plane)
        for (uint32_t y = 0; y < l.height; ++y) {
            if (tiles) {
                std::memcpy(line.data(), tiles->Row(y), std::min(line.size(), static_cast<size_t>(l.width) * l.samples * (l.bits / 8)));
            } else {
                CWorkBudget::ChargeRow(static_cast<uint64_t>(scanlineSize));
                if (TIFFReadScanline(tiff, line.data(), y, static_cast<uint16_t>(plane)) < 0)
                    RaiseError(ERR_CANNOT_HANDLE, messages.LastError());
            }
            BGRA* out = bitmap.PixelLine(static_cast<int>(y));
            if (wide) {
                for (size_t i = 0; i < wideRow.size(); ++i)
                    wideRow[i] = (static_cast<int>(i % static_cast<size_t>(perPixel)) == l.colours ? wideAlpha : wideColour)
                        [SampleAt(line.data(), i, l.bits)];
                if (associated) UnpremultiplyWide(wideRow.data(), l.width, perPixel);
                if (converter)
                    converter->Convert(wideRow.data(), out, l.width);
                else
                    ReduceWide(wideRow.data(), out, l.width, perPixel, l.colours);
                source.ReportProgress(static_cast<double>(y + 1) / l.height);
                continue;
            }
            const uint8_t* tables[4];
            for (int k = 0; k < perPixel; ++k)
                tables[k] = ((separate ? plane : k) == l.colours ? alphaLevels : colourLevels).data();
            FillLevels(rowLevels, line.data(), tables, perPixel, l.bits);
            const uint8_t* in = rowLevels.data();
            if (separate) {
                for (uint32_t x = 0; x < l.width; ++x) {
                    if (plane == l.colours) out[x].a = in[x];
                    else if (l.colours == 1) out[x].r = out[x].g = out[x].b = in[x];
                    else (plane == 0 ? out[x].r : plane == 1 ? out[x].g : out[x].b) = in[x];
                }
                if (!alpha)
                    for (uint32_t x = 0; x < l.width; ++x) out[x].a = 255;
            } else if (l.colours == 1) {
                for (uint32_t x = 0; x < l.width; ++x, in += perPixel)
                    out[x] = BGRA{in[0], in[0], in[0], alpha ? in[1] : uint8_t{255}};
            } else {
                for (uint32_t x = 0; x < l.width; ++x, in += perPixel)
                    out[x] = BGRA{in[2], in[1], in[0], alpha ? in[3] : uint8_t{255}};
            }
            source.ReportProgress((static_cast<double>(plane) * l.height + y + 1) / (static_cast<double>(planes) * l.height));
        }
    // Separate planes are whole only once the alpha plane, the last, has been read.
    if (associated && !wide)
        for (uint32_t y = 0; y < l.height; ++y) Unpremultiply(bitmap.PixelLine(static_cast<int>(y)), l.width);
}

// CMYK inks of 8 bits, contiguous in strips, converted through their profile.
void DecodeInks(CImageBitmap& bitmap, int& depth, TIFF* tiff, const SampleLayout& l, const TiffMessages& messages,
                CByteSource& source, CColourRowConverter& converter) {
    depth = 32;
    CheckDimensions(l.width, l.height);
    bitmap.Create(static_cast<int>(l.width), static_cast<int>(l.height), 32, false);
    CBitmapLock lock(bitmap, false, true);
    const tmsize_t scanlineSize = TIFFScanlineSize(tiff);
    if (scanlineSize < static_cast<tmsize_t>(l.width) * 4) RaiseError(ERR_CANNOT_HANDLE, messages.LastError());
    std::vector<uint8_t> line(static_cast<size_t>(scanlineSize));
    for (uint32_t y = 0; y < l.height; ++y) {
        CWorkBudget::ChargeRow(static_cast<uint64_t>(scanlineSize));
        if (TIFFReadScanline(tiff, line.data(), y, 0) < 0) RaiseError(ERR_CANNOT_HANDLE, messages.LastError());
        std::memcpy(bitmap.Line(static_cast<int>(y)), line.data(), static_cast<size_t>(l.width) * 4);
        source.ReportProgress(static_cast<double>(y + 1) / l.height);
    }
    // Through a profile's lookup tables a pixel costs several times its reading: the rows
    // are converted in place, split among the processor's cores.
    CheckDecodeCancelled();
    ForEachRowBand(bitmap.Height(), int64_t{bitmap.Width()} * bitmap.Height(), [&](int firstRow, int endRow) {
        for (int y = firstRow; y < endRow; ++y) converter.Convert(bitmap.PixelLine(y), bitmap.PixelLine(y), l.width);
    });
}

// The palette of a low-colour image: a grey ramp over its levels or its colour map.
std::vector<BGRA> LowColourTable(TIFF* tiff, int bits, uint16_t photometric) {
    const int entries = 1 << bits;
    std::vector<BGRA> table(static_cast<size_t>(entries));
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (photometric == PHOTOMETRIC_PALETTE && TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue) == 1) {
        // Old writers store 8-bit values in the 16-bit map; any value above 255 marks a real one.
        bool wide = false;
        for (int i = 0; i < entries; ++i) wide = wide || red[i] > 255 || green[i] > 255 || blue[i] > 255;
        auto level = [wide](uint16_t v) { return static_cast<uint8_t>(wide ? (v * 255 + 32767) / 65535 : v); };
        for (int i = 0; i < entries; ++i) table[static_cast<size_t>(i)] = OpaqueColour(level(red[i]), level(green[i]), level(blue[i]));
        return table;
    }
    for (int i = 0; i < entries; ++i) {
        const int grey = photometric == PHOTOMETRIC_MINISWHITE ? entries - 1 - i : i;
        const auto v = static_cast<uint8_t>(grey * 255 / (entries - 1));
        table[static_cast<size_t>(i)] = BGRA{v, v, v, 255};
    }
    return table;
}

// Indices of 1, 2 or 4 bits packed from the most significant bit, one byte each: every
// stored byte through a table of the 8, 4 or 2 indices it holds.
class IndexUnpacker {
public:
    explicit IndexUnpacker(int bits) : bits_(bits) {
        const int perByte = 8 / bits;
        for (int value = 0; value < 256; ++value)
            for (int i = 0; i < perByte; ++i)
                table_[static_cast<size_t>(value)][static_cast<size_t>(i)] =
                    static_cast<uint8_t>(value >> (8 - bits * (i + 1)) & ((1 << bits) - 1));
    }

    void Unpack(uint8_t* out, const uint8_t* in, uint32_t count) const {
        switch (bits_) {
        case 1: UnpackBy<8>(out, in, count); break;
        case 2: UnpackBy<4>(out, in, count); break;
        default: UnpackBy<2>(out, in, count); break;
        }
    }

private:
    template <uint32_t PerByte>
    void UnpackBy(uint8_t* out, const uint8_t* in, uint32_t count) const {
        const uint32_t whole = count / PerByte;
        for (uint32_t i = 0; i < whole; ++i, out += PerByte) std::memcpy(out, table_[in[i]].data(), PerByte);
        if (count % PerByte != 0) std::memcpy(out, table_[in[whole]].data(), count % PerByte);
    }

    int bits_;
    std::array<std::array<uint8_t, 8>, 256> table_{};
};

// What a scanline libtiff fails to read costs from the work budget.
constexpr uint64_t kFailedRowUnits = 1024;

void DoLoColor(CImageBitmap& bitmap, int& depth, TIFF* tiff, const TiffMessages& messages, CByteSource& source) {
    uint32_t width = 0, length = 0;
    uint16_t bits = 1, photometric = PHOTOMETRIC_MINISBLACK;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &length);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    CheckDimensions(width, length);
    depth = bits == 1 && depth == 0 ? 1 : 8;
    bitmap.Create(static_cast<int>(width), static_cast<int>(length), depth, false);

    // The bitmap's palette has 2 or 256 entries, the table 2^bits: copy what both have.
    const std::vector<BGRA> table = LowColourTable(tiff, bits, photometric);
    std::copy_n(table.begin(), std::min<size_t>(table.size(), static_cast<size_t>(PaletteEntries(depth))), bitmap.Palette());

    const tmsize_t scanlineSize = TIFFScanlineSize(tiff);
    if (scanlineSize <= 0) RaiseError(ERR_CANNOT_HANDLE, messages.LastError());
    // One spare byte: an index is read through the two bytes it may straddle.
    std::vector<uint8_t> scanline(static_cast<size_t>(scanlineSize) + 1);
    const size_t rowBytes = UnpaddedLineBytes(width, depth);
    const int mask = (1 << bits) - 1;
    std::optional<IndexUnpacker> unpacker;  // for indices that never straddle two bytes
    if (bits == 1 || bits == 2 || bits == 4) unpacker.emplace(bits);
    CBitmapLock lock(bitmap, false, true);
    for (uint32_t y = 0; y < length; ++y) {
        CWorkBudget::ChargeRow(static_cast<uint64_t>(scanlineSize));
        // Damage late in the file leaves the rows as the buffer last held them. Each row past
        // the damage fails again, and a header may claim rows without end: a failed read
        // costs as much as a row of a thousand pixels.
        if (TIFFReadScanline(tiff, scanline.data(), y, 0) < 0) {
            if (y < length / 3) RaiseError(ERR_CANNOT_HANDLE, messages.LastError());
            CWorkBudget::Charge(kFailedRowUnits);
        }
        uint8_t* row = bitmap.Line(static_cast<int>(y));
        if (depth == 1 || bits == 8) {
            std::memcpy(row, scanline.data(), std::min(rowBytes, static_cast<size_t>(scanlineSize)));
        } else if (unpacker) {
            unpacker->Unpack(row, scanline.data(), width);
        } else {
            for (uint32_t x = 0; x < width; ++x) {
                const size_t bit = static_cast<size_t>(x) * bits;
                const unsigned pair = static_cast<unsigned>(scanline[bit / 8] << 8 | scanline[bit / 8 + 1]);
                row[x] = static_cast<uint8_t>(pair >> (16 - bits - bit % 8) & static_cast<unsigned>(mask));
            }
        }
        source.ReportProgress(static_cast<double>(y + 1) / length);
    }
}

// The first image of the data with its messages. The messages stay where they are: libtiff's
// handlers write to them for the handle's whole life.
struct OpenedTiff {
    TiffMessages messages;
    std::unique_ptr<TIFF, CloseTiff> tiff;
};

// ImageWidth and ImageLength of a classic TIFF's first directory, read by hand (TIFF 6.0,
// section 2): libtiff refuses sizes that overflow its strip arithmetic with messages about
// strips, and only the size fields themselves say what is wrong.
std::optional<std::pair<uint32_t, uint32_t>> FirstDirectorySize(const uint8_t* data, size_t size) {
    if (size < 8 || data[0] != data[1] || (data[0] != 'I' && data[0] != 'M')) return std::nullopt;
    const bool little = data[0] == 'I';
    const auto u16 = [&](size_t at) { return little ? ReadLE16(data + at) : ReadBE16(data + at); };
    const auto u32 = [&](size_t at) { return little ? ReadLE32(data + at) : ReadBE32(data + at); };
    if (u16(2) != 42) return std::nullopt;
    const size_t directory = u32(4);
    if (directory > size - 2) return std::nullopt;
    const size_t entries = std::min<size_t>(u16(directory), (size - directory - 2) / 12);
    std::optional<uint32_t> width, height;
    for (size_t i = 0; i < entries; ++i) {
        const size_t entry = directory + 2 + 12 * i;
        const uint16_t tag = u16(entry), type = u16(entry + 2);
        constexpr uint16_t kShort = 3, kLong = 4;
        if ((tag != TIFFTAG_IMAGEWIDTH && tag != TIFFTAG_IMAGELENGTH) || u32(entry + 4) != 1) continue;
        if (type != kShort && type != kLong) continue;
        const uint32_t value = type == kShort ? u16(entry + 8) : u32(entry + 8);
        (tag == TIFFTAG_IMAGEWIDTH ? width : height) = value;
    }
    if (!width || !height) return std::nullopt;
    return std::pair{*width, *height};
}

void OpenTiff(CByteSource& source, OpenedTiff& opened) {
    std::unique_ptr<TIFFOpenOptions, FreeOptions> options(TIFFOpenOptionsAlloc());
    if (!options) RaiseError(ERR_OUT_OF_MEMORY, "Out of memory opening the TIFF data.");
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), ErrorHandler, &opened.messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), WarningHandler, &opened.messages);
    // No single buffer of libtiff's may exceed what one bitmap may take.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(std::min<uint64_t>(BitmapStorageLimit(), INT64_MAX)));
    opened.tiff.reset(TiffMemoryOpen(source.RemainingData(), source.Available(), options.get()));
    if (opened.tiff) return;
    // A size no picture can have, or one over the storage limit at the fewest bits a pixel
    // is stored in, is told as such rather than as data that is not TIFF.
    if (const auto size = FirstDirectorySize(source.RemainingData(), source.Available())) {
        CheckDimensions(size->first, size->second);
        CheckBitmapStorage(size->first, size->second, 1, PaddedLineBytes(size->first, 1));
    }
    RaiseError(ERR_NOT_THIS_FORMAT, opened.messages.LastError());
}

// Which of the three ways an image is read, as the header and the wanted depth decide.
enum class TiffPath { LowColour, Samples, Inks, FullColour };

TiffPath ChoosePath(TIFF* tiff, const SampleLayout& layout, int depth) {
    const bool lowColour = layout.samples == 1 && layout.bits <= 8 && layout.format == SAMPLEFORMAT_UINT &&
                           (layout.photometric == PHOTOMETRIC_MINISWHITE || layout.photometric == PHOTOMETRIC_MINISBLACK ||
                            layout.photometric == PHOTOMETRIC_PALETTE);
    if (lowColour && depth != 32 && !TIFFIsTiled(tiff)) return TiffPath::LowColour;
    if (NeedsOwnSampleReading(tiff, layout)) return TiffPath::Samples;
    return TiffPath::FullColour;
}

// Four 8-bit CMYK inks side by side in strips, which a profile may convert.
bool InksInStrips(TIFF* tiff, const SampleLayout& l) {
    uint16_t inkSet = INKSET_CMYK;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &inkSet);
    return l.photometric == PHOTOMETRIC_SEPARATED && inkSet == INKSET_CMYK && l.samples == 4 && l.bits == 8 &&
           l.format == SAMPLEFORMAT_UINT && l.planar == PLANARCONFIG_CONTIG && !TIFFIsTiled(tiff);
}

uint16_t StoredOrientation(TIFF* tiff) {
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
    return orientation;
}

// The ICC profile of tag 34675, empty when there is none.
std::vector<uint8_t> IccProfile(TIFF* tiff) {
    uint32_t length = 0;
    const uint8_t* profile = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &length, &profile) != 1 || profile == nullptr) return {};
    return {profile, profile + length};
}

// Pages of the file: the directories libtiff finds on the chain (a chain that loops ends
// where it loops).
int DirectoryCount(TIFF* tiff) {
    const tdir_t count = TIFFNumberOfDirectories(tiff);
    return static_cast<int>(std::clamp<tdir_t>(count, 1, INT_MAX));
}

}  // namespace

CTIFFDecoder::CTIFFDecoder() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        TIFFSetErrorHandler(ProcessErrorHandler);
        TIFFSetWarningHandler(ProcessWarningHandler);
    });
}

void CTIFFDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int& depth, CByteSource& source) {
    OpenedTiff opened;
    OpenTiff(source, opened);
    TIFF* tiff = opened.tiff.get();
    const SampleLayout layout = ReadLayout(tiff);
    ImageMetadata metadata;
    metadata.orientation = StoredOrientation(tiff);
    metadata.iccProfile = IccProfile(tiff);
    metadata.frameCount = DirectoryCount(tiff);
    TiffPath path = ChoosePath(tiff, layout, depth);
    std::unique_ptr<CColourRowConverter> converter;
    if (path == TiffPath::Samples && layout.bits > 8 && (layout.planar == PLANARCONFIG_CONTIG || layout.samples == 1)) {
        const bool alpha = layout.samples > layout.colours;
        converter = CColourRowConverter::ForDecode(
            metadata, layout.colours == 1 ? (alpha ? DecoderSamples::GreyAlpha16 : DecoderSamples::Grey16)
                                          : (alpha ? DecoderSamples::Rgba16 : DecoderSamples::Rgb16));
    } else if (path == TiffPath::FullColour && InksInStrips(tiff, layout)) {
        // Without a profile of their own the inks take the RGBA interface's plain formula.
        converter = CColourRowConverter::ForDecode(metadata, DecoderSamples::Cmyk8);
        if (converter) path = TiffPath::Inks;
    }
    switch (path) {
    case TiffPath::LowColour: DoLoColor(bitmap, depth, tiff, opened.messages, source); break;
    case TiffPath::Samples: DecodeSamples(bitmap, depth, tiff, layout, opened.messages, source, converter.get()); break;
    case TiffPath::Inks: DecodeInks(bitmap, depth, tiff, layout, opened.messages, source, *converter); break;
    case TiffPath::FullColour: DecodeFullColour(bitmap, depth, tiff, opened.messages, source); break;
    }
    bitmap.Metadata() = std::move(metadata);
    if (converter) converter->MarkConverted(bitmap.Metadata());
    source.Skip(source.Available());
}

void CTIFFDecoder::ProbeSource(CByteSource& source, ImageInfo& info) {
    OpenedTiff opened;
    OpenTiff(source, opened);
    TIFF* tiff = opened.tiff.get();
    const SampleLayout layout = ReadLayout(tiff);
    info.bitsPerPixel = layout.bits * layout.samples;
    info.frameCount = DirectoryCount(tiff);
    info.hasColourProfile = !IccProfile(tiff).empty();
    const TiffPath path = ChoosePath(tiff, layout, 0);
    if (path == TiffPath::FullColour) {
        char reason[1024] = {};
        TIFFRGBAImage image{};
        if (!TIFFRGBAImageBegin(&image, tiff, 0, reason))
            RaiseError(ERR_NOT_THIS_FORMAT, reason[0] != '\0' ? std::string(reason) : opened.messages.LastError());
        RgbaImageEnd end(image);
        info.hasAlpha = image.alpha != 0;
    } else {
        info.hasAlpha = path == TiffPath::Samples && layout.samples > layout.colours;
    }
    CheckDimensions(layout.width, layout.height);
    info.width = static_cast<int>(layout.width);
    info.height = static_cast<int>(layout.height);
    info.orientation = StoredOrientation(tiff);
}
