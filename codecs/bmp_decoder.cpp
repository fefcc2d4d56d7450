#include "bmp_decoder.h"

#include "imagelib/byte_order.h"
#include "imagelib/byte_source.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "imagelib/work_budget.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

enum Compression : uint32_t {
    kRgb = 0,
    kRle8 = 1,
    kRle4 = 2,
    kBitFields = 3,
    kJpeg = 4,
    kPng = 5,
    kAlphaBitFields = 6,
};

// No scanner or printer stores more than this many pixels per metre (25,400 dots per
// inch); larger values only come from damaged headers.
constexpr uint32_t kMaxPixelsPerMetre = 1'000'000;

struct BmpHeader {
    uint32_t fileSize = 0;
    uint32_t dataOffset = 0;
    uint32_t headerSize = 0;
    int64_t width = 0;
    int64_t height = 0;  // negative: rows stored top-down
    uint16_t planes = 1;
    uint16_t bitsPerPixel = 0;
    uint32_t compression = kRgb;
    uint32_t imageSize = 0;
    uint32_t xDensity = 0;
    uint32_t yDensity = 0;
    uint32_t coloursUsed = 0;
    uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    bool core = false;                 // OS/2 1.x header: 3-byte colour table entries
};

[[noreturn]] void Bad(const char* text) { RaiseError(ERR_BAD_DATA, text); }

bool KnownHeaderSize(uint32_t size) { return size == 12 || (size >= 16 && size <= 64) || size == 108 || size == 124; }

BmpHeader ReadHeaders(CByteSource& source) {
    const size_t start = source.Position();
    const uint8_t* file = source.Read(14);
    if (ReadLE16(file) != 0x4D42) RaiseError(ERR_NOT_THIS_FORMAT, "Bitmap decoder: This isn't a bitmap.");
    Trace(2, "Bitmap file signature found\n");
    BmpHeader h;
    h.fileSize = ReadLE32(file + 2);
    h.dataOffset = ReadLE32(file + 10);

    h.headerSize = ReadLE32(source.Read(4));
    if (!KnownHeaderSize(h.headerSize)) Bad("Bitmap decoder: BITMAPINFOHEADER has wrong size.");
    const uint8_t* info = source.Read(h.headerSize - 4) - 4;
    if (h.headerSize == 12) {
        h.core = true;
        h.width = ReadLE16(info + 4);
        h.height = ReadLE16(info + 6);
        h.planes = ReadLE16(info + 8);
        h.bitsPerPixel = ReadLE16(info + 10);
    } else {
        // OS/2 2.x headers may stop after any field; the fields they omit are zero.
        uint8_t full[56] = {};
        std::memcpy(full, info, std::min<size_t>(h.headerSize, sizeof full));
        h.width = static_cast<int32_t>(ReadLE32(full + 4));
        h.height = static_cast<int32_t>(ReadLE32(full + 8));
        h.planes = ReadLE16(full + 12);
        h.bitsPerPixel = ReadLE16(full + 14);
        h.compression = ReadLE32(full + 16);
        h.imageSize = ReadLE32(full + 20);
        h.xDensity = ReadLE32(full + 24);
        h.yDensity = ReadLE32(full + 28);
        h.coloursUsed = ReadLE32(full + 32);
        if (h.headerSize >= 52)
            for (int i = 0; i < 3; ++i) h.masks[i] = ReadLE32(full + 40 + 4 * i);
        if (h.headerSize >= 56) h.masks[3] = ReadLE32(full + 52);
        // OS/2 2.x reuses compression 3 and 4 for Huffman and 24-bit run lengths.
        const bool windowsHeader = h.headerSize == 40 || h.headerSize == 52 || h.headerSize == 56 ||
                                   h.headerSize >= 108;
        if (!windowsHeader && h.compression >= kBitFields)
            RaiseError(ERR_CANNOT_HANDLE, "Bitmap decoder: OS/2 compression is not supported.");
    }
    Trace(2, "Bitmap header is ok.\n");

    const size_t fileBytes = source.DataSize() - start;
    if (h.planes != 1) Bad("Bitmap decoder: the number of planes must be 1.");
    if (h.width <= 0 || h.height == 0) Bad("Bitmap decoder: invalid image size.");
    if (h.fileSize > fileBytes) Bad("Bitmap decoder: the file size field exceeds the file.");
    if (h.imageSize > fileBytes) Bad("Bitmap decoder: the image size field exceeds the file.");
    if (h.xDensity > kMaxPixelsPerMetre || h.yDensity > kMaxPixelsPerMetre)
        Bad("Bitmap decoder: the resolution fields are corrupt.");
    if (h.compression == kJpeg || h.compression == kPng)
        RaiseError(ERR_FEATURE_UNAVAILABLE, "Bitmap decoder: embedded JPEG or PNG data is not supported.");
    if (h.height < 0 && (h.compression == kRle8 || h.compression == kRle4))
        Bad("Bitmap decoder: run-length encoded bitmaps cannot be stored top-down.");
    return h;
}

