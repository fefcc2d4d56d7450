#include "dib_bitmap.h"

#include "byte_order.h"
#include "storage_limit.h"
#include "text_exception.h"
#include "trace.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QList>
#include <QMimeData>
#include <QRect>
#include <QString>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace {

[[noreturn]] void BadDib(const char* text) { throw CTextException(ERR_BAD_DATA, text); }

}  // namespace

CDIBitmap::CDIBitmap() { Create(16, 16, 8, false); }

CDIBitmap::~CDIBitmap() = default;

size_t CDIBitmap::BytesPerLine() const { return PaddedLineBytes(Width(), BitsPerPixel()); }

size_t CDIBitmap::MemoryUsed() const {
    return static_cast<size_t>(Height()) * BytesPerLine() + kDibInfoHeaderSize + ColourTableBytes(BitsPerPixel()) + 48;
}

void CDIBitmap::FillInfoHeader(uint8_t* info, int width, int height, int depth) {
    WriteDibInfoHeader(info, width, height, depth);
}

void CDIBitmap::AllocateStorage(int width, int height, int depth, bool hasAlpha) {
    const size_t bytes = kDibInfoHeaderSize + ColourTableBytes(depth) + static_cast<size_t>(height) * PaddedLineBytes(width, depth);
    block_.reset(new (std::nothrow) uint8_t[bytes]);
    if (!block_) throw CTextException(ERR_OUT_OF_MEMORY, "Out of memory creating bitmap.");
    FillInfoHeader(block_.get(), width, height, depth);
    info_ = block_.get();
    Lock(true, true);
    storageLocked_ = true;
    LocatePaletteAndBits();
    FinishCreate(width, height, depth, hasAlpha);
}

void CDIBitmap::FreeStorage() {
    block_.reset();
    info_ = nullptr;
    bits_ = nullptr;
    SetPalettePointer(nullptr);
    LineArray().clear();
    if (storageLocked_) {
        storageLocked_ = false;
        Unlock();
    }
}

void CDIBitmap::LocatePaletteAndBits() {
    const int depth = ReadLE16(info_ + 14);
    SetPalettePointer(depth <= 8 ? reinterpret_cast<BGRA*>(info_ + kDibInfoHeaderSize) : nullptr);
    bits_ = info_ + kDibInfoHeaderSize + ColourTableBytes(depth);
}

void CDIBitmap::BuildLineArray() {
    const size_t stride = BytesPerLine();
    auto& lines = LineArray();
    lines.resize(static_cast<size_t>(Height()));
    for (size_t y = 0; y < lines.size(); ++y) lines[y] = bits_ + (lines.size() - 1 - y) * stride;
}

QImage CDIBitmap::WrapRows(uint8_t* firstRow, QImageCleanupFunction cleanup, void* cleanupInfo) const {
    if (firstRow == nullptr || Width() <= 0 || Height() <= 0) return {};
    const QImage::Format format = BitsPerPixel() == 32  ? QImage::Format_RGB32
                                  : BitsPerPixel() == 8 ? QImage::Format_Indexed8
                                                        : QImage::Format_Mono;
    QImage image(firstRow, Width(), Height(), static_cast<qsizetype>(BytesPerLine()), format, cleanup, cleanupInfo);
    if (const BGRA* palette = Palette()) {
        // The reserved byte of a DIB colour table carries no meaning: every entry shows opaque.
        QList<QRgb> table(PaletteEntries(BitsPerPixel()));
        for (qsizetype i = 0; i < table.size(); ++i) table[i] = qRgb(palette[i].r, palette[i].g, palette[i].b);
        image.setColorTable(table);
    }
    return image;
}

QImage CDIBitmap::DrawingImage() {
    // The block stores the bottom row first; Qt wants the top row first.
    return WrapRows(bits_).mirrored(false, true);
}

bool CDIBitmap::Draw(QPainter& dc, int x, int y, QPainter::CompositionMode rasterOp) {
    return DrawStretched(dc, x, y, Width(), Height(), rasterOp);
}

bool CDIBitmap::StretchDraw(QPainter& dc, int x, int y, int width, int height, QPainter::CompositionMode rasterOp) {
    return DrawStretched(dc, x, y, width, height, rasterOp);
}

