#include "isolation/decode_server.h"

#include "imagelib/byte_source.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "isolation/decode_wire.h"
#include "isolation/memfd_bitmap.h"
#include "isolation/opaque_alpha.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <csignal>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

namespace {

// How long a helper with no request keeps the memory it made for the next picture.
constexpr std::chrono::milliseconds kReserveKeptIdle{5000};
// A target profile larger than this is no monitor's.
constexpr off_t kMaxTargetProfile = off_t{64} << 20;

std::vector<uint8_t> ReadProfile(int memfd) {
    struct stat info {};
    if (::fstat(memfd, &info) != 0 || info.st_size <= 0 || info.st_size > kMaxTargetProfile)
        throw CTextException(ERR_BAD_DATA, "The colour profile handed to the decoder is unusable.");
    std::vector<uint8_t> profile(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < profile.size()) {
        const ssize_t got = ::pread(memfd, profile.data() + done, profile.size() - done, static_cast<off_t>(done));
        if (got <= 0) throw CTextException(ERR_BAD_DATA, "The colour profile handed to the decoder is unusable.");
        done += static_cast<size_t>(got);
    }
    return profile;
}

}  // namespace

CDecodeServer::CDecodeServer(int socket, std::chrono::milliseconds watchdog, bool testFaults)
    : socket_(socket), watchdog_(watchdog), testFaults_(testFaults) {}

int CDecodeServer::Run() {
    std::thread control([this] { Control(); });
    WireMessage message;
    for (;;) {
        if (reserve_.Bytes() > 0) {
            // Memory made ahead is for a run of pictures; a helper left waiting gives it back.
            pollfd socket{socket_, POLLIN, 0};
            if (::poll(&socket, 1, static_cast<int>(kReserveKeptIdle.count())) == 0) reserve_.Release();
        }
        if (ReceiveWireMessage(socket_, sizeof(DecodeRequest) + kMaxWireText, message) != ReceiveResult::kMessage) break;
        DecodeRequest request;
        if (!ParseFixed(message, request) || message.bytes.size() != sizeof(DecodeRequest) + request.nameBytes) break;
        // A cancel that came after its decode had ended.
        if (request.kind == RequestKind::kCancel) continue;
        Serve(request, message);
    }
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    control.join();
    return 0;
}

void CDecodeServer::Serve(const DecodeRequest& request, WireMessage& message) {
    const std::string name = TextAfter(message, sizeof(DecodeRequest));
    DecodeReply reply;
    std::string text;
    CUniqueFd pixels;
    const bool continues = request.kind == RequestKind::kNextFrame || request.kind == RequestKind::kRewindAnimation;
    // A frame is read under the context its animation opened with: the cancel reaches it there.
    CDecodeContext context = continues ? animation_.Context() : CDecodeContext();
    {
        const std::lock_guard lock(mutex_);
        running_ = true;
        ++generation_;
        deadline_ = std::chrono::steady_clock::now() + watchdog_;
        context_ = context;  // shares the cancel flag
    }
    changed_.notify_all();
    try {
        pixels = continues ? ContinueAnimation(request, message, reply) : Answer(request, message, name, context, reply);
    } catch (const CTextException& failure) {
        reply.errorCode = failure.Code();
        reply.declared = failure.Declared();
        text = failure.Text();
    } catch (const std::bad_alloc&) {
        reply.errorCode = ERR_OUT_OF_MEMORY;
        text = FormatText("Out of memory while decoding %s.", name.c_str());
    } catch (const std::exception& failure) {
        reply.errorCode = ERR_BAD_DATA;
        text = failure.what();
    }
    {
        const std::lock_guard lock(mutex_);
        running_ = false;
    }
    if (text.size() > kMaxWireText) text.resize(kMaxWireText);
    reply.textBytes = static_cast<uint32_t>(text.size());
    const int memfd = pixels.Get();
    SendWireMessage(socket_, FixedBytes(reply), text, pixels.Valid() ? std::span(&memfd, 1) : std::span<const int>());
    if (!pixels.Valid()) return;
    // Closed now, while the viewer still holds the picture: the last one to let it go frees
    // its pages, and that should not be this process with the next request waiting.
    pixels.Reset();
    // While the viewer looks at this picture, the memory for the next one is made: pictures
    // come in runs of one size (a camera's, a folder's thumbnails).
    reserve_.Prepare(reply.stride * static_cast<size_t>(reply.height));
}

