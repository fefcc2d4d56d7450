#include "pict_decoder.h"

#include "pict_canvas.h"
#include "pict_drawing.h"
#include "pict_opcodes.h"
#include "pict_region.h"
#include "pict_rows.h"

#include "imagelib/byte_order.h"
#include "imagelib/byte_source.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "imagelib/work_budget.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <span>

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

// Where a bitmap goes on the picture: its source rectangle (in its bounds' coordinates)
// scaled onto its destination rectangle.
struct PictPlacement {
    PictRect bounds;
    PictRect source;
    PictRect destination;
    int mode = 0;

    QRectF SourceInImage() const {
        return QRectF(source.left - bounds.left, source.top - bounds.top, source.Width(), source.Height());
    }
    QRectF Destination() const { return QRectF(destination.left, destination.top, destination.Width(), destination.Height()); }
};

// What the first walk over a picture finds: how many bitmaps, whether anything is drawn, and
// the finest resolution among the bitmaps (pixels per picture unit).
struct PictLayout {
    int images = 0;
    bool drawing = false;
    double scale = 1;
    QRect frame;
    QRect destinations;  // all bitmaps' destinations together
};

// A canvas finer than this many pixels per picture unit holds nothing a picture needs.
constexpr double kFinestScale = 16;

QRect ToQRect(const PictRect& r) { return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1)); }

// Copies a 32-bit bitmap (or an 8-bit one through its palette) into an opaque image.
QImage ToImage(const CImageBitmap& bitmap) {
    QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
    if (image.isNull()) RaiseError(ERR_OUT_OF_MEMORY, "Cannot allocate memory bitmap.");
    for (int y = 0; y < bitmap.Height(); ++y) {
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < bitmap.Width(); ++x) {
            const BGRA c = bitmap.BitsPerPixel() == 8 ? bitmap.Palette()[bitmap.Line(y)[x]] : bitmap.PixelLine(y)[x];
            out[x] = qRgb(c.r, c.g, c.b);
        }
    }
    return image;
}

// The opcode walk over a picture. It runs twice: a scan that reads every opcode but decodes
// no pixels, to learn the picture's layout, then either the decode of its one bitmap (a
// picture holding just that shows it at the bitmap's own size and depth) or the drawing of
// the whole picture on a canvas.
class PictDecode {
public:
    enum class Pass { Scan, SingleImage, Canvas };

    PictDecode(CByteSource& source, CImageBitmap& bitmap, int& depth, CImageDecoder* jpeg)
        : in_(source), bitmap_(bitmap), depth_(depth), jpeg_(jpeg) {}

    void Run() {
        in_.Skip(kPreambleSize);
        in_.Skip(2);  // picture size
        const PictRect frame = in_.Rect();
        CByteSource& source = in_.Source();
        const std::span<const uint8_t> body(source.RemainingData(), source.Available());
        layout_.frame = ToQRect(frame);

        Walk(body, Pass::Scan);
        if (layout_.images == 0 && !layout_.drawing) {
            Trace(2, "Opcode: End of pict.\n");
            RaiseError(ERR_FEATURE_UNAVAILABLE, "PICT contained only vector data!\n");
        }
        if (layout_.images == 1 && !layout_.drawing) {
            Walk(body, Pass::SingleImage);
            if (!shown_) RaiseError(ERR_BAD_DATA, "PICT decoder: the picture's image could not be read.");
        } else {
            QRect canvasFrame = layout_.frame.isValid() ? layout_.frame : layout_.destinations;
            if (!canvasFrame.isValid()) RaiseError(ERR_BAD_DATA, "PICT decoder: the picture frame is empty.");
            canvas_ = std::make_unique<PictCanvas>(canvasFrame, layout_.scale);
            drawing_ = std::make_unique<PictDrawing>(canvas_->Painter());
            Walk(body, Pass::Canvas);
            canvas_->CopyTo(bitmap_);
            depth_ = 32;
        }
        source.Skip(body.size());
    }

private:
    void Walk(std::span<const uint8_t> body, Pass pass) {
        pass_ = pass;
        afterQuickTime_ = fallback_ = false;
        CMemoryBlockSource source;
        source.Open(body.data(), body.size());
        PictStream stream(source);
        walk_ = &stream;
        ReadVersion();
        for (;;) {
            const size_t at = source.Position();
            if (pass != Pass::Scan && at >= end_) break;
            try {
                if (NextOpcode()) break;
            } catch (const CTextException& e) {
                // Damage after something showable ends the picture there; before, the file.
                const bool damage = e.Code() == ERR_BAD_DATA || e.Code() == ERR_END_OF_DATA;
                if (pass != Pass::Scan || !HasContent() || !damage) throw;
                Trace(2, "PICT data damaged; showing what comes before.\n");
                end_ = at;
                break;
            }
        }
        walk_ = nullptr;
        source.Close();
    }

