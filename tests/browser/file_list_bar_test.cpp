// The file list bar: thumbnails built from the Names list on worker threads, page changes,
// delete to the trash and the properties of a file or folder.

#include "browser/directory_tree_bar.h"
#include "browser/file_list_bar.h"
#include "browser/image_file_list.h"
#include "browser/tab_view_container.h"
#include "browser/thumbnail_workers.h"
#include "browser/viewer_model.h"
#include "browser_test_support.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include "browser/properties_dialog.h"

namespace {

const QString kViewerList = QStringLiteral("jpg|jpeg|jpe|bmp|dib|png|gif|tif|tiff|pcx|pct|pict|tga|pgm|wmf|emf");
const QString kFailed = QStringLiteral("One or more Thumbnails could not be created.\nFile Names removed from Image List");
const QString kCanceled = QStringLiteral("Thumbnail Creation Canceled");

QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

QStringList Rows(const QListWidget& list) {
    QStringList rows;
    for (int row = 0; row < list.count(); ++row) rows << list.item(row)->text();
    return rows;
}

class FileListBar : public ::testing::Test {
protected:
    void SetUp() override {
        folder = Q(dir.Path());
        bar.NamesList()->SetFilter(kViewerList);
        bar.SetDockingBars(&directoryBar, &bar);
        bar.resize(260, 400);
        bar.show();
        directoryBar.show();
    }

    // Lists the folder as the main frame does on a folder change.
    void List(const QString& path) {
        ASSERT_TRUE(bar.NamesList()->SetFolder(path));
        bar.NamesList()->setEnabled(bar.NamesList()->count() > 0);
        model.g_strLastDirectory = path;
        model.g_bFolderChanged = true;
    }

    void ShowThumbnailsPage() { bar.Tabs()->ActivatePage(1); }

    // Starts a build and waits until it has ended.
    void Build() {
        QSignalSpy ended(&bar, &CFileListBar::BuildEnded);
        bar.BuildThumbnails();
        if (ended.isEmpty() && bar.IsBuilding()) {
            ASSERT_TRUE(ended.wait(30000));
        }
    }

    QString Picture(const QString& name, QColor colour, int width = 40, int height = 30) {
        return WritePicture(folder + QLatin1Char('/') + name, width, height, colour);
    }

