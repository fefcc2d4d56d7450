#include "gif_blocks.h"

#include "imagelib/decode_context.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "imagelib/work_budget.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kGraphicControlLabel = 0xF9;
constexpr uint8_t kApplicationLabel = 0xFF;
constexpr size_t kScreenEnd = 13;
constexpr size_t kDescriptor = 9;

// GIF's interlace order: four passes of (first row, row step).
constexpr int kPasses[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};

}  // namespace

GifOutline WalkGifBlocks(const uint8_t* data, size_t size) {
    GifOutline outline;
    outline.signature = size >= 3 && std::memcmp(data, "GIF", 3) == 0;
    if (!outline.signature || size < kScreenEnd) return outline;
    outline.screen = true;
    outline.width = data[6] | data[7] << 8;
    outline.height = data[8] | data[9] << 8;
    outline.background = data[11];
    outline.globalBits = (data[10] & 0x80) != 0 ? (data[10] & 7) + 1 : 0;
    size_t at = kScreenEnd + (outline.globalBits != 0 ? size_t{3} << outline.globalBits : 0);
    outline.headerLength = at;
    // Sub-blocks up to and with their terminator; false when the data ends first.
    auto skipSubBlocks = [&]() {
        while (at < size) {
            const uint8_t length = data[at++];
            if (length == 0) return true;
            at += length;
        }
        return false;
    };
    GifFrameBlocks control;  // what the last graphic control extension said
    while (at < size) {
        const uint8_t introducer = data[at++];
        if (introducer == kExtensionIntroducer) {
            if (at >= size) break;
            const uint8_t label = data[at++];
            if (label == kGraphicControlLabel && size - at >= 5 && data[at] >= 4) {
                const uint8_t flags = data[at + 1];
                control.disposal = (flags >> 2) & 7;
                control.delayCentiseconds = data[at + 2] | data[at + 3] << 8;
                control.transparentIndex = (flags & 1) != 0 ? data[at + 4] : -1;
            } else if (label == kApplicationLabel && size - at >= 17 && data[at] == 11 && data[at + 12] >= 3 &&
                       data[at + 13] == 1) {
                const std::string_view name(reinterpret_cast<const char*>(data + at + 1), 11);
                if (name == "NETSCAPE2.0" || name == "ANIMEXTS1.0") {
                    outline.hasLoopExtension = true;
                    outline.repeats = data[at + 14] | data[at + 15] << 8;
                }
            }
            if (!skipSubBlocks()) break;
        } else if (introducer == kImageSeparator) {
            if (size - at < kDescriptor) break;
            const RawImage raw = PeekImage(data + at, size - at);
            const uint8_t flags = data[at + 8];
            if (outline.images == 0) {
                outline.firstImageBits =
                    (flags & 0x80) != 0 ? (flags & 7) + 1 : outline.globalBits != 0 ? outline.globalBits : 8;
                outline.firstImageTransparent = control.transparentIndex >= 0;
            }
            control.separator = at - 1;
            control.placement = raw.placement;
            outline.frames.push_back(control);
            ++outline.images;
            control = GifFrameBlocks{};
            CheckDecodeCancelled();
            at += kDescriptor;
            if ((flags & 0x80) != 0) at += size_t{3} << ((flags & 7) + 1);
            ++at;  // minimum code size
            if (at > size || !skipSubBlocks()) break;
        } else {
            break;  // the trailer, or damage: what follows is not read
        }
    }
    return outline;
}

RawImage PeekImage(const uint8_t* data, size_t size) {
    RawImage raw;
    if (size < kDescriptor) return raw;
    const auto word = [data](size_t at) { return data[at] | (data[at + 1] << 8); };
    raw.placement = {word(0), word(2), word(4), word(6), (data[8] & 0x40) != 0};
    size_t length = kDescriptor;
    if (data[8] & 0x80) {
        raw.colourCount = 2 << (data[8] & 7);
        raw.colours = data + length;
        length += static_cast<size_t>(raw.colourCount) * 3;
    }
    if (size <= length) return raw;
    raw.minimumCodeSize = data[length];
    raw.length = length + 1;
    raw.complete = true;
    return raw;
}

bool NeedsOwnLzw(const RawImage& raw) { return raw.complete && raw.minimumCodeSize > 8 && raw.minimumCodeSize < 12; }

void ReadImageRows(const ImagePlacement& image, const RowReader& readRow,
                   const std::function<void(int y, const GifPixelType* row)>& onRow) {
    if (image.width <= 0 || image.height <= 0) return;
    std::vector<GifPixelType> row(static_cast<size_t>(image.width));
    const int passes = image.interlaced ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int step = image.interlaced ? kPasses[pass][1] : 1;
        for (int y = image.interlaced ? kPasses[pass][0] : 0; y < image.height; y += step) {
            // Rows outside the canvas are decoded too (later passes follow them): an image far
            // larger than its canvas pays a unit per pixel, which the canvas's own allowance
            // covers many times over for honest files.
            CWorkBudget::Charge(static_cast<uint64_t>(image.width));
            if (!readRow(row.data(), image.width)) return;
            onRow(y, row.data());
        }
    }
}

GifCanvas CanvasFor(int screenWidth, int screenHeight, const ImagePlacement& first) {
    if (first.width <= 0 || first.height <= 0) return {screenWidth, screenHeight};
    return {std::max(screenWidth, first.left + first.width), std::max(screenHeight, first.top + first.height)};
}

void CheckGifCanvas(int screenWidth, int screenHeight, const GifCanvas& canvas, size_t dataSize) {
    if (screenWidth == 0 || screenHeight == 0)
        RaiseError(ERR_BAD_DATA, FormatText("GIF decoder: the screen of %d x %d pixels is empty.", screenWidth, screenHeight));
    // Every LZW code takes at least 3 bits and stands for at most 4096 pixels, so a file can
    // describe no more pixels than this per byte. Animations draw their frames over the
    // whole canvas, so a canvas beyond that is a hostile header.
    constexpr uint64_t kMaxPixelsPerByte = 4096 * 8 / 3;
    if (uint64_t{static_cast<uint32_t>(canvas.width)} * static_cast<uint32_t>(canvas.height) > kMaxPixelsPerByte * dataSize)
        RaiseError(ERR_BAD_DATA, FormatText("GIF decoder: a screen of %d x %d pixels is more than the file's data can fill.",
                                            canvas.width, canvas.height));
}
