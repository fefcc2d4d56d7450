#include "browser/namespace_tree.h"

#include <QContextMenuEvent>
#include <QFileIconProvider>
#include <QMouseEvent>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

// A node of the tree: the record of its folder (none for "Desktop") and whether its
// children have been read.
class CNamespaceNode : public QTreeWidgetItem {
public:
    explicit CNamespaceNode(std::optional<CNamespaceItem> record) : record_(std::move(record)) {}
    const CNamespaceItem* Record() const { return record_ ? &*record_ : nullptr; }
    bool expandedOnce = false;

private:
    std::optional<CNamespaceItem> record_;
};

CNamespaceNode* NodeOf(QTreeWidgetItem* item) { return dynamic_cast<CNamespaceNode*>(item); }

QIcon FallbackIcon(const QString& iconName) {
    static const QFileIconProvider provider;
    if (iconName == QLatin1String("computer")) return provider.icon(QFileIconProvider::Computer);
    if (iconName == QLatin1String("user-desktop")) return provider.icon(QFileIconProvider::Desktop);
    if (iconName.startsWith(QLatin1String("drive-"))) return provider.icon(QFileIconProvider::Drive);
    return provider.icon(QFileIconProvider::Folder);
}

constexpr int kIconSize = 16;

}  // namespace

CNamespaceTree::CNamespaceTree(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("NamespaceTree"));
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(kIconSize, kIconSize));
    connect(this, &QTreeWidget::itemExpanded, this, &CNamespaceTree::FillOnFirstExpansion);
    connect(this, &QTreeWidget::currentItemChanged, this, [this] { emit SelectionChanged(kControlId); });
}

bool CNamespaceTree::AcceptItem(const CNamespaceItem&) { return true; }

bool CNamespaceTree::ResetRoot() {
    icons_.clear();
    {
        const QSignalBlocker quiet(this);
        clear();
    }
    auto* desktop = new CNamespaceNode(std::nullopt);
    desktop->setText(0, QStringLiteral("Desktop"));
    desktop->setIcon(0, IconFor(QStringLiteral("user-desktop"), QStringLiteral("user-desktop")));
    desktop->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    desktop->expandedOnce = true;
    addTopLevelItem(desktop);
    FillChildren(desktop, CItemId{});
    desktop->setExpanded(true);
    return true;
}

unsigned CNamespaceTree::FolderFlags() const {
    return CNamespaceAccess::ENUM_FOLDERS | (showHidden_ ? CNamespaceAccess::ENUM_INCLUDEHIDDEN : 0u);
}

bool CNamespaceTree::FillChildren(QTreeWidgetItem* node, const CItemId& folder) {
    std::vector<CNamespaceItem> items =
        namespace_.Enumerate(folder, FolderFlags());
    // The root's entries keep the order the namespace gives them; folders go by name.
    if (!folder.isEmpty()) namespace_.Sort(items);
    for (CNamespaceItem& item : items)
        if (QTreeWidgetItem* child = MakeNode(std::move(item))) node->addChild(child);
    return true;
}

QTreeWidgetItem* CNamespaceTree::MakeNode(CNamespaceItem item) {
    const bool ancestor = item.Is(NS_FILESYSANCESTOR);
    if (!(ancestor && item.Is(NS_HASSUBFOLDER)) && !(item.Is(NS_FILESYSTEM) && item.Is(NS_FOLDER))) return nullptr;
    if (!AcceptItem(item)) return nullptr;
    const bool expandable = ancestor || item.Is(NS_HASSUBFOLDER);
    auto* node = new CNamespaceNode(std::move(item));
    node->setText(0, node->Record()->displayName);
    node->setIcon(0, IconFor(node->Record()->iconName, node->Record()->openIconName));
    node->setChildIndicatorPolicy(expandable ? QTreeWidgetItem::ShowIndicator : QTreeWidgetItem::DontShowIndicator);
    return node;
}

QStringList CNamespaceTree::ExpandedFolders() const {
    QStringList folders;
    std::vector<QTreeWidgetItem*> pending{DesktopNode()};
    while (!pending.empty()) {
        QTreeWidgetItem* node = pending.back();
        pending.pop_back();
        if (!node) continue;
        const CNamespaceNode* own = NodeOf(node);
        if (!own || !own->expandedOnce || !node->isExpanded()) continue;
        if (const QString path = PathOf(node); !path.isEmpty()) folders.append(path);
        for (int i = 0; i < node->childCount(); ++i) pending.push_back(node->child(i));
    }
    return folders;
}

QTreeWidgetItem* CNamespaceTree::FindFilledNode(QTreeWidgetItem* node, const QString& path) const {
    if (!node) return nullptr;
    const CNamespaceNode* own = NodeOf(node);
    if (!own || !own->expandedOnce) return nullptr;
    if (PathOf(node) == path) return node;
    for (int i = 0; i < node->childCount(); ++i)
        if (QTreeWidgetItem* found = FindFilledNode(node->child(i), path)) return found;
    return nullptr;
}

