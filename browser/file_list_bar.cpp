#include "browser/file_list_bar.h"

#include "browser/image_file_list.h"
#include "browser/list_control.h"
#include "browser/progress_popup.h"
#include "browser/properties_dialog.h"
#include "browser/tab_view_container.h"
#include "browser/thumbnail_workers.h"
#include "browser/viewer_model.h"
#include "platform/modal_seam.h"
#include "platform/trash.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QShortcut>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace {

const QString kNoFolder = QStringLiteral(" ");

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

const QColor CFileListBar::kThumbnailBackground(240, 240, 240);

CFileListBar::CFileListBar(CViewerModel& model, QWidget* parent)
    : QWidget(parent),
      model_(model),
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
    // Thumbnail i must stay the picture of Names row i: a refill under a running build
    // (the folder changed) makes the build worthless.
    const auto abandon = [this] {
        if (building_) AbandonBuild();
    };
    QAbstractItemModel* namesModel = names_->model();
    connect(namesModel, &QAbstractItemModel::modelAboutToBeReset, this, abandon);
    connect(namesModel, &QAbstractItemModel::rowsAboutToBeRemoved, this, abandon);
    connect(namesModel, &QAbstractItemModel::rowsAboutToBeInserted, this, abandon);

    // The Delete key anywhere in the bar deletes the selected image, and goes no further.
    auto* deleteKey = new QShortcut(QKeySequence::Delete, this);
    deleteKey->setContext(Qt::WidgetWithChildrenShortcut);
    connect(deleteKey, &QShortcut::activated, this, &CFileListBar::DeleteSelected);

    dockingBars_ = {QPointer<QWidget>(this)};
}

CFileListBar::~CFileListBar() {
    // The workers report to this bar, and the lists empty as they go: all ends before it.
    names_->model()->disconnect(this);
    if (workers_) workers_->Cancel();
}

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
    if (!model_.g_bImageLoaded || row == -1) return false;
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
        model_.g_bImageLoaded = false;
        emit ViewsNeedUpdate();
    } else {
        // The row that took the deleted one's place shows; after the last row, the new last.
        ActiveList()->SelectRow(std::min(row, ActiveList()->count() - 1));
        if (ThumbnailsActive()) thumbnails_->doItemsLayout();
    }
    ActiveList()->setFocus();
    return true;
}

void CFileListBar::ShowFileProperties() { ShowPathProperties(model_.g_strCurrentFile, this); }

void CFileListBar::Refresh() {
    const QString folder = model_.g_strLastDirectory;
    const int row = SelectedIndex();
    const QString selected = row >= 0 ? names_->PathAt(row) : QString();
    if (!names_->SetFolder(folder)) return;
    const int count = names_->count();
    names_->setEnabled(count > 0);
    if (ThumbnailsActive()) {
        model_.g_bFolderChanged = true;
        refreshing_ = true;
        BuildThumbnails();
    }
    if (count == 0) {
        model_.g_bImageLoaded = false;
        emit ViewsNeedUpdate();
        return;
    }
    if (row < 0) return;
    int same = -1;
    for (int i = 0; i < count && same < 0; ++i)
        if (names_->PathAt(i) == selected) same = i;
    ActiveList()->SelectRow(same >= 0 ? same : std::min(row, count - 1));
}

void CFileListBar::BuildThumbnails() {
    if (!model_.g_bFolderChanged && model_.g_strLastDirectory == thumbnailsFolder_) return;
    // A folder change under a running build: the new folder's thumbnails take over.
    if (building_) StopBuild();

    model_.g_bFolderChanged = false;
    // A build the user asked for reports every failure; one after a change on disk only
    // the files it has not told of yet.
    if (!refreshing_) reportedFailures_.clear();
    refreshing_ = false;
    thumbnailsFolder_ = model_.g_strLastDirectory;
    images_.clear();
    thumbnails_->RemoveAllRows();
    failedRows_.clear();
    const int count = names_->count();
    if (count == 0) {
        emit BuildEnded();
        return;
    }

    popup_ = new CProgressPopup;
    popup_->Create(this, QStringLiteral("Thumbnails"), true);
    popup_->CenterOver(window());
    popup_->SetText(QStringLiteral("Creating Thumbnails... Please be patient!"));
    popup_->SetRange(0, count, 1);
    popup_->CancelOnEscape();
    // At once, before results still queued can finish the build.
    connect(popup_, &CProgressPopup::CancelRequested, this, &CFileListBar::CancelBuild);

    // Every row is there from the start, an empty cell until its thumbnail comes, so that
    // row i of both pages is the same file throughout.
    QImage empty(kThumbnailSize, QImage::Format_RGB32);
    empty.fill(kThumbnailBackground);
    const QIcon emptyIcon(QPixmap::fromImage(empty));
    QStringList paths;
    images_.assign(static_cast<size_t>(count), empty);
    for (int row = 0; row < count; ++row) {
        paths << names_->PathAt(row);
        thumbnails_->addItem(new QListWidgetItem(emptyIcon, names_->item(row)->text()));
    }

    building_ = true;
    pending_ = count;
    known_.assign(static_cast<size_t>(count), false);
    showFirstReadable_ = false;
    workers_ = new CThumbnailWorkers(paths, kThumbnailSize, kThumbnailBackground, CThumbnailCache(), this);
    // Results of a build that was stopped may still be queued: only the current one counts.
    CThumbnailWorkers* workers = workers_;
    connect(workers, &CThumbnailWorkers::Made, this, [this, workers](int row, const QImage& thumbnail) {
        if (workers == workers_) OnThumbnailMade(row, thumbnail);
    }, Qt::QueuedConnection);
    connect(workers, &CThumbnailWorkers::Failed, this, [this, workers](int row) {
        if (workers == workers_) OnThumbnailFailed(row);
    }, Qt::QueuedConnection);
    workers_->Start(QThread::idealThreadCount());
}

