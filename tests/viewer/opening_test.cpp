// How a picture reaches the window (the command line, Open..., Open Recent, a drop) and what
// the user finds around it: its folder listed with its row selected, full screen on black,
// slide shows that end with Escape or a click, and what the next start remembers.

#include "browser/file_list_bar.h"
#include "browser/image_file_list.h"
#include "browser/list_control.h"
#include "browser/namespace_tree.h"
#include "browser/directory_tree_bar.h"
#include "browser/tab_view_container.h"
#include "browser/viewer_model.h"
#include "platform/profile.h"
#include "support/test_files.h"
#include "viewer/command_ids.h"
#include "viewer/main_frame.h"
#include "viewer/sizing_control_bar.h"
#include "viewer/test11_app.h"
#include "viewer/test11_doc.h"
#include "viewer/test11_view.h"
#include "viewer_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QUrl>

#include <fstream>

#include <sys/stat.h>
#include <memory>

namespace {

class Opening : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveSettings();
        for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) Picture(name);
    }
    void TearDown() override { app.reset(); }

    bool Start(QStringList arguments = {}) {
        app = std::make_unique<CTest11App>();
        arguments.prepend(QStringLiteral("--no-splash"));
        arguments.prepend(QStringLiteral("vtview"));
        const bool started = app->InitInstance(arguments);
        QApplication::processEvents();
        return started && WaitForPicture(*app->Document());
    }
    void Exit() {
        ASSERT_TRUE(Commands().Execute(ID_APP_EXIT));
        app.reset();
    }

    QString Picture(const char* name, int width = 64) {
        const QString path = Path(name);
        WriteBmp32(path.toStdString(), width, 48, [](int x, int y) { return qRgb(x * 3, y * 5, 90); });
        return path;
    }
    QString Path(const char* name) const { return QString::fromStdString(dir.File(name)); }
    QString Folder() const { return QFileInfo(Path("a.bmp")).absolutePath(); }

    CMainFrame& Frame() { return *app->MainFrame(); }
    CViewerModel& Model() { return Frame().Model(); }
    CCommandTable& Commands() { return Frame().Commands(); }
    CImageFileList& Names() { return *Frame().FileList()->NamesList(); }
    QString ListedFolder() { return Frame().DirectoryTree()->Tree()->PathOf(Frame().DirectoryTree()->Tree()->currentItem()); }
    QString SelectedFile() { return Names().PathAt(Names().SelectedIndex()); }
    // Waits for the picture a command, click or drop started.
    bool Shown(const QString& path) {
        QApplication::processEvents();
        return WaitForPicture(*app->Document()) && Model().g_bImageLoaded && app->Document()->PathName() == path;
    }

    TempDir dir;
    CRecordingSeam seam;
    std::unique_ptr<CTest11App> app;
};

TEST_F(Opening, PictureOnTheCommandLineComesWithItsFolder) {
    ASSERT_TRUE(Start({Path("b.bmp")}));
    EXPECT_TRUE(Shown(Path("b.bmp")));
    EXPECT_EQ(ListedFolder(), Folder()) << "the tree selects the picture's folder";
    EXPECT_EQ(Names().count(), 3);
    EXPECT_EQ(SelectedFile(), Path("b.bmp")) << "the opened file wins over the folder's first";
    EXPECT_TRUE(Commands().IsEnabled(ID_DELETE_FILE));

    ASSERT_TRUE(Commands().Execute(ID_NEXT_IMAGE));
    EXPECT_TRUE(Shown(Path("c.bmp")));
    ASSERT_TRUE(Commands().Execute(ID_FIRST_IMAGE));
    EXPECT_TRUE(Shown(Path("a.bmp")));
    ASSERT_TRUE(Commands().Execute(ID_LAST_IMAGE));
    EXPECT_TRUE(Shown(Path("c.bmp")));
    EXPECT_TRUE(seam.messages.isEmpty()) << seam.messages.join(QLatin1Char('|')).toStdString();
}

TEST_F(Opening, FolderOnTheCommandLineListsItAndShowsAPicture) {
    ASSERT_TRUE(Start({Folder()}));
    EXPECT_EQ(ListedFolder(), Folder());
    EXPECT_EQ(Names().count(), 3);
    EXPECT_TRUE(Model().g_bImageLoaded);
    EXPECT_EQ(app->Document()->PathName(), SelectedFile());
    EXPECT_TRUE(seam.messages.isEmpty());

    // Something that is neither ends start-up with a message, as before.
    EXPECT_FALSE(Start({Path("nothing-here")}));
    EXPECT_EQ(seam.messages.size(), 1);
}

