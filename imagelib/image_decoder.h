#pragma once

#include "decode_context.h"
#include "image_bitmap.h"
#include "image_metadata.h"
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
// decodes one image at a time; decodes on several threads each use a decoder of their own.
//
// Each decode runs under a CDecodeContext (limits, trace, cancel flag, scaled decoding);
// the overloads without one use the process defaults. DecodeFile and DecodeMemory end by
// converting the picture's colours and turning it upright as the context asks (both by
// default); DecodeSource, which containers use for the pictures inside them, does neither. Every failure, an allocation failure
// inside a codec library or our own buffers included, reaches the caller as CTextException.
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

    void DecodeFile(const std::string& fileName, CImageBitmap& bitmap, const CDecodeContext& context, int depth = 0,
                    CProgressListener* listener = nullptr);
    void DecodeMemory(const uint8_t* start, size_t size, CImageBitmap& bitmap, const CDecodeContext& context,
                      int depth = 0);
    // DecodeFile over a file the caller has opened (and still owns); fileName names it in
    // messages and for the formats recognised by their extension.
    void DecodeDescriptor(int fd, const std::string& fileName, CImageBitmap& bitmap, const CDecodeContext& context,
                          int depth = 0);

    // Reads what the header says (size, depth, alpha, frames, orientation, profile) without
    // decoding pixels where the format allows; raises the same errors a decode would for a
    // file that cannot be opened or recognised.
    ImageInfo ProbeFile(const std::string& fileName, const CDecodeContext* context = nullptr);
    ImageInfo ProbeMemory(const uint8_t* start, size_t size, const CDecodeContext* context = nullptr);
    ImageInfo ProbeDescriptor(int fd, const std::string& fileName, const CDecodeContext* context = nullptr);
    // The probe of one format. The base decodes the picture and describes the result, for
    // formats whose size is only known once their records are played.
    virtual void ProbeSource(CByteSource& source, ImageInfo& info);

private:
    // fd < 0: the file is opened by its name.
    void DecodeFileIn(int fd, const std::string& fileName, CImageBitmap& bitmap, int depth,
                      CProgressListener* listener, const CDecodeContext* context);
    ImageInfo ProbeFileIn(int fd, const std::string& fileName, const CDecodeContext* context);
    void DecodeMemoryIn(const uint8_t* start, size_t size, CImageBitmap& bitmap, int depth,
                        const CDecodeContext* context);
};

// Describes a decoded bitmap as a probe would.
ImageInfo DescribeBitmap(const CImageBitmap& bitmap);

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
