#include "codecs/gif_decoder.h"
#include "decode_test_helpers.h"
#include "gif_builder.h"

#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

using Map = GifMap;

const Map kGlobal = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 0, 255}};
const Map kLocal = {{10, 20, 30}, {40, 50, 60}};

GifImage Checker(int left, int top, int width, int height) {
    return GifImage{left, top, width, height, false, {}, [](int x, int y) { return 2 + (x + y) % 2; }};
}

BGRA At(const CImageBitmap& bitmap, int x, int y) { return bitmap.Palette()[bitmap.Line(y)[x]]; }

}  // namespace

// A still picture of an animation: the first frame on the background, nothing of the rest.
TEST(GifDecoderTest, FirstImageIsDrawnAtItsOffsetOnTheBackground) {
    GifImage second = Checker(0, 0, 8, 6);
    second.pixel = [](int, int) { return 0; };
    const auto bytes = EncodeGif(8, 6, 1, kGlobal, {Checker(2, 1, 3, 2), second});
    CGIFDecoder decoder;
    CMemBitmap bitmap;
    int depth = 0;
    DecodeBytes(decoder, bytes, bitmap, depth);
    EXPECT_EQ(depth, 8);
    ASSERT_EQ(bitmap.BitsPerPixel(), 8);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
            const int index = inside ? 2 + (x - 2 + y - 1) % 2 : 1;
            ASSERT_EQ(bitmap.Line(y)[x], index) << x << ", " << y;
        }
    EXPECT_EQ(At(bitmap, 0, 0), OpaqueColour(255, 255, 255));
    EXPECT_EQ(At(bitmap, 2, 1), OpaqueColour(255, 0, 0));
}

TEST(GifDecoderTest, ThirtyTwoBitsGiveTheSameColoursWithoutAlpha) {
    const auto bytes = EncodeGif(8, 6, 1, kGlobal, {Checker(2, 1, 3, 2)});
    CGIFDecoder decoder;
    CMemBitmap indexed, colour;
    int depth = 0;
    DecodeBytes(decoder, bytes, indexed, depth);
    depth = 32;
    DecodeBytes(decoder, bytes, colour, depth);
    ASSERT_EQ(colour.BitsPerPixel(), 32);
    EXPECT_FALSE(colour.HasAlpha());
    std::string why;
    EXPECT_TRUE(SamePixels(indexed, colour, &why)) << why;
}

TEST(GifDecoderTest, PaletteComesFromTheLocalMapThenTheGlobalOneThenTheGreyRamp) {
    GifImage local = Checker(0, 0, 4, 4);
    local.localMap = kLocal;
    local.pixel = [](int x, int) { return x % 2; };
    GifImage plain = local;
    plain.localMap.clear();
    CGIFDecoder decoder;
    CMemBitmap withLocal, withGlobal, withNone;
    int depth = 32;
    DecodeBytes(decoder, EncodeGif(4, 4, 0, kGlobal, {local}), withLocal, depth);
    DecodeBytes(decoder, EncodeGif(4, 4, 0, kGlobal, {plain}), withGlobal, depth);
    // giflib writes no image without a map: drop the global map of four colours afterwards.
    auto noMap = EncodeGif(4, 4, 0, kGlobal, {plain});
    noMap[10] &= 0x7F;
    noMap.erase(noMap.begin() + 13, noMap.begin() + 13 + 12);
    DecodeBytes(decoder, noMap, withNone, depth);
    EXPECT_EQ(withLocal.PixelLine(0)[1], OpaqueColour(40, 50, 60));
    EXPECT_EQ(withGlobal.PixelLine(0)[1], OpaqueColour(255, 255, 255));
    EXPECT_EQ(withNone.PixelLine(0)[1], OpaqueColour(1, 1, 1));
}

