#include "decode_context.h"

#include "storage_limit.h"
#include "text_exception.h"
#include "trace.h"

#include <algorithm>
#include <mutex>

namespace {

constexpr int kDefaultDotsPerInch = 96;
std::atomic<int> g_dotsPerInch{kDefaultDotsPerInch};

struct ColourDefaults {
    std::mutex mutex;
    bool on = true;
    std::vector<uint8_t> targetProfile;
};

ColourDefaults& Colour() {
    static ColourDefaults defaults;
    return defaults;
}
thread_local const CDecodeContext* t_active = nullptr;

}  // namespace

CDecodeContext::CDecodeContext()
    : storageLimit(BitmapStorageLimit()),
      traceLevel(TraceLevel()),
      traceFileName(TraceFileName()),
      dotsPerInch(g_dotsPerInch.load(std::memory_order_relaxed)),
      cancelled_(std::make_shared<std::atomic<bool>>(false)) {
    ColourDefaults& colour = Colour();
    const std::lock_guard lock(colour.mutex);
    colourManagement = colour.on;
    targetProfile = colour.targetProfile;
}

const CDecodeContext* ActiveDecodeContext() { return t_active; }

void CheckDecodeCancelled() {
    if (t_active != nullptr && t_active->IsCancelled())
        throw CTextException(ERR_CANCELLED, "Decoding was cancelled.");
}

CDecodeScope::CDecodeScope(const CDecodeContext* context) : previous_(t_active) {
    if (context != nullptr) {
        t_active = context;
    } else if (t_active == nullptr) {
        defaults_ = std::make_unique<CDecodeContext>();
        t_active = defaults_.get();
    }
}

CDecodeScope::~CDecodeScope() { t_active = previous_; }

void SetDefaultDotsPerInch(int dotsPerInch) {
    g_dotsPerInch.store(dotsPerInch > 0 ? dotsPerInch : kDefaultDotsPerInch, std::memory_order_relaxed);
}

int DefaultDotsPerInch() { return g_dotsPerInch.load(std::memory_order_relaxed); }

void SetDefaultColourManagement(bool on, std::vector<uint8_t> targetProfile) {
    ColourDefaults& colour = Colour();
    const std::lock_guard lock(colour.mutex);
    colour.on = on;
    colour.targetProfile = std::move(targetProfile);
}
