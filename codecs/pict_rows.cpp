#include "pict_rows.h"

#include "imagelib/byte_order.h"
#include "imagelib/byte_source.h"
#include "imagelib/image_bitmap.h"
#include "imagelib/image_decoder.h"
#include "imagelib/work_budget.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Rows shorter than this are stored without packing.
constexpr size_t kPackedRowMinimum = 8;
// Rows longer than this give their packed length in two bytes instead of one.
constexpr size_t kShortCountMaximum = 250;

const BGRA kBlack{0, 0, 0, 255};

size_t RowBytesOf(const PictRowFormat& f, int width) {
    if (f.rowBytes != 0) return f.rowBytes;
    const auto w = static_cast<size_t>(width);
    return f.pixelSize == 32 ? 4 * w : f.pixelSize == 16 ? 2 * w : w;
}

// Whether the packed rows ahead give their lengths in two bytes. Rows longer than 250 bytes
// always do. Some writers use two bytes for shorter rows too (from about 200 bytes on); their
// first count then starts with a zero byte, which as a one-byte count would be an empty row
// that no writer produces for a row of 8 or more bytes.
bool WideCounts(CByteSource& source, size_t rowBytes) {
    if (rowBytes > kShortCountMaximum) return true;
    return source.Available() >= 2 && *source.Peek(1) == 0;
}

// The packed bytes of the next row.
std::pair<const uint8_t*, size_t> PackedRow(CByteSource& source, bool wideCounts) {
    const size_t count = wideCounts ? ReadBE16(source.Read(2)) : *source.Read(1);
    return {source.Read(count), count};
}

// A 5-bit component widened by copying its top bits down, so full scale stays full scale
// (31 is 255: white stays white).
uint8_t Widen5(unsigned v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }

uint8_t IndexAt(const uint8_t* row, int x, int bits) {
    const int perByte = 8 / bits;
    const int shift = 8 - bits * (x % perByte + 1);
    return static_cast<uint8_t>((row[x / perByte] >> shift) & ((1 << bits) - 1));
}

void ExpandIndices(const uint8_t* row, size_t rowBytes, int bits, const BGRA* table, CImageBitmap& bitmap, int y) {
    const int width = bitmap.Width();
    const int covered = static_cast<int>(std::min<size_t>(static_cast<size_t>(width), rowBytes * 8 / static_cast<size_t>(bits)));
    if (bitmap.BitsPerPixel() == 8) {
        uint8_t* out = bitmap.Line(y);
        for (int x = 0; x < covered; ++x) out[x] = IndexAt(row, x, bits);
        std::fill(out + covered, out + width, uint8_t{0});
        return;
    }
    BGRA* out = bitmap.PixelLine(y);
    switch (bits) {
    case 1: ExpandRow1(out, row, covered, table); break;
    case 2: ExpandRow2(out, row, covered, table); break;
    case 4: ExpandRow4(out, row, covered, table); break;
    default: ExpandRow8(out, row, covered, table); break;
    }
    std::fill(out + covered, out + width, table[0]);
}

void Expand555(const uint8_t* row, size_t rowBytes, CImageBitmap& bitmap, int y) {
    const int width = bitmap.Width();
    const int covered = static_cast<int>(std::min<size_t>(static_cast<size_t>(width), rowBytes / 2));
    BGRA* out = bitmap.PixelLine(y);
    for (int x = 0; x < covered; ++x) {
        const uint16_t v = ReadBE16(row + 2 * x);
        out[x] = OpaqueColour(Widen5((v >> 10) & 0x1F), Widen5((v >> 5) & 0x1F), Widen5(v & 0x1F));
    }
    std::fill(out + covered, out + width, kBlack);
}

