#include "avif_decoder.h"

#include "avif_reader.h"

#include "imagelib/byte_source.h"

#include <span>

namespace {

// The whole rest of the source: libavif reads its boxes in any order.
std::span<const uint8_t> TakeRest(CByteSource& source) {
    const size_t size = source.Available();
    const uint8_t* data = source.Read(size);
    return {data, size};
}

}  // namespace

void CAVIFDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int& depth, CByteSource& source) {
    CAvifReader reader(TakeRest(source));
    reader.DecodeFrame(0, bitmap);
    depth = 32;
}

void CAVIFDecoder::ProbeSource(CByteSource& source, ImageInfo& info) {
    const CAvifReader reader(TakeRest(source));
    info.width = reader.Width();
    info.height = reader.Height();
    info.bitsPerPixel = reader.BitsPerSample() * (reader.ColourChannels() + (reader.HasAlpha() ? 1 : 0));
    info.hasAlpha = reader.HasAlpha();
    info.frameCount = reader.FrameCount();
    info.orientation = reader.Orientation();
    info.hasColourProfile = !reader.IccProfile().empty();
}
