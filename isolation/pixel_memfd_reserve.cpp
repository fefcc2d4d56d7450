#include "isolation/pixel_memfd_reserve.h"

namespace {

// Past this a reserve is a good part of the address space a helper is allowed beyond its
// storage limit.
constexpr size_t kLargeReserve = size_t{256} << 20;

}  // namespace

CPixelMemfd CPixelMemfdReserve::Take(size_t bytes) {
    if (held_.Valid() && held_.Bytes() / 2 <= bytes) {
        CPixelMemfd taken = std::move(held_);
        if (taken.Resize(bytes)) return taken;
        // Memory is short: the reserve's pages go back before a new memfd is tried.
        taken = CPixelMemfd();
        return CPixelMemfd::Create(bytes);
    }
    // A large reserve not taken goes back at once: the address space it holds may be what the
    // decode needs. A smaller one waits for the next Prepare, when nobody waits for its freeing.
    if (held_.Bytes() > kLargeReserve) held_ = CPixelMemfd();
    CPixelMemfd made = CPixelMemfd::Create(bytes);
    if (!made.Valid() && held_.Valid()) {
        held_ = CPixelMemfd();
        made = CPixelMemfd::Create(bytes);
    }
    return made;
}

void CPixelMemfdReserve::Retire(CPixelMemfd handedOut) { retired_ = std::move(handedOut); }

void CPixelMemfdReserve::Prepare(size_t bytes) {
    retired_ = CPixelMemfd();
    if (held_.Valid() && held_.Bytes() == bytes) return;
    held_ = CPixelMemfd();
    held_ = CPixelMemfd::Create(bytes);
}

void CPixelMemfdReserve::Release() {
    retired_ = CPixelMemfd();
    held_ = CPixelMemfd();
}