    TempDir dir;
    QString folder;
    CScriptedSeam seam;
    QWidget directoryBar;
    CViewerModel model;
    CFileListBar bar{model};
};

TEST_F(FileListBar, FilesThatFailAreDroppedFromBothPages) {
    Picture(QStringLiteral("1.bmp"), Qt::red);
    WriteJunk(folder + QStringLiteral("/2.bmp"));
    WriteJunk(folder + QStringLiteral("/3.png"));
    Picture(QStringLiteral("4.png"), Qt::blue, 400, 100);
    Picture(QStringLiteral("5.jpg"), Qt::green, 100, 400);
    List(folder);
    ShowThumbnailsPage();

    Build();
    // Two broken files in a row: the row that moves up is examined too.
    EXPECT_EQ(Rows(*bar.NamesList()), (QStringList{"1.bmp", "4.png", "5.jpg"}));
    EXPECT_EQ(Rows(*bar.ThumbnailList()), (QStringList{"1.bmp", "4.png", "5.jpg"}));
    EXPECT_EQ(seam.messages, QStringList{kFailed}) << "one message however many failed";
    ASSERT_EQ(bar.ThumbnailImages().size(), 3u);
    EXPECT_EQ(CentreColour(bar.ThumbnailImages()[0]), QColor(Qt::red));
    EXPECT_EQ(CentreColour(bar.ThumbnailImages()[1]), QColor(Qt::blue)) << "thumbnail 1 shows the file after the broken ones";
    for (const QImage& thumbnail : bar.ThumbnailImages()) EXPECT_EQ(thumbnail.size(), QSize(100, 75));
    EXPECT_EQ(bar.ThumbnailsFolder(), folder);
    EXPECT_FALSE(model.g_bFolderChanged);
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/2.bmp"))) << "files on disk are not touched";
}

TEST_F(FileListBar, BuiltOncePerFolderAndAgainAfterAChange) {
    Picture(QStringLiteral("a.bmp"), Qt::red);
    Picture(QStringLiteral("b.bmp"), Qt::yellow);
    List(folder);
    ShowThumbnailsPage();
    Build();
    ASSERT_EQ(bar.ThumbnailImages().size(), 2u);
    const qint64 first = bar.ThumbnailImages()[0].cacheKey();

    Build();
    EXPECT_EQ(bar.ThumbnailImages()[0].cacheKey(), first) << "the same folder is not built twice";

    // A folder change, even to the same folder, rebuilds.
    List(folder);
    Build();
    EXPECT_NE(bar.ThumbnailImages()[0].cacheKey(), first);

    // A path that differs only in letter case is another folder.
    const QString other = folder + QStringLiteral("/Sub");
    const QString otherCase = folder + QStringLiteral("/sub");
    QDir().mkpath(other);
    QDir().mkpath(otherCase);
    WritePicture(other + QStringLiteral("/x.bmp"), 10, 10, Qt::cyan);
    WritePicture(otherCase + QStringLiteral("/y.bmp"), 10, 10, Qt::magenta);
    List(other);
    Build();
    ASSERT_TRUE(bar.NamesList()->SetFolder(otherCase));
    model.g_strLastDirectory = otherCase;
    Build();
    ASSERT_EQ(bar.ThumbnailImages().size(), 1u);
    EXPECT_EQ(CentreColour(bar.ThumbnailImages()[0]), QColor(Qt::magenta));

    // An empty folder: an empty page and no message.
    const QString empty = folder + QStringLiteral("/empty");
    QDir().mkpath(empty);
    List(empty);
    Build();
    EXPECT_EQ(bar.ThumbnailList()->count(), 0);
    EXPECT_TRUE(bar.ThumbnailImages().empty());
    EXPECT_TRUE(seam.messages.isEmpty());
}

TEST_F(FileListBar, EscapeCancelsTheBuildAndTheNextOneStartsAgain) {
    Picture(QStringLiteral("a.bmp"), Qt::red);
    Picture(QStringLiteral("b.bmp"), Qt::blue);
    List(folder);
    ShowThumbnailsPage();
    QSignalSpy ended(&bar, &CFileListBar::BuildEnded);
    bar.BuildThumbnails();
    // Before any thumbnail has come back: Escape anywhere in the application cancels.
    QTest::keyClick(bar.NamesList(), Qt::Key_Escape);
    EXPECT_EQ(ended.count(), 1);
    EXPECT_EQ(seam.messages, QStringList{kCanceled});
    EXPECT_EQ(bar.ThumbnailList()->count(), 0) << "a cancelled build leaves the page empty";
    EXPECT_TRUE(bar.ThumbnailImages().empty());
    EXPECT_EQ(bar.NamesList()->count(), 2) << "the names stay";
    EXPECT_EQ(bar.ThumbnailsFolder(), QStringLiteral(" "));
    EXPECT_FALSE(bar.IsBuilding());
    EXPECT_EQ(CThumbnailWorkers::RunningThreads(), 0);
    Settle();
    EXPECT_EQ(bar.ThumbnailList()->count(), 0) << "results still queued are dropped";

    Build();
    EXPECT_EQ(bar.ThumbnailList()->count(), 2);
    // Escape once the build has ended cancels nothing.
    QTest::keyClick(bar.NamesList(), Qt::Key_Escape);
    Settle();
    EXPECT_EQ(bar.ThumbnailList()->count(), 2);
    EXPECT_EQ(seam.messages.size(), 1);
}

TEST_F(FileListBar, AFolderChangeUnderARunningBuildStartsOverWithBarsEnabled) {
    for (int i = 0; i < 8; ++i) Picture(QStringLiteral("a%1.jpg").arg(i), Qt::red, 1200, 900);
    const QString other = folder + QStringLiteral("/other");
    QDir().mkpath(other);
    WritePicture(other + QStringLiteral("/x.bmp"), 10, 10, Qt::cyan);
    WriteJunk(other + QStringLiteral("/y.bmp"));
    List(folder);
    ShowThumbnailsPage();
    model.g_bImageLoaded = true;

    bar.BuildThumbnails();
    ASSERT_TRUE(bar.IsBuilding());
    EXPECT_EQ(bar.ThumbnailList()->count(), 8) << "every row is there from the start";
    EXPECT_TRUE(bar.isEnabled() && directoryBar.isEnabled()) << "nothing blocks while thumbnails are made";
    bar.ThumbnailList()->SelectRow(0);
    EXPECT_FALSE(bar.DeleteSelected()) << "rows must not move under a running build";

    List(other);
    EXPECT_FALSE(bar.IsBuilding()) << "a refilled Names list abandons the build";
    EXPECT_EQ(bar.ThumbnailList()->count(), 0);
    EXPECT_EQ(CThumbnailWorkers::RunningThreads(), 0);
    Build();
    EXPECT_EQ(Rows(*bar.ThumbnailList()), QStringList{"x.bmp"});
    EXPECT_EQ(Rows(*bar.NamesList()), QStringList{"x.bmp"});
    ASSERT_EQ(bar.ThumbnailImages().size(), 1u);
    EXPECT_EQ(CentreColour(bar.ThumbnailImages()[0]), QColor(Qt::cyan));
    EXPECT_EQ(seam.messages, QStringList{kFailed}) << "only the new folder's failure is told";
}

TEST_F(FileListBar, ThumbnailsComeWhileTheEventLoopRuns) {
    for (int i = 0; i < 6; ++i) Picture(QStringLiteral("p%1.jpg").arg(i), Qt::green, 1600, 1200);
    List(folder);
    ShowThumbnailsPage();
    int ticks = 0;
    int ticksAtEnd = -1;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(0);
    QSignalSpy ended(&bar, &CFileListBar::BuildEnded);
    QObject::connect(&bar, &CFileListBar::BuildEnded, [&] { ticksAtEnd = ticks; });
    bar.BuildThumbnails();
    EXPECT_TRUE(bar.IsBuilding());
    ASSERT_TRUE(ended.wait(30000));
    EXPECT_GT(ticksAtEnd, 0) << "the user-interface thread kept serving events during the build";
    ASSERT_EQ(bar.ThumbnailImages().size(), 6u);
    for (const QImage& thumbnail : bar.ThumbnailImages()) {
        const QColor centre = CentreColour(thumbnail);
        EXPECT_TRUE(centre.green() > 240 && centre.red() < 16 && centre.blue() < 16) << centre.name().toStdString();
    }
    EXPECT_EQ(CThumbnailWorkers::RunningThreads(), 0);
}

TEST_F(FileListBar, TabClicksBuildThenSelectTheFirstRowOfBothLists) {
    Picture(QStringLiteral("a.bmp"), Qt::red);
    Picture(QStringLiteral("b.bmp"), Qt::blue);
    List(folder);
    QSignalSpy changes(&bar, &CFileListBar::ItemChanged);
    bool enabledWhenShown = false;
    seam.onMessage = [&](const QString&) {};
    QTabBar* tabs = bar.Tabs()->TabBar();
    // The first row is selected once its thumbnail is made, with nothing blocked.
    QObject::connect(bar.ThumbnailList(), &CListControl::ItemChanged, &bar, [&] { enabledWhenShown = directoryBar.isEnabled(); });
    QSignalSpy ended(&bar, &CFileListBar::BuildEnded);
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    EXPECT_TRUE(bar.ThumbnailsActive());
    EXPECT_EQ(bar.ThumbnailList()->count(), 2);
    ASSERT_TRUE(ended.count() > 0 || ended.wait(30000));
    EXPECT_TRUE(enabledWhenShown);
    EXPECT_TRUE(bar.isEnabled() && directoryBar.isEnabled());
    QList<QPair<int, int>> selected;
    for (const QList<QVariant>& change : changes)
        if (change[2].toInt() == (LVIS_SELECTED | LVIS_FOCUSED)) selected << qMakePair(change[0].toInt(), change[1].toInt());
    EXPECT_EQ(selected, (QList<QPair<int, int>>{{198, 0}, {199, 0}}));
    EXPECT_EQ(bar.SelectedIndex(), 0);

    // Back to Names and again to Thumbnails: nothing is rebuilt or reselected.
    changes.clear();
    const qint64 built = bar.ThumbnailImages()[0].cacheKey();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    EXPECT_EQ(bar.ThumbnailImages()[0].cacheKey(), built);
    EXPECT_TRUE(changes.isEmpty());
}

TEST_F(FileListBar, ThePageChangeShowsTheFirstReadableFileNeverABrokenOne) {
    WriteJunk(folder + QStringLiteral("/0.bmp"));
    WriteJunk(folder + QStringLiteral("/1.png"));
    Picture(QStringLiteral("2.bmp"), Qt::red);
    Picture(QStringLiteral("3.bmp"), Qt::blue);
    List(folder);
    // What the frame would open: the file of each row that becomes selected and focused.
    QStringList opened;
    QObject::connect(&bar, &CFileListBar::ItemChanged, &bar, [&](int, int row, int state) {
        if (state == (LVIS_SELECTED | LVIS_FOCUSED)) opened << QFileInfo(bar.NamesList()->PathAt(row)).fileName();
    });
    QSignalSpy ended(&bar, &CFileListBar::BuildEnded);
    QTabBar* tabs = bar.Tabs()->TabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    ASSERT_TRUE(ended.count() > 0 || ended.wait(30000));
    EXPECT_EQ(opened, (QStringList{"2.bmp", "2.bmp"})) << "the thumbnail, then the name";
    EXPECT_EQ(Rows(*bar.ThumbnailList()), (QStringList{"2.bmp", "3.bmp"}));
    EXPECT_EQ(bar.ThumbnailList()->SelectedIndex(), 0) << "the selection stays with its file as the failed rows go";
    EXPECT_EQ(bar.NamesList()->SelectedIndex(), 0);
    EXPECT_EQ(seam.messages, QStringList{kFailed});
}

TEST_F(FileListBar, DeleteAsksFirstAndSendsTheFileToTheTrash) {
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) Picture(QString::fromLatin1(name), Qt::red);
    List(folder);
    model.g_bImageLoaded = true;
    bar.NamesList()->SelectRow(1);
    const QString trash = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash");

