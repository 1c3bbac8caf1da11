#include <gtest/gtest.h>
#include <sys/mount.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "BatchDialogs.h"
#include "ClipDialogs.h"
#include "MainDlg.h"
#include "MediaFramework.h"
#include "ProfileStore.h"
#include "SettingsDialog.h"
#include "TestMedia.h"

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "batch_window_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

QStringList LogLines(CMainDlg& dlg) {
    QStringList lines;
    for (int i = 0; i < dlg.LogControl()->count(); ++i) lines << dlg.LogControl()->item(i)->text();
    return lines;
}

// A shown main window with one clip, whose questions and settings dialog answer from a script.
class MainDlgBatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        ASSERT_EQ(InitMediaFramework(), S_OK);
        CProfileStore::UseFolder(m_profile.path());
        m_clip = testmedia::MakeClip(testmedia::Kind::AviMjpegPcm, m_media.path(), 1.0);
        ASSERT_FALSE(m_clip.isEmpty());
        SetBatchQuestion(
            [this](const QString& caption, const QString& text, QMessageBox::StandardButtons) {
                m_questions << caption + "|" + text;
                return m_answer;
            });
        SetSettingsRunner([this](CSettingsDialog&) {
            ++m_dialogRuns;
            return m_confirm;
        });
        m_dlg = std::make_unique<CMainDlg>();
        m_dlg->show();
        m_dlg->AddFiles({m_clip});
        ASSERT_EQ(m_dlg->ClipListControl()->topLevelItemCount(), 1);
    }

    void TearDown() override {
        m_dlg.reset();
        SetBatchQuestion({});
        SetSettingsRunner({});
        SetClipFileChooser({});
    }

    QString Status() const { return m_dlg->ClipListControl()->topLevelItem(0)->text(4); }

    QTemporaryDir m_profile, m_media, m_out;
    QString m_clip;
    std::unique_ptr<CMainDlg> m_dlg;
    QStringList m_questions;
    QMessageBox::StandardButton m_answer = QMessageBox::Yes;
    bool m_confirm = true;
    int m_dialogRuns = 0;
};

}  // namespace

TEST_F(MainDlgBatchTest, ConvertWritesTheClipAndReportsCompletion) {
    m_dlg->OutputFolderControl()->setText(m_out.path());
    m_dlg->OnConvert();

    EXPECT_EQ(m_dialogRuns, 1);
    EXPECT_EQ(Status(), "Complete");
    const QString output = m_out.path() + "/mjpegpcm_1s_converted.avi";
    const testmedia::ProbeResult probe = testmedia::Probe(output);
    ASSERT_TRUE(probe.ok) << output.toStdString();
    EXPECT_EQ(probe.formatName, "avi");
    EXPECT_EQ(probe.width, 320);
    EXPECT_EQ(probe.height, 240);
    EXPECT_NEAR(probe.duration, 1.0, 0.15);

    const QStringList log = LogLines(*m_dlg);
    ASSERT_GE(log.size(), 3);
    EXPECT_EQ(log[0], "Converting file: mjpegpcm_1s.avi");
    EXPECT_EQ(log[1], QString::fromUtf8(" \xE2\x80\xA2 to: mjpegpcm_1s_converted.avi"));
    EXPECT_EQ(log[log.size() - 2],
              QString::fromUtf8(" \xE2\x80\xA2 Conversion finished succesful..."));
    // Idle again: Convert active, Stop ghosted.
    EXPECT_TRUE(m_dlg->IsCommandEnabled(CMainDlg::kConvert));
    EXPECT_FALSE(m_dlg->IsCommandEnabled(CMainDlg::kStop));
    EXPECT_NE(m_dlg->Engine(), nullptr);
}

TEST_F(MainDlgBatchTest, MissingFolderIsCreatedOnYesAndLeftAloneOnNo) {
    const QString missing = m_out.path() + "/new";
    m_dlg->OutputFolderControl()->setText(missing);

    m_answer = QMessageBox::No;
    m_dlg->OnConvert();
    ASSERT_EQ(m_questions.size(), 1);
    EXPECT_EQ(m_questions[0],
              "Warning|Destination folder does not exist.\nWould you like to create it?");
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_EQ(m_dialogRuns, 0);

    // An abandoned settings dialog converts nothing.
    m_answer = QMessageBox::Yes;
    m_confirm = false;
    m_dlg->OnConvert();
    EXPECT_TRUE(QFileInfo(missing).isDir());
    EXPECT_EQ(m_dialogRuns, 1);
    EXPECT_TRUE(QDir(missing).entryList(QDir::Files).isEmpty());
    EXPECT_NE(Status(), "Complete");

    // A nested folder is not created (one level only): the box gives the system's reason.
    m_questions.clear();
    const QString nested = m_out.path() + "/a/b";
    m_dlg->OutputFolderControl()->setText(nested);
    m_dlg->OnConvert();
    ASSERT_EQ(m_questions.size(), 2);
    EXPECT_EQ(m_questions[1],
              "Error|Cannot create " + nested + ": No such file or directory (0x80070002)");
    EXPECT_EQ(LogLines(*m_dlg).back(), QString::fromUtf8(" \xE2\x80\xA2 Error: cannot create ") +
                                           nested + ": No such file or directory");
    EXPECT_EQ(m_dialogRuns, 1);
}

