#pragma once

#include "imagelib/image_decoder.h"

// Stands in for the decoder of a format whose codec library this build was made without:
// the registry still recognises the format's files, so they are refused with a message that
// names the format (code 6) rather than as of unknown type.
class CUnavailableDecoder : public CImageDecoder {
public:
    explicit CUnavailableDecoder(const char* formatName) : formatName_(formatName) {}

    void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source) override;
    void ProbeSource(CByteSource& source, ImageInfo& info) override;

private:
    [[noreturn]] void Refuse() const;

    const char* formatName_;
};