    seam.answer = QMessageBox::No;
    EXPECT_FALSE(bar.DeleteSelected());
    ASSERT_EQ(seam.messages.size(), 1);
    EXPECT_TRUE(seam.messages[0].contains(QStringLiteral("\"b.bmp\""))) << seam.messages[0].toStdString();
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/b.bmp")));
    EXPECT_EQ(Rows(*bar.NamesList()), (QStringList{"a.bmp", "b.bmp", "c.bmp"}));
    EXPECT_EQ(bar.SelectedIndex(), 1);

    seam.answer = QMessageBox::Yes;
    QSignalSpy changes(&bar, &CFileListBar::ItemChanged);
    EXPECT_TRUE(bar.DeleteSelected());
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/b.bmp")));
    EXPECT_TRUE(QFile::exists(trash + QStringLiteral("/files/b.bmp")));
    EXPECT_TRUE(QFile::exists(trash + QStringLiteral("/info/b.bmp.trashinfo")));
    EXPECT_EQ(Rows(*bar.NamesList()), (QStringList{"a.bmp", "c.bmp"}));
    // The row that took its place shows.
    ASSERT_FALSE(changes.isEmpty());
    EXPECT_EQ(changes.back(), (QList<QVariant>{199, 1, LVIS_SELECTED | LVIS_FOCUSED}));

