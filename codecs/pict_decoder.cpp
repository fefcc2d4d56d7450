#include "pict_decoder.h"

#include "pict_opcodes.h"
#include "pict_rows.h"

#include "imagelib/byte_order.h"
#include "imagelib/byte_source.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "imagelib/work_budget.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kPreambleSize = 512;
constexpr uint8_t kVersionOpcode = 0x11;
constexpr int kFlagBit = 0x8000;

const BGRA kWhite = OpaqueColour(255, 255, 255);
const BGRA kBlack = OpaqueColour(0, 0, 0);

[[noreturn]] void EndOfData() { throw CTextException(ERR_END_OF_DATA, "End of file reached while decoding.\n"); }

struct PictRect {
    int top = 0;
    int left = 0;
    int bottom = 0;
    int right = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// The fields of a PixMap record after its row bytes and bounds.
struct PixMapRecord {
    uint16_t version = 0;
    uint16_t packType = 0;
    uint32_t packSize = 0;
    uint16_t pixelSize = 0;
    uint16_t cmpCount = 0;
    uint16_t cmpSize = 0;
    uint32_t planeBytes = 0;
};

// Big-endian fields read through the data source.
class PictStream {
public:
    explicit PictStream(CByteSource& source) : source_(source) {}

    CByteSource& Source() { return source_; }
    uint8_t U8() { return *source_.Read(1); }
    uint16_t U16() { return ReadBE16(source_.Read(2)); }
    uint32_t U32() { return ReadBE32(source_.Read(4)); }
    void Skip(size_t count) { source_.Skip(count); }

    PictRect Rect() {
        const uint8_t* p = source_.Read(8);
        return {static_cast<int16_t>(ReadBE16(p)), static_cast<int16_t>(ReadBE16(p + 2)),
                static_cast<int16_t>(ReadBE16(p + 4)), static_cast<int16_t>(ReadBE16(p + 6))};
    }

    PixMapRecord PixMap() {
        const uint8_t* p = source_.Read(36);
        PixMapRecord r;
        r.version = ReadBE16(p);
        r.packType = ReadBE16(p + 2);
        r.packSize = ReadBE32(p + 4);
        // hRes, vRes (4 bytes each) and pixelType (2) are not used.
        r.pixelSize = ReadBE16(p + 18);
        r.cmpCount = ReadBE16(p + 20);
        r.cmpSize = ReadBE16(p + 22);
        r.planeBytes = ReadBE32(p + 24);
        // pmTable and pmReserved (4 bytes each) are not used.
        return r;
    }

    // A region or polygon: its 2-byte size counts itself.
    void SkipSized() {
        const uint16_t size = U16();
        if (size < 2) RaiseError(ERR_BAD_DATA, "PICT decoder: a region or polygon is shorter than its own size field.");
        Skip(size - 2u);
    }

    void SkipRegion() {
        Trace(3, "Skipping polygon or region.\n");
        SkipSized();
    }

