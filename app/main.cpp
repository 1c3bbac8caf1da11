#include <QApplication>

#include "MainApp.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    CMainApp app;
    app.InitInstance();
    return 0;
}
