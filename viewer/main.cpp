// vtview: the Vantoro image viewer.
//
//   vtview [--no-splash] [FILE]

#include "viewer/test11_app.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    CTest11App app;
    if (!app.InitInstance(QApplication::arguments())) return 1;
    return QApplication::exec();
}
