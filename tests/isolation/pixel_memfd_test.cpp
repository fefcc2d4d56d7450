// The helper's pixel memory: what the reserve made ahead is handed out at the right size and
// clean, and a finished picture's memfd is sealed so that nobody can change it afterwards.

#include "imagelib/mem_bitmap.h"
#include "isolation/memfd_bitmap.h"
#include "isolation/pixel_memfd_reserve.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Large enough that its pages are put in place by a thread of their own.
constexpr size_t kLarge = size_t{6} << 20;

off_t SizeOf(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 ? info.st_size : -1;
}

bool AllZero(const uint8_t* bytes, size_t count) {
    return std::all_of(bytes, bytes + count, [](uint8_t byte) { return byte == 0; });
}

std::vector<uint8_t> ReadFromMemfd(int fd, size_t bytes, off_t offset) {
    std::vector<uint8_t> read(bytes);
    EXPECT_EQ(::pread(fd, read.data(), bytes, offset), static_cast<ssize_t>(bytes));
    return read;
}

}  // namespace

TEST(PixelMemfdReserve, HandsOutWhatItMadeAheadCutOrGrownToSizeAndClean) {
    CPixelMemfdReserve reserve;
    // A picture a little smaller than the last: the memory made ahead, cut to size.
    reserve.Prepare(kLarge);
    CPixelMemfd smaller = reserve.Take(kLarge - 12345);
    ASSERT_TRUE(smaller.Valid());
    EXPECT_EQ(reserve.Bytes(), 0u);
    EXPECT_EQ(smaller.Bytes(), kLarge - 12345);
    EXPECT_TRUE(AllZero(smaller.Rows(), smaller.Bytes()));
    std::memset(smaller.Rows(), 0xA5, smaller.Bytes());
    // Grown again past its old end, the new part is zero and the old part kept.
    ASSERT_TRUE(smaller.Resize(kLarge + 4096));
    EXPECT_EQ(smaller.Rows()[kLarge - 12346], 0xA5);
    EXPECT_TRUE(AllZero(smaller.Rows() + kLarge - 12345, 12345 + 4096));
    const CUniqueFd handedOut = smaller.UnmapAndRelease();
    EXPECT_EQ(SizeOf(handedOut.Get()), static_cast<off_t>(kLarge + 4096));

    // The next memory made ahead is new: nothing of the picture handed out is in it.
    reserve.Prepare(kLarge);
    CPixelMemfd next = reserve.Take(kLarge);
    ASSERT_TRUE(next.Valid());
    EXPECT_TRUE(AllZero(next.Rows(), next.Bytes()));

    // Far smaller than what is held: a memfd of its own, the reserve kept until the next
    // Prepare, which then makes the smaller size.
    reserve.Prepare(kLarge);
    CPixelMemfd thumbnail = reserve.Take(4800);
    ASSERT_TRUE(thumbnail.Valid());
    EXPECT_EQ(thumbnail.Bytes(), 4800u);
    EXPECT_EQ(reserve.Bytes(), kLarge);
    reserve.Prepare(4800);
    EXPECT_EQ(reserve.Bytes(), 4800u);
    // Far larger than what is held: grown from it.
    CPixelMemfd large = reserve.Take(kLarge);
    ASSERT_TRUE(large.Valid());
    EXPECT_EQ(reserve.Bytes(), 0u);
    EXPECT_TRUE(AllZero(large.Rows(), large.Bytes()));
}

TEST(PixelMemfdReserve, AFinishedPictureIsSealedAndItsRowsLetGoBeforeTheNextIsMade) {
    CPixelMemfdReserve reserve;
    CMemfdBitmap picture(&reserve);
    CMemBitmap pattern;
    CreatePattern(pattern, 1400, 1200, 32);
    picture.Create(1400, 1200, 32, false);
    for (int y = 0; y < pattern.Height(); ++y) std::memcpy(picture.Line(y), pattern.Line(y), pattern.BytesPerLine());
    const std::vector<uint8_t> trailer = {1, 2, 3, 4, 5};
    const size_t rows = pattern.BytesPerLine() * static_cast<size_t>(pattern.Height());
    const CUniqueFd memfd = picture.ReleaseSealed(trailer);
    ASSERT_TRUE(memfd.Valid());
    EXPECT_EQ(SizeOf(memfd.Get()), static_cast<off_t>(rows + trailer.size()));
    EXPECT_EQ(ReadFromMemfd(memfd.Get(), trailer.size(), static_cast<off_t>(rows)), trailer);
    const size_t stride = pattern.BytesPerLine();
    const std::vector<uint8_t> lastRow = ReadFromMemfd(memfd.Get(), stride, static_cast<off_t>(rows - stride));
    EXPECT_EQ(std::memcmp(lastRow.data(), pattern.Line(pattern.Height() - 1), lastRow.size()), 0);

    // Its size can no longer change, and no new write reaches it.
    const int seals = ::fcntl(memfd.Get(), F_GET_SEALS);
    const int bounded = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_FUTURE_WRITE;
    EXPECT_EQ(seals & bounded, bounded);
    EXPECT_NE(::ftruncate(memfd.Get(), 4096), 0);
    EXPECT_NE(::pwrite(memfd.Get(), "x", 1, 0), 1);
    EXPECT_EQ(::mmap(nullptr, rows, PROT_READ | PROT_WRITE, MAP_SHARED, memfd.Get(), 0), MAP_FAILED);
    // The rows stay mapped here until the next picture's memory is made: until then the
    // memfd cannot be sealed against writing for good, afterwards it can.
    EXPECT_NE(::fcntl(memfd.Get(), F_ADD_SEALS, F_SEAL_WRITE), 0);
    reserve.Prepare(rows);
    EXPECT_EQ(::fcntl(memfd.Get(), F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SEAL), 0);

    // A bitmap without a reserve seals fully at once.
    CMemfdBitmap alone;
    alone.Create(40, 30, 8, false);
    const CUniqueFd sealed = alone.ReleaseSealed({});
    const int full = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;
    EXPECT_EQ(::fcntl(sealed.Get(), F_GET_SEALS) & full, full);
}
