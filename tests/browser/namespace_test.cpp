// The namespace over the file system: ids, the root's entries, enumeration, name order.

#include "browser/namespace_access.h"
#include "browser_test_support.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace {

QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

QStringList Names(const std::vector<CNamespaceItem>& items) {
    QStringList names;
    for (const CNamespaceItem& item : items) names << item.displayName;
    return names;
}

const CNamespaceItem* Find(const std::vector<CNamespaceItem>& items, const QString& name) {
    for (const CNamespaceItem& item : items)
        if (item.displayName == name) return &item;
    return nullptr;
}

TEST(Namespace, PathsParseThroughComputerAndBack) {
    TempDir dir;
    const QString folder = Q(dir.Path()) + QStringLiteral("/My.Photos");
    ASSERT_TRUE(QDir().mkpath(folder));

    EXPECT_EQ(CNamespaceAccess::ParsePath(QString()), CItemId{});
    EXPECT_EQ(CNamespaceAccess::ParsePath(QStringLiteral("/")), CItemId{QStringLiteral("/")});
    const std::optional<CItemId> id = CNamespaceAccess::ParsePath(folder + QStringLiteral("//"));
    ASSERT_TRUE(id);
    EXPECT_EQ(id->front(), QStringLiteral("/"));
    EXPECT_EQ(id->back(), QStringLiteral("My.Photos"));
    EXPECT_EQ(CNamespaceAccess::PathOf(*id), folder);
    EXPECT_EQ(CNamespaceAccess::PathOf(CItemId{QStringLiteral("/")}), QStringLiteral("/"));
    EXPECT_EQ(CNamespaceAccess::PathOf(CItemId{QStringLiteral("/home/ann"), QStringLiteral("Pictures")}),
              QStringLiteral("/home/ann/Pictures"));
    EXPECT_EQ(CNamespaceAccess::PathOf(CItemId{}), QString());

    EXPECT_FALSE(CNamespaceAccess::ParsePath(folder + QStringLiteral("/missing")));
    EXPECT_FALSE(CNamespaceAccess::ParsePath(QStringLiteral("relative/path")));

    // Binding needs a readable folder; the empty path binds the root.
    EXPECT_EQ(CNamespaceAccess::BindFolder(QString()), CItemId{});
    EXPECT_EQ(CNamespaceAccess::BindFolder(folder), id);
    const QString file = WritePicture(folder + QStringLiteral("/x.jpg"));
    EXPECT_FALSE(CNamespaceAccess::BindFolder(file));
}

TEST(Namespace, RootHoldsHomeDesktopPicturesComputerAndTheDesktopsFiles) {
    const QString home = QDir::homePath();
    const QString desktop = home + QStringLiteral("/Desktop");
    const QString pictures = home + QStringLiteral("/Pictures");
    QDir(desktop).removeRecursively();
    QDir(pictures).removeRecursively();
    CNamespaceAccess access;

    // Without a desktop folder, the empty path means the home folder.
    EXPECT_EQ(CNamespaceAccess::DesktopFolder(), home);
    std::vector<CNamespaceItem> root = access.Enumerate({}, CNamespaceAccess::ENUM_FOLDERS);
    ASSERT_GE(root.size(), 2u);
    EXPECT_EQ(root[0].relativeId, home);
    EXPECT_EQ(root[1].displayName, QStringLiteral("Computer"));

    ASSERT_TRUE(QDir().mkpath(desktop + QStringLiteral("/Sub")));
    ASSERT_TRUE(QDir().mkpath(pictures));
    WritePicture(desktop + QStringLiteral("/on-desktop.png"));
    EXPECT_EQ(CNamespaceAccess::DesktopFolder(), desktop);

    root = access.Enumerate({}, CNamespaceAccess::ENUM_FOLDERS | CNamespaceAccess::ENUM_NONFOLDERS);
    ASSERT_GE(root.size(), 5u);
    EXPECT_EQ(root[0].relativeId, home);
    EXPECT_EQ(root[1].relativeId, desktop);
    EXPECT_TRUE(root[1].Is(NS_HASSUBFOLDER));
    EXPECT_EQ(root[2].relativeId, pictures);
    EXPECT_FALSE(root[2].Is(NS_HASSUBFOLDER));
    EXPECT_EQ(root[3].relativeId, QStringLiteral("/"));
    EXPECT_TRUE(root[3].Is(NS_FILESYSANCESTOR));
    // The files lying on the desktop belong to the root, under their own paths.
    const CNamespaceItem* file = Find(root, QStringLiteral("on-desktop.png"));
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(file->Is(NS_FOLDER));
    EXPECT_EQ(CNamespaceAccess::PathOf(file->AbsoluteId()), desktop + QStringLiteral("/on-desktop.png"));
    EXPECT_EQ(Find(root, QStringLiteral("Sub")), nullptr) << "the desktop's folders live under its own entry";

    QDir(desktop).removeRecursively();
    QDir(pictures).removeRecursively();
}