void CFileListBar::OnThumbnailMade(int row, const QImage& thumbnail) {
    images_[static_cast<size_t>(row)] = thumbnail;
    thumbnails_->item(row)->setIcon(QIcon(QPixmap::fromImage(thumbnail)));
    known_[static_cast<size_t>(row)] = true;
    ShowFirstReadableRow();
    OneThumbnailLess();
}

void CFileListBar::OnThumbnailFailed(int row) {
    failedRows_.push_back(row);
    known_[static_cast<size_t>(row)] = true;
    ShowFirstReadableRow();
    OneThumbnailLess();
}

void CFileListBar::ShowFirstReadableRow() {
    if (!showFirstReadable_) return;
    if (thumbnails_->SelectedIndex() != -1) {
        showFirstReadable_ = false;
        return;
    }
    for (size_t row = 0; row < known_.size() && known_[row]; ++row) {
        if (std::find(failedRows_.begin(), failedRows_.end(), static_cast<int>(row)) != failedRows_.end()) continue;
        showFirstReadable_ = false;
        thumbnails_->SelectRow(static_cast<int>(row));
        names_->SelectRow(static_cast<int>(row));
        return;
    }
}

void CFileListBar::OneThumbnailLess() {
    if (popup_) popup_->StepIt();
    if (--pending_ == 0) FinishBuild();
}

void CFileListBar::StopBuild() {
    building_ = false;
    showFirstReadable_ = false;
    if (workers_) {
        workers_->Cancel();
        workers_->deleteLater();
        workers_ = nullptr;
    }
    if (popup_) {
        // It watches Escape until it is gone; a build that ended can no longer be cancelled.
        disconnect(popup_, nullptr, this, nullptr);
        popup_->hide();
        popup_->deleteLater();
        popup_ = nullptr;
    }
}

bool CFileListBar::DropFailedRows() {
    if (failedRows_.empty()) return false;
    std::sort(failedRows_.begin(), failedRows_.end(), std::greater<>());
    const int selected = ActiveList()->SelectedIndex();
    const int removedAbove = static_cast<int>(std::count_if(failedRows_.begin(), failedRows_.end(),
                                                            [selected](int row) { return row < selected; }));
    const bool selectedWent = std::find(failedRows_.begin(), failedRows_.end(), selected) != failedRows_.end();
    for (int row : failedRows_) {
        names_->RemoveRow(row);
        if (row < thumbnails_->count()) thumbnails_->RemoveRow(row);
        if (static_cast<size_t>(row) < images_.size()) images_.erase(images_.begin() + row);
    }
    failedRows_.clear();
    // A selected file that failed gives its place to the next one, which shows instead.
    if (selectedWent && ActiveList()->count() > 0)
        ActiveList()->SelectRow(std::min(selected - removedAbove, ActiveList()->count() - 1));
    return true;
}

void CFileListBar::FinishBuild() {
    StopBuild();
    bool news = false;
    for (int row : failedRows_) {
        const QString path = names_->PathAt(row);
        if (reportedFailures_.contains(path)) continue;
        reportedFailures_.append(path);
        news = true;
    }
    const bool failed = DropFailedRows();
    if (failed && news) Tell(this, QStringLiteral("One or more Thumbnails could not be created.\nFile Names removed from Image List"));
    emit BuildEnded();
}

void CFileListBar::CancelBuild() {
    const bool waitingForFirstImage = showFirstReadable_;
    StopBuild();
    Tell(this, QStringLiteral("Thumbnail Creation Canceled"));
    const bool failed = DropFailedRows();
    thumbnailsFolder_ = kNoFolder;
    images_.clear();
    thumbnails_->RemoveAllRows();
    // A page change still waiting for its first image shows the first name instead.
    if (waitingForFirstImage) names_->SelectRow(0);
    if (failed) Tell(this, QStringLiteral("One or more Thumbnails could not be created.\nFile Names removed from Image List"));
    emit BuildEnded();
}

void CFileListBar::AbandonBuild() {
    StopBuild();
    failedRows_.clear();
    thumbnailsFolder_ = kNoFolder;
    images_.clear();
    thumbnails_->RemoveAllRows();
    emit BuildEnded();
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
    // No folder change or list action may start while the page is prepared; the thumbnails
    // themselves are made afterwards, with both bars enabled.
    LockBars();
    const CScopeExit unlock([this] { UnlockBars(); });
    if (ThumbnailsActive()) BuildThumbnails();
    SelectFirstReadableRow();
}

void CFileListBar::SelectFirstReadableRow() {
    if (building_) {
        showFirstReadable_ = true;
        ShowFirstReadableRow();
        return;
    }
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
