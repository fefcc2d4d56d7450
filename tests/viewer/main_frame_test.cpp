// The whole program started as `vtview` does: window, bars, menus, accelerators, the bar and
// help commands, the splash window, the command line, and settings kept across sessions.

#include "browser/viewer_model.h"
#include "viewer/display_layout.h"
#include "platform/help_window.h"
#include "platform/profile.h"
#include "support/test_files.h"
#include "viewer/command_ids.h"
#include "viewer/main_frame.h"
#include "viewer/sizing_control_bar.h"
#include "viewer/splash_wnd.h"
#include "viewer/test11_app.h"
#include "viewer/test11_doc.h"
#include "viewer/test11_view.h"
#include "viewer_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>

#include <memory>
#include <vector>

namespace {

const QString kBarState = QStringLiteral("BarState");
const QString kDirectorySection = QStringLiteral("BarState-SCBar-59424");

class Viewer : public ::testing::Test {
protected:
    void SetUp() override { RemoveSettings(); }
    void TearDown() override { app.reset(); }

    // One run of the program with the given arguments (the splash is off unless asked for).
    bool Start(QStringList arguments = {}, bool splash = false) {
        app = std::make_unique<CTest11App>();
        arguments.prepend(QStringLiteral("vtview"));
        if (!splash) arguments.insert(1, QStringLiteral("--no-splash"));
        const bool started = app->InitInstance(arguments);
        QApplication::processEvents();
        QApplication::processEvents();
        return started;
    }

    // Ends the run as the user does: File > Exit, then the program ends.
    void Exit() {
        ASSERT_TRUE(Commands().Execute(ID_APP_EXIT));
        app.reset();
    }

    CMainFrame& Frame() { return *app->MainFrame(); }
    CViewerModel& Model() { return app->MainFrame()->Model(); }
    CCommandTable& Commands() { return Frame().Commands(); }

    void ExpectBothBarsDockedLeft() {
        for (CSizingControlBar* bar : {Frame().DirectoryBar(), Frame().FileListBar()}) {
            EXPECT_TRUE(bar->isVisible()) << bar->windowTitle().toStdString();
            EXPECT_FALSE(bar->isFloating());
            EXPECT_EQ(Frame().dockWidgetArea(bar), Qt::LeftDockWidgetArea);
        }
        EXPECT_LT(Frame().DirectoryBar()->y(), Frame().FileListBar()->y()) << "the directory bar sits above the file list";
    }

    QString Picture(const char* name) {
        const QString path = QString::fromStdString(dir.File(name));
        WriteBmp32(path.toStdString(), 64, 48, [](int x, int y) { return qRgb(x * 4, y * 5, 90); });
        return path;
    }

    TempDir dir;
    CRecordingSeam seam;
    std::unique_ptr<CTest11App> app;
};

TEST_F(Viewer, FirstRunShowsTheWholeWindowAtNaturalSize) {
    ASSERT_TRUE(Start());
    EXPECT_EQ(Model().StretchState, DisplayMode::Natural());
    EXPECT_TRUE(Model().g_strLastDirectory.isEmpty());
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("Untitled - Vantoro Software Image Viewer 5.0.0"));
    EXPECT_EQ(Frame().frameGeometry(), QGuiApplication::primaryScreen()->availableGeometry());
    EXPECT_TRUE(Frame().ToolBar()->isVisible());
    EXPECT_TRUE(Frame().statusBar()->isVisible());
    EXPECT_EQ(Frame().PromptPane()->text(), QStringLiteral("Ready"));
    EXPECT_EQ(Frame().DirectoryBar()->windowTitle(), QStringLiteral("Directory"));
    EXPECT_EQ(Frame().FileListBar()->windowTitle(), QStringLiteral("File List"));
    ExpectBothBarsDockedLeft();
    EXPECT_EQ(Frame().DirectoryBar()->width(), 200);
    EXPECT_EQ(Frame().centralWidget(), app->View());
    EXPECT_TRUE(seam.messages.isEmpty());
}

