#include "image_bitmap.h"

#include "bilinear_resize_filter.h"
#include "quantize_filter.h"
#include "storage_limit.h"
#include "text_exception.h"
#include "work_budget.h"

#include <algorithm>
#include <cstring>
#include <new>

void CImageBitmap::Create(int width, int height, int depth, bool hasAlpha) {
    CheckBitmapStorage(width, height, depth, PaddedLineBytes(width, depth));
    CWorkBudget::GrantPixels(static_cast<uint64_t>(width) * static_cast<uint64_t>(height));
    FreeStorage();
    ClearFields();
    try {
        AllocateStorage(width, height, depth, hasAlpha);
    } catch (const std::bad_alloc&) {
        FreeStorage();
        ClearFields();
        throw CTextException(ERR_OUT_OF_MEMORY, "Out of memory creating bitmap.");
    } catch (...) {
        FreeStorage();
        ClearFields();
        throw;
    }
}

void CImageBitmap::ClearFields() {
    width_ = 0;
    height_ = 0;
    bitsPerPixel_ = 0;
    palette_ = nullptr;
    hasAlpha_ = false;
    metadata_ = ImageMetadata{};
    lines_.clear();
}

void CImageBitmap::Lock(bool, bool) { ++lockCount_; }
void CImageBitmap::Unlock() { --lockCount_; }

void CImageBitmap::FinishCreate(int width, int height, int depth, bool hasAlpha, bool greyRamp) {
    width_ = width;
    height_ = height;
    bitsPerPixel_ = depth;
    hasAlpha_ = hasAlpha;
    BuildLineArray();
    if (greyRamp && depth < 16 && palette_ != nullptr) {
        const int n = PaletteEntries(depth);
        const int step = 255 / (n - 1);
        for (int i = 0; i < n; ++i) {
            const auto v = static_cast<uint8_t>(step * i);
            palette_[i] = BGRA{v, v, v, 255};
        }
    }
}

int CImageBitmap::LoadPalette(const BGRA* entries) {
    if (palette_ == nullptr || entries == nullptr) return 0;
    const int n = PaletteEntries(bitsPerPixel_);
    std::copy(entries, entries + n, palette_);
    return n;
}

void CImageBitmap::CopyFrom(CImageBitmap& source, int depth) {
    if (depth != 0 && depth != source.BitsPerPixel()) {
        if (&source == this) return;
        Create(source.Width(), source.Height(), depth, source.HasAlpha() && depth == 32);
        metadata_ = source.metadata_;
        switch (depth) {
        case 32:
            ConvertTo32(source);
            break;
        case 8:
            if (source.BitsPerPixel() == 1) {
                ConvertTo8From1(source);
            } else {
                CQuantizeFilter filter(paletteMode_, ditherMode_);
                filter.Apply(source, *this);
            }
            break;
        case 1:
            ConvertTo1(source);
            break;
        default:
            break;
        }
        return;
    }
    if (&source == this) return;
    Create(source.Width(), source.Height(), source.BitsPerPixel(), source.HasAlpha());
    metadata_ = source.metadata_;
    CBitmapLock sourceLock(source, true, false);
    CBitmapLock targetLock(*this, false, true);
    const size_t rowBytes = UnpaddedLineBytes(width_, bitsPerPixel_);
    for (int y = 0; y < height_; ++y) std::memcpy(Line(y), source.Line(y), rowBytes);
    if (bitsPerPixel_ <= 8) LoadPalette(source.Palette());
}

void CImageBitmap::ResizeFrom(CImageBitmap& source, int newWidth, int newHeight) {
    CBilinearResizeFilter filter(newWidth, newHeight);
    filter.Apply(source, *this);
    if (&source != this) metadata_ = source.metadata_;
}

void CImageBitmap::ConvertTo32(CImageBitmap& source) {
    CBitmapLock targetLock(*this, false, true);
    CBitmapLock sourceLock(source, true, false);
    const BGRA* palette = source.Palette();
    for (int y = 0; y < height_; ++y) {
        const uint8_t* in = source.Line(y);
        BGRA* out = PixelLine(y);
        if (source.BitsPerPixel() == 8) {
            for (int x = 0; x < width_; ++x) out[x] = palette[in[x]];
        } else if (source.BitsPerPixel() == 1) {
            const BGRA set = palette ? palette[1] : BGRA{0, 0, 0, 255};
            const BGRA clear = palette ? palette[0] : BGRA{255, 255, 255, 255};
            for (int x = 0; x < width_; ++x) out[x] = (in[x >> 3] & (0x80 >> (x & 7))) ? set : clear;
        }
    }
}

void CImageBitmap::ConvertTo8From1(CImageBitmap& source) {
    const BGRA* sourcePalette = source.Palette();
    const BGRA entry0 = sourcePalette ? sourcePalette[0] : BGRA{255, 255, 255, 255};
    const BGRA entry1 = sourcePalette ? sourcePalette[1] : BGRA{0, 0, 0, 255};
    palette_[0] = BGRA{entry0.b, entry0.g, entry0.r, 255};
    palette_[1] = BGRA{entry1.b, entry1.g, entry1.r, 255};
    CBitmapLock targetLock(*this, false, true);
    CBitmapLock sourceLock(source, true, false);
    for (int y = 0; y < height_; ++y) {
        const uint8_t* in = source.Line(y);
        uint8_t* out = Line(y);
        for (int x = 0; x < width_; ++x) out[x] = (in[x >> 3] >> (7 - (x & 7))) & 1;
    }
}

void CImageBitmap::ConvertTo1(CImageBitmap& source) {
    palette_[0] = BGRA{255, 255, 255, 255};
    palette_[1] = BGRA{0, 0, 0, 255};
    CBitmapLock targetLock(*this, false, true);
    CBitmapLock sourceLock(source, true, false);
    const BGRA* sourcePalette = source.Palette();
    const size_t rowBytes = UnpaddedLineBytes(width_, 1);
    for (int y = 0; y < height_; ++y) {
        uint8_t* out = Line(y);
        std::memset(out, 0, rowBytes);
        const uint8_t* in = source.Line(y);
        for (int x = 0; x < width_; ++x) {
            const BGRA c = source.BitsPerPixel() == 8 ? sourcePalette[in[x]] : reinterpret_cast<const BGRA*>(in)[x];
            if (c.b < 128 && c.g < 128 && c.r < 128) out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        }
    }
}