TEST_F(Opening, OpenDialogOffersThePictureFormatsAndOpensTheChoice) {
    ASSERT_TRUE(Start({Path("a.bmp")}));
    QStringList filters;
    seam.answer = [&](QDialog& dialog) {
        auto& files = static_cast<QFileDialog&>(dialog);
        filters = files.nameFilters();
        files.selectFile(Path("c.bmp"));
        return int(QDialog::Accepted);
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return Commands().IsEnabled(ID_FILE_OPEN); }));
    ASSERT_TRUE(Commands().Execute(ID_FILE_OPEN));
    EXPECT_EQ(seam.dialogs, QStringList{QStringLiteral("Open")});
    ASSERT_FALSE(filters.isEmpty());
    EXPECT_TRUE(filters.front().startsWith(QStringLiteral("All pictures (")));
    for (const char* pattern : {"*.jpg", "*.JPG", "*.png", "*.webp", "*.avif", "*.svg", "*.wmf"})
        EXPECT_TRUE(filters.front().contains(QLatin1String(pattern))) << pattern;
    EXPECT_EQ(filters.back(), QStringLiteral("All files (*)"));
    EXPECT_TRUE(Shown(Path("c.bmp")));
    EXPECT_EQ(SelectedFile(), Path("c.bmp"));

    // Cancelled, nothing changes.
    seam.answer = [](QDialog&) { return int(QDialog::Rejected); };
    ASSERT_TRUE(Commands().Execute(ID_FILE_OPEN));
    EXPECT_EQ(app->Document()->PathName(), Path("c.bmp"));
}

TEST_F(Opening, RecentFilesReopenWithTheirFolderUntilCleared) {
    TempDir other;
    const QString elsewhere = QString::fromStdString(other.File("z.bmp"));
    WriteBmp32(elsewhere.toStdString(), 20, 10, [](int, int) { return qRgb(1, 2, 3); });
    ASSERT_TRUE(Start({elsewhere}));
    Profile::AddRecentFile(Path("b.bmp"));

    ASSERT_TRUE(Commands().Execute(ID_FILE_MRU_FIRST));
    EXPECT_TRUE(Shown(Path("b.bmp")));
    EXPECT_EQ(ListedFolder(), Folder());
    EXPECT_EQ(SelectedFile(), Path("b.bmp"));
    EXPECT_EQ(Profile::RecentFiles().value(1), elsewhere);

    ASSERT_TRUE(Commands().Execute(ID_CLEAR_RECENT_FILES));
    EXPECT_TRUE(Profile::RecentFiles().isEmpty());
    EXPECT_FALSE(Commands().IsEnabled(ID_FILE_MRU_FIRST));
    EXPECT_FALSE(Commands().IsEnabled(ID_CLEAR_RECENT_FILES));
}

TEST_F(Opening, DroppedPictureOrFolderOpens) {
    TempDir other;
    const QString elsewhere = QString::fromStdString(other.File("z.bmp"));
    WriteBmp32(elsewhere.toStdString(), 20, 10, [](int, int) { return qRgb(1, 2, 3); });
    ASSERT_TRUE(Start({Path("a.bmp")}));

    const auto drop = [&](const QString& path) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&Frame(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&Frame(), &dropped);
    };
    drop(elsewhere);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ListedFolder() == QFileInfo(elsewhere).absolutePath(); }));
    EXPECT_TRUE(Shown(elsewhere));
    drop(Folder());
    EXPECT_TRUE(QTest::qWaitFor([&] { return ListedFolder() == Folder(); }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Model().g_bImageLoaded && app->Document()->PathName().startsWith(Folder()); }));

    // Text that names no local file is refused.
    QMimeData text;
    text.setText(QStringLiteral("hello"));
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    enter.setAccepted(false);
    QApplication::sendEvent(&Frame(), &enter);
    EXPECT_FALSE(enter.isAccepted());
}

TEST_F(Opening, BrokenFileCanStillBeDeletedAndSteppedPast) {
    {
        std::ofstream broken(Path("b.bmp").toStdString(), std::ios::binary | std::ios::trunc);
        broken << "BM this is not a bitmap";
    }
    ASSERT_TRUE(Start({Path("b.bmp")}));
    EXPECT_FALSE(Model().g_bImageLoaded);
    EXPECT_EQ(seam.messages, QStringList{QStringLiteral("This file has invalid data.\n") + Path("b.bmp")});
    EXPECT_EQ(SelectedFile(), Path("b.bmp"));
    for (int id : {ID_DELETE_FILE, ID_FILE_PROPERTIES, ID_NEXT_IMAGE, ID_PREVIOUS_IMAGE})
        EXPECT_TRUE(Commands().IsEnabled(id)) << id;
    ASSERT_TRUE(Commands().Execute(ID_NEXT_IMAGE));
    EXPECT_TRUE(Shown(Path("c.bmp")));
}

TEST_F(Opening, FifoOnTheCommandLineIsRefusedAtOnce) {
    const QString fifo = Path("pipe.bmp");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    // Nothing writes to the FIFO: a program that opened it would wait here for good.
    ASSERT_TRUE(Start({fifo}));
    EXPECT_EQ(seam.messages, QStringList{QStringLiteral("Cannot open %1:\nit is not a regular file.").arg(fifo)});
    EXPECT_FALSE(Model().g_bImageLoaded);
    EXPECT_EQ(ListedFolder(), Folder()) << "its folder is listed all the same";
    EXPECT_EQ(Names().count(), 3) << "special files are not listed";
}

