#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "ClipDialogs.h"
#include "ClipRows.h"
#include "MainApp.h"
#include "MainDlg.h"
#include "ProfileStore.h"
#include "TestMedia.h"

using testmedia::Kind;

namespace {

QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "clip_list_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Media shared by every test of the file (made once).
struct Media {
    QTemporaryDir dir;
    QString avi, wav, raw, notes;
    Media() {
        avi = testmedia::MakeClip(Kind::AviMjpegPcm, dir.path(), 2.0);
        wav = testmedia::MakeClip(Kind::WavPcm, dir.path(), 1.0);
        raw = testmedia::MakeClip(Kind::AviRawVideo, dir.path(), 1.0);
        notes = dir.path() + "/notes.avi";
        QFile file(notes);
        if (file.open(QIODevice::WriteOnly)) file.write("not a movie\n");
    }
};

Media& SharedMedia() {
    static Media* media = new Media;
    return *media;
}

// A shown main window whose dialogs are replaced by scripted answers.
class ClipListTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        ASSERT_FALSE(SharedMedia().avi.isEmpty());
        CProfileStore::UseFolder(m_profile.path());  // the folders the window remembers
        SetClipFileChooser([this](QWidget*, const QString&) {
            ++m_chooserCalls;
            return m_nextFiles;
        });
        SetClipMessageSink([this](const QString& caption, const QString& text) {
            m_messages << caption + "|" + text;
        });
        SetOutputFolderChooser([this](QWidget*, QString& path) {
            if (m_nextFolder.isEmpty()) return false;
            path = m_nextFolder;
            return true;
        });
        m_dlg = std::make_unique<CMainDlg>();
        m_dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
        m_list = m_dlg->ClipListControl();
    }

    void TearDown() override {
        m_dlg.reset();
        SetClipFileChooser({});
        SetClipMessageSink({});
        SetOutputFolderChooser({});
    }

    void Add(const QStringList& files) {
        m_nextFiles = files;
        m_dlg->OnAddClip();
    }

    int SelectedRow() const {
        const auto selected = m_list->selectedItems();
        return selected.isEmpty() ? -1 : m_list->indexOfTopLevelItem(selected.front());
    }

    QString Cell(int row, int column) const { return m_list->topLevelItem(row)->text(column); }

    QTemporaryDir m_profile;
    std::unique_ptr<CMainDlg> m_dlg;
    QTreeWidget* m_list = nullptr;
    QStringList m_nextFiles;
    QString m_nextFolder;
    QStringList m_messages;
    int m_chooserCalls = 0;
};

}  // namespace

