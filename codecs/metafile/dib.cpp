#include "dib.h"

#include "imagelib/decode_context.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"

#include <algorithm>
#include <array>
#include <bit>

namespace metafile {

namespace {

enum Compression : uint32_t {
    kBiRgb = 0,
    kBiRle8 = 1,
    kBiRle4 = 2,
    kBiBitFields = 3,
    kBiJpeg = 4,
    kBiPng = 5,
    kBiAlphaBitFields = 6
};

struct DibHeader {
    int64_t width = 0;
    int64_t height = 0;  // negative: rows stored top-down
    int bitCount = 0;
    uint32_t compression = kBiRgb;
    uint32_t coloursUsed = 0;
    std::array<uint32_t, 4> masks{};  // red, green, blue, alpha
    bool core = false;
    size_t headerSize = 0;
};

// One channel described by a bit mask, scaled to 8 bits.
struct MaskChannel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;
    explicit MaskChannel(uint32_t m) : mask(m) {
        if (m == 0) return;
        shift = std::countr_zero(m);
        max = m >> shift;
    }
    uint8_t operator()(uint32_t v) const {
        if (max == 0) return 0;
        return static_cast<uint8_t>((static_cast<uint64_t>((v & mask) >> shift) * 255 + max / 2) / max);
    }
};

// Reads the header and, behind it, the bit-field masks; leaves the reader at the colour table.
bool ReadHeader(CRecordReader& in, DibHeader& h) {
    const uint32_t size = in.U32();
    h.headerSize = size;
    if (size == 12) {
        h.core = true;
        h.width = in.U16();
        h.height = in.U16();
        in.U16();  // planes
        h.bitCount = in.U16();
        return true;
    }
    if (size < 40) return false;
    h.width = in.I32();
    h.height = in.I32();
    in.U16();  // planes
    h.bitCount = in.U16();
    h.compression = in.U32();
    in.Skip(12);  // image size, densities
    h.coloursUsed = in.U32();
    in.U32();  // important colours
    if (size >= 52) {
        for (int i = 0; i < 3; ++i) h.masks[static_cast<size_t>(i)] = in.U32();
        if (size >= 56) h.masks[3] = in.U32();
        in.Skip(size - std::min<uint32_t>(size, 56));
    } else {
        in.Skip(size - 40);
        if (h.compression == kBiBitFields || h.compression == kBiAlphaBitFields) {
            for (int i = 0; i < 3; ++i) h.masks[static_cast<size_t>(i)] = in.U32();
            if (h.compression == kBiAlphaBitFields) h.masks[3] = in.U32();
        }
    }
    return true;
}

bool Drawable(const DibHeader& h) {
    if (h.width <= 0 || h.height == 0) return false;
    const int64_t rows = h.height < 0 ? -h.height : h.height;
    if (h.width > kMaxDibPixels || rows > kMaxDibPixels / h.width) return false;
    switch (h.compression) {
    case kBiRgb: return h.bitCount == 1 || h.bitCount == 4 || h.bitCount == 8 || h.bitCount == 16 || h.bitCount == 24 ||
                        h.bitCount == 32;
    case kBiRle8: return h.bitCount == 8 && h.height > 0;
    case kBiRle4: return h.bitCount == 4 && h.height > 0;
    case kBiBitFields:
    case kBiAlphaBitFields: return h.bitCount == 16 || h.bitCount == 32;
    case kBiJpeg:
    case kBiPng: return h.bitCount == 0 && ActiveDecodeContext() != nullptr && ActiveDecodeContext()->embeddedPictureDecoder != nullptr;
    default: return false;
    }
}

size_t ColourTableEntries(const DibHeader& h) {
    if (h.compression == kBiJpeg || h.compression == kBiPng) return 0;
    if (h.bitCount > 8) return h.compression == kBiRgb ? h.coloursUsed : 0;
    const size_t full = size_t{1} << h.bitCount;
    return h.coloursUsed == 0 ? full : h.coloursUsed;
}

size_t ColourTableBytes(const DibHeader& h, const DibColourSource& colours) {
    const size_t entries = ColourTableEntries(h);
    if (h.bitCount <= 8 && colours.paletteIndices) return entries * 2;
    return entries * (h.core ? 3 : 4);
}

// 256 colours for indexed pixels; entries the table does not give are black.
std::array<QRgb, 256> ReadColourTable(CRecordReader& in, const DibHeader& h, const DibColourSource& colours) {
    std::array<QRgb, 256> table;
    table.fill(0xFF000000u);
    const size_t entries = ColourTableEntries(h);
    if (h.bitCount > 8) {
        in.Skip(ColourTableBytes(h, colours));
        return table;
    }
    for (size_t i = 0; i < entries; ++i) {
        QRgb colour = 0xFF000000u;
        if (colours.paletteIndices) {
            const uint16_t index = in.U16();
            if (colours.palette != nullptr && index < colours.palette->entries.size())
                colour = colours.palette->entries[index];
        } else {
            const auto bgr = in.Bytes(h.core ? 3 : 4);
            colour = qRgb(bgr[2], bgr[1], bgr[0]);
        }
        if (i < table.size()) table[i] = colour;
    }
    return table;
}

void DecodeRle(CRecordReader& in, const DibHeader& h, const std::array<QRgb, 256>& table, QImage& image) {
    image.fill(Qt::transparent);
    const int width = image.width();
    const int height = image.height();
    int x = 0;
    int row = 0;  // counted from the bottom
    auto put = [&](uint8_t index) {
        if (x < width && row < height) reinterpret_cast<QRgb*>(image.scanLine(height - 1 - row))[x] = table[index];
        ++x;
    };
    const bool four = h.compression == kBiRle4;
    while (in.Remaining() >= 2 && row < height) {
        const uint8_t count = in.U8();
        const uint8_t value = in.U8();
        if (count > 0) {
            for (int i = 0; i < count; ++i) put(four ? ((i & 1) ? value & 0x0F : value >> 4) : value);
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++row;
        } else if (value == 1) {  // end of bitmap
            break;
        } else if (value == 2) {  // delta
            x += in.U8();
            row += in.U8();
        } else {  // absolute run of value pixels, padded to 16 bits
            const size_t bytes = four ? (value + 1u) / 2 : value;
            const auto run = in.Bytes(bytes + (bytes & 1));
            for (int i = 0; i < value; ++i) put(four ? ((i & 1) ? run[static_cast<size_t>(i / 2)] & 0x0F : run[static_cast<size_t>(i / 2)] >> 4)
                                                   : run[static_cast<size_t>(i)]);
        }
    }
}

void DecodeRows(CRecordReader& in, const DibHeader& h, const std::array<QRgb, 256>& table, bool keepAlpha, bool partialRows,
                QImage& image) {
    const int width = image.width();
    int height = image.height();
    const size_t stride = ((static_cast<size_t>(width) * static_cast<size_t>(h.bitCount) + 31) / 32) * 4;
    if (stride != 0 && static_cast<size_t>(height) > in.Remaining() / stride) {
        if (!partialRows) throw CRecordTooShort();
        image.fill(Qt::transparent);
        height = static_cast<int>(in.Remaining() / stride);
    }
    std::array<uint32_t, 4> masks = h.masks;
    if (h.compression == kBiRgb && h.bitCount == 16) masks = {0x7C00, 0x03E0, 0x001F, 0};
    if (h.compression == kBiRgb && h.bitCount == 32) masks = {0xFF0000, 0xFF00, 0xFF, keepAlpha ? 0xFF000000u : 0};
    const MaskChannel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);
    for (int r = 0; r < height; ++r) {
        const uint8_t* src = in.Bytes(stride).data();
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(h.height < 0 ? r : image.height() - 1 - r));
        for (int x = 0; x < width; ++x) {
            const auto ux = static_cast<size_t>(x);
            switch (h.bitCount) {
            case 1: out[x] = table[(src[ux / 8] >> (7 - ux % 8)) & 1]; break;
            case 4: out[x] = table[(src[ux / 2] >> (ux % 2 ? 0 : 4)) & 0x0F]; break;
            case 8: out[x] = table[src[ux]]; break;
            case 24: out[x] = qRgb(src[3 * ux + 2], src[3 * ux + 1], src[3 * ux]); break;
            default: {
                const uint32_t v = h.bitCount == 16 ? static_cast<uint32_t>(src[2 * ux] | (src[2 * ux + 1] << 8))
                                                    : static_cast<uint32_t>(src[4 * ux]) | (static_cast<uint32_t>(src[4 * ux + 1]) << 8) |
                                                          (static_cast<uint32_t>(src[4 * ux + 2]) << 16) |
                                                          (static_cast<uint32_t>(src[4 * ux + 3]) << 24);
                out[x] = qRgba(red(v), green(v), blue(v), masks[3] != 0 ? alpha(v) : 255);
            }
            }
        }
    }
}

