#pragma once

#include "dib_format.h"
#include "image_bitmap.h"

#include <QImage>
#include <QPainter>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class QRect;
class QString;

// Drawing with this mode copies the source pixels as they are, as a plain blit does.
constexpr QPainter::CompositionMode kCopyPixels = QPainter::CompositionMode_Source;

// A bitmap kept as a packed device-independent bitmap (DIB): one block holding the 40-byte
// info header, the colour table (2^depth entries below 16 bits) and the rows, bottom row
// first, each padded to a multiple of four bytes. The palette is the colour table inside the
// block, so the block can be handed to other programs as it stands.
//
// Drawing takes a QPainter; rasterOp is the composition mode. Scaled drawing smooths: an
// area average when reducing, bilinear interpolation when enlarging. The drawing operations
// return false when nothing could be drawn (an inactive painter or an empty area).
class CDIBitmap : public CImageBitmap {
public:
    CDIBitmap();
    ~CDIBitmap() override;

    size_t MemoryUsed() const override;
    size_t BytesPerLine() const override;

    // The packed DIB's info header, followed by the colour table (and, in this kind, the rows).
    uint8_t* InfoHeader() const { return info_; }
    // The first row in memory.
    uint8_t* Bits() const { return bits_; }

    // Replaces the image by a BMP file stored as a Qt resource, e.g. ":/images/logo.bmp".
    // A missing resource raises code 4, a damaged or unsupported one codes 2 and 7; the
    // image stays as it was then.
    virtual void LoadResourceBitmap(const QString& resourceName);
    virtual bool Draw(QPainter& dc, int x, int y, QPainter::CompositionMode rasterOp = kCopyPixels);
    virtual bool StretchDraw(QPainter& dc, int x, int y, int width, int height,
                             QPainter::CompositionMode rasterOp = kCopyPixels);
    // StretchDraw into (int)(factor * width) x (int)(factor * height) pixels.
    virtual bool DrawScaled(QPainter& dc, int x, int y, double factor, QPainter::CompositionMode rasterOp = kCopyPixels);
    // Copies the part sourceRect of the image unscaled to x, y.
    virtual bool DrawRegion(QPainter& dc, int x, int y, const QRect& sourceRect);
    // Replaces the image by a copy of a packed DIB: an info header of 40 bytes or more,
    // BI_RGB rows of 1, 8 or 32 bits, bottom-up or top-down. Everything is checked against
    // the block's size first; a refused block raises code 2 (damaged) or 7 (a variant this
    // library does not store) and leaves the image as it was.
    virtual void CreateFromPackedDIB(std::span<const uint8_t> packedDib);
    // A packed DIB of the image (header, colour table, rows bottom row first) in a buffer the
    // caller owns.
    virtual std::vector<uint8_t> CreateGlobalDIB();
    virtual void LocatePaletteAndBits();

    // Puts the image on the system clipboard as image data and as "image/bmp" (the packed
    // DIB behind a BMP file header). Does nothing when the program has no clipboard.
    void CopyToClipboard();

    // The packed DIB behind a 14-byte BMP file header: a complete BMP file.
    std::vector<uint8_t> CreateBmpFile();

protected:
    struct NoStorage {};
    // For kinds that bring their own storage: allocates nothing.
    explicit CDIBitmap(NoStorage) {}

    void AllocateStorage(int width, int height, int depth, bool hasAlpha) override;
    void FreeStorage() override;
    void BuildLineArray() override;

    // The image as Qt draws it: top row first, the palette as an opaque colour table.
    virtual QImage DrawingImage();

    // A QImage over rows that start at firstRow and follow each other top-down, without a
    // copy; cleanup, when given, runs once the last copy of the QImage is gone.
    QImage WrapRows(uint8_t* firstRow, QImageCleanupFunction cleanup = nullptr, void* cleanupInfo = nullptr) const;
    void SetInfoAndBits(uint8_t* info, uint8_t* bits) {
        info_ = info;
        bits_ = bits;
    }
    // Writes the info header of a BI_RGB bitmap with positive (bottom-up) height.
    static void FillInfoHeader(uint8_t* info, int width, int height, int depth);
    static size_t ColourTableBytes(int depth) { return DibColourTableBytes(depth); }

private:
    void CreateFromDib(std::span<const uint8_t> dib, size_t bitsOffset, bool offsetGiven);
    size_t PackedDibSize() const;
    void CopyPackedDib(uint8_t* out);
    bool DrawStretched(QPainter& dc, int x, int y, int width, int height, QPainter::CompositionMode rasterOp);

    std::unique_ptr<uint8_t[]> block_;
    uint8_t* info_ = nullptr;
    uint8_t* bits_ = nullptr;
    // The block holds one Lock for as long as it exists.
    bool storageLocked_ = false;
};
