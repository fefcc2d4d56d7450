#include "gif_decoder.h"

#include "gif_blocks.h"
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

// Reads the image row by row and draws the part inside the canvas.
void DrawImage(const ImagePlacement& image, const RowReader& readRow, CImageBitmap& screen, int colours) {
    // Images start inside the screen's top left corner (their offsets are unsigned).
    const int visible = std::max(0, std::min(image.width, screen.Width() - image.left));
    ReadImageRows(image, readRow, [&](int y, const GifPixelType* row) {
        if (image.top + y >= screen.Height() || visible == 0) return;
        if (colours > 0 && std::any_of(row, row + visible, [colours](GifPixelType index) { return index >= colours; }))
            RaiseError(ERR_BAD_DATA, "GIF decoder: a pixel refers to a colour beyond the colour map.");
        std::copy(row, row + visible, screen.Line(image.top + y) + image.left);
    });
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

    const GifCanvas canvas = CanvasFor(gif->SWidth, gif->SHeight, raw.placement);
    depth = depth == 32 ? 32 : 8;
    // At 32 bits the picture is built at 8 and converted: refuse it before either exists,
    // and as too large before asking whether the data could fill it.
    if (depth == 32) CheckBitmapStorage(canvas.width, canvas.height, 32, PaddedLineBytes(canvas.width, 32));
    CheckGifCanvas(gif->SWidth, gif->SHeight, canvas, source.DataSize());
    CMemBitmap indexed;
    CImageBitmap& screen = depth == 32 ? indexed : bitmap;
    screen.Create(canvas.width, canvas.height, 8, false);

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
    const GifOutline outline = WalkGifBlocks(start, size);
    if (depth == 32) {
        // The transparent colour of the first image's graphic control extension: its pixels,
        // and the background where it is that colour, show what lies behind the picture.
        const int transparent = outline.frames.empty() ? -1 : outline.frames.front().transparentIndex;
        if (transparent >= 0) indexed.Palette()[transparent].a = 0;
        bitmap.CopyFrom(indexed, 32);
        bitmap.SetHasAlpha(transparent >= 0);
    }
    bitmap.Metadata().frameCount = std::max(1, outline.images);
}

void CGIFDecoder::ProbeSource(CByteSource& source, ImageInfo& info) {
    const GifOutline outline = WalkGifBlocks(source.RemainingData(), source.Available());
    if (!outline.signature) Fail(GifInput{}, D_GIF_ERR_NOT_GIF_FILE);
    if (!outline.screen) throw CTextException(ERR_END_OF_DATA, "End of file reached while decoding.\n");
    if (outline.images == 0) RaiseError(ERR_BAD_DATA, "GIF decoder: the file holds no image.");
    const GifCanvas canvas = CanvasFor(outline.width, outline.height, outline.frames.front().placement);
    CheckGifCanvas(outline.width, outline.height, canvas, source.DataSize());
    info.width = canvas.width;
    info.height = canvas.height;
    info.bitsPerPixel = outline.firstImageBits;
    info.hasAlpha = outline.firstImageTransparent;
    info.frameCount = outline.images;
}
