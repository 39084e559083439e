#include "qtapp.h"

#include <QApplication>

QApplication* ensureQtApp() {
    static int argc = 1;
    static char name[] = "tesmo-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return app;
}
