#include "dib_section_bitmap.h"

#include "byte_order.h"
#include "storage_limit.h"
#include "text_exception.h"

#include <cstdlib>

CDIBSectionBitmap::CDIBSectionBitmap() : CDIBitmap(NoStorage{}) { Create(16, 16, 8, false); }

CDIBSectionBitmap::~CDIBSectionBitmap() = default;

void CDIBSectionBitmap::AllocateStorage(int width, int height, int depth, bool hasAlpha) {
    // Zero-filled like a fresh window-system bitmap; calloc leaves large blocks to the kernel's
    // zero pages instead of clearing them by hand.
    header_.reset(static_cast<uint8_t*>(std::calloc(kDibInfoHeaderSize + ColourTableBytes(depth), 1)));
    rows_.reset(static_cast<uint8_t*>(std::calloc(static_cast<size_t>(height) * PaddedLineBytes(width, depth), 1)));
    if (!header_ || !rows_) throw CTextException(ERR_OUT_OF_MEMORY, "Out of memory creating bitmap.");
    FillInfoHeader(header_.get(), width, height, depth);
    SetInfoAndBits(header_.get(), rows_.get());
    LocatePaletteAndBits();
    FinishCreate(width, height, depth, hasAlpha);
}

void CDIBSectionBitmap::FreeStorage() {
    LineArray().clear();
    header_.reset();
    rows_.reset();
    SetInfoAndBits(nullptr, nullptr);
    SetPalettePointer(nullptr);
}

void CDIBSectionBitmap::LocatePaletteAndBits() {
    const int depth = ReadLE16(InfoHeader() + 14);
    SetPalettePointer(depth <= 8 ? reinterpret_cast<BGRA*>(InfoHeader() + kDibInfoHeaderSize) : nullptr);
}

void CDIBSectionBitmap::BuildLineArray() {
    const size_t stride = BytesPerLine();
    auto& lines = LineArray();
    lines.resize(static_cast<size_t>(Height()));
    for (size_t y = 0; y < lines.size(); ++y) lines[y] = Bits() + y * stride;
}

QImage CDIBSectionBitmap::DrawingImage() { return WrapRows(Bits()); }

QImage CDIBSectionBitmap::BitmapHandle() { return WrapRows(Bits()); }

QImage CDIBSectionBitmap::ReleaseBitmapHandle() {
    QImage handle;
    if (rows_) {
        uint8_t* rows = rows_.get();
        handle = WrapRows(rows, [](void* block) { std::free(block); }, rows);
        if (!handle.isNull()) static_cast<void>(rows_.release());
    }
    FreeStorage();
    ClearFields();
    AllocateStorage(16, 16, 8, false);
    return handle;
}
