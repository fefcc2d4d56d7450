#include "orientation.h"

#include "image_bitmap.h"
#include "row_bands.h"
#include "storage_limit.h"
#include "text_exception.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <sys/mman.h>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Exif orientation values (TIFF 6.0's Orientation tag): where the stored rows and columns
// belong on the upright picture.
constexpr int kMirrorColumns = 2;  // first row at the top, first column at the right
constexpr int kHalfTurn = 3;
constexpr int kMirrorRows = 4;
constexpr int kTransposed = 5;     // first row at the left, first column at the top
constexpr int kTurnedLeft = 6;     // stored picture turned a quarter left: turn it right
constexpr int kTransverse = 7;
constexpr int kTurnedRight = 8;

bool SwapsSides(int orientation) { return orientation >= kTransposed && orientation <= kTurnedRight; }

// Scratch memory for the stored pixels while the bitmap is made anew. Fresh pages of tens of
// megabytes cost more to fault in and clear than the turn itself, so the block of the last
// turn is kept for the next (blocks up to kMostKeptBytes: a 64-megapixel picture at 32
// bits), as pictures of one camera follow each other. In 2 MiB pages, the column-wise reads
// of a quarter turn also miss the address translation cache far less.
class ScratchBlock {
public:
    static constexpr size_t kMostKeptBytes = size_t{256} << 20;

    ScratchBlock() = default;
    explicit ScratchBlock(size_t bytes) {
        const std::lock_guard lock(spareMutex_);
        if (spare_.bytes_ >= bytes) {
            *this = std::move(spare_);
            return;
        }
        spare_ = ScratchBlock();
        bytes_ = (std::max(bytes, size_t{1}) + kHugePage - 1) / kHugePage * kHugePage;
        pixels_.reset(static_cast<uint8_t*>(std::aligned_alloc(kHugePage, bytes_)));
        if (!pixels_) throw CTextException(ERR_OUT_OF_MEMORY, "Out of memory turning the picture upright.");
        ::madvise(pixels_.get(), bytes_, MADV_HUGEPAGE);
    }
    ~ScratchBlock() {
        if (!pixels_ || bytes_ > kMostKeptBytes) return;
        const std::lock_guard lock(spareMutex_);
        if (spare_.bytes_ < bytes_) spare_ = std::move(*this);
    }
    ScratchBlock(ScratchBlock&& other) noexcept : pixels_(std::move(other.pixels_)), bytes_(std::exchange(other.bytes_, 0)) {}
    ScratchBlock& operator=(ScratchBlock&& other) noexcept {
        pixels_ = std::move(other.pixels_);
        bytes_ = std::exchange(other.bytes_, 0);
        return *this;
    }

    uint8_t* Data() const { return pixels_.get(); }

private:
    static constexpr size_t kHugePage = size_t{2} << 20;
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };

    std::unique_ptr<uint8_t, Free> pixels_;
    size_t bytes_ = 0;

    static std::mutex spareMutex_;
    static ScratchBlock spare_;
};

std::mutex ScratchBlock::spareMutex_;
ScratchBlock ScratchBlock::spare_;

// The stored pixels, row after row.
class StoredCopy {
public:
    explicit StoredCopy(const CImageBitmap& bitmap)
        : width_(bitmap.Width()),
          height_(bitmap.Height()),
          stride_(UnpaddedLineBytes(bitmap.Width(), bitmap.BitsPerPixel())),
          block_(stride_ * static_cast<size_t>(height_)) {
        ForEachRowBand(height_, int64_t{width_} * height_, [&](int first, int end) {
            // Rows that follow each other in memory (as in CMemBitmap) go in one copy, which
            // for tens of megabytes the C library makes with streaming stores.
            int y = first;
            while (y < end) {
                int last = y;
                while (last + 1 < end && bitmap.Line(last + 1) == bitmap.Line(last) + stride_) ++last;
                std::memcpy(Row(y), bitmap.Line(y), stride_ * static_cast<size_t>(last + 1 - y));
                y = last + 1;
            }
        });
    }

    int Width() const { return width_; }
    int Height() const { return height_; }
    uint8_t* Row(int y) const { return block_.Data() + static_cast<size_t>(y) * stride_; }
    bool Bit(int x, int y) const { return (Row(y)[x >> 3] >> (7 - (x & 7))) & 1; }

private:
    int width_;
    int height_;
    size_t stride_;
    ScratchBlock block_;
};

// A quarter turn reads the stored picture down its columns. It goes in square blocks small
// enough that the stored rows a block reads (128 rows of 512 bytes at 32 bits) stay in the
// second-level cache while the block's upright rows are written, so each cache line is
// fetched once.
constexpr int kBlock = 128;

// Upright pixel (x, y) of a picture with swapped sides is stored pixel (sx, sy) with
// sx = y or stored width - 1 - y, and sy = x or stored height - 1 - x.
template <bool ReverseRows, bool ReverseColumns>
struct QuarterTurn {
    int width;   // upright
    int height;