TEST(Namespace, FoldersListWhatTheyHoldHiddenOnesOnRequest) {
    TempDir dir;
    const QString root = Q(dir.Path());
    QDir().mkpath(root + QStringLiteral("/with/inner"));
    QDir().mkpath(root + QStringLiteral("/empty"));
    QDir().mkpath(root + QStringLiteral("/.hidden-folder"));
    WritePicture(root + QStringLiteral("/.hidden.jpg"));
    WritePicture(root + QStringLiteral("/plain.png"));
    QFile::link(root + QStringLiteral("/with"), root + QStringLiteral("/link-to-folder"));
    QFile::link(root + QStringLiteral("/plain.png"), root + QStringLiteral("/link.png"));
    QFile::link(root + QStringLiteral("/nowhere.png"), root + QStringLiteral("/dangling.png"));
    ASSERT_EQ(mkfifo((root + QStringLiteral("/pipe.jpg")).toLocal8Bit().constData(), 0600), 0);

    CNamespaceAccess access;
    const CItemId id = *CNamespaceAccess::ParsePath(root);
    std::vector<CNamespaceItem> all = access.Enumerate(
        id, CNamespaceAccess::ENUM_FOLDERS | CNamespaceAccess::ENUM_NONFOLDERS | CNamespaceAccess::ENUM_INCLUDEHIDDEN);
    access.Sort(all);
    // A pipe would block whoever reads it and a dangling link leads nowhere: neither is listed.
    EXPECT_EQ(Names(all), (QStringList{".hidden-folder", ".hidden.jpg", "empty", "link-to-folder", "link.png",
                                       "plain.png", "with"}));
    const CNamespaceItem* link = Find(all, QStringLiteral("link-to-folder"));
    EXPECT_TRUE(link->Is(NS_FOLDER) && link->Is(NS_LINK) && link->Is(NS_HASSUBFOLDER));
    EXPECT_TRUE(Find(all, QStringLiteral("with"))->Is(NS_HASSUBFOLDER));
    EXPECT_FALSE(Find(all, QStringLiteral("empty"))->Is(NS_HASSUBFOLDER));
    EXPECT_TRUE(Find(all, QStringLiteral(".hidden.jpg"))->Is(NS_HIDDEN));
    EXPECT_FALSE(Find(all, QStringLiteral("link.png"))->Is(NS_FOLDER));
    EXPECT_EQ(Find(all, QStringLiteral("plain.png"))->AbsoluteId(), id + CItemId{QStringLiteral("plain.png")});

    std::vector<CNamespaceItem> visibleFiles = access.Enumerate(id, CNamespaceAccess::ENUM_NONFOLDERS);
    access.Sort(visibleFiles);
    EXPECT_EQ(Names(visibleFiles), (QStringList{"link.png", "plain.png"}));

    EXPECT_TRUE(access.Enumerate(*CNamespaceAccess::ParsePath(root) + CItemId{QStringLiteral("gone")},
                                 CNamespaceAccess::ENUM_NONFOLDERS)
                    .empty());
}

TEST(Namespace, NamesGoInNaturalOrderWithoutRegardToCase) {
    CNamespaceAccess access;
    std::vector<CNamespaceItem> items;
    for (const char* name : {"img10.jpg", "img2.jpg", "IMG1.jpg", "b.jpg", "A.jpg", "img02.jpg", "a.jpg"}) {
        CNamespaceItem item;
        item.displayName = QString::fromLatin1(name);
        items.push_back(item);
    }
    access.Sort(items);
    EXPECT_EQ(Names(items), (QStringList{"A.jpg", "a.jpg", "b.jpg", "IMG1.jpg", "img02.jpg", "img2.jpg", "img10.jpg"}));
    EXPECT_LT(access.Compare(QStringLiteral("img2"), QStringLiteral("img10")), 0);
    EXPECT_GT(access.Compare(QStringLiteral("Zebra"), QStringLiteral("apple")), 0);
}

}  // namespace
