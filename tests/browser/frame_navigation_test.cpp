// The whole window browsing folders: start-up, choosing folders, next and previous, the
// list and thumbnail commands, delete and properties through the frame's commands.

#include "browser/directory_tree_bar.h"
#include "browser/file_list_bar.h"
#include "browser/image_file_list.h"
#include "browser/namespace_tree.h"
#include "browser/tab_view_container.h"
#include "browser/viewer_model.h"
#include "viewer/display_layout.h"
#include "browser_test_support.h"
#include "codecs/format_registry.h"
#include "platform/profile.h"
#include "support/test_files.h"
#include "viewer/command_ids.h"
#include "viewer/main_frame.h"
#include "viewer/sizing_control_bar.h"
#include "viewer/slide_show.h"
#include "viewer/test11_app.h"
#include "viewer/test11_doc.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QSettings>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>

#include <memory>

namespace {

const QString kSettings = QStringLiteral("Settings");

QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

// A menu's items as "text id" (sub-menus as their title and their items, separators as "-").
QStringList Items(const QMenu& menu) {
    QStringList items;
    for (QAction* action : menu.actions()) {
        if (action->isSeparator())
            items << QStringLiteral("-");
        else if (action->menu())
            items << action->text() + QStringLiteral(" [") + Items(*action->menu()).join(QStringLiteral(", ")) +
                         QLatin1Char(']');
        else
            items << QStringLiteral("%1 %2").arg(action->text()).arg(action->data().toInt());
    }
    return items;
}

// A right click at pos in widget, as the window system delivers it: the button, then the
// context-menu request. Returns the menu that opened.
QMenu* RightClick(QWidget* widget, QPoint pos) {
    QTest::mouseClick(widget, Qt::RightButton, {}, pos);
    QContextMenuEvent request(QContextMenuEvent::Mouse, pos, widget->mapToGlobal(pos));
    QCoreApplication::sendEvent(widget, &request);
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

QAction* ItemOf(const QMenu& menu, int id) {
    for (QAction* action : menu.actions())
        if (!action->isSeparator() && !action->menu() && action->data().toInt() == id) return action;
    return nullptr;
}

class FrameNavigation : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveSettings();
        root = Q(dir.Path());
        photos = root + QStringLiteral("/albums/2024/photos");
        QDir().mkpath(photos);
        Picture(photos, QStringLiteral("img1.bmp"), Qt::red);
        Picture(photos, QStringLiteral("img2.png"), Qt::green);
        Picture(photos, QStringLiteral("img10.jpg"), Qt::blue);
        // Folders are read once per run: every folder a test chooses exists before start.
        for (const char* folder : {"/albums/single", "/albums/mixed"}) QDir().mkpath(root + QLatin1String(folder));
    }
    void TearDown() override { app.reset(); }

    static QString Picture(const QString& folder, const QString& name, QColor colour) {
        return WritePicture(folder + QLatin1Char('/') + name, 48, 36, colour);
    }

    void Start() {
        app = std::make_unique<CTest11App>();
        ASSERT_TRUE(app->InitInstance({QStringLiteral("vtview"), QStringLiteral("--no-splash")}));
        ASSERT_TRUE(Settle(*app->Document()));
    }

    // The user chooses a folder in the tree.
    void Choose(const QString& folder) {
        ASSERT_TRUE(Frame().DirectoryTree()->Tree()->SelectPath(folder, false));
        ASSERT_TRUE(Settle(*app->Document()));
    }

    CMainFrame& Frame() { return *app->MainFrame(); }
    CViewerModel& Model() { return app->MainFrame()->Model(); }
    CCommandTable& Commands() { return Frame().Commands(); }
    CImageFileList& Names() { return *Frame().FileList()->NamesList(); }
    QString Shown() const { return app->Document()->PathName(); }
    QString File(const QString& name) const { return photos + QLatin1Char('/') + name; }

    TempDir dir;
    QString root;
    QString photos;
    CScriptedSeam seam;
    std::unique_ptr<CTest11App> app;
};

