#include "MainDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include "BatchDialogs.h"
#include "ClipDialogs.h"
#include "CommandBar.h"
#include "Links.h"
#include "MainApp.h"
#include "PreviewPaneWidget.h"
#include "ResourceIds.h"
#include "SkinBitmaps.h"
#include "UiText.h"
#include "VireoButton.h"

namespace {

// The command table: caption, command id and bitmap, in bar order.
struct CommandEntry {
    const char* text;
    int commandId;
    int bitmapId;
};

const CommandEntry kCommands[CMainDlg::kCommandCount] = {
    {"Add clip", CMainDlg::ID_ADD_CLIP, IDB_CMD_ADD_CLIP},
    {"Remove clip", CMainDlg::ID_REMOVE_CLIP, IDB_CMD_REMOVE_CLIP},
    {"Convert", CMainDlg::ID_CONVERT, IDB_CMD_CONVERT},
    {"Stop", CMainDlg::ID_STOP, IDB_CMD_STOP},
    {"Help", CMainDlg::ID_HELP, IDB_CMD_HELP},
    {"Home page", CMainDlg::ID_HOME_PAGE, IDB_CMD_HOME_PAGE},
    {"Support", CMainDlg::ID_SUPPORT, IDB_CMD_SUPPORT},
    {"Exit", CMainDlg::ID_EXIT, IDB_CMD_EXIT},
};

const QColor kCommandBarColour(136, 137, 253);

// Log lines are one fixed height, chosen so that exactly eight fit the log's viewport.
class CLogLineDelegate : public QStyledItemDelegate {
public:
    CLogLineDelegate(int lineHeight, QObject* parent)
        : QStyledItemDelegate(parent), m_lineHeight(lineHeight) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize natural = QStyledItemDelegate::sizeHint(option, index);
        return QSize(natural.width(), m_lineHeight);
    }

private:
    int m_lineHeight;
};

template <typename Widget>
Widget* Control(Widget* widget, int id, const char* name) {
    widget->setObjectName(QLatin1String(name));
    widget->setProperty("controlId", id);
    return widget;
}

}  // namespace

CMainDlg::CMainDlg(QWidget* parent)
    : CSkinDialog(IDD_MAIN, parent, IDB_MAIN_BACKGROUND, IDB_CONTROL) {
    // A top-level window without caption bar, shown in the task bar, of fixed size.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setFixedSize(MapDialogRect(0, 0, 398, 293).size());
    CreateControls();
    InitDialog();
}

CMainDlg::~CMainDlg() {
    DestroyEngine();
    DestroyClips();
    // The controls and the skin go with the window.
}

