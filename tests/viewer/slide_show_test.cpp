// The slide show in the whole program: steps driven by its timer, delays, the in-frame and
// full-screen kinds and the switches between them, the presses that end full screen, the
// screen saver held off on the test's private bus, and silent failures during a show.

#include "browser/viewer_model.h"
#include "fake_desktop_services.h"
#include "support/test_files.h"
#include "viewer/command_ids.h"
#include "viewer/main_frame.h"
#include "viewer/sizing_control_bar.h"
#include "viewer/slide_show.h"
#include "viewer/test11_app.h"
#include "viewer/test11_doc.h"
#include "viewer/test11_view.h"
#include "viewer_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QListWidget>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

#include <algorithm>
#include <memory>

namespace {

// The folder's Names list: selecting a row, by a step or by a key, opens its file as the
// frame's image-selected procedure does.
class CPictureList : public QListWidget, public CSlideShowList {
public:
    CPictureList(CTest11App& app, const QStringList& paths) : paths_(paths) {
        for (const QString& path : paths) addItem(QFileInfo(path).fileName());
        connect(this, &QListWidget::currentRowChanged, this, [this, &app](int row) {
            if (row < 0) return;
            app.OpenDocumentFile(paths_[row]);
            app.MainFrame()->Model().g_strCurrentFile = paths_[row];
            app.MainFrame()->SlideShow().SetPosition(row);
        });
    }

    int RowCount() const override { return count(); }
    void Focus() override { setFocus(); }
    void SelectNextRow() override {
        if (currentRow() + 1 < count()) setCurrentRow(currentRow() + 1);
    }
    void SelectFirstRow() override { setCurrentRow(0); }
    void FollowOnThumbnails(int) override {}

private:
    QStringList paths_;
};

// Waits, handling events, until done() holds or a few seconds pass.
bool WaitFor(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 5000) QTest::qWait(10);
    return done();
}

class SlideShow : public ::testing::Test {
protected:
    void SetUp() override { RemoveSettings(); }
    void TearDown() override { app.reset(); }

    // Starts the program on a folder of count pictures (or the given files) and selects
    // the first one.
    void Start(int count = 3, QStringList files = {}) {
        for (int i = 0; files.size() < count; ++i) {
            const QString path = QString::fromStdString(dir.File("picture" + std::to_string(i + 1) + ".bmp"));
            WriteBmp32(path.toStdString(), 32 + i, 24, [i](int, int) { return qRgb(60 * i, 90, 200); });
            files << path;
        }
        paths = files;
        app = std::make_unique<CTest11App>();
        ASSERT_TRUE(app->InitInstance({QStringLiteral("vtview"), QStringLiteral("--no-splash")}));
        list = new CPictureList(*app, paths);
        Frame().FileListBar()->setWidget(list);
        Show().SetList(list);
        QApplication::setActiveWindow(&Frame());
        QApplication::processEvents();
        list->setCurrentRow(0);
        ASSERT_TRUE(WaitForPicture(*app->Document()));
    }

    CMainFrame& Frame() { return *app->MainFrame(); }
    CViewerModel& Model() { return app->MainFrame()->Model(); }
    CSlideShow& Show() { return Frame().SlideShow(); }
    CCommandTable& Commands() { return Frame().Commands(); }
    QString Shown() { return QFileInfo(app->Document()->PathName()).fileName(); }
    void Tick() { QMetaObject::invokeMethod(const_cast<QTimer*>(&Show().Timer()), "timeout"); }

    void ExpectWindowRestored() {
        EXPECT_FALSE(Model().g_bSlideShowFullScreen);
        EXPECT_FALSE(Frame().isFullScreen());
        EXPECT_TRUE(Frame().menuBar()->isVisible());
        EXPECT_TRUE(Frame().ToolBar()->isVisible());
        EXPECT_TRUE(Frame().statusBar()->isVisible());
        EXPECT_TRUE(Frame().DirectoryBar()->isVisible()) << "the directory bar is always back";
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_FALSE(Show().Timer().isActive());
    }

    TempDir dir;
    QStringList paths;
    CRecordingSeam seam;
    std::unique_ptr<CTest11App> app;
    CPictureList* list = nullptr;
};

TEST_F(SlideShow, StepsThroughTheFolderAndWrapsAround) {
    Start();
    ASSERT_EQ(Shown(), QStringLiteral("picture1.bmp"));
    EXPECT_TRUE(Commands().IsChecked(ID_DELAY_2));
    EXPECT_FALSE(Commands().IsEnabled(ID_STOP_SLIDE_SHOW));

    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW));
    EXPECT_TRUE(Model().g_bSlideShowInFrame);
    EXPECT_TRUE(Commands().IsChecked(ID_SLIDE_SHOW));
    EXPECT_TRUE(Commands().IsEnabled(ID_STOP_SLIDE_SHOW));
    EXPECT_TRUE(Show().Timer().isActive());
    EXPECT_EQ(Show().Timer().interval(), 2000);

    for (const char* next : {"picture2.bmp", "picture3.bmp", "picture1.bmp", "picture2.bmp"}) {
        Tick();
        EXPECT_EQ(Shown(), QLatin1String(next));
        EXPECT_EQ(Show().Position(), list->currentRow());
    }
    EXPECT_EQ(Model().g_strCurrentFile, paths[1]);

    // A show started further on goes on from the image selected last.
    list->setCurrentRow(2);
    Tick();
    EXPECT_EQ(Shown(), QStringLiteral("picture1.bmp"));

    ASSERT_TRUE(Commands().Execute(ID_STOP_SLIDE_SHOW));
    EXPECT_FALSE(Model().g_bSlideShowInFrame);
    EXPECT_FALSE(Show().Timer().isActive());
    EXPECT_FALSE(Commands().IsChecked(ID_SLIDE_SHOW));
}