    PictStream& In() { return *walk_; }

    // Something has been found that the picture can show when its data ends early.
    bool HasContent() const { return layout_.images > 0 || layout_.drawing; }

    void ReadVersion() {
        uint8_t b = 0;
        do {
            b = In().U8();
        } while (b == 0);
        if (b != kVersionOpcode) RaiseError(ERR_NOT_THIS_FORMAT, "Error decoding pict: Version number missing.");
        b = In().U8();
        if (b == 1) {
            version_ = 1;
        } else if (b == 2 && In().U8() == 0xFF) {
            version_ = 2;
        } else {
            RaiseError(ERR_NOT_THIS_FORMAT, "Illegal version number.");
        }
        Trace(2, FormatText("PICT version %d found.\n", version_));
    }

    // Reads and acts on one opcode; true at the end of the walk.
    bool NextOpcode() {
        CWorkBudget::Charge();
        CByteSource& source = In().Source();
        // Version 2 opcodes are words at even offsets.
        if (version_ == 2 && (source.Position() & 1) != 0 && source.Available() > 0) In().Skip(1);
        // A picture cut short between opcodes shows what it has drawn so far.
        if (source.Available() < static_cast<size_t>(version_) && HasContent()) return true;
        const int op = version_ == 2 ? In().U16() : In().U8();
        // A QuickTime image is followed by what readers without QuickTime show instead (a
        // bitmap, or a line of text saying what is missing), which those with it pass over:
        // everything drawn up to the next QuickTime image or the end.
        fallback_ = afterQuickTime_;
        if (op <= kLastTabledPictOpcode) return TabledOpcode(op);
        if (op == 0xFF || op == 0xFFFF) return true;
        if (op == 0x0C00) {
            Trace(2, "Opcode: Header.\n");
            ReadHeader();
            return false;
        }
        if (op == 0x8200) {
            Trace(2, "Opcode: JPEG.\n");
            return Jpeg();
        }
        TraceReserved(op);
        if (op <= 0xAF) {
            In().Skip(In().U16());
        } else if (op <= 0xCF) {
            // no data
        } else if (op <= 0xFE) {
            In().Skip(In().U32());
        } else if (op <= 0x7FFF) {
            In().Skip(static_cast<size_t>(op >> 8) * 2);  // twice the high byte
        } else if (op >= 0x8100) {
            In().Skip(In().U32());
        }  // 0x8000 to 0x80FF carry no data
        return false;
    }

    // The extended version 2 header gives the picture's rectangle at its own resolution, in
    // which its opcodes are written; the frame before it is at 72 dots per inch.
    void ReadHeader() {
        const uint8_t* p = In().Source().Read(24);
        if (pass_ != Pass::Scan || static_cast<int16_t>(ReadBE16(p)) != -2) return;
        const PictRect r{static_cast<int16_t>(ReadBE16(p + 12)), static_cast<int16_t>(ReadBE16(p + 14)),
                         static_cast<int16_t>(ReadBE16(p + 16)), static_cast<int16_t>(ReadBE16(p + 18))};
        if (r.Width() > 0 && r.Height() > 0) layout_.frame = ToQRect(r);
    }

