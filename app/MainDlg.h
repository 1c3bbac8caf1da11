#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <string_view>

#include "ConversionSettings.h"
#include "NotifyTarget.h"
#include "ProjectItem.h"
#include "Result.h"
#include "SkinDialog.h"

class CCommandBar;
class CConversionEngine;
class CPreviewPaneWidget;
class CVireoButton;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QTreeWidget;

// The main window: clip list and output folder, the command bar that carries every command,
// the activity log, the progress bar and the preview pane. It owns the clips and the conversion
// engine. Everything runs on the user-interface thread; a batch runs inside OnConvert and keeps
// the window alive by pumping events on every progress notification, with re-entry excluded by
// ghosted commands and a disabled clip list.
//
// Only Exit ends the modal run: Esc and Enter do nothing, and Minimize and a close request from
// the window manager minimise the window.
class CMainDlg : public CSkinDialog, public INotifyTarget {
    Q_OBJECT

public:
    // Command bar positions.
    enum CommandIndex : int {
        kAddClip = 0,
        kRemoveClip = 1,
        kConvert = 2,
        kStop = 3,
        kHelp = 4,
        kHomePage = 5,
        kSupport = 6,
        kExit = 7,
        kCommandCount = 8,
    };

    // Control ids of the main window.
    static constexpr int IDCANCEL = 2;
    static constexpr int IDOK = 1;
    static constexpr int IDC_CLIP_LIST = 1000;
    static constexpr int IDC_LOG = 1005;
    static constexpr int IDC_PROGRESS = 1006;
    static constexpr int IDC_PREVIEW = 1007;
    static constexpr int IDC_OUTPUT_FOLDER = 1008;
    static constexpr int IDC_BROWSE = 1009;
    static constexpr int IDC_COMMAND_BAR = 1013;
    static constexpr int IDC_EXIT = 1015;

    // Command ids, carried as the command bar items' data.
    static constexpr int ID_ADD_CLIP = 32771;
    static constexpr int ID_REMOVE_CLIP = 32772;
    static constexpr int ID_CONVERT = 32773;
    static constexpr int ID_STOP = 32774;
    static constexpr int ID_SUPPORT = 32775;
    static constexpr int ID_HOME_PAGE = 32776;
    static constexpr int ID_EXIT = 32777;
    static constexpr int ID_HELP = 57670;

    explicit CMainDlg(QWidget* parent = nullptr);
    ~CMainDlg() override;

    // Appends one line to the activity log and scrolls so that the last eight lines show. The
    // log is never cleared. The byte form takes UTF-8 or Windows-1252 texts (see UiText).
    void AddLogLine(const QString& text);
    void AddLogLine(std::string_view text);

    // Shows a failure's reason followed by its code (ClipResult::Text) in a message box captioned
    // "Error", without an owner window. Only for what happens before a batch: a batch runs
    // unattended and reports its clips' failures in their rows and the log.
    void ShowError(const ClipResult& result);

    // Processes every pending event and returns when none is left; never waits.
    void PumpMessages();

    // Busy: Add clip, Remove clip and Convert ghosted, Stop active, clip list disabled. Not
    // busy: the opposite.
    void SetBusy(bool busy);
    // Activates or ghosts Remove clip, Convert and Stop together.
    void EnableClipCommands(bool enable);
    // Activates or ghosts one command bar item.
    void EnableCommand(int index, bool enable);
    bool IsCommandEnabled(int index) const;

    // Routes a command id (a command bar item's data or a button's id) to its handler.
    void OnCommand(int commandId);
    // A command bar item was activated: ghosted items and indexes beside the items do nothing.
    void OnCommandBarActivate(int index);

    // Dialog data exchange for the output folder: true copies the field into m_outputFolder,
    // false shows m_outputFolder in the field.
    void UpdateData(bool saveAndValidate);

    // INotifyTarget: the engine's (and the probe's) notifications.
    void OnMediaNotify(int messageBase, int k, std::intptr_t wParam, std::intptr_t lParam) override;