// The picture is kept only when it decodes. Source rectangles count its rows as the
// header's height says, as for any other bitmap.
DibImage DecodeEmbedded(const CRecordReader& bits, const DibHeader& h) {
    QImage picture = DecodeEmbeddedPicture(bits.Data(), h.compression == kBiPng ? ImageFormat::PNG : ImageFormat::JPEG);
    if (picture.isNull()) return {};
    const QSize size(static_cast<int>(h.width), static_cast<int>(h.height < 0 ? -h.height : h.height));
    if (picture.size() != size) picture = picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    DibImage result;
    result.image = picture.convertToFormat(QImage::Format_ARGB32);
    result.bottomUp = h.height > 0;
    return result;
}

DibImage Decode(CRecordReader& header, CRecordReader& bits, const DibColourSource& colours, bool keepAlpha,
                bool partialRows, const DibHeader& h) {
    if (h.compression == kBiJpeg || h.compression == kBiPng) return DecodeEmbedded(bits, h);
    DibImage result;
    const auto table = ReadColourTable(header, h, colours);
    const int width = static_cast<int>(h.width);
    const int height = static_cast<int>(h.height < 0 ? -h.height : h.height);
    const bool premultiplied = keepAlpha && h.bitCount == 32;
    QImage image(width, height, premultiplied ? QImage::Format_ARGB32_Premultiplied : QImage::Format_ARGB32);
    if (image.isNull()) return result;
    if (h.compression == kBiRle8 || h.compression == kBiRle4)
        DecodeRle(bits, h, table, image);
    else
        DecodeRows(bits, h, table, keepAlpha, partialRows, image);
    result.image = std::move(image);
    result.bottomUp = h.height > 0;
    return result;
}

}  // namespace

