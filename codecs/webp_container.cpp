#include "webp_container.h"

#include "imagelib/exif_orientation.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <memory>

namespace {

struct DemuxDeleter {
    void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};

std::vector<uint8_t> Chunk(const WebPDemuxer* demux, const char* fourcc) {
    WebPChunkIterator chunk;
    if (!WebPDemuxGetChunk(demux, fourcc, 1, &chunk)) return {};
    std::vector<uint8_t> bytes(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
    WebPDemuxReleaseChunkIterator(&chunk);
    return bytes;
}

const char* StatusText(VP8StatusCode status) {
    switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY: return "libwebp ran out of memory.";
    case VP8_STATUS_INVALID_PARAM: return "libwebp was given an invalid parameter.";
    case VP8_STATUS_BITSTREAM_ERROR: return "the file's data is damaged.";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "the file uses a feature libwebp does not support.";
    case VP8_STATUS_SUSPENDED: return "the decode was suspended.";
    case VP8_STATUS_USER_ABORT: return "the decode was stopped.";
    case VP8_STATUS_NOT_ENOUGH_DATA: return "the data ends inside the headers.";
    default: return "libwebp failed.";
    }
}

}  // namespace

WebPLayout ReadWebPLayout(std::span<const uint8_t> data) {
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(data.data(), data.size(), &features);
    if (status == VP8_STATUS_NOT_ENOUGH_DATA) RaiseError(ERR_END_OF_DATA, "WebP decoder: the data ends inside the headers.");
    if (status != VP8_STATUS_OK) RaiseWebPStatus(status);

    WebPLayout layout;
    layout.width = features.width;
    layout.height = features.height;
    layout.hasAlpha = features.has_alpha != 0;
    layout.animated = features.has_animation != 0;
    layout.lossless = features.format == 2;

    const WebPData whole{data.data(), data.size()};
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    const std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemuxPartial(&whole, &state));
    if (state == WEBP_DEMUX_PARSING_HEADER) RaiseError(ERR_END_OF_DATA, "WebP decoder: the data ends inside the headers.");
    if (!demux || state == WEBP_DEMUX_PARSE_ERROR)
        RaiseError(ERR_BAD_DATA, "WebP decoder: the file's chunks are damaged.");
    layout.complete = state == WEBP_DEMUX_DONE;
    // The canvas of an extended file is what its frames are drawn on; a simple file's canvas
    // is its one picture.
    layout.width = static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH));
    layout.height = static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT));
    layout.frameCount = std::max(1, static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_FRAME_COUNT)));
    layout.loopCount = static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_LOOP_COUNT));
    const uint32_t flags = WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS);
    if (flags & ICCP_FLAG) layout.iccProfile = Chunk(demux.get(), "ICCP");
    if (flags & EXIF_FLAG) {
        const std::vector<uint8_t> exif = Chunk(demux.get(), "EXIF");
        if (!exif.empty()) layout.orientation = ReadExifOrientation(exif);
    }
    if (layout.width <= 0 || layout.height <= 0)
        RaiseError(ERR_BAD_DATA, FormatText("WebP decoder: the canvas of %d x %d pixels is empty.", layout.width, layout.height));
    return layout;
}

void RaiseWebPStatus(int status) {
    const auto code = static_cast<VP8StatusCode>(status);
    RaiseError(code == VP8_STATUS_OUT_OF_MEMORY ? ERR_OUT_OF_MEMORY : ERR_BAD_DATA,
               FormatText("WebP decoder: %s", StatusText(code)));
}

void CheckWebPCanvas(const WebPLayout& layout) {
    CheckBitmapStorage(layout.width, layout.height, 32, PaddedLineBytes(layout.width, 32));
}
