// Every decoder writes into the window-system bitmaps exactly what it writes into plain
// memory: each fixture and corpus file decoded into a CMemBitmap and a CDIBSectionBitmap.
#include "codecs/auto_decoder.h"
#include "codecs/bmp_decoder.h"
#include "codecs/metafile/dib.h"
#include "imagelib/byte_order.h"
#include "imagelib/dib_format.h"
#include "imagelib/dib_section_bitmap.h"
#include "imagelib/image_encoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "support/corpus.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

namespace {

struct Outcome {
    bool decoded = false;
    int code = 0;
};

Outcome Decode(CAutoDecoder& decoder, const std::string& file, CImageBitmap& bitmap, int depth) {
    try {
        decoder.DecodeFile(file, bitmap, depth);
        return {true, 0};
    } catch (const CTextException& e) {
        return {false, e.Code()};
    }
}

// Row by row: a 32-bit or 8-bit decode is the same when its rows and palette are.
bool SameRows(const CImageBitmap& a, const CImageBitmap& b) {
    if (a.Size() != b.Size() || a.BitsPerPixel() != b.BitsPerPixel()) return false;
    const size_t rowBytes = UnpaddedLineBytes(a.Width(), a.BitsPerPixel());
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.Line(y), b.Line(y), rowBytes) != 0) return false;
    const size_t paletteBytes = 4 * static_cast<size_t>(PaletteEntries(a.BitsPerPixel()));
    return paletteBytes == 0 || std::memcmp(a.Palette(), b.Palette(), paletteBytes) == 0;
}

// Pictures past 256 MiB are refused alike by both kinds; decoding them twice would only
// cost time and memory.
class SmallStorageLimit {
public:
    SmallStorageLimit() { SetBitmapStorageLimit(256 << 20); }
    ~SmallStorageLimit() { SetBitmapStorageLimit(kDefaultBitmapStorageLimit); }
};

void ExpectSameDecodes(const std::string& file) {
    const SmallStorageLimit limit;
    CAutoDecoder decoder;
    for (int depth : {32, 0}) {
        SCOPED_TRACE(file + " at depth " + std::to_string(depth));
        CMemBitmap plain;
        CDIBSectionBitmap section;
        const Outcome a = Decode(decoder, file, plain, depth);
        const Outcome b = Decode(decoder, file, section, depth);
        ASSERT_EQ(a.decoded, b.decoded);
        if (!a.decoded) {
            EXPECT_EQ(a.code, b.code);
            continue;
        }
        EXPECT_EQ(plain.HasAlpha(), section.HasAlpha());
        EXPECT_TRUE(SameRows(plain, section));
    }
}

class DibDecode : public ::testing::TestWithParam<std::string> {};

TEST_P(DibDecode, CorpusFilesDecodeAlikeIntoBothKinds) {
    if (!CorpusAvailable()) GTEST_SKIP() << "the shared corpus is not present";
    const auto entries = CorpusEntries(GetParam());
    if (entries.empty()) GTEST_SKIP() << "no corpus files of this format";
    for (const CorpusEntry& e : entries) ExpectSameDecodes(e.file);
}

INSTANTIATE_TEST_SUITE_P(Formats, DibDecode,
                         ::testing::Values("bmp", "jpeg", "png", "gif", "tiff", "eps", "pcx", "tga", "pgm", "pict",
                                           "wmf", "emf"));

TEST(DibDecodeFixtures, FixturesDecodeAlikeIntoBothKinds) {
    const std::filesystem::path folder = TestDataPath("");
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        ExpectSameDecodes(entry.path().string());
        ++files;
    }
    EXPECT_GT(files, 0);
}

TEST(DibDecodeFixtures, GeneratedPicturesDecodeAlikeAtEveryDepth) {
    TempDir dir;
    for (int depth : {1, 8, 32}) {
        CMemBitmap converted;
        CreatePattern(converted, 29, 11, depth);
        const std::string file = dir.File("depth" + std::to_string(depth) + ".bmp");
        CBMPEncoder().EncodeFile(file, converted);
        ExpectSameDecodes(file);
    }
}

// Every 16-bit word once, as a 256 x 256 bitmap with bit-field masks, gives the same colours
// in a BMP file and in a metafile's bitmap record.
TEST(DibDecodeFixtures, SixteenBitPixelsDecodeAlikeInFilesAndMetafiles) {
    std::vector<uint8_t> words(2 * 65536);
    for (uint32_t v = 0; v < 65536; ++v) WriteLE16(&words[2 * v], static_cast<uint16_t>(v));
    for (const std::array<uint32_t, 3>& masks : {std::array<uint32_t, 3>{0xF800, 0x07E0, 0x001F},
                                                 std::array<uint32_t, 3>{0x7C00, 0x03E0, 0x001F}}) {
        SCOPED_TRACE(masks[0]);
        std::vector<uint8_t> info(kDibInfoHeaderSize + 12);
        WriteDibInfoHeader(info.data(), 256, -256, 16);
        WriteLE32(&info[16], kDibBitFields);
        for (size_t i = 0; i < 3; ++i) WriteLE32(&info[kDibInfoHeaderSize + 4 * i], masks[i]);
        std::vector<uint8_t> file(kBmpFileHeaderSize);
        const size_t rowsOffset = kBmpFileHeaderSize + info.size();
        WriteBmpFileHeader(file.data(), rowsOffset + words.size(), rowsOffset);
        file.insert(file.end(), info.begin(), info.end());
        file.insert(file.end(), words.begin(), words.end());

        CMemBitmap bitmap;
        CBMPDecoder().DecodeMemory(file.data(), file.size(), bitmap, 32);
        const metafile::DibImage dib = metafile::DecodeDib(metafile::CRecordReader(info), metafile::CRecordReader(words),
                                                           metafile::DibColourSource{});
        ASSERT_EQ(dib.image.size(), QSize(256, 256));
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) {
                const BGRA p = bitmap.PixelLine(y)[x];
                ASSERT_EQ(dib.image.pixel(x, y), qRgba(p.r, p.g, p.b, p.a)) << "word " << y * 256 + x;
            }
    }
}

}  // namespace
