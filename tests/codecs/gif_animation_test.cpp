#include "codecs/animation_source.h"
#include "codecs/gif_animation.h"
#include "codecs/gif_decoder.h"
#include "decode_test_helpers.h"
#include "gif_builder.h"

#include "imagelib/decode_context.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "support/corpus.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

const GifMap kColours = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 0, 255}};
constexpr BGRA kBlack = OpaqueColour(0, 0, 0);
constexpr BGRA kWhite = OpaqueColour(255, 255, 255);
constexpr BGRA kRed = OpaqueColour(255, 0, 0);
constexpr BGRA kBlue = OpaqueColour(0, 0, 255);
constexpr BGRA kClear{0, 0, 0, 0};

GifImage Filled(int left, int top, int width, int height, int index) {
    return GifImage{left, top, width, height, false, {}, [index](int, int) { return index; }};
}

std::unique_ptr<CAnimationReader> Open(const Bytes& bytes, const CDecodeContext& context = {}) {
    return OpenGifAnimation(bytes, context);
}

// Reads frame after frame; the delays in delays.
std::vector<CMemBitmap> ReadAll(CAnimationReader& reader, std::vector<int>* delays = nullptr) {
    std::vector<CMemBitmap> frames(static_cast<size_t>(reader.FrameCount()));
    for (CMemBitmap& frame : frames) {
        const int delay = reader.ReadFrame(frame);
        if (delays) delays->push_back(delay);
    }
    return frames;
}

}  // namespace

// Frame 1 (blue, 2 x 2 at 1,1, its top left pixel transparent) is drawn over a red frame 0
// and disposed of by each method before frame 2 (one white pixel in the corner) is drawn.
TEST(GifAnimationTest, EachDisposalMethodLeavesItsCanvasForTheNextFrame) {
    struct Case {
        int disposal;
        BGRA underFrame1;  // what frame 2 shows where frame 1 was drawn
    };
    for (const Case& c : {Case{0, kBlue}, Case{1, kBlue}, Case{2, kClear}, Case{3, kRed}}) {
        SCOPED_TRACE(c.disposal);
        GifImage blue = Filled(1, 1, 2, 2, 3);
        blue.pixel = [](int x, int y) { return x == 0 && y == 0 ? 1 : 3; };
        blue.transparentIndex = 1;
        blue.disposal = c.disposal;
        const auto bytes = EncodeGif(4, 4, 0, kColours, {Filled(0, 0, 4, 4, 2), blue, Filled(3, 3, 1, 1, 1)});
        const auto reader = Open(bytes);
        ASSERT_EQ(reader->FrameCount(), 3);
        const std::vector<CMemBitmap> frames = ReadAll(*reader);
        EXPECT_EQ(frames[1].PixelLine(1)[1], kRed);  // the transparent pixel shows frame 0
        EXPECT_EQ(frames[1].PixelLine(2)[2], kBlue);
        EXPECT_FALSE(frames[1].HasAlpha());
        const CMemBitmap& last = frames[2];
        EXPECT_EQ(last.PixelLine(3)[3], kWhite);
        EXPECT_EQ(last.PixelLine(0)[0], kRed);
        EXPECT_EQ(last.PixelLine(2)[2], c.underFrame1);
        EXPECT_EQ(last.PixelLine(1)[1], c.disposal == 2 ? kClear : kRed);
        EXPECT_EQ(last.HasAlpha(), c.disposal == 2);
    }
}

// Restoring to the previous canvas undoes only the frame that asks for it, also when the
// frames before it were themselves restored or kept.
TEST(GifAnimationTest, RestoreToPreviousChainsOverSeveralFrames) {
    GifImage second = Filled(0, 0, 1, 1, 3);
    second.disposal = 1;
    GifImage third = Filled(1, 0, 1, 1, 1);
    third.disposal = 3;
    GifImage fourth = Filled(0, 1, 1, 1, 0);
    fourth.disposal = 3;
    const auto bytes = EncodeGif(2, 2, 0, kColours, {Filled(0, 0, 2, 2, 2), second, third, fourth, Filled(1, 1, 1, 1, 1)});
    const auto reader = Open(bytes);
    const std::vector<CMemBitmap> frames = ReadAll(*reader);
    EXPECT_EQ(frames[2].PixelLine(0)[1], kWhite);
    EXPECT_EQ(frames[3].PixelLine(0)[1], kRed);  // frame 2 undone
    EXPECT_EQ(frames[3].PixelLine(1)[0], kBlack);
    const CMemBitmap& last = frames[4];
    EXPECT_EQ(last.PixelLine(0)[0], kBlue);  // frame 1 kept
    EXPECT_EQ(last.PixelLine(0)[1], kRed);
    EXPECT_EQ(last.PixelLine(1)[0], kRed);  // frame 3 undone
    EXPECT_EQ(last.PixelLine(1)[1], kWhite);
}

