#include "bmp_decoder.h"

#include "imagelib/byte_order.h"
#include "imagelib/byte_source.h"
#include "imagelib/dib_format.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "imagelib/work_budget.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// No scanner or printer stores more than this many pixels per metre (25,400 dots per
// inch); larger values only come from damaged headers.
constexpr uint32_t kMaxPixelsPerMetre = 1'000'000;

struct BmpHeaders {
    BmpFileHeader file;
    DibInfoHeader info;
};

[[noreturn]] void Bad(const char* text) { RaiseError(ERR_BAD_DATA, text); }

bool KnownHeaderSize(uint32_t size) { return size == 12 || (size >= 16 && size <= 64) || size == 108 || size == 124; }

BmpHeaders ReadHeaders(CByteSource& source) {
    const size_t start = source.Position();
    BmpHeaders headers;
    const std::span<const uint8_t, kBmpFileHeaderSize> file(source.Read(kBmpFileHeaderSize), kBmpFileHeaderSize);
    if (!ParseBmpFileHeader(file, headers.file))
        RaiseError(ERR_NOT_THIS_FORMAT, "Bitmap decoder: This isn't a bitmap.");
    Trace(2, "Bitmap file signature found\n");

    const uint32_t headerSize = ReadLE32(source.Read(4));
    if (!KnownHeaderSize(headerSize)) Bad("Bitmap decoder: BITMAPINFOHEADER has wrong size.");
    const uint8_t* info = source.Read(headerSize - 4) - 4;
    headers.info = ParseDibInfoHeader({info, headerSize});
    const DibInfoHeader& h = headers.info;
    // OS/2 2.x reuses compression 3 and 4 for Huffman and 24-bit run lengths.
    const bool windowsHeader = headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize >= 108;
    if (!h.Core() && !windowsHeader && h.compression >= kDibBitFields)
        RaiseError(ERR_CANNOT_HANDLE, "Bitmap decoder: OS/2 compression is not supported.");
    Trace(2, "Bitmap header is ok.\n");

    const size_t fileBytes = source.DataSize() - start;
    if (h.planes != 1) Bad("Bitmap decoder: the number of planes must be 1.");
    if (h.width <= 0 || h.height == 0) Bad("Bitmap decoder: invalid image size.");
    if (headers.file.fileSize > fileBytes) Bad("Bitmap decoder: the file size field exceeds the file.");
    if (h.imageSize > fileBytes) Bad("Bitmap decoder: the image size field exceeds the file.");
    if (h.xDensity > kMaxPixelsPerMetre || h.yDensity > kMaxPixelsPerMetre)
        Bad("Bitmap decoder: the resolution fields are corrupt.");
    if (h.EmbeddedPicture())
        RaiseError(ERR_FEATURE_UNAVAILABLE, "Bitmap decoder: embedded JPEG or PNG data is not supported.");
    if (h.TopDown() && h.RunLength()) Bad("Bitmap decoder: run-length encoded bitmaps cannot be stored top-down.");
    return headers;
}

bool IsIndexed(int bpp) { return bpp == 1 || bpp == 2 || bpp == 4 || bpp == 8; }

// Refuses depths and compressions that do not go together; true for run-length data.
bool CheckLayout(const DibInfoHeader& h) {
    const int bpp = h.bitsPerPixel;
    if (!IsIndexed(bpp) && bpp != 16 && bpp != 24 && bpp != 32) Bad("Decoding bmp: Illegal bpp value.");
    const bool runLength = (bpp == 4 || bpp == 8) && h.compression != kDibRgb;
    if (runLength && h.compression != (bpp == 8 ? kDibRle8 : kDibRle4))
        Bad("Bitmap decoder: compression does not match the depth.");
    if (h.BitFields() && bpp != 16 && bpp != 32) Bad("Bitmap decoder: bit fields need 16 or 32 bits per pixel.");
    return runLength;
}

// Builds the 256-entry palette from the file's colour table. Entries the file does not set
// are opaque black. Returns the number of entries the file defines.
int ReadColourTable(CByteSource& source, const BmpHeaders& headers, BGRA* table) {
    const DibInfoHeader& h = headers.info;
    uint64_t count = DibColourTableEntries(h);
    const size_t entrySize = DibColourEntrySize(h);
    // Without a colour count, OS/2 writers store only the colours used; the data offset
    // tells how many.
    const uint64_t tableStart = kBmpFileHeaderSize + uint64_t{h.size};
    if (h.coloursUsed == 0 && headers.file.rowsOffset > tableStart)
        count = std::min<uint64_t>(count, (headers.file.rowsOffset - tableStart) / entrySize);
    if (count > source.Available() / entrySize) Bad("Bitmap decoder: the colour table is larger than the file.");
    Trace(3, "Reading palette.\n");
    const size_t bytes = count * entrySize;
    return static_cast<int>(ReadDibColourTable({source.Read(bytes), bytes}, entrySize, {table, 256}));
}

