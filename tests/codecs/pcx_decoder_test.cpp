#include "decode_test_helpers.h"

#include "codecs/pcx_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"

#include <gtest/gtest.h>

namespace {

const BGRA kBlack = OpaqueColour(0, 0, 0);
const BGRA kWhite = OpaqueColour(255, 255, 255);

struct PcxLayout {
    int bitsPerPixel = 8;
    int planes = 1;
    int width = 1;
    int height = 1;
    int bytesPerLine = 1;
};

// A PCX header for layout with the given 16-entry colour map, followed by data as it stands.
Bytes PcxFile(const PcxLayout& l, const Bytes& data, const std::vector<BGRA>& colourMap = {}) {
    Bytes file(128, 0);
    file[0] = 10;
    file[1] = 5;
    file[2] = 1;
    file[3] = static_cast<uint8_t>(l.bitsPerPixel);
    file[8] = static_cast<uint8_t>(l.width - 1);
    file[9] = static_cast<uint8_t>((l.width - 1) >> 8);
    file[10] = static_cast<uint8_t>(l.height - 1);
    file[11] = static_cast<uint8_t>((l.height - 1) >> 8);
    for (size_t i = 0; i < colourMap.size(); ++i) {
        file[16 + 3 * i] = colourMap[i].r;
        file[17 + 3 * i] = colourMap[i].g;
        file[18 + 3 * i] = colourMap[i].b;
    }
    file[65] = static_cast<uint8_t>(l.planes);
    file[66] = static_cast<uint8_t>(l.bytesPerLine);
    file[67] = static_cast<uint8_t>(l.bytesPerLine >> 8);
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

// Run-length data that stores every byte as a literal (bytes of 0xC0 and above need a run of 1).
Bytes Literals(const Bytes& raw) {
    Bytes out;
    for (uint8_t b : raw) {
        if (b >= 0xC0) out.push_back(0xC1);
        out.push_back(b);
    }
    return out;
}

Bytes TrailingPalette(uint8_t marker) {
    Bytes out{marker};
    for (int i = 0; i < 256; ++i) Append(out, {i, 255 - i, i / 2});
    return out;
}

TEST(PcxDecoder, FilesWrittenByStandardToolsShowTheirPictures) {
    const struct {
        const char* file;
        const char* picture;
    } cases[] = {
        {"rgb24_pillow.pcx", "rgb.png"},         {"rgb24_magick.pcx", "rgb.png"},
        {"palette8_pillow.pcx", "palette.png"}, {"palette8_magick.pcx", "palette.png"},
        {"grey8_pillow.pcx", "grey.png"},       {"mono1_pillow.pcx", "mono.png"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        CAutoDecoder decoder;
        CMemBitmap bitmap;
        decoder.DecodeFile(TestDataPath(std::string("pcx/") + c.file), bitmap, 32);
        EXPECT_EQ(decoder.LastFormat(), ImageFormat::PCX);
        EXPECT_EQ(DifferenceFromPicture(bitmap, TestDataPath(std::string("pcx/") + c.picture)), "");
    }
}

TEST(PcxDecoder, PlaneLayoutsChooseTheirColours) {
    const std::vector<BGRA> map = {OpaqueColour(10, 0, 0), OpaqueColour(20, 0, 0), OpaqueColour(30, 0, 0),
                                   OpaqueColour(40, 0, 0), OpaqueColour(50, 0, 0), OpaqueColour(60, 0, 0),
                                   OpaqueColour(70, 0, 0), OpaqueColour(80, 0, 0), OpaqueColour(90, 0, 0),
                                   OpaqueColour(100, 0, 0), OpaqueColour(110, 0, 0), OpaqueColour(120, 0, 0),
                                   OpaqueColour(130, 0, 0), OpaqueColour(140, 0, 0), OpaqueColour(150, 0, 0),
                                   OpaqueColour(160, 0, 0)};
    CMemBitmap bitmap;

    // Four planes of one bit: plane p holds bit p of each pixel's index.
    ASSERT_EQ(DecodeBytes(PcxFile({1, 4, 8, 1, 1}, Literals({0x55, 0x33, 0x0F, 0x01}), map), bitmap), 0);
    const int fourPlaneIndex[8] = {0, 1, 2, 3, 4, 5, 6, 15};
    for (int x = 0; x < 8; ++x) EXPECT_EQ(PixelOf(bitmap, x, 0), map[static_cast<size_t>(fourPlaneIndex[x])]) << x;

    // One plane of one bit is black and white whatever the colour map says.
    ASSERT_EQ(DecodeBytes(PcxFile({1, 1, 3, 1, 1}, Literals({0xA0}), map), bitmap), 0);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), kWhite);
    EXPECT_EQ(PixelOf(bitmap, 1, 0), kBlack);
    EXPECT_EQ(PixelOf(bitmap, 2, 0), kWhite);

    // Two bits per pixel index the first four colour map entries.
    ASSERT_EQ(DecodeBytes(PcxFile({2, 1, 4, 1, 1}, Literals({0x1B}), map), bitmap), 0);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelOf(bitmap, x, 0), map[static_cast<size_t>(x)]) << x;