TEST(GifAnimationTest, DelaysAndLoopCountFollowTheBrowsersRules) {
    std::vector<GifImage> images;
    for (int delay : {0, 1, 2, 50}) {
        images.push_back(Filled(0, 0, 2, 2, 2 + delay % 2));
        images.back().delayCentiseconds = delay;
    }
    std::vector<int> delays;
    const auto reader = Open(EncodeGif(2, 2, 0, kColours, images));
    ReadAll(*reader, &delays);
    EXPECT_EQ(delays, (std::vector<int>{100, 100, 20, 500}));
    CMemBitmap past;
    EXPECT_EQ(reader->ReadFrame(past), -1);
    EXPECT_EQ(reader->LoopCount(), 1);  // no looping extension: played once

    EXPECT_EQ(Open(EncodeGif(2, 2, 0, kColours, images, 0))->LoopCount(), 0);
    EXPECT_EQ(Open(EncodeGif(2, 2, 0, kColours, images, 3))->LoopCount(), 4);
}

// Frame 0 is the plain decode's picture at 32 bits: the canvas grown to the first image,
// the background colour around it, its transparent colour clear. Later frames are clipped
// to that canvas, and a rewind starts again from a fresh canvas.
TEST(GifAnimationTest, FirstFrameIsThePlainDecodeAndLaterFramesAreClipped) {
    GifImage first = Filled(2, 1, 3, 3, 2);
    first.pixel = [](int x, int y) { return x == 1 && y == 1 ? 0 : 2; };
    first.transparentIndex = 0;
    GifImage outside = Filled(3, 2, 6, 6, 3);
    const auto bytes = EncodeGif(4, 3, 1, kColours, {first, outside});
    CMemBitmap plain;
    int depth = 32;
    CGIFDecoder decoder;
    DecodeBytes(decoder, bytes, plain, depth);
    ASSERT_EQ(plain.Size(), std::make_pair(5, 4));
    EXPECT_TRUE(plain.HasAlpha());
    EXPECT_EQ(plain.PixelLine(2)[3], kClear);
    EXPECT_EQ(plain.PixelLine(0)[0], kWhite);
    EXPECT_EQ(plain.PixelLine(3)[4], kRed);

    const auto reader = Open(bytes);
    EXPECT_EQ(std::make_pair(reader->CanvasWidth(), reader->CanvasHeight()), std::make_pair(5, 4));
    CMemBitmap frame0, frame1, again;
    reader->ReadFrame(frame0);
    std::string why;
    EXPECT_TRUE(SamePixels(plain, frame0, &why)) << why;
    reader->ReadFrame(frame1);
    ASSERT_EQ(frame1.Size(), std::make_pair(5, 4));
    EXPECT_EQ(frame1.PixelLine(3)[4], kBlue);
    EXPECT_EQ(frame1.PixelLine(1)[4], kRed);
    reader->Rewind();
    reader->ReadFrame(again);
    EXPECT_TRUE(SamePixels(frame0, again, &why)) << why;

    // At 8 bits the plain decode keeps the transparent colour's entry.
    CMemBitmap indexed;
    depth = 8;
    DecodeBytes(decoder, bytes, indexed, depth);
    EXPECT_FALSE(indexed.HasAlpha());
    EXPECT_EQ(PixelOf(indexed, 3, 2), kBlack);
}

TEST(GifAnimationTest, OpenedFromAFileOnlyWhenItHasSeveralFrames) {
    TempDir folder;
    const std::string animated = folder.File("two.gif");
    const std::string still = folder.File("one.gif");
    WriteBytes(animated, EncodeGif(2, 2, 0, kColours, {Filled(0, 0, 2, 2, 2), Filled(0, 0, 1, 1, 3)}));
    WriteBytes(still, EncodeGif(2, 2, 0, kColours, {Filled(0, 0, 2, 2, 2)}));
    const CDecodeContext context;
    const auto reader = OpenAnimation(animated, context);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->FrameCount(), 2);
    EXPECT_EQ(OpenAnimation(still, context), nullptr);
}