void CNamespaceTree::RefreshFolder(const QString& folder) {
    QTreeWidgetItem* node = FindFilledNode(DesktopNode(), folder);
    const CNamespaceItem* record = node ? RecordOf(node) : nullptr;
    if (!record) return;
    const CItemId id = record->AbsoluteId();
    std::vector<CNamespaceItem> items =
        namespace_.Enumerate(id, FolderFlags());
    namespace_.Sort(items);

    QTreeWidgetItem* const current = currentItem();
    bool currentWent = false;
    {
        const QSignalBlocker quiet(this);
        // The children that stay are taken out and put back in the new order; the view
        // forgets their expansion on the way, so it is noted first.
        QList<QTreeWidgetItem*> old = node->takeChildren();
        std::vector<QTreeWidgetItem*> expanded;
        for (QTreeWidgetItem* child : old) {
            std::vector<QTreeWidgetItem*> pending{child};
            while (!pending.empty()) {
                QTreeWidgetItem* item = pending.back();
                pending.pop_back();
                if (item->isExpanded()) expanded.push_back(item);
                for (int i = 0; i < item->childCount(); ++i) pending.push_back(item->child(i));
            }
        }
        for (CNamespaceItem& item : items) {
            auto same = std::find_if(old.begin(), old.end(), [&](QTreeWidgetItem* child) {
                const CNamespaceItem* known = RecordOf(child);
                return known && known->relativeId == item.relativeId;
            });
            if (same != old.end()) {
                node->addChild(*same);
                old.erase(same);
            } else if (QTreeWidgetItem* child = MakeNode(std::move(item))) {
                node->addChild(child);
            }
        }
        for (QTreeWidgetItem* item : expanded)
            if (item->treeWidget() == this) item->setExpanded(true);
        for (QTreeWidgetItem* item = current; item && !currentWent; item = item->parent())
            currentWent = old.contains(item);
        qDeleteAll(old);
        if (!currentWent && current) setCurrentItem(current);
    }
    if (!currentWent) return;
    // Taking the children out may have made the node current already, unannounced.
    if (currentItem() == node)
        emit SelectionChanged(kControlId);
    else
        setCurrentItem(node);
}

void CNamespaceTree::FillOnFirstExpansion(QTreeWidgetItem* item) {
    CNamespaceNode* node = NodeOf(item);
    if (!node || node->expandedOnce) return;
    node->expandedOnce = true;
    const CNamespaceItem* record = node->Record();
    if (!record) return;
    const CItemId folder = record->AbsoluteId();
    if (CNamespaceAccess::BindFolder(CNamespaceAccess::PathOf(folder))) FillChildren(node, folder);
    node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

const CNamespaceItem* CNamespaceTree::RecordOf(const QTreeWidgetItem* node) const {
    const auto* own = dynamic_cast<const CNamespaceNode*>(node);
    return own ? own->Record() : nullptr;
}

QString CNamespaceTree::PathOf(const QTreeWidgetItem* node) const {
    const CNamespaceItem* record = RecordOf(node);
    return record && record->Is(NS_FILESYSTEM) ? CNamespaceAccess::PathOf(record->AbsoluteId()) : QString();
}

bool CNamespaceTree::SelectPath(const QString& path, bool expand) {
    if (path.isEmpty()) return true;
    const std::optional<CItemId> id = CNamespaceAccess::ParsePath(path);
    if (!id || id->isEmpty()) return false;
    QTreeWidgetItem* parent = DesktopNode();
    if (!parent) return false;
    for (qsizetype level = 0; level < id->size(); ++level) {
        QTreeWidgetItem* found = nullptr;
        for (int i = 0; i < parent->childCount() && !found; ++i) {
            const CNamespaceItem* record = RecordOf(parent->child(i));
            if (record && record->relativeId == (*id)[level]) found = parent->child(i);
        }
        if (!found) return false;
        if (level + 1 < id->size()) {
            found->setExpanded(true);
            parent = found;
            continue;
        }
        setCurrentItem(found);
        if (expand) found->setExpanded(true);
        scrollToItem(found);
        return true;
    }
    return false;
}

QIcon CNamespaceTree::IconFor(const QString& iconName, const QString& openIconName) {
    const QString key = iconName + QLatin1Char('|') + openIconName;
    auto known = icons_.find(key);
    if (known != icons_.end()) return *known;
    const QIcon closed = QIcon::fromTheme(iconName, FallbackIcon(iconName));
    QIcon icon = closed;
    if (openIconName != iconName) {
        // The open folder shows while the node is selected.
        const QIcon open = QIcon::fromTheme(openIconName, closed);
        icon = QIcon();
        icon.addPixmap(closed.pixmap(kIconSize), QIcon::Normal);
        icon.addPixmap(open.pixmap(kIconSize), QIcon::Selected);
    }
    return *icons_.insert(key, icon);
}

void CNamespaceTree::contextMenuEvent(QContextMenuEvent* event) {
    emit ContextMenuRequested(event->globalPos());
    event->accept();
}

void CNamespaceTree::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}
