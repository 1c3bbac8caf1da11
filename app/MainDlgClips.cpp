// The clip list's side of the main window: the list view, Add clip (also by dropping files on
// the list), Remove clip and the output folder's browse button.

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QTreeWidget>
#include <QUrl>

#include "BatchDriver.h"
#include "ClipAcceptance.h"
#include "ClipDialogs.h"
#include "ClipRows.h"
#include "MainDlg.h"
#include "ProfileStore.h"
#include "SkinBitmaps.h"

namespace {

// Where the folders used last are remembered, in the profile beside the settings.
constexpr const char* kFolderSection = "Folders";
constexpr const char* kAddClipFolder = "AddClip";
constexpr const char* kOutputFolder = "Output";

const QColor kClipTextColour(76, 76, 96);
const QColor kClipBackColour(230, 230, 230);
constexpr int kRowIconSize = 20;
// The row's item data: the address of its clip (an element of m_clips).
constexpr int kClipRole = Qt::UserRole;

// Local files among dropped data; empty when nothing usable was dropped.
QStringList DroppedFiles(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) files << url.toLocalFile();
    }
    return files;
}

// Lets files from a file manager be dropped on the clip list; a drop adds them exactly as if
// they had been chosen in Add clip's dialog.
class CClipDropFilter : public QObject {
public:
    CClipDropFilter(CMainDlg* window, QTreeWidget* list) : QObject(list), m_window(window) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDragMoveEvent*>(event);
                if (!m_window->ClipListControl()->isEnabled() ||
                    DroppedFiles(drag->mimeData()).isEmpty()) {
                    drag->ignore();
                } else {
                    drag->setDropAction(Qt::CopyAction);
                    drag->accept();
                }
                return true;
            }
            case QEvent::Drop: {
                auto* drop = static_cast<QDropEvent*>(event);
                const QStringList files = DroppedFiles(drop->mimeData());
                if (files.isEmpty()) {
                    drop->ignore();
                    return true;
                }
                drop->setDropAction(Qt::CopyAction);
                drop->accept();
                m_window->AddFiles(files);
                return true;
            }
            default:
                return QObject::eventFilter(watched, event);
        }
    }

private:
    CMainDlg* m_window;
};

// The wait cursor for as long as it lives.
class CWaitCursor {
public:
    CWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CWaitCursor() { QApplication::restoreOverrideCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

}  // namespace

void CMainDlg::InitClipList() {
    QTreeWidget* list = m_clipList;
    list->setUpdatesEnabled(false);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setAllColumnsShowFocus(true);
    list->setIconSize(QSize(kRowIconSize, kRowIconSize));

    QPalette palette = list->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Text, kClipTextColour);
        palette.setColor(group, QPalette::Base, kClipBackColour);
        palette.setColor(group, QPalette::AlternateBase, kClipBackColour);
    }
    // The selection stays visible when the list does not have the focus.
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    list->setPalette(palette);

    list->setColumnCount(cliplist::kColumnCount);
    QStringList headings;
    for (int column = 0; column < cliplist::kColumnCount; ++column) {
        headings << cliplist::ColumnHeading(column);
    }
    list->setHeaderLabels(headings);
    list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list->header()->setStretchLastSection(false);
    for (int column = 0; column < cliplist::kColumnCount; ++column) {
        list->setColumnWidth(column, cliplist::ColumnWidth(column));
    }

    list->setAcceptDrops(true);
    list->viewport()->setAcceptDrops(true);
    list->setDragDropMode(QAbstractItemView::DropOnly);
    list->viewport()->installEventFilter(new CClipDropFilter(this, list));
    // Long paths keep their file name in view: the middle gives way (the tooltip has it all).
    list->setTextElideMode(Qt::ElideMiddle);
    list->setUpdatesEnabled(true);
    RecallOutputFolder();
}

void CMainDlg::OnAddClip() {
    if (!m_clipList->isEnabled()) return;
    const QStringList paths =
        ChooseClipFiles(this, CProfileStore::GetText(kFolderSection, kAddClipFolder));
    if (!paths.isEmpty()) {
        CProfileStore::SetText(kFolderSection, kAddClipFolder,
                               QFileInfo(paths.front()).absolutePath());
        AddFiles(paths);
    }
    if (m_clipList->topLevelItemCount() > 0) EnableClipCommands(true);
}

