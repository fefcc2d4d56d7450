#pragma once

#include "browser/namespace_access.h"

#include <QHash>
#include <QIcon>
#include <QTreeWidget>

// The folder tree of the "Directory" bar: a "Desktop" node whose children are the root's
// entries (home, desktop and pictures folders, "Computer", mounted volumes), and below them
// the folders of the file system, hidden ones included. A node's children are read once, the
// first time it is expanded, and read again when RefreshFolder says the folder changed.
// Choosing a node makes its folder the current folder: the tree reports the change and the
// main frame lists that folder.
class CNamespaceTree : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr int kControlId = 1008;

    explicit CNamespaceTree(QWidget* parent = nullptr);

    // Rebuilds the whole tree: the "Desktop" node, expanded, with the root's entries in the
    // order the namespace gives them.
    bool ResetRoot();
    // Inserts the folders of the folder whose absolute id is folder as the last children of
    // node, in name order.
    bool FillChildren(QTreeWidgetItem* node, const CItemId& folder);
    // The file-system path of node: empty for "Desktop", for nodes without a path and for
    // no node.
    QString PathOf(const QTreeWidgetItem* node) const;
    // Walks from the root to the folder at path, expanding each level on the way, selects
    // it, expands it when asked and scrolls it into view. The empty path selects nothing and
    // succeeds; a path that does not exist or cannot be reached selects nothing and fails.
    bool SelectPath(const QString& path, bool expand);

    // Whether folders whose names start with a dot are shown (they are, unless the user
    // turned them off); takes effect as folders are read.
    void SetShowHidden(bool show) { showHidden_ = show; }

    // The folders of the expanded nodes whose children were read: those to watch.
    QStringList ExpandedFolders() const;
    // Reads the children of the node of folder again: new folders appear in their place,
    // gone ones disappear with their subtrees, the others keep theirs and their expansion.
    // When the selected node went, its parent is selected instead. Folders without a read
    // node are left alone.
    void RefreshFolder(const QString& folder);

    QTreeWidgetItem* DesktopNode() const { return topLevelItemCount() ? topLevelItem(0) : nullptr; }
    // The namespace record of node (none for "Desktop").
    const CNamespaceItem* RecordOf(const QTreeWidgetItem* node) const;
    // Fills node on its first expansion; a folder that cannot be bound stays empty.
    void FillOnFirstExpansion(QTreeWidgetItem* node);

signals:
    // The selected node changed (the main frame's folder-changed procedure).
    void SelectionChanged(int controlId);
    void ContextMenuRequested(const QPoint& globalPos);

protected:
    // Consulted for every candidate node; accepts everything.
    virtual bool AcceptItem(const CNamespaceItem& item);
    void contextMenuEvent(QContextMenuEvent* event) override;
    // A right click opens the bar's menu about the current folder; it chooses no node.
    void mousePressEvent(QMouseEvent* event) override;

private:
    QIcon IconFor(const QString& iconName, const QString& openIconName);
    // A node for item, or nullptr when the tree does not show it.
    QTreeWidgetItem* MakeNode(CNamespaceItem item);
    // The read node whose folder is path, below node.
    QTreeWidgetItem* FindFilledNode(QTreeWidgetItem* node, const QString& path) const;

    unsigned FolderFlags() const;

    CNamespaceAccess namespace_;
    QHash<QString, QIcon> icons_;
    bool showHidden_ = true;
};
