#include "animation_reader.h"

#include "decode_steps.h"
#include "image_bitmap.h"

void CAnimationReader::SetLayout(int canvasWidth, int canvasHeight, int frameCount, int loopCount) {
    canvasWidth_ = canvasWidth;
    canvasHeight_ = canvasHeight;
    frameCount_ = frameCount;
    loopCount_ = loopCount;
}

int CAnimationReader::ReadFrame(CImageBitmap& bitmap) {
    if (nextFrame_ >= frameCount_) return -1;
    int delay = 0;
    RunDecode(&context_, [&] {
        CheckDecodeCancelled();
        delay = ComposeFrame(nextFrame_, bitmap);
        bitmap.Metadata().frameCount = frameCount_;
        FinishPicture(bitmap);
    });
    ++nextFrame_;
    return delay;
}

void CAnimationReader::Rewind() {
    RestartFrames();
    nextFrame_ = 0;
}
