#include "viewer/splash_wnd.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

namespace {

const char* const kSplashResource = ":/splash.png";

CSplashWnd* g_splash = nullptr;
bool g_splashEnabled = false;

bool ClosesSplash(QEvent::Type type) {
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonDblClick:
        return true;
    default:
        return false;
    }
}

}  // namespace

CSplashWnd::CSplashWnd(const QPixmap& picture, QWidget* owner)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint), picture_(picture) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::ArrowCursor);
    setFixedSize(picture_.deviceIndependentSize().toSize());
    const QRect around = owner ? owner->frameGeometry() : screen()->availableGeometry();
    move(around.center() - rect().center());
    timer_.setSingleShot(true);
    timer_.setInterval(kDisplayMs);
    connect(&timer_, &QTimer::timeout, this, &CSplashWnd::HideSplashScreen);
}

CSplashWnd::~CSplashWnd() {
    if (g_splash == this) g_splash = nullptr;
}

void CSplashWnd::EnableSplashScreen(bool enable) { g_splashEnabled = enable; }

bool CSplashWnd::IsEnabled() { return g_splashEnabled; }

void CSplashWnd::ShowSplashScreen(QWidget* owner) {
    if (!g_splashEnabled || g_splash) return;
    const QPixmap picture(QString::fromLatin1(kSplashResource));
    if (picture.isNull()) return;
    g_splash = new CSplashWnd(picture, owner);
    g_splash->timer_.start();
    g_splash->show();
    g_splash->repaint();
}

CSplashWnd* CSplashWnd::Current() { return g_splash; }

bool CSplashWnd::PreTranslateAppMessage(QEvent* event) {
    if (!g_splash || !ClosesSplash(event->type())) return false;
    // Claiming the shortcut check keeps an accelerator from firing; the key press that
    // follows is the one that closes the window. Where the accelerator is matched first,
    // its shortcut event is consumed instead.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    g_splash->HideSplashScreen();
    return true;
}

void CSplashWnd::HideSplashScreen() {
    timer_.stop();
    if (g_splash == this) g_splash = nullptr;
    close();
}

void CSplashWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture_);
}