TEST(GifDecoderTest, InterlacedImageDecodesLikeItsPlainTwin) {
    GifImage image = Checker(1, 2, 9, 13);
    image.pixel = [](int x, int y) { return (x * 3 + y) % 4; };
    CGIFDecoder decoder;
    CMemBitmap plain, interlaced;
    int depth = 0;
    DecodeBytes(decoder, EncodeGif(12, 17, 0, kGlobal, {image}), plain, depth);
    image.interlaced = true;
    DecodeBytes(decoder, EncodeGif(12, 17, 0, kGlobal, {image}), interlaced, depth);
    std::string why;
    EXPECT_TRUE(SamePixels(plain, interlaced, &why)) << why;
}

// The canvas grows to the right and down to hold a first image that reaches outside the
// logical screen, as browsers show such files; the probe reports the grown size.
TEST(GifDecoderTest, FirstImageReachingOutsideTheScreenGrowsTheCanvas) {
    GifImage image = Checker(3, 2, 6, 5);
    image.pixel = [](int x, int y) { return x == 0 && y == 0 ? 3 : 2; };
    const auto bytes = EncodeGif(5, 4, 0, kGlobal, {image});
    CGIFDecoder decoder;
    CMemBitmap bitmap;
    int depth = 0;
    DecodeBytes(decoder, bytes, bitmap, depth);
    ASSERT_EQ(bitmap.Size(), std::make_pair(9, 7));
    EXPECT_EQ(bitmap.Line(2)[3], 3);
    EXPECT_EQ(bitmap.Line(6)[8], 2);
    EXPECT_EQ(bitmap.Line(1)[8], 0);
    EXPECT_EQ(bitmap.Line(6)[2], 0);
    const ImageInfo info = decoder.ProbeMemory(bytes.data(), bytes.size());
    EXPECT_EQ(std::make_pair(info.width, info.height), std::make_pair(9, 7));
}

TEST(GifDecoderTest, BrokenFilesFailWithACodeAndText) {
    CGIFDecoder decoder;
    std::string text;
    EXPECT_EQ(DecodeError(decoder, {'G', 'I', 'X', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0}, &text), ERR_NOT_THIS_FORMAT);
    EXPECT_EQ(text, "Decoder error: GIF decoder: Data is not in GIF format\n");

    const auto good = EncodeGif(16, 16, 0, kGlobal, {Checker(0, 0, 16, 16)});
    ASSERT_EQ(good[10] & 7, 1);  // a global map of four colours
    const std::vector<uint8_t> cut(good.begin(), good.end() - 12);
    EXPECT_EQ(DecodeError(decoder, cut, &text), ERR_END_OF_DATA);

    // The same file with its global map cut to two colours, while its pixels use four.
    auto shortMap = good;
    shortMap[10] = static_cast<uint8_t>((shortMap[10] & ~7) | 0);
    shortMap.erase(shortMap.begin() + 13 + 6, shortMap.begin() + 13 + 12);
    EXPECT_EQ(DecodeError(decoder, shortMap, &text), ERR_BAD_DATA);
    EXPECT_EQ(text, "Decoder error: GIF decoder: a pixel refers to a colour beyond the colour map.\n");

    EXPECT_EQ(DecodeError(decoder, EncodeGif(0, 4, 0, kGlobal, {Checker(0, 0, 1, 1)})), ERR_BAD_DATA);
    EXPECT_EQ(DecodeError(decoder, EncodeGif(4, 4, 0, kGlobal, {}), &text), ERR_BAD_DATA);
    EXPECT_EQ(text, "Decoder error: GIF decoder: the file holds no image.\n");
}