// Where decoded indices and pixels go: the r-th row stored in the file lands on its bitmap
// row; indices become palette entries at 8 bits and colours at 32.
class BmpRows {
public:
    BmpRows(CImageBitmap& bitmap, const BGRA* table, int tableEntries, bool topDown)
        : bitmap_(bitmap), table_(table), entries_(tableEntries), topDown_(topDown) {}

    int RowOf(int r) const { return topDown_ ? r : bitmap_.Height() - 1 - r; }

    // count indices, the largest given, at column x of bitmap row y.
    void PutIndices(int y, int x, const uint8_t* indices, int count, uint8_t largest) const {
        if (largest >= entries_) Bad("Bitmap decoder: a pixel refers to a colour beyond the colour table.");
        if (bitmap_.BitsPerPixel() == 8) {
            std::memcpy(bitmap_.Line(y) + x, indices, static_cast<size_t>(count));
        } else {
            BGRA* out = bitmap_.PixelLine(y) + x;
            for (int i = 0; i < count; ++i) out[i] = table_[indices[i]];
        }
    }

    void Fill(const BGRA& colour) const {
        for (int y = 0; y < bitmap_.Height(); ++y) {
            if (bitmap_.BitsPerPixel() == 8)
                std::memset(bitmap_.Line(y), 0, static_cast<size_t>(bitmap_.Width()));
            else
                std::fill_n(bitmap_.PixelLine(y), bitmap_.Width(), colour);
        }
    }

private:
    CImageBitmap& bitmap_;
    const BGRA* table_;
    int entries_;
    bool topDown_;
};

void DecodeIndexed(CByteSource& source, const DibInfoHeader& h, CImageBitmap& bitmap, const BmpRows& rows) {
    const int width = bitmap.Width();
    const size_t rowBytes = PaddedLineBytes(h.width * h.bitsPerPixel, 1);
    std::vector<uint8_t> indices(static_cast<size_t>(width));
    for (int r = 0; r < bitmap.Height(); ++r) {
        CWorkBudget::ChargeRow(rowBytes);
        const uint8_t largest = UnpackDibIndices(source.Read(rowBytes), h.bitsPerPixel, width, indices.data());
        rows.PutIndices(rows.RowOf(r), 0, indices.data(), width, largest);
    }
}

void ClearAlpha(BGRA* row, int width) {
    for (int x = 0; x < width; ++x) row[x].a = 0;
}

// Alpha bytes that are 0 in every pixel carry no transparency (most writers of plain
// 32-bit files leave them so): such a picture is opaque. Decided as rows are written: rows
// are written opaque until one holds other values; that row is written again as it is, the
// rows before it get their zeros back, and the bitmap keeps its alpha.
void DecodeTrueColour(CByteSource& source, const DibInfoHeader& h, CImageBitmap& bitmap, const BmpRows& rows) {
    const int width = bitmap.Width();
    const size_t rowBytes = PaddedLineBytes(h.width * h.bitsPerPixel, 1);
    if (h.bitsPerPixel == 24) {
        for (int r = 0; r < bitmap.Height(); ++r) {
            CWorkBudget::ChargeRow(rowBytes);
            ConvertDibRow24(source.Read(rowBytes), width, bitmap.PixelLine(rows.RowOf(r)));
        }
        return;
    }
    const DibBitFields fields(DibPixelMasks(h), h.bitsPerPixel);
    bool alphaUsed = false;
    for (int r = 0; r < bitmap.Height(); ++r) {
        CWorkBudget::ChargeRow(rowBytes);
        const uint8_t* in = source.Read(rowBytes);
        BGRA* out = bitmap.PixelLine(rows.RowOf(r));
        const uint8_t alpha = fields.ConvertRow(in, width, out, !alphaUsed);
        if (alphaUsed || alpha == 0 || !fields.HasAlphaMask()) continue;
        alphaUsed = true;
        fields.ConvertRow(in, width, out);
        for (int earlier = 0; earlier < r; ++earlier) ClearAlpha(bitmap.PixelLine(rows.RowOf(earlier)), width);
    }
    bitmap.SetHasAlpha(alphaUsed);
}

