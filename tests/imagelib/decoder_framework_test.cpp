#include "codecs/auto_decoder.h"
#include "codecs/format_registry.h"
#include "imagelib/image_decoder.h"
#include "imagelib/byte_source.h"
#include "imagelib/image_encoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "codecs/metafile_builder.h"
#include "support/test_files.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

ImageFormat Detect(std::vector<uint8_t> bytes) { return DetectFormat(bytes.data(), bytes.size()); }

std::vector<uint8_t> PictVersionAt522(size_t size) {
    std::vector<uint8_t> bytes(size, 0);
    bytes[522] = 0x00;
    bytes[523] = 0x11;
    bytes[524] = 0x02;
    bytes[525] = 0xFF;
    return bytes;
}

}  // namespace

TEST(FormatDetectionTest, SignaturesAreTestedInOrder) {
    EXPECT_EQ(Detect({'B', 'M'}), ImageFormat::BMP);
    std::vector<uint8_t> tga(18, 0);
    tga[2] = 2;
    tga[16] = 24;
    EXPECT_EQ(Detect(tga), ImageFormat::TGA);
    tga[1] = 0xD8;  // a JPEG's second byte can never pass the TGA test
    EXPECT_EQ(Detect(tga), ImageFormat::None);
    EXPECT_EQ(Detect({'G', 'I', 'F', '8', '9', 'a'}), ImageFormat::GIF);
    EXPECT_EQ(Detect({0x49, 0x49, 0x2A, 0x00}), ImageFormat::TIFF);
    EXPECT_EQ(Detect({0x4D, 0x4D, 0x00, 0x2A}), ImageFormat::TIFF);
    EXPECT_EQ(Detect({0xFF, 0xD8, 0xFF, 0xE0}), ImageFormat::JPEG);
    EXPECT_EQ(Detect({0xFF, 0xD8, 0x00, 0x01}), ImageFormat::JPEG);  // stray bytes before the next marker
    EXPECT_EQ(Detect({0xFF, 0xD8}), ImageFormat::None);
    EXPECT_EQ(Detect({0x89, 'P', 'N', 'G'}), ImageFormat::PNG);
    EXPECT_EQ(Detect({0x0A, 5, 1, 8}), ImageFormat::PCX);
    EXPECT_EQ(Detect({'P', '2'}), ImageFormat::PGM);
    EXPECT_EQ(Detect({'P', '5'}), ImageFormat::PGM);
    EXPECT_EQ(Detect({'P', '6'}), ImageFormat::None);
    EXPECT_EQ(Detect({}), ImageFormat::None);
}

TEST(FormatDetectionTest, PictNeedsMoreThan540Bytes) {
    EXPECT_EQ(Detect(PictVersionAt522(540)), ImageFormat::None);
    EXPECT_EQ(Detect(PictVersionAt522(541)), ImageFormat::PICT);
    auto version1 = PictVersionAt522(600);
    version1[524] = 0x01;
    version1[525] = 0x00;
    EXPECT_EQ(Detect(version1), ImageFormat::PICT);
}

TEST(FormatDetectionTest, EpsNeedsAPreviewOffsetAndLength) {
    std::vector<uint8_t> eps(32, 0);
    eps[0] = 0xC5;
    eps[1] = 0xD0;
    eps[2] = 0xD3;
    eps[3] = 0xC6;
    eps[20] = 30;
    EXPECT_EQ(Detect(eps), ImageFormat::None) << "preview length 0";
    eps[24] = 10;
    EXPECT_EQ(Detect(eps), ImageFormat::EPS);
}

TEST(FormatDetectionTest, ContentDecidesAndOnlyTheNamesOwnExtensionFindsSignaturelessMetafiles) {
    std::vector<uint8_t> emf(88, 0);
    emf[0] = 1;
    emf[40] = ' ', emf[41] = 'E', emf[42] = 'M', emf[43] = 'F';
    EXPECT_EQ(Detect(emf), ImageFormat::EMF);
    EXPECT_EQ(DetectFormat(emf.data(), emf.size(), "clip.wmf"), ImageFormat::EMF);
    const std::vector<uint8_t> placeable = {0xD7, 0xCD, 0xC6, 0x9A, 0, 0};
    EXPECT_EQ(Detect(placeable), ImageFormat::WMF);

    // A 16-bit metafile without placeable header: type, header size in words, version.
    const std::vector<uint8_t> plain = {1, 0, 9, 0, 0, 3, 0, 0, 0, 0};
    EXPECT_EQ(Detect(plain), ImageFormat::None);
    EXPECT_EQ(DetectFormat(plain.data(), plain.size(), "/pictures/clip.WMF"), ImageFormat::WMF);
    EXPECT_EQ(DetectFormat(plain.data(), plain.size(), "/pictures/clip.emf"), ImageFormat::WMF);
    EXPECT_EQ(DetectFormat(plain.data(), plain.size(), "/pictures/photos.wmf.d/clip"), ImageFormat::None);
    EXPECT_EQ(DetectFormat(plain.data(), plain.size(), "/pictures/clip.wmf.txt"), ImageFormat::None);
    EXPECT_EQ(DetectFormat(plain.data(), plain.size(), "Mem"), ImageFormat::None);

    const std::vector<uint8_t> bitmapBytes = {'B', 'M'};
    EXPECT_EQ(DetectFormat(bitmapBytes.data(), bitmapBytes.size(), "/pictures/photo.wmf"), ImageFormat::BMP);
}

TEST(DecoderFrameworkTest, FolderAndInnerNamesNeverMakeAPictureAMetafile) {
    TempDir dir;
    std::filesystem::create_directory(dir.Path() / "photos.wmf.d");
    const std::vector<uint8_t> jpeg = ReadBytes(TestDataPath("jpeg/rgb_q90_cjpeg.jpeg"));
    const std::vector<uint8_t> wmf = ReadBytes(TestDataPath("metafile/shapes.wmf"));
    WriteBytes(dir.File("photos.wmf.d/photo.jpg"), jpeg);
    WriteBytes(dir.File("photo.wmf.jpg"), jpeg);
    WriteBytes(dir.File("drawing.EMF"), wmf);
    CAutoDecoder decoder;
    CMemBitmap bitmap;
    for (const char* name : {"photos.wmf.d/photo.jpg", "photo.wmf.jpg"}) {
        EXPECT_NO_THROW(decoder.DecodeFile(dir.File(name), bitmap, 32)) << name;
        EXPECT_EQ(decoder.LastFormat(), ImageFormat::JPEG) << name;
        EXPECT_GT(bitmap.Width(), 16) << name;
    }
    CMemBitmap asWmf;
    decoder.DecodeFile(TestDataPath("metafile/shapes.wmf"), asWmf, 32);
    decoder.DecodeFile(dir.File("drawing.EMF"), bitmap, 32);
    EXPECT_EQ(decoder.LastFormat(), ImageFormat::WMF);
    EXPECT_TRUE(SamePixels(bitmap, asWmf));
}

TEST(DecoderFrameworkTest, FailuresCarryCodesAndMessages) {
    TempDir dir;
    CAutoDecoder decoder;
    CMemBitmap bitmap;
    const std::string missing = dir.File("missing.png");
    try {
        decoder.DecodeFile(missing, bitmap, 32);
        FAIL();
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_CANNOT_OPEN);
        EXPECT_EQ(e.Text(), "Decoder error: Opening " + missing + " failed\n");
    }
    WriteBytes(dir.File("junk.jpg"), std::vector<uint8_t>(600, 'x'));
    try {
        decoder.DecodeFile(dir.File("junk.jpg"), bitmap, 32);
        FAIL();
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_UNKNOWN_TYPE);
        EXPECT_EQ(e.Text(), "Decoder error: Unknown file type.\n");
    }
}

