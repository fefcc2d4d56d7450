// Decoding through helper processes: the pictures and failures the viewer gets back, the
// checks on what a helper answers, a helper's crash, hang and memory exhaustion, and the
// confinement it decodes in.

#include "fault_switch.h"
#include "codecs/auto_decoder.h"
#include "imagelib/decode_context.h"
#include "imagelib/image_encoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "isolation/decoder_pool.h"
#include "isolation/memfd_bitmap.h"
#include "support/test_files.h"
#include "support/test_profiles.h"

#include <gtest/gtest.h>

#include <QImage>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

std::shared_ptr<CDecoderPool> MakePool(std::chrono::milliseconds watchdog = 60s, int size = 2,
                                       const std::string& program = {}) {
    CDecoderPool::Options options = CDecoderPool::DefaultOptions();
    options.size = size;
    options.helper.watchdog = watchdog;
    if (!program.empty()) options.helper.program = program;
    return std::make_shared<CDecoderPool>(options);
}

// The code and text a decode through pool fails with; code 0 when it succeeds.
std::pair<int, std::string> FailureOf(CDecoderPool& pool, const std::string& file,
                                      const CDecodeContext& context = CDecodeContext()) {
    try {
        pool.DecodeFile(file, context, 32);
    } catch (const CTextException& failure) {
        return {failure.Code(), failure.Text()};
    }
    return {0, {}};
}

std::pair<int, std::string> InProcessFailureOf(const std::string& file) {
    try {
        CAutoDecoder decoder;
        CMemBitmap picture;
        decoder.DecodeFile(file, picture, CDecodeContext(), 32);
    } catch (const CTextException& failure) {
        return {failure.Code(), failure.Text()};
    }
    return {0, {}};
}

std::string WriteBmp(const TempDir& dir, const std::string& name, int depth) {
    CMemBitmap pattern;
    CreatePattern(pattern, 37, 23, depth);
    CBMPEncoder().EncodeFile(dir.File(name), pattern);
    return dir.File(name);
}

// A valid picture under a name the helper's test switch acts on.
std::string WriteFaulty(const TempDir& dir, const std::string& name) {
    return WriteBmp(dir, name, 32);
}

}  // namespace

TEST(IsolatedDecode, PicturesAndMetadataMatchAnInProcessDecode) {
    TempDir dir;
    const std::vector<std::string> files = {
        WriteBmp(dir, "true.bmp", 32),
        WriteBmp(dir, "palette.bmp", 8),
        WriteBmp(dir, "bilevel.bmp", 1),
        TestDataPath("png/rgba_interlaced_magick.png"),
        TestDataPath("png/palette_transparent_pillow.png"),
        TestDataPath("jpeg/cmyk_magick.jpeg"),
        TestDataPath("jpeg/progressive_cjpeg.jpeg"),
    };
    const auto pool = MakePool();
    CDecodeContext swapped;
    swapped.targetProfile = SwappedRedGreenProfile();
    CDecodeContext stored;
    stored.colourManagement = false;
    stored.applyOrientation = false;
    for (const std::string& file : files) {
        for (const CDecodeContext* context : {&swapped, &stored}) {
            for (const int depth : {0, 32}) {
                SCOPED_TRACE(file + " at depth " + std::to_string(depth));
                CAutoDecoder decoder;
                CMemBitmap expected;
                decoder.DecodeFile(file, expected, *context, depth);
                const auto picture = pool->DecodeFile(file, *context, depth);
                std::string why;
                EXPECT_TRUE(SamePixels(*picture, expected, &why)) << why;
                EXPECT_EQ(picture->HasAlpha(), expected.HasAlpha());
                EXPECT_EQ(picture->Metadata(), expected.Metadata());
                const ImageInfo probed = pool->ProbeFile(file, *context);
                const ImageInfo reference = decoder.ProbeFile(file, context);
                EXPECT_EQ(probed.width, reference.width);
                EXPECT_EQ(probed.bitsPerPixel, reference.bitsPerPixel);
                EXPECT_EQ(probed.hasAlpha, reference.hasAlpha);
            }
        }
    }
}

