// Test entry point for suites whose decodes may draw text: the test program, as the host,
// owns the QGuiApplication that gives Qt its fonts (headless on the offscreen platform).
#include "gui_app.h"

#include <QByteArray>
#include <QtGlobal>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TestGuiApplication();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