TEST(DecoderFrameworkTest, EpsPreviewsOutsideTheFileFailCleanly) {
    std::vector<uint8_t> eps(64, 0);
    eps[0] = 0xC5;
    eps[1] = 0xD0;
    eps[2] = 0xD3;
    eps[3] = 0xC6;
    eps[20] = 40;
    eps[24] = 200;  // 40 + 200 is beyond the 64 bytes
    CAutoDecoder decoder;
    CMemBitmap bitmap;
    try {
        decoder.DecodeMemory(eps.data(), eps.size(), bitmap, 32);
        FAIL();
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_BAD_DATA);
    }
    eps[20] = 0xFF;
    eps[21] = 0xFF;
    eps[22] = 0xFF;
    eps[23] = 0xFF;
    EXPECT_THROW(decoder.DecodeMemory(eps.data(), eps.size(), bitmap, 32), CTextException);
}

TEST(DecoderFrameworkTest, ResolveDepthLetsTheFileChooseOnlyWhenAskedTo) {
    for (auto [fileDepth, wanted, expected] : {std::tuple{1, 0, 8}, {8, 0, 8}, {24, 0, 32}, {24, 8, 8}, {8, 32, 32}}) {
        int depth = wanted;
        ResolveDepth(fileDepth, depth);
        EXPECT_EQ(depth, expected) << fileDepth << " " << wanted;
    }
}

TEST(DecoderFrameworkTest, RowExpansionTakesIndicesFromTheHighBitsFirst) {
    std::vector<BGRA> table(256);
    for (int i = 0; i < 256; ++i) table[static_cast<size_t>(i)] = BGRA{static_cast<uint8_t>(i), 0, 0, 255};
    std::vector<BGRA> out(10);
    const uint8_t ones[] = {0b10110000, 0b01000000};
    ExpandRow1(out.data(), ones, 10, table.data());
    const int expected1[] = {1, 0, 1, 1, 0, 0, 0, 0, 0, 1};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[static_cast<size_t>(i)].b, expected1[i]) << i;

    const uint8_t twos[] = {0b11100100, 0b10000000};
    ExpandRow2(out.data(), twos, 5, table.data());
    EXPECT_EQ(out[0].b, 3);
    EXPECT_EQ(out[3].b, 0);
    EXPECT_EQ(out[4].b, 2);

    const uint8_t fours[] = {0xAB, 0xC0};
    ExpandRow4(out.data(), fours, 3, table.data());
    EXPECT_EQ(out[0].b, 0xA);
    EXPECT_EQ(out[2].b, 0xC);
}

TEST(TraceTest, NothingIsWrittenUntilAFileAndLevelAreSet) {
    TempDir dir;
    const std::string log = dir.File("trace.log");
    EXPECT_THROW(RaiseError(ERR_BAD_DATA, "quiet"), CTextException);
    EXPECT_FALSE(std::filesystem::exists(log));

    SetTraceFileName(log);
    SetTraceLevel(1);
    Trace(2, "too detailed\n");
    Trace(1, "first\n");
    try {
        RaiseError(ERR_CANNOT_HANDLE, "second");
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_CANNOT_HANDLE);
        EXPECT_EQ(e.Text(), "Decoder error: second\n");
    }
    SetTraceLevel(0);
    SetTraceFileName("");
    std::ifstream in(log);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), "first\nDecoder error: second\n");
}

// A file shortened between opening and decoding (here as soon as the decode first reports
// progress) ends the decode with end of data, never a signal.
TEST(DecoderFrameworkTest, AFileShortenedAfterOpeningFailsWithEndOfData) {
    TempDir dir;
    const std::string path = dir.File("picture.bmp");
    CMemBitmap picture;
    CreatePattern(picture, 1024, 1024, 32);
    CBMPEncoder().EncodeFile(path, picture);
    class Shortener : public CProgressListener {
    public:
        explicit Shortener(std::string path) : path_(std::move(path)) {}
        void Progress(double) override {
            if (!done_) std::filesystem::resize_file(path_, 4096);
            done_ = true;
        }

    private:
        std::string path_;
        bool done_ = false;
    } shortener(path);
    CAutoDecoder decoder;
    CMemBitmap bitmap;
    try {
        decoder.DecodeFile(path, bitmap, 32, &shortener);
        FAIL() << "decoded a file that shrank";
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_END_OF_DATA) << e.Text();
    }
}

