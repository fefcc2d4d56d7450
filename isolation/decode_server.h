#pragma once

#include "codecs/auto_decoder.h"
#include "imagelib/decode_context.h"
#include "isolation/animation_session.h"
#include "isolation/pixel_memfd_reserve.h"
#include "isolation/unique_fd.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

struct DecodeReply;
struct DecodeRequest;
struct WireMessage;

// The decoder helper's side of the socket: answers one request after the other until the
// viewer closes its end. A control thread watches the socket while a decode runs, so that
// the viewer can cancel it, and ends the process when one decode runs past the watchdog
// (the helper is reused, so its accumulated CPU time says nothing about one decode). An
// animation stays open between requests, and the watchdog applies to each of its frames.
class CDecodeServer {
public:
    CDecodeServer(int socket, std::chrono::milliseconds watchdog, bool testFaults);

    // Serves until the viewer goes; returns the process's exit status.
    int Run();

private:
    void Serve(const DecodeRequest& request, WireMessage& message);
    // A request that brings a file: decode, probe or open an animation. Returns the sealed
    // pixels of a decode.
    CUniqueFd Answer(const DecodeRequest& request, WireMessage& message, const std::string& name,
                     CDecodeContext& context, DecodeReply& reply);
    // The next frame or a rewind of the open animation.
    CUniqueFd ContinueAnimation(const DecodeRequest& request, const WireMessage& message, DecodeReply& reply);
    void Control();
    // Test switch: files whose names say so crash, hang or exhaust memory in the helper.
    void InjectFault(const std::string& name) const;
    // Test switch: files named fault-frame-crash* or fault-frame-hang* crash or hang the helper
    // at the animation's second frame.
    void InjectFrameFault(const std::string& name, int frame) const;

    const int socket_;
    const std::chrono::milliseconds watchdog_;
    const bool testFaults_;
    CAutoDecoder decoder_;
    CAnimationSession animation_;
    // Only the serving thread touches it.
    CPixelMemfdReserve reserve_;

    std::mutex mutex_;
    std::condition_variable changed_;
    bool quit_ = false;                                  // guarded by mutex_
    bool running_ = false;                               // guarded by mutex_
    uint64_t generation_ = 0;                            // guarded by mutex_
    std::chrono::steady_clock::time_point deadline_;     // guarded by mutex_
    CDecodeContext context_;                             // guarded by mutex_
};
