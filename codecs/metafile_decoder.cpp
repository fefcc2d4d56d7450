#include "metafile_decoder.h"

#include "jpeg_decoder.h"
#include "metafile/dib.h"
#include "metafile/metafile_renderer.h"
#include "png_decoder.h"

#include "metafile/metafile_header.h"

#include "imagelib/byte_order.h"
#include "imagelib/byte_source.h"
#include "imagelib/decode_context.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr uint32_t kEmfHeaderRecord = 1;
constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"

// The palette entry nearest to a colour: smallest squared distance over red, green and
// blue, the first entry winning ties.
uint8_t NearestEntry(QRgb colour, const std::vector<QRgb>& palette) {
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (size_t i = 0; i < palette.size(); ++i) {
        const int dr = qRed(colour) - qRed(palette[i]);
        const int dg = qGreen(colour) - qGreen(palette[i]);
        const int db = qBlue(colour) - qBlue(palette[i]);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<int>(i);
        }
    }
    return static_cast<uint8_t>(best);
}

// The bitmap's blue, green, red and alpha bytes are Qt's 32-bit pixel words on the
// little-endian machines this library runs on, so pictures and bitmaps exchange whole rows.
static_assert(std::endian::native == std::endian::little && sizeof(BGRA) == sizeof(QRgb));
// The picture is opaque RGB32 (0xFFRRGGBB words; the player keeps alpha at 0xFF wherever it
// writes pixels itself).
void CopyTrueColour(const QImage& picture, CImageBitmap& bitmap) {
    const int width = picture.width();
    const int height = picture.height();
    bitmap.Create(width, height, 32, false);
    CBitmapLock lock(bitmap, false, true);
    for (int y = 0; y < height; ++y)
        std::memcpy(static_cast<void*>(bitmap.PixelLine(y)), picture.constScanLine(y), static_cast<size_t>(width) * sizeof(QRgb));
}

void CopyWithPalette(const QImage& picture, const std::vector<QRgb>& colours, CImageBitmap& bitmap, PaletteHolder& palette) {
    palette = std::make_unique<BGRA[]>(256);
    for (size_t i = 0; i < 256; ++i)
        palette[i] = i < colours.size() ? OpaqueColour(qRed(colours[i]), qGreen(colours[i]), qBlue(colours[i])) : BGRA{0, 0, 0, 255};
    bitmap.Create(picture.width(), picture.height(), 8, false);
    bitmap.LoadPalette(palette.get());
    CBitmapLock lock(bitmap, false, true);
    QRgb last = 0;
    uint8_t lastIndex = NearestEntry(last, colours);
    for (int y = 0; y < picture.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        uint8_t* out = bitmap.Line(y);
        for (int x = 0; x < picture.width(); ++x) {
            if (in[x] != last) {
                last = in[x];
                lastIndex = NearestEntry(last, colours);
            }
            out[x] = lastIndex;
        }
    }
}

// The library's own decoders for pictures inside bitmap records, with the decode's limits
// and work budget.
void DecodeEmbeddedPicture(std::span<const uint8_t> bytes, ImageFormat format, CImageBitmap& bitmap) {
    if (format == ImageFormat::PNG)
        CPNGDecoder().DecodeMemory(bytes.data(), bytes.size(), bitmap, 32);
    else if (format == ImageFormat::JPEG)
        CJPEGDecoder().DecodeMemory(bytes.data(), bytes.size(), bitmap, 32);
}

}  // namespace

bool IsEnhancedMetafile(const uint8_t* header, size_t size) {
    return size >= 44 && ReadLE32(header) == kEmfHeaderRecord && ReadLE32(header + 40) == kEmfSignature;
}

bool IsPlaceableMetafile(const uint8_t* header, size_t size) {
    return size >= 4 && ReadLE32(header) == metafile::kPlaceableKey;
}

void SetMetafileDotsPerInch(int dotsPerInch) { SetDefaultDotsPerInch(dotsPerInch); }

int MetafileDotsPerInch() { return DefaultDotsPerInch(); }

void CMetafileDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) {
    palette.reset();
    const size_t size = source.Available();
    const uint8_t* data = source.Read(size);
    const bool enhanced = IsEnhancedMetafile(data, size);

    // Pictures inside bitmap records go to the library's own decoders unless the caller
    // gave others; the copy shares the caller's cancel flag.
    const CDecodeContext outer = ActiveDecodeContext() != nullptr ? *ActiveDecodeContext() : CDecodeContext();
    CDecodeContext withPictures = outer;
    if (withPictures.embeddedPictureDecoder == nullptr) withPictures.embeddedPictureDecoder = &DecodeEmbeddedPicture;
    CDecodeScope scope(&withPictures);
    const auto kind = enhanced ? metafile::MetafileKind::Emf : metafile::MetafileKind::Wmf;
    const std::span<const uint8_t> bytes(data, size);
    // Pictures inside may take four times the metafile's own picture, and 64 MiB besides so
    // that a small drawing may still carry a photograph.
    const metafile::MetafileMeasure measure = metafile::MeasureMetafile(bytes, kind, outer.dotsPerInch);
    const metafile::EmbeddedPictureBudget budget(4 * 4 * static_cast<uint64_t>(std::max(measure.width, 0)) *
                                                     static_cast<uint64_t>(std::max(measure.height, 0)) +
                                                 (uint64_t{64} << 20));
    const metafile::RenderedMetafile rendered = metafile::RenderMetafile(bytes, kind, outer.dotsPerInch);

    const bool withPalette = !rendered.palette.empty() && rendered.palette.size() < 256;
    if (depth == 0) depth = withPalette ? 8 : 32;
    if (depth == 8 && withPalette) {
        CopyWithPalette(rendered.picture, rendered.palette, bitmap, palette);
    } else if (depth == 32) {
        CopyTrueColour(rendered.picture, bitmap);
    } else {
        CMemBitmap full;
        CopyTrueColour(rendered.picture, full);
        bitmap.CopyFrom(full, depth);
    }
    if (!rendered.outcome.complete)
        RaiseError(ERR_BAD_DATA, FormatText("The metafile is damaged: %s.", rendered.outcome.damage.c_str()));
}

void CMetafileDecoder::ProbeSource(CByteSource& source, ImageInfo& info) {
    const size_t size = source.Available();
    const uint8_t* data = source.Read(size);
    const bool enhanced = IsEnhancedMetafile(data, size);
    const int dotsPerInch = ActiveDecodeContext() != nullptr ? ActiveDecodeContext()->dotsPerInch : CDecodeContext().dotsPerInch;
    const metafile::MetafileMeasure measure = metafile::MeasureMetafile(
        std::span<const uint8_t>(data, size), enhanced ? metafile::MetafileKind::Emf : metafile::MetafileKind::Wmf, dotsPerInch);
    info.width = measure.width;
    info.height = measure.height;
    // The depth a decode at depth 0 chooses.
    info.bitsPerPixel = !measure.palette.empty() && measure.palette.size() < 256 ? 8 : 32;
}