TEST_F(SlideShow, OnePictureNeverMoves) {
    Start(1);
    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW));
    Tick();
    Tick();
    EXPECT_EQ(Shown(), QStringLiteral("picture1.bmp"));
    EXPECT_EQ(Show().Position(), 0);
}

TEST_F(SlideShow, DelayChangesRestartTheRunningTimer) {
    Start();
    // Chosen while no show runs: remembered for the next start.
    ASSERT_TRUE(Commands().Execute(ID_DELAY_30));
    EXPECT_FALSE(Show().Timer().isActive());
    EXPECT_TRUE(Commands().IsChecked(ID_DELAY_30));
    EXPECT_FALSE(Commands().IsChecked(ID_DELAY_2));

    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW));
    EXPECT_EQ(Show().Timer().interval(), 30000);
    ASSERT_TRUE(Commands().Execute(ID_DELAY_10));
    EXPECT_TRUE(Show().Timer().isActive());
    EXPECT_EQ(Show().Timer().interval(), 10000);
    // Counted from the change (a coarse timer may run up to 5 % late), not what was left of 30.
    EXPECT_LE(Show().Timer().remainingTime(), 10500);
    EXPECT_TRUE(Commands().IsChecked(ID_DELAY_10));

    const std::vector<std::pair<int, int>> delays = {{ID_DELAY_1, 1000}, {ID_DELAY_5, 5000}, {ID_DELAY_15, 15000},
                                                     {ID_DELAY_20, 20000}, {ID_DELAY_2, 2000}};
    for (const auto& [id, period] : delays) {
        ASSERT_TRUE(Commands().Execute(id));
        EXPECT_EQ(Show().Timer().interval(), period);
        for (const auto& [other, unused] : delays) EXPECT_EQ(Commands().IsChecked(other), other == id) << other;
    }
}

TEST_F(SlideShow, FullScreenHidesEverythingAndAKeyBringsItBackAndStillActs) {
    Start();
    // A hidden directory bar comes back afterwards anyway.
    ASSERT_TRUE(Commands().Execute(ID_DIRECTORY_TREE_BAR));
    ASSERT_FALSE(Frame().DirectoryBar()->isVisible());

    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW_FULL_SCREEN));
    EXPECT_TRUE(Model().g_bSlideShowFullScreen);
    EXPECT_FALSE(Model().g_bSlideShowInFrame);
    EXPECT_TRUE(Frame().isFullScreen());
    EXPECT_TRUE(Commands().IsChecked(ID_SLIDE_SHOW_FULL_SCREEN));
    EXPECT_FALSE(Commands().IsEnabled(ID_STOP_SLIDE_SHOW));
    for (QWidget* bar : {static_cast<QWidget*>(Frame().DirectoryBar()), static_cast<QWidget*>(Frame().FileListBar()),
                         static_cast<QWidget*>(Frame().ToolBar()), static_cast<QWidget*>(Frame().statusBar()),
                         static_cast<QWidget*>(Frame().menuBar())})
        EXPECT_FALSE(bar->isVisible()) << bar->metaObject()->className();
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BlankCursor);
    for (int id : {ID_DIRECTORY_TREE_BAR, ID_FILE_LIST_BAR, ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, ID_DEFAULT_BARS})
        EXPECT_FALSE(Commands().IsEnabled(id)) << id;
    EXPECT_TRUE(Show().Timer().isActive());
    Tick();
    ASSERT_EQ(Shown(), QStringLiteral("picture2.bmp"));

    // The down arrow ends the show and then does what it always does: the next image.
    QTest::keyClick(Frame().windowHandle(), Qt::Key_Down);
    ExpectWindowRestored();
    EXPECT_TRUE(Frame().FileListBar()->isVisible());
    EXPECT_EQ(Shown(), QStringLiteral("picture3.bmp"));
    EXPECT_EQ(QApplication::focusWidget(), list);
    EXPECT_TRUE(seam.messages.isEmpty());

    // A shortcut key ends the show too, then runs its command.
    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW_FULL_SCREEN));
    QTest::keyClick(Frame().windowHandle(), Qt::Key_F1);
    ExpectWindowRestored();
    EXPECT_NE(Frame().HelpWindow(), nullptr);
}