bool CDIBitmap::DrawScaled(QPainter& dc, int x, int y, double factor, QPainter::CompositionMode rasterOp) {
    const double width = factor * Width();
    const double height = factor * Height();
    constexpr double kMax = std::numeric_limits<int>::max();
    if (!(width >= 0 && height >= 0 && width <= kMax && height <= kMax)) return false;
    return DrawStretched(dc, x, y, static_cast<int>(width), static_cast<int>(height), rasterOp);
}

bool CDIBitmap::DrawStretched(QPainter& dc, int x, int y, int width, int height, QPainter::CompositionMode rasterOp) {
    if (!dc.isActive() || width <= 0 || height <= 0) return false;
    const QImage image = DrawingImage();
    if (image.isNull()) return false;
    dc.save();
    dc.setCompositionMode(rasterOp);
    const QRect target(x, y, width, height);
    if (width == image.width() && height == image.height()) {
        dc.drawImage(target.topLeft(), image);
    } else if (static_cast<int64_t>(width) * height <= static_cast<int64_t>(image.width()) * image.height()) {
        // Reducing: Qt's smooth scaling averages every source pixel that falls into a target
        // pixel, where the painter's own filter would only sample a few of them.
        dc.drawImage(target.topLeft(), image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    } else {
        // Enlarging: bilinear, computed by the painter for the visible pixels only, so a deep
        // zoom never builds the whole enlarged picture.
        dc.setRenderHint(QPainter::SmoothPixmapTransform, true);
        dc.drawImage(target, image);
    }
    dc.restore();
    return true;
}

bool CDIBitmap::DrawRegion(QPainter& dc, int x, int y, const QRect& sourceRect) {
    const QRect part = sourceRect.intersected(QRect(0, 0, Width(), Height()));
    if (!dc.isActive() || part.isEmpty()) return false;
    const QImage image = DrawingImage();
    if (image.isNull()) return false;
    dc.save();
    dc.setCompositionMode(kCopyPixels);
    dc.drawImage(QPoint(x + part.left() - sourceRect.left(), y + part.top() - sourceRect.top()), image, part);
    dc.restore();
    return true;
}

void CDIBitmap::CreateFromPackedDIB(std::span<const uint8_t> packedDib) { CreateFromDib(packedDib, 0, false); }

void CDIBitmap::CreateFromDib(std::span<const uint8_t> dib, size_t bitsOffset, bool offsetGiven) {
    if (dib.size() < 4) BadDib("The packed DIB is too short for its header.");
    const uint32_t headerSize = ReadLE32(dib.data());
    if (headerSize == kDibCoreHeaderSize)
        throw CTextException(ERR_CANNOT_HANDLE, "Packed DIBs with OS/2 headers are not supported.");
    if (headerSize < kDibInfoHeaderSize || headerSize > dib.size()) BadDib("The packed DIB has an invalid header size.");
    const DibInfoHeader h = ParseDibInfoHeader(dib.first(headerSize));
    const int depth = h.bitsPerPixel;
    if (h.width <= 0 || h.height == 0 || h.height == std::numeric_limits<int32_t>::min())
        BadDib("The packed DIB has an invalid size.");
    if (depth != 1 && depth != 8 && depth != 32)
        throw CTextException(ERR_CANNOT_HANDLE, FormatText("Packed DIBs of %d bits per pixel are not supported.", depth));
    if (h.compression != kDibRgb) throw CTextException(ERR_CANNOT_HANDLE, "Compressed packed DIBs are not supported.");

    // True-colour DIBs may carry a colour table for palette devices; it is skipped.
    const uint64_t tableEntries = DibColourTableEntries(h);
    if (depth <= 8 && tableEntries > static_cast<uint64_t>(PaletteEntries(depth)))
        BadDib("The packed DIB's colour table is too long.");
    if (tableEntries > (dib.size() - headerSize) / 4) BadDib("The packed DIB ends inside its colour table.");
    const uint64_t rowsOffset = offsetGiven ? bitsOffset : headerSize + 4 * tableEntries;
    const auto rows = static_cast<uint64_t>(h.Rows());
    const uint64_t lineBytes = PaddedLineBytes(h.width, depth);
    if (rowsOffset > dib.size() || rows > (dib.size() - rowsOffset) / lineBytes)
        BadDib("The packed DIB ends before its last row.");

    Create(static_cast<int>(h.width), static_cast<int>(rows), depth, false);
    CBitmapLock lock(*this, false, true);
    if (BGRA* palette = Palette())
        ReadDibColourTable(dib.subspan(headerSize, 4 * tableEntries), 4, {palette, tableEntries});
    const uint8_t* firstStored = dib.data() + rowsOffset;
    for (uint64_t y = 0; y < rows; ++y) {
        const uint64_t stored = h.TopDown() ? y : rows - 1 - y;
        std::memcpy(Line(static_cast<int>(y)), firstStored + stored * lineBytes, lineBytes);
    }
}

void CDIBitmap::LoadResourceBitmap(const QString& resourceName) {
    QFile file(resourceName);
    if (!file.open(QIODevice::ReadOnly))
        throw CTextException(ERR_CANNOT_OPEN,
                             FormatText("The bitmap resource %s cannot be opened.", resourceName.toUtf8().constData()));
    const QByteArray bytes = file.readAll();
    const std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()));
    BmpFileHeader header;
    if (data.size() < kBmpFileHeaderSize || !ParseBmpFileHeader(data.first<kBmpFileHeaderSize>(), header))
        throw CTextException(ERR_NOT_THIS_FORMAT,
                             FormatText("The bitmap resource %s is not a BMP file.", resourceName.toUtf8().constData()));
    if (header.rowsOffset < kBmpFileHeaderSize + kDibInfoHeaderSize)
        BadDib("The BMP file's pixel offset lies inside its headers.");
    CreateFromDib(data.subspan(kBmpFileHeaderSize), header.rowsOffset - kBmpFileHeaderSize, true);
}