// Builds the 256-entry palette from the file's colour table. Entries the file does not set
// are opaque black. Returns the number of entries the file defines.
int ReadColourTable(CByteSource& source, const BmpHeader& h, BGRA* table) {
    uint64_t count = h.coloursUsed != 0 ? h.coloursUsed : (uint64_t{1} << h.bitsPerPixel);
    const size_t entrySize = h.core ? 3 : 4;
    // Without a colour count, OS/2 writers store only the colours used; the data offset
    // tells how many.
    const uint64_t tableStart = 14 + uint64_t{h.headerSize};
    if (h.coloursUsed == 0 && h.dataOffset > tableStart)
        count = std::min<uint64_t>(count, (h.dataOffset - tableStart) / entrySize);
    if (count > source.Available() / entrySize) Bad("Bitmap decoder: the colour table is larger than the file.");
    Trace(3, "Reading palette.\n");
    const uint8_t* entries = source.Read(count * entrySize);
    std::fill(table, table + 256, BGRA{0, 0, 0, 255});
    const int used = static_cast<int>(std::min<uint64_t>(count, 256));
    for (int i = 0; i < used; ++i) {
        const uint8_t* e = entries + i * entrySize;
        table[i] = BGRA{e[0], e[1], e[2], 255};
    }
    return used;
}

// One channel described by a bit mask: its top eight bits, or fewer bits placed at the top
// of the byte as 5-5-5 and 5-6-5 pixels always were.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    explicit Channel(uint32_t m) : mask(m) {
        if (m == 0) return;
        shift = std::countr_zero(m);
        bits = std::popcount(m >> shift);
    }
    uint8_t operator()(uint32_t v) const {
        if (mask == 0) return 0;
        const uint32_t value = (v & mask) >> shift;
        return static_cast<uint8_t>(bits >= 8 ? value >> (bits - 8) : value << (8 - bits));
    }
};

class BmpPixelWriter {
public:
    BmpPixelWriter(CImageBitmap& bitmap, const BGRA* table, int tableEntries, int depth, bool topDown)
        : bitmap_(bitmap), table_(table), entries_(tableEntries), depth_(depth), topDown_(topDown) {}

    // The bitmap row of the r-th row stored in the file.
    int RowOf(int r) const { return topDown_ ? r : bitmap_.Height() - 1 - r; }

    void PutIndex(int y, int x, int index) const {
        if (index >= entries_) Bad("Bitmap decoder: a pixel refers to a colour beyond the colour table.");
        if (depth_ == 8)
            bitmap_.Line(y)[x] = static_cast<uint8_t>(index);
        else
            bitmap_.PixelLine(y)[x] = table_[index];
    }

    void IndexedRow(int y, const uint8_t* in, int bits) const {
        const int width = bitmap_.Width();
        const int mask = (1 << bits) - 1;
        if (bits == 8) {
            for (int x = 0; x < width; ++x) PutIndex(y, x, in[x]);
            return;
        }
        const int perByte = 8 / bits;
        for (int x = 0; x < width; ++x) {
            const int shift = 8 - bits * (x % perByte + 1);
            PutIndex(y, x, (in[x / perByte] >> shift) & mask);
        }
    }

