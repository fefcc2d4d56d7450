// The folder tree: the root, lazy filling, paths of nodes and selecting a saved path.

#include "browser/namespace_tree.h"
#include "browser_test_support.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>

namespace {

QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

QStringList Children(const QTreeWidgetItem* node) {
    QStringList names;
    for (int i = 0; i < node->childCount(); ++i) names << node->child(i)->text(0);
    return names;
}

QTreeWidgetItem* Child(QTreeWidgetItem* node, const QString& name) {
    for (int i = 0; i < node->childCount(); ++i)
        if (node->child(i)->text(0) == name) return node->child(i);
    return nullptr;
}

TEST(NamespaceTree, DesktopRootWithItsEntriesExpandedAndNothingSelected) {
    CNamespaceTree tree;
    ASSERT_TRUE(tree.ResetRoot());
    QTreeWidgetItem* desktop = tree.DesktopNode();
    ASSERT_NE(desktop, nullptr);
    EXPECT_EQ(desktop->text(0), QStringLiteral("Desktop"));
    EXPECT_TRUE(desktop->isExpanded());
    EXPECT_EQ(tree.currentItem(), nullptr);
    const QStringList entries = Children(desktop);
    ASSERT_TRUE(entries.contains(QStringLiteral("Computer")));
    EXPECT_EQ(entries.front(), QDir(QDir::homePath()).dirName());

    EXPECT_EQ(tree.PathOf(desktop), QString());
    EXPECT_EQ(tree.PathOf(nullptr), QString());
    EXPECT_EQ(tree.PathOf(Child(desktop, QStringLiteral("Computer"))), QStringLiteral("/"));
    EXPECT_EQ(tree.PathOf(desktop->child(0)), QDir::homePath());
    // Rebuilding gives the same tree, not a second one.
    ASSERT_TRUE(tree.ResetRoot());
    EXPECT_EQ(tree.topLevelItemCount(), 1);
    EXPECT_EQ(Children(tree.DesktopNode()), entries);
}

TEST(NamespaceTree, NodesFillOnTheirFirstExpansionWithFoldersOnly) {
    const QString home = QDir::homePath();
    QDir().mkpath(home + QStringLiteral("/album/2024/summer"));
    QDir().mkpath(home + QStringLiteral("/album/.cache"));
    QDir().mkpath(home + QStringLiteral("/album/Flat"));
    WritePicture(home + QStringLiteral("/album/cover.jpg"));

    CNamespaceTree tree;
    tree.ResetRoot();
    QTreeWidgetItem* homeNode = tree.DesktopNode()->child(0);
    EXPECT_EQ(homeNode->childCount(), 0) << "not read before it is expanded";
    EXPECT_EQ(homeNode->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    homeNode->setExpanded(true);
    QTreeWidgetItem* album = Child(homeNode, QStringLiteral("album"));
    ASSERT_NE(album, nullptr);
    album->setExpanded(true);
    EXPECT_EQ(Children(album), (QStringList{".cache", "2024", "Flat"}));
    EXPECT_EQ(Child(album, QStringLiteral("Flat"))->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    EXPECT_EQ(Child(album, QStringLiteral("2024"))->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);

    // Read once: a second expansion adds nothing, and later folders show only after a rebuild.
    QDir().mkpath(home + QStringLiteral("/album/later"));
    album->setExpanded(false);
    album->setExpanded(true);
    EXPECT_EQ(Children(album), (QStringList{".cache", "2024", "Flat"}));
    EXPECT_EQ(tree.PathOf(Child(album, QStringLiteral("2024"))), home + QStringLiteral("/album/2024"));

    QDir(home + QStringLiteral("/album")).removeRecursively();
}

TEST(NamespaceTree, SelectPathWalksThroughComputerExpandingEachLevel) {
    TempDir dir;
    const QString nested = Q(dir.Path()) + QStringLiteral("/trip/day 2/raw");
    ASSERT_TRUE(QDir().mkpath(nested));

    CNamespaceTree tree;
    tree.ResetRoot();
    QSignalSpy changes(&tree, &CNamespaceTree::SelectionChanged);
    ASSERT_TRUE(tree.SelectPath(nested, false));
    ASSERT_NE(tree.currentItem(), nullptr);
    EXPECT_EQ(tree.PathOf(tree.currentItem()), nested);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.front().front().toInt(), CNamespaceTree::kControlId);
    EXPECT_FALSE(tree.currentItem()->isExpanded());
    for (QTreeWidgetItem* up = tree.currentItem()->parent(); up; up = up->parent())
        EXPECT_TRUE(up->isExpanded()) << up->text(0).toStdString();
    EXPECT_EQ(tree.currentItem()->parent()->parent()->parent()->text(0), QString::fromStdString(dir.Path().filename().string()));

    ASSERT_TRUE(tree.SelectPath(Q(dir.Path()) + QStringLiteral("/trip"), true));
    EXPECT_TRUE(tree.currentItem()->isExpanded());

    // Nothing changes for the empty path, a path that does not exist, or a file.
    changes.clear();
    QTreeWidgetItem* before = tree.currentItem();
    EXPECT_TRUE(tree.SelectPath(QString(), false));
    EXPECT_FALSE(tree.SelectPath(nested + QStringLiteral("/gone"), false));
    EXPECT_EQ(tree.currentItem(), before);
    EXPECT_TRUE(changes.isEmpty());
    WritePicture(nested + QStringLiteral("/x.png"));
    EXPECT_FALSE(tree.SelectPath(nested + QStringLiteral("/x.png"), false));
}

}  // namespace
