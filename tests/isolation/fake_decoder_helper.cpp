// A stand-in for the decoder helper that answers every request with one kind of broken reply,
// named by VT_FAKE_HELPER_REPLY, so that the viewer's checks of a reply can be seen to hold:
//   unsealed  a picture in a memfd nobody sealed
//   writable  a memfd sealed against new writes only, its rows kept mapped writable for good
//   short     a sealed memfd smaller than the rows it claims
//   stride    rows claimed shorter than the width needs
//   huge      a picture far over the storage limit
//   frame-size  a picture of 64 x 32 pixels where 64 x 64 are due
//   garbage   a message that is no reply
//   silent    no reply at all: the helper ends
// An animation opens well (64 x 64 pixels, three frames), so that its frames get the broken
// replies.

#include "isolation/decode_wire.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

constexpr int kSocket = 3;

CUniqueFd Memfd(size_t bytes, bool seal, int writeSeal = F_SEAL_WRITE) {
    CUniqueFd memfd(::memfd_create("fake-pixels", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (::ftruncate(memfd.Get(), static_cast<off_t>(bytes)) != 0) std::exit(3);
    if (seal && ::fcntl(memfd.Get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | writeSeal) != 0) std::exit(3);
    return memfd;
}

}  // namespace

int main() {
    const char* mode = std::getenv("VT_FAKE_HELPER_REPLY");
    const std::string_view how = mode != nullptr ? mode : "";
    WireMessage request;
    while (ReceiveWireMessage(kSocket, 1 << 20, request) == ReceiveResult::kMessage) {
        if (how == "silent") return 0;
        DecodeRequest asked;
        if (how != "garbage" && ParseFixed(request, asked) && asked.kind == RequestKind::kOpenAnimation) {
            DecodeReply layout;
            layout.width = 64;
            layout.height = 64;
            layout.frameCount = 3;
            SendWireMessage(kSocket, FixedBytes(layout), {}, {});
            continue;
        }
        DecodeReply reply;
        reply.width = 64;
        reply.height = 64;
        reply.bitsPerPixel = 32;
        reply.stride = 256;
        CUniqueFd memfd;
        if (how == "unsealed") {
            memfd = Memfd(256 * 64, false);
        } else if (how == "writable") {
            memfd = Memfd(256 * 64, false);
            // Never unmapped: the pixels could change under the viewer at any time.
            if (::mmap(nullptr, 256 * 64, PROT_READ | PROT_WRITE, MAP_SHARED, memfd.Get(), 0) == MAP_FAILED ||
                ::fcntl(memfd.Get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_FUTURE_WRITE) != 0)
                std::exit(3);
        } else if (how == "short") {
            memfd = Memfd(256 * 63, true);
        } else if (how == "stride") {
            reply.stride = 128;
            memfd = Memfd(256 * 64, true);
        } else if (how == "frame-size") {
            reply.height = 32;
            memfd = Memfd(256 * 64, true);
        } else if (how == "huge") {
            reply.width = 1 << 20;
            reply.height = 1 << 20;
            reply.stride = uint64_t{4} << 20;
            memfd = Memfd(4096, true);
        } else {
            const char noise[] = "not a reply";
            SendWireMessage(kSocket, std::as_bytes(std::span(noise)), {}, {});
            continue;
        }
        const int fd = memfd.Get();
        SendWireMessage(kSocket, FixedBytes(reply), {}, std::span(&fd, 1));
    }
    return 0;
}