    // The colour table of a PixMap as 256 colours; entries the table does not set are black.
    void ColourTable(BGRA* table) {
        Trace(3, "Getting color table info.\n");
        Skip(4);  // seed
        const uint16_t flags = U16();
        const size_t entries = (U16() + 1u) & 0xFFFF;
        Trace(2, FormatText("Palette Size:  %d\n", static_cast<int>(entries)));
        Trace(3, "Reading Palette.\n");
        std::fill(table, table + 256, kBlack);
        const uint8_t* e = source_.Read(8 * entries);
        for (size_t i = 0; i < entries; ++i, e += 8) {
            // A device table (flag bit set) lists its colours in order; others give an index.
            const size_t index = (flags & kFlagBit) ? i : ReadBE16(e);
            if (index >= entries) RaiseError(ERR_BAD_DATA, "pixel value greater than colour table size.");
            if (index < 256) table[index] = OpaqueColour(e[2], e[4], e[6]);  // high bytes of 16-bit components
        }
    }

private:
    CByteSource& source_;
};

void TracePixMap(const PictRect& b, const PixMapRecord& r) {
    Trace(2, "PixMap header info:\n");
    Trace(2, FormatText("%s (%d,%d) (%d,%d).\n", "  Bounds:", b.left, b.top, b.right, b.bottom));
    Trace(2, FormatText("  version: 0x%x\n", r.version));
    Trace(2, FormatText("  packType: %d\n", r.packType));
    Trace(2, FormatText("  packSize: %ld\n", static_cast<long>(r.packSize)));
    Trace(2, FormatText("  pixelSize: %d\n", r.pixelSize));
    Trace(2, FormatText("  cmpCount: %d\n", r.cmpCount));
    Trace(2, FormatText("  cmpSize: %d.\n", r.cmpSize));
    Trace(2, FormatText("  planeBytes: %ld.\n", static_cast<long>(r.planeBytes)));
}

void TraceReserved(int opcode) { Trace(2, FormatText("Opcode: reserved 0x%x.\n", opcode)); }

// A colour pattern (opcodes 0x12 to 0x14): read past it.
void SkipPattern(PictStream& in) {
    const uint16_t type = in.U16();
    if (type == 2) {  // dithered: an old-style pattern and an RGB colour
        in.Skip(8);
        in.Skip(5);
        return;
    }
    if (type != 1) RaiseError(ERR_BAD_DATA, "Unknown pattern type in pixPat.");
    in.Skip(8);
    const uint16_t rowBytes = in.U16() & ~kFlagBit;
    const PictRect bounds = in.Rect();
    const PixMapRecord pixMap = in.PixMap();
    BGRA table[256];
    in.ColourTable(table);
    const size_t width = static_cast<size_t>(std::max(0, bounds.Width()));
    const size_t rows = rowBytes != 0 ? rowBytes : pixMap.pixelSize == 16 ? 2 * width : width;
    SkipPictRows(in.Source(), rows, std::max(0, bounds.Height()));
}

// One decode: the opcode walk to the first image and the decode of that image.
class PictDecode {
public:
    PictDecode(CByteSource& source, CImageBitmap& bitmap, int& depth, CImageDecoder* jpeg)
        : in_(source), bitmap_(bitmap), depth_(depth), jpeg_(jpeg) {}

    void Run() {
        in_.Skip(kPreambleSize);
        in_.Skip(2);  // picture size
        in_.Skip(8);  // picture frame
        ReadVersion();
        while (!NextOpcode()) {
        }
    }

private:
    void ReadVersion() {
        uint8_t b = 0;
        do {
            b = in_.U8();
        } while (b == 0);
        if (b != kVersionOpcode) RaiseError(ERR_NOT_THIS_FORMAT, "Error decoding pict: Version number missing.");
        b = in_.U8();
        if (b == 1) {
            version_ = 1;
        } else if (b == 2 && in_.U8() == 0xFF) {
            version_ = 2;
        } else {
            RaiseError(ERR_NOT_THIS_FORMAT, "Illegal version number.");
        }
        Trace(2, FormatText("PICT version %d found.\n", version_));
    }

    // Reads and acts on one opcode; true once an image has been decoded.
    bool NextOpcode() {
        CWorkBudget::Charge();
        CByteSource& source = in_.Source();
        // Version 2 opcodes are words at even offsets.
        if (version_ == 2 && (source.Position() & 1) != 0) in_.Skip(1);
        const int op = version_ == 2 ? in_.U16() : in_.U8();
        if (op <= kLastTabledPictOpcode) return TabledOpcode(op);
        if (op == 0xFF || op == 0xFFFF) {
            Trace(2, "Opcode: End of pict.\n");
            RaiseError(ERR_FEATURE_UNAVAILABLE, "PICT contained only vector data!\n");
        }
        if (op == 0x0C00) {
            Trace(2, "Opcode: Header.\n");
            in_.Skip(24);
            return false;
        }
        if (op == 0x8200) {
            Trace(2, "Opcode: JPEG.\n");
            DecodeJpeg();
            return true;
        }
        TraceReserved(op);
        if (op <= 0xAF) {
            in_.Skip(in_.U16());
        } else if (op <= 0xCF) {
            // no data
        } else if (op <= 0xFE) {
            in_.Skip(in_.U32());
        } else if (op <= 0x7FFF) {
            in_.Skip(static_cast<size_t>(op >> 8) * 2);  // twice the high byte
        } else if (op >= 0x8100) {
            in_.Skip(in_.U32());
        }  // 0x8000 to 0x80FF carry no data
        return false;
    }

