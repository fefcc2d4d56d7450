#pragma once

#include "image_bitmap.h"
#include "pl_object.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CByteSource;
class CProgressListener;

// A palette table a decoder builds while decoding; the framework frees it after the decode.
using PaletteHolder = std::unique_ptr<BGRA[]>;

// Base of every format decoder. DecodeFile and DecodeMemory open a data source and hand it
// to DecodeSource; each format implements DecodeInto, which reads from the source's current
// position, creates and fills the caller's bitmap, and raises every failure as a
// CTextException through RaiseError.
//
// Wanted depth: 0 lets the decoder choose, 8 or 32 ask for that depth. One decoder object
// decodes one image at a time.
class CImageDecoder : public CPLObject {
public:
    CImageDecoder() = default;
    ~CImageDecoder() override = default;
    CImageDecoder(const CImageDecoder&) = delete;
    CImageDecoder& operator=(const CImageDecoder&) = delete;

    virtual void DecodeFile(const std::string& fileName, CImageBitmap& bitmap, int depth = 0,
                            CProgressListener* listener = nullptr);
    virtual void DecodeMemory(const uint8_t* start, size_t size, CImageBitmap& bitmap, int depth = 0);
    virtual void DecodeSource(CByteSource& source, CImageBitmap& bitmap, int& depth);
    virtual void DecodeInto(CImageBitmap& bitmap, PaletteHolder& palette, int& depth, CByteSource& source);
};

// The shared depth rule: a wanted depth of 0 becomes 8 for files of 8 bits or fewer and
// 32 otherwise; any other wanted depth stays.
void ResolveDepth(int fileDepth, int& depth);

// Expand count packed colour indices (1, 2, 4 or 8 bits each, most significant bits first)
// into 32-bit pixels through table. The input must hold ceil(count * bits / 8) bytes and
// the table 2^bits entries.
void ExpandRow1(BGRA* out, const uint8_t* in, int count, const BGRA* table);
void ExpandRow2(BGRA* out, const uint8_t* in, int count, const BGRA* table);
void ExpandRow4(BGRA* out, const uint8_t* in, int count, const BGRA* table);
void ExpandRow8(BGRA* out, const uint8_t* in, int count, const BGRA* table);
