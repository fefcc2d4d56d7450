#include "gif_animation.h"

#include "gif_blocks.h"
#include "gif_lzw_reader.h"

#include "imagelib/decode_steps.h"
#include "imagelib/image_bitmap.h"
#include "imagelib/pixel.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "imagelib/work_budget.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

namespace {

constexpr int kShortDelayMilliseconds = 20;
constexpr int kDefaultDelayMilliseconds = 100;
constexpr BGRA kTransparent{0, 0, 0, 0};
// The global colour map follows the signature and the logical screen descriptor.
constexpr size_t kGlobalMapOffset = 13;

// What giflib reads for one image: the file's header (signature, screen, global map)
// followed by the image from its separator on, as if it were the file's only image.
struct StitchedInput {
    std::span<const uint8_t> header;
    std::span<const uint8_t> image;
    size_t position = 0;
    bool exhausted = false;
};

int ReadStitched(GifFileType* gif, GifByteType* out, int count) noexcept {
    auto* input = static_cast<StitchedInput*>(gif->UserData);
    int copied = 0;
    while (copied < count) {
        const bool inHeader = input->position < input->header.size();
        const std::span<const uint8_t> part =
            inHeader ? input->header.subspan(input->position)
                     : input->image.subspan(std::min(input->image.size(), input->position - input->header.size()));
        if (part.empty()) {
            input->exhausted = true;
            break;
        }
        const size_t take = std::min(part.size(), static_cast<size_t>(count - copied));
        std::memcpy(out + copied, part.data(), take);
        copied += static_cast<int>(take);
        input->position += take;
    }
    return copied;
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

[[noreturn]] void FailFrame(int error) {
    const char* text = GifErrorString(error);
    RaiseError(ERR_BAD_DATA, FormatText("GIF decoder: %s", text != nullptr ? text : "giflib failed."));
}

class CGifAnimationReader : public CAnimationReader {
public:
    CGifAnimationReader(std::vector<uint8_t> data, const CDecodeContext& context)
        : CAnimationReader(context), data_(std::move(data)) {
        RunDecode(&Context(), [&] {
            outline_ = WalkGifBlocks(data_.data(), data_.size());
            if (!outline_.signature) FailFrame(D_GIF_ERR_NOT_GIF_FILE);
            if (!outline_.screen) RaiseError(ERR_END_OF_DATA, "GIF decoder: the data ends inside the screen descriptor.");
            if (outline_.frames.empty()) RaiseError(ERR_BAD_DATA, "GIF decoder: the file holds no image.");
            canvas_ = CanvasFor(outline_.width, outline_.height, outline_.frames.front().placement);
            CheckBitmapStorage(canvas_.width, canvas_.height, 32, PaddedLineBytes(canvas_.width, 32));
            CheckGifCanvas(outline_.width, outline_.height, canvas_, data_.size());
        });
        // The extension counts repeats after the first play; without it the animation plays once.
        const int loops = !outline_.hasLoopExtension ? 1 : outline_.repeats == 0 ? 0 : outline_.repeats + 1;
        SetLayout(canvas_.width, canvas_.height, static_cast<int>(outline_.frames.size()), loops);
    }

protected:
    int ComposeFrame(int index, CImageBitmap& bitmap) override {
        CWorkBudget budget(data_.size());
        const size_t pixelCount = static_cast<size_t>(canvas_.width) * static_cast<size_t>(canvas_.height);
        CWorkBudget::GrantPixels(pixelCount);
        const GifFrameBlocks& frame = outline_.frames[static_cast<size_t>(index)];
        if (index == 0) {
            StartCanvas();
        } else {
            Dispose(outline_.frames[static_cast<size_t>(index) - 1]);
        }
        if (frame.disposal == 3) saved_ = pixels_;
        DrawFrame(frame, index == 0);

        bitmap.Create(canvas_.width, canvas_.height, 32, false);
        bool opaque = true;
        {
            CBitmapLock lock(bitmap, false, true);
            for (int y = 0; y < canvas_.height; ++y) {
                const BGRA* row = pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(canvas_.width);
                std::memcpy(bitmap.Line(y), row, static_cast<size_t>(canvas_.width) * sizeof(BGRA));
                opaque = opaque && std::all_of(row, row + canvas_.width, [](BGRA p) { return p.a == 255; });
            }
        }
        bitmap.SetHasAlpha(!opaque);
        const int delay = frame.delayCentiseconds * 10;
        return delay < kShortDelayMilliseconds ? kDefaultDelayMilliseconds : delay;
    }

    void RestartFrames() override {
        pixels_.clear();
        saved_.clear();
    }

private:
    // A frame's colours: its local map, else the global one, over the grey ramp (the colours
    // of indices no map gives, as in a plain decode). colourCount is 0 without any map.
    struct FrameColours {
        std::array<BGRA, 256> palette;
        int colourCount = 0;
    };

    FrameColours ColoursOf(const RawImage& raw) const {
        FrameColours colours;
        for (int i = 0; i < 256; ++i) {
            const auto grey = static_cast<uint8_t>(i);
            colours.palette[static_cast<size_t>(i)] = OpaqueColour(grey, grey, grey);
        }
        const uint8_t* map = raw.colours;
        int count = raw.colourCount;
        if (map == nullptr && outline_.globalBits != 0) {
            map = data_.data() + kGlobalMapOffset;
            count = 1 << outline_.globalBits;
        }
        for (int i = 0; i < std::min(count, 256) && map != nullptr; ++i)
            colours.palette[static_cast<size_t>(i)] = OpaqueColour(map[3 * i], map[3 * i + 1], map[3 * i + 2]);
        colours.colourCount = map != nullptr ? count : 0;
        return colours;
    }

    RawImage Peek(const GifFrameBlocks& frame) const {
        const size_t descriptor = frame.separator + 1;
        const RawImage raw = PeekImage(data_.data() + descriptor, data_.size() - descriptor);
        if (!raw.complete) RaiseError(ERR_END_OF_DATA, "GIF decoder: the data ends inside an image descriptor.");
        return raw;
    }

    // The background a plain decode shows: the background colour through the first image's
    // colours, transparent when that is the first image's transparent colour.
    void StartCanvas() {
        const GifFrameBlocks& first = outline_.frames.front();
        const FrameColours colours = ColoursOf(Peek(first));
        const BGRA background = outline_.background == first.transparentIndex
                                    ? kTransparent
                                    : colours.palette[static_cast<size_t>(outline_.background)];
        pixels_.assign(static_cast<size_t>(canvas_.width) * static_cast<size_t>(canvas_.height), background);
        saved_.clear();
    }

    void Dispose(const GifFrameBlocks& previous) {
        if (previous.disposal == 2) {
            const ImagePlacement& area = previous.placement;
            const int right = std::min(canvas_.width, area.left + area.width);
            const int bottom = std::min(canvas_.height, area.top + area.height);
            for (int y = area.top; y < bottom; ++y)
                for (int x = area.left; x < right; ++x) Pixel(x, y) = kTransparent;
        } else if (previous.disposal == 3 && !saved_.empty()) {
            pixels_.swap(saved_);
            saved_.clear();
        }
    }

    BGRA& Pixel(int x, int y) {
        return pixels_[static_cast<size_t>(y) * static_cast<size_t>(canvas_.width) + static_cast<size_t>(x)];
    }

    // The first frame's transparent pixels are clear, as in a plain decode; a later frame's
    // show the canvas beneath.
    void DrawFrame(const GifFrameBlocks& frame, bool first) {
        const RawImage raw = Peek(frame);
        const ImagePlacement& image = raw.placement;
        if (image.width <= 0 || image.height <= 0) return;
        const FrameColours colours = ColoursOf(raw);
        const int visible = std::max(0, std::min(image.width, canvas_.width - image.left));
        const auto drawRow = [&](int y, const GifPixelType* row) {
            if (image.top + y >= canvas_.height || visible == 0) return;
            BGRA* out = &Pixel(image.left, image.top + y);
            for (int x = 0; x < visible; ++x) {
                const int index = row[x];
                if (index == frame.transparentIndex) {
                    if (first) out[x] = kTransparent;
                    continue;
                }
                if (colours.colourCount > 0 && index >= colours.colourCount)
                    RaiseError(ERR_BAD_DATA, "GIF decoder: a pixel refers to a colour beyond the colour map.");
                out[x] = colours.palette[static_cast<size_t>(index)];
            }
        };
        const size_t compressed = frame.separator + 1 + raw.length;
        if (NeedsOwnLzw(raw)) {
            CGifLzwReader lzw(data_.data() + compressed, data_.size() - compressed, raw.minimumCodeSize);
            ReadImageRows(image, [&lzw](GifPixelType* row, int width) { return lzw.Read(row, width); }, drawRow);
            return;
        }
        StitchedInput input{std::span(data_).first(outline_.headerLength), std::span(data_).subspan(frame.separator)};
        int error = 0;
        const std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&input, ReadStitched, &error));
        if (!gif) FailFrame(error);
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &record) != GIF_OK || record != IMAGE_DESC_RECORD_TYPE ||
            DGifGetImageDesc(gif.get()) != GIF_OK)
            FailFrame(gif->Error);
        // Compressed data that ends early leaves the rest of the frame as it was.
        ReadImageRows(image, [&](GifPixelType* row, int width) {
            if (DGifGetLine(gif.get(), row, width) == GIF_OK) return true;
            if (input.exhausted || gif->Error == D_GIF_ERR_EOF_TOO_SOON) return false;
            FailFrame(gif->Error);
        }, drawRow);
    }

    std::vector<uint8_t> data_;
    GifOutline outline_;
    GifCanvas canvas_;
    std::vector<BGRA> pixels_;
    std::vector<BGRA> saved_;  // the canvas before a frame that restores to previous
};

}  // namespace

std::unique_ptr<CAnimationReader> OpenGifAnimation(std::vector<uint8_t> data, const CDecodeContext& context) {
    return std::make_unique<CGifAnimationReader>(std::move(data), context);
}
