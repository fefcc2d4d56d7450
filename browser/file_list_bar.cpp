#include "browser/file_list_bar.h"

#include "browser/image_file_list.h"
#include "browser/list_control.h"
#include "browser/progress_popup.h"
#include "browser/properties_dialog.h"
#include "browser/tab_view_container.h"
#include "imagelib/decode_context.h"
#include "imagelib/text_exception.h"
#include "platform/trash.h"
#include "viewer/modal_seam.h"
#include "viewer/viewer_state.h"

#include <QContextMenuEvent>
#include <QFile>
#include <QMenu>
#include <QShortcut>
#include <QVBoxLayout>

#include <functional>

namespace {

const QString kNoFolder = QStringLiteral(" ");
const QColor kThumbnailBackground(240, 240, 240);

// Runs its action when the scope ends, however it ends.
class CScopeExit {
public:
    explicit CScopeExit(std::function<void()> action) : action_(std::move(action)) {}
    ~CScopeExit() { action_(); }
    CScopeExit(const CScopeExit&) = delete;
    CScopeExit& operator=(const CScopeExit&) = delete;

private:
    std::function<void()> action_;
};

QMessageBox::StandardButton Tell(QWidget* owner, const QString& text,
                                 QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                 QMessageBox::Icon icon = QMessageBox::NoIcon) {
    return ModalSeam().MessageBox(owner, text, buttons, icon);
}

}  // namespace

