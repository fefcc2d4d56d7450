#include "viewer/picture_turn.h"

#include "imagelib/dib_section_bitmap.h"
#include "imagelib/text_exception.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Quarter turns walk the picture in square blocks, so that the rows read and written stay
// in the cache while a block is copied.
constexpr int kBlock = 64;

// Fills dest, whose pixel (x, y) is the source's pixel at where(x, y).
template <typename Where>
void CopyTurned(const CImageBitmap& source, CImageBitmap& dest, Where where) {
    const int w = dest.Width();
    const int h = dest.Height();
    for (int by = 0; by < h; by += kBlock)
        for (int bx = 0; bx < w; bx += kBlock)
            for (int y = by; y < std::min(by + kBlock, h); ++y) {
                BGRA* row = dest.PixelLine(y);
                for (int x = bx; x < std::min(bx + kBlock, w); ++x) {
                    const auto [sx, sy] = where(x, y);
                    row[x] = source.PixelLine(sy)[sx];
                }
            }
}

}  // namespace

std::shared_ptr<CDIBSectionBitmap> TurnedPicture(CImageBitmap& source, PictureTurn turn) {
    if (source.BitsPerPixel() != 32) throw CTextException(ERR_CANNOT_HANDLE, "Only 32-bit pictures can be turned.");
    const int W = source.Width();
    const int H = source.Height();
    const bool quarter = turn == PictureTurn::RotateLeft || turn == PictureTurn::RotateRight;
    // The source may be shared (the loader keeps the picture shown), so a new bitmap is
    // written, in one pass.
    auto dest = std::make_shared<CDIBSectionBitmap>();
    dest->Create(quarter ? H : W, quarter ? W : H, 32, source.HasAlpha());
    dest->Metadata() = source.Metadata();
    CBitmapLock readLock(source, true, false);
    CBitmapLock writeLock(*dest, false, true);
    switch (turn) {
    case PictureTurn::RotateRight:  // clockwise: the left column, bottom first, becomes the top row
        CopyTurned(source, *dest, [H](int x, int y) { return std::pair{y, H - 1 - x}; });
        break;
    case PictureTurn::RotateLeft:  // counter-clockwise: the right column becomes the top row
        CopyTurned(source, *dest, [W](int x, int y) { return std::pair{W - 1 - y, x}; });
        break;
    case PictureTurn::FlipHorizontally:
        for (int y = 0; y < H; ++y) std::reverse_copy(source.PixelLine(y), source.PixelLine(y) + W, dest->PixelLine(y));
        break;
    case PictureTurn::FlipVertically:
        for (int y = 0; y < H; ++y) std::memcpy(dest->Line(y), source.Line(H - 1 - y), static_cast<size_t>(W) * 4);
        break;
    }
    return dest;
}