TEST_F(FrameNavigation, StartUpListsTheLastFolderButShowsNoImage) {
    Profile::WriteString(kSettings, QStringLiteral("LastDirectoryUsed"), photos);
    Start();
    const CNamespaceTree& tree = *Frame().DirectoryTree()->Tree();
    EXPECT_EQ(tree.PathOf(tree.currentItem()), photos);
    EXPECT_TRUE(tree.viewport()->rect().contains(tree.visualItemRect(tree.currentItem()).center()))
        << "the selected folder is in view";
    EXPECT_EQ(Model().g_strLastDirectory, photos);
    ASSERT_EQ(Names().count(), 3);
    EXPECT_EQ(Names().item(2)->text(), QStringLiteral("img10.jpg"));
    EXPECT_TRUE(Names().isEnabled());
    EXPECT_FALSE(Model().g_bImageLoaded);
    EXPECT_EQ(Shown(), QString());
    EXPECT_EQ(Names().SelectedIndex(), -1);
    EXPECT_TRUE(Frame().DirectoryBar()->isVisible());
    EXPECT_TRUE(Frame().FileListBar()->isVisible());
    EXPECT_TRUE(Frame().IsReady());

    // The folder is saved again at exit.
    app.reset();
    EXPECT_EQ(Profile::GetString(kSettings, QStringLiteral("LastDirectoryUsed")), photos);
}

TEST_F(FrameNavigation, ChoosingAFolderShowsItsFirstImage) {
    Start();
    EXPECT_EQ(Names().count(), 0) << "no saved folder: nothing listed";
    Choose(photos);
    EXPECT_EQ(Shown(), File(QStringLiteral("img1.bmp")));
    EXPECT_EQ(Model().g_strCurrentFile, File(QStringLiteral("img1.bmp")));
    EXPECT_TRUE(Model().g_bImageLoaded);
    EXPECT_EQ(Frame().SlideShow().Position(), 0);

    // A lone image shows too.
    const QString single = root + QStringLiteral("/albums/single");
    const QString lone = Picture(single, QStringLiteral("Only.PNG"), Qt::yellow);
    Choose(single);
    EXPECT_EQ(Shown(), lone) << "the path reaches the document as it is on disk";
    EXPECT_TRUE(Model().g_bImageLoaded);

    // A folder without images: the list is disabled and the image goes.
    Choose(root + QStringLiteral("/albums"));
    EXPECT_EQ(Names().count(), 0);
    EXPECT_FALSE(Names().isEnabled());
    EXPECT_FALSE(Model().g_bImageLoaded);
    EXPECT_FALSE(Commands().IsEnabled(ID_NEXT_IMAGE));
    EXPECT_FALSE(Commands().IsEnabled(ID_DELETE_FILE));
    EXPECT_TRUE(seam.messages.isEmpty());
}

TEST_F(FrameNavigation, NextAndPreviousStopAtTheEnds) {
    Start();
    Choose(photos);
    EXPECT_TRUE(Commands().Execute(ID_PREVIOUS_IMAGE));
    EXPECT_EQ(Shown(), File(QStringLiteral("img1.bmp"))) << "previous on the first image changes nothing";
    Model().StretchState = DisplayMode::Zoom(130);
    EXPECT_TRUE(Commands().Execute(ID_NEXT_IMAGE));
    EXPECT_EQ(Shown(), File(QStringLiteral("img2.png")));
    EXPECT_EQ(Model().StretchState, DisplayMode::Natural()) << "a zoom does not carry over";
    Model().StretchState = DisplayMode::Tile();
    EXPECT_TRUE(Commands().Execute(ID_NEXT_IMAGE));
    EXPECT_EQ(Shown(), File(QStringLiteral("img10.jpg")));
    EXPECT_EQ(Model().StretchState, DisplayMode::Tile()) << "tiling does";
    EXPECT_EQ(Frame().SlideShow().Position(), 2);
    EXPECT_TRUE(Commands().Execute(ID_NEXT_IMAGE));
    EXPECT_EQ(Shown(), File(QStringLiteral("img10.jpg"))) << "next on the last image changes nothing";
    EXPECT_TRUE(Commands().Execute(ID_PREVIOUS_IMAGE));
    EXPECT_EQ(Shown(), File(QStringLiteral("img2.png")));
}

