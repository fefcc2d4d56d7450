#pragma once

#include "decode_context.h"

#include <cstdint>
#include <vector>

class CImageBitmap;

// The frames of an animated picture (GIF, WebP, AVIF sequences, JPEG XL animations), read one
// after the other. Each frame comes composited onto the whole canvas, the format's disposal
// and blending done, at 32 bits with alpha where the canvas is transparent, its colours
// converted and turned upright as the reader's context asks (as a decode does). A reader
// holds the file's bytes and decodes a frame only when it is asked for, so a player keeps
// a few frames ahead and reads the animation again from the start for the next loop.
//
// A reader is used by one thread at a time; it may be handed between threads. Cancelling
// its context stops the frame being read (code 12).
class CAnimationReader {
public:
    virtual ~CAnimationReader() = default;
    CAnimationReader(const CAnimationReader&) = delete;
    CAnimationReader& operator=(const CAnimationReader&) = delete;

    // The canvas as stored (before any orientation is applied).
    int CanvasWidth() const { return canvasWidth_; }
    int CanvasHeight() const { return canvasHeight_; }
    int FrameCount() const { return frameCount_; }
    // How often the animation plays; 0 for ever.
    int LoopCount() const { return loopCount_; }
    const CDecodeContext& Context() const { return context_; }

    // Composites the next frame (the first after opening or Rewind) into bitmap and returns
    // how long it shows in milliseconds, the format's rule for missing or too short delays
    // applied (a GIF delay under 20 ms and a delay of 0 in the other formats: 100 ms).
    // Returns -1, leaving bitmap alone, once every frame was read. Failures raise
    // CTextException as a decode does.
    int ReadFrame(CImageBitmap& bitmap);
    // Starts again at the first frame.
    void Rewind();
    // Index of the frame the next ReadFrame gives.
    int NextFrameIndex() const { return nextFrame_; }

protected:
    explicit CAnimationReader(const CDecodeContext& context) : context_(context) {}

    // Set by the format's reader when it opens.
    void SetLayout(int canvasWidth, int canvasHeight, int frameCount, int loopCount);

    // Composites frame index (always the one after the previous call, or 0 after a rewind)
    // into bitmap at 32 bits and returns its delay, the format's rule applied. Runs under
    // the reader's context.
    virtual int ComposeFrame(int index, CImageBitmap& bitmap) = 0;
    // Forgets the canvas state, so that frame 0 comes next.
    virtual void RestartFrames() = 0;

private:
    CDecodeContext context_;
    int canvasWidth_ = 0;
    int canvasHeight_ = 0;
    int frameCount_ = 0;
    int loopCount_ = 0;
    int nextFrame_ = 0;
};
