#pragma once

#include "imagelib/animation_reader.h"
#include "imagelib/decode_context.h"
#include "isolation/unique_fd.h"

#include <memory>
#include <string>

class CMemfdBitmap;
struct DecodeReply;

// The animation a decoder helper keeps open between the viewer's requests: opened from the
// descriptor the viewer passed (the helper may open no file itself), its frames read one a
// request into sealed memfds. The first frame is read when the animation opens, so that the
// viewer learns the size frames come at (upright, as the context asks) before any arrives.
class CAnimationSession {
public:
    CAnimationSession();
    ~CAnimationSession();
    CAnimationSession(const CAnimationSession&) = delete;
    CAnimationSession& operator=(const CAnimationSession&) = delete;

    // Opens the animation of the opened file fd under context, in place of any open one;
    // reply receives the frames' size, the frame count (0 for a still picture, which opens
    // nothing) and the loop count. Frames without transparency come with opaque alpha bytes
    // when makeOpaque is set. Raises CTextException as a decode does.
    void Open(int fd, const std::string& name, const CDecodeContext& context, bool makeOpaque, DecodeReply& reply);
    // The next frame, sealed, with reply describing it and its delay; at the end of a loop no
    // memfd and reply.endOfLoop set. Raises CTextException when it cannot be read or nothing
    // is open.
    CUniqueFd NextFrame(DecodeReply& reply);
    // The next frame is the first again.
    void Rewind();

    // The open animation's context: cancelling it stops the frame being read.
    const CDecodeContext& Context() const { return context_; }
    const std::string& Name() const { return name_; }
    // Index of the frame NextFrame gives next.
    int NextFrameIndex() const;

private:
    CAnimationReader& Reader() const;
    std::unique_ptr<CMemfdBitmap> ReadFrame(int& delay);

    std::unique_ptr<CAnimationReader> reader_;
    CDecodeContext context_;
    std::string name_;
    bool makeOpaque_ = false;
    // The first frame, read at opening, until NextFrame hands it over.
    std::unique_ptr<CMemfdBitmap> first_;
    int firstDelay_ = 0;
};