    // Three planes of eight bits are red, green and blue; the colour map plays no part.
    ASSERT_EQ(DecodeBytes(PcxFile({8, 3, 2, 1, 2}, Literals({1, 2, 3, 4, 5, 6}), map), bitmap), 0);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), OpaqueColour(1, 3, 5));
    EXPECT_EQ(PixelOf(bitmap, 1, 0), OpaqueColour(2, 4, 6));
}

TEST(PcxDecoder, TwoFiftySixColoursComeFromThePaletteAfterTheData) {
    const Bytes data = Literals({0, 1, 200, 255});
    Bytes good = data;
    const Bytes palette = TrailingPalette(12);
    good.insert(good.end(), palette.begin(), palette.end());
    CMemBitmap bitmap;
    int depth = 0;
    ASSERT_EQ(DecodeBytes(PcxFile({8, 1, 4, 1, 4}, good), bitmap, depth), 0);
    EXPECT_EQ(depth, 8);  // the depth of the file's indices, though the bitmap holds 32 bits
    EXPECT_EQ(bitmap.BitsPerPixel(), 32);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), OpaqueColour(0, 255, 0));
    EXPECT_EQ(PixelOf(bitmap, 2, 0), OpaqueColour(200, 55, 100));
    EXPECT_EQ(PixelOf(bitmap, 3, 0), OpaqueColour(255, 0, 127));

    Bytes badMarker = data;
    const Bytes wrong = TrailingPalette(11);
    badMarker.insert(badMarker.end(), wrong.begin(), wrong.end());
    EXPECT_EQ(ErrorOf(PcxFile({8, 1, 4, 1, 4}, badMarker)), ERR_CANNOT_HANDLE);
    EXPECT_EQ(ErrorOf(PcxFile({8, 1, 4, 1, 4}, data)), ERR_END_OF_DATA);
}

TEST(PcxDecoder, RunsFormOneStreamAcrossRowsAndPlanes) {
    CMemBitmap bitmap;
    // 2 x 2, three planes of 2 bytes: the run of six 0x20 crosses from the red plane into
    // green and blue and on into the next row.
    const Bytes data = {0x10, 0xC6, 0x20, 0x30, 0xC4, 0x40};
    ASSERT_EQ(DecodeBytes(PcxFile({8, 3, 2, 2, 2}, data), bitmap), 0);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), OpaqueColour(0x10, 0x20, 0x20));
    EXPECT_EQ(PixelOf(bitmap, 1, 0), OpaqueColour(0x20, 0x20, 0x20));
    EXPECT_EQ(PixelOf(bitmap, 0, 1), OpaqueColour(0x20, 0x40, 0x40));
    EXPECT_EQ(PixelOf(bitmap, 1, 1), OpaqueColour(0x30, 0x40, 0x40));

    // A run of zero length writes nothing.
    ASSERT_EQ(DecodeBytes(PcxFile({8, 3, 1, 1, 1}, {0xC0, 0x99, 7, 8, 9}), bitmap), 0);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), OpaqueColour(7, 8, 9));

    // One byte more than the image holds.
    EXPECT_EQ(ErrorOf(PcxFile({8, 3, 2, 2, 2}, {0xC5, 0x10, 0x20, 0xC7, 0x30})), ERR_CANNOT_HANDLE);
}

