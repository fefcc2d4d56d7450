#pragma once

#include "pixel.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

// The Windows device-independent bitmap (DIB) layout, read and written in one place for BMP
// files, clipboard blocks and the bitmaps inside metafile records: the BMP file header, the
// info headers (BITMAPCOREHEADER, the OS/2 2.x headers, BITMAPINFOHEADER and its V4/V5
// successors), colour tables, bit-field pixels and run-length data (BI_RLE4, BI_RLE8).
//
// The readers work on bytes their caller has fetched and never raise errors of their own:
// what counts as damage, and with which message, is the caller's policy, because a BMP file,
// a clipboard block and a metafile record each meet damage differently.

constexpr size_t kBmpFileHeaderSize = 14;
constexpr size_t kDibCoreHeaderSize = 12;
constexpr size_t kDibInfoHeaderSize = 40;

enum DibCompression : uint32_t {
    kDibRgb = 0,
    kDibRle8 = 1,
    kDibRle4 = 2,
    kDibBitFields = 3,
    kDibJpeg = 4,
    kDibPng = 5,
    kDibAlphaBitFields = 6,
};

struct BmpFileHeader {
    uint32_t fileSize = 0;
    uint32_t rowsOffset = 0;  // from the start of the file
};

// The 14 bytes before a packed DIB in a BMP file; false when they lack the "BM" signature.
bool ParseBmpFileHeader(std::span<const uint8_t, kBmpFileHeaderSize> bytes, BmpFileHeader& header);

struct DibInfoHeader {
    uint32_t size = 0;
    int64_t width = 0;
    int64_t height = 0;  // negative: rows stored top-down
    uint16_t planes = 1;
    uint16_t bitsPerPixel = 0;
    uint32_t compression = kDibRgb;
    uint32_t imageSize = 0;
    uint32_t xDensity = 0;  // pixels per metre
    uint32_t yDensity = 0;
    uint32_t coloursUsed = 0;
    std::array<uint32_t, 4> masks{};  // red, green, blue, alpha

    bool Core() const { return size == kDibCoreHeaderSize; }
    bool TopDown() const { return height < 0; }
    int64_t Rows() const { return height < 0 ? -height : height; }
    bool BitFields() const { return compression == kDibBitFields || compression == kDibAlphaBitFields; }
    bool RunLength() const { return compression == kDibRle8 || compression == kDibRle4; }
    bool EmbeddedPicture() const { return compression == kDibJpeg || compression == kDibPng; }
};

// Reads an info header from bytes that start with its size field. A 12-byte header is the
// OS/2 1.x core header (16-bit unsigned sizes); any other is read field by field as far as
// its size and the bytes go, the omitted fields zero, as OS/2 2.x headers stop after any
// field. Masks are taken from the header from 52 bytes on (56 for alpha).
DibInfoHeader ParseDibInfoHeader(std::span<const uint8_t> bytes);

// The bit-field masks that follow a short (under 52 bytes) info header: 12 bytes, 16 with
// compression 6 (alpha), none otherwise.
size_t DibMaskBytesAfterHeader(const DibInfoHeader& header);
void ReadDibMasksAfterHeader(std::span<const uint8_t> bytes, DibInfoHeader& header);

// Entries of the colour table behind the header: the colour count, or 2^depth for indexed
// pixels when it is 0. Uncompressed true-colour bitmaps may carry a table for palette
// devices; bit-field bitmaps and embedded pictures have none.
uint64_t DibColourTableEntries(const DibInfoHeader& header);
// Core headers store blue, green, red; the others blue, green, red and a reserved byte.
inline size_t DibColourEntrySize(const DibInfoHeader& header) { return header.Core() ? 3 : 4; }
// Colour table bytes of a DIB this library writes: 2^depth entries of 4 bytes up to 8 bits.
inline size_t DibColourTableBytes(int depth) { return depth <= 8 ? size_t{4} << depth : 0; }

// Turns the entries in bytes into table, as many as both hold, all opaque (the reserved byte
// carries no meaning); table entries past them become opaque black. Returns the number read.
size_t ReadDibColourTable(std::span<const uint8_t> bytes, size_t entrySize, std::span<BGRA> table);

// Unpacks count indices of 1, 2, 4 or 8 bits, the leftmost pixel in the high bits of each
// byte; returns the largest, so callers check a whole row against their table at once.
uint8_t UnpackDibIndices(const uint8_t* in, int bits, int count, uint8_t* out);