size_t CDIBitmap::PackedDibSize() const {
    return kDibInfoHeaderSize + ColourTableBytes(BitsPerPixel()) + static_cast<size_t>(Height()) * BytesPerLine();
}

void CDIBitmap::CopyPackedDib(uint8_t* out) {
    const size_t head = kDibInfoHeaderSize + ColourTableBytes(BitsPerPixel());
    const size_t stride = BytesPerLine();
    CBitmapLock lock(*this, true, false);
    std::memcpy(out, info_, head);
    out += head;
    for (int y = Height() - 1; y >= 0; --y, out += stride) std::memcpy(out, Line(y), stride);
}

std::vector<uint8_t> CDIBitmap::CreateGlobalDIB() {
    if (info_ == nullptr) return {};
    std::vector<uint8_t> dib;
    try {
        dib.resize(PackedDibSize());
    } catch (const std::bad_alloc&) {
        throw CTextException(ERR_OUT_OF_MEMORY, "Can't allocate global memory block.");
    } catch (const std::length_error&) {
        throw CTextException(ERR_OUT_OF_MEMORY, "Can't allocate global memory block.");
    }
    CopyPackedDib(dib.data());
    return dib;
}

std::vector<uint8_t> CDIBitmap::CreateBmpFile() {
    if (info_ == nullptr) return {};
    const size_t dibSize = PackedDibSize();
    std::vector<uint8_t> file;
    try {
        file.resize(kBmpFileHeaderSize + dibSize);
    } catch (const std::bad_alloc&) {
        throw CTextException(ERR_OUT_OF_MEMORY, "Can't allocate global memory block.");
    }
    WriteBmpFileHeader(file.data(), file.size(),
                       kBmpFileHeaderSize + kDibInfoHeaderSize + ColourTableBytes(BitsPerPixel()));
    CopyPackedDib(file.data() + kBmpFileHeaderSize);
    return file;
}

void CDIBitmap::CopyToClipboard() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr || info_ == nullptr) return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr) return;
    QImage image = DrawingImage().copy();
    if (HasAlpha() && BitsPerPixel() == 32) image.reinterpretAsFormat(QImage::Format_ARGB32);
    const std::vector<uint8_t> bmp = CreateBmpFile();
    auto data = std::make_unique<QMimeData>();
    data->setImageData(image);
    data->setData(QStringLiteral("image/bmp"),
                  QByteArray(reinterpret_cast<const char*>(bmp.data()), static_cast<qsizetype>(bmp.size())));
    clipboard->setMimeData(data.release());
}
