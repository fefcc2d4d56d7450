#include "codecs/jpeg_decoder.h"
#include "codecs/jpeg_memory_source.h"
#include "decode_test_helpers.h"

#include "imagelib/byte_source.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "support/test_files.h"

#include <gtest/gtest.h>
#include <jerror.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <stdexcept>
#include <string_view>
#include <tuple>
#include <unistd.h>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

using PixelFunction = std::function<void(int x, int y, uint8_t* components)>;

// Encodes a picture with libjpeg itself, so that every colour space and damage can be
// made to measure. setup may change the compressor's parameters after the defaults.
std::vector<uint8_t> EncodeJpeg(int width, int height, int components, J_COLOR_SPACE space, const PixelFunction& pixel,
                                const std::function<void(jpeg_compress_struct&)>& setup = {}) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    if (setup) setup(cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(width * components));
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < width; ++x) pixel(x, static_cast<int>(cinfo.next_scanline), &row[static_cast<size_t>(x * components)]);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return bytes;
}

// Four flat quadrants: red, green, blue and white.
void Quadrants(int x, int y, uint8_t* rgb) {
    static const uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    const uint8_t* c = colours[(y >= 16 ? 2 : 0) + (x >= 16 ? 1 : 0)];
    rgb[0] = c[0], rgb[1] = c[1], rgb[2] = c[2];
}

void GreyRamp(int x, int y, uint8_t* grey) { *grey = static_cast<uint8_t>((x + y) * 4); }

std::vector<uint8_t> ColourJpeg() { return EncodeJpeg(32, 32, 3, JCS_RGB, Quadrants); }

bool Near(const BGRA& p, int r, int g, int b) {
    return std::abs(p.r - r) <= 8 && std::abs(p.g - g) <= 8 && std::abs(p.b - b) <= 8 && p.a == 255;
}