    void Fill(const BGRA& colour) const {
        for (int y = 0; y < bitmap_.Height(); ++y) {
            if (depth_ == 8)
                std::memset(bitmap_.Line(y), 0, static_cast<size_t>(bitmap_.Width()));
            else
                std::fill_n(bitmap_.PixelLine(y), bitmap_.Width(), colour);
        }
    }

private:
    CImageBitmap& bitmap_;
    const BGRA* table_;
    int entries_;
    int depth_;
    bool topDown_;
};

void DecodeIndexed(CByteSource& source, const BmpHeader& h, const BmpPixelWriter& writer, int height) {
    const size_t rowBytes = PaddedLineBytes(h.width * h.bitsPerPixel, 1) ;
    for (int r = 0; r < height; ++r) writer.IndexedRow(writer.RowOf(r), source.Read(rowBytes), h.bitsPerPixel);
}

// Three bytes per pixel to four with opaque alpha: whole 4-byte loads for every pixel but
// the last, whose fourth byte may lie beyond the row.
void Expand24To32(const uint8_t* in, BGRA* out, int width) {
    int x = 0;
    for (; x + 1 < width; ++x, in += 3) {
        uint32_t v;
        std::memcpy(&v, in, 4);
        v = ReadLE32(reinterpret_cast<const uint8_t*>(&v)) | 0xFF000000u;
        uint8_t bytes[4];
        WriteLE32(bytes, v);
        std::memcpy(&out[x], bytes, 4);
    }
    if (x < width) out[x] = BGRA{in[0], in[1], in[2], 255};
}

void DecodeTrueColour(CByteSource& source, const BmpHeader& h, CImageBitmap& bitmap, const BmpPixelWriter& writer) {
    const int width = bitmap.Width();
    const size_t rowBytes = PaddedLineBytes(h.width * h.bitsPerPixel, 1);
    const bool bitFields = h.compression == kBitFields || h.compression == kAlphaBitFields;
    uint32_t masks[4] = {h.masks[0], h.masks[1], h.masks[2], h.masks[3]};
    if (!bitFields && h.bitsPerPixel == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    }
    const bool plain = h.bitsPerPixel == 24 || (h.bitsPerPixel == 32 && !bitFields);
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);
    for (int r = 0; r < bitmap.Height(); ++r) {
        const uint8_t* in = source.Read(rowBytes);
        BGRA* out = bitmap.PixelLine(writer.RowOf(r));
        if (plain && h.bitsPerPixel == 24) {
            Expand24To32(in, out, width);
        } else if (plain) {
            std::memcpy(out, in, static_cast<size_t>(width) * 4);
        } else {
            const int step = h.bitsPerPixel / 8;
            for (int x = 0; x < width; ++x, in += step) {
                const uint32_t v = step == 2 ? ReadLE16(in) : ReadLE32(in);
                out[x] = BGRA{blue(v), green(v), red(v), masks[3] != 0 ? alpha(v) : uint8_t{255}};
            }
        }
    }
}

