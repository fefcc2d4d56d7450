#include "tga_decoder.h"

#include "source_cursor.h"

#include "imagelib/byte_order.h"
#include "imagelib/byte_source.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "imagelib/work_budget.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kHeaderSize = 18;
constexpr int kMaxPacketPixels = 128;

[[noreturn]] void EndOfData() { throw CTextException(ERR_END_OF_DATA, "End of file reached while decoding.\n"); }

// How the bytes of one stored pixel become a colour.
enum class PixelKind { Index8, Rgb15, Rgb16, GreyAlpha16, Rgb24, Rgba32 };

struct TgaHeader {
    int idLength = 0;
    int colourMapType = 0;
    int imageType = 0;
    int mapFirst = 0;
    int mapLength = 0;
    int mapEntryBits = 0;
    int width = 0;
    int height = 0;
    int pixelBits = 0;
    int descriptor = 0;
    PixelKind kind = PixelKind::Index8;

    bool RunLength() const { return imageType >= 9; }
    bool Greyscale() const { return imageType == 3 || imageType == 11; }
    bool TopDown() const { return (descriptor & 0x20) != 0; }
    bool RightToLeft() const { return (descriptor & 0x10) != 0; }
    size_t PixelBytes() const { return static_cast<size_t>(pixelBits + 7) / 8; }
};

PixelKind KindOf(const TgaHeader& h) {
    const int t = h.imageType;
    if (t != 1 && t != 2 && t != 3 && t != 9 && t != 10 && t != 11) RaiseError(ERR_BAD_DATA, "Unknown TGA image type.");
    if (t == 1 || t == 9) {
        if (h.pixelBits != 8) RaiseError(ERR_CANNOT_HANDLE, "TGA decoder: colour-mapped pixels wider than 8 bits are not supported.");
        return PixelKind::Index8;
    }
    switch (h.pixelBits) {
    case 8: return PixelKind::Index8;
    case 15: return PixelKind::Rgb15;
    case 16: return h.Greyscale() ? PixelKind::GreyAlpha16 : PixelKind::Rgb16;
    case 24:
        if (!h.Greyscale()) return PixelKind::Rgb24;
        break;
    case 32:
        if (!h.Greyscale()) return PixelKind::Rgba32;
        break;
    }
    RaiseError(ERR_BAD_DATA, FormatText("TGA decoder: %d bits per pixel are not supported.", h.pixelBits));
}

// How the colour map's entries are stored; none for files without a map.
PixelKind MapEntryKind(const TgaHeader& h) {
    switch (h.mapEntryBits) {
    case 15: return PixelKind::Rgb15;
    case 16: return PixelKind::Rgb16;
    case 24: return PixelKind::Rgb24;
    case 32: return PixelKind::Rgba32;
    default: RaiseError(ERR_BAD_DATA, FormatText("TGA decoder: colour map entries of %d bits are not supported.", h.mapEntryBits));
    }
}

bool HasColourMap(const TgaHeader& h) { return h.colourMapType != 0 && h.mapLength != 0; }

// Pixels whose stored bytes carry alpha (an attribute bit or byte).
bool StoresAlpha(PixelKind kind) { return kind == PixelKind::Rgb16 || kind == PixelKind::GreyAlpha16 || kind == PixelKind::Rgba32; }

// The header and the image id, read and checked as far as they can be before the pixels:
// the image type, the pixel size, the colour map's entry size, and whether the data can hold
// the pixels (for uncompressed files exactly, for run-length ones at the best compression).
// Leaves the source at the colour map.
// wantedDepth is the depth the decode asks for (0 for its own): a picture that would take
// more than the storage limit there is refused as too large before its data is weighed.
TgaHeader ReadHeader(CByteSource& source, int wantedDepth) {
    const uint8_t* b = source.Read(kHeaderSize);
    TgaHeader h;
    h.idLength = b[0];
    h.colourMapType = b[1];
    h.imageType = b[2];
    h.mapFirst = ReadLE16(b + 3);
    h.mapLength = ReadLE16(b + 5);
    h.mapEntryBits = b[7];
    h.width = ReadLE16(b + 12);
    h.height = ReadLE16(b + 14);
    h.pixelBits = b[16];
    h.descriptor = b[17];
    source.Skip(static_cast<size_t>(h.idLength));
    h.kind = KindOf(h);
    const size_t mapBytes = HasColourMap(h) ? static_cast<size_t>(h.mapEntryBits + 7) / 8 * static_cast<size_t>(h.mapLength) : 0;
    if (HasColourMap(h)) MapEntryKind(h);
    if (h.width == 0 || h.height == 0) RaiseError(ERR_BAD_DATA, FormatText("TGA decoder: the image of %d x %d pixels is empty.", h.width, h.height));
    const int depth = h.kind == PixelKind::Index8 && wantedDepth != 32 ? 8 : 32;
    CheckBitmapStorage(h.width, h.height, depth, PaddedLineBytes(h.width, depth));
    const uint64_t pixels = static_cast<uint64_t>(h.width) * static_cast<uint64_t>(h.height);
    const uint64_t minimum = mapBytes + (h.RunLength() ? pixels / kMaxPacketPixels : pixels * h.PixelBytes());
    if (minimum > source.Available()) EndOfData();
    return h;
}