TEST_F(FrameNavigation, ThumbnailsFollowTheFolderWhileTheirPageIsActive) {
    Start();
    Choose(photos);
    CFileListBar& bar = *Frame().FileList();
    EXPECT_TRUE(Commands().IsChecked(ID_LIST_BY_NAMES));
    ASSERT_TRUE(Commands().Execute(ID_NEXT_IMAGE));

    QSignalSpy ended(&bar, &CFileListBar::BuildEnded);
    ASSERT_TRUE(Commands().Execute(ID_THUMBNAILS));
    EXPECT_TRUE(Commands().IsChecked(ID_THUMBNAILS));
    EXPECT_EQ(bar.ThumbnailList()->count(), 3);
    ASSERT_TRUE(ended.wait(30000));
    EXPECT_EQ(Shown(), File(QStringLiteral("img1.bmp"))) << "the page change shows the first image";
    EXPECT_TRUE(Frame().DirectoryBar()->isEnabled() && Frame().FileListBar()->isEnabled());
    ASSERT_TRUE(Commands().Execute(ID_NEXT_IMAGE));
    EXPECT_EQ(bar.ThumbnailList()->SelectedIndex(), 1);
    EXPECT_EQ(Shown(), File(QStringLiteral("img2.png")));

    // Another folder: listed, built, and its first good file shown; a broken file goes.
    const QString mixed = root + QStringLiteral("/albums/mixed");
    Picture(mixed, QStringLiteral("a.bmp"), Qt::red);
    WriteJunk(mixed + QStringLiteral("/b.bmp"));
    const QString third = Picture(mixed, QStringLiteral("c.bmp"), Qt::blue);
    seam.messages.clear();
    // The thumbnails are made with both bars enabled: seen when the frame selects the first
    // thumbnail, right after starting the build.
    QList<bool> barsEnabledDuringBuild;  // building, directory bar enabled, file list bar enabled
    const auto watch = QObject::connect(bar.ThumbnailList(), &CListControl::ItemChanged, &bar, [&] {
        if (barsEnabledDuringBuild.isEmpty() && bar.IsBuilding())
            barsEnabledDuringBuild << bar.IsBuilding() << Frame().DirectoryBar()->isEnabled()
                                   << Frame().FileListBar()->isEnabled();
    });
    ended.clear();
    Choose(mixed);
    ASSERT_TRUE(ended.count() > 0 || ended.wait(30000));
    QObject::disconnect(watch);
    EXPECT_EQ(Names().count(), 2);
    ASSERT_EQ(bar.ThumbnailList()->count(), 2);
    EXPECT_EQ(bar.ThumbnailList()->item(1)->text(), QStringLiteral("c.bmp"));
    EXPECT_EQ(CentreColour(bar.ThumbnailImages()[1]), QColor(Qt::blue));
    EXPECT_EQ(seam.messages,
              QStringList{"One or more Thumbnails could not be created.\nFile Names removed from Image List"});
    EXPECT_EQ(barsEnabledDuringBuild, (QList<bool>{true, true, true}));
    EXPECT_TRUE(Frame().DirectoryBar()->isEnabled() && Frame().FileListBar()->isEnabled());
    EXPECT_EQ(bar.ThumbnailList()->SelectedIndex(), 0);
    ASSERT_TRUE(Commands().Execute(ID_NEXT_IMAGE));
    EXPECT_EQ(Shown(), third);

    // "List by File Names" only switches the page.
    ASSERT_TRUE(Commands().Execute(ID_LIST_BY_NAMES));
    EXPECT_EQ(bar.Tabs()->CurrentPageIndex(), 0);
    EXPECT_EQ(Shown(), third);
}

TEST_F(FrameNavigation, DeleteAndPropertiesThroughTheFramesCommands) {
    Start();
    Choose(photos);
    ASSERT_TRUE(Commands().Execute(ID_NEXT_IMAGE));
    ASSERT_TRUE(Commands().IsEnabled(ID_DELETE_FILE));

    seam.answer = QMessageBox::No;
    ASSERT_TRUE(Commands().Execute(ID_DELETE_FILE));
    EXPECT_TRUE(QFile::exists(File(QStringLiteral("img2.png"))));
    EXPECT_EQ(Names().count(), 3);
    EXPECT_EQ(Shown(), File(QStringLiteral("img2.png")));

    seam.answer = QMessageBox::Yes;
    ASSERT_TRUE(Commands().Execute(ID_DELETE_FILE));
    EXPECT_FALSE(QFile::exists(File(QStringLiteral("img2.png"))));
    EXPECT_EQ(Names().count(), 2);
    EXPECT_EQ(Shown(), File(QStringLiteral("img10.jpg"))) << "the next image takes its place";

    ASSERT_TRUE(Commands().Execute(ID_FILE_PROPERTIES));
    ASSERT_TRUE(Commands().Execute(ID_FOLDER_PROPERTIES));
    EXPECT_EQ(seam.dialogs, (QStringList{"img10.jpg Properties", "photos Properties"}));
}

