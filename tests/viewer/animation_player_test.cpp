#include "browser/viewer_model.h"
#include "../codecs/gif_builder.h"
#include "imagelib/dib_section_bitmap.h"
#include "isolation/decoder_pool.h"
#include "support/test_files.h"
#include "viewer/animation_player.h"
#include "viewer/command_ids.h"
#include "viewer/command_table.h"
#include "viewer/test11_doc.h"
#include "viewer_test_support.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <cstdlib>
#include <vector>

namespace {

const GifMap kColours = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};

// Three frames, red, green and blue, each for delay centiseconds; repeats as EncodeGif
// takes it.
QString WriteTrafficLight(const std::string& path, int delay, int repeats) {
    std::vector<GifImage> images;
    for (int colour = 0; colour < 3; ++colour)
        images.push_back(GifImage{.width = 6, .height = 4, .pixel = [colour](int, int) { return colour; },
                                  .delayCentiseconds = delay});
    WriteBytes(path, EncodeGif(6, 4, 3, kColours, images, repeats));
    return QString::fromStdString(path);
}

int ColourOf(const CAnimationPlayer::Frame& frame) {
    const BGRA pixel = frame->PixelLine(1)[1];
    if (pixel.r == 255) return 0;
    if (pixel.g == 255) return 1;
    return pixel.b == 255 ? 2 : -1;
}

class AnimationPlayer : public ::testing::Test {
protected:
    TempDir dir;
};

// Helpers that act on the test switch's file names, with the watchdog given; the program's
// own pool comes back afterwards.
class FaultyAnimationHelpers : public AnimationPlayer {
protected:
    FaultyAnimationHelpers() { ::setenv("VT_DECODER_TEST_FAULTS", "1", 1); }
    ~FaultyAnimationHelpers() override {
        CDecoderPool::SetShared(nullptr);
        ::unsetenv("VT_DECODER_TEST_FAULTS");
    }
    static void UseHelpers(std::chrono::milliseconds watchdog, const std::string& program = {}) {
        CDecoderPool::Options options = CDecoderPool::DefaultOptions();
        options.size = 1;
        options.helper.watchdog = watchdog;
        if (!program.empty()) options.helper.program = program;
        CDecoderPool::SetShared(std::make_shared<CDecoderPool>(options));
    }
};

// The colours of the frames shown, in order.
std::vector<int> ColoursShown(const QSignalSpy& shown) {
    std::vector<int> colours;
    for (const QList<QVariant>& frame : shown) colours.push_back(ColourOf(frame[0].value<CAnimationPlayer::Frame>()));
    return colours;
}

TEST_F(AnimationPlayer, FramesShowInOrderAtTheirDelaysAndLoopAsTheFileSays) {
    // Played twice (one repeat): six frames, then the last one stays.
    const QString path = WriteTrafficLight(dir.File("light.gif"), 5, 1);
    CAnimationPlayer player;
    QSignalSpy shown(&player, &CAnimationPlayer::FrameShown);
    QElapsedTimer clock;
    clock.start();
    player.Play(path);
    while (shown.size() < 6) ASSERT_TRUE(shown.wait(5000)) << shown.size() << " frames shown";
    EXPECT_GE(clock.elapsed(), 5 * 50 - 20) << "each frame stays for its delay";
    EXPECT_EQ(ColoursShown(shown), (std::vector<int>{0, 1, 2, 0, 1, 2}));
    EXPECT_FALSE(shown.wait(300)) << "no third loop";
    EXPECT_FALSE(player.IsActive());
}

TEST_F(AnimationPlayer, PauseHoldsTheFrameAndAStillPicturePlaysNothing) {
    const QString path = WriteTrafficLight(dir.File("light.gif"), 2, 0);
    CAnimationPlayer player;
    QSignalSpy shown(&player, &CAnimationPlayer::FrameShown);
    player.Play(path);
    ASSERT_TRUE(shown.wait(5000));
    player.SetPaused(true);
    const qsizetype held = shown.size();
    EXPECT_FALSE(shown.wait(200)) << "paused";
    EXPECT_EQ(shown.size(), held);
    player.SetPaused(false);
    EXPECT_TRUE(shown.wait(5000)) << "resumed";

    const QString still = QString::fromStdString(dir.File("still.bmp"));
    WriteBmp32(still.toStdString(), 4, 4, [](int, int) { return qRgb(1, 2, 3); });
    shown.clear();
    player.Play(still);
    EXPECT_FALSE(shown.wait(300));
    EXPECT_FALSE(player.IsActive());
}

