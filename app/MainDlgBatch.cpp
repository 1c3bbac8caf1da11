// The batch driver's side of the main window: Convert, Stop and the engine's notifications. The
// batch loop itself is CBatchDriver, shared with the command line; this file adapts the window
// to it and runs the folder checks that come before the settings dialog.

#include <QDir>
#include <QProgressBar>
#include <QTreeWidget>

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

void SetBatchQuestion(BatchQuestion question) {
    QuestionOverride() = std::move(question);
}

QMessageBox::StandardButton AskBatchQuestion(const QString& caption, const QString& text,
                                             QMessageBox::StandardButtons buttons) {
    if (QuestionOverride()) return QuestionOverride()(caption, text, buttons);
    QMessageBox box(QMessageBox::Warning, caption, text, buttons);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void SetSettingsRunner(SettingsRunner runner) {
    RunnerOverride() = std::move(runner);
}

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
        return selected.isEmpty() ? -1 : m_window.m_clipList->indexOfTopLevelItem(selected.front());
    }
    void SetRowStatus(int row, const std::string& text) override {
        if (QTreeWidgetItem* item = m_window.m_clipList->topLevelItem(row))
            item->setText(kStatusColumn, QString::fromStdString(text));
    }
    void AddLogLine(const std::string& line) override {
        m_window.AddLogLine(std::string_view(line));
    }
    void SetProgressPosition(int percent) override { m_window.m_progress->setValue(percent); }
    void SetBatchLine(const std::string& text) override {
        m_window.ShowBatchLine(QString::fromStdString(text));
    }
    void SetBusy(bool busy) override { m_window.SetBusy(busy); }
    void PumpMessages() override { m_window.PumpMessages(); }
    std::string OutputFolder() const override { return m_window.m_outputFolder.toStdString(); }

    // IClipConverter: the window's engine slot follows the host's engine.
    ClipResult ConvertClip(const std::string& destination, CProjectItem& clip,
                           ConversionSettings& settings) override {
        m_window.m_currentClip = &clip;
        ClipResult result = m_host.ConvertClip(destination, clip, settings);
        m_window.m_engine = m_host.Engine();
        return result;
    }
    void StopEngine() override { m_host.StopEngine(); }

    // IConversionView
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

void CMainDlg::CBatchAdapterDeleter::operator()(CBatchAdapter* batch) const {
    delete batch;
}

CMainDlg::CBatchAdapter& CMainDlg::Batch() {
    if (!m_batch) m_batch.reset(new CBatchAdapter(*this));
    return *m_batch;
}

void CMainDlg::OnConvert() {
    if (m_batchRunning || m_clips.empty()) return;
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

    // The folder is tested, not entered: a relative folder must not nest on the next batch. A
    // folder that takes no files is refused here, with the system's reason, rather than
    // discovered by every clip's run.
    const ClipResult ready = PrepareOutputFolder(m_outputFolder.toStdString(), [] {
        return AskBatchQuestion(QStringLiteral("Warning"),
                                QStringLiteral("Destination folder does not exist.\n"
                                               "Would you like to create it?"),
                                QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    });
    if (ready.code == E_ABORT) return;
    if (ready.Failed()) {
        AddLogLine(std::string_view(batchtext::kErrorLine + ready.Reason()));
        ShowError(ready);
        return;
    }
    RememberOutputFolder();

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
    m_engine = batch.Host().Engine();

    if (m_exitAfterBatch) done(QDialog::Accepted);
}

void CMainDlg::OnStop() {
    // The driver sets the idle state, stops the running (or last) engine and logs the stop.
    Batch().Driver().OnStop();
}

void CMainDlg::OnMediaNotify(int messageBase, int k, std::intptr_t wParam, std::intptr_t lParam) {
    if (messageBase != CConversionEngine::kMessageBase) return;
    if (k == CMediaGraph::kGraphEvents) {
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