TEST_F(FrameNavigation, BarMenusCarryTheFramesCommandsAndARightClickChoosesNoFolder) {
    Start();
    Choose(photos);
    Frame().show();
    ASSERT_TRUE(Settle(*app->Document()));
    CFileListBar& bar = *Frame().FileList();
    ASSERT_TRUE(Commands().Execute(ID_THUMBNAILS));

    // Menu 161, the same from either page and from the tab strip.
    QListWidget* names = bar.NamesList();
    QMenu* onThumbnails = RightClick(bar.ThumbnailList()->viewport(), QPoint(5, 5));
    ASSERT_NE(onThumbnails, nullptr);
    EXPECT_EQ(Items(*onThumbnails),
              (QStringList{"Default View 32806",
                           "Set Wall Paper [Proportional Stretched 32831, Centered 32822, Stretched 32824, Tiled 32823]",
                           "-", "Properties ... 32817"}));
    onThumbnails->hide();
    QTabBar* tabs = bar.Tabs()->TabBar();
    EXPECT_EQ(RightClick(tabs, tabs->tabRect(0).center()), onThumbnails);
    onThumbnails->hide();
    ASSERT_TRUE(Commands().Execute(ID_LIST_BY_NAMES));
    ASSERT_TRUE(Settle(*app->Document()));
    EXPECT_EQ(RightClick(names->viewport(), QPoint(5, 5)), onThumbnails);
    ItemOf(*onThumbnails, ID_FILE_PROPERTIES)->trigger();
    onThumbnails->hide();
    EXPECT_EQ(seam.dialogs, QStringList{"img1.bmp Properties"});

    // Menu 166: its "Properties ..." is about the current folder, and the right click on
    // another node does not make that node the current folder.
    CNamespaceTree& tree = *Frame().DirectoryTree()->Tree();
    QTreeWidgetItem* chosen = tree.currentItem();
    QTreeWidgetItem* other = tree.itemAbove(chosen);
    ASSERT_NE(other, nullptr);
    tree.scrollToItem(other);
    QMenu* onTree = RightClick(tree.viewport(), tree.visualItemRect(other).center());
    ASSERT_NE(onTree, nullptr);
    EXPECT_EQ(Items(*onTree), (QStringList{"Default View 32806", "-", "Properties ... 32820"}));
    EXPECT_EQ(tree.currentItem(), chosen);
    EXPECT_EQ(Model().g_strLastDirectory, photos);
    ItemOf(*onTree, ID_FOLDER_PROPERTIES)->trigger();
    onTree->hide();
    EXPECT_EQ(seam.dialogs, (QStringList{"img1.bmp Properties", "photos Properties"}));
}

}  // namespace

// The names list lists every format the library reads, the EPS files of the bundled samples
// among them, and names the library does not read stay out.
TEST_F(FrameNavigation, TheNamesListShowsEveryFormatOfTheRegistry) {
    const QString mixed = root + QStringLiteral("/albums/mixed");
    QStringList expected;
    for (const std::string& extension : AllImageExtensions())
        expected << QStringLiteral("a.") + QString::fromStdString(extension);
    for (const QString& name : expected) WriteBytes((mixed + QLatin1Char('/') + name).toStdString(), {0});
    WriteBytes((mixed + QStringLiteral("/notes.txt")).toStdString(), {0});
    Start();
    EXPECT_TRUE(Names().Filter().contains(QStringLiteral("eps")));
    Names().SetFolder(mixed);
    QStringList listed;
    for (int row = 0; row < Names().count(); ++row) listed << Names().item(row)->text();
    listed.sort();
    expected.sort();
    EXPECT_EQ(listed, expected);
}