// An image of two rows whose descriptor was patched to claim four: the compressed data
// ends (with its end code) half way, and the rows it lacks keep the background.
TEST(GifDecoderTest, CompressedDataEndingEarlyKeepsTheRowsItHolds) {
    auto bytes = EncodeGif(4, 4, 1, kGlobal, {Checker(0, 0, 4, 2)});
    const size_t descriptor = 13 + 12;
    ASSERT_EQ(bytes[descriptor], ',');
    bytes[descriptor + 7] = 4;  // the image's height, low byte
    CGIFDecoder decoder;
    CMemBitmap bitmap;
    int depth = 0;
    DecodeBytes(decoder, bytes, bitmap, depth);
    EXPECT_EQ(bitmap.Line(1)[1], 2);
    EXPECT_EQ(bitmap.Line(1)[2], 3);
    EXPECT_EQ(bitmap.Line(2)[0], 1);
    EXPECT_EQ(bitmap.Line(3)[3], 1);
}

namespace {

// A GIF whose one image is compressed with the given minimum code size (giflib's encoder
// always uses 8), by a plain LZW encoder that never clears its table once it is full.
std::vector<uint8_t> EncodeWideCodeGif(int width, int height, int minimumCodeSize, const std::function<int(int, int)>& pixel) {
    std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    const auto word = [&out](int value) {
        out.push_back(static_cast<uint8_t>(value));
        out.push_back(static_cast<uint8_t>(value >> 8));
    };
    word(width);
    word(height);
    out.insert(out.end(), {0xF7, 0, 0});  // a global map of 256 entries, background 0
    for (int i = 0; i < 256; ++i) out.insert(out.end(), {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), 7});
    out.push_back(',');
    word(0);
    word(0);
    word(width);
    word(height);
    out.push_back(0);
    out.push_back(static_cast<uint8_t>(minimumCodeSize));

    std::vector<uint8_t> packed;
    uint32_t bits = 0;
    int bitCount = 0;
    int codeSize = minimumCodeSize + 1;
    const auto emit = [&](int code) {
        bits |= static_cast<uint32_t>(code) << bitCount;
        for (bitCount += codeSize; bitCount >= 8; bitCount -= 8, bits >>= 8) packed.push_back(static_cast<uint8_t>(bits));
    };
    const int clear = 1 << minimumCodeSize;
    int next = clear + 2;
    std::map<std::pair<int, int>, int> table;
    emit(clear);
    int prefix = -1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int value = pixel(x, y);
            if (prefix < 0) {
                prefix = value;
                continue;
            }
            const auto found = table.find({prefix, value});
            if (found != table.end()) {
                prefix = found->second;
                continue;
            }
            emit(prefix);
            if (next < 4096) {
                table[{prefix, value}] = next++;
                if (next - 1 == (1 << codeSize) && codeSize < 12) ++codeSize;
            }
            prefix = value;
        }
    emit(prefix);
    emit(clear + 1);
    if (bitCount > 0) packed.push_back(static_cast<uint8_t>(bits));
    for (size_t at = 0; at < packed.size(); at += 255) {
        const size_t block = std::min<size_t>(255, packed.size() - at);
        out.push_back(static_cast<uint8_t>(block));
        out.insert(out.end(), packed.begin() + static_cast<std::ptrdiff_t>(at), packed.begin() + static_cast<std::ptrdiff_t>(at + block));
    }
    out.push_back(0);
    out.push_back(';');
    return out;
}

}  // namespace