    bool TabledOpcode(int op) {
        const PictOpcodeInfo& info = PictOpcode(op);
        if (std::strcmp(info.name, "reserved") == 0)
            Trace(2, FormatText("Opcode: reserved=0x%x\n", op));
        else
            Trace(2, FormatText("Opcode: %s\n", info.name));
        switch (info.kind) {
        case PictDataKind::Fixed: in_.Skip(static_cast<size_t>(info.length)); return false;
        case PictDataKind::WordLength: in_.Skip(in_.U16()); return false;
        case PictDataKind::Handled: break;
        }
        switch (op) {
        case 0x01: in_.SkipSized(); return false;  // the clip region
        case 0x28: in_.Skip(4); in_.Skip(in_.U8()); return false;  // point, count, text
        case 0x29:
        case 0x2A: in_.Skip(1); in_.Skip(in_.U8()); return false;  // one offset, count, text
        case 0x2B: in_.Skip(2); in_.Skip(in_.U8()); return false;  // two offsets, count, text
        case 0x90:
        case 0x98: DecodeBitmap(false); return true;
        case 0x91:
        case 0x99: DecodeBitmap(true); return true;
        case 0x9A: DecodeDirect(false); return true;
        case 0x9B: DecodeDirect(true); return true;
        case 0xA1: in_.Skip(2); in_.Skip(in_.U16()); return false;  // kind, size, data
        default: break;
        }
        if (op >= 0x12 && op <= 0x14) {
            SkipPattern(in_);
        } else {  // polygons 0x70 to 0x77, regions 0x80 to 0x87
            in_.SkipRegion();
        }
        return false;
    }

    // Indexed images fit 8 bits; direct pixels always decode at 32.
    void ChooseDepth(int pixelSize) {
        ResolveDepth(pixelSize, depth_);
        depth_ = pixelSize <= 8 && depth_ != 32 ? 8 : 32;
    }

    void CreateBitmap(const PictRect& bounds, const PictRowFormat& format, bool alpha) {
        if (PictRowsMinimumBytes(format, bounds.Width(), bounds.Height()) > in_.Source().Available()) EndOfData();
        bitmap_.Create(bounds.Width(), bounds.Height(), depth_, alpha);
    }

    void DecodeBitmap(bool region) {
        const uint16_t rowBytes = in_.U16();
        if (rowBytes & kFlagBit)
            DecodePixMap(rowBytes & ~kFlagBit, region);
        else
            DecodeMonochrome(rowBytes, region);
    }

    void DecodeMonochrome(size_t rowBytes, bool region) {
        Trace(2, "Reading version 1 bitmap.\n");
        const PictRect bounds = in_.Rect();
        Trace(2, FormatText("%s (%d,%d) (%d,%d).\n", "  Bounds", bounds.top, bounds.left, bounds.bottom, bounds.right));
        in_.Skip(16);  // source and destination rectangles
        in_.Skip(2);   // transfer mode
        if (region) in_.SkipRegion();
        depth_ = depth_ == 32 ? 32 : 8;
        const PictRowFormat format{1, rowBytes, 3};
        CreateBitmap(bounds, format, false);
        // Set bits are black; the rest of an 8-bit palette keeps its grey ramp.
        BGRA table[256];
        std::copy(bitmap_.Palette(), bitmap_.Palette() + (depth_ == 8 ? 256 : 0), table);
        table[0] = kWhite;
        table[1] = kBlack;
        if (depth_ == 8) bitmap_.LoadPalette(table);
        CBitmapLock lock(bitmap_, false, true);
        ReadPictRows(in_.Source(), format, table, bitmap_);
    }

