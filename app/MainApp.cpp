#include "MainApp.h"

#include <QApplication>
#include <QCoreApplication>
#include <QStyleFactory>
#include <QUrl>
#include <memory>

#include "Links.h"
#include "MainDlg.h"
#include "MediaFramework.h"
#include "ProfileStore.h"

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
}

bool CMainApp::InitInstance() {
    Prepare();
    auto dialog = std::make_unique<CMainDlg>();
    dialog->exec();
    // The window's objects go first (engine, clips, controls), then the media framework would
    // be released; GStreamer keeps its registry for the life of the process, so nothing follows.
    dialog.reset();
    return false;
}

void CMainApp::WinHelp() {
    OpenUrl(QUrl::fromLocalFile(m_helpFilePath));
}
