#include "isolation/decoder_process.h"

#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "isolation/decode_wire.h"
#include "isolation/memfd_bitmap.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// The helper finds its socket here.
constexpr int kHelperSocket = 3;
// Past its own watchdog a helper gets this long before the viewer kills it, and a cancelled
// decode this long to notice its cancel flag. The library looks at the flag every few rows,
// and a thread may be waiting for the cancel (the thumbnails' Cancel waits on the
// user-interface thread): a helper that does not answer by then is killed and replaced.
constexpr std::chrono::milliseconds kWatchdogGrace{5000};
constexpr std::chrono::milliseconds kCancelGrace{250};
// A helper whose socket closed is expected to have ended within this time.
constexpr int kExitWaitMs = 2000;
// The longest colour profile a picture may carry back.
constexpr uint64_t kMaxReplyProfile = uint64_t{256} << 20;

bool ReadAll(int fd, void* out, size_t bytes, off_t offset) {
    auto* cursor = static_cast<uint8_t*>(out);
    while (bytes > 0) {
        const ssize_t got = ::pread(fd, cursor, bytes, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        cursor += got;
        bytes -= static_cast<size_t>(got);
        offset += got;
    }
    return true;
}

CUniqueFd ProfileMemfd(const std::vector<uint8_t>& profile) {
    CUniqueFd memfd(::memfd_create("vtview-profile", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    size_t done = 0;
    while (memfd.Valid() && done < profile.size()) {
        const ssize_t wrote = ::write(memfd.Get(), profile.data() + done, profile.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) memfd.Reset();
        else done += static_cast<size_t>(wrote);
    }
    if (!memfd.Valid()) RaiseError(ERR_OUT_OF_MEMORY, "Out of memory handing the colour profile to the decoder.");
    return memfd;
}

// Seals memfd against writing for good. A helper that sealed it only against new writes
// unmaps its rows (bytes long) right after replying, and until it has, the seal is refused;
// one that keeps them mapped past a generous allowance (a second, and a millisecond per MiB,
// where unmapping takes about a millisecond per 10 MiB) is answering nonsense.
bool SealAgainstWriting(int memfd, uint64_t bytes) {
    using Clock = std::chrono::steady_clock;
    const auto giveUp = Clock::now() + std::chrono::seconds(1) + std::chrono::milliseconds(bytes >> 20);
    for (;;) {
        if (::fcntl(memfd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SEAL) == 0) return true;
        if (errno != EBUSY || Clock::now() > giveUp) return false;
        // Nothing announces the unmapping: a short nap, and the seal is tried again.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

// The reply describes a picture the viewer can hold: sides, depth and row length agree, and
// the metadata is within its ranges.
bool PlausibleShape(const DecodeReply& reply) {
    const int depth = reply.bitsPerPixel;
    return reply.width > 0 && reply.height > 0 && (depth == 1 || depth == 8 || depth == 32) &&
           reply.stride == PaddedLineBytes(reply.width, depth) &&
           reply.paletteEntries == static_cast<uint32_t>(PaletteEntries(depth)) && reply.iccBytes <= kMaxReplyProfile &&
           reply.orientation >= 1 && reply.orientation <= 8 && reply.frameCount >= 1 && reply.scaleDenominator >= 1;
}

}  // namespace

CDecoderProcess::CDecoderProcess(const DecoderHelperOptions& options) : options_(options) {
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        RaiseError(ERR_FEATURE_UNAVAILABLE, "No socket for the decoder helper.");
    CUniqueFd mine(ends[0]);
    const CUniqueFd theirs(ends[1]);
    // Kept above the helper's number first, so that the dup2 that clears close-on-exec never
    // meets the same descriptor.
    const CUniqueFd high(::fcntl(theirs.Get(), F_DUPFD_CLOEXEC, kHelperSocket + 1));
    std::vector<std::string> arguments = {options.program,
                                          "--socket",
                                          std::to_string(kHelperSocket),
                                          "--storage-limit",
                                          std::to_string(options.storageLimit),
                                          "--watchdog-ms",
                                          std::to_string(options.watchdog.count())};
    if (options.traceLevel > 0 && !options.traceFileName.empty())
        arguments.insert(arguments.end(), {"--trace", std::to_string(options.traceLevel), options.traceFileName});
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, high.Get(), kHelperSocket);
    const int failure = high.Valid() ? ::posix_spawn(&pid_, options.program.c_str(), &actions, nullptr, argv.data(), environ)
                                     : EMFILE;
    posix_spawn_file_actions_destroy(&actions);
    if (failure != 0) {
        pid_ = -1;
        RaiseError(ERR_FEATURE_UNAVAILABLE, FormatText("The decoder helper %s cannot be started: %s.",
                                                       options.program.c_str(), std::strerror(failure)));
    }
    socket_ = std::move(mine);
}

CDecoderProcess::~CDecoderProcess() { Reap(false); }

int CDecoderProcess::Reap(bool kill) {
    socket_.Reset();
    if (pid_ < 0) return 0;
    if (kill) ::kill(pid_, SIGKILL);
    const CUniqueFd exited(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
    pollfd ended{exited.Get(), POLLIN, 0};
    // Without its socket a helper ends at once; one that does not is made to.
    if (!exited.Valid() || ::poll(&ended, 1, kExitWaitMs) != 1) ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status;
}

void CDecoderProcess::Lost(const std::string& name, Loss loss) {
    const int status = Reap(loss != Loss::kEnded);
    if (loss == Loss::kCancelled) throw CTextException(ERR_CANCELLED, "Decoding was cancelled.");
    // Nobody here killed it: the kernel's out-of-memory killer did.
    if (loss == Loss::kEnded && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        RaiseError(ERR_OUT_OF_MEMORY, FormatText("%s is too large: decoding it ran out of memory.", name.c_str()));
    const char* what = loss == Loss::kNonsense ? "answered nonsense"
                       : loss == Loss::kTooLong || (WIFEXITED(status) && WEXITSTATUS(status) == kWatchdogExit)
                           ? "took too long"
                       : WIFSIGNALED(status) ? "crashed"
                                             : "stopped";
    RaiseError(ERR_BAD_DATA, FormatText("This file has invalid data: %s (its decoder %s).", name.c_str(), what));
}

void CDecoderProcess::Exchange(DecodeRequest request, int fd, const std::string& name, const CDecodeContext& context,
                               WireMessage& message, DecodeReply& reply) {
    if (!Alive()) Lost(name, Loss::kEnded);
    if (name.size() > kMaxWireText) RaiseError(ERR_CANNOT_OPEN, FormatText("The file name %s is too long.", name.c_str()));
    request.minWidth = context.minWidth;
    request.minHeight = context.minHeight;
    request.dotsPerInch = context.dotsPerInch;
    request.storageLimit = context.storageLimit;
    request.applyOrientation = context.applyOrientation ? 1 : 0;
    request.colourManagement = context.colourManagement ? 1 : 0;
    request.nameBytes = static_cast<uint32_t>(name.size());
    CUniqueFd profile;
    if (fd >= 0 && context.colourManagement && !context.targetProfile.empty()) {
        profile = ProfileMemfd(context.targetProfile);
        request.hasTargetProfile = 1;
    }
    const int descriptors[2] = {fd, profile.Get()};
    const size_t sent = fd < 0 ? 0 : profile.Valid() ? 2 : 1;
    if (!SendWireMessage(socket_.Get(), FixedBytes(request), name, std::span(descriptors, sent)))
        Lost(name, Loss::kEnded);

    using Clock = std::chrono::steady_clock;
    const auto giveUp = Clock::now() + options_.watchdog + kWatchdogGrace;
    auto cancelGiveUp = Clock::time_point::max();
    bool cancelled = false;
    for (;;) {
        pollfd socket{socket_.Get(), POLLIN, 0};
        // Short slices: the cancel flag is only looked at between them.
        const int ready = ::poll(&socket, 1, 50);
        if (ready > 0 && (socket.revents & POLLIN) != 0) {
            const ReceiveResult result = ReceiveWireMessage(socket_.Get(), sizeof(DecodeReply) + kMaxWireText, message);
            if (result == ReceiveResult::kMessage) break;
            Lost(name, cancelled ? Loss::kCancelled : result == ReceiveResult::kInvalid ? Loss::kNonsense : Loss::kEnded);
        }
        if (ready > 0) Lost(name, cancelled ? Loss::kCancelled : Loss::kEnded);
        const auto now = Clock::now();
        if (context.IsCancelled() && !cancelled) {
            cancelled = true;
            DecodeRequest cancel;
            cancel.kind = RequestKind::kCancel;
            SendWireMessage(socket_.Get(), FixedBytes(cancel), {}, {});
            cancelGiveUp = now + kCancelGrace;
        }
        if (now > cancelGiveUp) Lost(name, Loss::kCancelled);
        if (now > giveUp) Lost(name, Loss::kTooLong);
    }
    const bool framed = ParseFixed(message, reply) && reply.textBytes <= kMaxWireText &&
                        message.bytes.size() == sizeof(DecodeReply) + reply.textBytes;
    if (!framed || (reply.errorCode != 0 && !message.descriptors.empty())) Lost(name, Loss::kNonsense);
    if (reply.errorCode != 0)
        throw CTextException(reply.errorCode, TextAfter(message, sizeof(DecodeReply)), reply.declared);
}

std::shared_ptr<CMemfdBitmap> CDecoderProcess::Decode(int fd, const std::string& name, const CDecodeContext& context,
                                                      int depth, bool makeOpaque) {
    DecodeRequest request;
    request.kind = RequestKind::kDecode;
    request.depth = depth;
    request.makeOpaque = makeOpaque ? 1 : 0;
    WireMessage message;
    DecodeReply reply;
    Exchange(request, fd, name, context, message, reply);
    return MapPicture(name, context, message, reply);
}

std::shared_ptr<CMemfdBitmap> CDecoderProcess::MapPicture(const std::string& name, const CDecodeContext& context,
                                                          const WireMessage& message, const DecodeReply& reply) {
    // Nothing is mapped before the memfd is known to be sealed against any change of size and
    // to hold all it claims.
    if (message.descriptors.size() != 1 || !PlausibleShape(reply)) Lost(name, Loss::kNonsense);
    const int memfd = message.descriptors[0].Get();
    const uint64_t rows = static_cast<uint64_t>(reply.height) * reply.stride;
    if (rows > context.storageLimit)
        RaiseError(ERR_OUT_OF_MEMORY, FormatText("A bitmap of %d x %d pixels at %d bits exceeds the storage limit.",
                                                 reply.width, reply.height, reply.bitsPerPixel));
    const uint64_t paletteBytes = uint64_t{reply.paletteEntries} * sizeof(BGRA);
    constexpr int kBounded = F_SEAL_SHRINK | F_SEAL_GROW;
    struct stat info {};
    const int seals = ::fcntl(memfd, F_GET_SEALS);
    if (seals < 0 || (seals & kBounded) != kBounded || (seals & (F_SEAL_WRITE | F_SEAL_FUTURE_WRITE)) == 0 ||
        ::fstat(memfd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<uint64_t>(info.st_size) < rows + paletteBytes + reply.iccBytes)
        Lost(name, Loss::kNonsense);
    auto picture = CMemfdBitmap::Map(memfd, reply.width, reply.height, reply.bitsPerPixel, reply.hasAlpha != 0);
    // While these pages were mapped the helper unmapped its own; only now can the memfd be
    // sealed against writing. Until it is, nothing is read from it and the picture goes nowhere.
    if ((seals & F_SEAL_WRITE) == 0 && !SealAgainstWriting(memfd, rows)) Lost(name, Loss::kNonsense);
    std::vector<BGRA> palette(reply.paletteEntries);
    ImageMetadata metadata;
    metadata.iccProfile.resize(reply.iccBytes);
    if (!ReadAll(memfd, palette.data(), paletteBytes, static_cast<off_t>(rows)) ||
        !ReadAll(memfd, metadata.iccProfile.data(), reply.iccBytes, static_cast<off_t>(rows + paletteBytes)))
        Lost(name, Loss::kNonsense);
    if (!palette.empty()) picture->LoadPalette(palette.data());
    metadata.orientation = reply.orientation;
    metadata.frameCount = reply.frameCount;
    metadata.scaleDenominator = reply.scaleDenominator;
    metadata.pngColour = reply.pngColour;
    picture->Metadata() = std::move(metadata);
    return picture;
}

ImageInfo CDecoderProcess::Probe(int fd, const std::string& name, const CDecodeContext& context, ImageFormat* format) {
    DecodeRequest request;
    request.kind = RequestKind::kProbe;
    WireMessage message;
    DecodeReply reply;
    Exchange(request, fd, name, context, message, reply);
    if (!message.descriptors.empty() || reply.format < 0 || static_cast<size_t>(reply.format) >= kImageFormatCount)
        Lost(name, Loss::kNonsense);
    if (format != nullptr) *format = static_cast<ImageFormat>(reply.format);
    return reply.info;
}

AnimationLayout CDecoderProcess::OpenAnimation(int fd, const std::string& name, const CDecodeContext& context,
                                               bool makeOpaque) {
    DecodeRequest request;
    request.kind = RequestKind::kOpenAnimation;
    request.makeOpaque = makeOpaque ? 1 : 0;
    WireMessage message;
    DecodeReply reply;
    Exchange(request, fd, name, context, message, reply);
    const AnimationLayout layout{reply.width, reply.height, reply.frameCount, reply.loopCount};
    const bool still = layout.frameCount == 0;
    const bool animated = layout.frameCount >= 2 && layout.width > 0 && layout.height > 0;
    if (!message.descriptors.empty() || (!still && !animated) || layout.loopCount < 0) Lost(name, Loss::kNonsense);
    return layout;
}

std::shared_ptr<CMemfdBitmap> CDecoderProcess::NextFrame(const std::string& name, const CDecodeContext& context,
                                                         const AnimationLayout& layout, int& delay) {
    DecodeRequest request;
    request.kind = RequestKind::kNextFrame;
    WireMessage message;
    DecodeReply reply;
    Exchange(request, -1, name, context, message, reply);
    if (reply.endOfLoop != 0) {
        if (!message.descriptors.empty()) Lost(name, Loss::kNonsense);
        return nullptr;
    }
    // Every frame is the whole canvas at 32 bits; the rest is checked as for any picture.
    if (reply.bitsPerPixel != 32 || reply.width != layout.width || reply.height != layout.height || reply.delay < 0)
        Lost(name, Loss::kNonsense);
    auto frame = MapPicture(name, context, message, reply);
    delay = reply.delay;
    return frame;
}

void CDecoderProcess::RewindAnimation(const std::string& name, const CDecodeContext& context) {
    DecodeRequest request;
    request.kind = RequestKind::kRewindAnimation;
    WireMessage message;
    DecodeReply reply;
    Exchange(request, -1, name, context, message, reply);
    if (!message.descriptors.empty()) Lost(name, Loss::kNonsense);
}