    bool TabledOpcode(int op) {
        const PictOpcodeInfo& info = PictOpcode(op);
        if (std::strcmp(info.name, "reserved") == 0)
            Trace(2, FormatText("Opcode: reserved=0x%x\n", op));
        else
            Trace(2, FormatText("Opcode: %s\n", info.name));
        CByteSource& source = In().Source();
        size_t length = info.kind == PictDataKind::WordLength ? In().U16() : static_cast<size_t>(info.length);
        const uint8_t* data = source.RemainingData();
        const size_t before = source.Position();
        if (info.kind == PictDataKind::Handled) {
            switch (op) {
            case 0x90:
            case 0x98: return Bitmap(false);
            case 0x91:
            case 0x99: return Bitmap(true);
            case 0x9A: return Direct(false);
            case 0x9B: return Direct(true);
            case 0xA1: In().Skip(2); In().Skip(In().U16()); return false;  // kind, size, data
            case 0x01: In().SkipSized(); break;                            // the clip region
            case 0x28: In().Skip(4); In().Skip(In().U8()); break;           // point, count, text
            case 0x29:
            case 0x2A: In().Skip(1); In().Skip(In().U8()); break;  // one offset, count, text
            case 0x2B: In().Skip(2); In().Skip(In().U8()); break;  // two offsets, count, text
            default:
                if (op >= 0x12 && op <= 0x14)
                    SkipPattern(In());
                else  // polygons 0x70 to 0x77, regions 0x80 to 0x87
                    In().SkipRegion();
                break;
            }
            length = source.Position() - before;
        } else {
            In().Skip(length);
        }
        Draw(op, std::span<const uint8_t>(data, length));
        return false;
    }

    // A drawing opcode: noted by the scan, played on the canvas.
    void Draw(int op, std::span<const uint8_t> data) {
        if (fallback_ && PictDrawing::Draws(op)) return;
        if (pass_ == Pass::Scan) {
            if (PictDrawing::Draws(op)) layout_.drawing = true;
            return;
        }
        if (drawing_) drawing_->Play(op, data);
    }

    // Indexed images fit 8 bits; direct pixels always decode at 32.
    static void ChooseDepth(int pixelSize, int& depth) {
        ResolveDepth(pixelSize, depth);
        depth = pixelSize <= 8 && depth != 32 ? 8 : 32;
    }

    // The placement and transfer mode after a bitmap's header, and its mask region.
    PictPlacement ReadPlacement(const PictRect& bounds, bool region) {
        PictPlacement placement;
        placement.bounds = bounds;
        placement.source = In().Rect();
        placement.destination = In().Rect();
        placement.mode = In().U16();
        mask_.reset();
        if (region) {
            Trace(3, "Skipping polygon or region.\n");
            if (In().Source().Available() < 2) EndOfData();
            const uint16_t size = ReadBE16(In().Source().Peek(2));
            if (size < 2) RaiseError(ERR_BAD_DATA, "PICT decoder: a region or polygon is shorter than its own size field.");
            const uint8_t* record = In().Source().Read(size);
            if (pass_ == Pass::Canvas) mask_ = PictRegion(std::span<const uint8_t>(record, size));
        }
        return placement;
    }

    // Notes a bitmap during the scan: the finest resolution any of them is shown at.
    void Measure(const PictPlacement& p, int pixelWidth, int pixelHeight) {
        ++layout_.images;
        const int width = p.destination.Width();
        const int height = p.destination.Height();
        if (width <= 0 || height <= 0) return;
        layout_.destinations |= ToQRect(p.destination);
        const double sx = (p.source.Width() > 0 ? p.source.Width() : pixelWidth) / static_cast<double>(width);
        const double sy = (p.source.Height() > 0 ? p.source.Height() : pixelHeight) / static_cast<double>(height);
        layout_.scale = std::clamp(std::max({layout_.scale, sx, sy}), 1.0, kFinestScale);
    }

    // The image of a bitmap opcode: the picture's own bitmap, or a scratch one for the canvas.
    CImageBitmap& Target() { return pass_ == Pass::SingleImage ? bitmap_ : scratch_; }
    int& TargetDepth() {
        if (pass_ == Pass::Canvas) scratchDepth_ = 32;
        return pass_ == Pass::SingleImage ? depth_ : scratchDepth_;
    }

