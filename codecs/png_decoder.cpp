#include "png_decoder.h"

#include "longjmp_guard.h"

#include "imagelib/byte_source.h"
#include "imagelib/colour_management.h"
#include "imagelib/exif_orientation.h"
#include "imagelib/image_bitmap.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "imagelib/work_budget.h"

#include <png.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <span>
#include <vector>

namespace {

// libpng allocates a chunk's data as its header claims, before reading it. No chunk holds
// more than the data left, and libpng's own buffers stay below 8 MB (a row of a million
// 16-bit RGBA pixels); 16 MB leaves room for text and profiles that expand. A larger
// request comes from a lying header: refused, libpng drops an ancillary chunk or fails.
constexpr size_t kAllocationFloor = 16 << 20;

// What libpng's callbacks hand back to the decoder's frames.
struct PngContext {
    CByteSource* source = nullptr;
    size_t largestAllocation = kAllocationFloor;
    std::jmp_buf jump;
    char message[256] = {};
    std::exception_ptr pending;  // the data source's own failure (running out of data)
};

[[noreturn]] void ErrorRoutine(png_structp png, png_const_charp message) noexcept {
    auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
    std::snprintf(context->message, sizeof context->message, "%s", message);
    std::longjmp(context->jump, 1);
}

void WarningRoutine(png_structp, png_const_charp) noexcept {}

png_voidp Allocate(png_structp png, png_alloc_size_t size) noexcept {
    const auto* context = static_cast<const PngContext*>(png_get_mem_ptr(png));
    return size <= context->largestAllocation ? std::malloc(size) : nullptr;
}

void Free(png_structp, png_voidp block) noexcept { std::free(block); }

void ReadRoutine(png_structp png, png_bytep out, size_t count) noexcept {
    auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
    const uint8_t* bytes = nullptr;
    bool failed = false;
    try {
        bytes = context->source->Read(count);
    } catch (...) {
        context->pending = std::current_exception();
        failed = true;
    }
    // libpng's way out of a read routine is its error routine; the pending failure wins.
    if (failed) png_error(png, "Read error");
    std::memcpy(out, bytes, count);
}

[[noreturn]] void Fail(PngContext& context) {
    if (context.pending) std::rethrow_exception(context.pending);
    RaiseError(ERR_BAD_DATA, context.message);
}

// Owns libpng's read and info structures for one decode, whichever way it ends.
struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;

    PngReader() = default;
    ~PngReader() {
        if (png != nullptr) png_destroy_read_struct(&png, &info, nullptr);
    }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;
};

// Palette of an 8-bit greyscale bitmap: a ramp over the levels of bits (1, 2, 4 or 8).
void LoadGreyRamp(CImageBitmap& bitmap, int bits) {
    const int levels = 1 << bits;
    for (int i = 0; i < levels; ++i) {
        const auto v = static_cast<uint8_t>(i * 255 / (levels - 1));
        bitmap.Palette()[i] = BGRA{v, v, v, 255};
    }
}

void RgbRowToBgra(BGRA* out, const uint8_t* in, int width) noexcept {
    for (int x = 0; x < width; ++x, in += 3) out[x] = BGRA{in[2], in[1], in[0], 255};
}

// Returns the AND of the row's alpha bytes: 255 when every pixel of the row is opaque.
// Four pixels at a time as 32-bit words (red and blue swap places), in fixed blocks the
// compiler turns into vector code.
uint8_t RgbaRowToBgra(BGRA* out, const uint8_t* in, int width) noexcept {
    int x = 0;
    uint8_t opaque = 255;
    if constexpr (std::endian::native == std::endian::little) {
        uint32_t all[4] = {~0u, ~0u, ~0u, ~0u};
        for (; x + 4 <= width; x += 4, in += 16) {
            uint32_t words[4];
            std::memcpy(words, in, sizeof words);
            for (int k = 0; k < 4; ++k) {
                all[k] &= words[k];
                words[k] = (words[k] & 0xFF00FF00u) | ((words[k] >> 16) & 0xFFu) | ((words[k] & 0xFFu) << 16);
            }
            std::memcpy(out + x, words, sizeof words);
        }
        opaque = static_cast<uint8_t>((all[0] & all[1] & all[2] & all[3]) >> 24);
    }
    for (; x < width; ++x, in += 4) {
        out[x] = BGRA{in[2], in[1], in[0], in[3]};
        opaque &= in[3];
    }
    return opaque;
}

