#include "gif_decoder.h"

#include "gif_lzw_reader.h"

#include "imagelib/byte_source.h"
#include "imagelib/decode_context.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "imagelib/work_budget.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <vector>

namespace {

// The data source and its failure, carried through giflib's user data.
struct GifInput {
    CByteSource* source = nullptr;
    std::exception_ptr pending;
};

// giflib's read routine. A short count tells giflib that the data ended; the source's own
// end-of-data failure waits to be raised once giflib has returned.
int ReadRoutine(GifFileType* gif, GifByteType* out, int count) noexcept {
    auto* input = static_cast<GifInput*>(gif->UserData);
    if (count <= 0) return 0;
    try {
        std::memcpy(out, input->source->Read(static_cast<size_t>(count)), static_cast<size_t>(count));
    } catch (...) {
        input->pending = std::current_exception();
        return 0;
    }
    return count;
}

[[noreturn]] void Fail(const GifInput& input, int error) {
    if (input.pending) std::rethrow_exception(input.pending);
    const char* text = GifErrorString(error);
    RaiseError(error == D_GIF_ERR_NOT_GIF_FILE ? ERR_NOT_THIS_FORMAT : ERR_BAD_DATA,
               FormatText("GIF decoder: %s", text != nullptr ? text : "giflib failed."));
}

class GifHandle {
public:
    explicit GifHandle(GifFileType* gif) : gif_(gif) {}
    ~GifHandle() {
        int error = 0;
        DGifCloseFile(gif_, &error);
    }
    GifHandle(const GifHandle&) = delete;
    GifHandle& operator=(const GifHandle&) = delete;
    GifFileType* get() const { return gif_; }

private:
    GifFileType* gif_;
};

// GIF's interlace order: four passes of (first row, row step).
constexpr int kPasses[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};

// Where an image sits on the screen and how its rows are stored.
struct ImagePlacement {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool interlaced = false;
};

// Reads the next row of the image's pixels; false when the compressed data ends first.
using RowReader = std::function<bool(GifPixelType* row, int width)>;

// Reads the image row by row and draws the part inside the screen.
void DrawImage(const ImagePlacement& image, const RowReader& readRow, CImageBitmap& screen, int colours) {
    if (image.width <= 0 || image.height <= 0) return;
    // Images start inside the screen's top left corner (their offsets are unsigned).
    const int visible = std::max(0, std::min(image.width, screen.Width() - image.left));
    std::vector<GifPixelType> row(static_cast<size_t>(image.width));
    const int passes = image.interlaced ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int step = image.interlaced ? kPasses[pass][1] : 1;
        for (int y = image.interlaced ? kPasses[pass][0] : 0; y < image.height; y += step) {
            // Rows outside the screen are decoded too (later passes follow them): an image far
            // larger than its screen pays a unit per pixel, which the screen's own allowance
            // covers many times over for honest files.
            CWorkBudget::Charge(static_cast<uint64_t>(image.width));
            // The compressed data may end before the last pixel; the rest keeps the background.
            if (!readRow(row.data(), image.width)) return;
            if (image.top + y >= screen.Height() || visible == 0) continue;
            const auto end = row.begin() + visible;
            if (colours > 0 && std::any_of(row.begin(), end, [colours](GifPixelType index) { return index >= colours; }))
                RaiseError(ERR_BAD_DATA, "GIF decoder: a pixel refers to a colour beyond the colour map.");
            std::copy(row.begin(), end, screen.Line(image.top + y) + image.left);
        }
    }
}

// The image descriptor as the file holds it (after its separator): placement, local colour
// map and the compressed data's minimum code size, read without consuming anything.
struct RawImage {
    ImagePlacement placement;
    const uint8_t* colours = nullptr;  // RGB triplets of the local map, if there is one
    int colourCount = 0;
    int minimumCodeSize = 0;
    size_t length = 0;  // descriptor, map and code size byte
    bool complete = false;  // all of that is present
};