TEST(IsolatedDecode, OpaqueAlphaAndScaledDecodingAreTheHelpersWork) {
    TempDir dir;
    const auto pool = MakePool();
    // A 32-bit BMP's alpha bytes are zero and mean nothing.
    const std::string file = WriteBmp(dir, "zero-alpha.bmp", 32);
    const auto picture = pool->DecodeFile(file, CDecodeContext(), 32, true);
    ASSERT_FALSE(picture->HasAlpha());
    for (int y = 0; y < picture->Height(); ++y)
        for (int x = 0; x < picture->Width(); ++x) ASSERT_EQ(picture->PixelLine(y)[x].a, 255);

    CDecodeContext small;
    small.minWidth = 10;
    small.minHeight = 6;
    CAutoDecoder decoder;
    CMemBitmap expected;
    const std::string jpeg = TestDataPath("jpeg/rgb_q90_cjpeg.jpeg");
    decoder.DecodeFile(jpeg, expected, small, 32);
    const auto scaled = pool->DecodeFile(jpeg, small, 32);
    EXPECT_TRUE(SamePixels(*scaled, expected));
    EXPECT_EQ(scaled->Metadata().scaleDenominator, expected.Metadata().scaleDenominator);
    EXPECT_GT(scaled->Metadata().scaleDenominator, 1);
}

TEST(IsolatedDecode, ThePixelsOutliveTheBitmapInAQImage) {
    TempDir dir;
    const auto pool = MakePool(60s, 1);
    const std::string file = WriteBmp(dir, "true.bmp", 32);
    auto picture = pool->DecodeFile(file, CDecodeContext(), 32);
    const QImage expected = picture->BitmapHandle().copy();
    const QImage released = picture->ReleaseBitmapHandle();
    picture.reset();
    ASSERT_EQ(released.size(), expected.size());
    EXPECT_EQ(released, expected);
}

