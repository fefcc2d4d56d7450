#pragma once

#include "imagelib/dib_section_bitmap.h"
#include "isolation/pixel_memfd.h"
#include "isolation/unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

class CPixelMemfdReserve;

// A 32-, 8- or 1-bit window-system bitmap whose rows live in a memfd, so that the picture a
// helper process decodes reaches the viewer without a copy.
//
// In the helper every Create puts the rows into a memfd mapped shared and writable, its pages
// in place: the reserve's when the bitmap was given one and it fits, a new one otherwise.
// ReleaseSealed then hands that memfd over, sealed against any change in size and against
// writes (or, from a bitmap with a reserve, against new writes, the reserve unmapping the rows
// later), with the palette and the profile behind the rows. In the viewer Map maps such a
// memfd privately: the bitmap reads the pages the helper wrote, and a write (which the viewer
// does not make) would only copy the page it touches. A Create in the viewer gives ordinary rows in a memfd of its own.
class CMemfdBitmap : public CDIBSectionBitmap {
public:
    CMemfdBitmap();
    // reserve, when given, outlives the bitmap.
    explicit CMemfdBitmap(CPixelMemfdReserve* reserve);
    ~CMemfdBitmap() override;

    // Writes trailer (palette and profile) behind the rows and seals the memfd against
    // shrinking and growing, and against writing: with a reserve only against new writes
    // (F_SEAL_FUTURE_WRITE), the reserve keeping the rows mapped until its next Prepare, so
    // that the reply need not wait for their unmapping; without one, fully, the rows unmapped
    // first. The bitmap is left 16 x 16 x 8. Raises code 10 when the memfd cannot be finished.
    CUniqueFd ReleaseSealed(std::span<const uint8_t> trailer);

    // A bitmap over the rows of memfd: height rows of stride bytes from its start. The caller
    // has checked the shape, and loads the palette, when depth has one, once it may read it.
    static std::shared_ptr<CMemfdBitmap> Map(int memfd, int width, int height, int depth, bool hasAlpha);

    size_t RowBytes() const { return storage_.Valid() ? storage_.Bytes() : mappedBytes_; }
    QImage ReleaseBitmapHandle() override;

protected:
    void AllocateStorage(int width, int height, int depth, bool hasAlpha) override;
    void FreeStorage() override;

private:
    void Unmap();
    void Adopt(void* rows, int width, int height, int depth, bool hasAlpha);

    CPixelMemfdReserve* reserve_ = nullptr;
    std::unique_ptr<uint8_t[]> header_;
    // The rows are either the bitmap's own memfd or a mapping of someone else's.
    CPixelMemfd storage_;
    void* mapped_ = nullptr;
    size_t mappedBytes_ = 0;
};