// Run-length data of 4 or 8 bits per pixel, decoded straight into the bitmap rows. Pixels
// the runs skip (delta escapes, an early end) keep colour 0.
void DecodeRunLength(CByteSource& source, const BmpHeader& h, CImageBitmap& bitmap, const BmpPixelWriter& writer,
                     const BGRA* table) {
    const bool four = h.bitsPerPixel == 4;
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    writer.Fill(table[0]);
    int x = 0;
    int r = 0;
    // Writers pad encoded rows to the 4-byte row length of the uncompressed layout; pixels
    // in that padding are dropped. A run that goes further is damage.
    const int paddedWidth = static_cast<int>(PaddedLineBytes(int64_t{width} * h.bitsPerPixel, 1) * 8 / h.bitsPerPixel);
    auto put = [&](int index) {
        if (r >= height || x >= paddedWidth)
            RaiseError(ERR_CANNOT_HANDLE, "Bitmap decoder: a run passes the end of a row.");
        if (x < width) writer.PutIndex(writer.RowOf(r), x, index);
        ++x;
    };
    for (;;) {
        CWorkBudget::Charge();
        const uint8_t* pair = source.Read(2);
        const int count = pair[0];
        if (count != 0) {
            const int value = pair[1];
            for (int i = 0; i < count; ++i) put(four ? ((i & 1) ? value & 0x0F : value >> 4) : value);
            continue;
        }
        const int code = pair[1];
        if (code == 0) {  // end of row
            x = 0;
            ++r;
        } else if (code == 1) {  // end of bitmap
            break;
        } else if (code == 2) {  // delta: skip right and down
            const uint8_t* delta = source.Read(2);
            x += delta[0];
            r += delta[1];
            if (x > width || r > height) RaiseError(ERR_CANNOT_HANDLE, "Bitmap decoder: a delta passes the bitmap's end.");
        } else {  // absolute run of code pixels, padded to an even number of bytes
            const size_t bytes = four ? (static_cast<size_t>(code) + 1) / 2 : static_cast<size_t>(code);
            const uint8_t* in = source.Read(bytes + (bytes & 1));
            for (int i = 0; i < code; ++i) put(four ? ((i & 1) ? in[i / 2] & 0x0F : in[i / 2] >> 4) : in[i]);
        }
    }
}

}  // namespace

void CBMPDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) {
    const size_t start = source.Position();
    const BmpHeader h = ReadHeaders(source);
    const int bpp = h.bitsPerPixel;
    const bool indexed = bpp == 1 || bpp == 2 || bpp == 4 || bpp == 8;
    if (!indexed && bpp != 16 && bpp != 24 && bpp != 32) Bad("Decoding bmp: Illegal bpp value.");
    const bool runLength = (bpp == 4 || bpp == 8) && h.compression != kRgb;
    if (runLength && h.compression != (bpp == 8 ? kRle8 : kRle4)) Bad("Bitmap decoder: compression does not match the depth.");
    const bool bitFields = h.compression == kBitFields || h.compression == kAlphaBitFields;
    if (bitFields && bpp != 16 && bpp != 32) Bad("Bitmap decoder: bit fields need 16 or 32 bits per pixel.");

    BmpHeader header = h;
    palette = std::make_unique<BGRA[]>(256);
    int tableEntries = 0;
    if (indexed) {
        tableEntries = ReadColourTable(source, h, palette.get());
    } else if (bitFields && h.headerSize < 52) {
        const int count = h.compression == kAlphaBitFields ? 4 : 3;
        const uint8_t* masks = source.Read(4 * static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) header.masks[i] = ReadLE32(masks + 4 * i);
    }
    // The pixels start at the data offset; an offset pointing back into what was already
    // read is taken to mean the pixels follow directly.
    const size_t consumed = source.Position() - start;
    if (h.dataOffset > consumed) source.Skip(h.dataOffset - consumed);

    const int width = static_cast<int>(std::min<int64_t>(h.width, INT32_MAX));
    const int height = static_cast<int>(std::min<int64_t>(h.height < 0 ? -h.height : h.height, INT32_MAX));
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

    const bool hasAlpha = depth == 32 && bitFields && header.masks[3] != 0;
    bitmap.Create(width, height, depth, hasAlpha);
    if (depth == 8) bitmap.LoadPalette(palette.get());
    CBitmapLock lock(bitmap, false, true);
    const BmpPixelWriter writer(bitmap, palette.get(), indexed ? tableEntries : 0, depth, h.height < 0);

    if (runLength) {
        Trace(2, bpp == 8 ? "Decoding RLE8-compressed bitmap.\n" : "Decoding RLE4-compressed bitmap.\n");
        DecodeRunLength(source, header, bitmap, writer, palette.get());
    } else if (indexed) {
        Trace(2, FormatText("Decoding uncompressed %d bit per pixel bitmap.\n", bpp));
        DecodeIndexed(source, header, writer, height);
    } else {
        Trace(2, "Decoding true-color bitmap.\n");
        DecodeTrueColour(source, header, bitmap, writer);
    }
    Trace(3, "Decoding finished.\n");
}