TEST(IsolatedDecode, FailuresCarryTheLibrarysCodeAndText) {
    TempDir dir;
    const auto pool = MakePool();
    const std::vector<uint8_t> png = ReadBytes(TestDataPath("png/rgba_interlaced_magick.png"));
    WriteBytes(dir.File("cut.png"), std::vector<uint8_t>(png.begin(), png.begin() + 300));
    WriteBytes(dir.File("empty.png"), {});
    WriteBytes(dir.File("unknown.dat"), std::vector<uint8_t>(64, 0x5A));
    ASSERT_EQ(::mkfifo(dir.File("pipe.png").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir(dir.File("folder.png").c_str(), 0700), 0);
    for (const std::string name : {"cut.png", "empty.png", "unknown.dat", "pipe.png", "folder.png", "missing.png"}) {
        SCOPED_TRACE(name);
        const auto expected = InProcessFailureOf(dir.File(name));
        ASSERT_NE(expected.first, 0);
        EXPECT_EQ(FailureOf(*pool, dir.File(name)), expected);
    }
    EXPECT_EQ(FailureOf(*pool, dir.File("nowhere/x.png")).first, ERR_NO_SUCH_PATH);

    CDecodeContext tight;
    tight.storageLimit = 16;
    EXPECT_EQ(FailureOf(*pool, WriteBmp(dir, "big.bmp", 32), tight).first, ERR_OUT_OF_MEMORY);
    // None of it cost a helper: the one that was started answered every time.
    EXPECT_EQ(pool->HelpersStarted(), 1);
}

TEST(IsolatedDecode, ACrashingHelperFailsItsFileAndIsReplaced) {
    const FaultSwitch faults;
    TempDir dir;
    const auto pool = MakePool(60s, 1);
    const std::string good = WriteBmp(dir, "good.bmp", 32);
    EXPECT_EQ(FailureOf(*pool, good).first, 0);
    const auto [code, text] = FailureOf(*pool, WriteFaulty(dir, "fault-crash.bmp"));
    EXPECT_EQ(code, ERR_BAD_DATA);
    EXPECT_NE(text.find("This file has invalid data"), std::string::npos) << text;
    EXPECT_NE(text.find("fault-crash.bmp"), std::string::npos) << text;
    EXPECT_NE(text.find("crashed"), std::string::npos) << text;
    EXPECT_EQ(FailureOf(*pool, good).first, 0);
    EXPECT_EQ(pool->HelpersStarted(), 2);
}

TEST(IsolatedDecode, AHangingHelperIsEndedByItsWatchdog) {
    const FaultSwitch faults;
    TempDir dir;
    const auto pool = MakePool(1500ms, 1);
    const auto start = std::chrono::steady_clock::now();
    const auto [code, text] = FailureOf(*pool, WriteFaulty(dir, "fault-hang.bmp"));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(code, ERR_BAD_DATA);
    EXPECT_NE(text.find("took too long"), std::string::npos) << text;
    // The helper's own watchdog ended it, not the viewer's later deadline.
    EXPECT_GE(took, 1500ms);
    EXPECT_LT(took, 6s);
    EXPECT_EQ(FailureOf(*pool, WriteBmp(dir, "good.bmp", 8)).first, 0);
}

TEST(IsolatedDecode, ACancelledDecodeEndsEvenWhenItsHelperHangs) {
    const FaultSwitch faults;
    TempDir dir;
    const auto pool = MakePool(60s, 1);
    const std::string hang = WriteFaulty(dir, "fault-hang.bmp");
    CDecodeContext context;
    auto decode = std::async(std::launch::async, [&] { return FailureOf(*pool, hang, context); });
    ASSERT_EQ(decode.wait_for(300ms), std::future_status::timeout);
    context.Cancel();
    // Whoever waits for the cancel (the thumbnails wait on the user-interface thread) is free
    // well within a second, although the helper never answers.
    ASSERT_EQ(decode.wait_for(1500ms), std::future_status::ready);
    EXPECT_EQ(decode.get().first, ERR_CANCELLED);
    EXPECT_EQ(FailureOf(*pool, WriteBmp(dir, "good.bmp", 32)).first, 0);
}

#ifndef VT_SANITIZED_BUILD
TEST(IsolatedDecode, AMemoryHogRunsIntoTheAddressSpaceLimit) {
    const FaultSwitch faults;
    TempDir dir;
    CDecoderPool::Options options = CDecoderPool::DefaultOptions();
    options.size = 1;
    options.helper.storageLimit = uint64_t{256} << 20;
    CDecoderPool pool(options);
    const auto [code, text] = FailureOf(pool, WriteFaulty(dir, "fault-hog.bmp"));
    EXPECT_EQ(code, ERR_OUT_OF_MEMORY) << text;
    EXPECT_EQ(FailureOf(pool, WriteBmp(dir, "good.bmp", 32)).first, 0);
}
#endif

TEST(IsolatedDecode, ConcurrentDecodesShareThePool) {
    TempDir dir;
    const auto pool = MakePool(60s, 2);
    std::vector<std::string> files;
    for (int i = 0; i < 4; ++i) files.push_back(WriteBmp(dir, "p" + std::to_string(i) + ".bmp", i % 2 ? 8 : 32));
    std::vector<std::future<bool>> decodes;
    for (int thread = 0; thread < 4; ++thread)
        decodes.push_back(std::async(std::launch::async, [&, thread] {
            for (int round = 0; round < 5; ++round) {
                const std::string& file = files[static_cast<size_t>((thread + round) % 4)];
                CMemBitmap expected;
                CAutoDecoder().DecodeFile(file, expected, CDecodeContext(), 32);
                if (!SamePixels(*pool->DecodeFile(file, CDecodeContext(), 32), expected)) return false;
            }
            return true;
        }));
    for (auto& decode : decodes) EXPECT_TRUE(decode.get());
    EXPECT_EQ(pool->HelpersStarted(), 2);
}

TEST(IsolatedDecode, BrokenRepliesAreRefusedBeforeAnythingIsMapped) {
    TempDir dir;
    const std::string file = WriteBmp(dir, "good.bmp", 32);
    const struct {
        const char* reply;
        int code;
        const char* says;
    } cases[] = {
        {"unsealed", ERR_BAD_DATA, "answered nonsense"}, {"short", ERR_BAD_DATA, "answered nonsense"},
        {"stride", ERR_BAD_DATA, "answered nonsense"},   {"garbage", ERR_BAD_DATA, "answered nonsense"},
        {"silent", ERR_BAD_DATA, "stopped"},             {"huge", ERR_OUT_OF_MEMORY, "storage limit"},
    };
    for (const auto& broken : cases) {
        SCOPED_TRACE(broken.reply);
        ::setenv("VT_FAKE_HELPER_REPLY", broken.reply, 1);
        const auto pool = MakePool(60s, 1, VT_FAKE_HELPER);
        const auto [code, text] = FailureOf(*pool, file);
        EXPECT_EQ(code, broken.code);
        EXPECT_NE(text.find(broken.says), std::string::npos) << text;
    }
    ::unsetenv("VT_FAKE_HELPER_REPLY");
}

TEST(IsolatedDecode, AReplyWhosePixelsStayWritableIsRefused) {
    TempDir dir;
    ::setenv("VT_FAKE_HELPER_REPLY", "writable", 1);
    const auto pool = MakePool(60s, 1, VT_FAKE_HELPER);
    const auto [code, text] = FailureOf(*pool, WriteBmp(dir, "good.bmp", 32));
    ::unsetenv("VT_FAKE_HELPER_REPLY");
    EXPECT_EQ(code, ERR_BAD_DATA);
    EXPECT_NE(text.find("answered nonsense"), std::string::npos) << text;
}

TEST(IsolatedDecode, PicturesOfChangingSizesThroughOneHelperComeBackWhole) {
    TempDir dir;
    const auto pool = MakePool(60s, 1);
    // Each picture's memory is made while the one before is looked at: a little smaller
    // (cut), far smaller (made apart), far larger (grown), with a palette, large again.
    const struct {
        int width;
        int height;
        int depth;
    } sizes[] = {{1400, 1200, 32}, {1300, 1100, 32}, {50, 40, 32}, {1500, 1000, 8}, {1500, 1000, 32}, {1400, 1200, 1}};
    for (const auto& size : sizes) {
        const std::string name = std::to_string(size.width) + "x" + std::to_string(size.height) + "x" +
                                 std::to_string(size.depth) + ".bmp";
        SCOPED_TRACE(name);
        CMemBitmap pattern;
        CreatePattern(pattern, size.width, size.height, size.depth);
        CBMPEncoder().EncodeFile(dir.File(name), pattern);
        CMemBitmap expected;
        CAutoDecoder().DecodeFile(dir.File(name), expected, CDecodeContext(), 0);
        const auto picture = pool->DecodeFile(dir.File(name), CDecodeContext(), 0);
        std::string why;
        EXPECT_TRUE(SamePixels(*picture, expected, &why)) << why;
        EXPECT_EQ(picture->BitsPerPixel(), expected.BitsPerPixel());
    }
    EXPECT_EQ(pool->HelpersStarted(), 1);
}

namespace {

// The memfds for pixels a helper process holds open.
int PixelMemfdsOf(pid_t pid) {
    int count = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        std::error_code unreadable;
        if (std::filesystem::read_symlink(entry.path(), unreadable).string().find("memfd:vtview-pixels") !=
            std::string::npos)
            ++count;
    }
    return count;
}

// Whether condition holds within limit, looked at every 20 ms.
template <typename Condition>
bool Within(std::chrono::milliseconds limit, Condition condition) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

}  // namespace

