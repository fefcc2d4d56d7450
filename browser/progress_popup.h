#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

// A small window that keeps the user informed while a long job runs on the user-interface
// thread: a message, a progress bar and a Cancel button, the percentage done in its caption.
// Between work items the job advances it, lets it dispatch pending events (Escape and the
// Cancel button cancel) and asks whether the user cancelled.
//
// Its position is remembered in the profile ("Settings", "X" and "Y") when it goes, and
// used again when the next one is created while it lies on the screen.
class CProgressPopup : public QWidget {
    Q_OBJECT
public:
    CProgressPopup();
    ~CProgressPopup() override;

    // Makes the window (a tool window of parent's window, or of the application's main
    // window without parent), lays it out and shows it without taking the focus.
    bool Create(QWidget* parent, const QString& title = QStringLiteral("Progress"), bool smooth = false);
    // Centres the window over window (the screen without one).
    void CenterOver(QWidget* window);

    // The message, one or two lines; at most 511 characters are shown.
    void SetText(const QString& text);
    void SetRange(int lower, int upper, int step = 1);
    // Shows the window if hidden and moves the bar; the caption becomes "title [N%]" when
    // the percentage changes. Returns the position.
    int SetPos(int position);
    int StepIt() { return SetPos(position_ + step_); }
    // Dispatches every pending event; with escapeCancels, an Escape key press cancels.
    void PumpMessages(bool escapeCancels);
    // For a job that runs off the user-interface thread and never pumps: from now on an
    // Escape key press anywhere in the application cancels, until the window goes.
    void CancelOnEscape();
    bool Cancelled() const { return cancelled_; }
    // Stops the job: sets the cancelled flag, hides the window and gives the main window
    // the foreground again; then CancelRequested is emitted.
    void Cancel();

    int Percent() const { return percent_; }
    QLabel* Message() const { return message_; }
    QPushButton* CancelButton() const { return cancelButton_; }
    QProgressBar* Bar() const { return bar_; }

signals:
    // The user cancelled, for jobs that do not poll Cancelled.
    void CancelRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void LayOut(int lines, int width);
    void RestorePosition();

    QString title_ = QStringLiteral("Progress");
    QLabel* message_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    int lower_ = 0;
    int upper_ = 100;
    int step_ = 1;
    int position_ = 0;
    int percent_ = 0;
    bool cancelled_ = false;
    bool escapeCancels_ = false;
    bool watchingEscape_ = false;
    bool created_ = false;
};
