#include "platform/help_window.h"

#include <QAction>
#include <QTextBrowser>
#include <QToolBar>

CHelpWindow::CHelpWindow(const QUrl& contents, QWidget* parent)
    : QMainWindow(parent, Qt::Window), contents_(contents), browser_(new QTextBrowser(this)) {
    setObjectName(QStringLiteral("HelpWindow"));
    browser_->setOpenLinks(true);
    browser_->setOpenExternalLinks(true);
    setCentralWidget(browser_);
    connect(browser_, &QTextBrowser::sourceChanged, this, [this] { setWindowTitle(browser_->documentTitle()); });

    QToolBar* bar = addToolBar(QStringLiteral("Navigation"));
    bar->setMovable(false);
    QAction* home = bar->addAction(QIcon::fromTheme(QStringLiteral("go-home")), QStringLiteral("Contents"));
    QAction* back = bar->addAction(QIcon::fromTheme(QStringLiteral("go-previous")), QStringLiteral("Back"));
    QAction* forward = bar->addAction(QIcon::fromTheme(QStringLiteral("go-next")), QStringLiteral("Forward"));
    connect(home, &QAction::triggered, this, [this] { browser_->setSource(contents_); });
    connect(back, &QAction::triggered, browser_, &QTextBrowser::backward);
    connect(forward, &QAction::triggered, browser_, &QTextBrowser::forward);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    back->setEnabled(false);
    forward->setEnabled(false);
    resize(640, 560);
}

void CHelpWindow::ShowContents() {
    browser_->setSource(contents_);
    show();
    raise();
    activateWindow();
}
