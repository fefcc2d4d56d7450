#pragma once

#include "browser/viewer_model.h"
#include "viewer/command_table.h"
#include "viewer/slide_show_host.h"

#include <QMainWindow>
#include <QPalette>
#include <QStringList>
#include <QTimer>

#include <array>
#include <memory>

class CDirectoryTreeBar;
class CFolderWatcher;
class CFileListBar;
class CHelpWindow;
class CSizingControlBar;
class CSlideShow;
class CSlideShowList;
class QAction;
class QLabel;
class QMenu;
class QToolBar;

// The single top-level window: menus, toolbar, status bar, the two sizing bars docked at
// the left ("Directory" and "File List") and the image view in the middle. It routes every
// command id through its command table and runs the bar, layout, slide show, full-screen,
// opening and help commands itself.
class CMainFrame : public QMainWindow, public CSlideShowHost {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
    // Writes "Settings": the last folder and picture, the display mode, the window's place
    // and the active page.
    ~CMainFrame() override;

    // Builds the window around view (which becomes the central widget): placement on the
    // work area, toolbar, status bar, sizing bars, the saved layout, the splash window and
    // the settings. Returns false when a bar cannot be created.
    bool LoadFrame(QWidget* view);

    CCommandTable& Commands() { return commands_; }
    // The state the view and the browser share.
    CViewerModel& Model() override { return model_; }
    QToolBar* ToolBar() const { return toolBar_; }
    CSizingControlBar* DirectoryBar() const { return directoryBar_; }
    CSizingControlBar* FileListBar() const { return fileListBar_; }
    // The bars' contents: the folder tree, and the Names and Thumbnails pages.
    CDirectoryTreeBar* DirectoryTree() const { return directoryTree_; }
    CFileListBar* FileList() const { return fileList_; }
    QLabel* PromptPane() const { return promptPane_; }
    // The status bar's lock indicators: "CAP", "NUM", "SCRL" while the lock is on.
    QLabel* IndicatorPane(int index) const { return indicators_[index]; }
    CHelpWindow* HelpWindow() const { return helpWindow_; }
    // The slide show (it exists once the frame is loaded).
    CSlideShow& SlideShow() const { return *slideShow_; }
    // 0 during creation, 1 afterwards: folder changes display images only when ready.
    bool IsReady() const { return ready_; }

    // Shows the document's name before the program's title ("Untitled" without one).
    void SetDocumentTitle(const QString& name);
    // Gives the docked sizing bars their sizes again.
    void RecalcLayout();
    // Docks bar at the left unless it already sits there, and shows it.
    void DockBarLeft(CSizingControlBar* bar);

    // The folder selected in the tree changed: list it, show its first image (once the
    // frame is ready), and build its thumbnails when that page is active.
    void OnFolderChanged();
    // A row of either list changed state: when it became selected and focused, its file
    // (the Names list's row of that index) becomes the document.
    void OnImageSelected(int controlId, int row, int newState);
    // The files next and previous to the selected one in the Names list, the next first
    // (after the last comes the first, as the slide show goes): the ones to decode ahead.
    QStringList NeighbourFiles() const;
    // Reads the listed folder and the folder tree's open folders again (F5, or when they
    // changed on disk).
    void Refresh();

    // Opens a picture or a folder, however the user asked for it (the command line, Open...,
    // Open Recent, a drop): its folder becomes the current one, selected in the tree and
    // listed, with the picture's row selected and shown. A folder shows its first picture.
    // False, after telling the user, when path is neither.
    bool OpenPath(const QString& path);
    // The picture shown when the program last ended, when no file was given to open: the
    // folder it lies in is listed and the picture shown again. False when there is none.
    bool ReopenLastPicture();
    // The picture alone on the screen, on black (F11), without a slide show.
    bool IsFullScreenView() const { return fullScreenView_; }

    // The slide show's window.
    void EnterFullScreen() override;
    void LeaveFullScreen() override;
    void ShowDirectoryBar() override;
    QWidget* PictureWidget() override { return centralWidget(); }
    CFolderWatcher& FolderWatcher() const { return *watcher_; }

signals:
    // The frame asks the application to open path as the document.
    void OpenDocumentRequested(const QString& path);
    // The frame asks the document to have its views lay out and repaint.
    void UpdateViewsRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void PlaceOnWorkArea();
    // Places the window so that its frame, the window manager's border included, is frame.
    void SetFrameGeometry(const QRect& frame);
    // The bars full screen hides: directory, file list, toolbar, status bar.
    std::array<QWidget*, 4> FullScreenBars();
    void RestoreGeometry();
    void OpenFileDialog();
    void FillRecentMenu();
    void ToggleFullScreenView();
    void SelectFileRow(const QString& path);
    void SetShowHiddenFiles(bool show);
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    bool CreateSizingBars();
    void RegisterCommands();
    void LoadBarState();
    void SaveBarState();
    void ReadSettings();
    void WriteSettings();
    void ToggleBar(CSizingControlBar* bar);
    void RestoreDefaultBars();
    void ShowHelpContents();
    void CreateBarMenus();
    void SelectLastDirectory();
    void UpdateIndicators();
    // Watches the listed folder and the tree's open folders, and nothing else.
    void WatchShownFolders();
    void OnFoldersChanged(const QStringList& folders);
    void AddMenuItem(QMenu* menu, int id);

    CViewerModel model_;
    CCommandTable commands_;
    QToolBar* toolBar_ = nullptr;
    CSizingControlBar* directoryBar_ = nullptr;
    CSizingControlBar* fileListBar_ = nullptr;
    CDirectoryTreeBar* directoryTree_ = nullptr;
    CFileListBar* fileList_ = nullptr;
    CSlideShow* slideShow_ = nullptr;
    std::unique_ptr<CSlideShowList> slideShowList_;
    QLabel* promptPane_ = nullptr;
    QLabel* indicators_[3] = {};
    CHelpWindow* helpWindow_ = nullptr;
    CFolderWatcher* watcher_ = nullptr;
    QTimer indicatorTimer_;
    QMenu* recentMenu_ = nullptr;
    QAction* leaveFullScreen_ = nullptr;
    // The picture to select once its folder is listed, instead of the folder's first.
    QString pendingFile_;
    // What full screen hid or changed, given back when it ends: the bars of FullScreenBars,
    // the window's state and the view's looks.
    struct FullScreenState {
        bool active = false;
        bool barsShown[4] = {};
        Qt::WindowStates windowState;
        QPalette viewPalette;
        int viewFrameShape = 0;
    } fullScreen_;
    bool fullScreenView_ = false;
    // The window has the place and size it had last time, which showing it must keep.
    bool restoredGeometry_ = false;
    bool ready_ = false;
    bool laidOut_ = false;
};
