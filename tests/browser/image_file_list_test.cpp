// The Names list: which files, in which order, the extension list, and the row operations
// next, previous and first with the notifications they raise.

#include "browser/image_file_list.h"
#include "browser_test_support.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString kOldList = QStringLiteral("jpg|bmp|png|pcx|pct|tga|pgm|tif");
const QString kViewerList = QStringLiteral("jpg|jpeg|jpe|bmp|dib|png|gif|tif|tiff|pcx|pct|pict|tga|pgm|wmf|emf");

QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

QStringList Rows(const CImageFileList& list) {
    QStringList rows;
    for (int row = 0; row < list.count(); ++row) rows << list.item(row)->text();
    return rows;
}

TEST(ImageFileList, FilterPiecesAndMatches) {
    CImageFileList list;
    list.SetFilter(kOldList);
    EXPECT_EQ(list.Filter(), (QStringList{"jpg", "bmp", "png", "pcx", "pct", "tga", "pgm", "tif"}));
    list.SetFilter(QStringLiteral("|jpg||png|"));
    EXPECT_EQ(list.Filter(), (QStringList{"jpg", "png", ""}));
    list.SetFilter(QStringLiteral("png"));
    EXPECT_EQ(list.Filter(), QStringList{"png"});

    list.SetFilter(kOldList);
    EXPECT_TRUE(list.MatchesFilter(QStringLiteral("/p/IMG.JPG")));
    EXPECT_TRUE(list.MatchesFilter(QStringLiteral("/p/img.Jpg")));
    EXPECT_TRUE(list.MatchesFilter(QStringLiteral("/My.Photos/photo.old.jpg")));
    EXPECT_FALSE(list.MatchesFilter(QStringLiteral("/p/d.jpeg")));
    EXPECT_FALSE(list.MatchesFilter(QStringLiteral("/My.jpg/noext")));
    // The trailing empty piece of "png|" accepts names without an extension.
    list.SetFilter(QStringLiteral("png|"));
    EXPECT_TRUE(list.MatchesFilter(QStringLiteral("/My.jpg/noext")));
    EXPECT_FALSE(list.MatchesFilter(QStringLiteral("/p/a.jpg")));
    list.SetFilter(QString());
    EXPECT_TRUE(list.Filter().isEmpty());
    EXPECT_TRUE(list.MatchesFilter(QStringLiteral("/p/anything.txt")));
}

class ImageFileListFolder : public ::testing::Test {
protected:
    void SetUp() override {
        folder = Q(dir.Path());
        for (const char* name : {"a.JPG", "b.tif", "c.Png", "d.jpeg", "e.gif", "f", ".hidden.bmp", "notes.txt",
                                 "img10.png", "img2.png"})
            WritePicture(folder + QLatin1Char('/') + QLatin1String(name));
        QDir().mkpath(folder + QStringLiteral("/folder.jpg"));
        QDir().mkpath(folder + QStringLiteral("/My.Photos"));
        WritePicture(folder + QStringLiteral("/My.Photos/x.jpg"));
        WritePicture(folder + QStringLiteral("/My.Photos/photo.old.jpg"));
    }

    TempDir dir;
    QString folder;
    CImageFileList list;
};

TEST_F(ImageFileListFolder, ListsImageFilesByExtensionInNameOrder) {
    list.SetFilter(kOldList);
    ASSERT_TRUE(list.SetFolder(folder));
    // Folders never, hidden files always; .jpeg and .gif are not on this list.
    EXPECT_EQ(Rows(list), (QStringList{".hidden.bmp", "a.JPG", "b.tif", "c.Png", "img2.png", "img10.png"}));
    EXPECT_EQ(list.PathAt(1), folder + QStringLiteral("/a.JPG")) << "paths keep their case";
    EXPECT_EQ(list.PathAt(99), QString());

    // The list the viewer sets shows every format the library reads.
    list.SetFilter(kViewerList);
    ASSERT_TRUE(list.SetFolder(folder));
    EXPECT_EQ(Rows(list), (QStringList{".hidden.bmp", "a.JPG", "b.tif", "c.Png", "d.jpeg", "e.gif", "img2.png",
                                       "img10.png"}));

    ASSERT_TRUE(list.SetFolder(folder + QStringLiteral("/My.Photos")));
    EXPECT_EQ(Rows(list), (QStringList{"photo.old.jpg", "x.jpg"}));
    EXPECT_EQ(list.CurrentFolder(), CNamespaceAccess::ParsePath(folder + QStringLiteral("/My.Photos")));
}