DibImage DecodeDib(CRecordReader header, CRecordReader bits, const DibColourSource& colours, bool keepAlpha,
                   bool partialRows) {
    try {
        DibHeader h;
        if (!ReadHeader(header, h) || !Drawable(h)) return {};
        return Decode(header, bits, colours, keepAlpha, partialRows, h);
    } catch (const CRecordTooShort&) {
        return {};
    }
}

DibImage DecodePackedDib(CRecordReader packed, const DibColourSource& colours) {
    try {
        DibHeader h;
        if (!ReadHeader(packed, h) || !Drawable(h)) return {};
        const size_t pixelsAt = packed.Position() + ColourTableBytes(h, colours);
        CRecordReader bits = packed.At(pixelsAt, packed.Size() - std::min(pixelsAt, packed.Size()));
        return Decode(packed, bits, colours, false, false, h);
    } catch (const CRecordTooShort&) {
        return {};
    }
}

// The bitmap's blue, green, red and alpha bytes are Qt's 32-bit pixel words on the
// little-endian machines this library runs on (CDIBitmap::WrapRows shows its rows the same
// way), so pictures and bitmaps exchange whole rows.
static_assert(std::endian::native == std::endian::little && sizeof(BGRA) == sizeof(QRgb));

QImage DecodeEmbeddedPicture(std::span<const uint8_t> bytes, ImageFormat format) {
    const CDecodeContext* context = ActiveDecodeContext();
    if (context == nullptr || context->embeddedPictureDecoder == nullptr) return {};
    CMemBitmap bitmap;
    try {
        context->embeddedPictureDecoder(bytes, format, bitmap);
    } catch (const CTextException& e) {
        if (e.Code() == ERR_CANCELLED) throw;
        if (bitmap.Width() <= 0 || bitmap.BitsPerPixel() != 32) return {};
    }
    // The rows follow each other top-down. Both ways copy them out of the bitmap; turning
    // RGB32 into ARGB32 sets every alpha byte, so an opaque picture's are never read.
    const bool alpha = bitmap.HasAlpha();
    const QImage rows(bitmap.Line(0), bitmap.Width(), bitmap.Height(), static_cast<qsizetype>(bitmap.BytesPerLine()),
                      alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    return alpha ? rows.copy() : rows.convertToFormat(QImage::Format_ARGB32);
}

QRectF TopDownSource(const DibImage& dib, QRectF source) {
    if (!dib.bottomUp) return source;
    return QRectF(source.x(), dib.image.height() - source.y() - source.height(), source.width(), source.height());
}

QImage RecolourMonochrome(const QImage& monochrome, QColor zero, QColor one) {
    QImage image = monochrome.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(row[x]) == 0) continue;
            row[x] = qGray(row[x]) >= 128 ? one.rgba() : zero.rgba();
        }
    }
    return image;
}

}  // namespace metafile
