// The batch driver's side of the main window: Convert, Stop and the engine's notifications. The
// batch loop itself is CBatchDriver, shared with the command line; this file adapts the window
// to it and runs the folder checks that come before the settings dialog.

#include <QDir>
#include <QProgressBar>
#include <QTreeWidget>
#include <cctype>

#include "BatchDialogs.h"
#include "BatchDriver.h"
#include "ConversionEngine.h"
#include "ConversionHost.h"
#include "MainDlg.h"
#include "OutputCheck.h"
#include "PreviewPaneWidget.h"
#include "SettingsDialog.h"

namespace {

BatchQuestion& QuestionOverride() {
    static BatchQuestion question;
    return question;
}

SettingsRunner& RunnerOverride() {
    static SettingsRunner runner;
    return runner;
}

// The settings dialog of one batch, as the batch loop sees it.
class CDialogSettings : public IBatchSettings {
public:
    ConversionSettings& Settings() override { return m_dialog.Settings(); }
    bool RunModal() override { return RunSettingsDialog(m_dialog); }

private:
    CSettingsDialog m_dialog;
};

}  // namespace

void SetBatchQuestion(BatchQuestion question) { QuestionOverride() = std::move(question); }

QMessageBox::StandardButton AskBatchQuestion(const QString& caption, const QString& text,
                                             QMessageBox::StandardButtons buttons) {
    if (QuestionOverride()) return QuestionOverride()(caption, text, buttons);
    QMessageBox box(QMessageBox::Warning, caption, text, buttons);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void SetSettingsRunner(SettingsRunner runner) { RunnerOverride() = std::move(runner); }

bool RunSettingsDialog(CSettingsDialog& dialog) {
    if (RunnerOverride()) return RunnerOverride()(dialog);
    return dialog.DoModal() == QDialog::Accepted;
}

// Adapts the window to the batch loop and to the per-clip conversion: rows, log, progress and
// busy state go to the window's controls; the engine's notifications come back to the window.
class CMainDlg::CBatchAdapter : public IBatchView, public IClipConverter, public IConversionView {
public:
    explicit CBatchAdapter(CMainDlg& window)
        : m_window(window), m_host(*this), m_driver(*this, *this) {}

    // IBatchView
    void SelectRow(int row) override {
        QTreeWidgetItem* item = m_window.m_clipList->topLevelItem(row);
        if (!item) return;
        m_window.m_clipList->setCurrentItem(item);
        item->setSelected(true);
        m_window.m_clipList->scrollToItem(item);
    }
    int FirstSelectedRow() const override {
        const QList<QTreeWidgetItem*> selected = m_window.m_clipList->selectedItems();
        return selected.isEmpty() ? -1
                                  : m_window.m_clipList->indexOfTopLevelItem(selected.front());
    }
    void SetRowStatus(int row, const std::string& text) override {
        if (QTreeWidgetItem* item = m_window.m_clipList->topLevelItem(row))
            item->setText(kStatusColumn, QString::fromStdString(text));
    }
    void AddLogLine(const std::string& line) override {
        m_window.AddLogLine(std::string_view(line));
    }
    void SetProgressPosition(int percent) override { m_window.m_progress->setValue(percent); }
    void SetBusy(bool busy) override { m_window.SetBusy(busy); }
    void PumpMessages() override { m_window.PumpMessages(); }
    std::string OutputFolder() const override { return m_window.m_outputFolder.toStdString(); }
    void ShowConversionException() override {
        AskBatchQuestion(QStringLiteral("Brontwell Kestrine"),
                         QString::fromUtf8(batchtext::kException), QMessageBox::Ok);
    }

    // IClipConverter: the window's engine slot follows the host's engine.
    HRESULT ConvertClip(const std::string& destination, CProjectItem& clip,
                        ConversionSettings& settings) override {
        m_window.m_currentClip = &clip;
        HRESULT hr = m_host.ConvertClip(destination, clip, settings);
        m_window.m_engine = m_host.Engine();
        return hr;
    }
    void StopEngine() override { m_host.StopEngine(); }

    // IConversionView
    void ShowError(HRESULT hr) override { m_window.ShowError(hr); }
    IPreviewPane* PreviewPane() override { return m_window.m_preview; }
    INotifyTarget* NotifyTarget() override { return &m_window; }

    CConversionHost& Host() { return m_host; }
    CBatchDriver& Driver() { return m_driver; }

private:
    static constexpr int kStatusColumn = 4;

    CMainDlg& m_window;
    CConversionHost m_host;
    CBatchDriver m_driver;
};

void CMainDlg::CBatchAdapterDeleter::operator()(CBatchAdapter* batch) const { delete batch; }

CMainDlg::CBatchAdapter& CMainDlg::Batch() {
    if (!m_batch) m_batch.reset(new CBatchAdapter(*this));
    return *m_batch;
}

void CMainDlg::OnConvert() {
    if (m_batchRunning || m_clips.empty()) return;
    m_continueBatch = 1;
    for (QTreeWidgetItem* item : m_clipList->selectedItems()) item->setSelected(false);

    UpdateData(true);
    if (m_outputFolder.isEmpty()) {
        if (AskBatchQuestion(QStringLiteral("Warning"),
                             QStringLiteral("Please, select destination folder"),
                             QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
            return;
        OnBrowse();
        UpdateData(true);
    }

    // The folder is tested, not entered: a relative folder must not nest on the next batch.
    if (m_outputFolder.isEmpty() || !QDir(m_outputFolder).exists()) {
        if (AskBatchQuestion(QStringLiteral("Warning"),
                             QStringLiteral("Destination folder does not exist.\n"
                                            "Would you like to create it?"),
                             QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return;
        const HRESULT created = CreateOutputFolder(m_outputFolder.toStdString());
        if (FAILED(created)) {
            ClearMediaErrorText();
            ShowError(created);
            return;
        }
    }

    // Refused here, with the system's reason, rather than discovered by every clip's run.
    if (std::string reason;
        FAILED(CheckOutputFolderWritable(m_outputFolder.toStdString(), &reason))) {
        AddLogLine(std::string_view(batchtext::kErrorLine + reason));
        reason[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(reason[0])));
        AskBatchQuestion(QStringLiteral("Error"), QString::fromStdString(reason), QMessageBox::Ok);
        return;
    }

    std::vector<CProjectItem*> rows;
    for (int row = 0; row < m_clipList->topLevelItemCount(); ++row)
        if (CProjectItem* clip = ClipAtRow(row)) rows.push_back(clip);

    CBatchAdapter& batch = Batch();
    m_batchRunning = true;
    {
        CDialogSettings dialog;
        batch.Driver().Convert(rows, dialog);
    }
    m_batchRunning = false;
    m_videoEncoder = batch.Driver().m_videoEncoder;
    m_audioEncoder = batch.Driver().m_audioEncoder;
    m_mpegEncoder = batch.Driver().m_mpegEncoder;
    m_lastOutputFormat = batch.Driver().LastOutputFormat();
    m_lastAudio = batch.Driver().LastAudio();
    m_engine = batch.Host().Engine();

    if (m_exitAfterBatch) done(QDialog::Accepted);
}

void CMainDlg::OnStop() {
    m_continueBatch = 0;
    // The driver sets the idle state, stops the running (or last) engine and logs the stop.
    Batch().Driver().OnStop();
}

void CMainDlg::OnMediaNotify(int messageBase, int k, std::intptr_t wParam, std::intptr_t lParam) {
    if (messageBase != kEngineMessageBase) return;
    if (k == 0) {
        if (m_engine && m_engine->IsVideoWindowActive()) m_engine->HandleGraphEvents();
        return;
    }
    Batch().Driver().OnEngineNotify(k, lParam);
}

void CMainDlg::DestroyEngine() {
    // The engine belongs to the conversion host; the slot only mirrors it.
    if (m_batch) m_batch->Host().ReleaseEngine();
    m_engine = nullptr;
}