    int StoredRow(int x) const { return ReverseRows ? width - 1 - x : x; }
    int StoredColumn(int y) const { return ReverseColumns ? height - 1 - y : y; }
};

template <typename Pixel, typename Turn>
void TurnPixels(const StoredCopy& stored, CImageBitmap& upright, Turn turn, int x0, int x1, int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
        auto* out = reinterpret_cast<Pixel*>(upright.Line(y));
        const int sx = turn.StoredColumn(y);
        for (int x = x0; x < x1; ++x) out[x] = reinterpret_cast<const Pixel*>(stored.Row(turn.StoredRow(x)))[sx];
    }
}

#if defined(__SSE2__)
// 32-bit pixels a 4 x 4 square at a time: four stored rows loaded, transposed in registers
// and stored as four upright rows. Streaming stores (aligned rows only) send the upright rows
// to memory without reading their lines first, as the picture is far larger than the caches.
template <bool Streaming, typename Turn>
void TurnSquares(const StoredCopy& stored, CImageBitmap& upright, Turn turn, int x0, int x1, int y0, int y1) {
    for (int y = y0; y < y1; y += 4) {
        // The four upright rows take stored columns sx .. sx + 3, in reverse when columns run
        // backwards.
        const int sx = std::min(turn.StoredColumn(y), turn.StoredColumn(y + 3));
        const bool backwards = turn.StoredColumn(y) > sx;
        std::array<uint32_t*, 4> out{};
        for (int j = 0; j < 4; ++j) out[static_cast<size_t>(j)] = reinterpret_cast<uint32_t*>(upright.Line(backwards ? y + 3 - j : y + j));
        for (int x = x0; x < x1; x += 4) {
            const auto* r0 = reinterpret_cast<const uint32_t*>(stored.Row(turn.StoredRow(x))) + sx;
            const auto* r1 = reinterpret_cast<const uint32_t*>(stored.Row(turn.StoredRow(x + 1))) + sx;
            const auto* r2 = reinterpret_cast<const uint32_t*>(stored.Row(turn.StoredRow(x + 2))) + sx;
            const auto* r3 = reinterpret_cast<const uint32_t*>(stored.Row(turn.StoredRow(x + 3))) + sx;
            const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0));
            const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1));
            const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r2));
            const __m128i v3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r3));
            const __m128i low01 = _mm_unpacklo_epi32(v0, v1);
            const __m128i low23 = _mm_unpacklo_epi32(v2, v3);
            const __m128i high01 = _mm_unpackhi_epi32(v0, v1);
            const __m128i high23 = _mm_unpackhi_epi32(v2, v3);
            const __m128i columns[4] = {_mm_unpacklo_epi64(low01, low23), _mm_unpackhi_epi64(low01, low23),
                                                    _mm_unpacklo_epi64(high01, high23), _mm_unpackhi_epi64(high01, high23)};
            for (size_t j = 0; j < 4; ++j) {
                auto* target = reinterpret_cast<__m128i*>(out[j] + x);
                if constexpr (Streaming)
                    _mm_stream_si128(target, columns[j]);
                else
                    _mm_storeu_si128(target, columns[j]);
            }
        }
    }
}
#endif

// Upright rows first to end, block by block.
template <typename Pixel, typename Turn>
void TurnRows(const StoredCopy& stored, CImageBitmap& upright, Turn turn, int first, int end) {
    const int width = upright.Width();
#if defined(__SSE2__)
    if constexpr (sizeof(Pixel) == 4) {
        bool aligned = true;
        for (int y = first; y < end; ++y) aligned = aligned && reinterpret_cast<uintptr_t>(upright.Line(y)) % 16 == 0;
        // Whole squares of four by four; the right and bottom edges a pixel at a time.
        const int squaresEnd = first + (end - first) / 4 * 4;
        const int squaresWidth = width / 4 * 4;
        for (int by = first; by < squaresEnd; by += kBlock) {
            const int yEnd = std::min(by + kBlock, squaresEnd);
            for (int bx = 0; bx < squaresWidth; bx += kBlock) {
                const int xEnd = std::min(bx + kBlock, squaresWidth);
                if (aligned)
                    TurnSquares<true>(stored, upright, turn, bx, xEnd, by, yEnd);
                else
                    TurnSquares<false>(stored, upright, turn, bx, xEnd, by, yEnd);
            }
            TurnPixels<Pixel>(stored, upright, turn, squaresWidth, width, by, yEnd);
        }
        TurnPixels<Pixel>(stored, upright, turn, 0, width, squaresEnd, end);
        _mm_sfence();
        return;
    }
#endif
    for (int by = first; by < end; by += kBlock) {
        const int yEnd = std::min(by + kBlock, end);
        for (int bx = 0; bx < width; bx += kBlock)
            TurnPixels<Pixel>(stored, upright, turn, bx, std::min(bx + kBlock, width), by, yEnd);
    }
}