// A JPEG file with segments (marker, payload) inserted right after its start-of-image marker.
Bytes WithSegments(const Bytes& jpeg, const std::vector<std::pair<int, Bytes>>& segments) {
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    for (const auto& [marker, payload] : segments) {
        Append(out, {0xFF, marker});
        AppendBE16(out, static_cast<int>(payload.size()) + 2);
        out.insert(out.end(), payload.begin(), payload.end());
    }
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

// An Exif APP1 payload whose IFD0 holds a resolution entry and then the orientation.
Bytes ExifPayload(int orientation, bool littleEndian) {
    auto put16 = [&](Bytes& out, int v) { littleEndian ? AppendLE16(out, v) : AppendBE16(out, v); };
    auto put32 = [&](Bytes& out, uint32_t v) {
        put16(out, static_cast<int>(littleEndian ? v & 0xFFFF : v >> 16));
        put16(out, static_cast<int>(littleEndian ? v >> 16 : v & 0xFFFF));
    };
    Bytes out = Text(std::string_view("Exif\0\0", 6));
    Append(out, littleEndian ? std::initializer_list<int>{'I', 'I'} : std::initializer_list<int>{'M', 'M'});
    put16(out, 42);
    put32(out, 8);
    put16(out, 2);
    put16(out, 0x011A), put16(out, 5), put32(out, 1), put32(out, 38);  // XResolution, a rational after the IFD
    put16(out, 0x0112), put16(out, 3), put32(out, 1), put16(out, orientation), put16(out, 0);
    put32(out, 0);
    put32(out, 72), put32(out, 1);
    return out;
}

// One APP2 chunk of an ICC profile: number from 1 of count, then its share of the profile.
Bytes IccChunk(int number, int count, const Bytes& data) {
    Bytes out = Text(std::string_view("ICC_PROFILE\0", 12));
    Append(out, {number, count});
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

constexpr int kApp1 = JPEG_APP0 + 1;
constexpr int kApp2 = JPEG_APP0 + 2;

// Decodes bytes from memory under context at depth; returns the error code or 0.
int DecodeUnder(CImageDecoder& decoder, const Bytes& bytes, const CDecodeContext& context, CImageBitmap& bitmap,
                int depth = 32) {
    try {
        decoder.DecodeMemory(bytes.data(), bytes.size(), bitmap, context, depth);
    } catch (const CTextException& e) {
        return e.Code();
    }
    return 0;
}

CDecodeContext Wish(int minWidth, int minHeight) {
    CDecodeContext context;
    context.minWidth = minWidth;
    context.minHeight = minHeight;
    return context;
}

// Collects the trace log of a scope in a temporary file.
class TraceCapture {
public:
    explicit TraceCapture(int level) {
        SetTraceFileName(dir_.File("trace.log"));
        SetTraceLevel(level);
    }
    ~TraceCapture() {
        SetTraceLevel(0);
        SetTraceFileName("");
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::string Text() const {
        std::ifstream in(dir_.File("trace.log"));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    TempDir dir_;
};

}  // namespace

TEST(JpegDecoderTest, GreyscaleKeepsEightBitsUnlessThirtyTwoAreAsked) {
    const auto bytes = EncodeJpeg(24, 16, 1, JCS_GRAYSCALE, GreyRamp);
    CJPEGDecoder decoder;
    CMemBitmap grey;
    int depth = 0;
    DecodeBytes(decoder, bytes, grey, depth);
    EXPECT_EQ(depth, 8);
    ASSERT_EQ(grey.BitsPerPixel(), 8);
    EXPECT_EQ(grey.Palette()[200], (BGRA{200, 200, 200, 255}));

    CMemBitmap colour;
    depth = 32;
    DecodeBytes(decoder, bytes, colour, depth);
    ASSERT_EQ(colour.BitsPerPixel(), 32);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) {
            const uint8_t g = grey.Line(y)[x];
            ASSERT_EQ(colour.PixelLine(y)[x], (BGRA{g, g, g, 255})) << x << ", " << y;
            ASSERT_NEAR(g, (x + y) * 4, 3);
        }
}

TEST(JpegDecoderTest, ColourImagesAlwaysComeBackAsThirtyTwoBitsWithOpaqueAlpha) {
    const auto bytes = ColourJpeg();
    CJPEGDecoder decoder;
    for (int asked : {0, 8, 32}) {
        CMemBitmap bitmap;
        int depth = asked;
        DecodeBytes(decoder, bytes, bitmap, depth);
        EXPECT_EQ(depth, 32);
        ASSERT_EQ(bitmap.BitsPerPixel(), 32);
        EXPECT_FALSE(bitmap.HasAlpha());
        EXPECT_TRUE(Near(bitmap.PixelLine(4)[4], 255, 0, 0));
        EXPECT_TRUE(Near(bitmap.PixelLine(4)[28], 0, 255, 0));
        EXPECT_TRUE(Near(bitmap.PixelLine(28)[4], 0, 0, 255));
        EXPECT_TRUE(Near(bitmap.PixelLine(28)[28], 255, 255, 255));
    }
}

// The same colours stored as inks: plainly (0 = no ink), inverted with Adobe's marker as
// Adobe's applications write them, and as YCCK, which also carries Adobe's marker.
TEST(JpegDecoderTest, FourComponentFilesBecomeTheirRgbColours) {
    auto inks = [](bool inverted) {
        return [inverted](int x, int y, uint8_t* cmyk) {
            uint8_t rgb[3];
            Quadrants(x, y, rgb);
            for (int i = 0; i < 3; ++i) cmyk[i] = static_cast<uint8_t>(255 - rgb[i]);
            cmyk[3] = 0;
            if (inverted)
                for (int i = 0; i < 4; ++i) cmyk[i] = static_cast<uint8_t>(255 - cmyk[i]);
        };
    };
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> files = {
        {"plain CMYK", EncodeJpeg(32, 32, 4, JCS_CMYK, inks(false),
                                  [](jpeg_compress_struct& c) { c.write_Adobe_marker = FALSE; })},
        {"Adobe CMYK", EncodeJpeg(32, 32, 4, JCS_CMYK, inks(true))},
        {"Adobe YCCK", EncodeJpeg(32, 32, 4, JCS_CMYK, inks(true),
                                  [](jpeg_compress_struct& c) { jpeg_set_colorspace(&c, JCS_YCCK); })},
    };
    CJPEGDecoder decoder;
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        CMemBitmap bitmap;
        int depth = 0;
        DecodeBytes(decoder, bytes, bitmap, depth);
        ASSERT_EQ(bitmap.BitsPerPixel(), 32);
        EXPECT_TRUE(Near(bitmap.PixelLine(4)[4], 255, 0, 0));
        EXPECT_TRUE(Near(bitmap.PixelLine(4)[28], 0, 255, 0));
        EXPECT_TRUE(Near(bitmap.PixelLine(28)[4], 0, 0, 255));
        EXPECT_TRUE(Near(bitmap.PixelLine(28)[28], 255, 255, 255));
    }
}

TEST(JpegDecoderTest, TruncatedStreamDecodesTheRowsItHoldsAndWarnsInTheTrace) {
    const auto whole = EncodeJpeg(64, 64, 3, JCS_RGB, [](int x, int y, uint8_t* rgb) {
        rgb[0] = static_cast<uint8_t>(x * 4), rgb[1] = static_cast<uint8_t>(y * 4), rgb[2] = 128;
    });
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(whole.size() * 6 / 10));
    TempDir dir;
    SetTraceFileName(dir.File("trace.log"));
    SetTraceLevel(2);
    CJPEGDecoder decoder;
    CMemBitmap full, partial;
    int depth = 32;
    DecodeBytes(decoder, whole, full, depth);
    DecodeBytes(decoder, cut, partial, depth);
    SetTraceLevel(0);
    SetTraceFileName("");
    for (int x = 0; x < 64; ++x) EXPECT_EQ(partial.PixelLine(8)[x], full.PixelLine(8)[x]);
    const auto log = ReadBytes(dir.File("trace.log"));
    EXPECT_NE(std::string(log.begin(), log.end()).find("Premature end of JPEG file"), std::string::npos);
}

