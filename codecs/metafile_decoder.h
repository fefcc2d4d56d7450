#pragma once

#include "imagelib/image_decoder.h"

// Windows metafiles: enhanced metafiles (EMF) and 16-bit metafiles (WMF, with or without
// the 22-byte placeable header), played by our own record player onto a white picture
// and copied into the bitmap. The content decides the kind: data starting with an enhanced
// metafile's header record is one, anything else is played as a 16-bit metafile.
//
// Size: a placeable metafile's box at the decode context's dots per inch (the host gives its
// screen's; 96 by default); an enhanced metafile's
// frame (hundredths of a millimetre) at the same resolution; a 16-bit metafile without
// placeable header its window extent, one unit per pixel; when it sets none, the extent of
// what it draws from the origin, one unit per pixel, or 320 x 200 when it draws nothing.
// Depth: 32 bits, opaque, without the alpha flag; with a metafile palette of 1 to 255
// entries and a wanted depth of 0 (or 8), 8 bits with that palette, each pixel mapped to
// its nearest palette colour.
//
// Corruption policy. Fatal before anything is drawn (code 6): a header that is neither
// kind, an enhanced header whose sizes or description lie outside the data; text to draw in
// a program without a QGuiApplication (the host owns it; the library never makes one). Skipped: records the player
// does not draw, comments, references to missing objects, bitmaps whose header it does
// not draw or whose pixels fall short of what the header says, embedded JPEG or PNG
// pictures that fail to decode. Fatal after drawing
// (code 2): a record whose size is impossible (runs past the data, is too short for its
// own fields, is not the fixed size its type has) or that creates an object outside the
// handle table ends playing; the bitmap then holds what was drawn up to that record and
// the error names it. A metafile asking for far more drawing than its size justifies
// ends with the work budget's error. A cancel is noticed on every record.
//
// The probe computes the size and depth from the headers as the decode does, playing
// records only to measure a 16-bit metafile that names neither box nor window; it does not
// report damage further on, which fails the decode.
class CMetafileDecoder : public CImageDecoder {
public:
    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;
    void ProbeSource(CByteSource& source, ImageInfo& info) override;
};

// The signatures of the two kinds a file can show: an enhanced metafile's header record
// (type 1, " EMF" at byte 40), and the key of a 16-bit metafile's placeable header. A 16-bit
// metafile without that header has no signature.
bool IsEnhancedMetafile(const uint8_t* header, size_t size);
bool IsPlaceableMetafile(const uint8_t* header, size_t size);

// The process default of the resolution metafile sizes in inches and millimetres are
// rendered at (a decode context's dotsPerInch); 0 restores 96.
void SetMetafileDotsPerInch(int dotsPerInch);
int MetafileDotsPerInch();
