#pragma once

#include "dib_bitmap.h"

#include <QImage>

#include <cstdlib>
#include <memory>

// A DIB whose rows live in their own block, laid out as a QImage needs them (top row first,
// each padded to four bytes), so that BitmapHandle() can hand the window system a QImage
// over the very same memory. The info block holds only the header and the colour table; the
// header still describes the packed DIB that CreateGlobalDIB produces (bottom-up).
//
// The viewer keeps its current image, its wallpaper scratch image and its thumbnails in
// this kind, always at 32 bits per pixel.
class CDIBSectionBitmap : public CDIBitmap {
public:
    CDIBSectionBitmap();
    ~CDIBSectionBitmap() override;

    void LocatePaletteAndBits() override;

    // A QImage sharing the rows, no copy: Format_RGB32 for 32 bits (bytes blue, green, red,
    // unused), Format_Indexed8 or Format_Mono with the palette as colour table for 8 and 1
    // bits. Valid until the next Create (or CreateFromPackedDIB, LoadResourceBitmap,
    // ReleaseBitmapHandle) of this bitmap; painting into it changes the bitmap.
    QImage BitmapHandle();

    // Hands the rows over to the caller as a QImage that owns them and frees them when its
    // last copy goes; this bitmap becomes a fresh 16 x 16 8-bit one.
    virtual QImage ReleaseBitmapHandle();

protected:
    void AllocateStorage(int width, int height, int depth, bool hasAlpha) override;
    void FreeStorage() override;
    void BuildLineArray() override;
    QImage DrawingImage() override;

private:
    struct FreeBlock {
        void operator()(uint8_t* block) const { std::free(block); }
    };
    using Block = std::unique_ptr<uint8_t[], FreeBlock>;

    Block header_;
    Block rows_;
};
