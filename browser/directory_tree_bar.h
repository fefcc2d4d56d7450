#pragma once

#include <QPointer>
#include <QWidget>

class CNamespaceTree;
class QMenu;
struct CViewerModel;

// The contents of the "Directory" bar: the folder tree, filling the bar, built from the
// namespace root when the bar is made. A right click anywhere in it (on a node too) shows
// the bar's menu, whose commands are the frame's.
class CDirectoryTreeBar : public QWidget {
    Q_OBJECT
public:
    explicit CDirectoryTreeBar(CViewerModel& model, QWidget* parent = nullptr);

    CNamespaceTree* Tree() const { return tree_; }
    // The properties of the folder last selected (not of the node under the mouse).
    void ShowFolderProperties();
    void SetContextMenu(QMenu* menu);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void ShowContextMenu(const QPoint& globalPos);

    CViewerModel& model_;
    CNamespaceTree* tree_;
    QPointer<QMenu> contextMenu_;
};