    // A file that vanished cannot go to the trash: the user hears of it and the rows stay.
    QFile::remove(folder + QStringLiteral("/c.bmp"));
    seam.messages.clear();
    EXPECT_FALSE(bar.DeleteSelected());
    ASSERT_EQ(seam.messages.size(), 2);
    EXPECT_TRUE(seam.messages[1].startsWith(QStringLiteral("\"c.bmp\" could not be moved to the trash.")));
    EXPECT_EQ(Rows(*bar.NamesList()), (QStringList{"a.bmp", "c.bmp"}));

    // Nothing happens without an image or without a selection.
    model.g_bImageLoaded = false;
    EXPECT_FALSE(bar.DeleteSelected());
    model.g_bImageLoaded = true;
    bar.NamesList()->clearSelection();
    EXPECT_FALSE(bar.DeleteSelected());
    EXPECT_EQ(seam.messages.size(), 2);
}

TEST_F(FileListBar, DeletingOnTheThumbnailsPageKeepsBothPagesInStep) {
    Picture(QStringLiteral("a.bmp"), Qt::red);
    Picture(QStringLiteral("b.bmp"), Qt::green);
    Picture(QStringLiteral("c.bmp"), Qt::blue);
    List(folder);
    ShowThumbnailsPage();
    Build();
    model.g_bImageLoaded = true;

    // The last row: the new last row is selected.
    bar.ThumbnailList()->SelectRow(2);
    QSignalSpy changes(&bar, &CFileListBar::ItemChanged);
    ASSERT_TRUE(bar.DeleteSelected());
    EXPECT_EQ(Rows(*bar.NamesList()), (QStringList{"a.bmp", "b.bmp"}));
    EXPECT_EQ(Rows(*bar.ThumbnailList()), (QStringList{"a.bmp", "b.bmp"}));
    ASSERT_EQ(bar.ThumbnailImages().size(), 2u);
    EXPECT_EQ(CentreColour(bar.ThumbnailImages()[1]), QColor(Qt::green));
    ASSERT_FALSE(changes.isEmpty());
    EXPECT_EQ(changes.back(), (QList<QVariant>{198, 1, LVIS_SELECTED | LVIS_FOCUSED}));

    // The Delete key anywhere in the bar does the same.
    bar.ThumbnailList()->SelectRow(0);
    bar.activateWindow();
    QApplication::setActiveWindow(&bar);
    bar.ThumbnailList()->setFocus();
    QTest::keyClick(bar.ThumbnailList(), Qt::Key_Delete);
    EXPECT_EQ(Rows(*bar.NamesList()), QStringList{"b.bmp"});

    // The only row: the list empties and is disabled, and the view must go blank.
    QSignalSpy blank(&bar, &CFileListBar::ViewsNeedUpdate);
    ASSERT_TRUE(bar.DeleteSelected());
    EXPECT_EQ(bar.NamesList()->count(), 0);
    EXPECT_EQ(bar.ThumbnailList()->count(), 0);
    EXPECT_FALSE(bar.NamesList()->isEnabled());
    EXPECT_FALSE(model.g_bImageLoaded);
    EXPECT_EQ(blank.count(), 1);
}

