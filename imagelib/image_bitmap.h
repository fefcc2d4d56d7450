#pragma once

#include "image_metadata.h"
#include "pixel.h"
#include "pl_object.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// The in-memory image every part of the library passes around: width x height pixels at
// 1, 8 or 32 bits, a palette of 2^depth entries for 1 and 8 bits, and one pointer per row
// with row 0 at the top whatever the storage order. 32-bit pixels are BGRA.
//
// Storage belongs to the concrete kind (CMemBitmap here, the window-system kinds beside it);
// a bitmap always holds storage: it is born 16 x 16 x 8 with a grey palette and every
// Create replaces the storage in one step.
class CImageBitmap : public CPLObject {
public:
    ~CImageBitmap() override = default;
    CImageBitmap(const CImageBitmap&) = delete;
    CImageBitmap& operator=(const CImageBitmap&) = delete;

    // Replaces the storage by a new width x height image of depth bits. Refuses impossible
    // sizes (code 2) and sizes over the storage limit (code 10) before anything is freed, so
    // a refused Create leaves the previous image as it was.
    virtual void Create(int width, int height, int depth, bool hasAlpha);
    virtual size_t MemoryUsed() const = 0;
    virtual size_t BytesPerLine() const = 0;
    virtual void Lock(bool readable, bool writable);
    virtual void Unlock();

    int Width() const { return width_; }
    int Height() const { return height_; }
    std::pair<int, int> Size() const { return {width_, height_}; }
    int BitsPerPixel() const { return bitsPerPixel_; }
    BGRA* Palette() const { return palette_; }
    // Some pixel is not fully opaque, as the decoder knows it from the file (a format's alpha
    // bytes that are all zero, as 32-bit BMP files often store, carry no transparency).
    bool HasAlpha() const { return hasAlpha_; }
    void SetHasAlpha(bool hasAlpha) { hasAlpha_ = hasAlpha; }
    // What the file said about the picture; Create starts it afresh.
    const ImageMetadata& Metadata() const { return metadata_; }
    ImageMetadata& Metadata() { return metadata_; }
    uint8_t* const* Lines() const { return lines_.data(); }
    uint8_t* Line(int y) const { return lines_[static_cast<size_t>(y)]; }
    BGRA* PixelLine(int y) const { return reinterpret_cast<BGRA*>(lines_[static_cast<size_t>(y)]); }
    int LockCount() const { return lockCount_; }
    int DitherMode() const { return ditherMode_; }
    int PaletteMode() const { return paletteMode_; }

    // Copies 2^depth entries into the palette; returns the number copied (0 at 32 bits).
    int LoadPalette(const BGRA* entries);

    // Makes this bitmap a copy of source converted to depth (0 keeps the source depth).
    void CopyFrom(CImageBitmap& source, int depth);

    // Makes this bitmap source resized to newWidth x newHeight with the bilinear resize
    // filter; the source must have 32 bits per pixel.
    void ResizeFrom(CImageBitmap& source, int newWidth, int newHeight);

protected:
    CImageBitmap() = default;

    virtual void AllocateStorage(int width, int height, int depth, bool hasAlpha) = 0;
    virtual void FreeStorage() = 0;
    virtual void BuildLineArray() = 0;

    // Common end of every allocation: fields, line array and, below 16 bits, the grey ramp.
    void FinishCreate(int width, int height, int depth, bool hasAlpha, bool greyRamp = true);
    void SetPalettePointer(BGRA* palette) { palette_ = palette; }
    std::vector<uint8_t*>& LineArray() { return lines_; }
    void ClearFields();

private:
    void ConvertTo32(CImageBitmap& source);
    void ConvertTo8From1(CImageBitmap& source);
    void ConvertTo1(CImageBitmap& source);

    int width_ = 0;
    int height_ = 0;
    int bitsPerPixel_ = 0;
    BGRA* palette_ = nullptr;
    bool hasAlpha_ = false;
    ImageMetadata metadata_;
    std::vector<uint8_t*> lines_;
    int lockCount_ = 0;
    int ditherMode_ = 0;
    int paletteMode_ = 2;
};

// Number of palette entries of a depth: 2^depth up to 8 bits, none above.
constexpr int PaletteEntries(int depth) { return depth <= 8 ? 1 << depth : 0; }

// Brackets pixel access with Lock/Unlock, also when an exception leaves the scope.
class CBitmapLock {
public:
    CBitmapLock(CImageBitmap& bitmap, bool readable, bool writable) : bitmap_(bitmap) {
        bitmap_.Lock(readable, writable);
    }
    ~CBitmapLock() { bitmap_.Unlock(); }
    CBitmapLock(const CBitmapLock&) = delete;
    CBitmapLock& operator=(const CBitmapLock&) = delete;

private:
    CImageBitmap& bitmap_;
};
