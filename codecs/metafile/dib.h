#pragma once

#include "gdi_objects.h"
#include "record_reader.h"

#include "imagelib/image_format.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <span>

namespace metafile {

// How a bitmap's colour table is to be read: as colours, or (GDI's DIB_PAL_COLORS) as
// 16-bit indices into the palette selected in the device context.
struct DibColourSource {
    bool paletteIndices = false;
    const GdiPalette* palette = nullptr;
};

struct DibImage {
    QImage image;  // ARGB32; pixels a run-length bitmap leaves unset are transparent
    bool bottomUp = true;  // rows stored bottom row first, as source coordinates count them
};

// A device-independent bitmap from its header (with the colour table or masks behind
// it) and its pixel bytes: core and info headers up to version 5; 1, 4, 8, 16, 24 and 32
// bits; uncompressed, run-length (4 and 8 bits) and bit-field pixels, read by the image
// library's DIB layout reader as BMP files are (see imagelib/dib_format.h), with run-length
// data clipped to the bitmap rather than refused. keepAlpha keeps the fourth byte of 32-bit
// pixels (premultiplied, as alpha blending reads it); otherwise pixels are opaque.
//
// A bitmap may carry a JPEG or PNG picture in place of its pixels (compression 4 and 5, as
// printer drivers pass pictures on); the decode context's embedded-picture decoder
// draws it, stretched to the header's size if it differs.
//
// A header this player does not draw (odd depths, embedded pictures without a lent
// decoder or that fail to decode, sizes beyond kMaxDibPixels), or a header, colour table or pixel data larger than the bytes given,
// gives a null image: the bitmap is left out, the record around it stays valid.
// partialRows: uncompressed pixel data may stop after any whole row (bitmaps sent to the
// device in bands); the rows it does not hold stay transparent.
DibImage DecodeDib(CRecordReader header, CRecordReader bits, const DibColourSource& colours, bool keepAlpha = false,
                   bool partialRows = false);

// The same for a packed bitmap: header, colour table and pixels in one block.
DibImage DecodePackedDib(CRecordReader packed, const DibColourSource& colours);

// Decodes an embedded JPEG or PNG picture into an ARGB32 image through the active decode
// context's embedded-picture decoder, asking for a picture of at least drawn's size (a
// format that can decode smaller does). A picture that fails once its bitmap exists is
// drawn as far as it decoded (writers have been seen to get the chunks after a PNG's image
// data wrong); one that fails before, or any without a decoder in the context, gives a null
// image and is left out. A cancelled decode stays cancelled; a picture beyond the thread's
// EmbeddedPictureBudget fails the whole decode with code 10.
QImage DecodeEmbeddedPicture(std::span<const uint8_t> bytes, ImageFormat format, QSize drawn);

// The memory the embedded pictures of one metafile may take together, for the decodes on
// the constructing thread while the budget lives. A picture of a few kilobytes can declare
// gigapixels; bounded by the metafile's own picture, a small drawing cannot cost gigabytes.
class EmbeddedPictureBudget {
public:
    explicit EmbeddedPictureBudget(uint64_t bytes);
    ~EmbeddedPictureBudget();
    EmbeddedPictureBudget(const EmbeddedPictureBudget&) = delete;
    EmbeddedPictureBudget& operator=(const EmbeddedPictureBudget&) = delete;

    // The budget of the calling thread, or nullptr when none lives.
    static EmbeddedPictureBudget* Active();
    uint64_t Left() const { return left_; }
    // Takes bytes from what is left; raises code 10 when they are not there.
    void Charge(uint64_t bytes);

private:
    uint64_t left_;
    EmbeddedPictureBudget* outer_;
};

// A source rectangle in the bitmap's own coordinates (counted from the bottom row in a
// bottom-up bitmap) as a rectangle of the top-down image.
QRectF TopDownSource(const DibImage& dib, QRectF source);

// A black-and-white image with its black pixels in zero's colour and its white ones in
// one's: monochrome bitmaps take the device context's colours.
QImage RecolourMonochrome(const QImage& monochrome, QColor zero, QColor one);

// No bitmap inside a metafile is allowed more pixels than this (a 16384 x 16384 picture):
// larger headers come from damaged files and would only exhaust memory.
constexpr int64_t kMaxDibPixels = int64_t{1} << 28;

}  // namespace metafile