void CMainDlg::CreateControls() {
    m_clipList = Control(new QTreeWidget(this), IDC_CLIP_LIST, "IDC_CLIP_LIST");
    m_clipList->setGeometry(MapDialogRect(65, 28, 326, 151));
    m_clipList->setRootIsDecorated(false);
    m_clipList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_clipList->setFrameShape(QFrame::Box);
    {
        // The selection stays visible while the list has no focus.
        QPalette palette = m_clipList->palette();
        for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
            palette.setBrush(QPalette::Inactive, role, palette.brush(QPalette::Active, role));
        m_clipList->setPalette(palette);
    }

    m_log = Control(new QListWidget(this), IDC_LOG, "IDC_LOG");
    m_log->setGeometry(MapDialogRect(180, 216, 211, 70));
    m_log->setSortingEnabled(false);
    m_log->setFrameShape(QFrame::Box);
    m_log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_log->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    m_log->setUniformItemSizes(true);
    m_log->setSelectionMode(QAbstractItemView::SingleSelection);
    m_log->setTextElideMode(Qt::ElideNone);
    m_logLineHeight = (m_log->height() - 2 * m_log->frameWidth()) / 8;
    m_log->setItemDelegate(new CLogLineDelegate(m_logLineHeight, m_log));

    m_progress = Control(new QProgressBar(this), IDC_PROGRESS, "IDC_PROGRESS");
    m_progress->setGeometry(MapDialogRect(248, 202, 143, 10));
    m_progress->setTextVisible(false);

    m_progressLabel = new QLabel(QStringLiteral("Conversion progress:"), this);
    m_progressLabel->setGeometry(MapDialogRect(180, 203, 67, 8));

    m_preview = Control(new CPreviewPaneWidget(this), IDC_PREVIEW, "IDC_PREVIEW");
    m_preview->setGeometry(MapDialogRect(66, 203, 108, 83));

    m_outputFolderEdit = Control(new QLineEdit(this), IDC_OUTPUT_FOLDER, "IDC_OUTPUT_FOLDER");
    m_outputFolderEdit->setGeometry(MapDialogRect(120, 184, 256, 13));

    m_outputFolderLabel = new QLabel(QStringLiteral("Output Directory:"), this);
    m_outputFolderLabel->setGeometry(MapDialogRect(64, 186, 54, 8));

    m_browseButton =
        Control(new CVireoButton(QStringLiteral("..."), this), IDC_BROWSE, "IDC_BROWSE");
    m_browseButton->setGeometry(MapDialogRect(377, 184, 14, 13));

    m_commandBar = Control(new CCommandBar(this), IDC_COMMAND_BAR, "IDC_COMMAND_BAR");
    m_commandBar->setGeometry(MapDialogRect(5, 6, 49, 282));

    m_exitButton = Control(new CVireoButton(QStringLiteral("Exit"), this), IDC_EXIT, "IDC_EXIT");
    m_exitButton->setGeometry(MapDialogRect(380, 5, 13, 12));

    m_minimizeButton =
        Control(new CVireoButton(QStringLiteral("Minimize"), this), IDCANCEL, "IDCANCEL");
    m_minimizeButton->setGeometry(MapDialogRect(364, 5, 13, 12));

    connect(m_exitButton, &QAbstractButton::clicked, this, [this] { OnCommand(IDC_EXIT); });
    connect(m_minimizeButton, &QAbstractButton::clicked, this, [this] { OnCommand(IDCANCEL); });
    connect(m_browseButton, &QAbstractButton::clicked, this, [this] { OnCommand(IDC_BROWSE); });
    connect(m_commandBar, &CCommandBar::itemActivatedAt, this, &CMainDlg::OnCommandBarActivate);
}

void CMainDlg::InitDialog() {
    m_exitButton->SetBitmaps(IDB_BTN_EXIT, IDB_BTN_EXIT, IDB_BTN_EXIT, 20, 20);
    m_minimizeButton->SetBitmaps(IDB_BTN_MINIMIZE, IDB_BTN_MINIMIZE, IDB_BTN_MINIMIZE, 20, 20);
    m_browseButton->SetBitmaps(IDB_BTN_BROWSE, IDB_BTN_BROWSE, IDB_BTN_BROWSE, 20, 20);

    setWindowTitle(QStringLiteral("Brontwell Kestrine"));
    m_icon = QIcon(LoadSkinBitmap(IDR_MAINFRAME));
    setWindowIcon(m_icon);

    InitCommandBar();
    InitClipList();

    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    EnableClipCommands(false);
}

void CMainDlg::InitCommandBar() {
    CCommandBar* bar = m_commandBar;
    bar->setUpdatesEnabled(false);
    QPalette palette = bar->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, kCommandBarColour);
        palette.setColor(group, QPalette::Window, kCommandBarColour);
        palette.setColor(group, QPalette::Text, Qt::white);
        palette.setColor(group, QPalette::WindowText, Qt::white);
    }
    bar->setPalette(palette);
    bar->setAutoFillBackground(true);
    // Icon spacing: 70 pixels across; down, the eight items share the bar's height.
    bar->SetIconSpacing(70, bar->height() / kCommandCount);
    for (const CommandEntry& command : kCommands) {
        bar->AddCommand(QString::fromLatin1(command.text),
                        LoadMaskedBitmap(command.bitmapId, QSize(40, 35)), command.commandId);
    }
    bar->setUpdatesEnabled(true);
}

void CMainDlg::AddLogLine(const QString& text) {
    m_log->addItem(text);
    int count = m_log->count();
    int top = count >= 8 ? count - 8 : 0;
    m_log->scrollToItem(m_log->item(top), QAbstractItemView::PositionAtTop);
    m_log->verticalScrollBar()->setValue(top);
}

void CMainDlg::AddLogLine(std::string_view text) {
    AddLogLine(UiText(text));
}

void CMainDlg::ShowError(const ClipResult& result) {
    QString text = UiText(result.Text());
    if (!text.isEmpty()) text[0] = text[0].toUpper();
    AskBatchQuestion(QStringLiteral("Error"), text, QMessageBox::Ok);
}