CFileListBar::CFileListBar(QWidget* parent)
    : QWidget(parent),
      tabs_(new COX3DTabViewContainer(this)),
      names_(new CImageFileList),
      thumbnails_(new CListControl(kThumbnailListId)) {
    setObjectName(QStringLiteral("FileListBar"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tabs_);

    thumbnails_->setObjectName(QStringLiteral("ThumbnailList"));
    thumbnails_->setViewMode(QListView::IconMode);
    thumbnails_->setIconSize(kThumbnailSize);
    thumbnails_->setGridSize(kIconSpacing);
    thumbnails_->setSpacing(kItemMargin);
    thumbnails_->setMovement(QListView::Static);
    thumbnails_->setResizeMode(QListView::Adjust);
    thumbnails_->setWrapping(true);
    thumbnails_->setWordWrap(true);
    QPalette palette = thumbnails_->palette();
    palette.setColor(QPalette::Base, kThumbnailBackground);
    thumbnails_->setPalette(palette);

    tabs_->AppendPage(names_, QStringLiteral("Names"));
    tabs_->AppendPage(thumbnails_, QStringLiteral("Thumbnails"));
    tabs_->ActivatePage(0);
    names_->setEnabled(false);

    for (CListControl* list : {static_cast<CListControl*>(names_), thumbnails_}) {
        connect(list, &CListControl::ItemChanged, this, &CFileListBar::ItemChanged);
        connect(list, &CListControl::ContextMenuRequested, this, &CFileListBar::ShowContextMenu);
    }
    connect(tabs_, &COX3DTabViewContainer::PageChanged, this, &CFileListBar::OnPageChanged);

    // The Delete key anywhere in the bar deletes the selected image, and goes no further.
    auto* deleteKey = new QShortcut(QKeySequence::Delete, this);
    deleteKey->setContext(Qt::WidgetWithChildrenShortcut);
    connect(deleteKey, &QShortcut::activated, this, &CFileListBar::DeleteSelected);

    dockingBars_ = {QPointer<QWidget>(this)};
}

CFileListBar::~CFileListBar() = default;

bool CFileListBar::ThumbnailsActive() const { return tabs_->CurrentPageIndex() != 0; }

CListControl* CFileListBar::ActiveList() const {
    return ThumbnailsActive() ? thumbnails_ : static_cast<CListControl*>(names_);
}

int CFileListBar::SelectedIndex() const { return ActiveList()->SelectedIndex(); }

void CFileListBar::SetDockingBars(QWidget* directoryBar, QWidget* fileListBar) {
    dockingBars_ = {QPointer<QWidget>(directoryBar), QPointer<QWidget>(fileListBar)};
}

bool CFileListBar::DeleteSelected() {
    // Rows must not move under a running build.
    if (building_) return false;
    const int row = SelectedIndex();
    if (!g_bImageLoaded || row == -1) return false;
    const QString path = names_->PathAt(row);
    const QString name = names_->item(row) ? names_->item(row)->text() : path;

    const auto answer = Tell(this, QStringLiteral("Are you sure you want to move \"%1\" to the trash?").arg(name),
                             QMessageBox::Yes | QMessageBox::No, QMessageBox::Question);
    if (answer != QMessageBox::Yes) {
        ActiveList()->setFocus();
        return false;
    }
    QString reason;
    if (!MoveToTrash(path, reason)) {
        Tell(this, QStringLiteral("\"%1\" could not be moved to the trash.\n%2").arg(name, reason), QMessageBox::Ok,
             QMessageBox::Warning);
        ActiveList()->setFocus();
        return false;
    }

    names_->RemoveRow(row);
    if (row < thumbnails_->count()) {
        thumbnails_->RemoveRow(row);
        if (static_cast<size_t>(row) < images_.size()) images_.erase(images_.begin() + row);
    }
    const int remaining = names_->count();
    if (remaining == 0) {
        names_->setEnabled(false);
        g_bImageLoaded = false;
        emit ViewsNeedUpdate();
    } else {
        // The row that took the deleted one's place shows; after the last row, the new last.
        ActiveList()->SelectRow(std::min(row, ActiveList()->count() - 1));
        if (ThumbnailsActive()) thumbnails_->doItemsLayout();
    }
    ActiveList()->setFocus();
    return true;
}

void CFileListBar::ShowFileProperties() { ShowPathProperties(g_strCurrentFile, this); }

void CFileListBar::BuildThumbnails() {
    if (building_) return;
    if (!g_bFolderChanged && g_strLastDirectory == thumbnailsFolder_) return;

    building_ = true;
    LockBars();
    thumbnails_->setUpdatesEnabled(false);
    const CScopeExit done([this] {
        thumbnails_->setUpdatesEnabled(true);
        UnlockBars();
        building_ = false;
    });

    g_bFolderChanged = false;
    thumbnailsFolder_ = g_strLastDirectory;

    CProgressPopup popup;
    popup.Create(this, QStringLiteral("Thumbnails"), true);
    popup.CenterOver(window());
    popup.SetText(QStringLiteral("Creating Thumbnails... Please be patient!"));

    int count = names_->count();
    images_.clear();
    thumbnails_->RemoveAllRows();
    if (count == 0) return;
    images_.reserve(static_cast<size_t>(count));
    popup.SetRange(0, count, 1);

    // A JPEG decodes at 1/2, 1/4 or 1/8 of its size when that still covers the cell.
    CDecodeContext context;
    context.minWidth = kThumbnailSize.width();
    context.minHeight = kThumbnailSize.height();
    bool cancelled = false;
    bool failed = false;
    for (int row = 0; row < count;) {
        const QString path = names_->PathAt(row);
        const QString name = names_->item(row)->text();
        popup.StepIt();
        popup.PumpMessages(true);
        if (popup.Cancelled()) {
            Tell(this, QStringLiteral("Thumbnail Creation Canceled"));
            cancelled = true;
            break;
        }
        QImage thumbnail;
        try {
            // The path goes to the decoder as it is on disk.
            decoder_.DecodeFile(QFile::encodeName(path).toStdString(), decodeBitmap_, context, kDecodeDepth);
            CDIBSectionBitmap scaled;
            scaled.ResizeFrom(decodeBitmap_, kThumbnailSize.width(), kThumbnailSize.height());
            thumbnail = scaled.ReleaseBitmapHandle();
        } catch (const CTextException&) {
            // Dropped from both pages; the file that moves up into this row comes next.
            failed = true;
            names_->RemoveRow(row);
            --count;
            continue;
        }
        images_.push_back(thumbnail);
        thumbnails_->addItem(new QListWidgetItem(QIcon(QPixmap::fromImage(thumbnail)), name));
        ++row;
    }

    if (cancelled) {
        thumbnailsFolder_ = kNoFolder;
        images_.clear();
        thumbnails_->RemoveAllRows();
    }
    if (failed) Tell(this, QStringLiteral("One or more Thumbnails could not be created.\nFile Names removed from Image List"));
}

void CFileListBar::LockBars() {
    if (barLocks_++ > 0) return;
    for (const QPointer<QWidget>& bar : dockingBars_)
        if (bar) bar->setEnabled(false);
}

void CFileListBar::UnlockBars() {
    if (--barLocks_ > 0) return;
    for (const QPointer<QWidget>& bar : dockingBars_)
        if (bar) bar->setEnabled(true);
}

void CFileListBar::OnPageChanged() {
    // No folder change or list action may start while the page is prepared.
    LockBars();
    const CScopeExit unlock([this] { UnlockBars(); });
    if (ThumbnailsActive()) BuildThumbnails();
    thumbnails_->SelectRow(0);
    names_->SelectRow(0);
}

void CFileListBar::ShowContextMenu(const QPoint& globalPos) {
    if (contextMenu_) contextMenu_->popup(globalPos);
}

void CFileListBar::contextMenuEvent(QContextMenuEvent* event) {
    ShowContextMenu(event->globalPos());
    event->accept();
}

void CFileListBar::SetContextMenu(QMenu* menu) { contextMenu_ = menu; }