TEST(IsolatedDecode, AHelperLeftWaitingGivesBackTheMemoryItMadeAhead) {
    TempDir dir;
    CDecoderProcess helper(CDecoderPool::DefaultOptions().helper);
    const std::string file = WriteBmp(dir, "picture.bmp", 32);
    const CUniqueFd opened(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(opened.Valid());
    const auto picture = helper.Decode(opened.Get(), file, CDecodeContext(), 32, false);
    EXPECT_TRUE(Within(5s, [&] { return PixelMemfdsOf(helper.Pid()) == 1; })) << "memory made for the next picture";
    EXPECT_TRUE(Within(15s, [&] { return PixelMemfdsOf(helper.Pid()) == 0; })) << "and given back while nothing came";
    EXPECT_TRUE(helper.Alive());
}

TEST(IsolatedDecode, AMissingHelperIsReportedNotHidden) {
    TempDir dir;
    const auto pool = MakePool(60s, 1, dir.File("no-such-helper"));
    const auto [code, text] = FailureOf(*pool, WriteBmp(dir, "good.bmp", 32));
    EXPECT_EQ(code, ERR_FEATURE_UNAVAILABLE);
    EXPECT_NE(text.find("no-such-helper"), std::string::npos) << text;
}

#ifdef VT_HAVE_SECCOMP
TEST(IsolatedDecode, TheHelperCannotOpenFiles) {
    const std::string helper = CDecoderPool::DefaultOptions().helper.program;
    ASSERT_FALSE(helper.empty());
    const std::string command = helper + " --test-try-open " + TestDataPath("png/rgba_interlaced_magick.png");
    std::unique_ptr<FILE, int (*)(FILE*)> output(::popen(command.c_str(), "r"), ::pclose);
    ASSERT_TRUE(output);
    char line[64] = {};
    ASSERT_NE(std::fgets(line, sizeof(line), output.get()), nullptr);
    // Refused by the system-call filter, or by Landlock, which leaves only the fonts readable.
    const std::string said = line;
    EXPECT_TRUE(said == "EPERM\n" || said == "EACCES\n") << said;
}
#endif