// 24-bit rows: blue, green, red to opaque BGRA.
void ConvertDibRow24(const uint8_t* in, int count, BGRA* out);

// The masks that split 16- and 32-bit pixel words into channels: the header's for bit
// fields; 5-5-5 for plain 16 bits (bit 15 unused) and 8-8-8 with the fourth byte as alpha
// for plain 32 bits.
std::array<uint32_t, 4> DibPixelMasks(const DibInfoHeader& header);

// Pixel words split by masks. A channel narrower than 8 bits is widened by copying its top
// bits into the low bits, so full scale stays full scale (5-bit 31 and 6-bit 63 are 255,
// white stays white); a wider one keeps its top 8 bits. Without an alpha mask pixels are
// opaque.
class DibBitFields {
public:
    DibBitFields(const std::array<uint32_t, 4>& masks, int bitsPerPixel);

    bool HasAlphaMask() const { return alpha_.mask != 0; }
    BGRA operator()(uint32_t word) const {
        return BGRA{blue_(word), green_(word), red_(word), alpha_.mask != 0 ? alpha_(word) : uint8_t{255}};
    }
    // Converts count pixels of 2 or 4 bytes; returns the OR of the alpha values they hold
    // (255 without an alpha mask). opaque writes alpha 255 whatever they hold.
    uint8_t ConvertRow(const uint8_t* in, int count, BGRA* out, bool opaque = false) const;

private:
    // A field's top eight bits (or all of a narrower one) index the table of its 8-bit values.
    struct Channel {
        uint32_t mask = 0;
        int shift = 0;
        std::array<uint8_t, 256> widened{};

        explicit Channel(uint32_t m);
        uint8_t operator()(uint32_t word) const { return widened[((word & mask) >> shift) & 0xFF]; }
    };

    template <int BytesPerPixel, bool Alpha>
    uint8_t SplitRow(const uint8_t* in, size_t count, BGRA* out, uint8_t forced) const;

    Channel red_, green_, blue_, alpha_;
    int bytesPerPixel_;
    bool plainBgra_;  // the masks of plain 32 bits: rows copy as they are
};

// Run-length data of 4 (BI_RLE4) or 8 (BI_RLE8) bits per pixel. Runs are counted from the
// first stored row, the bottom one. How damage is met:
enum class DibRunCheck {
    // a file: runs must stay within each row's 4-byte padding and the rows, deltas within
    // the bitmap, and the data must end with its end-of-bitmap escape
    Strict,
    // a record: pixels outside the bitmap are dropped; decoding stops at the last row, at
    // the end-of-bitmap escape or where the data runs out
    Clip,
};

enum class DibRunEnd {
    EndOfBitmap,   // the end-of-bitmap escape
    RowsFilled,    // Clip: every row reached
    DataEnded,     // the data ran out between two runs
    DataCut,       // the data ran out inside an escape
    RunPastRow,    // Strict: a run went past its row's padding or the last row
    DeltaPastEnd,  // Strict: a delta moved past the bitmap's right or top edge
};

struct DibRunLengthResult {
    DibRunEnd end = DibRunEnd::EndOfBitmap;
    size_t consumed = 0;  // bytes of data read
};

// Receives the pixels of one run inside the bitmap's width: the run's row (0 is the first
// stored), its first column and its colour indices (never none).
using DibRunTarget = std::function<void(int row, int x, std::span<const uint8_t> indices)>;

// Decodes run-length data into the target. Pixels the runs skip (deltas, rows ended early)
// are not passed; each run and escape charges the decode's work budget one unit.
DibRunLengthResult DecodeDibRunLength(std::span<const uint8_t> data, int bitsPerPixel, int width, int height,
                                      DibRunCheck check, const DibRunTarget& target);

// Writers. The 14-byte file header: a size of 4 GiB or more cannot be stated and is written
// as the largest value (readers go by the info header then).
void WriteBmpFileHeader(uint8_t* out, uint64_t fileSize, uint64_t rowsOffset);
// The 40-byte info header of uncompressed rows stored bottom-up; the fields after the depth
// are zero (no compression, densities or colour count).
void WriteDibInfoHeader(uint8_t* out, int width, int height, int depth);
// One stored row of a bitmap line, padded with zeros to the row's 4-byte length: indices
// of 1 or 8 bits as they are, BGRA pixels (32 bits) as 24-bit blue, green, red.
void PackDibRow(const uint8_t* line, int width, int depth, std::span<uint8_t> row);
