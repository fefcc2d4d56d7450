#include "browser/image_file_list.h"

#include <QFileIconProvider>
#include <QMouseEvent>

namespace {

// A row and the namespace record it stands for, which lives as long as the row.
class CImageFileItem : public QListWidgetItem {
public:
    CImageFileItem(CNamespaceItem record, const QIcon& icon)
        : QListWidgetItem(icon, record.displayName), record_(std::move(record)) {
        // A name wider than the bar shows whole when the pointer rests on it.
        setToolTip(text());
    }
    const CNamespaceItem& Record() const { return record_; }

private:
    CNamespaceItem record_;
};

}  // namespace

CImageFileList::CImageFileList(QWidget* parent) : CListControl(kControlId, parent) {
    setObjectName(QStringLiteral("ImageFileList"));
    setViewMode(QListView::ListMode);
    setWrapping(false);
    setUniformItemSizes(true);
    setSelectionRectVisible(false);
}

void CImageFileList::SetFilter(const QString& text) {
    extensions_.clear();
    if (text.isEmpty()) return;
    QString rest = text;
    for (qsizetype bar = rest.indexOf(QLatin1Char('|')); bar >= 0; bar = rest.indexOf(QLatin1Char('|'))) {
        if (bar > 0) extensions_ << rest.left(bar);
        rest = rest.mid(bar + 1);
    }
    extensions_ << rest;
}

bool CImageFileList::MatchesFilter(const QString& path) const {
    if (extensions_.isEmpty()) return true;
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : name.mid(dot + 1);
    for (const QString& listed : extensions_)
        if (listed.compare(extension, Qt::CaseInsensitive) == 0) return true;
    return false;
}

bool CImageFileList::AcceptItem(const CNamespaceItem&) { return true; }

bool CImageFileList::SetFolder(const QString& path) {
    const CItemId folder = CNamespaceAccess::BindFolder(path).value_or(CItemId{});
    const std::optional<CItemId> absolute = CNamespaceAccess::ParsePath(path);
    if (!absolute) return false;

    std::vector<CNamespaceItem> files;
    const unsigned hidden = showHidden_ ? CNamespaceAccess::ENUM_INCLUDEHIDDEN : 0u;
    for (CNamespaceItem& item : namespace_.Enumerate(folder, CNamespaceAccess::ENUM_NONFOLDERS | hidden)) {
        if (!item.Is(NS_FILESYSTEM) || item.Is(NS_FOLDER)) continue;
        if (!MatchesFilter(CNamespaceAccess::PathOf(item.AbsoluteId())) || !AcceptItem(item)) continue;
        files.push_back(std::move(item));
    }
    namespace_.Sort(files);

    setUpdatesEnabled(false);
    RemoveAllRows();
    for (CNamespaceItem& file : files) {
        const QIcon icon = IconFor(file.iconName);
        addItem(new CImageFileItem(std::move(file), icon));
    }
    setUpdatesEnabled(true);
    currentFolder_ = *absolute;
    return true;
}

const CNamespaceItem* CImageFileList::ItemAt(int row) const {
    const auto* file = dynamic_cast<const CImageFileItem*>(item(row));
    return file ? &file->Record() : nullptr;
}

QString CImageFileList::PathAt(int row) const {
    const CNamespaceItem* record = ItemAt(row);
    return record ? CNamespaceAccess::PathOf(record->AbsoluteId()) : QString();
}

QIcon CImageFileList::IconFor(const QString& iconName) {
    auto known = icons_.find(iconName);
    if (known == icons_.end()) {
        static const QFileIconProvider provider;
        known = icons_.insert(iconName, QIcon::fromTheme(iconName, provider.icon(QFileIconProvider::File)));
    }
    return *known;
}

void CImageFileList::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }
