#include "isolation/pixel_memfd.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace {

// Pages a memfd made ahead gets between two looks for a waiting request: a few milliseconds'
// work.
constexpr size_t kPlacingStep = size_t{8} << 20;

size_t PageSize() {
    static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    return page;
}

size_t RoundDownToPage(size_t bytes) { return bytes / PageSize() * PageSize(); }

}  // namespace

CPixelMemfd::~CPixelMemfd() { Reset(); }

CPixelMemfd::CPixelMemfd(CPixelMemfd&& other) noexcept
    : memfd_(std::move(other.memfd_)),
      rows_(std::exchange(other.rows_, nullptr)),
      bytes_(std::exchange(other.bytes_, 0)),
      placed_(std::exchange(other.placed_, 0)) {}

CPixelMemfd& CPixelMemfd::operator=(CPixelMemfd&& other) noexcept {
    if (this != &other) {
        Reset();
        memfd_ = std::move(other.memfd_);
        rows_ = std::exchange(other.rows_, nullptr);
        bytes_ = std::exchange(other.bytes_, 0);
        placed_ = std::exchange(other.placed_, 0);
    }
    return *this;
}

void CPixelMemfd::Reset() {
    if (rows_ != nullptr) ::munmap(rows_, bytes_);
    rows_ = nullptr;
    bytes_ = 0;
    placed_ = 0;
    memfd_.Reset();
}

CPixelMemfd CPixelMemfd::Create(size_t bytes, bool placeLater) {
    CPixelMemfd made;
    if (bytes == 0) return made;
    CUniqueFd memfd(::memfd_create("vtview-pixels", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!memfd.Valid() || ::ftruncate(memfd.Get(), static_cast<off_t>(bytes)) != 0) return made;
    void* rows = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, memfd.Get(), 0);
    if (rows == MAP_FAILED) return made;
    made.memfd_ = std::move(memfd);
    made.rows_ = static_cast<uint8_t*>(rows);
    made.bytes_ = bytes;
    if (!placeLater && !made.PlaceUpTo(bytes)) made.Reset();
    return made;
}

bool CPixelMemfd::PlaceUpTo(size_t end) {
    end = std::min(end, bytes_);
    if (end <= placed_) return true;
    // Whole pages only: a page begun is in place as a whole.
    const size_t start = RoundDownToPage(placed_);
    if (::madvise(rows_ + start, end - start, MADV_POPULATE_WRITE) != 0 && errno != EINVAL) return false;
    // A kernel without the call (EINVAL) leaves the pages to the decoder's faults.
    placed_ = end;
    return true;
}

bool CPixelMemfd::Resize(size_t bytes) {
    if (!Valid() || bytes == 0) return false;
    if (bytes == bytes_) return true;
    if (bytes < bytes_) {
        // The tail is unmapped first, so that cutting the memfd has no mapping to search.
        void* rows = ::mremap(rows_, bytes_, bytes, 0);
        if (rows == MAP_FAILED) return false;
        bytes_ = bytes;
        placed_ = std::min(placed_, bytes);
        // Cannot fail for a shorter length; the pages past it go back to the system.
        return ::ftruncate(memfd_.Get(), static_cast<off_t>(bytes)) == 0;
    }
    void* rows = MAP_FAILED;
    if (::ftruncate(memfd_.Get(), static_cast<off_t>(bytes)) != 0 ||
        (rows = ::mremap(rows_, bytes_, bytes, MREMAP_MAYMOVE)) == MAP_FAILED)
        return false;
    rows_ = static_cast<uint8_t*>(rows);
    bytes_ = bytes;
    return true;
}

CUniqueFd CPixelMemfd::Release() {
    rows_ = nullptr;
    bytes_ = 0;
    placed_ = 0;
    return std::move(memfd_);
}

CPixelMemfd CPixelMemfdReserve::Take(size_t bytes) {
    if (held_.Valid() && held_.Bytes() / 2 <= bytes) {
        CPixelMemfd taken = std::move(held_);
        if (taken.Resize(bytes) && taken.PlaceUpTo(bytes)) return taken;
        // Memory is short: the reserve's pages go back before a new memfd is tried.
        taken = CPixelMemfd();
        return CPixelMemfd::Create(bytes);
    }
    CPixelMemfd made = CPixelMemfd::Create(bytes);
    if (!made.Valid() && held_.Valid()) {
        held_ = CPixelMemfd();
        made = CPixelMemfd::Create(bytes);
    }
    return made;
}

void CPixelMemfdReserve::Prepare(size_t bytes, const std::function<bool()>& wanted) {
    if (!held_.Valid() || held_.Bytes() != bytes) {
        held_ = CPixelMemfd();
        held_ = CPixelMemfd::Create(bytes, true);
    }
    while (held_.Valid() && held_.Placed() < bytes && !wanted()) {
        if (!held_.PlaceUpTo(held_.Placed() + kPlacingStep)) held_ = CPixelMemfd();
    }
}
