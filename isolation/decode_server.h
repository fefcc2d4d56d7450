#pragma once

#include "codecs/auto_decoder.h"
#include "imagelib/decode_context.h"
#include "isolation/pixel_memfd_reserve.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

struct DecodeRequest;
struct WireMessage;

// The decoder helper's side of the socket: answers one request after the other until the
// viewer closes its end. A control thread watches the socket while a decode runs, so that
// the viewer can cancel it, and ends the process when one decode runs past the watchdog
// (the helper is reused, so its accumulated CPU time says nothing about one decode).
class CDecodeServer {
public:
    CDecodeServer(int socket, std::chrono::milliseconds watchdog, bool testFaults);

    // Serves until the viewer goes; returns the process's exit status.
    int Run();

private:
    void Serve(const DecodeRequest& request, WireMessage& message);
    void Control();
    // Test switch: files whose names say so crash, hang or exhaust memory in the helper.
    void InjectFault(const std::string& name) const;

    const int socket_;
    const std::chrono::milliseconds watchdog_;
    const bool testFaults_;
    CAutoDecoder decoder_;
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