RawImage PeekImage(const uint8_t* data, size_t size) {
    RawImage raw;
    constexpr size_t kDescriptor = 9;
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

// giflib reads codes of at most 9 bits to start with; the format allows up to 12.
bool NeedsOwnLzw(const RawImage& raw) { return raw.complete && raw.minimumCodeSize > 8 && raw.minimumCodeSize < 12; }

constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kGraphicControlLabel = 0xF9;

// What a walk over a GIF's blocks finds, decoding no image data: the sub-blocks of
// extensions and images are skipped by their lengths.
struct GifOutline {
    bool signature = false;
    bool screen = false;  // the logical screen descriptor is all there
    int width = 0;
    int height = 0;
    int images = 0;
    int firstImageBits = 8;  // of the colour map the first image is drawn through
    bool firstImageTransparent = false;  // its graphic control extension names a transparent colour
};

// Walks data from the signature up to the trailer, the end of the data or a byte that
// starts no block, counting complete image descriptors.
GifOutline WalkBlocks(const uint8_t* data, size_t size) {
    GifOutline outline;
    outline.signature = size >= 3 && std::memcmp(data, "GIF", 3) == 0;
    constexpr size_t kScreenEnd = 13;
    if (!outline.signature || size < kScreenEnd) return outline;
    outline.screen = true;
    outline.width = data[6] | data[7] << 8;
    outline.height = data[8] | data[9] << 8;
    const int globalBits = (data[10] & 0x80) != 0 ? (data[10] & 7) + 1 : 0;
    size_t at = kScreenEnd + (globalBits != 0 ? size_t{3} << globalBits : 0);
    // Sub-blocks up to and with their terminator; false when the data ends first.
    auto skipSubBlocks = [&]() {
        while (at < size) {
            const uint8_t length = data[at++];
            if (length == 0) return true;
            at += length;
        }
        return false;
    };
    bool transparent = false;  // the last graphic control extension's flag
    while (at < size) {
        const uint8_t introducer = data[at++];
        if (introducer == kExtensionIntroducer) {
            if (at >= size) break;
            const uint8_t label = data[at++];
            if (label == kGraphicControlLabel && size - at >= 2 && data[at] >= 4) transparent = (data[at + 1] & 1) != 0;
            if (!skipSubBlocks()) break;
        } else if (introducer == kImageSeparator) {
            constexpr size_t kDescriptor = 9;
            if (size - at < kDescriptor) break;
            const uint8_t flags = data[at + 8];
            at += kDescriptor;
            if (outline.images == 0) {
                outline.firstImageBits = (flags & 0x80) != 0 ? (flags & 7) + 1 : globalBits != 0 ? globalBits : 8;
                outline.firstImageTransparent = transparent;
            }
            ++outline.images;
            transparent = false;
            CheckDecodeCancelled();
            if ((flags & 0x80) != 0) at += size_t{3} << ((flags & 7) + 1);
            ++at;  // minimum code size
            if (at > size || !skipSubBlocks()) break;
        } else {
            break;  // the trailer, or damage: what follows is not read
        }
    }
    return outline;
}

// Every LZW code takes at least 3 bits and stands for at most 4096 pixels, so a file can
// describe no more pixels than this per byte. A screen beyond that is a hostile header
// (animations draw their frames over the screen they declare): refuse it before it is
// allocated and filled.
void CheckScreen(int width, int height, size_t dataSize) {
    if (width == 0 || height == 0) RaiseError(ERR_BAD_DATA, FormatText("GIF decoder: the screen of %d x %d pixels is empty.", width, height));
    constexpr uint64_t kMaxPixelsPerByte = 4096 * 8 / 3;
    if (uint64_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height) > kMaxPixelsPerByte * dataSize)
        RaiseError(ERR_BAD_DATA, FormatText("GIF decoder: a screen of %d x %d pixels is more than the file's data can fill.",
                                            width, height));
}

}  // namespace

void CGIFDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int& depth, CByteSource& source) {
    const uint8_t* const start = source.RemainingData();
    const size_t size = source.Available();
    GifInput input;
    input.source = &source;
    int error = 0;
    GifFileType* opened = DGifOpen(&input, ReadRoutine, &error);
    if (opened == nullptr) Fail(input, error);
    GifHandle handle(opened);
    GifFileType* gif = handle.get();

    // Extensions up to the first image are skipped; the screen is made once it is known
    // that there is an image to draw on it.
    for (GifRecordType record = UNDEFINED_RECORD_TYPE; record != IMAGE_DESC_RECORD_TYPE;) {
        if (DGifGetRecordType(gif, &record) != GIF_OK) Fail(input, gif->Error);
        if (record == TERMINATE_RECORD_TYPE) RaiseError(ERR_BAD_DATA, "GIF decoder: the file holds no image.");
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) != GIF_OK) Fail(input, gif->Error);
            while (block != nullptr)
                if (DGifGetExtensionNext(gif, &block) != GIF_OK) Fail(input, gif->Error);
        }
    }
    const RawImage raw = PeekImage(source.RemainingData(), source.Available());
    // An image without width or height covers nothing, whatever follows its descriptor.
    const bool empty = source.Available() >= 9 && (raw.placement.width == 0 || raw.placement.height == 0);
    const bool ownLzw = !empty && NeedsOwnLzw(raw);
    if (!empty && !ownLzw && DGifGetImageDesc(gif) != GIF_OK) Fail(input, gif->Error);

    CheckScreen(gif->SWidth, gif->SHeight, source.DataSize());
    depth = depth == 32 ? 32 : 8;
    // At 32 bits the picture is built at 8 and converted: refuse it before either exists.
    if (depth == 32) CheckBitmapStorage(gif->SWidth, gif->SHeight, 32, PaddedLineBytes(gif->SWidth, 32));
    CMemBitmap indexed;
    CImageBitmap& screen = depth == 32 ? indexed : bitmap;
    screen.Create(gif->SWidth, gif->SHeight, 8, false);

    // The image's own colour map, else the global one; without either the grey ramp stays.
    std::vector<GifColorType> colours;
    if (ownLzw && raw.colours != nullptr) {
        for (int i = 0; i < raw.colourCount; ++i)
            colours.push_back({raw.colours[3 * i], raw.colours[3 * i + 1], raw.colours[3 * i + 2]});
    } else {
        const ColorMapObject* map = !empty && !ownLzw && gif->Image.ColorMap ? gif->Image.ColorMap : gif->SColorMap;
        if (map != nullptr) colours.assign(map->Colors, map->Colors + map->ColorCount);
    }
    {
        CBitmapLock lock(screen, false, true);
        const auto background = static_cast<uint8_t>(gif->SBackGroundColor);
        for (int y = 0; y < screen.Height(); ++y) std::memset(screen.Line(y), background, static_cast<size_t>(screen.Width()));
        const int colourCount = static_cast<int>(colours.size());
        if (ownLzw) {
            source.Skip(raw.length);
            CGifLzwReader lzw(source.RemainingData(), source.Available(), raw.minimumCodeSize);
            DrawImage(raw.placement, [&lzw](GifPixelType* row, int width) { return lzw.Read(row, width); }, screen, colourCount);
        } else if (!empty) {
            const GifImageDesc& desc = gif->Image;
            const ImagePlacement placement{desc.Left, desc.Top, desc.Width, desc.Height, desc.Interlace};
            DrawImage(placement, [gif, &input](GifPixelType* row, int width) {
                if (DGifGetLine(gif, row, width) == GIF_OK) return true;
                if (!input.pending && gif->Error == D_GIF_ERR_EOF_TOO_SOON) return false;
                Fail(input, gif->Error);
            }, screen, colourCount);
        }
    }
    for (int i = 0; i < std::min(static_cast<int>(colours.size()), 256); ++i)
        screen.Palette()[i] = OpaqueColour(colours[i].Red, colours[i].Green, colours[i].Blue);
    if (depth == 32) bitmap.CopyFrom(indexed, 32);
    bitmap.Metadata().frameCount = std::max(1, WalkBlocks(start, size).images);
}

void CGIFDecoder::ProbeSource(CByteSource& source, ImageInfo& info) {
    const GifOutline outline = WalkBlocks(source.RemainingData(), source.Available());
    if (!outline.signature) Fail(GifInput{}, D_GIF_ERR_NOT_GIF_FILE);
    if (!outline.screen) throw CTextException(ERR_END_OF_DATA, "End of file reached while decoding.\n");
    if (outline.images == 0) RaiseError(ERR_BAD_DATA, "GIF decoder: the file holds no image.");
    CheckScreen(outline.width, outline.height, source.DataSize());
    info.width = outline.width;
    info.height = outline.height;
    info.bitsPerPixel = outline.firstImageBits;
    info.hasAlpha = outline.firstImageTransparent;
    info.frameCount = outline.images;
}