    // Reads the pixel rows of a bitmap (or passes over them in the scan); true when the walk
    // ends with it.
    bool Rows(const PictPlacement& placement, const PictRowFormat& format, const BGRA* table, bool alpha) {
        const PictRect& bounds = placement.bounds;
        if (PictRowsMinimumBytes(format, bounds.Width(), bounds.Height()) > In().Source().Available()) EndOfData();
        if (pass_ == Pass::Scan || fallback_) {
            SkipPictPixelRows(In().Source(), format, bounds.Width(), bounds.Height());
            if (!fallback_) Measure(placement, bounds.Width(), bounds.Height());
            return false;
        }
        CImageBitmap& target = Target();
        target.Create(bounds.Width(), bounds.Height(), TargetDepth(), alpha);
        if (target.BitsPerPixel() == 8) target.LoadPalette(table);
        {
            CBitmapLock lock(target, false, true);
            ReadPictRows(In().Source(), format, table, target);
        }
        if (pass_ == Pass::SingleImage) return shown_ = true;
        Place(ToImage(scratch_), placement, format.pixelSize == 1);
        return false;
    }

    void Place(const QImage& image, const PictPlacement& p, bool monochrome) {
        constexpr int kSrcOr = 1;
        constexpr int kTransparent = 36;
        const bool transparentWhite = monochrome && (p.mode == kSrcOr || p.mode == kTransparent);
        canvas_->DrawImage(image, p.SourceInImage(), p.Destination(), mask_ ? &*mask_ : nullptr, transparentWhite);
    }

    bool Bitmap(bool region) {
        const uint16_t rowBytes = In().U16();
        if (rowBytes & kFlagBit) return PixMap(rowBytes & ~kFlagBit, region);
        return Monochrome(rowBytes, region);
    }