    void DecodePixMap(size_t rowBytes, bool region) {
        const PictRect bounds = in_.Rect();
        const PixMapRecord pixMap = in_.PixMap();
        TracePixMap(bounds, pixMap);
        CheckPixelSize(pixMap);
        ChooseDepth(pixMap.pixelSize);
        BGRA table[256];
        in_.ColourTable(table);
        in_.Skip(16);  // source and destination rectangles
        in_.Skip(2);   // transfer mode
        if (region) in_.SkipRegion();
        const PictRowFormat format{pixMap.pixelSize, rowBytes, pixMap.cmpCount};
        CreateBitmap(bounds, format, depth_ == 32 && pixMap.cmpCount == 4);
        if (depth_ == 8) bitmap_.LoadPalette(table);
        CBitmapLock lock(bitmap_, false, true);
        ReadPictRows(in_.Source(), format, table, bitmap_);
    }

    void DecodeDirect(bool region) {
        in_.Skip(4);  // base address
        const size_t rowBytes = in_.U16() & ~kFlagBit;
        const PictRect bounds = in_.Rect();
        const PixMapRecord pixMap = in_.PixMap();
        TracePixMap(bounds, pixMap);
        CheckPixelSize(pixMap);
        if (pixMap.pixelSize <= 8)
            RaiseError(ERR_BAD_DATA, "PICT decoder: a direct pixmap of 8 bits or fewer has no colour table.");
        ChooseDepth(pixMap.pixelSize);
        in_.Skip(18);  // source and destination rectangles, transfer mode
        if (region) in_.SkipRegion();
        const PictRowFormat format{pixMap.pixelSize, rowBytes, pixMap.cmpCount};
        CreateBitmap(bounds, format, pixMap.cmpCount == 4);
        CBitmapLock lock(bitmap_, false, true);
        ReadPictRows(in_.Source(), format, nullptr, bitmap_);
    }

    static void CheckPixelSize(const PixMapRecord& pixMap) {
        const int size = pixMap.pixelSize;
        if (size != 1 && size != 2 && size != 4 && size != 8 && size != 16 && size != 32)
            RaiseError(ERR_BAD_DATA, FormatText("Illegal bpp value in unpackbits: %d\n", size));
        if (size == 32 && pixMap.cmpCount != 3 && pixMap.cmpCount != 4)
            RaiseError(ERR_BAD_DATA, FormatText("PICT decoder: 32-bit pixels of %d components.", pixMap.cmpCount));
    }

    // QuickTime data: a description of the compressed image, then the JPEG stream itself.
    void DecodeJpeg() {
        CByteSource& source = in_.Source();
        const uint32_t length = in_.U32();
        if (depth_ == 0) depth_ = 32;
        if (length > source.Available()) EndOfData();
        const uint8_t* data = source.RemainingData();
        const uint8_t marker[] = {0xFF, 0xD8, 0xFF};
        const uint8_t* start = std::search(data, data + length, std::begin(marker), std::end(marker));
        if (start == data + length) RaiseError(ERR_FEATURE_UNAVAILABLE, "PICT file contains unrecognized quicktime data.\n");
        if (jpeg_ == nullptr) RaiseError(ERR_FEATURE_UNAVAILABLE, "Library not compiled for PICT/JPEG.");
        // The JPEG decoder sees exactly the rest of the opcode's data.
        CMemoryBlockSource stream;
        stream.Open(start, static_cast<size_t>(data + length - start));
        jpeg_->DecodeSource(stream, bitmap_, depth_);
        stream.Close();
        source.Skip(length);
    }

    PictStream in_;
    CImageBitmap& bitmap_;
    int& depth_;
    CImageDecoder* jpeg_;
    int version_ = 1;
};

}  // namespace

void CPICTDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int& depth, CByteSource& source) {
    Trace(2, "Decoding mac pict.\n");
    PictDecode(source, bitmap, depth, jpegDecoder_).Run();
}
