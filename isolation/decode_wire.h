#pragma once

#include "imagelib/image_metadata.h"
#include "imagelib/text_exception.h"
#include "isolation/unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// The messages between the viewer and a decoder helper, over a SOCK_SEQPACKET socket pair:
// one message per request or reply, descriptors passed with SCM_RIGHTS. Both ends are built
// from the same sources, so the fixed parts travel as the structs below; a magic number and
// the exact size catch anything else.
//
// A decode request carries the opened file (and, when colours go to a profile other than
// sRGB, a memfd holding that profile); its name follows the struct. A successful reply
// carries one sealed memfd: the rows (stride x height, top row first), then the palette
// (4 bytes an entry), then the ICC profile; a failed one the library's code and text.
// While a decode runs the only message the viewer may send is a cancel.
//
// An animation is streamed: an open-animation request carries the file as a decode request
// does, and the helper keeps the animation open for the next-frame and rewind requests that
// follow (which carry no descriptor). The open reply gives the size every frame comes at
// (upright, as the context asks), the frame count (0: no animation, a still picture) and the
// loop count; a next-frame reply one sealed memfd of 32-bit rows and the frame's delay, or,
// once the loop's frames are all read, no memfd and endOfLoop set. A cancel while a frame is
// read stops it.

constexpr uint32_t kWireMagic = 0x56544431;  // "VTD1"
// A file name is at most a path; a failure text a few lines.
constexpr size_t kMaxWireText = 64 * 1024;
constexpr int kMaxWireDescriptors = 2;
// The helper's exit status when its watchdog ended a decode that ran too long.
constexpr int kWatchdogExit = 70;

enum class RequestKind : uint32_t {
    kDecode = 1,
    kProbe = 2,
    kCancel = 3,
    // Test switch of the helper: tries to open the named file and reports the errno.
    kTryOpen = 4,
    kOpenAnimation = 5,
    kNextFrame = 6,
    kRewindAnimation = 7,
};

struct DecodeRequest {
    uint32_t magic = kWireMagic;
    RequestKind kind = RequestKind::kDecode;
    int32_t depth = 32;
    int32_t minWidth = 0;
    int32_t minHeight = 0;
    int32_t dotsPerInch = 96;
    uint64_t storageLimit = 0;
    uint8_t applyOrientation = 1;
    uint8_t colourManagement = 1;
    // Alpha bytes of a picture without transparency set to 255 before the reply.
    uint8_t makeOpaque = 0;
    uint8_t hasTargetProfile = 0;
    uint32_t nameBytes = 0;
};

struct DecodeReply {
    uint32_t magic = kWireMagic;
    int32_t errorCode = 0;  // 0: success
    uint32_t textBytes = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t bitsPerPixel = 0;
    uint64_t stride = 0;
    uint8_t hasAlpha = 0;
    int32_t orientation = 1;
    int32_t frameCount = 1;
    int32_t scaleDenominator = 1;
    PngColourChunks pngColour;
    uint32_t paletteEntries = 0;
    uint64_t iccBytes = 0;
    ImageInfo info;        // of a probe
    int32_t format = 0;    // the ImageFormat a probe recognised
    int32_t openErrno = 0;  // of a kTryOpen
    DeclaredSize declared;  // of a failure about the picture's size
    int32_t loopCount = 0;  // of an animation: 0 for ever
    int32_t delay = 0;      // of a frame, in milliseconds
    uint8_t endOfLoop = 0;  // no frame: the loop's frames were all read
};

static_assert(std::is_trivially_copyable_v<DecodeRequest> && std::is_trivially_copyable_v<DecodeReply>);

struct WireMessage {
    std::vector<std::byte> bytes;
    std::vector<CUniqueFd> descriptors;
};

// One message: fixed part, then text, then descriptors. False when the socket failed
// (the other end gone, among others). Never raises SIGPIPE.
bool SendWireMessage(int socket, std::span<const std::byte> fixed, std::string_view text, std::span<const int> descriptors);

enum class ReceiveResult { kMessage, kClosed, kInvalid };
// One message of at most maxBytes with at most kMaxWireDescriptors descriptors; a longer
// message or more descriptors is kInvalid (what came is closed). Waits for it.
ReceiveResult ReceiveWireMessage(int socket, size_t maxBytes, WireMessage& message);

template <typename Fixed>
std::span<const std::byte> FixedBytes(const Fixed& fixed) {
    return std::as_bytes(std::span(&fixed, 1));
}

// The fixed part at the head of message, when it is there and carries the magic number.
template <typename Fixed>
bool ParseFixed(const WireMessage& message, Fixed& fixed) {
    if (message.bytes.size() < sizeof(Fixed)) return false;
    std::memcpy(&fixed, message.bytes.data(), sizeof(Fixed));
    return fixed.magic == kWireMagic;
}
// The bytes after the fixed part.
std::string TextAfter(const WireMessage& message, size_t fixedSize);
