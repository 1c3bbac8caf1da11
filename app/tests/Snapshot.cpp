// Development aid: renders the main window (and optionally a few log lines) into a PNG, to
// check the skin without a desktop. Usage: main_window_snapshot <out.png>
#include <QApplication>
#include <QTimer>

#include "MainDlg.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) return 2;
    CMainDlg dialog;
    dialog.show();
    dialog.AddLogLine(std::string_view("Converting file: clip.avi"));
    dialog.AddLogLine(std::string_view("\x95 to: clip_converted.avi"));
    QApplication::processEvents();
    return dialog.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