// Encodes raw as one run-length stream without regard to rows: runs of up to 63, bytes of
// 0xC0 and above as runs of one, and now and then a run of length 0.
Bytes Encode(const Bytes& raw) {
    Bytes out;
    for (size_t i = 0; i < raw.size();) {
        size_t n = 1;
        while (i + n < raw.size() && raw[i + n] == raw[i] && n < 63) ++n;
        if (i % 97 == 0) Append(out, {0xC0, 0x55});
        if (n > 1 || raw[i] >= 0xC0) Append(out, {0xC0 | static_cast<int>(n)});
        out.push_back(raw[i]);
        i += n;
    }
    return out;
}

TEST(PcxDecoder, WideRowsOfMixedRunsAndLiterals) {
    // 300 x 7 at 24 bits: 900 bytes a row, long enough for the decoder's word-at-a-time path,
    // with runs of every length from 1 to 63 that start and end anywhere in a row.
    const int width = 300, height = 7;
    Bytes raw;
    uint32_t seed = 12345;
    while (raw.size() < static_cast<size_t>(3 * width * height)) {
        seed = seed * 1103515245 + 12345;
        const uint8_t value = static_cast<uint8_t>(seed >> 16);
        const size_t length = (seed >> 8) % 4 == 0 ? 1 + (seed >> 24) % 70 : 1;
        raw.insert(raw.end(), length, value);
    }
    raw.resize(static_cast<size_t>(3 * width * height));
    // A run of 60 across every row boundary.
    for (int y = 1; y < height; ++y) std::fill_n(raw.begin() + 3 * width * y - 40, 60, static_cast<uint8_t>(y));
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeBytes(PcxFile({8, 3, width, height, width}, Encode(raw)), bitmap), 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const size_t row = static_cast<size_t>(3 * width * y);
            const BGRA expected = OpaqueColour(raw[row + x], raw[row + width + x], raw[row + 2 * width + x]);
            ASSERT_EQ(PixelOf(bitmap, x, y), expected) << x << ", " << y;
        }
}

TEST(PcxDecoder, PixelsBeyondTheRowBytesAreBlack) {
    CMemBitmap bitmap;
    ASSERT_EQ(DecodeBytes(PcxFile({8, 3, 5, 1, 2}, Literals({1, 2, 3, 4, 5, 6})), bitmap), 0);
    EXPECT_EQ(PixelOf(bitmap, 1, 0), OpaqueColour(2, 4, 6));
    for (int x = 2; x < 5; ++x) EXPECT_EQ(PixelOf(bitmap, x, 0), kBlack) << x;

    ASSERT_EQ(DecodeBytes(PcxFile({1, 1, 12, 1, 1}, Literals({0xFF})), bitmap), 0);
    EXPECT_EQ(PixelOf(bitmap, 7, 0), kWhite);
    for (int x = 8; x < 12; ++x) EXPECT_EQ(PixelOf(bitmap, x, 0), kBlack) << x;

    // Rows of no bytes at all.
    ASSERT_EQ(DecodeBytes(PcxFile({8, 3, 2, 2, 0}, {}), bitmap), 0);
    EXPECT_EQ(PixelOf(bitmap, 1, 1), kBlack);
    ASSERT_EQ(DecodeBytes(PcxFile({8, 1, 2, 2, 0}, TrailingPalette(12)), bitmap), 0);
    EXPECT_EQ(PixelOf(bitmap, 1, 1), kBlack);
}

