#include "image_encoder.h"

#include "dib_format.h"
#include "output_sink.h"
#include "storage_limit.h"
#include "trace.h"

#include <algorithm>
#include <array>
#include <vector>

size_t CImageEncoder::EncodedSize(const CImageBitmap& bitmap) const {
    const size_t m = bitmap.MemoryUsed();
    return m >= 20000 ? static_cast<size_t>(static_cast<double>(m) * 1.2) : m + 4096;
}

void CImageEncoder::EncodeFile(const std::string& fileName, CImageBitmap& bitmap) {
    // The file is streamed through a buffer of this size: a file as large as the picture
    // never has to be held in memory beside it.
    constexpr size_t kStreamBuffer = size_t{1} << 20;
    CFileOutputSink sink;
    Trace(1, FormatText("--- Encoding file %s. ---\n", fileName.c_str()));
    if (const int result = sink.Open(fileName, std::min(EncodedSize(bitmap), kStreamBuffer)); result != 0)
        RaiseError(result, FormatText("Opening %s failed", fileName.c_str()));
    Encode(bitmap, sink);
    sink.Commit();
}

void CImageEncoder::Encode(CImageBitmap& bitmap, COutputSink& sink) { EncodeInto(bitmap, sink); }

namespace {

struct BmpLayout {
    int outputDepth;
    size_t paletteBytes;
    size_t rowBytes;  // written row length, padded to 4 bytes
    size_t fileSize;
};

BmpLayout LayoutOf(const CImageBitmap& bitmap) {
    const int d = bitmap.BitsPerPixel();
    BmpLayout layout{};
    layout.outputDepth = d <= 8 ? d : 24;
    layout.paletteBytes = DibColourTableBytes(d);
    layout.rowBytes = PaddedLineBytes(bitmap.Width(), layout.outputDepth);
    layout.fileSize = kBmpFileHeaderSize + kDibInfoHeaderSize + layout.paletteBytes +
                      layout.rowBytes * static_cast<size_t>(bitmap.Height());
    return layout;
}

}  // namespace

// The estimate from MemoryUsed falls short for 1-bit bitmaps whose unpadded rows are much
// shorter than the padded rows written, so the exact file size is the floor.
size_t CBMPEncoder::EncodedSize(const CImageBitmap& bitmap) const {
    return std::max(CImageEncoder::EncodedSize(bitmap), LayoutOf(bitmap).fileSize);
}

void CBMPEncoder::EncodeInto(CImageBitmap& bitmap, COutputSink& sink) {
    const BmpLayout layout = LayoutOf(bitmap);
    const int w = bitmap.Width();
    const int h = bitmap.Height();

    std::array<uint8_t, kBmpFileHeaderSize + kDibInfoHeaderSize> header{};
    WriteBmpFileHeader(header.data(), layout.fileSize, header.size() + layout.paletteBytes);
    WriteDibInfoHeader(header.data() + kBmpFileHeaderSize, w, h, layout.outputDepth);
    sink.Write(header.size(), header.data());

    CBitmapLock lock(bitmap, true, false);
    if (bitmap.BitsPerPixel() <= 8) sink.Write(layout.paletteBytes, bitmap.Palette());
    std::vector<uint8_t> row(layout.rowBytes, 0);
    for (int y = h - 1; y >= 0; --y) {
        PackDibRow(bitmap.Line(y), w, bitmap.BitsPerPixel(), row);
        sink.Write(row.size(), row.data());
    }
}
