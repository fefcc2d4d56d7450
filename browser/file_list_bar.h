#pragma once

#include "codecs/auto_decoder.h"
#include "imagelib/dib_section_bitmap.h"

#include <QImage>
#include <QPointer>
#include <QSize>
#include <QWidget>

#include <vector>

class CImageFileList;
class CListControl;
class COX3DTabViewContainer;
class QMenu;

// The contents of the "File List" bar: a tab container with the Names page (the image
// file list) and the Thumbnails page (one 100 x 75 picture per file, row i the same file on
// both pages). It builds the thumbnails, switches pages, and carries the file operations:
// the selected row, delete to the trash, the file's properties. Row changes of both lists
// travel on to the main frame as ItemChanged.
class CFileListBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTabContainerId = 59648;
    static constexpr int kThumbnailListId = 198;
    static constexpr QSize kThumbnailSize{100, 75};
    static constexpr int kItemMargin = 2;
    static constexpr QSize kIconSpacing{143 - 30, 118 - 10};
    static constexpr int kDecodeDepth = 32;

    explicit CFileListBar(QWidget* parent = nullptr);
    ~CFileListBar() override;

    COX3DTabViewContainer* Tabs() const { return tabs_; }
    CImageFileList* NamesList() const { return names_; }
    CListControl* ThumbnailList() const { return thumbnails_; }
    // The thumbnail of each row of the Thumbnails page.
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

    // Builds the Thumbnails page from the Names list, unless the current folder's
    // thumbnails are built already. Files that cannot be decoded or scaled are dropped from
    // both pages. Never re-entered; both docking bars stay disabled while it runs.
    void BuildThumbnails();
    // After a page change: builds the thumbnails when that page is active, then selects
    // row 0 of both lists (which shows the folder's first image).
    void OnPageChanged();

    // The menu a right click anywhere in the bar shows (the frame owns its commands).
    void SetContextMenu(QMenu* menu);
    // The docking bars disabled while a thumbnail build runs.
    void SetDockingBars(QWidget* directoryBar, QWidget* fileListBar);

signals:
    void ItemChanged(int controlId, int row, int newState);
    // The last row went: the document's views must show that no image is loaded.
    void ViewsNeedUpdate();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void ShowContextMenu(const QPoint& globalPos);
    // Disables the docking bars until as many Unlock calls as Lock calls have come.
    void LockBars();
    void UnlockBars();

    COX3DTabViewContainer* tabs_;
    CImageFileList* names_;
    CListControl* thumbnails_;
    std::vector<QImage> images_;
    CAutoDecoder decoder_;
    CDIBSectionBitmap decodeBitmap_;
    QString thumbnailsFolder_ = QStringLiteral(" ");
    bool building_ = false;
    int barLocks_ = 0;
    QPointer<QMenu> contextMenu_;
    std::vector<QPointer<QWidget>> dockingBars_;
};