TEST_F(AnimationPlayer, TheDocumentShowsTheFramesAndPKeyPausesThem) {
    const QString path = WriteTrafficLight(dir.File("light.gif"), 2, 0);
    CRecordingSeam seam;
    CViewerModel model;
    CTest11Doc document(model);
    CCommandTable commands;
    document.RegisterCommands(commands);
    QSignalSpy updated(&document, &CTest11Doc::Updated);
    ASSERT_TRUE(OpenAndWait(document, path));
    QSignalSpy shown(&document.Animation(), &CAnimationPlayer::FrameShown);
    while (shown.size() < 2) ASSERT_TRUE(shown.wait(5000));
    EXPECT_EQ(qGreen(document.Bitmap().pixel(1, 1)), 255) << "the second frame is the one drawn";
    commands.UpdateAll();
    EXPECT_TRUE(commands.IsEnabled(ID_PAUSE_ANIMATION));
    ASSERT_TRUE(commands.Execute(ID_PAUSE_ANIMATION));
    commands.UpdateAll();
    EXPECT_TRUE(commands.IsChecked(ID_PAUSE_ANIMATION));
    EXPECT_TRUE(document.Animation().IsPaused());
    EXPECT_EQ(document.CurrentBitmap().Width(), 6) << "copy and wallpaper keep the whole picture";
    EXPECT_TRUE(seam.messages.isEmpty());
}

TEST_F(FaultyAnimationHelpers, AHelperThatCrashesOrHangsEndsTheAnimationWhereItIsAndTheNextOnePlays) {
    using namespace std::chrono_literals;
    UseHelpers(1500ms);
    const QString good = WriteTrafficLight(dir.File("light.gif"), 2, 0);
    CAnimationPlayer player;
    QSignalSpy shown(&player, &CAnimationPlayer::FrameShown);
    for (const char* name : {"fault-frame-crash.gif", "fault-frame-hang.gif"}) {
        SCOPED_TRACE(name);
        shown.clear();
        player.Play(WriteTrafficLight(dir.File(name), 2, 0));
        ASSERT_TRUE(shown.wait(5000));
        // The helper goes at the second frame: the first stays.
        QTRY_VERIFY_WITH_TIMEOUT(!player.IsActive(), 10000);
        EXPECT_FALSE(shown.wait(200));
        EXPECT_EQ(ColoursShown(shown), std::vector<int>{0});

        player.Play(good);
        while (shown.size() < 4) ASSERT_TRUE(shown.wait(5000)) << shown.size() << " frames shown";
        EXPECT_EQ(ColoursShown(shown), (std::vector<int>{0, 0, 1, 2}));
        player.Stop();
    }

    // Without a helper nothing plays: the frames are never read in the viewer's own process.
    UseHelpers(1500ms, dir.File("no-such-helper"));
    shown.clear();
    player.Play(good);
    EXPECT_FALSE(shown.wait(500));
    EXPECT_FALSE(player.IsActive());
}

TEST_F(FaultyAnimationHelpers, StopNeverWaitsForAHangingHelperAndTheNextPlayGetsANewOne) {
    using namespace std::chrono_literals;
    UseHelpers(60s);
    CAnimationPlayer player;
    QSignalSpy shown(&player, &CAnimationPlayer::FrameShown);
    player.Play(WriteTrafficLight(dir.File("fault-frame-hang.gif"), 2, 0));
    ASSERT_TRUE(shown.wait(5000));
    EXPECT_FALSE(shown.wait(300)) << "the second frame hangs";
    QElapsedTimer clock;
    clock.start();
    player.Stop();
    EXPECT_LT(clock.elapsed(), 200) << "the window does not wait for the helper";
    // Far sooner than the watchdog: the cancel reached the frame being read, and the
    // helper that did not heed it was ended.
    shown.clear();
    player.Play(WriteTrafficLight(dir.File("light.gif"), 2, 0));
    while (shown.size() < 3) ASSERT_TRUE(shown.wait(10000)) << shown.size() << " frames shown";
    EXPECT_EQ(ColoursShown(shown), (std::vector<int>{0, 1, 2}));
}

}  // namespace