TEST(JpegDecoderTest, DamagedFilesFailWithLibjpegsMessageAndTheDecoderStaysUsable) {
    CJPEGDecoder decoder;
    std::string text;
    EXPECT_EQ(DecodeError(decoder, {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'}, &text), ERR_FEATURE_UNAVAILABLE);
    EXPECT_EQ(text, "Decoder error: Not a JPEG file: starts with 0x6e 0x6f\n\n");

    auto bytes = ColourJpeg();
    for (size_t i = 2; i + 4 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {  // the frame header: claim 12-bit samples
            bytes[i + 4] = 12;
            break;
        }
    EXPECT_EQ(DecodeError(decoder, bytes, &text), ERR_FEATURE_UNAVAILABLE);
    EXPECT_EQ(text, "Decoder error: Unsupported JPEG data precision 12\n\n");
    EXPECT_EQ(DecodeError(decoder, ColourJpeg()), 0);
}

// A crafted progressive stream repeats one refinement scan over and over.
TEST(JpegDecoderTest, EndlessProgressiveScansAreRefused) {
    auto bytes = EncodeJpeg(16, 16, 1, JCS_GRAYSCALE, GreyRamp, [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); });
    size_t lastScan = 0;
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) lastScan = i;
    const std::vector<uint8_t> scan(bytes.begin() + static_cast<long>(lastScan), bytes.end() - 2);
    std::vector<uint8_t> crafted(bytes.begin(), bytes.end() - 2);
    for (int i = 0; i < 1200; ++i) crafted.insert(crafted.end(), scan.begin(), scan.end());
    crafted.insert(crafted.end(), {0xFF, 0xD9});
    CJPEGDecoder decoder;
    std::string text;
    EXPECT_EQ(DecodeError(decoder, crafted, &text), ERR_FEATURE_UNAVAILABLE);
    EXPECT_NE(text.find("more than 1000 scans"), std::string::npos) << text;
}

// The frame header of a small file patched to claim 30000 x 30000 pixels: its data cannot
// hold a bit for each block, so it is refused before 900 megapixels are allocated and filled.
TEST(JpegDecoderTest, HeaderClaimingFarMoreBlocksThanTheDataHoldsIsRefused) {
    auto bytes = ColourJpeg();
    for (size_t i = 2; i + 8 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {  // precision, then height and width
            bytes[i + 5] = bytes[i + 7] = 30000 >> 8;
            bytes[i + 6] = bytes[i + 8] = 30000 & 0xFF;
            break;
        }
    CJPEGDecoder decoder;
    EXPECT_EQ(DecodeError(decoder, bytes, nullptr, 0), ERR_END_OF_DATA);
}

TEST(JpegDecoderTest, ImagesOverTheStorageLimitAreRefusedBeforeDecoding) {
    SetBitmapStorageLimit(32 * 32 * 4 - 1);
    CJPEGDecoder decoder;
    const int code = DecodeError(decoder, ColourJpeg());
    SetBitmapStorageLimit(kDefaultBitmapStorageLimit);
    EXPECT_EQ(code, ERR_OUT_OF_MEMORY);
}

// The way a container hands over embedded JPEG data: a source positioned at the stream.
TEST(JpegDecoderTest, EmbeddedStreamIsDecodedAndConsumedFromTheSourcePosition) {
    const auto jpeg = ColourJpeg();
    std::vector<uint8_t> block(100, 0xAB);
    block.insert(block.end(), jpeg.begin(), jpeg.end());
    block.insert(block.end(), 50, 0xCD);
    CMemoryBlockSource source;
    source.Open(block.data(), block.size());
    source.Skip(100);
    CJPEGDecoder decoder;
    CMemBitmap bitmap;
    int depth = 32;
    decoder.DecodeSource(source, bitmap, depth);
    EXPECT_EQ(source.Position(), 100 + jpeg.size());
    EXPECT_TRUE(Near(bitmap.PixelLine(4)[4], 255, 0, 0));
}

TEST(JpegDecoderTest, FailureOfAProgressListenerPassesThroughLibjpegUnchanged) {
    struct Refusing : CProgressListener {
        // The source's own final report (1.0) comes while it closes; only the decode's may fail.
        void Progress(double fraction) override {
            if (fraction < 1.0) throw std::runtime_error("cancelled");
        }
    } listener;
    TempDir dir;
    WriteBytes(dir.File("a.jpg"), ColourJpeg());
    CJPEGDecoder decoder;
    CMemBitmap bitmap;
    EXPECT_THROW(decoder.DecodeFile(dir.File("a.jpg"), bitmap, 32, &listener), std::runtime_error);
    EXPECT_EQ(DecodeError(decoder, ColourJpeg()), 0);
}

// An XMP packet also travels in APP1 and comes first here; a second Exif segment is not read.
// The pixels stay as stored: the picture keeps its 32 x 16 size whatever the orientation.
TEST(JpegMetadataTest, OrientationComesFromTheFirstExifSegmentInEitherByteOrder) {
    const Bytes plain = EncodeJpeg(32, 16, 3, JCS_RGB, Quadrants);
    const Bytes xmp = Text(std::string_view("http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>", 41));
    CJPEGDecoder decoder;
    for (bool little : {false, true})
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(testing::Message() << (little ? "II " : "MM ") << orientation);
            const Bytes bytes = WithSegments(plain, {{kApp1, xmp},
                                                     {kApp1, ExifPayload(orientation, little)},
                                                     {kApp1, ExifPayload(orientation % 8 + 1, little)}});
            CMemBitmap bitmap;
            int depth = 0;
            DecodeBytes(decoder, bytes, bitmap, depth);
            EXPECT_EQ(bitmap.Metadata().orientation, orientation);
            EXPECT_EQ(bitmap.Size(), std::make_pair(32, 16));
            EXPECT_TRUE(Near(bitmap.PixelLine(4)[28], 0, 255, 0));
            EXPECT_EQ(decoder.ProbeMemory(bytes.data(), bytes.size()).orientation, orientation);
        }
}

TEST(JpegMetadataTest, IccProfileChunksStoredOutOfOrderComeBackWholeAndInOrder) {
    Bytes profile(300);
    for (size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<uint8_t>(i * 7 + i / 256);
    auto part = [&](int k) { return Bytes(profile.begin() + k * 100, profile.begin() + (k + 1) * 100); };
    const Bytes bytes = WithSegments(ColourJpeg(), {{kApp2, IccChunk(2, 3, part(1))},
                                                    {kApp1, ExifPayload(3, true)},
                                                    {kApp2, IccChunk(3, 3, part(2))},
                                                    {kApp2, IccChunk(1, 3, part(0))}});
    CJPEGDecoder decoder;
    CMemBitmap bitmap;
    int depth = 32;
    DecodeBytes(decoder, bytes, bitmap, depth);
    EXPECT_EQ(bitmap.Metadata().iccProfile, profile);
    EXPECT_EQ(bitmap.Metadata().orientation, 3);
    EXPECT_TRUE(decoder.ProbeMemory(bytes.data(), bytes.size()).hasColourProfile);
    // The next picture of the same decoder has none.
    DecodeBytes(decoder, ColourJpeg(), bitmap, depth);
    EXPECT_TRUE(bitmap.Metadata().iccProfile.empty());
}

TEST(JpegMetadataTest, ChunkSetsThatDoNotAddUpAreIgnoredAndThePictureStillDecodes) {
    const Bytes data(40, 0x5A);
    const std::vector<std::pair<const char*, std::vector<Bytes>>> cases = {
        {"missing", {IccChunk(1, 3, data), IccChunk(3, 3, data)}},
        {"repeated", {IccChunk(1, 2, data), IccChunk(1, 2, data), IccChunk(2, 2, data)}},
        {"counts disagree", {IccChunk(1, 2, data), IccChunk(2, 3, data)}},
        {"number zero", {IccChunk(0, 1, data)}},
        {"number over count", {IccChunk(2, 1, data)}},
        {"no numbers", {Text(std::string_view("ICC_PROFILE\0", 12))}},
    };
    CJPEGDecoder decoder;
    for (const auto& [name, chunks] : cases) {
        SCOPED_TRACE(name);
        std::vector<std::pair<int, Bytes>> segments;
        for (const Bytes& chunk : chunks) segments.emplace_back(kApp2, chunk);
        const Bytes bytes = WithSegments(ColourJpeg(), segments);
        const TraceCapture trace(1);
        CMemBitmap bitmap;
        int depth = 32;
        DecodeBytes(decoder, bytes, bitmap, depth);
        EXPECT_TRUE(bitmap.Metadata().iccProfile.empty());
        EXPECT_TRUE(Near(bitmap.PixelLine(28)[4], 0, 0, 255));
        EXPECT_FALSE(decoder.ProbeMemory(bytes.data(), bytes.size()).hasColourProfile);
        EXPECT_NE(trace.Text().find("ICC profile ignored"), std::string::npos);
    }
}

// The probe stops at the first scan, so the same file cut right behind its scan header
// answers alike: nothing of the entropy-coded data is read.
TEST(JpegProbeTest, HeaderAgreesWithTheDecodeWithoutReadingThePixels) {
    const Bytes exifAndProfile = WithSegments(EncodeJpeg(40, 24, 3, JCS_RGB, Quadrants),
                                              {{kApp1, ExifPayload(6, false)}, {kApp2, IccChunk(1, 1, Bytes(64, 1))}});
    const std::vector<std::tuple<const char*, Bytes, int>> files = {
        {"grey", EncodeJpeg(24, 16, 1, JCS_GRAYSCALE, GreyRamp), 8},
        {"colour with Exif and profile", exifAndProfile, 24},
        {"progressive",
         EncodeJpeg(33, 17, 3, JCS_RGB, Quadrants, [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); }), 24},
        {"CMYK",
         EncodeJpeg(16, 8, 4, JCS_CMYK, [](int, int, uint8_t* ink) { ink[0] = ink[1] = ink[2] = ink[3] = 9; }), 32},
    };
    CJPEGDecoder decoder;
    for (const auto& [name, bytes, bits] : files) {
        SCOPED_TRACE(name);
        CMemBitmap bitmap;
        int depth = 0;
        DecodeBytes(decoder, bytes, bitmap, depth);
        const ImageInfo decoded = DescribeBitmap(bitmap);
        const ImageInfo probed = decoder.ProbeMemory(bytes.data(), bytes.size());
        EXPECT_EQ(probed.width, decoded.width);
        EXPECT_EQ(probed.height, decoded.height);
        EXPECT_EQ(probed.bitsPerPixel, bits);
        EXPECT_FALSE(probed.hasAlpha);
        EXPECT_EQ(probed.frameCount, 1);
        EXPECT_EQ(probed.orientation, decoded.orientation);
        EXPECT_EQ(probed.hasColourProfile, decoded.hasColourProfile);

        size_t scanData = 0;
        for (size_t i = 2; i + 3 < bytes.size() && scanData == 0; ++i)
            if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) scanData = i + 2 + (bytes[i + 2] << 8 | bytes[i + 3]);
        const Bytes header(bytes.begin(), bytes.begin() + static_cast<long>(scanData));
        const ImageInfo cut = decoder.ProbeMemory(header.data(), header.size());
        auto fields = [](const ImageInfo& i) {
            return std::tie(i.width, i.height, i.bitsPerPixel, i.orientation, i.hasColourProfile);
        };
        EXPECT_EQ(fields(cut), fields(probed));
    }
    // Without a frame header there is nothing to describe: the decode's error.
    const Bytes noFrame = {0xFF, 0xD8, 0xFF, 0xD9};
    try {
        decoder.ProbeMemory(noFrame.data(), noFrame.size());
        ADD_FAILURE() << "probed";
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_FEATURE_UNAVAILABLE);
        EXPECT_EQ(e.Text(), "Decoder error: JPEG datastream contains no image\n\n");
    }
}