TEST_F(SlideShow, MousePressesEndFullScreen) {
    Start();
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW_FULL_SCREEN));
        ASSERT_TRUE(Model().g_bSlideShowFullScreen);
        QTest::mousePress(app->View()->viewport(), button, {}, QPoint(20, 20));
        QTest::mouseRelease(app->View()->viewport(), button, {}, QPoint(20, 20));
        ExpectWindowRestored();
        app->View()->ContextMenu()->hide();
    }
    // Other input leaves it running.
    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW_FULL_SCREEN));
    QTest::mouseMove(app->View()->viewport(), QPoint(40, 40));
    EXPECT_TRUE(Model().g_bSlideShowFullScreen);
    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW_FULL_SCREEN));
    ExpectWindowRestored();
}

TEST_F(SlideShow, SwitchingKindsLeavesOneShowWithOneTimer) {
    Start();
    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW));
    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW_FULL_SCREEN));
    EXPECT_FALSE(Model().g_bSlideShowInFrame);
    EXPECT_TRUE(Model().g_bSlideShowFullScreen);
    EXPECT_TRUE(Show().Timer().isActive());
    Tick();
    EXPECT_EQ(Shown(), QStringLiteral("picture2.bmp")) << "one step per tick";

    // Back to the show in the frame: the window returns first.
    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW));
    EXPECT_TRUE(Model().g_bSlideShowInFrame);
    EXPECT_FALSE(Model().g_bSlideShowFullScreen);
    EXPECT_FALSE(Frame().isFullScreen());
    EXPECT_TRUE(Frame().menuBar()->isVisible());
    EXPECT_TRUE(Show().Timer().isActive());
    // The show in the frame has no keyboard exit.
    QTest::keyClick(Frame().windowHandle(), Qt::Key_Down);
    EXPECT_TRUE(Model().g_bSlideShowInFrame);
}

TEST_F(SlideShow, ClosingDuringFullScreenKeepsTheWindowsLayout) {
    Start();
    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW_FULL_SCREEN));
    ASSERT_TRUE(Commands().Execute(ID_APP_EXIT));
    app.reset();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    Start();
    EXPECT_TRUE(Frame().ToolBar()->isVisible());
    EXPECT_TRUE(Frame().statusBar()->isVisible());
}

TEST_F(SlideShow, PictureThatFailsDuringAShowIsPassedSilently) {
    const QString broken = QString::fromStdString(dir.File("broken.bmp"));
    WriteBytes(broken.toStdString(), {'B', 'M', 1, 2, 3});
    const QString good = QString::fromStdString(dir.File("good.bmp"));
    WriteBmp32(good.toStdString(), 20, 20, [](int, int) { return qRgb(1, 2, 3); });
    Start(3, {good, broken});
    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW_FULL_SCREEN));
    Tick();
    ASSERT_TRUE(WaitForPicture(*app->Document()));
    EXPECT_FALSE(Model().g_bImageLoaded);
    Tick();
    ASSERT_TRUE(WaitForPicture(*app->Document()));
    EXPECT_TRUE(Model().g_bImageLoaded);
    EXPECT_TRUE(Model().g_bSlideShowFullScreen);
    EXPECT_TRUE(seam.messages.isEmpty()) << seam.messages.join(QLatin1Char('|')).toStdString();
}

TEST_F(SlideShow, ScreenSaverIsHeldOffWhileAShowRuns) {
    // Without the service the show runs just the same and says nothing.
    Start();
    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW));
    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW));
    QTest::qWait(50);
    EXPECT_FALSE(Show().ScreenSaver().IsInhibited());
    EXPECT_TRUE(seam.messages.isEmpty());
    app.reset();

    const std::unique_ptr<CFakeScreenSaver> saver = CFakeScreenSaver::Start();
    ASSERT_TRUE(saver) << "the test's private session bus is not running";
    Start();
    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW));
    ASSERT_TRUE(WaitFor([&] { return Show().ScreenSaver().IsInhibited(); }));
    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW));
    ASSERT_TRUE(WaitFor([&] { return saver->Calls().size() == 2; }));
    EXPECT_TRUE(saver->Calls()[0].startsWith(QStringLiteral("Inhibit Vantoro Software Image Viewer"))) << saver->Calls()[0].toStdString();
    EXPECT_EQ(saver->Calls()[1], QStringLiteral("UnInhibit 1"));

    // Switching kinds at once releases the first inhibit only after it arrived; a show
    // running at exit is released too.
    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW));
    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW_FULL_SCREEN));
    ASSERT_TRUE(WaitFor([&] { return Show().ScreenSaver().IsInhibited(); }));
    app.reset();
    const QStringList calls = saver->Calls();
    ASSERT_GE(calls.size(), 4);
    EXPECT_EQ(calls.back(), QStringLiteral("UnInhibit %1").arg(calls.size() / 2)) << calls.join(QLatin1Char('|')).toStdString();
    const auto count = [&calls](const char* method) {
        return std::count_if(calls.begin(), calls.end(), [method](const QString& call) { return call.startsWith(QLatin1String(method)); });
    };
    EXPECT_EQ(count("UnInhibit "), count("Inhibit "));
}

}  // namespace
