#pragma once

#include "imagelib/format_detection.h"
#include "imagelib/image_decoder.h"

#include <array>
#include <memory>
#include <vector>

// Decodes any format the library reads: recognises the format from the source's name
// (metafiles) or its first 512 bytes, and hands the source to that format's decoder.
// Owns one decoder per format for its whole life.
class CAutoDecoder : public CImageDecoder {
public:
    CAutoDecoder();
    ~CAutoDecoder() override;

    void DecodeSource(CByteSource& source, CImageBitmap& bitmap, int& depth) override;

    // The format the last decode recognised (None before the first, or when none matched).
    ImageFormat LastFormat() const { return lastFormat_; }

private:
    template <typename Decoder, typename... Args>
    Decoder* Add(std::initializer_list<ImageFormat> formats, Args&&... args);
    void DecodeEpsPreview(CByteSource& source, CImageBitmap& bitmap, int& depth);

    std::vector<std::unique_ptr<CImageDecoder>> decoders_;
    std::array<CImageDecoder*, static_cast<size_t>(ImageFormat::GIF) + 1> byFormat_{};
    ImageFormat lastFormat_ = ImageFormat::None;
};