// 203 x 150 scales to 102 x 75, 51 x 38 and 26 x 19 (libjpeg rounds up). The wish is a
// floor on both sides; a wish of one side only, or beyond the stored size, is no wish.
TEST(JpegScaledDecodeTest, SmallestReductionThatStillCoversTheWish) {
    struct Case {
        int minWidth, minHeight, width, height, denominator;
    };
    const Case cases[] = {
        {0, 0, 203, 150, 1},     {0, 50, 203, 150, 1},  {1, 1, 26, 19, 8},     {26, 19, 26, 19, 8},
        {27, 19, 51, 38, 4},     {26, 20, 51, 38, 4},   {100, 75, 102, 75, 2}, {102, 76, 203, 150, 1},
        {500, 500, 203, 150, 1},
    };
    auto smooth = [](int x, int y, uint8_t* c) {
        for (int i = 0; i < 3; ++i) c[i] = static_cast<uint8_t>((x * (i + 1) + y * (3 - i)) / 3);
    };
    const std::vector<std::pair<const char*, Bytes>> files = {
        {"baseline colour", EncodeJpeg(203, 150, 3, JCS_RGB, smooth)},
        {"progressive grey", EncodeJpeg(203, 150, 1, JCS_GRAYSCALE, GreyRamp,
                                        [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); })},
    };
    CJPEGDecoder decoder;
    for (const auto& [name, bytes] : files)
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << name << ", wish " << c.minWidth << " x " << c.minHeight);
            CMemBitmap bitmap;
            ASSERT_EQ(DecodeUnder(decoder, bytes, Wish(c.minWidth, c.minHeight), bitmap, 0), 0);
            EXPECT_EQ(bitmap.Size(), std::make_pair(c.width, c.height));
            EXPECT_EQ(bitmap.Metadata().scaleDenominator, c.denominator);
        }
}

