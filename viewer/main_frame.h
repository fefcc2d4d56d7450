#pragma once

#include "viewer/command_table.h"

#include <QMainWindow>
#include <QTimer>

class CHelpWindow;
class CSizingControlBar;
class QLabel;
class QMenu;
class QToolBar;

// The single top-level window: menus, toolbar, status bar, the two sizing bars docked at
// the left ("Directory" and "File List") and the image view in the middle. It routes every
// command id through its command table and runs the bar, layout and help commands itself.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
    // Writes "Settings": the last folder and the display mode.
    ~CMainFrame() override;

    // Builds the window around view (which becomes the central widget): placement on the
    // work area, toolbar, status bar, sizing bars, the saved layout, the splash window and
    // the settings. Returns false when a bar cannot be created.
    bool LoadFrame(QWidget* view);

    CCommandTable& Commands() { return commands_; }
    QToolBar* ToolBar() const { return toolBar_; }
    CSizingControlBar* DirectoryBar() const { return directoryBar_; }
    CSizingControlBar* FileListBar() const { return fileListBar_; }
    QLabel* PromptPane() const { return promptPane_; }
    // The status bar's lock indicators: "CAP", "NUM", "SCRL" while the lock is on.
    QLabel* IndicatorPane(int index) const { return indicators_[index]; }
    CHelpWindow* HelpWindow() const { return helpWindow_; }
    // 0 during creation, 1 afterwards: folder changes display images only when ready.
    bool IsReady() const { return ready_; }

    // Shows the document's name before the program's title ("Untitled" without one).
    void SetDocumentTitle(const QString& name);
    // Gives the docked sizing bars their sizes again.
    void RecalcLayout();
    // Docks bar at the left unless it already sits there, and shows it.
    void DockBarLeft(CSizingControlBar* bar);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void PlaceOnWorkArea();
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
    void UpdateIndicators();
    void AddMenuItem(QMenu* menu, int id);

    CCommandTable commands_;
    QToolBar* toolBar_ = nullptr;
    CSizingControlBar* directoryBar_ = nullptr;
    CSizingControlBar* fileListBar_ = nullptr;
    QLabel* promptPane_ = nullptr;
    QLabel* indicators_[3] = {};
    CHelpWindow* helpWindow_ = nullptr;
    QTimer indicatorTimer_;
    bool ready_ = false;
    bool laidOut_ = false;
};