TEST(PcxDecoder, BrokenHeadersAndLayoutsAreRefused) {
    const struct {
        PcxLayout layout;
        int code;
    } cases[] = {
        {{1, 5, 8, 1, 1}, ERR_BAD_DATA},      {{1, 0, 8, 1, 1}, ERR_BAD_DATA},
        {{8, 2, 8, 1, 8}, ERR_BAD_DATA},      {{8, 4, 8, 1, 8}, ERR_BAD_DATA},
        {{3, 1, 8, 1, 3}, ERR_BAD_DATA},      {{4, 3, 8, 1, 4}, ERR_CANNOT_HANDLE},
        {{2, 3, 8, 1, 2}, ERR_CANNOT_HANDLE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.layout.bitsPerPixel << " bits, " << c.layout.planes << " planes");
        EXPECT_EQ(ErrorOf(PcxFile(c.layout, Bytes(64, 0))), c.code);
    }

    Bytes reversed = PcxFile({8, 3, 4, 4, 4}, Bytes(48, 0));
    reversed[4] = 5;  // Xmin beyond Xmax
    EXPECT_EQ(ErrorOf(reversed), ERR_BAD_DATA);

    Bytes packed = PcxFile({8, 3, 1, 1, 1}, {1, 2, 3});
    packed[2] = 0;  // stored without run-length encoding
    EXPECT_EQ(ErrorFrom<CPCXDecoder>(packed), ERR_NOT_THIS_FORMAT);
}

TEST(PcxDecoder, DataShorterThanTheImageFailsBeforeAllocating) {
    EXPECT_EQ(ErrorOf(PcxFile({8, 3, 4, 4, 4}, Literals(Bytes(40, 1)))), ERR_END_OF_DATA);
    // Within the storage limit, but far more than the data can hold at the best compression.
    EXPECT_EQ(ErrorOf(PcxFile({8, 3, 20000, 20000, 20000}, Bytes(1000, 0xFF))), ERR_END_OF_DATA);
    // 65536 x 65536 would be 16 GiB of pixels: over the storage limit, which is told first.
    EXPECT_EQ(ErrorOf(PcxFile({8, 3, 65536, 65536, 65535}, Bytes(1000, 0xFF))), ERR_OUT_OF_MEMORY);
}

// The probe reads the header the decode reads and refuses what it refuses before pixels.
TEST(PcxDecoder, ProbeAgreesWithTheDecodeWithoutReadingPixels) {
    CPCXDecoder decoder;
    auto probe = [&decoder](const Bytes& file, ImageInfo& info) { return ProbeError(decoder, file, info); };
    const struct {
        PcxLayout layout;
        int bitsPerPixel;
    } layouts[] = {{{1, 1, 9, 3, 2}, 1}, {{1, 4, 9, 3, 2}, 4}, {{4, 1, 9, 3, 5}, 4}, {{8, 3, 9, 3, 9}, 24}};
    for (const auto& l : layouts) {
        ImageInfo info;
        ASSERT_EQ(probe(PcxFile(l.layout, Bytes(2)), info), 0);
        EXPECT_EQ(std::make_pair(info.width, info.height), std::make_pair(9, 3));
        EXPECT_EQ(info.bitsPerPixel, l.bitsPerPixel);
        EXPECT_FALSE(info.hasAlpha);
    }
    const Bytes refused[] = {PcxFile({1, 5, 8, 1, 1}, Bytes(64, 0)), PcxFile({4, 3, 8, 1, 4}, Bytes(64, 0)),
                             PcxFile({8, 3, 65536, 65536, 65535}, Bytes(1000, 0xFF))};
    for (const Bytes& file : refused) {
        ImageInfo info;
        EXPECT_EQ(probe(file, info), ErrorOf(file));
    }
}

}  // namespace
