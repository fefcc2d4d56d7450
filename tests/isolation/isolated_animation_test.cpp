// Animations whose frames a decoder helper of their own reads: the frames, delays and loops
// the viewer gets back against the library's own reader, the checks on each frame a helper
// answers, and a helper that crashes, hangs or is cancelled in the middle of an animation.

#include "fault_switch.h"
#include "../codecs/gif_builder.h"
#include "codecs/animation_source.h"
#include "imagelib/decode_context.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "isolation/decoder_pool.h"
#include "isolation/isolated_animation.h"
#include "isolation/memfd_bitmap.h"
#include "isolation/opaque_alpha.h"
#include "support/test_files.h"
#include "support/test_profiles.h"

#include <gtest/gtest.h>

#ifdef VT_HAVE_WEBP_ENCODERS
#include <webp/encode.h>
#include <webp/mux.h>
#endif

#include <signal.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

DecoderHelperOptions Helper(std::chrono::milliseconds watchdog = 60s, const std::string& program = {}) {
    DecoderHelperOptions options = CDecoderPool::DefaultOptions().helper;
    options.watchdog = watchdog;
    if (!program.empty()) options.program = program;
    return options;
}

// The code and text a call fails with; code 0 when it succeeds.
template <typename Call>
std::pair<int, std::string> FailureOf(Call&& call) {
    try {
        call();
    } catch (const CTextException& failure) {
        return {failure.Code(), failure.Text()};
    }
    return {0, {}};
}

const GifMap kColours = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255},
                         {9, 9, 9},   {9, 9, 9},   {9, 9, 9},   {9, 9, 9}};

// Four frames on a 9 x 7 canvas that take the GIF compositing rules through their paces: a
// full first frame, a patch with a transparent index kept, one restored to the background
// (index 4 is transparent there) and a too-short delay. Played `repeats` + 1 times.
std::vector<uint8_t> CompositedGif(int repeats) {
    std::vector<GifImage> images;
    images.push_back(GifImage{.width = 9, .height = 7, .pixel = [](int x, int y) { return (x + y) % 4; },
                              .delayCentiseconds = 7});
    images.push_back(GifImage{.left = 2, .top = 1, .width = 4, .height = 3,
                              .pixel = [](int x, int) { return x % 2 ? 4 : 3; }, .transparentIndex = 4,
                              .delayCentiseconds = 12});
    images.push_back(GifImage{.left = 5, .top = 3, .width = 3, .height = 3, .pixel = [](int, int) { return 2; },
                              .transparentIndex = 4, .disposal = 2, .delayCentiseconds = 3});
    images.push_back(GifImage{.left = 0, .top = 0, .width = 2, .height = 2, .pixel = [](int, int) { return 1; },
                              .delayCentiseconds = 1});
    return EncodeGif(9, 7, 4, kColours, images, repeats);
}

// A crash or hang of the helper's test switch needs a real animation behind the name.
std::string WriteGif(const TempDir& dir, const std::string& name, int repeats = 0) {
    WriteBytes(dir.File(name), CompositedGif(repeats));
    return dir.File(name);
}

#ifdef VT_HAVE_WEBP_ENCODERS
// Three lossless frames, the second half transparent, with these durations, looped 3 times.
std::string WriteWebPAnimation(const TempDir& dir, const std::string& name) {
    constexpr int kWidth = 12;
    constexpr int kHeight = 5;
    WebPAnimEncoderOptions options;
    WebPAnimEncoderOptionsInit(&options);
    options.anim_params.loop_count = 3;
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(kWidth, kHeight, &options);
    WebPConfig config;
    WebPConfigInit(&config);
    config.lossless = 1;
    const std::array<std::array<uint8_t, 4>, 3> colours = {{{200, 10, 10, 255}, {10, 200, 10, 128}, {10, 10, 200, 255}}};
    const std::array<int, 3> durations = {30, 0, 90};
    int timestamp = 0;
    for (size_t i = 0; i < colours.size(); ++i) {
        std::vector<uint8_t> rgba;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const bool stripe = x == static_cast<int>(i) * 3 + y;
                for (const uint8_t sample : stripe ? std::array<uint8_t, 4>{1, 2, 3, 255} : colours[i])
                    rgba.push_back(sample);
            }
        WebPPicture picture;
        WebPPictureInit(&picture);
        picture.width = kWidth;
        picture.height = kHeight;
        picture.use_argb = 1;
        WebPPictureImportRGBA(&picture, rgba.data(), kWidth * 4);
        WebPAnimEncoderAdd(encoder, &picture, timestamp, &config);
        WebPPictureFree(&picture);
        timestamp += durations[i];
    }
    WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr);
    WebPData output;
    WebPDataInit(&output);
    WebPAnimEncoderAssemble(encoder, &output);
    WriteBytes(dir.File(name), std::vector<uint8_t>(output.bytes, output.bytes + output.size));
    WebPDataClear(&output);
    WebPAnimEncoderDelete(encoder);
    return dir.File(name);
}
#endif

}  // namespace