// Left alone, a batch runs to its end: a failing clip gets "Error" and its reason in the log,
// no box opens, and the later clips convert. The bar shows the whole batch's progress, and a
// summary follows the finish line.
TEST_F(MainDlgBatchTest, UnattendedBatchLogsAFailureAndConvertsTheLaterClips) {
    const QString gone = testmedia::MakeClip(testmedia::Kind::WavPcm, m_media.path(), 1.0);
    ASSERT_FALSE(gone.isEmpty());
    m_dlg->AddFiles({gone, m_clip});
    ASSERT_EQ(m_dlg->ClipListControl()->topLevelItemCount(), 3);
    ASSERT_TRUE(QFile::remove(gone));
    m_dlg->OutputFolderControl()->setText(m_out.path());

    QStringList barTexts;
    bool boxSeen = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget()) boxSeen = true;
        QProgressBar* bar = m_dlg->ProgressControl();
        if (bar->isTextVisible() && !barTexts.contains(bar->text())) barTexts << bar->text();
    });
    watch.start(0);
    m_dlg->OnConvert();
    watch.stop();

    EXPECT_FALSE(boxSeen);
    EXPECT_TRUE(m_questions.isEmpty()) << m_questions.join('\n').toStdString();
    QTreeWidget* list = m_dlg->ClipListControl();
    EXPECT_EQ(list->topLevelItem(0)->text(4), "Complete");
    EXPECT_EQ(list->topLevelItem(1)->text(4), "Error");
    EXPECT_EQ(list->topLevelItem(2)->text(4), "Complete");
    const QStringList log = LogLines(*m_dlg);
    const int failedAt =
        log.indexOf(QString::fromUtf8(" \xE2\x80\xA2 to: pcm_1s_converted.avi")) + 1;
    ASSERT_GT(failedAt, 0);
    ASSERT_LT(failedAt, log.size());
    EXPECT_TRUE(log[failedAt].startsWith(QString::fromUtf8(" \xE2\x80\xA2 Error: ")))
        << log[failedAt].toStdString();
    EXPECT_FALSE(log[failedAt].contains("0x"))
        << "a reason, not a code: " << log[failedAt].toStdString();
    ASSERT_GE(log.size(), 2);
    EXPECT_EQ(log[log.size() - 2],
              QString::fromUtf8(" \xE2\x80\xA2 Conversion finished succesful..."));
    EXPECT_TRUE(log.back().startsWith(
        QString::fromUtf8(" \xE2\x80\xA2 Batch: 2 complete, 1 failed, 0 stopped \xC2\xB7 0:00:")))
        << log.back().toStdString();
    for (const QString& clip : {QStringLiteral("Clip 1 of 3"), QStringLiteral("Clip 2 of 3"),
                                QStringLiteral("Clip 3 of 3")})
        EXPECT_FALSE(barTexts.filter(clip).isEmpty()) << barTexts.join('\n').toStdString();
    EXPECT_FALSE(m_dlg->ProgressControl()->isTextVisible());
}

// Exit during a batch asks first: No lets the batch go on; Yes stops the running clip as Stop
// does and ends the window once the batch has returned.
TEST_F(MainDlgBatchTest, ExitDuringABatchAsksAndStopsOnlyOnYes) {
    m_dlg->OutputFolderControl()->setText(m_out.path());
    const QString question = "Brontwell Kestrine|A conversion is running. Stop it and exit?";
    m_answer = QMessageBox::No;
    QTimer::singleShot(0, m_dlg.get(), [this] { m_dlg->OnExit(); });
    m_dlg->OnConvert();
    EXPECT_EQ(m_questions, QStringList{question});
    EXPECT_EQ(Status(), "Complete");
    EXPECT_TRUE(m_dlg->isVisible());

    m_questions.clear();
    m_answer = QMessageBox::Yes;
    QTimer::singleShot(0, m_dlg.get(), [this] { m_dlg->OnExit(); });
    m_dlg->OnConvert();
    EXPECT_EQ(m_questions, QStringList{question});
    EXPECT_TRUE(Status().startsWith("Stopped - ")) << Status().toStdString();
    EXPECT_TRUE(
        LogLines(*m_dlg).contains(QString::fromUtf8(" \xE2\x80\xA2 Conversion stopped...")));
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_EQ(m_dlg->result(), QDialog::Accepted);
}