// giflib refuses minimum code sizes above 8 bits; the decoder reads them itself. A noisy
// picture fills the 12-bit table, which the encoder then keeps without clearing it.
TEST(GifDecoderTest, WideMinimumCodeSizesDecodeLikeGiflibsOwn) {
    const auto noise = [](int x, int y) { return (x * 7919 + y * 104729 + ((x * y) % 13) * 31) % 256; };
    const auto stripes = [](int x, int y) { return (x / 3 + y) % 5 == 0 ? 200 : 17; };
    CGIFDecoder decoder;
    for (const auto& pixel : {std::function<int(int, int)>(noise), std::function<int(int, int)>(stripes)}) {
        CMemBitmap expected;
        int depth = 32;
        GifImage image = Checker(0, 0, 97, 61);
        image.pixel = pixel;
        Map global;
        for (int i = 0; i < 256; ++i) global.push_back({static_cast<GifByteType>(i), static_cast<GifByteType>(255 - i), 7});
        DecodeBytes(decoder, EncodeGif(97, 61, 0, global, {image}), expected, depth);
        for (int codeSize : {8, 9, 11}) {
            SCOPED_TRACE(codeSize);
            CMemBitmap wide;
            DecodeBytes(decoder, EncodeWideCodeGif(97, 61, codeSize, pixel), wide, depth);
            std::string why;
            EXPECT_TRUE(SamePixels(expected, wide, &why)) << why;
        }
    }

    // A code beyond the table is damage.
    auto broken = EncodeWideCodeGif(8, 8, 9, [](int x, int) { return x; });
    const size_t data = 13 + 768 + 10 + 1;
    broken[data + 3] = 0xFF;
    broken[data + 4] = 0xFF;
    std::string text;
    EXPECT_EQ(DecodeError(decoder, broken, &text), ERR_BAD_DATA);
    EXPECT_EQ(text, "Decoder error: GIF decoder: the compressed data refers to a code not yet defined.\n");
    // Data that stops early leaves the background, as with giflib's images.
    auto cut = EncodeWideCodeGif(8, 8, 10, [](int, int) { return 3; });
    cut.resize(data + 1 + 12);  // the first few rows
    CMemBitmap partial;
    int depth = 8;
    DecodeBytes(decoder, cut, partial, depth);
    EXPECT_EQ(partial.Line(1)[7], 3);
    EXPECT_EQ(partial.Line(7)[7], 0);
}

// An image without width or height covers nothing: the screen shows its background, even
// when the descriptor announces a colour map or data that the file does not hold.
TEST(GifDecoderTest, ImageWithoutAreaLeavesTheBackground) {
    auto bytes = EncodeGif(3, 2, 1, kGlobal, {Checker(0, 0, 2, 2)});
    const size_t descriptor = 13 + 12;
    ASSERT_EQ(bytes[descriptor], ',');
    bytes[descriptor + 5] = 0;  // width
    bytes.resize(descriptor + 10);
    bytes[descriptor + 9] = 0x80;  // a local map, missing
    bytes.push_back(';');
    CGIFDecoder decoder;
    CMemBitmap bitmap;
    int depth = 32;
    DecodeBytes(decoder, bytes, bitmap, depth);
    ASSERT_EQ(bitmap.Size(), std::make_pair(3, 2));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(bitmap.PixelLine(y)[x], OpaqueColour(255, 255, 255));
}

// A header may claim a screen of any size over a few bytes: one larger than the file's
// compressed data could describe is refused before it is allocated, while a small image on
// a larger screen is an honest file.
TEST(GifDecoderTest, ScreenBeyondWhatTheDataCanFillIsRefused) {
    CGIFDecoder decoder;
    std::string text;
    for (int depth : {0, 8}) {
        EXPECT_EQ(DecodeError(decoder, EncodeGif(65535, 65535, 0, kGlobal, {Checker(0, 0, 2, 2)}), &text, depth), ERR_BAD_DATA);
        EXPECT_EQ(text, "Decoder error: GIF decoder: a screen of 65535 x 65535 pixels is more than the file's data can fill.\n");
    }
    // At 32 bits the same screen is over the storage limit, which is told first.
    EXPECT_EQ(DecodeError(decoder, EncodeGif(65535, 65535, 0, kGlobal, {Checker(0, 0, 2, 2)}), &text, 32), ERR_OUT_OF_MEMORY);
    CMemBitmap bitmap;
    int depth = 0;
    DecodeBytes(decoder, EncodeGif(300, 200, 1, kGlobal, {Checker(0, 0, 2, 2)}), bitmap, depth);
    EXPECT_EQ(bitmap.Size(), std::make_pair(300, 200));
    EXPECT_EQ(bitmap.Line(199)[299], 1);
}