TEST_F(FileListBar, PropertiesOfTheCurrentFileAndFolder) {
    model.g_strCurrentFile = Picture(QStringLiteral("shown.png"), Qt::red, 64, 48);
    model.g_strLastDirectory = folder;
    QStringList picture;
    seam.onDialog = [&](QDialog& dialog) {
        auto& properties = dynamic_cast<CPropertiesDialog&>(dialog);
        if (properties.Value(QStringLiteral("Picture")) == QStringLiteral("Reading...")) {
            QSignalSpy read(&properties, &CPropertiesDialog::PictureRead);
            EXPECT_TRUE(read.wait(10000));
        }
        picture = {properties.Value(QStringLiteral("Name")), properties.Value(QStringLiteral("Folder")),
                   properties.Value(QStringLiteral("Picture")), properties.Value(QStringLiteral("Dimensions")),
                   properties.Value(QStringLiteral("Kind"))};
    };
    bar.ShowFileProperties();
    EXPECT_EQ(seam.dialogs, QStringList{"shown.png Properties"});
    EXPECT_EQ(picture, (QStringList{"shown.png", folder, "PNG", "64 x 48 pixels", "PNG image"}));

    // Bytes no decoder reads: said so, with no size or depth.
    model.g_strCurrentFile = WriteJunk(folder + QStringLiteral("/junk.png"));
    bar.ShowFileProperties();
    EXPECT_TRUE(picture[2].startsWith(QStringLiteral("not readable: "))) << picture[2].toStdString();
    EXPECT_EQ(picture[3], QString());

    CDirectoryTreeBar treeBar(model);
    treeBar.ShowFolderProperties();
    ASSERT_EQ(seam.dialogs.size(), 3);
    EXPECT_EQ(picture[4], QStringLiteral("Folder"));
    EXPECT_EQ(picture[2], QString()) << "a folder has no picture";

    // A file that is gone shows nothing.
    model.g_strCurrentFile = folder + QStringLiteral("/gone.png");
    bar.ShowFileProperties();
    EXPECT_EQ(seam.dialogs.size(), 3);
}

}  // namespace
