#include "codecs/auto_decoder.h"
#include "imagelib/decode_context.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "support/corpus.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

namespace {

// A probe describes the picture a decode at depth 0 makes, without decoding it: the same
// size, frames, orientation and profile. Its alpha says the file stores alpha, so a picture
// with alpha always had it probed, while a probed file may turn out opaque.
std::string Disagreement(const ImageInfo& probe, const CImageBitmap& decoded) {
    const ImageMetadata& m = decoded.Metadata();
    std::string why;
    if (probe.width != decoded.Width() || probe.height != decoded.Height())
        why += " size " + std::to_string(probe.width) + " x " + std::to_string(probe.height) + ", decoded " +
               std::to_string(decoded.Width()) + " x " + std::to_string(decoded.Height()) + ";";
    if (decoded.HasAlpha() && !probe.hasAlpha) why += " the decode has alpha, the probe none;";
    if (probe.frameCount != m.frameCount)
        why += " frames " + std::to_string(probe.frameCount) + ", decoded " + std::to_string(m.frameCount) + ";";
    if (probe.orientation != m.orientation)
        why += " orientation " + std::to_string(probe.orientation) + ", decoded " + std::to_string(m.orientation) + ";";
    if (probe.hasColourProfile == m.iccProfile.empty()) why += " colour profile;";
    return why;
}

// Probes and decodes a file: empty when they agree or the decode fails (the probe, which
// reads less, may then succeed), else what differs. The probe tells what the file stores, so
// the decode keeps the stored orientation and colours.
std::string CheckFile(const std::string& path) {
    CAutoDecoder decoder;
    CMemBitmap bitmap;
    CDecodeContext asStored;
    asStored.applyOrientation = false;
    asStored.colourManagement = false;
    try {
        decoder.DecodeFile(path, bitmap, asStored, 0);
    } catch (const CTextException&) {
        return {};
    }
    try {
        return Disagreement(decoder.ProbeFile(path), bitmap);
    } catch (const CTextException& e) {
        return " the probe fails with code " + std::to_string(e.Code()) + ": " + e.Text();
    }
}

}  // namespace

TEST(ProbeTest, AgreesWithTheDecodeOnEveryFixture) {
    int decoded = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(TestDataPath(""))) {
        if (!entry.is_regular_file()) continue;
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        const std::string why = CheckFile(path);
        EXPECT_EQ(why, "");
        ++decoded;
    }
    EXPECT_GT(decoded, 50);
}

TEST(ProbeTest, AgreesWithTheDecodeOnTheCorpus) {
    if (!CorpusAvailable()) GTEST_SKIP() << "the shared corpus is not present";
    for (const char* format : {"bmp", "emf", "eps", "gif", "jpeg", "pcx", "pgm", "pict", "png", "tga", "tiff", "wmf"})
        for (const CorpusEntry& e : CorpusEntries(format)) {
            SCOPED_TRACE(e.relPath);
            EXPECT_EQ(CheckFile(e.file), "");
        }
}
