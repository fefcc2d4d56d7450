#include "mem_bitmap.h"

#include "storage_limit.h"
#include "text_exception.h"

#include <new>

CMemBitmap::CMemBitmap() { Create(16, 16, 8, false); }

CMemBitmap::~CMemBitmap() = default;

size_t CMemBitmap::BytesPerLine() const { return UnpaddedLineBytes(Width(), BitsPerPixel()); }

size_t CMemBitmap::MemoryUsed() const {
    return static_cast<size_t>(Height()) * BytesPerLine() + 4 * static_cast<size_t>(PaletteEntries(BitsPerPixel())) + 88;
}

void CMemBitmap::AllocateStorage(int width, int height, int depth, bool hasAlpha) {
    const uint64_t bytes = static_cast<uint64_t>(height) * UnpaddedLineBytes(width, depth);
    if (spare_ && bytes <= spareBytes_ && bytes >= spareBytes_ / 2) {
        pixels_ = std::move(spare_);
        pixelBytes_ = spareBytes_;
    } else {
        spare_.reset();
        pixels_.reset(new (std::nothrow) uint8_t[bytes]);
        if (!pixels_) throw CTextException(ERR_OUT_OF_MEMORY, "Out of memory creating bitmap.");
        pixelBytes_ = bytes;
    }
    spareBytes_ = 0;
    if (depth <= 8) paletteBlock_ = std::make_unique<BGRA[]>(static_cast<size_t>(PaletteEntries(depth)));
    SetPalettePointer(paletteBlock_.get());
    FinishCreate(width, height, depth, hasAlpha);
}

void CMemBitmap::FreeStorage() {
    spare_ = std::move(pixels_);
    spareBytes_ = spare_ ? pixelBytes_ : 0;
    pixelBytes_ = 0;
    paletteBlock_.reset();
    SetPalettePointer(nullptr);
    LineArray().clear();
}

void CMemBitmap::BuildLineArray() {
    const size_t stride = BytesPerLine();
    auto& lines = LineArray();
    lines.resize(static_cast<size_t>(Height()));
    for (size_t y = 0; y < lines.size(); ++y) lines[y] = pixels_.get() + y * stride;
}