TEST_F(Viewer, MenusAndAcceleratorsSendTheirCommands) {
    ASSERT_TRUE(Start());
    QStringList titles;
    for (QAction* menu : Frame().menuBar()->actions()) titles << menu->text();
    EXPECT_EQ(titles, (QStringList{"&File", "&Edit", "&View", "&Zoom", "&Help"}));

    const std::vector<std::pair<QKeySequence, int>> keys = {
        {QKeySequence(QStringLiteral("Ctrl+C")), ID_EDIT_COPY}, {QKeySequence(QStringLiteral("Ctrl+X")), ID_EDIT_CUT},
        {QKeySequence(QStringLiteral("Ctrl+Z")), ID_EDIT_UNDO}, {QKeySequence(QStringLiteral("Ctrl+P")), ID_FILE_PRINT},
        {QKeySequence(QStringLiteral("F6")), ID_NEXT_PANE},     {QKeySequence(QStringLiteral("Shift+F6")), ID_PREV_PANE},
        {QKeySequence(QStringLiteral("Ctrl+R")), ID_PROPORTIONAL_STRETCH},
        {QKeySequence(QStringLiteral("Ctrl+S")), ID_STRETCH_TO_FILL}, {QKeySequence(QStringLiteral("F1")), ID_HELP_CONTENTS},
    };
    for (const auto& [sequence, id] : keys) {
        std::vector<int> owners;
        for (QAction* action : Frame().actions())
            if (action->shortcuts().contains(sequence)) owners.push_back(action->data().toInt());
        EXPECT_EQ(owners, std::vector<int>{id}) << sequence.toString().toStdString();
    }
    // Cut, undo and the pane keys have no handler and stay disabled.
    for (int id : {ID_EDIT_CUT, ID_EDIT_UNDO, ID_NEXT_PANE, ID_PREV_PANE}) EXPECT_FALSE(Commands().IsEnabled(id)) << id;

    QAction* stretch = Commands().Action(ID_STRETCH_TO_FILL);
    EXPECT_EQ(stretch->text(), QStringLiteral("&Stretch to Fill\tCtrl+S"));
    EXPECT_EQ(stretch->statusTip(), QStringLiteral("Stretch or Shrink Image to fill viewing area "));
    EXPECT_EQ(stretch->toolTip(), QStringLiteral("Stretch Image to fill view"));
    EXPECT_TRUE(Frame().ToolBar()->actions().contains(stretch));

    // Pressing Ctrl+R in the window runs proportional stretch.
    QApplication::setActiveWindow(&Frame());
    QTest::keyClick(app->View(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(Model().StretchState, DisplayMode::Proportional());
    EXPECT_TRUE(Commands().Action(ID_PROPORTIONAL_STRETCH)->isChecked());
}

TEST_F(Viewer, BarCommandsHideShowAndRestoreTheBars) {
    ASSERT_TRUE(Start());
    CSizingControlBar* files = Frame().FileListBar();
    CSizingControlBar* folders = Frame().DirectoryBar();
    EXPECT_TRUE(Commands().IsChecked(ID_FILE_LIST_BAR));

    ASSERT_TRUE(Commands().Execute(ID_FILE_LIST_BAR));
    EXPECT_FALSE(files->isVisible());
    EXPECT_FALSE(Commands().IsChecked(ID_FILE_LIST_BAR));
    ASSERT_TRUE(Commands().Execute(ID_FILE_LIST_BAR));
    EXPECT_TRUE(files->isVisible());
    EXPECT_EQ(Frame().dockWidgetArea(files), Qt::LeftDockWidgetArea);

    // The close button hides a bar; its command shows it again, docked at the left.
    folders->setFloating(true);
    folders->close();
    EXPECT_FALSE(Commands().IsChecked(ID_DIRECTORY_TREE_BAR));
    ASSERT_TRUE(Commands().Execute(ID_DIRECTORY_TREE_BAR));
    EXPECT_TRUE(folders->isVisible());
    EXPECT_FALSE(folders->isFloating());

    for (int id : {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR}) {
        EXPECT_TRUE(Commands().IsChecked(id));
        ASSERT_TRUE(Commands().Execute(id));
        EXPECT_FALSE(Commands().IsChecked(id)) << id;
        ASSERT_TRUE(Commands().Execute(id));
        EXPECT_TRUE(Commands().IsChecked(id)) << id;
    }

    // Default View Settings: both docked at the left again, directory bar first.
    files->setFloating(true);
    folders->hide();
    ASSERT_TRUE(Commands().Execute(ID_DEFAULT_BARS));
    QApplication::processEvents();
    ExpectBothBarsDockedLeft();
    EXPECT_EQ(folders->width(), 200);

    // A full-screen slide show disables every bar command, but not help.
    Model().g_bSlideShowFullScreen = true;
    for (int id : {ID_FILE_LIST_BAR, ID_DIRECTORY_TREE_BAR, ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, ID_DEFAULT_BARS})
        EXPECT_FALSE(Commands().IsEnabled(id)) << id;
    EXPECT_FALSE(Commands().Execute(ID_FILE_LIST_BAR));
    EXPECT_TRUE(files->isVisible());
    EXPECT_TRUE(Commands().IsEnabled(ID_HELP_CONTENTS));
    Model().g_bSlideShowFullScreen = false;
}

TEST_F(Viewer, SettingsAndBarSizesSurviveTheSession) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Commands().Execute(ID_PROPORTIONAL_STRETCH));
    Model().g_strLastDirectory = QStringLiteral("/srv/pictures/2024");
    Frame().resizeDocks({Frame().DirectoryBar()}, {260}, Qt::Horizontal);
    QApplication::processEvents();
    ASSERT_EQ(Frame().DirectoryBar()->width(), 260);
    // Hidden bars come back at the next start.
    ASSERT_TRUE(Commands().Execute(ID_FILE_LIST_BAR));
    ASSERT_TRUE(Commands().Execute(ID_DIRECTORY_TREE_BAR));
    ASSERT_TRUE(Commands().Execute(ID_VIEW_STATUS_BAR));
    Exit();

    EXPECT_EQ(Profile::GetInt(QStringLiteral("Settings"), QStringLiteral("StretchState"), -1), 2);
    EXPECT_EQ(Profile::GetString(QStringLiteral("Settings"), QStringLiteral("LastDirectoryUsed")), QStringLiteral("/srv/pictures/2024"));
    EXPECT_EQ(Profile::GetInt(kDirectorySection, QStringLiteral("sizeVertCX"), -1), 260);
    for (const char* value : {"sizeHorzCX", "sizeHorzCY", "sizeVertCY", "sizeFloatCX", "sizeFloatCY"})
        EXPECT_GE(Profile::GetInt(kDirectorySection, QLatin1String(value), -1), 100) << value;

    ASSERT_TRUE(Start());
    EXPECT_EQ(Model().StretchState, DisplayMode::Proportional());
    EXPECT_EQ(Model().g_strLastDirectory, QStringLiteral("/srv/pictures/2024"));
    ExpectBothBarsDockedLeft();
    EXPECT_FALSE(Frame().statusBar()->isVisible());
    EXPECT_EQ(Frame().DirectoryBar()->VertSize().width(), 260);
    EXPECT_EQ(Frame().DirectoryBar()->width(), 260);
}