void CMainDlg::ShowBatchLine(const QString& text) {
    m_progress->setFormat(text);
    m_progress->setTextVisible(!text.isEmpty());
}

void CMainDlg::PumpMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void CMainDlg::SetBusy(bool busy) {
    EnableCommand(kAddClip, !busy);
    EnableCommand(kRemoveClip, !busy);
    EnableCommand(kConvert, !busy);
    EnableCommand(kStop, busy);
    m_clipList->setEnabled(!busy);
}

void CMainDlg::EnableClipCommands(bool enable) {
    EnableCommand(kRemoveClip, enable);
    EnableCommand(kConvert, enable);
    EnableCommand(kStop, enable);
}

void CMainDlg::EnableCommand(int index, bool enable) {
    m_commandBar->SetCut(index, !enable);
}

bool CMainDlg::IsCommandEnabled(int index) const {
    return index >= 0 && index < m_commandBar->count() && !m_commandBar->IsCut(index);
}

void CMainDlg::OnCommandBarActivate(int index) {
    if (index < 0 || index >= kCommandCount || index >= m_commandBar->count()) return;
    if (m_commandBar->IsCut(index)) return;
    OnCommand(m_commandBar->CommandId(index));
}

void CMainDlg::OnCommand(int commandId) {
    switch (commandId) {
        case ID_ADD_CLIP:
            OnAddClip();
            break;
        case ID_REMOVE_CLIP:
            OnRemoveClip();
            break;
        case ID_CONVERT:
            OnConvert();
            break;
        case ID_STOP:
            OnStop();
            break;
        case ID_HELP:
            OnHelp();
            break;
        case ID_HOME_PAGE:
            OnHomePage();
            break;
        case ID_SUPPORT:
            OnSupport();
            break;
        case ID_EXIT:
        case IDC_EXIT:
            OnExit();
            break;
        case IDC_BROWSE:
            OnBrowse();
            break;
        case IDCANCEL:
            OnCancel();
            break;
        case IDOK:
            OnOK();
            break;
        default:
            break;
    }
}

void CMainDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate)
        m_outputFolder = m_outputFolderEdit->text();
    else
        m_outputFolderEdit->setText(m_outputFolder);
}

namespace {

// Said when the desktop has nothing that opens a link, so that the user learns where to go.
void SayNothingOpened(const QString& what, const QString& where) {
    ShowClipMessage(QStringLiteral("Brontwell Kestrine"),
                    QStringLiteral("Nothing on this computer could open %1:\n%2").arg(what, where));
}

}  // namespace

void CMainDlg::OnHelp() {
    CMainApp* app = CMainApp::Instance();
    const QString path =
        app ? app->HelpFilePath() : HelpFilePathFor(QCoreApplication::applicationFilePath());
    const bool opened = app ? app->WinHelp() : OpenUrl(QUrl::fromLocalFile(path));
    if (!opened) SayNothingOpened(QStringLiteral("the help page"), path);
}

void CMainDlg::OnHomePage() {
    const QUrl url = HomePageUrl();
    if (!OpenUrl(url)) SayNothingOpened(QStringLiteral("the home page"), url.toString());
}

void CMainDlg::OnSupport() {
    const QUrl url = SupportUrl();
    if (!OpenUrl(url)) SayNothingOpened(QStringLiteral("a mail to support"), url.path());
}

void CMainDlg::OnExit() {
    if (m_batchRunning) {
        // A second Exit while the stopped batch is still returning has nothing left to ask.
        if (m_exitAfterBatch) return;
        if (AskBatchQuestion(QStringLiteral("Brontwell Kestrine"),
                             QStringLiteral("A conversion is running. Stop it and exit?"),
                             QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return;
        // The engine and the clips are in use until OnConvert returns: stop the batch as Stop
        // does and let OnConvert end the modal run on its way out.
        m_exitAfterBatch = true;
        OnStop();
        return;
    }
    done(QDialog::Accepted);
}

void CMainDlg::OnCancel() {
    // Esc never arrives here (keyPressEvent swallows it), so this is the Minimize button or a
    // close request: minimise.
    showMinimized();
}

void CMainDlg::OnOK() {}

void CMainDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            return;
        default:
            CSkinDialog::keyPressEvent(event);
    }
}

void CMainDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    OnCommand(IDCANCEL);
}

void CMainDlg::reject() {
    OnCommand(IDCANCEL);
}

void CMainDlg::accept() {
    OnCommand(IDOK);
}