// Run-length data of 4 or 8 bits per pixel, decoded straight into the bitmap rows. Pixels
// the runs skip (delta escapes, an early end) keep colour 0.
void DecodeRunLength(CByteSource& source, const DibInfoHeader& h, CImageBitmap& bitmap, const BmpRows& rows,
                     const BGRA* table) {
    rows.Fill(table[0]);
    const std::span<const uint8_t> data(source.RemainingData(), source.Available());
    const DibRunLengthResult result = DecodeDibRunLength(
        data, h.bitsPerPixel, bitmap.Width(), bitmap.Height(), DibRunCheck::Strict,
        [&](int row, int x, std::span<const uint8_t> indices) {
            rows.PutIndices(rows.RowOf(row), x, indices.data(), static_cast<int>(indices.size()),
                            *std::max_element(indices.begin(), indices.end()));
        });
    source.Skip(result.consumed);
    switch (result.end) {
    case DibRunEnd::EndOfBitmap:
    case DibRunEnd::RowsFilled: return;
    case DibRunEnd::DataEnded:
    case DibRunEnd::DataCut: throw CTextException(ERR_END_OF_DATA, "End of file reached while decoding.\n");
    case DibRunEnd::RunPastRow: RaiseError(ERR_CANNOT_HANDLE, "Bitmap decoder: a run passes the end of a row.");
    case DibRunEnd::DeltaPastEnd: RaiseError(ERR_CANNOT_HANDLE, "Bitmap decoder: a delta passes the bitmap's end.");
    }
}

}  // namespace

void CBMPDecoder::ProbeSource(CByteSource& source, ImageInfo& info) {
    BmpHeaders headers = ReadHeaders(source);
    DibInfoHeader& h = headers.info;
    CheckLayout(h);
    if (const size_t maskBytes = DibMaskBytesAfterHeader(h); maskBytes != 0 && !IsIndexed(h.bitsPerPixel))
        ReadDibMasksAfterHeader({source.Read(maskBytes), maskBytes}, h);
    info.width = static_cast<int>(std::min<int64_t>(h.width, INT32_MAX));
    info.height = static_cast<int>(std::min<int64_t>(h.Rows(), INT32_MAX));
    info.bitsPerPixel = h.bitsPerPixel;
    // Whether the alpha is used shows only in the pixels: this says where it may be stored
    // (an alpha mask, or the fourth byte of plain 32-bit pixels).
    info.hasAlpha = h.BitFields() ? h.masks[3] != 0 : h.bitsPerPixel == 32;
}

void CBMPDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) {
    const size_t start = source.Position();
    BmpHeaders headers = ReadHeaders(source);
    DibInfoHeader& h = headers.info;
    const int bpp = h.bitsPerPixel;
    const bool indexed = IsIndexed(bpp);
    const bool runLength = CheckLayout(h);

    palette = std::make_unique<BGRA[]>(256);
    int tableEntries = 0;
    if (indexed) {
        tableEntries = ReadColourTable(source, headers, palette.get());
    } else if (const size_t maskBytes = DibMaskBytesAfterHeader(h); maskBytes != 0) {
        ReadDibMasksAfterHeader({source.Read(maskBytes), maskBytes}, h);
    }
    // The pixels start at the data offset; an offset pointing back into what was already
    // read is taken to mean the pixels follow directly.
    const size_t consumed = source.Position() - start;
    if (headers.file.rowsOffset > consumed) source.Skip(headers.file.rowsOffset - consumed);

    const int width = static_cast<int>(std::min<int64_t>(h.width, INT32_MAX));
    const int height = static_cast<int>(std::min<int64_t>(h.Rows(), INT32_MAX));
    ResolveDepth(bpp, depth);
    if (depth != 8 || !indexed) depth = 32;
    // Refuse a size over the storage limit before anything else, then pixel data the file
    // cannot hold, so a lying header never causes a large allocation.
    CheckBitmapStorage(width, height, depth, PaddedLineBytes(width, depth));
    if (!runLength) {
        const uint64_t rowBytes = PaddedLineBytes(h.width * bpp, 1);
        if (rowBytes != 0 && static_cast<uint64_t>(height) > source.Available() / rowBytes)
            throw CTextException(ERR_END_OF_DATA, "End of file reached while decoding.\n");
    }

    bitmap.Create(width, height, depth, false);
    if (depth == 8) bitmap.LoadPalette(palette.get());
    CBitmapLock lock(bitmap, false, true);
    const BmpRows rows(bitmap, palette.get(), tableEntries, h.TopDown());

    if (runLength) {
        Trace(2, bpp == 8 ? "Decoding RLE8-compressed bitmap.\n" : "Decoding RLE4-compressed bitmap.\n");
        DecodeRunLength(source, h, bitmap, rows, palette.get());
    } else if (indexed) {
        Trace(2, FormatText("Decoding uncompressed %d bit per pixel bitmap.\n", bpp));
        DecodeIndexed(source, h, bitmap, rows);
    } else {
        Trace(2, "Decoding true-color bitmap.\n");
        DecodeTrueColour(source, h, bitmap, rows);
    }
    Trace(3, "Decoding finished.\n");
}
