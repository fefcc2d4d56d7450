#include "isolation/memfd_bitmap.h"

#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "isolation/pixel_memfd_reserve.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <tuple>
#include <utility>

namespace {

struct MappedRegion {
    void* start;
    size_t bytes;
};

void UnmapRegion(void* info) {
    const auto* region = static_cast<MappedRegion*>(info);
    ::munmap(region->start, region->bytes);
    delete region;
}

[[noreturn]] void OutOfMemory() { throw CTextException(ERR_OUT_OF_MEMORY, "Out of memory creating bitmap."); }

bool WriteAll(int fd, std::span<const uint8_t> data, off_t offset) {
    while (!data.empty()) {
        const ssize_t done = ::pwrite(fd, data.data(), data.size(), offset);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        data = data.subspan(static_cast<size_t>(done));
        offset += done;
    }
    return true;
}

}  // namespace

CMemfdBitmap::CMemfdBitmap() = default;

CMemfdBitmap::CMemfdBitmap(CPixelMemfdReserve* reserve) : reserve_(reserve) {}

CMemfdBitmap::~CMemfdBitmap() { Unmap(); }

void CMemfdBitmap::AllocateStorage(int width, int height, int depth, bool hasAlpha) {
    const size_t bytes = static_cast<size_t>(height) * PaddedLineBytes(width, depth);
    CPixelMemfd storage = reserve_ != nullptr ? reserve_->Take(bytes) : CPixelMemfd::Create(bytes);
    if (!storage.Valid()) OutOfMemory();
    storage_ = std::move(storage);
    Adopt(storage_.Rows(), width, height, depth, hasAlpha);
}

void CMemfdBitmap::Adopt(void* rows, int width, int height, int depth, bool hasAlpha) {
    header_ = std::make_unique<uint8_t[]>(kDibInfoHeaderSize + ColourTableBytes(depth));
    FillInfoHeader(header_.get(), width, height, depth);
    SetInfoAndBits(header_.get(), static_cast<uint8_t*>(rows));
    LocatePaletteAndBits();
    FinishCreate(width, height, depth, hasAlpha);
}

void CMemfdBitmap::FreeStorage() {
    CDIBSectionBitmap::FreeStorage();
    Unmap();
    header_.reset();
}

void CMemfdBitmap::Unmap() {
    if (mapped_ != nullptr) ::munmap(mapped_, mappedBytes_);
    mapped_ = nullptr;
    mappedBytes_ = 0;
    storage_ = CPixelMemfd();
}

CUniqueFd CMemfdBitmap::ReleaseSealed(std::span<const uint8_t> trailer) {
    if (!storage_.Valid()) OutOfMemory();
    const size_t rows = storage_.Bytes();
    CPixelMemfd storage = std::move(storage_);
    // The placeholder below is no picture to spend the reserve on.
    CPixelMemfdReserve* const reserve = std::exchange(reserve_, nullptr);
    Create(16, 16, 8, false);
    int seals = F_SEAL_SHRINK | F_SEAL_GROW;
    CUniqueFd memfd;
    if (reserve != nullptr) {
        // Sealed against new writes only, the rows mapped still: the reserve unmaps them once
        // the reply is on its way, and the viewer then seals the memfd against writing.
        memfd = storage.ReleaseMemfd();
        seals |= F_SEAL_FUTURE_WRITE;
    } else {
        // A memfd cannot be sealed against writing while a shared writable mapping of it exists.
        memfd = storage.UnmapAndRelease();
        seals |= F_SEAL_WRITE | F_SEAL_SEAL;
    }
    if (!trailer.empty() && (::ftruncate(memfd.Get(), static_cast<off_t>(rows + trailer.size())) != 0 ||
                             !WriteAll(memfd.Get(), trailer, static_cast<off_t>(rows))))
        OutOfMemory();
    if (::fcntl(memfd.Get(), F_ADD_SEALS, seals) != 0) OutOfMemory();
    if (reserve != nullptr) reserve->Retire(std::move(storage));
    return memfd;
}

std::shared_ptr<CMemfdBitmap> CMemfdBitmap::Map(int memfd, int width, int height, int depth, bool hasAlpha) {
    const size_t bytes = static_cast<size_t>(height) * PaddedLineBytes(width, depth);
    // The helper's pages themselves, no copy. Private: a write would copy only the page it
    // touches. Mapped here and now, on the thread that asked for the decode, all in one call:
    // otherwise the first paint, on the thread that shows the picture, would take a page fault
    // for every few pages. A kernel without the call leaves them to those faults.
    void* rows = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE, memfd, 0);
    if (rows == MAP_FAILED) OutOfMemory();
    // Put in place for reading: for writing, every page of this private mapping would be copied.
    static_cast<void>(::madvise(rows, bytes, MADV_POPULATE_READ));
    auto bitmap = std::make_shared<CMemfdBitmap>();
    bitmap->FreeStorage();
    bitmap->ClearFields();
    bitmap->mapped_ = rows;
    bitmap->mappedBytes_ = bytes;
    bitmap->Adopt(rows, width, height, depth, hasAlpha);
    return bitmap;
}

QImage CMemfdBitmap::ReleaseBitmapHandle() {
    // Its own memfd's mapping is handed over like any other; the memfd itself is not needed.
    if (storage_.Valid()) std::tie(mapped_, mappedBytes_) = storage_.ReleaseMapping();
    if (mapped_ == nullptr) return CDIBSectionBitmap::ReleaseBitmapHandle();
    auto region = std::make_unique<MappedRegion>(MappedRegion{mapped_, mappedBytes_});
    QImage handle = WrapRows(static_cast<uint8_t*>(mapped_), UnmapRegion, region.get());
    if (!handle.isNull()) {
        static_cast<void>(region.release());
        mapped_ = nullptr;
        mappedBytes_ = 0;
    }
    FreeStorage();
    ClearFields();
    AllocateStorage(16, 16, 8, false);
    return handle;
}