// Damage after the first frame: a frame whose data ends early keeps what it drew, and a
// frame whose colours run beyond its map fails as a plain decode does. A canvas beyond what
// the data can fill is refused when the reader opens; a cancelled context stops a frame.
TEST(GifAnimationTest, DamagedFilesFailCleanlyOrKeepWhatTheyHold) {
    // White and blue noise, which LZW cannot shrink much: its data spans many sub-blocks.
    GifImage noise = Filled(0, 0, 64, 64, 0);
    noise.pixel = [](int x, int y) {
        uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        return (h >> 15 & 1) != 0 ? 3 : 1;
    };
    const auto bytes = EncodeGif(64, 64, 0, kColours, {Filled(0, 0, 64, 64, 2), noise});
    const auto first = EncodeGif(64, 64, 0, kColours, {Filled(0, 0, 64, 64, 2)});
    auto cut = bytes;
    cut.resize(first.size() + (bytes.size() - first.size()) / 2);
    auto reader = Open(cut);
    ASSERT_EQ(reader->FrameCount(), 2);
    std::vector<CMemBitmap> frames = ReadAll(*reader);
    const auto redIn = [&](int y) {
        return std::count(frames[1].PixelLine(y), frames[1].PixelLine(y) + 64, kRed);
    };
    EXPECT_EQ(redIn(0), 0);
    EXPECT_EQ(redIn(63), 64);

    const GifMap two = {{0, 0, 0}, {255, 255, 255}};
    GifImage beyond = Filled(0, 0, 2, 2, 1);
    beyond.localMap = two;
    beyond.pixel = [](int, int) { return 3; };
    try {
        reader = Open(EncodeGif(2, 2, 0, kColours, {Filled(0, 0, 2, 2, 2), beyond}));
        ReadAll(*reader);
        ADD_FAILURE() << "a colour beyond the map was drawn";
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_BAD_DATA);
    }

    auto hostile = EncodeGif(65535, 65535, 0, kColours, {Filled(0, 0, 2, 2, 2), Filled(0, 0, 2, 2, 3)});
    try {
        Open(hostile);
        ADD_FAILURE() << "a hostile screen was opened";
    } catch (const CTextException& e) {
        // Frames are composed at 32 bits, where this screen is over the storage limit.
        EXPECT_EQ(e.Code(), ERR_OUT_OF_MEMORY);
    }
    EXPECT_THROW(Open({'G', 'I', 'F', '8', '9', 'a', 4, 0}), CTextException);

    CDecodeContext cancelled;
    reader = Open(bytes, cancelled);
    cancelled.Cancel();
    CMemBitmap frame;
    try {
        reader->ReadFrame(frame);
        ADD_FAILURE() << "a cancelled frame was read";
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_CANCELLED);
    }
}

// Animations of the corpus: frame 0 matches the reference decode of the first frame (the
// canvas grown to hold a first frame that reaches outside the screen), and every later
// frame composes onto that canvas.
TEST(GifAnimationTest, CorpusAnimationsComposeEveryFrame) {
    if (!CorpusAvailable()) GTEST_SKIP() << "the shared corpus is not present";
    int animations = 0;
    for (const CorpusEntry& entry : CorpusEntries("gif")) {
        if (entry.expect != "ok" || entry.reference.empty()) continue;
        SCOPED_TRACE(entry.relPath);
        std::unique_ptr<CAnimationReader> reader;
        try {
            reader = OpenAnimation(entry.file, CDecodeContext{});
        } catch (const CTextException&) {
            continue;  // refused as the plain decode refuses it
        }
        if (!reader) continue;
        ++animations;
        CMemBitmap frame;
        EXPECT_GT(reader->ReadFrame(frame), 0);
        if (entry.relPath.find("out_of_bounds") != std::string::npos) {
            EXPECT_EQ(CompareWithReference(frame, entry), "");
        }
        for (int i = 1; i < reader->FrameCount(); ++i) EXPECT_GT(reader->ReadFrame(frame), 0);
        EXPECT_EQ(frame.Size(), std::make_pair(reader->CanvasWidth(), reader->CanvasHeight()));
    }
    EXPECT_GT(animations, 10);
}