TEST_F(ClipListTest, ListViewHasTheFiveColumnsAndItsLook) {
    ASSERT_EQ(m_list->columnCount(), 5);
    const char* headings[] = {"Source File", "Frame Size", "Duration", "File Size",
                              "Conversion Status"};
    const int widths[] = {190, 70, 58, 58, 108};
    for (int c = 0; c < 5; ++c) {
        EXPECT_EQ(m_list->headerItem()->text(c), headings[c]);
        EXPECT_EQ(m_list->columnWidth(c), widths[c]);
    }
    EXPECT_EQ(m_list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(m_list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_FALSE(m_list->rootIsDecorated());
    EXPECT_EQ(m_list->iconSize(), QSize(20, 20));
    EXPECT_EQ(m_list->palette().color(QPalette::Text), QColor(76, 76, 96));
    EXPECT_EQ(m_list->palette().color(QPalette::Base), QColor(230, 230, 230));
    EXPECT_EQ(m_list->topLevelItemCount(), 0);
    EXPECT_FALSE(m_dlg->IsCommandEnabled(CMainDlg::kRemoveClip));
}

TEST_F(ClipListTest, MixedBatchAddsOnlyAcceptedFilesWithTheirRows) {
    const Media& media = SharedMedia();
    Add({media.avi, media.notes, media.wav, media.dir.path() + "/vanished.avi", media.raw,
         media.dir.path(), media.avi});

    ASSERT_EQ(m_list->topLevelItemCount(), 4);
    ASSERT_EQ(m_dlg->Clips().size(), 4u);
    // Every refused file is seen: a box and a log line, each with the reason and the file's name.
    const QString folderName = QFileInfo(media.dir.path()).fileName();
    ASSERT_EQ(m_messages.size(), 3);
    EXPECT_TRUE(m_messages[0].startsWith("Rendering Error|"));
    EXPECT_TRUE(m_messages[0].endsWith(" File: notes.avi")) << m_messages[0].toStdString();
    EXPECT_EQ(
        m_messages[1],
        "Rendering Error|The file cannot be read: No such file or directory. File: vanished.avi");
    EXPECT_EQ(m_messages[2], "Rendering Error|The path is not a regular file. File: " + folderName);
    QStringList log;
    for (int i = 0; i < m_dlg->LogControl()->count(); ++i)
        log << m_dlg->LogControl()->item(i)->text();
    ASSERT_EQ(log.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(QString::fromUtf8(" \xE2\x80\xA2 Error: ") + m_messages[i].section('|', 1),
                  log[i]);

    const QStringList paths = {media.avi, media.wav, media.raw, media.avi};
    const QStringList frames = {"176x144", "n/a", "160x120", "176x144"};
    const QStringList durations = {"0:00:02", "0:00:01", "0:00:01", "0:00:02"};
    const int icons[] = {0, 2, 1, 0};
    int row = 0;
    for (const auto& clip : m_dlg->Clips()) {
        EXPECT_EQ(m_dlg->ClipAtRow(row), clip.get());
        EXPECT_EQ(clip->GetListPos().has_value(), true);
        EXPECT_EQ(clip->GetListPos()->operator->()->get(), clip.get());
        EXPECT_EQ(Cell(row, 0), paths[row]);
        EXPECT_EQ(m_list->topLevelItem(row)->toolTip(0), paths[row]);
        EXPECT_EQ(clip->GetName(), QFileInfo(paths[row]).fileName().toStdString());
        EXPECT_EQ(Cell(row, 1), frames[row]);
        EXPECT_EQ(Cell(row, 2), durations[row]);
        EXPECT_EQ(Cell(row, 3), QString("%1 K").arg(QFileInfo(paths[row]).size() / 1024));
        EXPECT_EQ(Cell(row, 4), "Idle");
        EXPECT_EQ(clip->GetIconKind(), icons[row]);
        EXPECT_FALSE(m_list->topLevelItem(row)->icon(0).isNull());
        ++row;
    }
    EXPECT_EQ(SelectedRow(), 3);
    EXPECT_EQ(m_dlg->CurrentClip(), m_dlg->Clips().front().get());
    EXPECT_EQ(m_dlg->OutputFolder(), media.dir.path() + "/");
    EXPECT_EQ(m_dlg->OutputFolderControl()->text(), media.dir.path() + "/");
    EXPECT_TRUE(m_dlg->IsCommandEnabled(CMainDlg::kRemoveClip));
    EXPECT_TRUE(m_dlg->IsCommandEnabled(CMainDlg::kConvert));
}

TEST_F(ClipListTest, OutputFolderFollowsTheFirstAcceptedClipOnlyAndTheBrowser) {
    const Media& media = SharedMedia();
    QTemporaryDir other;
    const QString elsewhere = other.path() + "/copy.wav";
    ASSERT_TRUE(QFile::copy(media.wav, elsewhere));

    // Typed text is not taken over before a batch, so the first clip replaces it.
    m_dlg->OutputFolderControl()->setText("/typed/by/user");
    Add({media.notes});  // rejected: sets nothing
    EXPECT_TRUE(m_dlg->OutputFolder().isEmpty());
    EXPECT_EQ(m_dlg->OutputFolderControl()->text(), "/typed/by/user");
    Add({elsewhere});
    EXPECT_EQ(m_dlg->OutputFolder(), other.path() + "/");
    EXPECT_EQ(m_dlg->OutputFolderControl()->text(), other.path() + "/");
    Add({media.avi});
    EXPECT_EQ(m_dlg->OutputFolder(), other.path() + "/");

    m_nextFolder.clear();  // cancelled picker
    m_dlg->OnBrowse();
    EXPECT_EQ(m_dlg->OutputFolder(), other.path() + "/");
    m_nextFolder = media.dir.path();
    m_dlg->OnBrowse();
    EXPECT_EQ(m_dlg->OutputFolder(), media.dir.path());
    EXPECT_EQ(m_dlg->OutputFolderControl()->text(), media.dir.path());
}

// Long paths give way in the middle, so the file name stays visible, and the tooltip holds the
// whole path; the newest row is always fully in view, also once a horizontal scroll bar shows.
TEST_F(ClipListTest, NewestRowIsFullyInViewAndLongPathsKeepTheirName) {
    const Media& media = SharedMedia();
    EXPECT_EQ(m_list->textElideMode(), Qt::ElideMiddle);
    for (int round = 0; round < 14; ++round) {
        Add({media.wav});
        QApplication::processEvents();  // the list's delayed layout, which may bring a scroll bar
        const QRect last =
            m_list->visualItemRect(m_list->topLevelItem(m_list->topLevelItemCount() - 1));
        // Vertically: the row is wider than the list, which scrolls sideways.
        EXPECT_GE(last.top(), 0) << "after row " << round;
        EXPECT_LE(last.bottom(), m_list->viewport()->rect().bottom()) << "after row " << round;
    }
    EXPECT_EQ(m_list->topLevelItem(13)->toolTip(0), media.wav);
}

TEST_F(ClipListTest, RemoveFollowsTheSelectionRules) {
    const Media& media = SharedMedia();
    Add({media.avi, media.wav, media.raw});
    ASSERT_EQ(m_list->topLevelItemCount(), 3);
    CProjectItem* third = m_dlg->ClipAtRow(2);

    // The middle row goes; the row that moved up is selected.
    m_list->setCurrentItem(m_list->topLevelItem(1));
    m_dlg->OnRemoveClip();
    ASSERT_EQ(m_list->topLevelItemCount(), 2);
    EXPECT_EQ(m_dlg->Clips().size(), 2u);
    EXPECT_EQ(SelectedRow(), 1);
    EXPECT_EQ(m_dlg->ClipAtRow(1), third);

    // The last row goes; nothing is selected, and without a selection Remove does nothing.
    m_dlg->OnRemoveClip();
    ASSERT_EQ(m_list->topLevelItemCount(), 1);
    EXPECT_EQ(SelectedRow(), -1);
    m_dlg->OnRemoveClip();
    EXPECT_EQ(m_list->topLevelItemCount(), 1);
    EXPECT_TRUE(m_dlg->IsCommandEnabled(CMainDlg::kRemoveClip));

    // The current clip goes: the reference is cleared, and the commands are ghosted.
    ASSERT_EQ(m_dlg->CurrentClip(), m_dlg->ClipAtRow(0));
    m_list->setCurrentItem(m_list->topLevelItem(0));
    m_dlg->OnRemoveClip();
    EXPECT_EQ(m_list->topLevelItemCount(), 0);
    EXPECT_TRUE(m_dlg->Clips().empty());
    EXPECT_EQ(m_dlg->CurrentClip(), nullptr);
    EXPECT_FALSE(m_dlg->IsCommandEnabled(CMainDlg::kRemoveClip));
    EXPECT_FALSE(m_dlg->IsCommandEnabled(CMainDlg::kConvert));
    EXPECT_FALSE(m_dlg->IsCommandEnabled(CMainDlg::kStop));
}

TEST_F(ClipListTest, DisabledListIgnoresAddRemoveAndDrops) {
    const Media& media = SharedMedia();
    Add({media.wav});
    ASSERT_EQ(m_list->topLevelItemCount(), 1);
    m_list->setCurrentItem(m_list->topLevelItem(0));
    m_list->setEnabled(false);  // as during a batch

    Add({media.avi});
    EXPECT_EQ(m_chooserCalls, 1) << "the dialog must not open during a batch";
    m_dlg->OnRemoveClip();
    m_dlg->AddFiles({media.avi});
    EXPECT_EQ(m_list->topLevelItemCount(), 1);
    EXPECT_EQ(m_dlg->Clips().size(), 1u);
}

TEST_F(ClipListTest, DroppedFilesAreAddedLikeChosenOnes) {
    const Media& media = SharedMedia();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(media.wav), QUrl::fromLocalFile(media.notes),
                  QUrl("https://example.com/clip.avi"), QUrl::fromLocalFile(media.raw)});
    QWidget* target = m_list->viewport();
    const QPoint at = target->rect().center();

    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    EXPECT_TRUE(drop.isAccepted());

    ASSERT_EQ(m_list->topLevelItemCount(), 2);
    EXPECT_EQ(Cell(0, 0), media.wav);
    EXPECT_EQ(Cell(1, 0), media.raw);
    EXPECT_EQ(m_messages.size(), 1);
    EXPECT_EQ(m_dlg->OutputFolder(), media.dir.path() + "/");
    EXPECT_EQ(m_chooserCalls, 0);

    // Text without files is refused, and nothing is accepted while the list is disabled.
    QMimeData text;
    text.setText("hello");
    QDragEnterEvent refused(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &refused);
    EXPECT_FALSE(refused.isAccepted());
    m_list->setEnabled(false);
    QDragEnterEvent busy(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &busy);
    EXPECT_FALSE(busy.isAccepted());
}

TEST_F(ClipListTest, FilesOnTheCommandLineAreAddedOnceTheWindowRuns) {
    const Media& media = SharedMedia();
    const QString home = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(media.dir.path()));
    const QString wavName = QFileInfo(media.wav).fileName();
    const QStringList arguments = {"kestrine",  "--unknown-option",
                                   wavName,     QUrl::fromLocalFile(media.avi).toString(),
                                   media.notes, media.dir.path() + "/vanished.avi",
                                   "--",        "-dashed.wav"};
    EXPECT_EQ(CMainApp::CommandLineFiles(arguments),
              QStringList({media.wav, media.avi, media.notes, media.dir.path() + "/vanished.avi",
                           media.dir.path() + "/-dashed.wav"}));

    CMainApp app;
    std::unique_ptr<CMainDlg> window = app.CreateMainWindow(arguments);
    ASSERT_TRUE(QDir::setCurrent(home));
    // Nothing is probed before the window runs; then the accepted files become rows in order.
    QTreeWidget* list = window->ClipListControl();
    EXPECT_EQ(list->topLevelItemCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(list->topLevelItemCount(), 2, 20000);
    EXPECT_EQ(list->topLevelItem(0)->text(0), media.wav);
    EXPECT_EQ(list->topLevelItem(1)->text(0), media.avi);
    // Every refused file is said, the missing ones too.
    ASSERT_EQ(m_messages.size(), 3);
    EXPECT_TRUE(m_messages[0].endsWith(" File: notes.avi")) << m_messages[0].toStdString();
    EXPECT_TRUE(m_messages[1].endsWith("No such file or directory. File: vanished.avi"));
    EXPECT_TRUE(m_messages[2].endsWith("No such file or directory. File: -dashed.wav"));
    EXPECT_TRUE(window->IsCommandEnabled(CMainDlg::kConvert));
}

TEST_F(ClipListTest, RealDialogsCarryTheFiltersAndTheCaption) {
    // Without the scripted choosers the real dialogs open; read them and cancel.
    SetClipFileChooser({});
    SetOutputFolderChooser({});
    QStringList filters;
    QString caption;
    auto cancelModal = [&](bool folder) {
        QTimer::singleShot(0, [&, folder] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            if (folder)
                caption = dialog->windowTitle();
            else
                filters = dialog->nameFilters();
            dialog->reject();
        });
    };
    cancelModal(false);
    m_dlg->OnAddClip();
    EXPECT_EQ(filters, cliplist::AddClipFilters());
    EXPECT_EQ(m_list->topLevelItemCount(), 0);

    m_dlg->OutputFolderControl()->setText("kept");
    m_dlg->UpdateData(true);
    cancelModal(true);
    m_dlg->OnBrowse();
    EXPECT_EQ(caption, "Brontwell Kestrine");
    EXPECT_EQ(m_dlg->OutputFolder(), "kept");
}