// A picture stored on its side (orientation 6) is wished for as it will be shown: the wish's
// sides are the stored ones the other way round, unless the picture is kept as stored.
TEST(JpegScaledDecodeTest, TheWishIsForThePictureAsShown) {
    const Bytes stored = EncodeJpeg(800, 400, 3, JCS_RGB, Quadrants);
    const Bytes turned = WithSegments(stored, {{0xE1, ExifPayload(6, true)}});
    CJPEGDecoder decoder;
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeUnder(decoder, turned, Wish(100, 200), bitmap), 0);
    EXPECT_EQ(bitmap.Size(), std::make_pair(100, 200)) << "a quarter of the stored size, turned upright";
    EXPECT_EQ(bitmap.Metadata().scaleDenominator, 4);
    CDecodeContext asStored = Wish(100, 200);
    asStored.applyOrientation = false;
    ASSERT_EQ(DecodeUnder(decoder, turned, asStored, bitmap), 0);
    EXPECT_EQ(bitmap.Size(), std::make_pair(400, 200));
    EXPECT_EQ(bitmap.Metadata().scaleDenominator, 2);
}

// DCT scaling averages each block; the full picture resized to the same size is close, within
// the few levels by which JPEG's 4:2:0 chroma at quality 95 already differs.
TEST(JpegScaledDecodeTest, PixelsAreCloseToTheFullPictureResized) {
    const Bytes bytes = EncodeJpeg(256, 192, 3, JCS_RGB, [](int x, int y, uint8_t* c) {
        c[0] = static_cast<uint8_t>(x), c[1] = static_cast<uint8_t>(y + 32);
        c[2] = static_cast<uint8_t>(255 - (x + y) / 2);
    });
    CJPEGDecoder decoder;
    CMemBitmap full;
    ASSERT_EQ(DecodeUnder(decoder, bytes, CDecodeContext{}, full), 0);
    for (int denominator : {2, 4, 8}) {
        SCOPED_TRACE(denominator);
        const int width = 256 / denominator, height = 192 / denominator;
        CMemBitmap scaled, resized;
        ASSERT_EQ(DecodeUnder(decoder, bytes, Wish(width, height), scaled), 0);
        ASSERT_EQ(scaled.Size(), std::make_pair(width, height));
        resized.ResizeFrom(full, width, height);
        int worst = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const BGRA a = scaled.PixelLine(y)[x], b = resized.PixelLine(y)[x];
                worst = std::max({worst, std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
            }
        EXPECT_LE(worst, 6);
    }
}

// The bitmap answers to the limit at its scaled size. A progressive stream keeps every
// coefficient of the stored picture (2 bytes a sample: 512 KiB here), so its scaled decode
// is refused under a limit the 4 KiB bitmap would pass; a single-scan stream needs no such
// buffers. The short-data check looks at the stored size either way.
TEST(JpegScaledDecodeTest, LimitsStillHoldForTheScaledPicture) {
    const Bytes baseline = EncodeJpeg(512, 512, 1, JCS_GRAYSCALE, GreyRamp);
    const Bytes progressive =
        EncodeJpeg(512, 512, 1, JCS_GRAYSCALE, GreyRamp, [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); });
    CJPEGDecoder decoder;
    CMemBitmap bitmap;
    CDecodeContext eighth = Wish(64, 64);
    eighth.storageLimit = 64 << 10;
    CDecodeContext whole;
    whole.storageLimit = 64 << 10;
    EXPECT_EQ(DecodeUnder(decoder, baseline, eighth, bitmap, 8), 0);
    EXPECT_EQ(bitmap.Size(), std::make_pair(64, 64));
    EXPECT_EQ(DecodeUnder(decoder, baseline, whole, bitmap, 8), ERR_OUT_OF_MEMORY);
    EXPECT_EQ(DecodeUnder(decoder, progressive, eighth, bitmap, 8), ERR_OUT_OF_MEMORY);
    eighth.storageLimit = 1 << 20;
    EXPECT_EQ(DecodeUnder(decoder, progressive, eighth, bitmap, 8), 0);

    auto claimsHuge = ColourJpeg();
    for (size_t i = 2; i + 8 < claimsHuge.size(); ++i)
        if (claimsHuge[i] == 0xFF && claimsHuge[i + 1] == 0xC0) {
            claimsHuge[i + 5] = claimsHuge[i + 7] = 30000 >> 8;
            claimsHuge[i + 6] = claimsHuge[i + 8] = 30000 & 0xFF;
            break;
        }
    EXPECT_EQ(DecodeUnder(decoder, claimsHuge, Wish(100, 75), bitmap), ERR_END_OF_DATA);
}

