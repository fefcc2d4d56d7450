// Every allocation of a decode may fail: this program replaces operator new with one that
// fails the n-th allocation of the calling thread on request, and sweeps n over a decode of
// each kind of file. Each decode must then end with the picture or with the library's
// out-of-memory error: never another error, a crash or a call to std::terminate.
#include "codecs/auto_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

namespace {

// Allocations left before the one that fails; negative: none fails.
thread_local long t_allocationsBeforeFailure = -1;
thread_local bool t_failed = false;

void* Allocate(std::size_t size) {
    if (t_allocationsBeforeFailure == 0) {
        t_allocationsBeforeFailure = -1;
        t_failed = true;
        throw std::bad_alloc();
    }
    if (t_allocationsBeforeFailure > 0) --t_allocationsBeforeFailure;
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

class AllocationFailureTest : public testing::TestWithParam<const char*> {};

TEST_P(AllocationFailureTest, EveryFailedAllocationEndsTheDecodeAsOutOfMemory) {
    const std::string file = TestDataPath(GetParam());
    CAutoDecoder decoder;
    // One decode first, as a program has done before memory runs short: Qt makes some of its
    // shared objects on first use, and cannot recover from failing to make them.
    CMemBitmap warm;
    decoder.DecodeFile(file, warm, 32);
    for (long n = 0;; ++n) {
        CMemBitmap bitmap;
        int code = 0;
        t_failed = false;
        t_allocationsBeforeFailure = n;
        try {
            decoder.DecodeFile(file, bitmap, 32);
        } catch (const CTextException& e) {
            code = e.Code();
        } catch (...) {
            t_allocationsBeforeFailure = -1;
            FAIL() << "allocation " << n << " failed the decode with an exception of another kind";
        }
        t_allocationsBeforeFailure = -1;
        if (!t_failed) {
            EXPECT_EQ(code, 0) << "without a failed allocation";
            EXPECT_GT(n, 2) << "a decode allocates more than that";
            break;
        }
        if (code != 0) {
            ASSERT_EQ(code, ERR_OUT_OF_MEMORY) << "allocation " << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, AllocationFailureTest,
                         testing::Values("jpeg/progressive_cjpeg.jpeg", "png/rgba_interlaced_magick.png",
                                         "png/palette_transparent_pillow.png", "gif/interlaced_magick.gif",
                                         "tiff/palette_magick.tiff", "eps/tiff_preview.eps",
                                         "tga/rgb24_rle_pillow.tga", "pcx/rgb24_pillow.pcx",
                                         "pgm/p5_65535_magick.pgm", "pict/rgb32_magick.pict",
                                         "pict/palette256_magick.pict", "resource_8bit_5x3.bmp",
                                         "metafile/shapes.emf", "metafile/gradient.wmf"));
