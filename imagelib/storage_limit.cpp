#include "storage_limit.h"

#include "decode_context.h"
#include "text_exception.h"
#include "trace.h"

#include <atomic>

namespace {
std::atomic<uint64_t> g_storageLimit{kDefaultBitmapStorageLimit};
}

void SetBitmapStorageLimit(uint64_t bytes) { g_storageLimit.store(bytes, std::memory_order_relaxed); }

uint64_t BitmapStorageLimit() {
    if (const CDecodeContext* context = ActiveDecodeContext()) return context->storageLimit;
    return g_storageLimit.load(std::memory_order_relaxed);
}

uint64_t UnpaddedLineBytes(int64_t width, int depth) {
    const uint64_t bits = static_cast<uint64_t>(width) * static_cast<uint64_t>(depth);
    return bits / 8 + ((depth == 1 && width % 8 != 0) ? 1 : 0);
}

uint64_t PaddedLineBytes(int64_t width, int depth) { return (UnpaddedLineBytes(width, depth) + 3) & ~uint64_t{3}; }

uint64_t CheckBitmapStorage(int64_t width, int64_t height, int depth, uint64_t lineBytes) {
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX)
        throw CTextException(ERR_BAD_DATA, FormatText("Invalid bitmap size %lld x %lld.",
                                                      static_cast<long long>(width), static_cast<long long>(height)));
    if (depth != 1 && depth != 8 && depth != 32)
        throw CTextException(ERR_BAD_DATA, FormatText("Invalid bitmap depth %d.", depth));
    // width and height are below 2^31 and lineBytes below 2^34, so the product needs a check.
    const uint64_t limit = BitmapStorageLimit();
    if (lineBytes != 0 && static_cast<uint64_t>(height) > limit / lineBytes)
        throw CTextException(ERR_OUT_OF_MEMORY,
                             FormatText("A bitmap of %lld x %lld pixels at %d bits exceeds the storage limit of %llu MiB.",
                                        static_cast<long long>(width), static_cast<long long>(height), depth,
                                        static_cast<unsigned long long>(limit >> 20)),
                             DeclaredSize{width, height});
    return static_cast<uint64_t>(height) * lineBytes;
}
