// Folders another program changes while the window shows them: the list and the tree follow
// without a restart, and F5 reads them again by hand.

#include "browser/directory_tree_bar.h"
#include "browser/file_list_bar.h"
#include "browser/folder_watcher.h"
#include "browser/image_file_list.h"
#include "browser/list_control.h"
#include "browser/namespace_tree.h"
#include "browser/tab_view_container.h"
#include "browser/viewer_model.h"
#include "browser_test_support.h"
#include "platform/profile.h"
#include "support/test_files.h"
#include "viewer/command_ids.h"
#include "viewer/main_frame.h"
#include "viewer/test11_app.h"
#include "viewer/test11_doc.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

QStringList ChildNames(const QTreeWidgetItem* node) {
    QStringList names;
    for (int i = 0; i < node->childCount(); ++i) names << node->child(i)->text(0);
    return names;
}

class LiveFolder : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveSettings();
        root = Q(dir.Path());
        photos = root + QStringLiteral("/photos");
        QDir().mkpath(photos + QStringLiteral("/old trip"));
        WritePicture(File("a.bmp"), 40, 30, Qt::red);
        WritePicture(File("b.png"), 40, 30, Qt::green);
        WritePicture(File("c.bmp"), 40, 30, Qt::blue);
        app = std::make_unique<CTest11App>();
        ASSERT_TRUE(app->InitInstance({QStringLiteral("vtview"), QStringLiteral("--no-splash")}));
        ASSERT_TRUE(Tree().SelectPath(photos, true));
        ASSERT_TRUE(Settle(*app->Document()));
    }
    void TearDown() override { app.reset(); }

    QString File(const QString& name) const { return photos + QLatin1Char('/') + name; }
    CMainFrame& Frame() { return *app->MainFrame(); }
    CNamespaceTree& Tree() { return *Frame().DirectoryTree()->Tree(); }
    CImageFileList& Names() { return *Frame().FileList()->NamesList(); }
    QStringList Rows(const CListControl& list) {
        QStringList rows;
        for (int i = 0; i < list.count(); ++i) rows << list.item(i)->text();
        return rows;
    }
    QString Shown() const { return app->Document()->PathName(); }

    // Waits for the watcher to hand on the change another program made in photos (other
    // shown folders, /tmp among them, change all the time while tests run beside this one),
    // then for the picture it makes show.
    void AwaitChange() {
        QSignalSpy changed(&Frame().FolderWatcher(), &CFolderWatcher::Changed);
        const auto seen = [&] {
            for (const QList<QVariant>& call : changed)
                if (call[0].toStringList().contains(photos)) return true;
            return false;
        };
        ASSERT_TRUE(QTest::qWaitFor(seen, 10000))
            << "the change on disk was seen; watched: "
            << Frame().FolderWatcher().Watched().join(QLatin1Char('|')).toStdString();
        ASSERT_TRUE(Settle(*app->Document()));
    }

    TempDir dir;
    QString root;
    QString photos;
    CScriptedSeam seam;
    std::unique_ptr<CTest11App> app;
};

TEST_F(LiveFolder, FilesMadeAndRemovedElsewhereComeAndGoKeepingTheSelection) {
    ASSERT_EQ(Rows(Names()), (QStringList{"a.bmp", "b.png", "c.bmp"}));
    Names().SelectRow(1);
    ASSERT_TRUE(Settle(*app->Document()));
    ASSERT_EQ(Shown(), File("b.png"));

    WritePicture(File("aa.png"), 40, 30, Qt::yellow);
    QFile::remove(File("c.bmp"));
    AwaitChange();
    EXPECT_EQ(Rows(Names()), (QStringList{"a.bmp", "aa.png", "b.png"}));
    EXPECT_EQ(Names().SelectedIndex(), 2) << "the selection stays on its file";
    EXPECT_EQ(Shown(), File("b.png"));

    // The shown file goes: the row that takes its place shows.
    QFile::rename(File("b.png"), File("0.png"));
    AwaitChange();
    EXPECT_EQ(Rows(Names()), (QStringList{"0.png", "a.bmp", "aa.png"}));
    EXPECT_EQ(Names().SelectedIndex(), 2);
    EXPECT_EQ(Shown(), File("aa.png"));
    EXPECT_TRUE(Frame().Model().g_bImageLoaded);

    // The last file goes: nothing shows, nothing fails.
    for (const QString& name : Rows(Names())) QFile::remove(File(name));
    AwaitChange();
    EXPECT_EQ(Names().count(), 0);
    EXPECT_FALSE(Frame().Model().g_bImageLoaded);
    EXPECT_TRUE(seam.messages.isEmpty()) << seam.messages.join(QLatin1Char('|')).toStdString();
}