// A file another program keeps shortening and rewriting while it is decoded: every decode
// ends with the picture or a clean error, never a signal.
TEST(DecoderFrameworkTest, FilesShrinkingDuringDecodesFailCleanly) {
    TempDir dir;
    const std::string path = dir.File("picture.bmp");
    CMemBitmap picture;
    CreatePattern(picture, 1024, 1024, 32);
    CBMPEncoder().EncodeFile(path, picture);
    const std::vector<uint8_t> bytes = ReadBytes(path);

    std::atomic<bool> done{false};
    std::thread shrinker([&] {
        for (size_t cut = bytes.size() / 2; !done.load(); cut = cut * 7 % bytes.size()) {
            std::filesystem::resize_file(path, cut);
            WriteBytes(path, bytes);
        }
    });
    CAutoDecoder decoder;
    int decoded = 0;
    for (int i = 0; i < 40; ++i) {
        CMemBitmap bitmap;
        try {
            decoder.DecodeFile(path, bitmap, 32);
            ++decoded;
        } catch (const CTextException& e) {
            EXPECT_NE(e.Code(), 0);
        }
    }
    done = true;
    shrinker.join();
    SUCCEED() << decoded << " of 40 decodes saw the whole file";
}

// The library never makes an application object: text in a metafile decoded by a program
// without one fails with a clear error instead of starting one behind the program's back.
TEST(DecoderFrameworkTest, MetafileTextWithoutTheHostsFontsFailsClearly) {
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    // Record types of an enhanced metafile.
    constexpr int kEmrSelectObject = 37, kEmrExtCreateFontIndirectW = 82, kEmrExtTextOutW = 84;
    Bytes font;
    Put32(font, 1);
    for (int v : {-30, 0, 0, 0, 400}) Put32(font, v);
    font.resize(4 + 92, 0);
    const std::u16string word = u"Hi";
    Bytes text;
    for (int v : {0, 0, -1, -1, 1}) Put32(text, v);  // bounds, graphics mode
    Put32(text, 0x3F800000);
    Put32(text, 0x3F800000);  // scales
    for (int v : {10, 10, static_cast<int>(word.size()), 76, 0, 0, 0, 0, 0, 0}) Put32(text, v);
    const Bytes chars = Utf16(word);
    text.insert(text.end(), chars.begin(), chars.end());
    CEmfBuilder emf(QRect(QPoint(0, 0), QPoint(2540, 1270)));
    emf.Record(kEmrExtCreateFontIndirectW, font).Record(kEmrSelectObject, {1}).Record(kEmrExtTextOutW, text);
    const Bytes bytes = emf.Build();

    CAutoDecoder decoder;
    CMemBitmap bitmap;
    try {
        decoder.DecodeMemory(bytes.data(), bytes.size(), bitmap, 32);
        FAIL() << "decoded without fonts";
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_FEATURE_UNAVAILABLE);
        EXPECT_NE(e.Text().find("no font support"), std::string::npos) << e.Text();
    }
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_NO_THROW(decoder.DecodeFile(TestDataPath("metafile/shapes.emf"), bitmap, 32)) << "no text, no fonts needed";
}

// Contexts start from the process defaults at the time they are made, so a viewer's switch
// reaches every later decode and none already running.
TEST(DecodeContextTest, ColourDefaultsReachContextsMadeAfterThem) {
    const CDecodeContext before;
    SetDefaultColourManagement(false);
    const CDecodeContext off;
    SetDefaultColourManagement(true, {1, 2, 3});
    const CDecodeContext monitor;
    SetDefaultColourManagement(true);
    EXPECT_TRUE(before.colourManagement);
    EXPECT_FALSE(off.colourManagement);
    EXPECT_TRUE(monitor.colourManagement);
    EXPECT_EQ(monitor.targetProfile, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(CDecodeContext().targetProfile.empty());
}