    // Controls, for the clip list, the batch driver, the engine and tests.
    QListWidget* LogControl() const { return m_log; }
    QProgressBar* ProgressControl() const { return m_progress; }
    QTreeWidget* ClipListControl() const { return m_clipList; }
    CCommandBar* CommandBarControl() const { return m_commandBar; }
    QLineEdit* OutputFolderControl() const { return m_outputFolderEdit; }
    CPreviewPaneWidget* PreviewPane() const { return m_preview; }
    CVireoButton* ExitButton() const { return m_exitButton; }
    CVireoButton* MinimizeButton() const { return m_minimizeButton; }
    CVireoButton* BrowseButton() const { return m_browseButton; }

    // Command handlers.
    void OnAddClip();
    void OnRemoveClip();
    void OnConvert();
    void OnStop();
    void OnHelp();
    void OnHomePage();
    void OnSupport();
    void OnExit();
    void OnBrowse();

    // Clip list (MainDlgClips.cpp). AddFiles adds files as Add clip does with the files its
    // dialog returned (also used for files dropped on the list); nothing while the list is
    // disabled. AddClipRow appends the row of an accepted clip and returns its index.
    // ClipAtRow is the clip a row shows (the row's item data), null for no such row.
    void AddFiles(const QStringList& paths);
    int AddClipRow(CProjectItem& clip, const QString& sizeText);
    CProjectItem* ClipAtRow(int row) const;
    // IDCANCEL: the Minimize button, Esc and the window manager's close request.
    void OnCancel();
    // IDOK: the Enter key.
    void OnOK();

    // True while OnConvert runs a batch.
    bool IsBatchRunning() const { return m_batchRunning; }

    // The output folder as last taken over from the field (UpdateData) or set by Add clip and
    // Browse.
    const QString& OutputFolder() const { return m_outputFolder; }
    // Every clip, in row order; the window owns them.
    const CClipList& Clips() const { return m_clips; }
    // The clip a batch converts or last converted (an element of Clips()), or null.
    CProjectItem* CurrentClip() const { return m_currentClip; }
    // The engine of the running or last clip (owned by the conversion host), or null.
    CConversionEngine* Engine() const { return m_engine; }

protected:
    QSize DragBand() const override { return QSize(850, 40); }
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void accept() override;

private:
    void CreateControls();
    void InitDialog();
    void InitCommandBar();
    void InitClipList();
    // The output folder of the last batch (or the last one browsed to) across restarts; a
    // remembered folder that no longer exists is not recalled.
    void RememberOutputFolder();
    void RecallOutputFolder();
    // The whole batch's progress on the progress bar; empty hides it.
    void ShowBatchLine(const QString& text);
    // Destroys the engine (when there is one) and clears m_engine.
    void DestroyEngine();
    // Destroys the clips from the tail, then the collection.
    void DestroyClips();

    // Tests reach the clip collection to watch the order in which the window destroys clips.
    friend class MainDlgTestPeer;

    QString m_outputFolder;
    QIcon m_icon;
    CClipList m_clips;                      // owns its clips; the order of the rows
    CProjectItem* m_currentClip = nullptr;  // an element of m_clips, or null
    CConversionEngine* m_engine = nullptr;  // the conversion host's engine; replaced per clip

    QListWidget* m_log = nullptr;
    QProgressBar* m_progress = nullptr;
    QTreeWidget* m_clipList = nullptr;
    CCommandBar* m_commandBar = nullptr;
    QLineEdit* m_outputFolderEdit = nullptr;
    CPreviewPaneWidget* m_preview = nullptr;
    QLabel* m_progressLabel = nullptr;
    QLabel* m_outputFolderLabel = nullptr;
    CVireoButton* m_exitButton = nullptr;
    CVireoButton* m_minimizeButton = nullptr;
    CVireoButton* m_browseButton = nullptr;
    int m_logLineHeight = 13;

    // Batch state: set while OnConvert runs; an Exit during the batch stops it and ends the
    // modal run when OnConvert has returned.
    bool m_batchRunning = false;
    bool m_exitAfterBatch = false;

    // The batch loop and the per-clip conversion host, made on first use (MainDlgBatch.cpp).
    class CBatchAdapter;
    struct CBatchAdapterDeleter {
        void operator()(CBatchAdapter* batch) const;
    };
    CBatchAdapter& Batch();
    std::unique_ptr<CBatchAdapter, CBatchAdapterDeleter> m_batch;
};
