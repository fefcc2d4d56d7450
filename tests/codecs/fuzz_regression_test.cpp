#include "codecs/auto_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <filesystem>

// Inputs that once broke a decoder, kept under tests/data/fuzz-regressions/<format>/ and
// named after what they broke. Each must now decode or fail with a CTextException; the
// sanitizer build in CI catches anything worse.
TEST(FuzzRegressionTest, EveryKeptInputDecodesOrFailsCleanly) {
    const std::filesystem::path root = TestDataPath("fuzz-regressions");
    if (!std::filesystem::exists(root)) GTEST_SKIP() << "no regression inputs kept";
    CAutoDecoder decoder;
    int replayed = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.path().filename() == "README.md") continue;
        SCOPED_TRACE(entry.path().string());
        for (int depth : {0, 8, 32}) {
            CMemBitmap bitmap;
            try {
                decoder.DecodeFile(entry.path().string(), bitmap, depth);
            } catch (const CTextException&) {
            }
        }
        ++replayed;
    }
    RecordProperty("replayed", replayed);
}
