#include "dib.h"

#include "imagelib/byte_order.h"
#include "imagelib/decode_context.h"
#include "imagelib/dib_format.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

namespace metafile {

namespace {

// Pixels are decoded as the library's BGRA, which is Qt's 32-bit pixel word on the
// little-endian machines this player runs on, straight into the image's rows.
static_assert(std::endian::native == std::endian::little && sizeof(BGRA) == sizeof(QRgb));

BGRA* Row(QImage& image, int y) { return reinterpret_cast<BGRA*>(image.scanLine(y)); }

// Reads the header and, behind it, the bit-field masks; leaves the reader at the colour table.
bool ReadHeader(CRecordReader& in, DibInfoHeader& h) {
    const size_t start = in.Position();
    const uint32_t size = in.U32();
    if (size != kDibCoreHeaderSize && size < kDibInfoHeaderSize) return false;
    in.Seek(start);
    h = ParseDibInfoHeader(in.Bytes(size));
    if (const size_t maskBytes = DibMaskBytesAfterHeader(h); maskBytes != 0)
        ReadDibMasksAfterHeader(in.Bytes(maskBytes), h);
    return true;
}

bool Drawable(const DibInfoHeader& h) {
    if (h.width <= 0 || h.height == 0) return false;
    const int64_t rows = h.Rows();
    if (h.width > kMaxDibPixels || rows > kMaxDibPixels / h.width) return false;
    const int bits = h.bitsPerPixel;
    switch (h.compression) {
    case kDibRgb: return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    case kDibRle8: return bits == 8 && h.height > 0;
    case kDibRle4: return bits == 4 && h.height > 0;
    case kDibBitFields:
    case kDibAlphaBitFields: return bits == 16 || bits == 32;
    case kDibJpeg:
    case kDibPng: return bits == 0 && ActiveDecodeContext() != nullptr && ActiveDecodeContext()->embeddedPictureDecoder != nullptr;
    default: return false;
    }
}

size_t ColourTableBytes(const DibInfoHeader& h, const DibColourSource& colours) {
    const uint64_t entries = DibColourTableEntries(h);
    if (h.bitsPerPixel <= 8 && colours.paletteIndices) return entries * 2;
    return entries * DibColourEntrySize(h);
}

// 256 colours for indexed pixels; entries the table does not give are black.
std::array<BGRA, 256> ReadColourTable(CRecordReader& in, const DibInfoHeader& h, const DibColourSource& colours) {
    std::array<BGRA, 256> table;
    const auto bytes = in.Bytes(ColourTableBytes(h, colours));
    if (h.bitsPerPixel <= 8 && colours.paletteIndices) {
        table.fill(BGRA{0, 0, 0, 255});
        for (size_t i = 0; i < std::min(bytes.size() / 2, table.size()); ++i) {
            const uint16_t index = ReadLE16(bytes.data() + 2 * i);
            if (colours.palette != nullptr && index < colours.palette->entries.size())
                table[i] = std::bit_cast<BGRA>(colours.palette->entries[index]);
        }
    } else {
        ReadDibColourTable(h.bitsPerPixel <= 8 ? bytes : bytes.first(0), DibColourEntrySize(h), table);
    }
    return table;
}

void DecodeRle(CRecordReader& in, const DibInfoHeader& h, const std::array<BGRA, 256>& table, QImage& image) {
    image.fill(Qt::transparent);
    const int height = image.height();
    const DibRunLengthResult result = DecodeDibRunLength(
        in.Data().subspan(in.Position()), h.bitsPerPixel, image.width(), height, DibRunCheck::Clip,
        [&](int row, int x, std::span<const uint8_t> indices) {
            BGRA* out = Row(image, height - 1 - row) + x;
            for (size_t i = 0; i < indices.size(); ++i) out[i] = table[indices[i]];
        });
    if (result.end == DibRunEnd::DataCut) throw CRecordTooShort();
}

void DecodeRows(CRecordReader& in, const DibInfoHeader& h, const std::array<BGRA, 256>& table, bool keepAlpha,
                bool partialRows, QImage& image) {
    const int width = image.width();
    int height = image.height();
    const size_t stride = PaddedLineBytes(int64_t{width} * h.bitsPerPixel, 1);
    if (stride != 0 && static_cast<size_t>(height) > in.Remaining() / stride) {
        if (!partialRows) throw CRecordTooShort();
        image.fill(Qt::transparent);
        height = static_cast<int>(in.Remaining() / stride);
    }
    std::array<uint32_t, 4> masks = DibPixelMasks(h);
    if (h.compression == kDibRgb && !keepAlpha) masks[3] = 0;
    const DibBitFields fields(masks, h.bitsPerPixel);
    std::vector<uint8_t> indices(h.bitsPerPixel <= 8 ? static_cast<size_t>(width) : 0);
    for (int r = 0; r < height; ++r) {
        const uint8_t* src = in.Bytes(stride).data();
        BGRA* out = Row(image, h.TopDown() ? r : image.height() - 1 - r);
        if (h.bitsPerPixel <= 8) {
            UnpackDibIndices(src, h.bitsPerPixel, width, indices.data());
            for (int x = 0; x < width; ++x) out[x] = table[indices[static_cast<size_t>(x)]];
        } else if (h.bitsPerPixel == 24) {
            ConvertDibRow24(src, width, out);
        } else {
            fields.ConvertRow(src, width, out);
        }
    }
}

// The picture is kept only when it decodes. Source rectangles count its rows as the
// header's height says, as for any other bitmap.
DibImage DecodeEmbedded(const CRecordReader& bits, const DibInfoHeader& h) {
    const QSize size(static_cast<int>(h.width), static_cast<int>(h.Rows()));
    QImage picture = DecodeEmbeddedPicture(bits.Data(), h.compression == kDibPng ? ImageFormat::PNG : ImageFormat::JPEG, size);
    if (picture.isNull()) return {};
    if (picture.size() != size) {
        if (EmbeddedPictureBudget* budget = EmbeddedPictureBudget::Active())
            budget->Charge(static_cast<uint64_t>(size.width()) * static_cast<uint64_t>(size.height()) * 4);
        picture = picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    DibImage result;
    result.image = picture.convertToFormat(QImage::Format_ARGB32);
    result.bottomUp = h.height > 0;
    return result;
}

DibImage Decode(CRecordReader& header, CRecordReader& bits, const DibColourSource& colours, bool keepAlpha,
                bool partialRows, const DibInfoHeader& h) {
    if (h.EmbeddedPicture()) return DecodeEmbedded(bits, h);
    DibImage result;
    const auto table = ReadColourTable(header, h, colours);
    const int width = static_cast<int>(h.width);
    const int height = static_cast<int>(h.Rows());
    const bool premultiplied = keepAlpha && h.bitsPerPixel == 32;
    QImage image(width, height, premultiplied ? QImage::Format_ARGB32_Premultiplied : QImage::Format_ARGB32);
    if (image.isNull()) return result;
    if (h.RunLength())
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
        DibInfoHeader h;
        if (!ReadHeader(header, h) || !Drawable(h)) return {};
        return Decode(header, bits, colours, keepAlpha, partialRows, h);
    } catch (const CRecordTooShort&) {
        return {};
    }
}

DibImage DecodePackedDib(CRecordReader packed, const DibColourSource& colours) {
    try {
        DibInfoHeader h;
        if (!ReadHeader(packed, h) || !Drawable(h)) return {};
        const size_t pixelsAt = packed.Position() + ColourTableBytes(h, colours);
        CRecordReader bits = packed.At(pixelsAt, packed.Size() - std::min(pixelsAt, packed.Size()));
        return Decode(packed, bits, colours, false, false, h);
    } catch (const CRecordTooShort&) {
        return {};
    }
}

namespace {
thread_local EmbeddedPictureBudget* t_budget = nullptr;
}

EmbeddedPictureBudget::EmbeddedPictureBudget(uint64_t bytes) : left_(bytes), outer_(t_budget) { t_budget = this; }

EmbeddedPictureBudget::~EmbeddedPictureBudget() { t_budget = outer_; }

EmbeddedPictureBudget* EmbeddedPictureBudget::Active() { return t_budget; }

void EmbeddedPictureBudget::Charge(uint64_t bytes) {
    if (bytes > left_)
        RaiseError(ERR_OUT_OF_MEMORY, FormatText("The metafile's embedded pictures would take more than the %llu MiB its "
                                                 "size allows them.",
                                                 static_cast<unsigned long long>(left_ >> 20)));
    left_ -= bytes;
}

QImage DecodeEmbeddedPicture(std::span<const uint8_t> bytes, ImageFormat format, QSize drawn) {
    const CDecodeContext* context = ActiveDecodeContext();
    if (context == nullptr || context->embeddedPictureDecoder == nullptr) return {};
    // The decode shares the outer one's cancel flag; its bitmap and the copy made of it below
    // must both fit in what the budget has left.
    CDecodeContext nested = *context;
    nested.minWidth = std::max(drawn.width(), 1);
    nested.minHeight = std::max(drawn.height(), 1);
    EmbeddedPictureBudget* budget = EmbeddedPictureBudget::Active();
    if (budget != nullptr) nested.storageLimit = std::min(nested.storageLimit, budget->Left() / 2);
    CMemBitmap bitmap;
    try {
        const CDecodeScope scope(&nested);
        context->embeddedPictureDecoder(bytes, format, bitmap);
    } catch (const CTextException& e) {
        if (e.Code() == ERR_CANCELLED) throw;
        // Over the budget is the metafile's failure, not a picture to leave out.
        if (e.Code() == ERR_OUT_OF_MEMORY && budget != nullptr && nested.storageLimit < context->storageLimit) throw;
        if (bitmap.Width() <= 0 || bitmap.BitsPerPixel() != 32) return {};
    }
    if (budget != nullptr) budget->Charge(2 * static_cast<uint64_t>(bitmap.Width()) * static_cast<uint64_t>(bitmap.Height()) * 4);
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
