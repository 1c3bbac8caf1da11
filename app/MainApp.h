#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class CMainDlg;

// The application object: prepares the media framework and the profile location for the one
// user-interface thread, runs the main window modally and ends the program when it closes.
// Exactly one exists while the program runs; a QApplication must exist before it.
class CMainApp {
public:
    CMainApp();
    ~CMainApp();
    CMainApp(const CMainApp&) = delete;
    CMainApp& operator=(const CMainApp&) = delete;

    // The application object, or null when none exists (e.g. in tests of the window alone).
    static CMainApp* Instance();

    // Start-up, the modal run of the main window and the end of it. Returns false: the program
    // ends when it returns.
    bool InitInstance();

    // Start-up steps without the modal run: media framework, help file path, profile location.
    void Prepare();

    // The main window, with the files named in arguments (the program's arguments, its own name
    // first) queued to be added as clips once the window's run has started, as Add clip adds
    // them. A desktop's file manager opens files with the program this way.
    std::unique_ptr<CMainDlg> CreateMainWindow(const QStringList& arguments);

    // The files among the program's arguments, as absolute paths: "file:" URLs become their
    // local paths, relative paths are taken from the current folder, arguments starting with
    // "-" are ignored up to a "--" (Qt has already taken its own options).
    static QStringList CommandLineFiles(const QStringList& arguments);

    // Opens the help file at its default topic, whatever the caller asked for. False when
    // nothing on this computer could open it.
    bool WinHelp();

    const QString& HelpFilePath() const { return m_helpFilePath; }
    void SetHelpFilePath(const QString& path) { m_helpFilePath = path; }

private:
    QString m_helpFilePath;
};