uint8_t AlphaAnd(const BGRA* row, int width) noexcept {
    uint8_t opaque = 255;
    for (int x = 0; x < width; ++x) opaque &= row[x].a;
    return opaque;
}

// Reads 16-bit rows (in the machine's byte order) and converts them into the bitmap's rows.
// An interlaced picture's rows are whole only after the last pass, so its samples are kept
// for the whole picture meanwhile; a plain one needs one row.
void ReadConverted(PngReader& reader, PngContext& context, CImageBitmap& bitmap, CColourRowConverter& converter,
                   size_t rowBytes, int passes, bool alpha) {
    const auto width = static_cast<size_t>(bitmap.Width());
    const auto height = static_cast<size_t>(bitmap.Height());
    const size_t keptRows = passes > 1 ? height : 1;
    if (static_cast<uint64_t>(rowBytes) * keptRows > BitmapStorageLimit())
        RaiseError(ERR_OUT_OF_MEMORY, "PNG decoder: the interlaced 16-bit samples would exceed the storage limit.");
    std::vector<uint16_t> samples(rowBytes / 2 * keptRows);
    uint8_t opaque = 255;
    if (!RunGuarded(context.jump, [&] {
            for (int pass = 0; pass < passes; ++pass)
                for (size_t y = 0; y < height; ++y) {
                    CWorkBudget::ChargeRow(rowBytes);
                    uint16_t* row = samples.data() + (passes > 1 ? y * rowBytes / 2 : 0);
                    png_read_row(reader.png, reinterpret_cast<png_bytep>(row), nullptr);
                    if (pass != passes - 1) continue;
                    BGRA* out = bitmap.PixelLine(static_cast<int>(y));
                    converter.Convert(row, out, width);
                    if (alpha) opaque &= AlphaAnd(out, static_cast<int>(width));
                }
            png_read_end(reader.png, nullptr);
        }))
        Fail(context);
    converter.MarkConverted(bitmap.Metadata());
    bitmap.SetHasAlpha(alpha && opaque != 255);
}

// The header as libpng reads it.
struct PngHeader {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colourType = 0;
    int interlace = 0;
    int channels = 0;
};

// Makes libpng's structures over the source and reads the chunks before the image data.
PngHeader ReadHeader(PngReader& reader, PngContext& context, CByteSource& source) {
    context.source = &source;
    context.largestAllocation = std::max(kAllocationFloor, source.Available());
    if (!RunGuarded(context.jump, [&] {
            reader.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &context, ErrorRoutine, WarningRoutine,
                                                  &context, Allocate, Free);
            if (reader.png != nullptr) reader.info = png_create_info_struct(reader.png);
        }))
        Fail(context);
    if (reader.info == nullptr) RaiseError(ERR_OUT_OF_MEMORY, "Out of memory creating the PNG reader.");
    PngHeader h;
    if (!RunGuarded(context.jump, [&] {
            png_set_read_fn(reader.png, &context, ReadRoutine);
            // libpng's own cap of a million pixels a side would refuse honest panoramas as
            // damaged; the storage limit decides what is too large, as for every format.
            png_set_user_limits(reader.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
            png_read_info(reader.png, reader.info);
            png_get_IHDR(reader.png, reader.info, &h.width, &h.height, &h.bitDepth, &h.colourType, &h.interlace,
                         nullptr, nullptr);
            h.channels = png_get_channels(reader.png, reader.info);
        }))
        Fail(context);
    return h;
}

// What the chunks before the image data say besides the pixels. Chunks after the image
// data are not read: a probe, which stops at the image data, learns the same.
ImageMetadata ReadMetadata(png_structp png, png_infop info) {
    ImageMetadata metadata;
    png_uint_32 exifLength = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(png, info, &exifLength, &exif) != 0 && exif != nullptr)
        metadata.orientation = ReadExifOrientation(std::span<const uint8_t>(exif, exifLength));
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileLength = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &profileLength) != 0 && profile != nullptr)
        metadata.iccProfile.assign(profile, profile + profileLength);
    PngColourChunks& colour = metadata.pngColour;
    colour.hasGamma = png_get_gAMA(png, info, &colour.gamma) != 0;
    colour.hasChromaticities = png_get_cHRM(png, info, &colour.whiteX, &colour.whiteY, &colour.redX, &colour.redY,
                                            &colour.greenX, &colour.greenY, &colour.blueX, &colour.blueY) != 0;
    int intent = 0;
    colour.srgb = png_get_sRGB(png, info, &intent) != 0;
    if (colour.srgb) colour.srgbIntent = intent;
    return metadata;
}

}  // namespace