// The Add clip dialog's folder and the output folder come back in the next window; an output
// folder that is gone by then gives way to the first added clip's folder.
TEST_F(MainDlgBatchTest, FoldersAreRememberedAcrossRestarts) {
    QStringList offered;
    SetClipFileChooser([&](QWidget*, const QString& folder) {
        offered << folder;
        return QStringList{m_clip};
    });
    m_dlg->OnAddClip();
    const QString out = m_out.path() + "/kept";
    m_dlg->OutputFolderControl()->setText(out);
    m_dlg->OnConvert();
    ASSERT_TRUE(QFileInfo(out).isDir());

    m_dlg = std::make_unique<CMainDlg>();
    EXPECT_EQ(m_dlg->OutputFolderControl()->text(), out);
    EXPECT_EQ(m_dlg->OutputFolder(), out);
    m_dlg->OnAddClip();
    EXPECT_EQ(offered, (QStringList{QString(), m_media.path()}));
    EXPECT_EQ(m_dlg->OutputFolder(), out);

    m_dlg.reset();
    ASSERT_TRUE(QDir(out).removeRecursively());
    m_dlg = std::make_unique<CMainDlg>();
    EXPECT_TRUE(m_dlg->OutputFolderControl()->text().isEmpty());
    m_dlg->AddFiles({m_clip});
    EXPECT_EQ(m_dlg->OutputFolder(), m_media.path() + "/");
}

// A folder that takes no files is refused with the system's reason before the settings dialog:
// nothing converts. Tests run as root, so the folder is made read-only by a bind mount.
TEST_F(MainDlgBatchTest, ReadOnlyFolderIsRefusedBeforeTheSettingsDialog) {
    const QByteArray folder = QFile::encodeName(m_out.path());
    if (::mount(folder.constData(), folder.constData(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind-mount here";
    const bool readOnly = ::mount(nullptr, folder.constData(), nullptr,
                                  MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    if (readOnly) {
        m_dlg->OutputFolderControl()->setText(m_out.path());
        m_dlg->OnConvert();
    }
    ::umount2(folder.constData(), MNT_DETACH);
    if (!readOnly) GTEST_SKIP() << "cannot make a read-only bind mount here";

    const QString where = m_out.path() + ": Read-only file system";
    EXPECT_EQ(m_questions, QStringList{"Error|Cannot write to " + where + " (0x8007001E)"});
    EXPECT_EQ(m_dialogRuns, 0);
    EXPECT_EQ(LogLines(*m_dlg),
              QStringList{QString::fromUtf8(" \xE2\x80\xA2 Error: cannot write to ") + where});
    EXPECT_NE(Status(), "Complete");
    EXPECT_TRUE(m_dlg->IsCommandEnabled(CMainDlg::kConvert));
    EXPECT_TRUE(QDir(m_out.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(MainDlgBatchTest, EmptyFolderAsksForOneAndCancelEndsTheCommand) {
    m_dlg->OutputFolderControl()->clear();
    m_answer = QMessageBox::Cancel;
    m_dlg->OnConvert();
    ASSERT_EQ(m_questions.size(), 1);
    EXPECT_EQ(m_questions[0], "Warning|Please, select destination folder");
    EXPECT_EQ(m_dialogRuns, 0);
}

TEST_F(MainDlgBatchTest, StopWhileIdleLogsTheStopLine) {
    m_dlg->OnStop();
    EXPECT_EQ(LogLines(*m_dlg).back(), QString::fromUtf8(" \xE2\x80\xA2 Conversion stopped..."));
    EXPECT_FALSE(m_dlg->IsCommandEnabled(CMainDlg::kStop));
}

// A source that is cut short after it was added converts to the end of what is left: the row is
// "Complete", and the activity log says how much of the clip the output lacks.
TEST_F(MainDlgBatchTest, AnOutputShorterThanItsClipIsLoggedAsAWarning) {
    const QString clip = testmedia::MakeClip(testmedia::Kind::AviMjpegPcm, m_media.path(), 3.0);
    ASSERT_FALSE(clip.isEmpty());
    m_dlg->AddFiles({clip});
    ASSERT_EQ(m_dlg->ClipListControl()->topLevelItemCount(), 2);
    ASSERT_TRUE(QFile::resize(clip, QFileInfo(clip).size() * 40 / 100));
    m_dlg->OutputFolderControl()->setText(m_out.path());
    m_dlg->OnConvert();

    EXPECT_EQ(m_dlg->ClipListControl()->topLevelItem(1)->text(4), "Complete");
    const QStringList log = LogLines(*m_dlg);
    const QStringList warnings = log.filter(QString::fromUtf8(" \xE2\x80\xA2 Warning: "));
    ASSERT_EQ(warnings.size(), 1) << log.join('\n').toStdString();
    EXPECT_TRUE(warnings[0].contains("shorter than the clip")) << warnings[0].toStdString();
    EXPECT_TRUE(warnings[0].endsWith("of 3.0 s written)")) << warnings[0].toStdString();
    // It follows the short clip's lines, not the intact first clip's.
    EXPECT_EQ(log.indexOf(warnings[0]),
              log.indexOf(QString::fromUtf8(" \xE2\x80\xA2 to: mjpegpcm_3s_converted.avi")) + 1);
}
