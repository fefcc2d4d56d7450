#pragma once

#include "platform/screen_saver_inhibitor.h"

#include <QObject>
#include <QTimer>

class CCommandTable;
class CSlideShowHost;
struct CViewerModel;

// What a slide show steps through: the Names list of the current folder. Selecting a row
// there shows its image through the frame's image-selected procedure, which also moves the
// show's position to that row.
class CSlideShowList {
public:
    virtual ~CSlideShowList() = default;

    virtual int RowCount() const = 0;
    // Gives the list the keyboard focus.
    virtual void Focus() = 0;
    // What the down-arrow and Home keys do there: select the next row, the first row.
    virtual void SelectNextRow() = 0;
    virtual void SelectFirstRow() = 0;
    // Selects and focuses row on the Thumbnails page too when that page is active.
    virtual void FollowOnThumbnails(int row) = 0;
};

// The slide show of the main frame: the folder's images one after another at a fixed delay,
// from the last back to the first, inside the frame or with the frame full screen (no bars,
// menu or mouse cursor; any key or mouse press ends it and then acts as usual). Inside the
// frame, Escape or a click on the picture ends it. The screen saver is kept away while a
// show runs.
class CSlideShow : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultDelay = 2;

    explicit CSlideShow(CSlideShowHost& host, QObject* parent = nullptr);
    // Leaves full screen and lets the screen saver back.
    ~CSlideShow() override;

    // The list the steps move through (none: the show runs but nothing moves).
    void SetList(CSlideShowList* list) { list_ = list; }
    // The show commands, their Stop button and the seven delays.
    void RegisterCommands(CCommandTable& commands);

    // Start or stop; either one stops the other kind first.
    void ToggleInFrame();
    void ToggleFullScreen();
    // Seconds between images; a running show continues at the new period at once.
    void SetDelay(int seconds);
    int Delay() const { return delay_; }

    // The row of the image last selected in the file list; the next step goes on from it.
    int Position() const { return position_; }
    void SetPosition(int row) { position_ = row; }
    // One step: the next row, or the first after the last; nothing with one row or none.
    void Step();
    // The picture of the current step shows now: a running show waits its delay from here.
    void PictureShown();

    // The timer whose every tick is one step.
    const QTimer& Timer() const { return timer_; }
    const CScreenSaverInhibitor& ScreenSaver() const { return screenSaver_; }

protected:
    // The presses that end a show: any while full screen, Escape or a click on the picture
    // inside the frame.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CViewerModel& Model() const;
    void StartTimer();
    void StartShow();
    void StopShow();
    void WatchPresses(bool watch);
    bool EndsInFrameShow(QObject* watched, const QEvent& event) const;

    CSlideShowHost& host_;
    CSlideShowList* list_ = nullptr;
    int delay_ = kDefaultDelay;
    int position_ = 0;
    QTimer timer_;
    CScreenSaverInhibitor screenSaver_;
    bool watchingPresses_ = false;
};
