#include "image_encoder.h"

#include "byte_order.h"
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
    CFileOutputSink sink;
    Trace(1, FormatText("--- Encoding file %s. ---\n", fileName.c_str()));
    if (const int result = sink.Open(fileName, EncodedSize(bitmap)); result != 0)
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
    layout.paletteBytes = d <= 8 ? 4 * static_cast<size_t>(PaletteEntries(d)) : 0;
    layout.rowBytes = PaddedLineBytes(bitmap.Width(), layout.outputDepth);
    layout.fileSize = 54 + layout.paletteBytes + layout.rowBytes * static_cast<size_t>(bitmap.Height());
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

    std::array<uint8_t, 54> header{};
    header[0] = 'B';
    header[1] = 'M';
    WriteLE32(&header[2], static_cast<uint32_t>(layout.fileSize));
    WriteLE32(&header[10], static_cast<uint32_t>(54 + layout.paletteBytes));
    WriteLE32(&header[14], 40);
    WriteLE32(&header[18], static_cast<uint32_t>(w));
    WriteLE32(&header[22], static_cast<uint32_t>(h));
    WriteLE16(&header[26], 1);
    WriteLE16(&header[28], static_cast<uint16_t>(layout.outputDepth));
    sink.Write(header.size(), header.data());

    CBitmapLock lock(bitmap, true, false);
    std::vector<uint8_t> row(layout.rowBytes, 0);
    if (bitmap.BitsPerPixel() <= 8) {
        sink.Write(layout.paletteBytes, bitmap.Palette());
        const size_t pixelBytes = std::min<size_t>(UnpaddedLineBytes(w, bitmap.BitsPerPixel()), layout.rowBytes);
        for (int y = h - 1; y >= 0; --y) {
            std::copy_n(bitmap.Line(y), pixelBytes, row.data());
            sink.Write(row.size(), row.data());
        }
    } else {
        for (int y = h - 1; y >= 0; --y) {
            const BGRA* in = bitmap.PixelLine(y);
            uint8_t* out = row.data();
            for (int x = 0; x < w; ++x, out += 3) {
                out[0] = in[x].b;
                out[1] = in[x].g;
                out[2] = in[x].r;
            }
            sink.Write(row.size(), row.data());
        }
    }
}
