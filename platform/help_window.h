#pragma once

#include <QMainWindow>
#include <QUrl>

class QTextBrowser;

// The program's help: its bundled pages in a window of their own with contents, back and
// forward. Links that leave the bundled pages open in the desktop's browser.
class CHelpWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit CHelpWindow(const QUrl& contents, QWidget* parent = nullptr);

    // Shows the window at the contents page and brings it to the front.
    void ShowContents();
    QTextBrowser* Browser() const { return browser_; }

private:
    QUrl contents_;
    QTextBrowser* browser_;
};