CUniqueFd CDecodeServer::Answer(const DecodeRequest& request, WireMessage& message, const std::string& name,
                                CDecodeContext& context, DecodeReply& reply) {
    const size_t descriptors = 1 + (request.hasTargetProfile ? 1 : 0);
    if (message.descriptors.size() != descriptors ||
        (request.kind != RequestKind::kDecode && request.kind != RequestKind::kProbe &&
         request.kind != RequestKind::kOpenAnimation))
        throw CTextException(ERR_BAD_DATA, "The decoder was asked something it does not know.");
    // The helper writes no trace file: it may not open one.
    context.traceLevel = 0;
    context.traceFileName.clear();
    context.storageLimit = request.storageLimit;
    context.dotsPerInch = request.dotsPerInch;
    context.minWidth = request.minWidth;
    context.minHeight = request.minHeight;
    context.applyOrientation = request.applyOrientation != 0;
    context.colourManagement = request.colourManagement != 0;
    context.targetProfile.clear();
    if (request.hasTargetProfile) context.targetProfile = ReadProfile(message.descriptors[1].Get());
    const int file = message.descriptors[0].Get();
    if (testFaults_) InjectFault(name);
    if (request.kind == RequestKind::kProbe) {
        reply.info = decoder_.ProbeDescriptor(file, name, &context);
        reply.format = static_cast<int32_t>(decoder_.LastFormat());
        return {};
    }
    if (request.kind == RequestKind::kOpenAnimation) {
        animation_.Open(file, name, context, request.makeOpaque != 0, reply);
        return {};
    }
    CMemfdBitmap picture(&reserve_);
    decoder_.DecodeDescriptor(file, name, picture, context, request.depth);
    if (request.makeOpaque) MakeOpaque(picture);
    const ImageMetadata& metadata = picture.Metadata();
    reply.width = picture.Width();
    reply.height = picture.Height();
    reply.bitsPerPixel = picture.BitsPerPixel();
    reply.stride = picture.BytesPerLine();
    reply.hasAlpha = picture.HasAlpha() ? 1 : 0;
    reply.orientation = metadata.orientation;
    reply.frameCount = metadata.frameCount;
    reply.scaleDenominator = metadata.scaleDenominator;
    reply.pngColour = metadata.pngColour;
    reply.paletteEntries = static_cast<uint32_t>(PaletteEntries(picture.BitsPerPixel()));
    reply.iccBytes = metadata.iccProfile.size();
    std::vector<uint8_t> trailer(reply.paletteEntries * sizeof(BGRA));
    if (!trailer.empty()) std::memcpy(trailer.data(), picture.Palette(), trailer.size());
    trailer.insert(trailer.end(), metadata.iccProfile.begin(), metadata.iccProfile.end());
    return picture.ReleaseSealed(trailer);
}

CUniqueFd CDecodeServer::ContinueAnimation(const DecodeRequest& request, const WireMessage& message,
                                           DecodeReply& reply) {
    if (!message.descriptors.empty())
        throw CTextException(ERR_BAD_DATA, "The decoder was asked something it does not know.");
    if (request.kind == RequestKind::kRewindAnimation) {
        animation_.Rewind();
        return {};
    }
    if (testFaults_) InjectFrameFault(animation_.Name(), animation_.NextFrameIndex());
    return animation_.NextFrame(reply);
}

void CDecodeServer::Control() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return quit_ || running_; });
        if (quit_) return;
        const uint64_t generation = generation_;
        const auto deadline = deadline_;
        const CDecodeContext context = context_;
        lock.unlock();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd socket{socket_, POLLIN, 0};
        const int ready = ::poll(&socket, 1, static_cast<int>(std::clamp<int64_t>(left.count(), 0, 100)));
        lock.lock();
        if (!running_ || generation_ != generation) continue;
        if (ready > 0 && (socket.revents & POLLIN) != 0) {
            // While a decode runs the viewer sends nothing but a cancel.
            DecodeRequest request;
            const ssize_t got = ::recv(socket_, &request, sizeof(request), MSG_DONTWAIT);
            if (got == 0) std::_Exit(0);
            if (got == static_cast<ssize_t>(sizeof(request)) && request.magic == kWireMagic &&
                request.kind == RequestKind::kCancel)
                context.Cancel();
        } else if (ready > 0 && (socket.revents & (POLLHUP | POLLERR)) != 0) {
            // The viewer is gone: nobody wants this decode.
            std::_Exit(0);
        }
        if (std::chrono::steady_clock::now() >= deadline) std::_Exit(kWatchdogExit);
    }
}

void CDecodeServer::InjectFault(const std::string& name) const {
    const std::string file = name.substr(name.find_last_of('/') + 1);
    if (file.starts_with("fault-crash")) {
        std::raise(SIGSEGV);
    } else if (file.starts_with("fault-hang")) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    } else if (file.starts_with("fault-hog")) {
        // Address space, not pages: the limit must stop it, without the machine's memory
        // paying. 64 GiB is far past any limit the helper sets.
        std::vector<std::unique_ptr<char[]>> blocks;
        for (int i = 0; i < 1024; ++i) {
            blocks.emplace_back(new char[size_t{64} << 20]);
            blocks.back()[0] = 1;
        }
        throw CTextException(ERR_FEATURE_UNAVAILABLE, "The decoder's address space is not limited.");
    }
}

void CDecodeServer::InjectFrameFault(const std::string& name, int frame) const {
    const std::string file = name.substr(name.find_last_of('/') + 1);
    // The second frame: the first is read when the animation opens, which InjectFault covers.
    if (frame != 1) return;
    if (file.starts_with("fault-frame-crash")) {
        std::raise(SIGSEGV);
    } else if (file.starts_with("fault-frame-hang")) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    }
}