TEST_F(LiveFolder, FoldersOfTheTreeFollowAndAGoneFolderHandsTheSelectionToItsParent) {
    QTreeWidgetItem* node = Tree().currentItem();
    ASSERT_EQ(ChildNames(node), QStringList{"old trip"});
    const QString trip = photos + QStringLiteral("/new trip");
    QDir().mkpath(trip);
    AwaitChange();
    EXPECT_EQ(ChildNames(Tree().currentItem()), (QStringList{"new trip", "old trip"}));

    WritePicture(trip + QStringLiteral("/beach.png"), 20, 20, Qt::cyan);
    ASSERT_TRUE(Tree().SelectPath(trip, true));
    ASSERT_TRUE(Settle(*app->Document()));
    ASSERT_EQ(Shown(), trip + QStringLiteral("/beach.png"));

    ASSERT_TRUE(QDir(trip).removeRecursively());
    AwaitChange();
    EXPECT_EQ(Tree().PathOf(Tree().currentItem()), photos);
    EXPECT_EQ(ChildNames(Tree().currentItem()), QStringList{"old trip"});
    EXPECT_EQ(Frame().Model().g_strLastDirectory, photos);
    EXPECT_EQ(Rows(Names()), (QStringList{"a.bmp", "b.png", "c.bmp"}));
}

TEST_F(LiveFolder, F5ReadsTheFolderAgainAndKnownFailuresAreNotToldTwice) {
    WriteJunk(File("broken.png"));
    AwaitChange();
    ASSERT_TRUE(Frame().Commands().Execute(ID_THUMBNAILS));
    QSignalSpy built(Frame().FileList(), &CFileListBar::BuildEnded);
    if (Frame().FileList()->IsBuilding()) {
        ASSERT_TRUE(built.wait(20000));
    }
    ASSERT_EQ(seam.messages.size(), 1) << "the broken file is reported once";
    EXPECT_EQ(Rows(*Frame().FileList()->ThumbnailList()), (QStringList{"a.bmp", "b.png", "c.bmp"}));

    WritePicture(File("d.bmp"), 40, 30, Qt::magenta);
    built.clear();
    ASSERT_TRUE(Frame().Commands().Execute(ID_REFRESH));
    if (Frame().FileList()->IsBuilding()) {
        ASSERT_TRUE(built.wait(20000));
    }
    EXPECT_EQ(Rows(*Frame().FileList()->ThumbnailList()), (QStringList{"a.bmp", "b.png", "c.bmp", "d.bmp"}));
    EXPECT_EQ(Rows(Names()), (QStringList{"a.bmp", "b.png", "c.bmp", "d.bmp"}));
    EXPECT_EQ(seam.messages.size(), 1) << "a failure already told of is not told again";
}

TEST(FolderWatcher, AFolderThatNeverRestsHoldsBackNoOtherChange) {
    TempDir dir;
    const QString busy = Q(dir.Path()) + QStringLiteral("/busy");
    const QString quiet = Q(dir.Path()) + QStringLiteral("/quiet");
    QDir().mkpath(busy);
    QDir().mkpath(quiet);
    CFolderWatcher watcher;
    watcher.Watch({busy, quiet});
    // Another program writes into one folder every 50 ms, far more often than it rests.
    int written = 0;
    QTimer writer;
    QObject::connect(&writer, &QTimer::timeout, [&] { WriteJunk(busy + QStringLiteral("/%1.tmp").arg(++written)); });
    writer.start(50);
    QSignalSpy changed(&watcher, &CFolderWatcher::Changed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return written >= 3; }, 5000));
    WritePicture(quiet + QStringLiteral("/new.png"), 4, 4, Qt::red);
    const auto sawQuiet = [&] {
        for (const QList<QVariant>& call : changed)
            if (call[0].toStringList().contains(quiet)) return true;
        return false;
    };
    EXPECT_TRUE(QTest::qWaitFor(sawQuiet, 5000)) << "told after " << written << " writes elsewhere";
}

}  // namespace
