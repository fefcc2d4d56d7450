#pragma once

#include "imagelib/image_decoder.h"

#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

// The decoder of a format whose library was missing when this build was made: its files
// are still recognised, so the refusal (code 6) names the format.
template <const char* FormatName>
class CMissingLibraryDecoder : public CImageDecoder {
public:
    void DecodeInto(CImageBitmap&, PaletteHolder&, int&, CByteSource&) override { Refuse(); }
    void ProbeSource(CByteSource&, ImageInfo&) override { Refuse(); }

private:
    [[noreturn]] static void Refuse() {
        RaiseError(ERR_FEATURE_UNAVAILABLE,
                   FormatText("%s files cannot be read: this build has no %s decoder.", FormatName, FormatName));
    }
};
