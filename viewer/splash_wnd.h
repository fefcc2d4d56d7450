#pragma once

#include <QPixmap>
#include <QTimer>
#include <QWidget>

class QEvent;

// The start-up picture: a borderless window of exactly the picture's size, centred over
// the main frame, that goes away by itself after 5750 ms or at the first key or mouse press
// anywhere in the program (that press is consumed). At most one exists at a time.
class CSplashWnd : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDisplayMs = 5750;

    ~CSplashWnd() override;

    // Whether this run shows the splash window at all (from the command line).
    static void EnableSplashScreen(bool enable);
    static bool IsEnabled();
    // Shows the splash over owner if enabled and not already shown. A missing picture
    // resource means no splash window and no message.
    static void ShowSplashScreen(QWidget* owner);
    // The window on screen, or nullptr.
    static CSplashWnd* Current();
    // Offered every event of the program first: a key or mouse press closes the splash
    // window and is consumed (returns true).
    static bool PreTranslateAppMessage(QEvent* event);

    // The timer's end: closes the window.
    void HideSplashScreen();
    QTimer& Timer() { return timer_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CSplashWnd(const QPixmap& picture, QWidget* owner);

    QPixmap picture_;
    QTimer timer_;
};
