#include "gui_app.h"

#include <QGuiApplication>

QGuiApplication& TestGuiApplication() {
    static int argc = 1;
    static char name[] = "vt-tests";
    static char* argv[] = {name, nullptr};
    // Never destroyed: tearing Qt down during static destruction is unsafe, and the pointer
    // keeps it reachable for the leak checker.
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    return *app;
}