void CPNGDecoder::ProbeSource(CByteSource& source, ImageInfo& info) {
    PngContext context;
    PngReader reader;
    const PngHeader h = ReadHeader(reader, context, source);
    const ImageMetadata metadata = ReadMetadata(reader.png, reader.info);
    info.width = static_cast<int>(h.width);
    info.height = static_cast<int>(h.height);
    info.bitsPerPixel = h.bitDepth * h.channels;
    info.hasAlpha = (h.colourType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(reader.png, reader.info, PNG_INFO_tRNS) != 0;
    info.frameCount = 1;
    info.orientation = metadata.orientation;
    info.hasColourProfile = !metadata.iccProfile.empty();
}

void CPNGDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int& depth, CByteSource& source) {
    PngContext context;
    PngReader reader;
    const PngHeader h = ReadHeader(reader, context, source);
    png_structp png = reader.png;
    png_infop info = reader.info;
    const png_uint_32 width = h.width, height = h.height;
    const int bitDepth = h.bitDepth, colourType = h.colourType;
    const ImageMetadata metadata = ReadMetadata(png, info);

    // Only greyscale and palette images fit 8 bits; the rest always take 32. Palette images
    // are read as indices, which are checked against the palette, and expanded here.
    const bool palette = colourType == PNG_COLOR_TYPE_PALETTE;
    depth = (palette || colourType == PNG_COLOR_TYPE_GRAY) && depth != 32 ? 8 : 32;
    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    const bool alpha = depth == 32 && ((colourType & PNG_COLOR_MASK_ALPHA) != 0 || transparency);
    const bool expandPalette = palette && depth == 32;
    // Plain 8-bit RGB and RGBA rows, the commonest PNGs, are taken from libpng as the file
    // holds them and turned into BGRA in one pass; libpng's swap and filler transforms would
    // take a pass each and a copy after them.
    const bool directRgb = depth == 32 && bitDepth == 8 && h.interlace == PNG_INTERLACE_NONE &&
                           (colourType == PNG_COLOR_TYPE_RGB_ALPHA || (colourType == PNG_COLOR_TYPE_RGB && !transparency));
    const size_t fileChannels = colourType == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 3;
    // 16-bit samples whose colours are to be converted go to LittleCMS whole, which makes
    // 8-bit pixels of them: dark tones through a steep tone curve keep their levels apart.
    const bool grey = (colourType & PNG_COLOR_MASK_COLOR) == 0;
    std::unique_ptr<CColourRowConverter> converter;
    if (depth == 32 && bitDepth == 16)
        converter = CColourRowConverter::ForDecode(metadata, grey ? (alpha ? DecoderSamples::GreyAlpha16 : DecoderSamples::Grey16)
                                                                  : (alpha ? DecoderSamples::Rgba16 : DecoderSamples::Rgb16));
    const size_t wideChannels = (grey ? 1 : 3) + (alpha ? 1 : 0);
    size_t rowBytes = 0;
    int passes = 1;
    if (!RunGuarded(context.jump, [&] {
            // 16-bit samples not converted here are reduced to the nearest 8-bit level,
            // (v * 255 + 32767) / 65535.
            if (bitDepth == 16 && !converter) png_set_scale_16(png);
            if (converter) {
                png_set_expand(png);  // tRNS to alpha
                if constexpr (std::endian::native == std::endian::little) png_set_swap(png);
            } else if (depth == 32 && !palette && !directRgb) {
                png_set_expand(png);  // low grey depths to 8 bits, tRNS to alpha
                if ((colourType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
                png_set_bgr(png);
                if (!alpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
            } else if (bitDepth < 8) {
                png_set_packing(png);
            }
            passes = png_set_interlace_handling(png);
            png_read_update_info(png, info);
            rowBytes = png_get_rowbytes(png, info);
        }))
        Fail(context);
    const size_t pixelBytes = converter ? 2 * wideChannels : directRgb ? fileChannels : expandPalette ? 1 : static_cast<size_t>(depth / 8);
    if (rowBytes != static_cast<size_t>(width) * pixelBytes)
        RaiseError(ERR_CANNOT_HANDLE, "PNG decoder: libpng's rows do not fit the bitmap.");

    bitmap.Create(static_cast<int>(width), static_cast<int>(height), depth, alpha);
    bitmap.Metadata() = metadata;
    BGRA colours[256] = {};
    int paletteEntries = 0;
    if (palette) {
        png_colorp entries = nullptr;
        png_get_PLTE(png, info, &entries, &paletteEntries);
        png_bytep alphas = nullptr;
        int alphaEntries = 0;
        if (transparency) png_get_tRNS(png, info, &alphas, &alphaEntries, nullptr);
        for (int i = 0; i < paletteEntries; ++i) {
            colours[i] = OpaqueColour(entries[i].red, entries[i].green, entries[i].blue);
            if (i < alphaEntries) colours[i].a = alphas[i];
        }
        // An 8-bit bitmap has no alpha: its palette stays opaque.
        if (depth == 8)
            for (int i = 0; i < paletteEntries; ++i) bitmap.Palette()[i] = BGRA{colours[i].b, colours[i].g, colours[i].r, 255};
    } else if (depth == 8) {
        LoadGreyRamp(bitmap, std::min(bitDepth, 8));
    }

    // The AND of every alpha byte, gathered while the rows are converted: the picture has
    // alpha only if some pixel is not opaque.
    uint8_t opaque = 255;
    CBitmapLock lock(bitmap, false, true);
    if (converter) {
        ReadConverted(reader, context, bitmap, *converter, rowBytes, passes, alpha);
        return;
    }
    if (directRgb) {
        std::vector<uint8_t> row(rowBytes);
        if (!RunGuarded(context.jump, [&] {
                for (png_uint_32 y = 0; y < height; ++y) {
                    CWorkBudget::ChargeRow(rowBytes);
                    png_read_row(png, row.data(), nullptr);
                    BGRA* out = bitmap.PixelLine(static_cast<int>(y));
                    if (fileChannels == 3)
                        RgbRowToBgra(out, row.data(), static_cast<int>(width));
                    else
                        opaque &= RgbaRowToBgra(out, row.data(), static_cast<int>(width));
                }
                png_read_end(png, nullptr);
            }))
            Fail(context);
        bitmap.SetHasAlpha(alpha && opaque != 255);
        return;
    }
    std::vector<uint8_t> indices(expandPalette ? static_cast<size_t>(width) * height : 0);
    std::vector<png_bytep> rows(bitmap.Lines(), bitmap.Lines() + bitmap.Height());
    if (expandPalette)
        for (png_uint_32 y = 0; y < height; ++y) rows[y] = indices.data() + static_cast<size_t>(y) * width;
    const bool alphaRows = alpha && !expandPalette;
    if (!RunGuarded(context.jump, [&] {
            // With libpng's interlace handling every pass visits every row, and each row is
            // whole once the last pass has visited it.
            for (int pass = 0; pass < passes; ++pass)
                for (png_uint_32 y = 0; y < height; ++y) {
                    CWorkBudget::ChargeRow(rowBytes);
                    png_read_row(png, rows[y], nullptr);
                    if (alphaRows && pass == passes - 1)
                        opaque &= AlphaAnd(reinterpret_cast<const BGRA*>(rows[y]), static_cast<int>(width));
                }
            png_read_end(png, nullptr);
        }))
        Fail(context);
    if (palette) {
        for (png_bytep row : rows)
            if (*std::max_element(row, row + width) >= paletteEntries)
                RaiseError(ERR_BAD_DATA, "PNG decoder: a pixel refers to a colour beyond the palette.");
        if (expandPalette)
            for (png_uint_32 y = 0; y < height; ++y) {
                BGRA* out = bitmap.PixelLine(static_cast<int>(y));
                ExpandRow8(out, rows[y], static_cast<int>(width), colours);
                opaque &= AlphaAnd(out, static_cast<int>(width));
            }
    }
    bitmap.SetHasAlpha(alpha && opaque != 255);
}