template <typename Pixel, bool ReverseRows, bool ReverseColumns>
void TurnInBands(const StoredCopy& stored, CImageBitmap& upright) {
    const QuarterTurn<ReverseRows, ReverseColumns> turn{upright.Width(), upright.Height()};
    ForEachRowBand(upright.Height(), int64_t{upright.Width()} * upright.Height(),
                   [&](int first, int end) { TurnRows<Pixel>(stored, upright, turn, first, end); });
}

template <typename Pixel>
void Turn(const StoredCopy& stored, CImageBitmap& upright, int orientation) {
    switch (orientation) {
    case kTransposed:
        TurnInBands<Pixel, false, false>(stored, upright);
        break;
    case kTurnedLeft:
        TurnInBands<Pixel, true, false>(stored, upright);
        break;
    case kTransverse:
        TurnInBands<Pixel, true, true>(stored, upright);
        break;
    default:
        TurnInBands<Pixel, false, true>(stored, upright);
        break;
    }
}

// Mirrors and half turns of 8- and 32-bit pictures exchange pixels in place.
template <typename Pixel>
void FlipInPlace(CImageBitmap& bitmap, int orientation) {
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    auto row = [&](int y) { return reinterpret_cast<Pixel*>(bitmap.Line(y)); };
    switch (orientation) {
    case kMirrorColumns:
        for (int y = 0; y < height; ++y) std::reverse(row(y), row(y) + width);
        break;
    case kMirrorRows:
        for (int y = 0; y < height / 2; ++y) std::swap_ranges(row(y), row(y) + width, row(height - 1 - y));
        break;
    default:
        for (int y = 0; y < height / 2; ++y) {
            Pixel* top = row(y);
            Pixel* bottom = row(height - 1 - y);
            for (int x = 0; x < width; ++x) std::swap(top[x], bottom[width - 1 - x]);
        }
        if (height % 2 != 0) std::reverse(row(height / 2), row(height / 2) + width);
        break;
    }
}

// 1-bit pictures (rare, small) are mapped a pixel at a time.
void OrientBits(const StoredCopy& stored, CImageBitmap& upright, int orientation) {
    const bool swapped = SwapsSides(orientation);
    const bool reverseX = orientation == kMirrorColumns || orientation == kHalfTurn || orientation == kTransverse ||
                          orientation == kTurnedRight;
    const bool reverseY = orientation == kHalfTurn || orientation == kMirrorRows || orientation == kTurnedLeft ||
                          orientation == kTransverse;
    const size_t rowBytes = UnpaddedLineBytes(upright.Width(), 1);
    for (int y = 0; y < upright.Height(); ++y) {
        uint8_t* out = upright.Line(y);
        std::memset(out, 0, rowBytes);
        for (int x = 0; x < upright.Width(); ++x) {
            int sx = swapped ? y : x;
            int sy = swapped ? x : y;
            if (reverseX) sx = stored.Width() - 1 - sx;
            if (reverseY) sy = stored.Height() - 1 - sy;
            if (stored.Bit(sx, sy)) out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        }
    }
}

}  // namespace

void ApplyOrientation(CImageBitmap& bitmap) {
    const int orientation = bitmap.Metadata().orientation;
    if (orientation <= 1 || orientation > kTurnedRight) return;
    const int depth = bitmap.BitsPerPixel();
    if (!SwapsSides(orientation) && depth != 1) {
        CBitmapLock lock(bitmap, true, true);
        if (depth == 32)
            FlipInPlace<uint32_t>(bitmap, orientation);
        else
            FlipInPlace<uint8_t>(bitmap, orientation);
        bitmap.Metadata().orientation = 1;
        return;
    }
    // The stored rows are copied out, then the caller's bitmap gets its new storage (of the
    // same kind) and the oriented pixels are written into it.
    const bool hasAlpha = bitmap.HasAlpha();
    ImageMetadata metadata = bitmap.Metadata();
    metadata.orientation = 1;
    std::array<BGRA, 256> palette{};
    if (depth <= 8) std::copy_n(bitmap.Palette(), PaletteEntries(depth), palette.begin());
    std::unique_ptr<StoredCopy> stored;
    {
        CBitmapLock lock(bitmap, true, false);
        stored = std::make_unique<StoredCopy>(bitmap);
    }
    const bool swapped = SwapsSides(orientation);
    bitmap.Create(swapped ? stored->Height() : stored->Width(), swapped ? stored->Width() : stored->Height(), depth,
                  hasAlpha);
    bitmap.Metadata() = std::move(metadata);
    if (depth <= 8) bitmap.LoadPalette(palette.data());
    CBitmapLock lock(bitmap, false, true);
    if (depth == 1)
        OrientBits(*stored, bitmap, orientation);
    else if (depth == 32)
        Turn<uint32_t>(*stored, bitmap, orientation);
    else
        Turn<uint8_t>(*stored, bitmap, orientation);
}