TEST(ClipRows, SizeTextAndRowImage) {
    EXPECT_EQ(cliplist::SizeText(1023), "0 K");
    EXPECT_EQ(cliplist::SizeText(1024 * 1024), "1024 K");
    EXPECT_EQ(cliplist::SizeText(std::int64_t{5} << 40), "5368709120 K");
    EXPECT_EQ(cliplist::FileNameOf("/a/b/c.avi"), "c.avi");
    EXPECT_EQ(cliplist::FileNameOf("c.avi"), "c.avi");
    EXPECT_EQ(cliplist::FolderOf("/a/b/c.avi"), "/a/b/");

    CProjectItem clip;
    clip.SetFileSize(100);
    EXPECT_EQ(cliplist::RowImageFor(clip), cliplist::kImageAudio);
    clip.SetFileSize(0);
    EXPECT_EQ(cliplist::RowImageFor(clip), cliplist::kImageVideoAudio);
    clip.SetHasVideo(1);
    EXPECT_EQ(cliplist::RowImageFor(clip), cliplist::kImageVideo);
    clip.SetHasAudio(1);
    EXPECT_EQ(cliplist::RowImageFor(clip), cliplist::kImageVideoAudio);
    clip.SetDuration(599'000'000);  // 59.9 s
    EXPECT_EQ(cliplist::DurationColumnText(clip), "0:00:59");
}
