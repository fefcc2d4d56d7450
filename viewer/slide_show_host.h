#pragma once

class QWidget;
struct CViewerModel;

// What a slide show needs of the window it runs in: the shared state, a full-screen
// presentation of the picture, and the directory bar back when a show ends.
class CSlideShowHost {
public:
    virtual ~CSlideShowHost() = default;

    virtual CViewerModel& Model() = 0;
    // Hides the bars and the menu and gives the whole screen to the picture, on black;
    // LeaveFullScreen brings back the window and the bars as they were.
    virtual void EnterFullScreen() = 0;
    virtual void LeaveFullScreen() = 0;
    // Docks and shows the directory bar when it is hidden, and lays the window out again.
    virtual void ShowDirectoryBar() = 0;
    // The widget the picture is drawn on: a click there stops a show running in the window.
    virtual QWidget* PictureWidget() = 0;
};
