#include "metafile_decoder.h"

#include "jpeg_decoder.h"
#include "metafile/dib.h"
#include "metafile/metafile_renderer.h"
#include "png_decoder.h"

#include "imagelib/byte_source.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr int kDefaultDotsPerInch = 96;
int g_dotsPerInch = 0;

int ScreenDotsPerInch() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const int dpi = static_cast<int>(std::lround(screen->logicalDotsPerInch()));
            if (dpi > 0) return dpi;
        }
    }
    return kDefaultDotsPerInch;
}

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
// little-endian machines this library runs on (CDIBitmap::WrapRows shows its rows the same
// way), so pictures and bitmaps exchange whole rows.
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

// A JPEG or PNG picture a metafile's bitmap carries, through the library's own decoders
// (with their limits and the decode's work budget). A picture that fails once its bitmap
// exists is drawn as far as it decoded (writers have been seen to get the chunks after a
// PNG's image data wrong); one that fails before is left out.
QImage DecodeEmbeddedPicture(std::span<const uint8_t> bytes, bool png) {
    CMemBitmap bitmap;
    try {
        int depth = 32;
        if (png)
            CPNGDecoder().DecodeMemory(bytes.data(), bytes.size(), bitmap, depth);
        else
            CJPEGDecoder().DecodeMemory(bytes.data(), bytes.size(), bitmap, depth);
    } catch (const CTextException&) {
        if (bitmap.Width() <= 0 || bitmap.BitsPerPixel() != 32) return {};
    }
    // The rows follow each other top-down. Both ways copy them out of the bitmap; turning
    // RGB32 into ARGB32 sets every alpha byte, so an opaque picture's are never read.
    const bool alpha = bitmap.HasAlpha();
    const QImage rows(bitmap.Line(0), bitmap.Width(), bitmap.Height(), static_cast<qsizetype>(bitmap.BytesPerLine()),
                      alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    return alpha ? rows.copy() : rows.convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

CMetafileDecoder::CMetafileDecoder() { metafile::LendEmbeddedPictureDecoder(&DecodeEmbeddedPicture); }

void SetMetafileDotsPerInch(int dotsPerInch) { g_dotsPerInch = std::max(dotsPerInch, 0); }

int MetafileDotsPerInch() { return g_dotsPerInch > 0 ? g_dotsPerInch : ScreenDotsPerInch(); }

void CMetafileDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) {
    palette.reset();
    std::string name = source.Name();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const bool enhanced = name.find(".EMF") != std::string::npos;
    const size_t size = source.Available();
    const uint8_t* data = source.Read(size);

    const metafile::RenderedMetafile rendered = metafile::RenderMetafile(
        std::span<const uint8_t>(data, size), enhanced ? metafile::MetafileKind::Emf : metafile::MetafileKind::Wmf,
        MetafileDotsPerInch());

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
