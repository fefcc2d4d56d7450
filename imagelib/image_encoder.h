#pragma once

#include "image_bitmap.h"
#include "pl_object.h"

#include <string>

class COutputSink;

// Encodes a bitmap into a sink's memory buffer; EncodeFile streams the result to a file and
// is the entry point callers use. Failures are CTextExceptions.
class CImageEncoder : public CPLObject {
public:
    ~CImageEncoder() override = default;

    virtual void EncodeFile(const std::string& fileName, CImageBitmap& bitmap);
    virtual void Encode(CImageBitmap& bitmap, COutputSink& sink);
    virtual void EncodeInto(CImageBitmap& bitmap, COutputSink& sink) = 0;

protected:
    // Bytes the sink needs for bitmap; at least the estimate from MemoryUsed.
    virtual size_t EncodedSize(const CImageBitmap& bitmap) const;
};

// Writes Windows BMP files: 1- and 8-bit bitmaps with their palettes, 32-bit bitmaps as
// 24-bit files (the alpha byte is dropped). Rows are stored bottom-up, padded to 4 bytes.
class CBMPEncoder : public CImageEncoder {
public:
    void EncodeInto(CImageBitmap& bitmap, COutputSink& sink) override;

protected:
    size_t EncodedSize(const CImageBitmap& bitmap) const override;
};
