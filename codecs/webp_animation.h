#pragma once

#include "webp_container.h"

#include "imagelib/animation_reader.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class CImageBitmap;
struct WebPAnimDecoder;

// The frames of an animated WebP, composited on the canvas by libwebpdemux's animation
// decoder (disposal and blending done by it, the canvas transparent where no frame drew),
// over bytes the caller keeps alive. A frame's delay is its duration; a duration of 0 shows
// for 100 ms.
class CWebPFrameDecoder {
public:
    // Refuses a canvas over the storage limit (code 10) before libwebp allocates it; raises
    // code 2 or 11 for a file the animation decoder cannot open.
    CWebPFrameDecoder(std::span<const uint8_t> data, const WebPLayout& layout);
    ~CWebPFrameDecoder();
    CWebPFrameDecoder(const CWebPFrameDecoder&) = delete;
    CWebPFrameDecoder& operator=(const CWebPFrameDecoder&) = delete;

    // Composites the next frame into bitmap (32 bits, alpha flag set when some pixel is not
    // opaque) and returns its delay in milliseconds.
    int ComposeNext(CImageBitmap& bitmap);
    // The first frame comes next.
    void Reset();

private:
    struct Deleter {
        void operator()(WebPAnimDecoder* decoder) const;
    };
    std::unique_ptr<WebPAnimDecoder, Deleter> decoder_;
    const WebPLayout& layout_;
    int previousTimestamp_ = 0;
};

// The registry's animation factory for WebP: a reader over data, which it keeps. Raises as
// a decode does for a file that cannot be read.
std::unique_ptr<CAnimationReader> OpenWebPAnimation(std::vector<uint8_t> data, const CDecodeContext& context);