TEST(IsolatedAnimation, FramesDelaysAndLoopsMatchTheLibrarysOwnReader) {
    TempDir dir;
    std::vector<std::string> files = {WriteGif(dir, "composited.gif", 2)};
#ifdef VT_HAVE_WEBP_ENCODERS
    files.push_back(WriteWebPAnimation(dir, "translucent.webp"));
#endif
    CDecodeContext swapped;
    swapped.targetProfile = SwappedRedGreenProfile();
    for (const std::string& file : files) {
        for (const CDecodeContext& context : {CDecodeContext(), swapped}) {
            SCOPED_TRACE(file + (context.targetProfile.empty() ? " in sRGB" : " in swapped colours"));
            const auto expected = OpenAnimation(file, context);
            ASSERT_NE(expected, nullptr);
            const auto animation = CIsolatedAnimation::Open(file, context, Helper());
            ASSERT_NE(animation, nullptr);
            EXPECT_NE(animation->HelperPid(), ::getpid());
            EXPECT_EQ(animation->FrameCount(), expected->FrameCount());
            EXPECT_EQ(animation->LoopCount(), expected->LoopCount());
            EXPECT_EQ(animation->Width(), expected->CanvasWidth());
            EXPECT_EQ(animation->Height(), expected->CanvasHeight());
            // Two loops, the second after a rewind, and the end of each.
            for (int loop = 0; loop < 2; ++loop) {
                for (int index = 0; index <= expected->FrameCount(); ++index) {
                    SCOPED_TRACE("loop " + std::to_string(loop) + ", frame " + std::to_string(index));
                    CMemBitmap want;
                    const int wantDelay = expected->ReadFrame(want);
                    std::shared_ptr<CMemfdBitmap> frame;
                    const int delay = animation->ReadFrame(frame);
                    EXPECT_EQ(delay, wantDelay);
                    if (wantDelay < 0) {
                        EXPECT_EQ(frame, nullptr);
                        continue;
                    }
                    MakeOpaque(want);
                    ASSERT_NE(frame, nullptr);
                    std::string why;
                    EXPECT_TRUE(SamePixels(*frame, want, &why)) << why;
                    EXPECT_EQ(frame->HasAlpha(), want.HasAlpha());
                }
                expected->Rewind();
                animation->Rewind();
            }
        }
    }

    // A still picture opens no animation; a file that is not there, and an animation whose
    // data ends inside a later frame, fail as they do in the library's own reader.
    WriteBytes(dir.File("still.gif"), EncodeGif(4, 4, 0, kColours, {GifImage{.width = 4, .height = 4,
                                                                              .pixel = [](int, int) { return 1; }}}));
    EXPECT_EQ(CIsolatedAnimation::Open(dir.File("still.gif"), CDecodeContext(), Helper()), nullptr);
    const std::vector<uint8_t> whole = CompositedGif(0);
    bool cutInsideAFrame = false;
    for (size_t cut = whole.size() / 2; cut < whole.size() && !cutInsideAFrame; ++cut) {
        const std::string file = dir.File("cut" + std::to_string(cut) + ".gif");
        WriteBytes(file, std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
        int frames = 0;
        const auto inProcess = FailureOf([&] {
            const auto reader = OpenAnimation(file, CDecodeContext());
            CMemBitmap frame;
            while (reader && reader->ReadFrame(frame) >= 0) ++frames;
        });
        cutInsideAFrame = frames > 1 && inProcess.first != 0;
        if (!cutInsideAFrame) continue;
        SCOPED_TRACE(file);
        int isolatedFrames = 0;
        const auto isolated = FailureOf([&] {
            const auto animation = CIsolatedAnimation::Open(file, CDecodeContext(), Helper());
            std::shared_ptr<CMemfdBitmap> frame;
            while (animation && animation->ReadFrame(frame) >= 0) ++isolatedFrames;
        });
        EXPECT_EQ(isolated, inProcess);
        EXPECT_EQ(isolatedFrames, frames);
    }
    EXPECT_TRUE(cutInsideAFrame);
    const auto missing = [&](auto open) { return FailureOf([&] { open(dir.File("missing.gif"), CDecodeContext()); }); };
    EXPECT_EQ(missing([](const std::string& file, const CDecodeContext& context) {
                  CIsolatedAnimation::Open(file, context, Helper());
              }),
              missing([](const std::string& file, const CDecodeContext& context) { OpenAnimation(file, context); }));

    CDecodeContext tight;
    tight.storageLimit = 9 * 7 * 4 - 1;
    EXPECT_EQ(FailureOf([&] { CIsolatedAnimation::Open(files[0], tight, Helper()); }).first, ERR_OUT_OF_MEMORY);
}

TEST(IsolatedAnimation, AHelperThatCrashesHangsOrIsKilledEndsTheAnimation) {
    const FaultSwitch faults;
    TempDir dir;
    {
        const auto animation = CIsolatedAnimation::Open(WriteGif(dir, "fault-frame-crash.gif"), CDecodeContext(), Helper());
        ASSERT_NE(animation, nullptr);
        std::shared_ptr<CMemfdBitmap> frame;
        EXPECT_GT(animation->ReadFrame(frame), 0);
        const auto [code, text] = FailureOf([&] { animation->ReadFrame(frame); });
        EXPECT_EQ(code, ERR_BAD_DATA);
        EXPECT_NE(text.find("fault-frame-crash.gif (its decoder crashed)"), std::string::npos) << text;
        // The helper is gone, and so is the animation.
        EXPECT_EQ(FailureOf([&] { animation->Rewind(); }).first, ERR_BAD_DATA);
    }
    {
        const auto start = std::chrono::steady_clock::now();
        const auto animation = CIsolatedAnimation::Open(WriteGif(dir, "fault-frame-hang.gif"), CDecodeContext(), Helper(1500ms));
        ASSERT_NE(animation, nullptr);
        std::shared_ptr<CMemfdBitmap> frame;
        EXPECT_GT(animation->ReadFrame(frame), 0);
        const auto [code, text] = FailureOf([&] { animation->ReadFrame(frame); });
        EXPECT_EQ(code, ERR_BAD_DATA);
        EXPECT_NE(text.find("took too long"), std::string::npos) << text;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
    }
    {
        // A cancel ends a hanging frame long before the watchdog would.
        CDecodeContext context;
        const auto animation = CIsolatedAnimation::Open(WriteGif(dir, "fault-frame-hang.gif"), context, Helper());
        ASSERT_NE(animation, nullptr);
        std::shared_ptr<CMemfdBitmap> frame;
        EXPECT_GT(animation->ReadFrame(frame), 0);
        auto read = std::async(std::launch::async, [&] { return FailureOf([&] { animation->ReadFrame(frame); }); });
        ASSERT_EQ(read.wait_for(300ms), std::future_status::timeout);
        context.Cancel();
        ASSERT_EQ(read.wait_for(10s), std::future_status::ready);
        EXPECT_EQ(read.get().first, ERR_CANCELLED);
    }
    {
        const auto animation = CIsolatedAnimation::Open(WriteGif(dir, "plain.gif"), CDecodeContext(), Helper());
        ASSERT_NE(animation, nullptr);
        ASSERT_EQ(::kill(animation->HelperPid(), SIGKILL), 0);
        std::shared_ptr<CMemfdBitmap> frame;
        EXPECT_NE(FailureOf([&] { animation->ReadFrame(frame); }).first, 0);
        EXPECT_EQ(frame, nullptr);
    }
    // A crash while the animation opens fails the opening.
    EXPECT_EQ(FailureOf([&] { CIsolatedAnimation::Open(WriteGif(dir, "fault-crash.gif"), CDecodeContext(), Helper()); })
                  .first,
              ERR_BAD_DATA);
}

TEST(IsolatedAnimation, BrokenFramesAreRefusedBeforeAnythingIsMapped) {
    TempDir dir;
    const std::string file = WriteGif(dir, "good.gif");
    const struct {
        const char* reply;
        int code;
        const char* says;
    } cases[] = {
        {"unsealed", ERR_BAD_DATA, "answered nonsense"}, {"short", ERR_BAD_DATA, "answered nonsense"},
        {"stride", ERR_BAD_DATA, "answered nonsense"},   {"frame-size", ERR_BAD_DATA, "answered nonsense"},
        {"huge", ERR_BAD_DATA, "answered nonsense"},
    };
    for (const auto& broken : cases) {
        SCOPED_TRACE(broken.reply);
        ::setenv("VT_FAKE_HELPER_REPLY", broken.reply, 1);
        const auto animation = CIsolatedAnimation::Open(file, CDecodeContext(), Helper(60s, VT_FAKE_HELPER));
        ASSERT_NE(animation, nullptr);
        std::shared_ptr<CMemfdBitmap> frame;
        const auto [code, text] = FailureOf([&] { animation->ReadFrame(frame); });
        EXPECT_EQ(code, broken.code);
        EXPECT_NE(text.find(broken.says), std::string::npos) << text;
        EXPECT_EQ(frame, nullptr);
    }
    ::unsetenv("VT_FAKE_HELPER_REPLY");
}