TEST_F(Viewer, StoredSizesBelowTheMinimumLoadAsTheMinimum) {
    Profile::WriteInt(kDirectorySection, QStringLiteral("sizeVertCX"), 50);
    Profile::WriteInt(QStringLiteral("BarState-SCBar-59425"), QStringLiteral("sizeVertCX"), 60);
    Profile::WriteInt(kDirectorySection, QStringLiteral("sizeFloatCY"), 7);
    Profile::WriteInt(kDirectorySection, QStringLiteral("sizeHorzCX"), 333);
    Profile::WriteString(QStringLiteral("Settings"), QStringLiteral("StretchState"), QStringLiteral("-40"));
    ASSERT_TRUE(Start());
    const CSizingControlBar* bar = Frame().DirectoryBar();
    EXPECT_EQ(bar->VertSize().width(), 100);
    EXPECT_EQ(bar->FloatSize().height(), 100);
    EXPECT_EQ(bar->HorzSize().width(), 333);
    EXPECT_EQ(bar->width(), 100);
    EXPECT_EQ(Model().StretchState, DisplayMode::Natural()) << "a damaged mode starts at natural size";
}

TEST_F(Viewer, CommandLineFileOpensAsTheFirstDocument) {
    const QString path = Picture("Meadow.bmp");
    ASSERT_TRUE(Start({path}));
    // The picture is decoded in a helper process: it shows once that has answered.
    ASSERT_TRUE(WaitForPicture(*app->Document()));
    EXPECT_TRUE(Model().g_bImageLoaded);
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("Meadow.bmp - Vantoro Software Image Viewer 5.0.0"));
    EXPECT_EQ(app->Document()->Bitmap().size(), QSize(64, 48));
    EXPECT_EQ(Profile::RecentFiles().value(0), path);
    EXPECT_TRUE(Commands().IsEnabled(ID_EDIT_COPY));

    // The recent-file list keeps the four latest, newest first.
    QStringList opened{path};
    for (const char* name : {"b.bmp", "c.bmp", "d.bmp", "e.bmp"}) {
        ASSERT_TRUE(app->OpenDocumentFile(Picture(name)));
        opened.prepend(QString::fromStdString(dir.File(name)));
    }
    EXPECT_EQ(Profile::RecentFiles(), opened.mid(0, 4));
}

