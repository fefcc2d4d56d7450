#include "browser/directory_tree_bar.h"

#include "browser/namespace_tree.h"
#include "browser/properties_dialog.h"
#include "browser/viewer_model.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QVBoxLayout>

CDirectoryTreeBar::CDirectoryTreeBar(CViewerModel& model, QWidget* parent)
    : QWidget(parent), model_(model), tree_(new CNamespaceTree(this)) {
    setObjectName(QStringLiteral("DirectoryTreeBar"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tree_);
    connect(tree_, &CNamespaceTree::ContextMenuRequested, this, &CDirectoryTreeBar::ShowContextMenu);
    tree_->ResetRoot();
}

void CDirectoryTreeBar::ShowFolderProperties() { ShowPathProperties(model_.g_strLastDirectory, this); }

void CDirectoryTreeBar::ShowContextMenu(const QPoint& globalPos) {
    if (contextMenu_) contextMenu_->popup(globalPos);
}

void CDirectoryTreeBar::contextMenuEvent(QContextMenuEvent* event) {
    ShowContextMenu(event->globalPos());
    event->accept();
}

void CDirectoryTreeBar::SetContextMenu(QMenu* menu) { contextMenu_ = menu; }
