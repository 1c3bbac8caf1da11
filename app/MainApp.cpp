#include "MainApp.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStyleFactory>
#include <QTimer>
#include <QUrl>
#include <memory>

#include "Links.h"
#include "MainDlg.h"
#include "MediaFramework.h"
#include "ProfileStore.h"
#include "SessionEnd.h"

namespace {
CMainApp* g_app = nullptr;
}

CMainApp::CMainApp() {
    g_app = this;
}

CMainApp::~CMainApp() {
    if (g_app == this) g_app = nullptr;
}

CMainApp* CMainApp::Instance() {
    return g_app;
}

void CMainApp::Prepare() {
    // The result is not examined here: a framework that did not start makes the later media
    // calls fail, and those report it.
    InitMediaFramework();
    // One look on every desktop, so the skin's colours and sizes come out as drawn.
    if (auto* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    m_helpFilePath = HelpFilePathFor(QCoreApplication::applicationFilePath());
    QCoreApplication::setOrganizationName(QString::fromLatin1(CProfileStore::kOrganisation));
    QCoreApplication::setApplicationName(QString::fromLatin1(CProfileStore::kApplication));
    // Ties the windows to the installed menu entry (its name and icon) on desktops that ask.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.example.kestrine"));
}

std::unique_ptr<CMainDlg> CMainApp::CreateMainWindow(const QStringList& arguments) {
    auto dialog = std::make_unique<CMainDlg>();
    const QStringList files = CommandLineFiles(arguments);
    if (!files.isEmpty()) {
        // Queued, so the window shows before the probes run and any message box has it behind.
        CMainDlg* window = dialog.get();
        QTimer::singleShot(0, window, [window, files] { window->AddFiles(files); });
    }
    return dialog;
}

QStringList CMainApp::CommandLineFiles(const QStringList& arguments) {
    QStringList files;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!optionsEnded && argument == QStringLiteral("--")) {
            optionsEnded = true;
            continue;
        }
        if (argument.isEmpty() || (!optionsEnded && argument.startsWith(u'-'))) continue;
        const QUrl url(argument);
        const QString path = url.isLocalFile() ? url.toLocalFile() : argument;
        files.append(QFileInfo(path).absoluteFilePath());
    }
    return files;
}

bool CMainApp::InitInstance() {
    Prepare();
    auto dialog = CreateMainWindow(QCoreApplication::arguments());
    // The session ending (SIGTERM, SIGHUP) closes the window as Exit does: a running conversion
    // stops and its temporary file goes. A dialog open on top of the window is cancelled first.
    CSessionEnd sessionEnd([window = dialog.get()](int) {
        for (int open = 0; open < 8; ++open) {
            auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!modal || modal == window) break;
            modal->reject();
        }
        window->OnExit();
    });
    dialog->exec();
    // The window's objects go first (engine, clips, controls), then the media framework would
    // be released; GStreamer keeps its registry for the life of the process, so nothing follows.
    dialog.reset();
    return false;
}

bool CMainApp::WinHelp() {
    return OpenUrl(QUrl::fromLocalFile(m_helpFilePath));
}