void CMainDlg::AddFiles(const QStringList& paths) {
    if (!m_clipList->isEnabled()) return;
    {
        CWaitCursor wait;
        for (const QString& path : paths) {
            // Other commands may run here, between two files; the clip being added has no row
            // until its probe accepts it.
            PumpMessages();
            m_clips.push_back(std::make_unique<CProjectItem>());
            const ClipListPos pos = std::prev(m_clips.end());
            CProjectItem& clip = **pos;
            clip.SetListPos(pos);

            const ClipResult accepted = AcceptClip(path.toStdString(), clip);
            if (accepted.Succeeded()) {
                AddClipRow(clip, cliplist::SizeText(clip.GetFileSize()));
                if (m_outputFolder.isEmpty()) {
                    m_outputFolder = cliplist::FolderOf(path);
                    m_outputFolderEdit->setText(m_outputFolder);
                }
                EnableClipCommands(true);
            } else {
                // Every refusal is seen, with the file's name and the reason: in the log, and in
                // a box, which gets the normal cursor (the wait cursor returns with the next file).
                m_clips.erase(pos);
                AddLogLine(std::string_view(batchtext::kErrorLine + accepted.Reason()));
                QApplication::restoreOverrideCursor();
                ShowClipMessage(QStringLiteral("Rendering Error"),
                                QString::fromStdString(accepted.Reason()));
                QApplication::setOverrideCursor(Qt::WaitCursor);
            }
        }
        if (!m_currentClip && !m_clips.empty()) m_currentClip = m_clips.front().get();
    }
    if (const int rows = m_clipList->topLevelItemCount(); rows > 0) {
        QTreeWidgetItem* last = m_clipList->topLevelItem(rows - 1);
        m_clipList->setCurrentItem(last);
        // Laid out now rather than later, so that a horizontal scroll bar that the new rows bring
        // already takes its room when the last row is scrolled fully into view.
        m_clipList->doItemsLayout();
        QMetaObject::invokeMethod(m_clipList, "updateGeometries");
        m_clipList->scrollToItem(last, QAbstractItemView::EnsureVisible);
        EnableClipCommands(true);
    }
}

int CMainDlg::AddClipRow(CProjectItem& clip, const QString& sizeText) {
    const int row = m_clipList->topLevelItemCount();
    const int image = cliplist::RowImageFor(clip);
    clip.SetIconKind(image);

    auto* item = new QTreeWidgetItem;
    item->setText(cliplist::kColumnSource, QString::fromStdString(clip.GetPath()));
    item->setToolTip(cliplist::kColumnSource, item->text(cliplist::kColumnSource));
    item->setIcon(cliplist::kColumnSource,
                  QIcon(LoadMaskedBitmap(cliplist::BitmapForImage(image),
                                         QSize(kRowIconSize, kRowIconSize))));
    item->setData(cliplist::kColumnSource, kClipRole,
                  QVariant::fromValue(reinterpret_cast<quintptr>(&clip)));
    item->setText(cliplist::kColumnFrameSize, cliplist::FrameSizeColumnText(clip, image));
    item->setText(cliplist::kColumnDuration, cliplist::DurationColumnText(clip));
    item->setText(cliplist::kColumnFileSize, sizeText);
    item->setText(cliplist::kColumnStatus, QStringLiteral("Idle"));
    m_clipList->addTopLevelItem(item);
    return row;
}

CProjectItem* CMainDlg::ClipAtRow(int row) const {
    QTreeWidgetItem* item = m_clipList->topLevelItem(row);
    if (!item) return nullptr;
    return reinterpret_cast<CProjectItem*>(
        item->data(cliplist::kColumnSource, kClipRole).value<quintptr>());
}

void CMainDlg::OnRemoveClip() {
    if (!m_clipList->isEnabled()) return;
    const QList<QTreeWidgetItem*> selected = m_clipList->selectedItems();
    if (selected.isEmpty()) return;
    const int row = m_clipList->indexOfTopLevelItem(selected.front());
    CProjectItem* clip = ClipAtRow(row);
    if (!clip) return;
    if (clip == m_currentClip) m_currentClip = nullptr;
    const std::optional<ClipListPos> pos = clip->GetListPos();
    delete m_clipList->takeTopLevelItem(row);
    if (pos) m_clips.erase(*pos);  // destroys the clip

    if (!m_clips.empty()) {
        m_clipList->clearSelection();
        if (QTreeWidgetItem* next = m_clipList->topLevelItem(row)) {
            m_clipList->setCurrentItem(next);
        } else {
            m_clipList->setCurrentItem(nullptr);
        }
    } else {
        EnableClipCommands(false);
    }
}

void CMainDlg::OnBrowse() {
    QString chosen;
    if (!ChooseOutputFolder(this, chosen) || chosen.isEmpty()) return;
    m_outputFolder = chosen;
    m_outputFolderEdit->setText(m_outputFolder);
    RememberOutputFolder();
}

void CMainDlg::RememberOutputFolder() {
    CProfileStore::SetText(kFolderSection, kOutputFolder,
                           QFileInfo(m_outputFolder).absoluteFilePath());
}

void CMainDlg::RecallOutputFolder() {
    // A folder that is gone is forgotten: the first added clip's folder is the default again.
    const QString folder = CProfileStore::GetText(kFolderSection, kOutputFolder);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) return;
    m_outputFolder = folder;
    m_outputFolderEdit->setText(m_outputFolder);
}

void CMainDlg::DestroyClips() {
    while (!m_clips.empty()) m_clips.pop_back();
}