TEST_F(Viewer, CommandLineFileThatCannotBeOpenedEndsStartUp) {
    EXPECT_FALSE(Start({QString::fromStdString(dir.File("missing.bmp"))}));
    EXPECT_EQ(seam.messages.size(), 1);
    seam.messages.clear();
    EXPECT_FALSE(Start({QStringLiteral("--no-such-option")}));
    EXPECT_TRUE(seam.messages.isEmpty());
}

TEST_F(Viewer, HelpAndAboutOpenTheirWindows) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Commands().Execute(ID_HELP_CONTENTS));
    ASSERT_NE(Frame().HelpWindow(), nullptr);
    EXPECT_TRUE(Frame().HelpWindow()->isVisible());
    EXPECT_EQ(Frame().HelpWindow()->Browser()->documentTitle(), QStringLiteral("Vantoro Image Viewer Help"));
    EXPECT_TRUE(Frame().HelpWindow()->Browser()->toPlainText().contains(QStringLiteral("Proportional Stretch")));

    ASSERT_TRUE(Commands().Execute(ID_APP_ABOUT));
    EXPECT_EQ(seam.dialogs, QStringList{QStringLiteral("Vantoro Software Image Viewer 5.0.0")});
}

TEST_F(Viewer, SplashClosesAtTheFirstKeyWhichNeverReachesTheWindow) {
    ASSERT_TRUE(Start({}, true));
    ASSERT_NE(CSplashWnd::Current(), nullptr);
    EXPECT_EQ(CSplashWnd::Current()->Timer().interval(), 5750);
    EXPECT_TRUE(CSplashWnd::Current()->isVisible());

    // F1 is the help key: while the splash is up it only closes the splash.
    QApplication::setActiveWindow(&Frame());
    QTest::keyClick(app->View(), Qt::Key_F1);
    EXPECT_EQ(CSplashWnd::Current(), nullptr);
    EXPECT_EQ(Frame().HelpWindow(), nullptr) << "the key that closed the splash did nothing else";

    // Later keys reach the window as usual.
    QTest::keyClick(app->View(), Qt::Key_F1);
    EXPECT_NE(Frame().HelpWindow(), nullptr);
}

TEST_F(Viewer, SplashClosesByItselfWhenItsTimeIsUp) {
    ASSERT_TRUE(Start({}, true));
    CSplashWnd* splash = CSplashWnd::Current();
    ASSERT_NE(splash, nullptr);
    const QRect frame = Frame().frameGeometry();
    EXPECT_LE(std::abs(splash->geometry().center().x() - frame.center().x()), 1);
    QMetaObject::invokeMethod(&splash->Timer(), "timeout");
    EXPECT_EQ(CSplashWnd::Current(), nullptr);
    EXPECT_FALSE(splash->isVisible());
}

}  // namespace