    bool Monochrome(size_t rowBytes, bool region) {
        Trace(2, "Reading version 1 bitmap.\n");
        const PictRect bounds = In().Rect();
        Trace(2, FormatText("%s (%d,%d) (%d,%d).\n", "  Bounds", bounds.top, bounds.left, bounds.bottom, bounds.right));
        const PictPlacement placement = ReadPlacement(bounds, region);
        int& depth = TargetDepth();
        depth = depth == 32 ? 32 : 8;
        // Set bits are black; the rest of an 8-bit palette keeps its grey ramp.
        BGRA table[256];
        for (int i = 0; i < 256; ++i) table[i] = OpaqueColour(static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i));
        table[0] = kWhite;
        table[1] = kBlack;
        return Rows(placement, PictRowFormat{1, rowBytes, 3}, table, false);
    }

    bool PixMap(size_t rowBytes, bool region) {
        const PictRect bounds = In().Rect();
        const PixMapRecord pixMap = In().PixMap();
        TracePixMap(bounds, pixMap);
        CheckPixelSize(pixMap);
        ChooseDepth(pixMap.pixelSize, TargetDepth());
        BGRA table[256];
        In().ColourTable(table);
        const PictPlacement placement = ReadPlacement(bounds, region);
        const bool alpha = TargetDepth() == 32 && pixMap.cmpCount == 4;
        return Rows(placement, PictRowFormat{pixMap.pixelSize, rowBytes, pixMap.cmpCount}, table, alpha);
    }

    bool Direct(bool region) {
        In().Skip(4);  // base address
        const size_t rowBytes = In().U16() & ~kFlagBit;
        const PictRect bounds = In().Rect();
        const PixMapRecord pixMap = In().PixMap();
        TracePixMap(bounds, pixMap);
        CheckPixelSize(pixMap);
        if (pixMap.pixelSize <= 8)
            RaiseError(ERR_BAD_DATA, "PICT decoder: a direct pixmap of 8 bits or fewer has no colour table.");
        ChooseDepth(pixMap.pixelSize, TargetDepth());
        const PictPlacement placement = ReadPlacement(bounds, region);
        return Rows(placement, PictRowFormat{pixMap.pixelSize, rowBytes, pixMap.cmpCount}, nullptr,
                    pixMap.cmpCount == 4);
    }

    static void CheckPixelSize(const PixMapRecord& pixMap) {
        const int size = pixMap.pixelSize;
        if (size != 1 && size != 2 && size != 4 && size != 8 && size != 16 && size != 32)
            RaiseError(ERR_BAD_DATA, FormatText("Illegal bpp value in unpackbits: %d\n", size));
        if (size == 32 && pixMap.cmpCount != 3 && pixMap.cmpCount != 4)
            RaiseError(ERR_BAD_DATA, FormatText("PICT decoder: 32-bit pixels of %d components.", pixMap.cmpCount));
    }

    // QuickTime data: a matrix and a source rectangle, matte and mask, a description of the
    // compressed image, then the JPEG stream itself. True when the walk ends with it.
    bool Jpeg() {
        CByteSource& source = In().Source();
        const uint32_t length = In().U32();
        if (length > source.Available()) EndOfData();
        const uint8_t* data = source.RemainingData();
        const uint8_t marker[] = {0xFF, 0xD8, 0xFF};
        const uint8_t* start = std::search(data, data + length, std::begin(marker), std::end(marker));
        if (start == data + length) RaiseError(ERR_FEATURE_UNAVAILABLE, "PICT file contains unrecognized quicktime data.\n");
        if (jpeg_ == nullptr) RaiseError(ERR_FEATURE_UNAVAILABLE, "Library not compiled for PICT/JPEG.");
        const PictPlacement placement = QuickTimePlacement(std::span<const uint8_t>(data, length));
        afterQuickTime_ = true;
        if (pass_ == Pass::Scan) {
            source.Skip(length);
            Measure(placement, placement.bounds.Width(), placement.bounds.Height());
            return false;
        }
        int& depth = TargetDepth();
        if (depth == 0) depth = 32;
        // The JPEG decoder sees exactly the rest of the opcode's data.
        CMemoryBlockSource stream;
        stream.Open(start, static_cast<size_t>(data + length - start));
        jpeg_->DecodeSource(stream, Target(), depth);
        stream.Close();
        source.Skip(length);
        if (pass_ == Pass::SingleImage) return shown_ = true;
        const QImage image = ToImage(scratch_);
        PictPlacement whole = placement;
        whole.bounds = whole.source = PictRect{0, 0, image.height(), image.width()};
        mask_.reset();
        Place(image, whole, false);
        return false;
    }

    // Where the QuickTime image goes: its source rectangle moved by the matrix's translation
    // and scaled by its diagonal; bounds get the image's size from its description.
    static PictPlacement QuickTimePlacement(std::span<const uint8_t> data) {
        constexpr size_t kFixedPart = 68;
        PictPlacement p;
        if (data.size() < kFixedPart) return p;
        const auto fixed = [&](size_t at) { return static_cast<int32_t>(ReadBE32(data.data() + at)) / 65536.0; };
        const auto s16 = [&](size_t at) { return static_cast<int>(static_cast<int16_t>(ReadBE16(data.data() + at))); };
        // A matrix left all zero (some writers do) stands for no transformation.
        const double sx = fixed(2) != 0 ? fixed(2) : 1;
        const double sy = fixed(2 + 16) != 0 ? fixed(2 + 16) : 1;
        const double tx = fixed(2 + 24);
        const double ty = fixed(2 + 28);
        p.source = PictRect{s16(52), s16(54), s16(56), s16(58)};
        const auto place = [](int v, double scale, double shift) { return static_cast<int>(std::lround(v * scale + shift)); };
        p.destination = PictRect{place(p.source.top, sy, ty), place(p.source.left, sx, tx), place(p.source.bottom, sy, ty),
                                 place(p.source.right, sx, tx)};
        const uint64_t description = kFixedPart + uint64_t{ReadBE32(data.data() + 38)} + ReadBE32(data.data() + 64);
        p.bounds = p.source;
        if (description + 36 <= data.size()) {
            const auto at = static_cast<size_t>(description);
            p.bounds = PictRect{0, 0, s16(at + 34), s16(at + 32)};
        }
        return p;
    }

    PictStream in_;
    CImageBitmap& bitmap_;
    int& depth_;
    CImageDecoder* jpeg_;
    PictStream* walk_ = nullptr;
    Pass pass_ = Pass::Scan;
    int version_ = 1;
    bool afterQuickTime_ = false;
    bool fallback_ = false;  // what is being read stands in for a QuickTime image
    bool shown_ = false;     // the single image has been decoded
    PictLayout layout_;
    size_t end_ = SIZE_MAX;  // where the walks after the scan stop
    std::unique_ptr<PictCanvas> canvas_;
    std::unique_ptr<PictDrawing> drawing_;
    CMemBitmap scratch_;
    int scratchDepth_ = 32;
    std::optional<QRegion> mask_;
};

}  // namespace

void CPICTDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int& depth, CByteSource& source) {
    Trace(2, "Decoding mac pict.\n");
    PictDecode(source, bitmap, depth, jpegDecoder_).Run();
}
