#pragma once

#include <QApplication>

// The one QApplication of a widget test executable (created on first use, offscreen under
// CTest).
inline QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "skin_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}