// Five bits widened over the full range (31 becomes 255), so white stays white.
uint8_t Widen5(unsigned v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }

BGRA FromRgb555(uint16_t v, uint8_t alpha) {
    return BGRA{Widen5(v & 0x1F), Widen5((v >> 5) & 0x1F), Widen5((v >> 10) & 0x1F), alpha};
}

template <PixelKind Kind>
void ConvertPixels(BGRA* out, const uint8_t* in, int count, const BGRA* table) {
    for (int x = 0; x < count; ++x) {
        if constexpr (Kind == PixelKind::Index8) {
            out[x] = table[in[x]];
        } else if constexpr (Kind == PixelKind::Rgb15) {
            out[x] = FromRgb555(ReadLE16(in + 2 * x), 255);
        } else if constexpr (Kind == PixelKind::Rgb16) {
            // Bit 15 is the attribute (alpha) bit: set means opaque.
            const uint16_t v = ReadLE16(in + 2 * x);
            out[x] = FromRgb555(v, (v & 0x8000) ? 255 : 0);
        } else if constexpr (Kind == PixelKind::GreyAlpha16) {
            out[x] = BGRA{in[2 * x], in[2 * x], in[2 * x], in[2 * x + 1]};
        } else if constexpr (Kind == PixelKind::Rgb24) {
            out[x] = BGRA{in[3 * x], in[3 * x + 1], in[3 * x + 2], 255};
        } else {
            std::memcpy(out, in, static_cast<size_t>(count) * 4);
            return;
        }
    }
}

void ConvertRow(PixelKind kind, BGRA* out, const uint8_t* in, int count, const BGRA* table) {
    switch (kind) {
    case PixelKind::Index8: return ConvertPixels<PixelKind::Index8>(out, in, count, table);
    case PixelKind::Rgb15: return ConvertPixels<PixelKind::Rgb15>(out, in, count, table);
    case PixelKind::Rgb16: return ConvertPixels<PixelKind::Rgb16>(out, in, count, table);
    case PixelKind::GreyAlpha16: return ConvertPixels<PixelKind::GreyAlpha16>(out, in, count, table);
    case PixelKind::Rgb24: return ConvertPixels<PixelKind::Rgb24>(out, in, count, table);
    case PixelKind::Rgba32: return ConvertPixels<PixelKind::Rgba32>(out, in, count, table);
    }
}

void FillGreyRamp(BGRA* table) {
    for (int i = 0; i < 256; ++i) table[i] = OpaqueColour(static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i));
}

// The colour table 8-bit pixels look up: the file's colour map, or a grey ramp for
// greyscale files and files without a map. Map entries beyond the 256 an 8-bit index
// reaches are read and dropped.
void ReadColourTable(CByteSource& source, const TgaHeader& h, BGRA* table) {
    FillGreyRamp(table);
    if (!HasColourMap(h)) return;
    const PixelKind kind = MapEntryKind(h);
    const size_t entryBytes = static_cast<size_t>(h.mapEntryBits + 7) / 8;
    const uint8_t* entries = source.Read(entryBytes * static_cast<size_t>(h.mapLength));
    std::fill(table, table + 256, OpaqueColour(0, 0, 0));
    const int used = std::clamp(256 - h.mapFirst, 0, h.mapLength);
    ConvertRow(kind, table + std::min(h.mapFirst, 256), entries, used, nullptr);
    // Indices have no alpha of their own: the bitmap of an 8-bit file is opaque.
    for (int i = 0; i < 256; ++i) table[i].a = 255;
    if (h.Greyscale()) FillGreyRamp(table);
}

// Expands run-length packets into the stored bytes of whole rows. Packets run on from one
// row into the next; what reaches past the last row is dropped.
class TgaPacketReader {
public:
    TgaPacketReader(CSourceCursor& in, size_t pixelBytes) : in_(in), pixelBytes_(pixelBytes) {}

