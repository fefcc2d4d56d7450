#include "isolation/decode_wire.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

bool SendWireMessage(int socket, std::span<const std::byte> fixed, std::string_view text,
                     std::span<const int> descriptors) {
    iovec parts[2] = {{const_cast<std::byte*>(fixed.data()), fixed.size()},
                      {const_cast<char*>(text.data()), text.size()}};
    msghdr header{};
    header.msg_iov = parts;
    header.msg_iovlen = text.empty() ? 1 : 2;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxWireDescriptors)] = {};
    if (!descriptors.empty()) {
        if (descriptors.size() > kMaxWireDescriptors) return false;
        header.msg_control = control;
        header.msg_controllen = CMSG_SPACE(sizeof(int) * descriptors.size());
        cmsghdr* rights = CMSG_FIRSTHDR(&header);
        rights->cmsg_level = SOL_SOCKET;
        rights->cmsg_type = SCM_RIGHTS;
        rights->cmsg_len = CMSG_LEN(sizeof(int) * descriptors.size());
        std::memcpy(CMSG_DATA(rights), descriptors.data(), sizeof(int) * descriptors.size());
    }
    for (;;) {
        if (::sendmsg(socket, &header, MSG_NOSIGNAL) >= 0) return true;
        if (errno != EINTR) return false;
    }
}

ReceiveResult ReceiveWireMessage(int socket, size_t maxBytes, WireMessage& message) {
    message.bytes.resize(maxBytes);
    message.descriptors.clear();
    iovec part{message.bytes.data(), message.bytes.size()};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    // Room for one descriptor more than allowed, so that too many show as too many.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * (kMaxWireDescriptors + 1))] = {};
    header.msg_control = control;
    header.msg_controllen = sizeof(control);
    ssize_t got = 0;
    do {
        got = ::recvmsg(socket, &header, MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return errno == ECONNRESET ? ReceiveResult::kClosed : ReceiveResult::kInvalid;
    for (cmsghdr* part = CMSG_FIRSTHDR(&header); part != nullptr; part = CMSG_NXTHDR(&header, part)) {
        if (part->cmsg_level != SOL_SOCKET || part->cmsg_type != SCM_RIGHTS) continue;
        const size_t count = (part->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(part) + i * sizeof(int), sizeof(int));
            message.descriptors.emplace_back(fd);
        }
    }
    if (got == 0 && message.descriptors.empty()) return ReceiveResult::kClosed;
    message.bytes.resize(static_cast<size_t>(got));
    if ((header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0 || message.descriptors.size() > kMaxWireDescriptors) {
        message.descriptors.clear();
        return ReceiveResult::kInvalid;
    }
    return ReceiveResult::kMessage;
}

std::string TextAfter(const WireMessage& message, size_t fixedSize) {
    if (message.bytes.size() <= fixedSize) return {};
    return std::string(reinterpret_cast<const char*>(message.bytes.data()) + fixedSize,
                       message.bytes.size() - fixedSize);
}
