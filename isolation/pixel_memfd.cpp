#include "isolation/pixel_memfd.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace {

// Below this the pages are put in place at once: a thread would cost more than it saves.
constexpr size_t kPlacedApart = size_t{4} << 20;
// The placing thread's step: a few milliseconds' work between two looks at its stop flag.
constexpr size_t kPlacingStep = size_t{4} << 20;

size_t PageSize() {
    static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    return page;
}

// Puts the pages of [start, start + bytes) in place, in one call rather than a fault for
// each. False when memory is short; a kernel without the call leaves them to fault in.
bool Populate(uint8_t* start, size_t bytes) {
    return bytes == 0 || ::madvise(start, bytes, MADV_POPULATE_WRITE) == 0 || errno == EINVAL;
}

}  // namespace

CPixelMemfd::~CPixelMemfd() { Reset(); }

CPixelMemfd::CPixelMemfd(CPixelMemfd&& other) noexcept
    : memfd_(std::move(other.memfd_)),
      rows_(std::exchange(other.rows_, nullptr)),
      bytes_(std::exchange(other.bytes_, 0)),
      placing_(std::move(other.placing_)),
      placer_(std::move(other.placer_)) {}

CPixelMemfd& CPixelMemfd::operator=(CPixelMemfd&& other) noexcept {
    if (this != &other) {
        Reset();
        memfd_ = std::move(other.memfd_);
        rows_ = std::exchange(other.rows_, nullptr);
        bytes_ = std::exchange(other.bytes_, 0);
        placing_ = std::move(other.placing_);
        placer_ = std::move(other.placer_);
    }
    return *this;
}

void CPixelMemfd::Settle() {
    if (!placer_.joinable()) return;
    placing_->stop = true;
    placer_.join();
    placing_->stop = false;
}

void CPixelMemfd::Reset() {
    Settle();
    if (rows_ != nullptr) ::munmap(rows_, bytes_);
    rows_ = nullptr;
    bytes_ = 0;
    placing_.reset();
    memfd_.Reset();
}

CPixelMemfd CPixelMemfd::Create(size_t bytes) {
    CPixelMemfd made;
    if (bytes == 0) return made;
    CUniqueFd memfd(::memfd_create("vtview-pixels", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!memfd.Valid() || ::ftruncate(memfd.Get(), static_cast<off_t>(bytes)) != 0) return made;
    void* rows = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, memfd.Get(), 0);
    if (rows == MAP_FAILED) return made;
    made.memfd_ = std::move(memfd);
    made.rows_ = static_cast<uint8_t*>(rows);
    made.bytes_ = bytes;
    made.placing_ = std::make_unique<Placing>();
    if (!made.Place(0)) made.Reset();
    return made;
}

bool CPixelMemfd::Place(size_t from) {
    // Whole pages only: a page begun is in place as a whole.
    from = from / PageSize() * PageSize();
    if (from >= bytes_) return true;
    if (bytes_ - from < kPlacedApart) {
        if (!Populate(rows_ + from, bytes_ - from)) return false;
        placing_->placed = bytes_;
        return true;
    }
    // Where placing fails for want of memory, the decoder's own faults meet the same want
    // and end the process; the viewer reports that.
    try {
        placer_ = std::thread([rows = rows_, end = bytes_, from, placing = placing_.get()] {
            for (size_t at = from; at < end && !placing->stop; at += kPlacingStep) {
                const size_t step = std::min(kPlacingStep, end - at);
                if (!Populate(rows + at, step)) return;
                placing->placed = at + step;
            }
        });
    } catch (const std::system_error&) {
        if (!Populate(rows_ + from, bytes_ - from)) return false;
        placing_->placed = bytes_;
    }
    return true;
}

bool CPixelMemfd::Resize(size_t bytes) {
    if (!Valid() || bytes == 0) return false;
    if (bytes == bytes_) return true;
    Settle();
    const size_t placed = std::min<size_t>(placing_->placed, bytes);
    if (bytes < bytes_) {
        // The tail is unmapped first, so that cutting the memfd finds no mapping of it.
        void* rows = ::mremap(rows_, bytes_, bytes, 0);
        if (rows == MAP_FAILED) return false;
        bytes_ = bytes;
        placing_->placed = placed;
        // The pages past the new end go back to the system.
        return ::ftruncate(memfd_.Get(), static_cast<off_t>(bytes)) == 0 && Place(placed);
    }
    void* rows = MAP_FAILED;
    if (::ftruncate(memfd_.Get(), static_cast<off_t>(bytes)) != 0 ||
        (rows = ::mremap(rows_, bytes_, bytes, MREMAP_MAYMOVE)) == MAP_FAILED)
        return false;
    rows_ = static_cast<uint8_t*>(rows);
    bytes_ = bytes;
    return Place(placed);
}

CUniqueFd CPixelMemfd::UnmapAndRelease() {
    CUniqueFd memfd = std::move(memfd_);
    Reset();
    return memfd;
}

CUniqueFd CPixelMemfd::ReleaseMemfd() {
    Settle();
    return std::move(memfd_);
}

std::pair<uint8_t*, size_t> CPixelMemfd::ReleaseMapping() {
    Settle();
    const std::pair mapping{std::exchange(rows_, nullptr), std::exchange(bytes_, 0)};
    placing_.reset();
    memfd_.Reset();
    return mapping;
}
