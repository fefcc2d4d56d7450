#pragma once

#include <QObject>

class CFileListBar;
class CTest11View;
class QLabel;
class QStatusBar;

// The status bar's panes about the picture shown, beside the prompt and before the lock
// indicators: its size in pixels ("640 x 480", as turned), the scale it shows at in
// percent ("129 %"; across and down when stretch to fill makes them differ), its place
// in the file list ("3 of 12") and the size of its file. They are empty while no picture
// shows, and follow every layout of the view and every row change of the lists. They live
// as long as the status bar.
class CPictureStatusPanes : public QObject {
    Q_OBJECT
public:
    CPictureStatusPanes(QStatusBar& bar, CTest11View& view, CFileListBar& files);

    QLabel* SizePane() const { return size_; }
    QLabel* ScalePane() const { return scale_; }
    QLabel* PositionPane() const { return position_; }
    QLabel* FileSizePane() const { return fileSize_; }

    void Update();

private:
    CTest11View& view_;
    CFileListBar& files_;
    QLabel* size_;
    QLabel* scale_;
    QLabel* position_;
    QLabel* fileSize_;
};