TEST_F(Opening, FullScreenShowsThePictureOnBlackUntilEscape) {
    ASSERT_TRUE(Start({Path("a.bmp")}));
    Frame().show();
    QApplication::setActiveWindow(&Frame());
    ASSERT_TRUE(Commands().Execute(ID_FULL_SCREEN));
    EXPECT_TRUE(Frame().IsFullScreenView());
    EXPECT_TRUE(Frame().isFullScreen());
    EXPECT_FALSE(Model().g_bSlideShowFullScreen) << "not a slide show";
    EXPECT_TRUE(Frame().menuBar()->isHidden());
    EXPECT_TRUE(Frame().DirectoryBar()->isHidden());
    EXPECT_TRUE(Frame().statusBar()->isHidden());
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->View()->viewport()->width() > 64; }));
    const QImage screen = RenderViewport(*app->View());
    EXPECT_EQ(screen.pixel(0, 0), qRgb(0, 0, 0)) << "black around the picture";
    EXPECT_EQ(screen.pixel(screen.width() - 1, screen.height() - 1), qRgb(0, 0, 0));
    EXPECT_EQ(BoundsOf(screen, qRgb(0, 0, 0)), screen.rect()) << "no frame or bar around the view";
    EXPECT_NE(screen.pixel(screen.rect().center()), qRgb(0, 0, 0)) << "the picture in the middle";

    QTest::keyClick(app->View(), Qt::Key_Escape);
    EXPECT_FALSE(Frame().IsFullScreenView());
    EXPECT_FALSE(Frame().isFullScreen());
    EXPECT_FALSE(Frame().menuBar()->isHidden());
    EXPECT_FALSE(Frame().DirectoryBar()->isHidden());
    const QImage windowed = RenderViewport(*app->View());
    EXPECT_EQ(windowed.pixel(0, 0), qRgb(255, 255, 255)) << "the window's white again";
}

TEST_F(Opening, SlideShowInTheWindowEndsWithEscapeOrAClickOnThePicture) {
    ASSERT_TRUE(Start({Path("a.bmp")}));
    Frame().show();
    QApplication::setActiveWindow(&Frame());
    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW));
    ASSERT_TRUE(Model().g_bSlideShowInFrame);
    QTest::keyClick(&Names(), Qt::Key_Escape);
    EXPECT_FALSE(Model().g_bSlideShowInFrame);

    ASSERT_TRUE(Commands().Execute(ID_SLIDE_SHOW));
    // A click on the list picks a picture and the show goes on from there.
    QTest::mouseClick(Names().viewport(), Qt::LeftButton, {}, Names().visualItemRect(Names().item(2)).center());
    EXPECT_TRUE(Model().g_bSlideShowInFrame);
    QTest::mouseClick(app->View()->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(Model().g_bSlideShowInFrame);
}

TEST_F(Opening, NextStartRemembersTheWindowThePageAndThePicture) {
    ASSERT_TRUE(Start({Path("b.bmp")}));
    Frame().showNormal();
    Frame().setGeometry(QRect(110, 120, 500, 400));
    ASSERT_TRUE(Commands().Execute(ID_THUMBNAILS));
    Exit();
    EXPECT_EQ(Profile::GetString(QStringLiteral("Settings"), QStringLiteral("LastPicture")), Path("b.bmp"));
    EXPECT_EQ(Profile::GetInt(QStringLiteral("Settings"), QStringLiteral("ActivePage"), -1), 1);

    ASSERT_TRUE(Start());
    EXPECT_EQ(Frame().geometry(), QRect(110, 120, 500, 400));
    EXPECT_TRUE(Frame().FileList()->ThumbnailsActive());
    EXPECT_TRUE(Shown(Path("b.bmp"))) << "the last picture shows again";
    EXPECT_EQ(SelectedFile(), Path("b.bmp"));
    Exit();

    // A window saved off the screen comes back whole, title bar included.
    ASSERT_TRUE(Start());
    Frame().setGeometry(QRect(-5000, -4000, 640, 480));
    Exit();
    ASSERT_TRUE(Start());
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(area.contains(Frame().frameGeometry())) << "restored inside the work area";
}

TEST_F(Opening, HiddenFilesAreListedUntilTurnedOff) {
    Picture(".secret.bmp");
    ASSERT_TRUE(Start({Path("a.bmp")}));
    EXPECT_EQ(Names().count(), 4);
    EXPECT_TRUE(Commands().IsChecked(ID_SHOW_HIDDEN_FILES));
    ASSERT_TRUE(Commands().Execute(ID_SHOW_HIDDEN_FILES));
    EXPECT_EQ(Names().count(), 3);
    EXPECT_EQ(SelectedFile(), Path("a.bmp")) << "the selection stays on its file";
    EXPECT_EQ(Names().item(0)->toolTip(), Names().item(0)->text()) << "long names show whole in a tooltip";
    Exit();
    ASSERT_TRUE(Start({Path("a.bmp")}));
    EXPECT_EQ(Names().count(), 3);
    EXPECT_FALSE(Commands().IsChecked(ID_SHOW_HIDDEN_FILES));
}

}  // namespace