// The canvas grows to hold the first image, so an image descriptor may claim a picture of
// any size over a few bytes: one beyond what its data could fill is refused before the
// canvas is allocated, by the decode and the probe alike.
TEST(GifDecoderTest, FirstImageBeyondWhatTheDataCanFillIsRefused) {
    auto bytes = EncodeGif(1, 1, 0, kGlobal, {Checker(0, 0, 2, 2)});
    const size_t descriptor = 13 + 12;
    ASSERT_EQ(bytes[descriptor], ',');
    for (size_t at : {descriptor + 5, descriptor + 6, descriptor + 7, descriptor + 8}) bytes[at] = 0xFF;
    CGIFDecoder decoder;
    std::string text;
    EXPECT_EQ(DecodeError(decoder, bytes, &text, 0), ERR_BAD_DATA);
    EXPECT_EQ(text, "Decoder error: GIF decoder: a screen of 65535 x 65535 pixels is more than the file's data can fill.\n");
    EXPECT_EQ(DecodeError(decoder, bytes, &text, 32), ERR_OUT_OF_MEMORY);
    EXPECT_THROW(decoder.ProbeMemory(bytes.data(), bytes.size()), CTextException);
}

// Images after the first are not decoded but counted, by their blocks alone.
TEST(GifDecoderTest, FramesAreCountedAndTheProbeReadsNoImageData) {
    GifImage first = Checker(1, 1, 6, 5);
    first.transparentIndex = 3;
    // giflib's writer loses a local map that an image without one follows: it comes last.
    GifImage last = Checker(0, 0, 8, 8);
    last.localMap = kLocal;
    const auto bytes = EncodeGif(8, 8, 1, kGlobal, {first, Checker(2, 2, 3, 3), last});
    CGIFDecoder decoder;
    CMemBitmap bitmap;
    int depth = 0;
    DecodeBytes(decoder, bytes, bitmap, depth);
    EXPECT_EQ(bitmap.Metadata().frameCount, 3);
    EXPECT_FALSE(bitmap.HasAlpha());
    EXPECT_EQ(bitmap.Line(1)[1], 2);

    ImageInfo info = decoder.ProbeMemory(bytes.data(), bytes.size());
    EXPECT_EQ(std::make_pair(info.width, info.height), std::make_pair(8, 8));
    EXPECT_EQ(info.bitsPerPixel, 2);  // the global map of four colours
    EXPECT_TRUE(info.hasAlpha);
    EXPECT_EQ(info.frameCount, 3);

    // Damage after the first image ends the count where it starts; the picture is the same.
    // The last image's separator: after a block terminator, a descriptor at left 0 and 8 wide.
    size_t lastStart = bytes.size();
    for (size_t i = 14; i + 5 < bytes.size() && lastStart == bytes.size(); ++i)
        if (bytes[i] == 0x2C && bytes[i - 1] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 0 && bytes[i + 5] == 8) lastStart = i;
    ASSERT_LT(lastStart, bytes.size());
    auto damaged = bytes;
    damaged[lastStart] = 0x55;
    CMemBitmap same;
    depth = 0;
    DecodeBytes(decoder, damaged, same, depth);
    EXPECT_EQ(same.Metadata().frameCount, 2);
    EXPECT_TRUE(SamePixels(bitmap, same));
    info = decoder.ProbeMemory(damaged.data(), damaged.size());
    EXPECT_EQ(info.frameCount, 2);

    // The probe refuses what the decode refuses before drawing.
    const auto noImage = EncodeGif(4, 4, 0, kGlobal, {});
    EXPECT_THROW(decoder.ProbeMemory(noImage.data(), noImage.size()), CTextException);
    const auto hostile = EncodeGif(65535, 65535, 0, kGlobal, {Checker(0, 0, 2, 2)});
    try {
        decoder.ProbeMemory(hostile.data(), hostile.size());
        ADD_FAILURE() << "the probe accepted a screen the decode refuses";
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_BAD_DATA);
    }
}
