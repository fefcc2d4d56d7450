#pragma once

#include "tiff_decoder.h"

// Encapsulated PostScript files with a TIFF preview: a 30-byte binary header whose
// little-endian fields at 20 and 24 give the preview's offset and length. The preview is
// decoded as the TIFF it is; the PostScript around it is never read, so nothing the TIFF
// decoder reads can stray into it. A preview reaching past the file's end is code 2.
class CEPSDecoder : public CImageDecoder {
public:
    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;
    void ProbeSource(CByteSource& source, ImageInfo& info) override;

private:
    CTIFFDecoder tiff_;
};

// The EPS binary header's signature, in either byte order, with a non-empty preview, in
// the first kDetectionHeaderSize bytes of the data.
bool HasEpsTiffPreview(const uint8_t* header, size_t size);
