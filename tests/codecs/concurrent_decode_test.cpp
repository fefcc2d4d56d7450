#include "codecs/auto_decoder.h"
#include "imagelib/colour_management.h"
#include "imagelib/decode_context.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/orientation.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"
#include "support/test_profiles.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Job {
    std::string file;
    uint64_t storageLimit = uint64_t{1} << 30;
    int expectedCode = 0;
};

// A wide-gamut profile of its own, so that no other test has made its transform before.
std::vector<uint8_t> WideGamutProfile() {
    return GammaRgbProfile({{0.708, 0.292, 1}, {0.170, 0.797, 1}, {0.131, 0.046, 1}}, 2.4);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

// Eight decodes of different formats at once, each under a context of its own: its own
// storage limit (one so small that it refuses the picture) and its own trace file. Each
// gives what it gives alone, and no trace line lands in another decode's file. The
// ThreadSanitizer build (make tsan-test) runs this to show the decodes share nothing
// unguarded.
TEST(ConcurrentDecodeTest, EightDecodesOfDifferentFormatsAtOnce) {
    const std::vector<Job> jobs = {
        {TestDataPath("jpeg/progressive_cjpeg.jpeg")},
        {TestDataPath("png/rgba_interlaced_magick.png")},
        {TestDataPath("gif/interlaced_magick.gif")},
        {TestDataPath("eps/tiff_preview.eps")},
        {TestDataPath("tga/rgb24_rle_pillow.tga")},
        {TestDataPath("metafile/text.emf")},
        {TestDataPath("pict/rgb32_magick.pict")},
        {TestDataPath("pcx/rgb24_pillow.pcx"), 1024, ERR_OUT_OF_MEMORY},
    };
    std::vector<CMemBitmap> expected(jobs.size());
    for (size_t i = 0; i < jobs.size(); ++i)
        if (jobs[i].expectedCode == 0) CAutoDecoder().DecodeFile(jobs[i].file, expected[i], 32);

    TempDir dir;
    constexpr int kRounds = 4;
    std::vector<std::string> failures(jobs.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < jobs.size(); ++i) {
        threads.emplace_back([&, i] {
            CDecodeContext context;
            context.storageLimit = jobs[i].storageLimit;
            context.traceLevel = 3;
            context.traceFileName = dir.File("trace" + std::to_string(i) + ".log");
            CAutoDecoder decoder;
            for (int round = 0; round < kRounds; ++round) {
                CMemBitmap bitmap;
                int code = 0;
                try {
                    decoder.DecodeFile(jobs[i].file, bitmap, context, 32);
                } catch (const CTextException& e) {
                    code = e.Code();
                }
                std::string why;
                if (code != jobs[i].expectedCode)
                    failures[i] = "code " + std::to_string(code);
                else if (code == 0 && !SamePixels(bitmap, expected[i], &why))
                    failures[i] = why;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (size_t i = 0; i < jobs.size(); ++i) {
        EXPECT_EQ(failures[i], "") << jobs[i].file;
        const std::string trace = ReadText(dir.File("trace" + std::to_string(i) + ".log"));
        const std::string name = std::filesystem::path(jobs[i].file).filename().string();
        size_t decodes = 0;
        for (size_t at = trace.find("--- Decoding file "); at != std::string::npos;
             at = trace.find("--- Decoding file ", at + 1)) {
            EXPECT_NE(trace.find(name, at), std::string::npos);
            ++decodes;
        }
        EXPECT_EQ(decodes, size_t{kRounds}) << "trace of " << name << ":\n" << trace;
    }
}

// Two threads finish pictures tagged with the same new profile at once: both may find the
// transform missing and make it, then both convert with the one the cache keeps, each picture
// split among helper threads, and turn their pictures upright. Every result equals the
// picture finished alone afterwards. Run by make tsan-test.
TEST(ConcurrentDecodeTest, TwoThreadsConvertWithOneCachedTransformAndTurn) {
    CMemBitmap stored;
    stored.Create(701, 503, 32, false);
    FillGradient(stored);
    stored.Metadata().iccProfile = WideGamutProfile();
    stored.Metadata().orientation = 6;
    // A bitmap is one thread's at a time (locking it counts), so each gets its own copies.
    constexpr int kRounds = 3;
    std::vector<CMemBitmap> results(2 * kRounds);
    for (CMemBitmap& result : results) result.CopyFrom(stored, 0);
    auto finish = [](CMemBitmap& bitmap) {
        ConvertColours(bitmap);
        ApplyOrientation(bitmap);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) finish(results[static_cast<size_t>(t * kRounds + round)]);
        });
    for (std::thread& thread : threads) thread.join();
    CMemBitmap alone;
    alone.CopyFrom(stored, 0);
    finish(alone);
    ASSERT_EQ(alone.Size(), std::make_pair(503, 701));
    EXPECT_TRUE(alone.Metadata().iccProfile.empty()) << "converted to sRGB";
    std::string why;
    for (const CMemBitmap& result : results) EXPECT_TRUE(SamePixels(result, alone, &why)) << why;
}
