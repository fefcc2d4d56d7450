#include "gif_decoder.h"

#include "imagelib/byte_source.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <exception>
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

// Reads the image just described row by row and draws the part inside the screen.
void DrawImage(GifFileType* gif, const GifInput& input, CImageBitmap& screen, int colours) {
    const GifImageDesc& image = gif->Image;
    if (image.Width <= 0 || image.Height <= 0) return;
    // Images start inside the screen's top left corner (their offsets are unsigned).
    const int visible = std::max(0, std::min(image.Width, screen.Width() - image.Left));
    std::vector<GifPixelType> row(static_cast<size_t>(image.Width));
    const int passes = image.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int step = image.Interlace ? kPasses[pass][1] : 1;
        for (int y = image.Interlace ? kPasses[pass][0] : 0; y < image.Height; y += step) {
            if (DGifGetLine(gif, row.data(), image.Width) != GIF_OK) {
                // The compressed data may end before the last pixel; the rest keeps the background.
                if (!input.pending && gif->Error == D_GIF_ERR_EOF_TOO_SOON) return;
                Fail(input, gif->Error);
            }
            if (image.Top + y >= screen.Height() || visible == 0) continue;
            const auto end = row.begin() + visible;
            if (colours > 0 && std::any_of(row.begin(), end, [colours](GifPixelType index) { return index >= colours; }))
                RaiseError(ERR_BAD_DATA, "GIF decoder: a pixel refers to a colour beyond the colour map.");
            std::copy(row.begin(), end, screen.Line(image.Top + y) + image.Left);
        }
    }
}

}  // namespace

void CGIFDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int& depth, CByteSource& source) {
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
    if (DGifGetImageDesc(gif) != GIF_OK) Fail(input, gif->Error);

    depth = depth == 32 ? 32 : 8;
    // At 32 bits the picture is built at 8 and converted: refuse it before either exists.
    if (depth == 32) CheckBitmapStorage(gif->SWidth, gif->SHeight, 32, PaddedLineBytes(gif->SWidth, 32));
    CMemBitmap indexed;
    CImageBitmap& screen = depth == 32 ? indexed : bitmap;
    screen.Create(gif->SWidth, gif->SHeight, 8, false);
    // The image's own colour map, else the global one; without either the grey ramp stays.
    const ColorMapObject* map = gif->Image.ColorMap ? gif->Image.ColorMap : gif->SColorMap;
    {
        CBitmapLock lock(screen, false, true);
        const auto background = static_cast<uint8_t>(gif->SBackGroundColor);
        for (int y = 0; y < screen.Height(); ++y) std::memset(screen.Line(y), background, static_cast<size_t>(screen.Width()));
        DrawImage(gif, input, screen, map ? map->ColorCount : 0);
    }
    if (map != nullptr)
        for (int i = 0; i < std::min(map->ColorCount, 256); ++i)
            screen.Palette()[i] = OpaqueColour(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue);
    if (depth == 32) bitmap.CopyFrom(indexed, 32);
}
