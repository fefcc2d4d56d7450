#pragma once

#include "format_registry.h"

#include "imagelib/image_decoder.h"

#include <array>
#include <memory>

// Decodes any format the library reads: recognises the format from the source's first
// bytes (the file name's own extension only where the content has no signature) through the
// format registry, and hands the source to that format's decoder. Makes each format's decoder
// on first use and keeps it for its whole life.
class CAutoDecoder : public CImageDecoder {
public:
    CAutoDecoder();
    ~CAutoDecoder() override;

    void DecodeSource(CByteSource& source, CImageBitmap& bitmap, int& depth) override;
    void ProbeSource(CByteSource& source, ImageInfo& info) override;

    // The format the last decode or probe recognised (None before the first, or when none
    // matched).
    ImageFormat LastFormat() const { return lastFormat_; }

private:
    CImageDecoder& Recognise(CByteSource& source);

    std::array<std::unique_ptr<CImageDecoder>, kImageFormatCount> decoders_;
    ImageFormat lastFormat_ = ImageFormat::None;
};
