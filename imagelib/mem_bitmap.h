#pragma once

#include "image_bitmap.h"

#include <memory>

// A bitmap in plain heap blocks: unpadded rows, top row first. Scratch storage for filters
// and decoders.
class CMemBitmap : public CImageBitmap {
public:
    CMemBitmap();
    ~CMemBitmap() override;

    size_t MemoryUsed() const override;
    size_t BytesPerLine() const override;

protected:
    void AllocateStorage(int width, int height, int depth, bool hasAlpha) override;
    void FreeStorage() override;
    void BuildLineArray() override;

private:
    std::unique_ptr<uint8_t[]> pixels_;
    size_t pixelBytes_ = 0;
    // The pixel block of the previous storage, kept across one Create so that decoding a
    // picture of a similar size into the same bitmap needs no new pages.
    std::unique_ptr<uint8_t[]> spare_;
    size_t spareBytes_ = 0;
    std::unique_ptr<BGRA[]> paletteBlock_;
};
