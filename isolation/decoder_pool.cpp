#include "isolation/decoder_pool.h"

#include "imagelib/byte_source.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "isolation/memfd_bitmap.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>

namespace {

constexpr char kHelperName[] = "vtview-decoder";
constexpr int kMostHelpers = 4;

std::mutex g_sharedMutex;
std::shared_ptr<CDecoderPool> g_shared;  // guarded by g_sharedMutex

std::string ProgramFolder() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return {};
    const std::string program(path, static_cast<size_t>(length));
    return program.substr(0, program.find_last_of('/'));
}

}  // namespace

CDecoderPool::CDecoderPool(Options options) : options_(std::move(options)) {}

CDecoderPool::~CDecoderPool() = default;

std::shared_ptr<CDecoderPool> CDecoderPool::Shared() {
    const std::lock_guard lock(g_sharedMutex);
    if (!g_shared) g_shared = std::make_shared<CDecoderPool>(DefaultOptions());
    return g_shared;
}

void CDecoderPool::SetShared(std::shared_ptr<CDecoderPool> pool) {
    const std::lock_guard lock(g_sharedMutex);
    g_shared = std::move(pool);
}

CDecoderPool::Options CDecoderPool::DefaultOptions() {
    Options options;
    if (const char* named = std::getenv("VT_DECODER_HELPER"); named != nullptr && *named != '\0') {
        options.helper.program = named;
    } else if (const std::string beside = ProgramFolder() + '/' + kHelperName; ::access(beside.c_str(), X_OK) == 0) {
        options.helper.program = beside;
    }
    options.helper.storageLimit = BitmapStorageLimit();
    options.helper.traceLevel = TraceLevel();
    options.helper.traceFileName = TraceFileName();
    options.size = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMostHelpers);
    return options;
}

int CDecoderPool::HelpersStarted() const {
    const std::lock_guard lock(mutex_);
    return started_;
}

void CDecoderPool::Prestart() {
    {
        const std::lock_guard lock(mutex_);
        if (started_ > 0 || lent_ >= options_.size) return;
        ++lent_;
    }
    std::unique_ptr<CDecoderProcess> helper;
    try {
        helper = Start();
    } catch (const CTextException&) {
        // The first decode tries again and reports why it cannot.
    }
    Release(std::move(helper));
}

std::unique_ptr<CDecoderProcess> CDecoderPool::Start() {
    if (options_.helper.program.empty())
        RaiseError(ERR_FEATURE_UNAVAILABLE, FormatText("The decoder helper %s was not found.", kHelperName));
    auto helper = std::make_unique<CDecoderProcess>(options_.helper);
    const std::lock_guard lock(mutex_);
    ++started_;
    return helper;
}

std::unique_ptr<CDecoderProcess> CDecoderPool::Acquire(const CDecodeContext& context) {
    {
        std::unique_lock lock(mutex_);
        while (idle_.empty() && lent_ >= options_.size) {
            // Slices: a cancelled decode stops waiting without anyone notifying it.
            released_.wait_for(lock, std::chrono::milliseconds(50));
            if (context.IsCancelled()) throw CTextException(ERR_CANCELLED, "Decoding was cancelled.");
        }
        ++lent_;
        if (!idle_.empty()) {
            auto helper = std::move(idle_.back());
            idle_.pop_back();
            return helper;
        }
    }
    try {
        return Start();
    } catch (...) {
        Release(nullptr);
        throw;
    }
}

void CDecoderPool::Release(std::unique_ptr<CDecoderProcess> helper) {
    if (helper && !helper->Alive()) {
        // A dead helper is collected and replaced now, so that the next decode finds one
        // that has started already.
        helper.reset();
        try {
            helper = Start();
        } catch (const CTextException&) {
            // The next decode tries again and reports why it cannot.
        }
    }
    {
        const std::lock_guard lock(mutex_);
        --lent_;
        if (helper) idle_.push_back(std::move(helper));
    }
    released_.notify_one();
}

template <typename Work>
auto CDecoderPool::Run(const std::string& fileName, const CDecodeContext& context, Work&& work) {
    int opened = -1;
    if (const int failure = OpenPictureFile(fileName, opened); failure != 0)
        RaiseError(failure, FormatText("Opening %s failed", fileName.c_str()));
    const CUniqueFd file(opened);
    std::unique_ptr<CDecoderProcess> helper = Acquire(context);
    try {
        auto result = work(*helper, file.Get());
        Release(std::move(helper));
        return result;
    } catch (...) {
        Release(std::move(helper));
        throw;
    }
}

std::shared_ptr<CMemfdBitmap> CDecoderPool::DecodeFile(const std::string& fileName, const CDecodeContext& context,
                                                       int depth, bool makeOpaque) {
    return Run(fileName, context, [&](CDecoderProcess& helper, int fd) {
        return helper.Decode(fd, fileName, context, depth, makeOpaque);
    });
}

ImageInfo CDecoderPool::ProbeFile(const std::string& fileName, const CDecodeContext& context, ImageFormat* format) {
    return Run(fileName, context,
               [&](CDecoderProcess& helper, int fd) { return helper.Probe(fd, fileName, context, format); });
}