TEST_F(ImageFileListFolder, FoldersThatCannotBeListed) {
    list.SetFilter(kViewerList);
    ASSERT_TRUE(list.SetFolder(folder + QStringLiteral("/My.Photos")));
    // A folder that does not exist leaves the rows of the last one.
    EXPECT_FALSE(list.SetFolder(folder + QStringLiteral("/gone")));
    EXPECT_EQ(list.count(), 2);

    QDir().mkpath(folder + QStringLiteral("/empty"));
    EXPECT_TRUE(list.SetFolder(folder + QStringLiteral("/empty")));
    EXPECT_EQ(list.count(), 0);

    // The empty path lists the desktop, here the home folder (there is no desktop folder).
    WritePicture(QDir::homePath() + QStringLiteral("/at-home.png"));
    EXPECT_TRUE(list.SetFolder(QString()));
    EXPECT_TRUE(Rows(list).contains(QStringLiteral("at-home.png")));
    EXPECT_EQ(list.PathAt(Rows(list).indexOf(QStringLiteral("at-home.png"))),
              QDir::homePath() + QStringLiteral("/at-home.png"));
    QFile::remove(QDir::homePath() + QStringLiteral("/at-home.png"));
}

TEST_F(ImageFileListFolder, RowOperationsStopAtBothEndsAndReportTheNewState) {
    list.SetFilter(kOldList);
    ASSERT_TRUE(list.SetFolder(folder));
    QSignalSpy changes(&list, &CListControl::ItemChanged);
    const auto selectedAndFocused = [&] {
        QList<int> rows;
        for (const QList<QVariant>& change : changes)
            if (change[2].toInt() == (LVIS_SELECTED | LVIS_FOCUSED)) rows << change[1].toInt();
        changes.clear();
        return rows;
    };

    // With no focused row, the next row is the first.
    list.SelectNextRow();
    EXPECT_EQ(selectedAndFocused(), QList<int>{0});
    EXPECT_EQ(list.SelectedIndex(), 0);
    list.SelectPreviousRow();
    EXPECT_EQ(selectedAndFocused(), QList<int>{}) << "previous on the first row changes nothing";
    for (int i = 0; i < 10; ++i) list.SelectNextRow();
    EXPECT_EQ(selectedAndFocused(), (QList<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(list.SelectedIndex(), 5);
    list.SelectFirstRow();
    EXPECT_EQ(selectedAndFocused(), QList<int>{0});
    // Selecting the row that is selected and focused already reports nothing.
    list.SelectRow(0);
    EXPECT_EQ(selectedAndFocused(), QList<int>{});

    // A click selects as well; a double click adds nothing to it.
    list.resize(300, 300);
    list.show();
    const QRect third = list.visualItemRect(list.item(2));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, third.center());
    EXPECT_EQ(selectedAndFocused(), QList<int>{2});
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, third.center());
    EXPECT_EQ(selectedAndFocused(), QList<int>{});
    EXPECT_EQ(list.SelectedIndex(), 2);

    // Refilling forgets the states without reporting them.
    ASSERT_TRUE(list.SetFolder(folder));
    EXPECT_TRUE(changes.isEmpty());
    EXPECT_EQ(list.SelectedIndex(), -1);
}

}  // namespace
