#pragma once

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QSize>
#include <QWidget>

#include <vector>

class CImageFileList;
class CListControl;
class COX3DTabViewContainer;
class CProgressPopup;
class CThumbnailWorkers;
struct CViewerModel;
class QMenu;

// The contents of the "File List" bar: a tab container with the Names page (the image
// file list) and the Thumbnails page (one 100 x 75 cell per file, row i the same file on
// both pages). It builds the thumbnails on worker threads, switches pages, and carries the
// file operations: the selected row, delete to the trash, the file's properties. Row
// changes of both lists travel on to the main frame as ItemChanged.
class CFileListBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTabContainerId = 59648;
    static constexpr int kThumbnailListId = 198;
    static constexpr QSize kThumbnailSize{100, 75};
    static constexpr int kItemMargin = 2;
    static constexpr QSize kIconSpacing{143 - 30, 118 - 10};
    static const QColor kThumbnailBackground;

    explicit CFileListBar(CViewerModel& model, QWidget* parent = nullptr);
    ~CFileListBar() override;

    COX3DTabViewContainer* Tabs() const { return tabs_; }
    CImageFileList* NamesList() const { return names_; }
    CListControl* ThumbnailList() const { return thumbnails_; }
    // The thumbnail of each row of the Thumbnails page (an empty cell until it is made).
    const std::vector<QImage>& ThumbnailImages() const { return images_; }
    // The Thumbnails page counts as active whenever page 0 is not.
    bool ThumbnailsActive() const;
    CListControl* ActiveList() const;
    // The folder whose thumbnails were built last; " " when none are.
    const QString& ThumbnailsFolder() const { return thumbnailsFolder_; }
    bool IsBuilding() const { return building_; }

    // The first selected row of the active page, or -1.
    int SelectedIndex() const;
    // Moves the selected image to the trash once the user confirms, and selects the row
    // that takes its place. False when nothing was deleted (declined, failed, nothing
    // selected, or a thumbnail build running).
    bool DeleteSelected();
    // The properties of the current image file.
    void ShowFileProperties();

    // Starts building the Thumbnails page from the Names list, unless the current folder's
    // thumbnails are built or being built already, and returns at once: the page gets one
    // row per Names row straight away and each thumbnail as it is made, while the window
    // stays usable behind the progress popup. When all are made, the files that could not
    // be read leave both pages and the user is told once; BuildEnded follows. Cancel or
    // Escape stops every decode and leaves the page empty. A change of the Names list under
    // a running build abandons it.
    void BuildThumbnails();
    // After a page change: starts the thumbnails when that page is active, then selects
    // row 0 of both lists (which shows the folder's first image). While thumbnails are
    // being made, that is the first row the build finds readable, once it knows it, unless
    // the user chose a thumbnail first: a file that cannot be read is never opened for it.
    void OnPageChanged();
    // Selects row 0 of both lists, or, while thumbnails are being made, the first row the
    // build finds readable once it knows it (unless the user chose a thumbnail first).
    void SelectFirstReadableRow();

    // Lists the current folder again after it changed on disk: new files appear, gone ones
    // leave both pages, and the selection stays on its file where that still exists (else
    // on the row that took its place, which shows). The Thumbnails page, when active, is
    // built again from the cache; files that fail are reported only once per folder.
    void Refresh();

    // The menu a right click anywhere in the bar shows (the frame owns its commands).
    void SetContextMenu(QMenu* menu);
    // The docking bars disabled while a page change prepares the page.
    void SetDockingBars(QWidget* directoryBar, QWidget* fileListBar);

signals:
    void ItemChanged(int controlId, int row, int newState);
    // The last row went: the document's views must show that no image is loaded.
    void ViewsNeedUpdate();
    // A thumbnail build ended: finished, cancelled or abandoned.
    void BuildEnded();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void ShowContextMenu(const QPoint& globalPos);
    // Disables the docking bars until as many Unlock calls as Lock calls have come.
    void LockBars();
    void UnlockBars();
    void OnThumbnailMade(int row, const QImage& thumbnail);
    void OnThumbnailFailed(int row);
    void OneThumbnailLess();
    // Selects the first row whose thumbnail was made once every row before it is known
    // to have failed.
    void ShowFirstReadableRow();
    void FinishBuild();
    void CancelBuild();
    // The Names list changed under the build: the page is emptied and built anew next time.
    void AbandonBuild();
    // Stops the workers and closes the popup; the rows stay as they are.
    void StopBuild();
    // Removes the rows whose thumbnail failed from both pages; true when there were any.
    bool DropFailedRows();

    CViewerModel& model_;
    COX3DTabViewContainer* tabs_;
    CImageFileList* names_;
    CListControl* thumbnails_;
    std::vector<QImage> images_;
    QString thumbnailsFolder_ = QStringLiteral(" ");
    bool building_ = false;
    CThumbnailWorkers* workers_ = nullptr;
    QPointer<CProgressPopup> popup_;
    int pending_ = 0;
    std::vector<int> failedRows_;
    // Files of thumbnailsFolder_ whose failure the user was told of since the last build
    // the user asked for.
    QStringList reportedFailures_;
    bool refreshing_ = false;
    // Which rows' thumbnails have come back (made or failed), and whether the page change
    // waits for the first readable row to show it.
    std::vector<bool> known_;
    bool showFirstReadable_ = false;
    int barLocks_ = 0;
    QPointer<QMenu> contextMenu_;
    std::vector<QPointer<QWidget>> dockingBars_;
};
