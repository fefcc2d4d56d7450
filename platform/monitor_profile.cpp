#include "platform/monitor_profile.h"

#include <QGuiApplication>

#include <memory>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

// Larger than any monitor profile; a property longer than this is not one.
constexpr long kMaxProfileBytes = 64L * 1024 * 1024;

}  // namespace

std::vector<uint8_t> ReadMonitorProfile() {
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb")) return {};
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    Display* display = x11 ? x11->display() : nullptr;
    if (!display) return {};
    // Only-if-exists: an atom nobody interned names no property.
    const Atom property = XInternAtom(display, "_ICC_PROFILE", True);
    if (property == None) return {};

    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    // The length is counted in 32-bit units.
    const int status = XGetWindowProperty(display, RootWindow(display, DefaultScreen(display)), property, 0,
                                          kMaxProfileBytes / 4, False, XA_CARDINAL, &type, &format, &count,
                                          &remaining, &data);
    const std::unique_ptr<unsigned char, int (*)(void*)> owned(data, XFree);
    if (status != Success || type != XA_CARDINAL || format != 8 || remaining != 0 || !data) return {};
    return {data, data + count};
}