// Up to 16 bits per pixel: one row of rowBytes bytes, packed or plain.
void ReadPackedOrPlainRows(CByteSource& source, const PictRowFormat& f, const BGRA* table, CImageBitmap& bitmap) {
    const size_t rowBytes = RowBytesOf(f, bitmap.Width());
    std::vector<uint8_t> row(rowBytes);
    const bool wide = rowBytes >= kPackedRowMinimum && WideCounts(source, rowBytes);
    for (int y = 0; y < bitmap.Height(); ++y) {
        CWorkBudget::ChargeRow(rowBytes);
        const uint8_t* bytes = nullptr;
        if (rowBytes < kPackedRowMinimum) {
            bytes = source.Read(rowBytes);
        } else {
            const auto [packed, count] = PackedRow(source, wide);
            std::fill(row.begin(), row.end(), uint8_t{0});
            UnpackBits(packed, count, row.data(), row.size(), f.pixelSize == 16 ? 2 : 1);
            bytes = row.data();
        }
        if (f.pixelSize == 16)
            Expand555(bytes, rowBytes, bitmap, y);
        else
            ExpandIndices(bytes, rowBytes, f.pixelSize, table, bitmap, y);
    }
}

// 32 bits: every row packed, holding the components as planes of width bytes each.
void ReadComponentPlaneRows(CByteSource& source, const PictRowFormat& f, CImageBitmap& bitmap) {
    const auto width = static_cast<size_t>(bitmap.Width());
    const size_t rowBytes = RowBytesOf(f, bitmap.Width());
    const bool alpha = f.components == 4;
    std::vector<uint8_t> planes(width * (alpha ? 4 : 3));
    const uint8_t* const first = planes.data();
    const bool wide = WideCounts(source, rowBytes);
    for (int y = 0; y < bitmap.Height(); ++y) {
        CWorkBudget::ChargeRow(planes.size());
        const auto [packed, count] = PackedRow(source, wide);
        std::fill(planes.begin(), planes.end(), uint8_t{0});
        UnpackBits(packed, count, planes.data(), planes.size(), 1);
        const uint8_t* red = alpha ? first + width : first;
        BGRA* out = bitmap.PixelLine(y);
        for (size_t x = 0; x < width; ++x)
            out[x] = BGRA{red[2 * width + x], red[width + x], red[x], alpha ? first[x] : uint8_t{255}};
    }
}

}  // namespace

void ReadPictRows(CByteSource& source, const PictRowFormat& format, const BGRA* table, CImageBitmap& bitmap) {
    if (format.pixelSize == 32)
        ReadComponentPlaneRows(source, format, bitmap);
    else
        ReadPackedOrPlainRows(source, format, table, bitmap);
}

uint64_t PictRowsMinimumBytes(const PictRowFormat& format, int width, int height) {
    if (width <= 0 || height <= 0) return 0;
    const size_t rowBytes = RowBytesOf(format, width);
    const auto rows = static_cast<uint64_t>(height);
    if (format.pixelSize != 32 && rowBytes < kPackedRowMinimum) return rows * rowBytes;
    return rows * (rowBytes > kShortCountMaximum ? 2 : 1);
}

void SkipPictRows(CByteSource& source, size_t rowBytes, int height) {
    const bool wide = rowBytes >= kPackedRowMinimum && WideCounts(source, rowBytes);
    for (int y = 0; y < height; ++y) {
        CWorkBudget::ChargeRow(rowBytes);
        if (rowBytes < kPackedRowMinimum)
            source.Skip(rowBytes);
        else
            PackedRow(source, wide);
    }
}

void SkipPictPixelRows(CByteSource& source, const PictRowFormat& format, int width, int height) {
    const size_t rowBytes = RowBytesOf(format, width);
    if (format.pixelSize != 32) {
        SkipPictRows(source, rowBytes, height);
        return;
    }
    const bool wide = WideCounts(source, rowBytes);
    for (int y = 0; y < height; ++y) {
        CWorkBudget::ChargeRow(rowBytes);
        PackedRow(source, wide);
    }
}

size_t UnpackBits(const uint8_t* in, size_t inSize, uint8_t* out, size_t capacity, size_t elementSize) {
    size_t i = 0;
    size_t o = 0;
    while (i < inSize && o < capacity) {
        const uint8_t header = in[i++];
        if (header < 128) {
            const size_t literal = std::min((header + size_t{1}) * elementSize, inSize - i);
            const size_t kept = std::min(literal, capacity - o);
            std::memcpy(out + o, in + i, kept);
            o += kept;
            i += literal;
        } else if (header > 128) {
            if (inSize - i < elementSize) break;
            for (size_t n = 257 - header; n > 0 && capacity - o >= elementSize; --n, o += elementSize)
                std::memcpy(out + o, in + i, elementSize);
            i += elementSize;
        }
    }
    return o;
}
