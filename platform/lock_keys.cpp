#include "platform/lock_keys.h"

#include <QGuiApplication>

#include <X11/XKBlib.h>

namespace {

bool IndicatorOn(Display* display, const char* name) {
    const Atom atom = XInternAtom(display, name, True);
    if (atom == None) return false;
    Bool on = False;
    if (!XkbGetNamedIndicator(display, atom, nullptr, &on, nullptr, nullptr)) return false;
    return on;
}

}  // namespace

std::optional<LockKeyState> QueryLockKeys() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (!display) return std::nullopt;
    LockKeyState state;
    state.capsLock = IndicatorOn(display, "Caps Lock");
    state.numLock = IndicatorOn(display, "Num Lock");
    state.scrollLock = IndicatorOn(display, "Scroll Lock");
    return state;
}