    void Fill(uint8_t* out, int count) {
        while (count > 0) {
            if (left_ == 0) {
                const uint8_t header = in_.Byte();
                left_ = (header & 0x7F) + 1;
                run_ = (header & 0x80) != 0;
                if (run_) std::memcpy(value_, in_.Take(pixelBytes_), pixelBytes_);
            }
            const int n = std::min(left_, count);
            if (!run_) {
                std::memcpy(out, in_.Take(pixelBytes_ * static_cast<size_t>(n)), pixelBytes_ * static_cast<size_t>(n));
                out += pixelBytes_ * static_cast<size_t>(n);
            } else if (pixelBytes_ == 1) {
                std::memset(out, value_[0], static_cast<size_t>(n));
                out += n;
            } else {
                for (int i = 0; i < n; ++i, out += pixelBytes_) std::memcpy(out, value_, pixelBytes_);
            }
            left_ -= n;
            count -= n;
        }
    }

private:
    CSourceCursor& in_;
    size_t pixelBytes_;
    int left_ = 0;
    bool run_ = false;
    uint8_t value_[4] = {};
};

class TgaRowWriter {
public:
    TgaRowWriter(CImageBitmap& bitmap, const TgaHeader& h, const BGRA* table)
        : bitmap_(bitmap), h_(h), table_(table), indices_(bitmap.BitsPerPixel() == 8), alpha_(!indices_ && StoresAlpha(h.kind)) {}

    // Stores the r-th row of the file from its stored bytes.
    void Write(int r, const uint8_t* stored) {
        const int y = h_.TopDown() ? r : h_.height - 1 - r;
        if (indices_) {
            uint8_t* row = bitmap_.Line(y);
            std::memcpy(row, stored, static_cast<size_t>(h_.width));
            if (h_.RightToLeft()) std::reverse(row, row + h_.width);
            return;
        }
        BGRA* row = bitmap_.PixelLine(y);
        ConvertRow(h_.kind, row, stored, h_.width, table_);
        if (h_.RightToLeft()) std::reverse(row, row + h_.width);
        if (alpha_)
            for (int x = 0; x < h_.width; ++x) {
                alphaAnd_ &= row[x].a;
                alphaOr_ |= row[x].a;
            }
    }

    // Some pixel written so far is not opaque. Alpha that is 0 everywhere is no alpha: many
    // writers leave the attribute bits or bytes unset in pictures without transparency.
    bool Translucent() const { return alphaAnd_ != 255 && alphaOr_ != 0; }

private:
    CImageBitmap& bitmap_;
    const TgaHeader& h_;
    const BGRA* table_;
    bool indices_;
    bool alpha_;
    uint8_t alphaAnd_ = 255;
    uint8_t alphaOr_ = 0;
};

}  // namespace

void CTGADecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int& depth, CByteSource& source) {
    Trace(2, "Decoding TGA.\n");
    const TgaHeader h = ReadHeader(source, depth);
    BGRA table[256];
    ReadColourTable(source, h, table);

    // Only 8-bit pixels can become an 8-bit bitmap; all others decode at 32 bits.
    ResolveDepth(h.pixelBits, depth);
    depth = h.kind == PixelKind::Index8 && depth != 32 ? 8 : 32;

    bitmap.Create(h.width, h.height, depth, false);
    if (depth == 8) bitmap.LoadPalette(table);
    CBitmapLock lock(bitmap, false, true);
    TgaRowWriter writer(bitmap, h, table);
    const size_t pixelBytes = h.PixelBytes();
    const size_t rowBytes = pixelBytes * static_cast<size_t>(h.width);

    if (!h.RunLength()) {
        for (int r = 0; r < h.height; ++r) {
            CWorkBudget::ChargeRow(rowBytes);
            writer.Write(r, source.Read(rowBytes));
        }
    } else {
        CSourceCursor in(source);
        TgaPacketReader packets(in, pixelBytes);
        std::vector<uint8_t> stored(rowBytes);
        for (int r = 0; r < h.height; ++r) {
            CWorkBudget::ChargeRow(rowBytes);
            packets.Fill(stored.data(), h.width);
            writer.Write(r, stored.data());
            in.Commit();
        }
    }
    bitmap.SetHasAlpha(writer.Translucent());
}

void CTGADecoder::ProbeSource(CByteSource& source, ImageInfo& info) {
    const TgaHeader h = ReadHeader(source, 0);
    info.width = h.width;
    info.height = h.height;
    info.bitsPerPixel = h.pixelBits;
    info.hasAlpha = StoresAlpha(h.kind);
}