// libjpeg's own malloc failing, in a child process whose address space leaves no room for
// the 8 MiB of coefficients of a 2048 x 2048 progressive picture (its bitmap at 1/8 is small).
TEST(JpegDecoderDeathTest, LibjpegsOwnAllocationFailureIsOutOfMemory) {
    if (kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer's allocator aborts under an address-space limit";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const Bytes bytes = EncodeJpeg(2048, 2048, 1, JCS_GRAYSCALE, [](int, int, uint8_t* g) { *g = 100; },
                                   [](jpeg_compress_struct& c) { jpeg_simple_progression(&c); });
    // The child leaves with the decode's error code and prints its text.
    auto decodeWithLittleRoom = [&bytes] {
        CJPEGDecoder decoder;
        CMemBitmap bitmap;
        const CDecodeContext context = Wish(256, 256);
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t room = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (2 << 20);
        const rlimit limit{room, room};
        setrlimit(RLIMIT_AS, &limit);
        try {
            decoder.DecodeMemory(bytes.data(), bytes.size(), bitmap, context, 8);
        } catch (const CTextException& e) {
            std::cerr << e.Text();
            std::_Exit(e.Code());
        }
        std::_Exit(0);
    };
    EXPECT_EXIT(decodeWithLittleRoom(), testing::ExitedWithCode(ERR_OUT_OF_MEMORY), "Insufficient memory");
}

