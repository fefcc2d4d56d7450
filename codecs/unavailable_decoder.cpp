#include "unavailable_decoder.h"

#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

void CUnavailableDecoder::Refuse() const {
    RaiseError(ERR_FEATURE_UNAVAILABLE,
               FormatText("%s files cannot be read: this build has no decoder for them.", formatName_));
}

void CUnavailableDecoder::DecodeInto(CImageBitmap&, PaletteHolder&, int&, CByteSource&) { Refuse(); }
void CUnavailableDecoder::ProbeSource(CByteSource&, ImageInfo&) { Refuse(); }
