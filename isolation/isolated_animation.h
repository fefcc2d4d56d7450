#pragma once

#include "imagelib/decode_context.h"
#include "isolation/decoder_process.h"

#include <sys/types.h>

#include <memory>
#include <string>

class CMemfdBitmap;

// The frames of an animated picture, read by a decoder helper of the animation's own: it
// holds the animation open for as long as the animation plays (so the pool's helpers stay
// free for pictures and thumbnails), and each frame comes back in a sealed memfd, checked
// before it is mapped, as a decoded picture does. Frames come composited onto the whole
// canvas, upright and in the context's colours, their alpha bytes opaque where the picture
// has no transparency.
//
// Used by one thread at a time; every call may wait for the helper. A helper that crashes,
// hangs past its watchdog or is killed fails the call it was answering, and every later one:
// the animation is over, and opening it again starts a new helper. Letting go of the object
// ends its helper, which waits for the process to end.
class CIsolatedAnimation {
public:
    // Opens fileName here, starts a helper with options and has it open the animation under
    // context; nullptr when the file holds no animation (a still picture). Raises
    // CTextException as a decode through the pool does.
    static std::unique_ptr<CIsolatedAnimation> Open(const std::string& fileName, const CDecodeContext& context,
                                                    const DecoderHelperOptions& options);
    ~CIsolatedAnimation();
    CIsolatedAnimation(const CIsolatedAnimation&) = delete;
    CIsolatedAnimation& operator=(const CIsolatedAnimation&) = delete;

    // The size every frame comes at (upright as the context asks).
    int Width() const { return layout_.width; }
    int Height() const { return layout_.height; }
    int FrameCount() const { return layout_.frameCount; }
    // How often the animation plays; 0 for ever.
    int LoopCount() const { return layout_.loopCount; }
    pid_t HelperPid() const { return helper_->Pid(); }

    // The next frame (the first after opening or Rewind) and how long it shows in
    // milliseconds; -1, leaving frame alone, once the loop's frames were all read.
    int ReadFrame(std::shared_ptr<CMemfdBitmap>& frame);
    // Starts again at the first frame.
    void Rewind();

private:
    CIsolatedAnimation(std::unique_ptr<CDecoderProcess> helper, std::string name, const CDecodeContext& context,
                       const AnimationLayout& layout);

    std::unique_ptr<CDecoderProcess> helper_;
    const std::string name_;
    const CDecodeContext context_;
    const AnimationLayout layout_;
};
