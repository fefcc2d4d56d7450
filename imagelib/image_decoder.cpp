#include "image_decoder.h"

#include "byte_source.h"
#include "colour_management.h"
#include "decode_steps.h"
#include "mem_bitmap.h"
#include "orientation.h"
#include "text_exception.h"
#include "trace.h"
#include "work_budget.h"

namespace {

void OpenFile(CMappedFileSource& source, int fd, const std::string& fileName) {
    if (const int result = fd < 0 ? source.Open(fileName) : source.OpenDescriptor(fd, fileName); result != 0)
        RaiseError(result, FormatText("Opening %s failed", fileName.c_str()));
}

}  // namespace

void FinishPicture(CImageBitmap& bitmap) {
    const CDecodeContext& context = *ActiveDecodeContext();
    if (context.colourManagement) {
        CheckDecodeCancelled();
        ConvertColours(bitmap, context.targetProfile);
    }
    if (context.applyOrientation) {
        CheckDecodeCancelled();
        ApplyOrientation(bitmap);
    }
}

void CImageDecoder::DecodeFile(const std::string& fileName, CImageBitmap& bitmap, int depth,
                               CProgressListener* listener) {
    DecodeFileIn(-1, fileName, bitmap, depth, listener, nullptr);
}

void CImageDecoder::DecodeFile(const std::string& fileName, CImageBitmap& bitmap, const CDecodeContext& context,
                               int depth, CProgressListener* listener) {
    DecodeFileIn(-1, fileName, bitmap, depth, listener, &context);
}

void CImageDecoder::DecodeDescriptor(int fd, const std::string& fileName, CImageBitmap& bitmap,
                                     const CDecodeContext& context, int depth) {
    DecodeFileIn(fd, fileName, bitmap, depth, nullptr, &context);
}

void CImageDecoder::DecodeMemory(const uint8_t* start, size_t size, CImageBitmap& bitmap, int depth) {
    DecodeMemoryIn(start, size, bitmap, depth, nullptr);
}

void CImageDecoder::DecodeMemory(const uint8_t* start, size_t size, CImageBitmap& bitmap,
                                 const CDecodeContext& context, int depth) {
    DecodeMemoryIn(start, size, bitmap, depth, &context);
}

void CImageDecoder::DecodeFileIn(int fd, const std::string& fileName, CImageBitmap& bitmap, int depth,
                                 CProgressListener* listener, const CDecodeContext* context) {
    const bool outermost = ActiveDecodeContext() == nullptr;
    RunDecode(context, [&] {
        Trace(1, FormatText("--- Decoding file %s. ---\n", fileName.c_str()));
        CMappedFileSource source(listener);
        OpenFile(source, fd, fileName);
        CWorkBudget budget(source.DataSize());
        CheckDecodeCancelled();
        try {
            DecodeSource(source, bitmap, depth);
        } catch (const CTextException&) {
            if (!source.Shrunk()) throw;
        }
        // Whatever the decoder made of the zeros that stand for the lost bytes is no picture.
        if (source.Shrunk()) RaiseError(ERR_END_OF_DATA, FormatText("%s shrank while it was being decoded.", fileName.c_str()));
        source.Close();
        if (outermost) FinishPicture(bitmap);
    });
}

void CImageDecoder::DecodeMemoryIn(const uint8_t* start, size_t size, CImageBitmap& bitmap, int depth,
                                   const CDecodeContext* context) {
    const bool outermost = ActiveDecodeContext() == nullptr;
    RunDecode(context, [&] {
        Trace(1, FormatText("--- Decoding from memory at %p. ---\n", static_cast<const void*>(start)));
        CMemoryBlockSource source;
        source.Open(start, size);
        CWorkBudget budget(size);
        CheckDecodeCancelled();
        DecodeSource(source, bitmap, depth);
        source.Close();
        if (outermost) FinishPicture(bitmap);
    });
}

ImageInfo CImageDecoder::ProbeFile(const std::string& fileName, const CDecodeContext* context) {
    return ProbeFileIn(-1, fileName, context);
}

ImageInfo CImageDecoder::ProbeDescriptor(int fd, const std::string& fileName, const CDecodeContext* context) {
    return ProbeFileIn(fd, fileName, context);
}

ImageInfo CImageDecoder::ProbeFileIn(int fd, const std::string& fileName, const CDecodeContext* context) {
    ImageInfo info;
    RunDecode(context, [&] {
        CMappedFileSource source;
        OpenFile(source, fd, fileName);
        CWorkBudget budget(source.DataSize());
        ProbeSource(source, info);
        source.Close();
    });
    return info;
}

ImageInfo CImageDecoder::ProbeMemory(const uint8_t* start, size_t size, const CDecodeContext* context) {
    ImageInfo info;
    RunDecode(context, [&] {
        CMemoryBlockSource source;
        source.Open(start, size);
        CWorkBudget budget(size);
        ProbeSource(source, info);
        source.Close();
    });
    return info;
}

void CImageDecoder::ProbeSource(CByteSource& source, ImageInfo& info) {
    CMemBitmap bitmap;
    int depth = 0;
    DecodeSource(source, bitmap, depth);
    info = DescribeBitmap(bitmap);
}

ImageInfo DescribeBitmap(const CImageBitmap& bitmap) {
    const ImageMetadata& metadata = bitmap.Metadata();
    return ImageInfo{.width = bitmap.Width(),
                     .height = bitmap.Height(),
                     .bitsPerPixel = bitmap.BitsPerPixel(),
                     .hasAlpha = bitmap.HasAlpha(),
                     .frameCount = metadata.frameCount,
                     .orientation = metadata.orientation,
                     .hasColourProfile = !metadata.iccProfile.empty()};
}

void CImageDecoder::DecodeSource(CByteSource& source, CImageBitmap& bitmap, int& depth) {
    PaletteHolder palette;
    DecodeInto(bitmap, palette, depth, source);
}

void CImageDecoder::DecodeInto(CImageBitmap&, PaletteHolder&, int&, CByteSource&) {}

void ResolveDepth(int fileDepth, int& depth) {
    if (depth == 0) depth = fileDepth <= 8 ? 8 : 32;
}

namespace {

template <int Bits>
void ExpandRow(BGRA* out, const uint8_t* in, int count, const BGRA* table) {
    constexpr int perByte = 8 / Bits;
    constexpr int mask = (1 << Bits) - 1;
    int x = 0;
    for (; x + perByte <= count; x += perByte, ++in) {
        const uint8_t byte = *in;
        for (int k = 0; k < perByte; ++k) out[x + k] = table[(byte >> (8 - Bits * (k + 1))) & mask];
    }
    for (int k = 0; x < count; ++x, ++k) out[x] = table[(*in >> (8 - Bits * (k + 1))) & mask];
}

}  // namespace

void ExpandRow1(BGRA* out, const uint8_t* in, int count, const BGRA* table) { ExpandRow<1>(out, in, count, table); }
void ExpandRow2(BGRA* out, const uint8_t* in, int count, const BGRA* table) { ExpandRow<2>(out, in, count, table); }
void ExpandRow4(BGRA* out, const uint8_t* in, int count, const BGRA* table) { ExpandRow<4>(out, in, count, table); }
void ExpandRow8(BGRA* out, const uint8_t* in, int count, const BGRA* table) {
    for (int x = 0; x < count; ++x) out[x] = table[in[x]];
}