// The host cancels through its copy of the context (copies share the flag) while libjpeg
// works; the next row of blocks notices.
TEST(JpegDecoderTest, CancelFromTheFirstProgressReportEndsTheDecode) {
    struct Cancelling : CProgressListener {
        explicit Cancelling(const CDecodeContext& context) : context(context) {}
        void Progress(double) override {
            if (++reports == 1) context.Cancel();
        }
        CDecodeContext context;
        int reports = 0;
    };
    TempDir dir;
    WriteBytes(dir.File("a.jpg"), EncodeJpeg(256, 256, 1, JCS_GRAYSCALE, GreyRamp));
    CJPEGDecoder decoder;
    CMemBitmap bitmap;
    const CDecodeContext context;
    Cancelling listener(context);
    int code = 0;
    try {
        decoder.DecodeFile(dir.File("a.jpg"), bitmap, context, 32, &listener);
    } catch (const CTextException& e) {
        code = e.Code();
    }
    EXPECT_EQ(code, ERR_CANCELLED);
    EXPECT_GE(listener.reports, 1);
    EXPECT_EQ(DecodeError(decoder, ColourJpeg()), 0);
}

TEST(JpegMemorySourceTest, SkippingToTheEndWarnsAndServesAnEndOfImageMarker) {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    errors.output_message = [](j_common_ptr) {};
    jpeg_create_decompress(&cinfo);
    const uint8_t data[6] = {1, 2, 3, 4, 5, 6};
    JpegMemorySource(&cinfo, data, sizeof data, nullptr, nullptr);
    (*cinfo.src->skip_input_data)(&cinfo, 4);
    EXPECT_EQ(cinfo.src->bytes_in_buffer, 2u);
    EXPECT_EQ(*cinfo.src->next_input_byte, 5);
    EXPECT_EQ(errors.num_warnings, 0);
    (*cinfo.src->skip_input_data)(&cinfo, 2);
    ASSERT_EQ(cinfo.src->bytes_in_buffer, 2u);
    EXPECT_EQ(cinfo.src->next_input_byte[0], 0xFF);
    EXPECT_EQ(cinfo.src->next_input_byte[1], JPEG_EOI);
    EXPECT_EQ(errors.num_warnings, 1);
    EXPECT_EQ(errors.msg_code, JWRN_JPEG_EOF);
    jpeg_destroy_decompress(&cinfo);
}
