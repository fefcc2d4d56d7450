#pragma once

#include "imagelib/decode_context.h"
#include "imagelib/image_format.h"
#include "imagelib/image_metadata.h"
#include "isolation/unique_fd.h"

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class CMemfdBitmap;
struct DecodeReply;
struct DecodeRequest;
struct WireMessage;

// How decoder helpers are started.
struct DecoderHelperOptions {
    std::string program;  // the helper's path
    uint64_t storageLimit = 0;
    std::chrono::milliseconds watchdog{60000};
    int traceLevel = 0;
    std::string traceFileName;
};

// An animation the helper holds open: the size every frame comes at, the frame count (0: the
// file holds no animation) and how often it plays (0: for ever).
struct AnimationLayout {
    int width = 0;
    int height = 0;
    int frameCount = 0;
    int loopCount = 0;
};

// One decoder helper process and the viewer's end of its socket. One request at a time: the
// caller (the pool, or the animation the helper plays) makes sure of that. A helper that
// crashes, hangs past its watchdog, is killed or answers nonsense ends the request with
// CTextException and is gone afterwards (Alive() false); the next request needs a new helper.
class CDecoderProcess {
public:
    // Starts the helper; raises CTextException code 6 when it cannot be started.
    explicit CDecoderProcess(const DecoderHelperOptions& options);
    // Closes the socket (the helper then ends) and collects the process, killing it when it
    // does not end at once.
    ~CDecoderProcess();
    CDecoderProcess(const CDecoderProcess&) = delete;
    CDecoderProcess& operator=(const CDecoderProcess&) = delete;

    bool Alive() const { return socket_.Valid(); }
    pid_t Pid() const { return pid_; }

    // The picture in the opened file fd, decoded as context asks at depth (0, 8 or 32), its
    // alpha bytes made opaque when it has no transparency and makeOpaque is set. name names
    // the file in messages and for formats known by their extension. The reply is checked
    // before its memory is mapped.
    std::shared_ptr<CMemfdBitmap> Decode(int fd, const std::string& name, const CDecodeContext& context, int depth,
                                         bool makeOpaque);
    // The header probe; format, when given, receives the format recognised.
    ImageInfo Probe(int fd, const std::string& name, const CDecodeContext& context, ImageFormat* format = nullptr);

    // Has the helper open the animation in the opened file fd and keep it for the calls
    // below, its frames' alpha bytes made opaque as Decode does.
    AnimationLayout OpenAnimation(int fd, const std::string& name, const CDecodeContext& context, bool makeOpaque);
    // The next frame of the open animation, checked as Decode checks a picture and against
    // layout's size before it is mapped, with its delay in milliseconds; nullptr, once the
    // loop's frames were all read. Cancelling context stops the frame being read.
    std::shared_ptr<CMemfdBitmap> NextFrame(const std::string& name, const CDecodeContext& context,
                                            const AnimationLayout& layout, int& delay);
    // The next frame is the first again.
    void RewindAnimation(const std::string& name, const CDecodeContext& context);

private:
    // Sends the request (with the file fd, unless it is -1), waits for the reply and checks
    // its frame; a library failure in it is raised.
    void Exchange(DecodeRequest request, int fd, const std::string& name, const CDecodeContext& context,
                  WireMessage& message, DecodeReply& reply);
    enum class Loss {
        kEnded,      // the socket closed: the helper ended on its own or was killed elsewhere
        kCancelled,  // the decode was cancelled and the helper went or did not answer
        kTooLong,    // no answer long past the helper's own watchdog
        kNonsense,   // an answer that breaks the protocol
    };
    // The picture a successful reply carries, mapped once its memfd and shape are checked.
    std::shared_ptr<CMemfdBitmap> MapPicture(const std::string& name, const CDecodeContext& context,
                                             const WireMessage& message, const DecodeReply& reply);
    // Ends the helper and raises what its end means for the decode of name.
    [[noreturn]] void Lost(const std::string& name, Loss loss);
    // Kills the helper and collects it; returns the wait status.
    int Reap(bool kill);

    const DecoderHelperOptions options_;
    pid_t pid_ = -1;
    CUniqueFd socket_;
};
