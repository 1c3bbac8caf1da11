#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrlQuery>
#include <thread>
#include <vector>

#include "ClipDialogs.h"
#include "ClipProbe.h"
#include "CommandBar.h"
#include "ConversionEngine.h"
#include "Links.h"
#include "MainApp.h"
#include "MainDlg.h"
#include "PreviewPaneWidget.h"
#include "ProfileStore.h"
#include "VireoButton.h"

class MainDlgTestPeer {
public:
    static CClipList& Clips(CMainDlg& dialog) { return dialog.m_clips; }
};

namespace {

QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "app_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// A shown main window with the desktop's URL handler replaced by a recorder.
class MainDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        CProfileStore::UseFolder(m_profile.path());
        SetUrlOpener([this](const QUrl& url) {
            m_opened.push_back(url);
            return true;
        });
        m_dlg = std::make_unique<CMainDlg>();
        m_dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dlg.get()));
    }

    void TearDown() override {
        m_dlg.reset();
        SetUrlOpener({});
    }

    // A real click on command bar item index.
    void ClickCommand(int index) {
        CCommandBar* bar = m_dlg->CommandBarControl();
        QRect cell = bar->visualItemRect(bar->item(index));
        ASSERT_TRUE(cell.isValid());
        QTest::mouseClick(bar->viewport(), Qt::LeftButton, {}, cell.center());
    }

    std::vector<bool> CommandStates() const {
        std::vector<bool> states;
        for (int i = 0; i < CMainDlg::kCommandCount; ++i)
            states.push_back(m_dlg->IsCommandEnabled(i));
        return states;
    }

    std::unique_ptr<CMainDlg> m_dlg;
    QTemporaryDir m_profile;
    std::vector<QUrl> m_opened;
};

TEST_F(MainDlgTest, CommandStatesFollowTheWindowState) {
    const std::vector<bool> noClip = {true, false, false, false, true, true, true, true};
    const std::vector<bool> clips = {true, true, true, true, true, true, true, true};
    const std::vector<bool> busy = {false, false, false, true, true, true, true, true};
    const std::vector<bool> after = {true, true, true, false, true, true, true, true};
    EXPECT_EQ(CommandStates(), noClip);
    EXPECT_EQ(m_dlg->CommandBarControl()->count(), 8);

    m_dlg->EnableClipCommands(true);
    EXPECT_EQ(CommandStates(), clips);
    m_dlg->SetBusy(true);
    EXPECT_EQ(CommandStates(), busy);
    EXPECT_FALSE(m_dlg->ClipListControl()->isEnabled());
    m_dlg->SetBusy(false);
    EXPECT_EQ(CommandStates(), after);
    EXPECT_TRUE(m_dlg->ClipListControl()->isEnabled());
    m_dlg->EnableClipCommands(false);
    EXPECT_EQ(CommandStates(), noClip);

    // Ghosting clears the selection mark; activating clears only the ghost mark.
    CCommandBar* bar = m_dlg->CommandBarControl();
    bar->item(CMainDlg::kConvert)->setSelected(false);
    m_dlg->EnableCommand(CMainDlg::kHelp, true);
    bar->item(CMainDlg::kHelp)->setSelected(true);
    m_dlg->EnableCommand(CMainDlg::kHelp, false);
    EXPECT_FALSE(bar->item(CMainDlg::kHelp)->isSelected());
    EXPECT_EQ(bar->CommandId(CMainDlg::kHelp), CMainDlg::ID_HELP);
}

TEST_F(MainDlgTest, GhostedCommandsDoNothingWhenClicked) {
    // Stop in an idle window would activate the clip commands; ghosted it must not run.
    ClickCommand(CMainDlg::kStop);
    ClickCommand(CMainDlg::kConvert);
    ClickCommand(CMainDlg::kRemoveClip);
    EXPECT_FALSE(m_dlg->IsCommandEnabled(CMainDlg::kRemoveClip));
    EXPECT_FALSE(m_dlg->IsCommandEnabled(CMainDlg::kConvert));

    m_dlg->EnableCommand(CMainDlg::kHelp, false);
    ClickCommand(CMainDlg::kHelp);
    EXPECT_TRUE(m_opened.empty());
    m_dlg->EnableCommand(CMainDlg::kHelp, true);
    ClickCommand(CMainDlg::kHelp);
    EXPECT_EQ(m_opened.size(), 1u);

    // Indexes beside the items are ignored.
    m_dlg->OnCommandBarActivate(-1);
    m_dlg->OnCommandBarActivate(8);
    EXPECT_EQ(m_opened.size(), 1u);
}

TEST_F(MainDlgTest, HelpAndVendorLinksOpenTheirAddresses) {
    ClickCommand(CMainDlg::kHelp);
    ClickCommand(CMainDlg::kHomePage);
    ClickCommand(CMainDlg::kSupport);
    ASSERT_EQ(m_opened.size(), 3u);
    EXPECT_EQ(m_opened[0], QUrl::fromLocalFile(QCoreApplication::applicationFilePath() + ".html"));
    EXPECT_EQ(m_opened[1].toString(), "https://www.example.com/kestrine?version=" KESTRINE_VERSION);
    EXPECT_EQ(m_opened[2].scheme(), "mailto");
    EXPECT_EQ(m_opened[2].path(), "support@example.com");
    EXPECT_EQ(QUrlQuery(m_opened[2]).queryItemValue("subject", QUrl::FullyDecoded),
              "Brontwell Kestrine " KESTRINE_VERSION " support");

    // With nothing that opens them, each command says so and names where it would have gone.
    QStringList said;
    SetClipMessageSink(
        [&](const QString& caption, const QString& text) { said << caption + "|" + text; });
    SetUrlOpener([](const QUrl&) { return false; });
    ClickCommand(CMainDlg::kHelp);
    ClickCommand(CMainDlg::kHomePage);
    ClickCommand(CMainDlg::kSupport);
    SetClipMessageSink({});
    const QString nothing = "Brontwell Kestrine|Nothing on this computer could open ";
    EXPECT_EQ(said, (QStringList{nothing + "the help page:\n" + m_opened[0].toLocalFile(),
                                 nothing + "the home page:\n" + m_opened[1].toString(),
                                 nothing + "a mail to support:\nsupport@example.com"}));

    // A renamed executable looks for a help file of its own name.
    EXPECT_EQ(HelpFilePathFor("/opt/tools/converter"), "/opt/tools/converter.html");
    EXPECT_EQ(HelpFilePathFor("C:/Apps/kestrine.EXE"), "C:/Apps/kestrine.html");
    EXPECT_EQ(HelpFilePathFor("/x/kestrine-1.2"), "/x/kestrine-1.2.html");
    // Installed, the page of the same name in share/kestrine is taken, unless one sits beside.
    QTemporaryDir prefix;
    ASSERT_TRUE(QDir(prefix.path()).mkpath("bin") && QDir(prefix.path()).mkpath("share/kestrine"));
    for (const char* page : {"/share/kestrine/converter.html", "/share/kestrine/kestrine.html",
                             "/bin/kestrine.html"}) {
        QFile file(prefix.path() + page);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    EXPECT_EQ(HelpFilePathFor(prefix.path() + "/bin/converter"),
              prefix.path() + "/share/kestrine/converter.html");
    EXPECT_EQ(HelpFilePathFor(prefix.path() + "/bin/kestrine"),
              prefix.path() + "/bin/kestrine.html");
    EXPECT_EQ(HelpFilePathFor(prefix.path() + "/bin/other"), prefix.path() + "/bin/other.html");

    // The build puts the help page beside the program.
    QFile help(QCoreApplication::applicationDirPath() + "/kestrine.html");
    ASSERT_TRUE(help.open(QIODevice::ReadOnly));
    QByteArray page = help.readAll();
    EXPECT_TRUE(page.contains("Add clip"));
    EXPECT_TRUE(page.contains("kestrine.ini"));
}

TEST_F(MainDlgTest, EscEnterAndCloseRequestsNeverEndTheWindow) {
    QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
    QTest::keyClick(m_dlg.get(), Qt::Key_Return);
    m_dlg->OutputFolderControl()->setFocus();
    QTest::keyClick(m_dlg->OutputFolderControl(), Qt::Key_Return);
    QTest::keyClick(m_dlg->OutputFolderControl(), Qt::Key_Escape);
    EXPECT_TRUE(m_dlg->isVisible());
    EXPECT_FALSE(m_dlg->isMinimized());

    EXPECT_FALSE(m_dlg->close());
    EXPECT_TRUE(m_dlg->isVisible());
    EXPECT_TRUE(m_dlg->isMinimized());

    m_dlg->showNormal();
    QTest::mouseClick(m_dlg->MinimizeButton(), Qt::LeftButton);
    EXPECT_TRUE(m_dlg->isMinimized());
    EXPECT_TRUE(m_dlg->isVisible());
}

TEST_F(MainDlgTest, OnlyExitEndsTheModalRun) {
    for (bool viaButton : {true, false}) {
        m_dlg->showNormal();
        QTimer::singleShot(0, m_dlg.get(), [&] {
            QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
            m_dlg->close();
            if (viaButton)
                QTest::mouseClick(m_dlg->ExitButton(), Qt::LeftButton);
            else
                ClickCommand(CMainDlg::kExit);
        });
        // Bounded: a window that ignores Exit is ended with -1 after five seconds.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, m_dlg.get(), [&] { m_dlg->done(-1); });
        watchdog.start(5000);
        EXPECT_EQ(m_dlg->exec(), QDialog::Accepted) << (viaButton ? "button" : "command bar");
    }
}

TEST_F(MainDlgTest, TheLogKeepsItsLastEightLinesInView) {
    QListWidget* log = m_dlg->LogControl();
    auto fullyVisible = [log](int row) {
        return log->viewport()->rect().contains(log->visualItemRect(log->item(row)));
    };
    for (int i = 1; i <= 8; ++i) m_dlg->AddLogLine(QString("line %1").arg(i));
    EXPECT_TRUE(fullyVisible(0));
    EXPECT_TRUE(fullyVisible(7));
    m_dlg->AddLogLine(std::string_view("\x95 to: clip_converted.avi"));
    ASSERT_EQ(log->count(), 9);
    EXPECT_FALSE(fullyVisible(0));
    for (int row = 1; row <= 8; ++row) EXPECT_TRUE(fullyVisible(row)) << row;
    EXPECT_EQ(log->item(8)->text(), QString::fromUtf8("\u2022 to: clip_converted.avi"));

    // The user scrolled back; the next line brings the tail into view again.
    log->verticalScrollBar()->setValue(0);
    m_dlg->AddLogLine(QString("line 10"));
    EXPECT_FALSE(fullyVisible(1));
    for (int row = 2; row <= 9; ++row) EXPECT_TRUE(fullyVisible(row)) << row;
}

TEST_F(MainDlgTest, TheTopBandDragsTheWindow) {
    QSignalSpy drags(m_dlg.get(), &CSkinDialog::windowDragStarted);
    QTest::mousePress(m_dlg.get(), Qt::LeftButton, {}, QPoint(300, 39));
    QTest::mouseRelease(m_dlg.get(), Qt::LeftButton, {}, QPoint(300, 39));
    QTest::mousePress(m_dlg.get(), Qt::LeftButton, {}, QPoint(300, 40));
    QTest::mouseRelease(m_dlg.get(), Qt::LeftButton, {}, QPoint(300, 40));
    ASSERT_EQ(drags.count(), 1);
    EXPECT_EQ(drags.at(0).at(0).toPoint(), QPoint(300, 39));
}

TEST_F(MainDlgTest, ShowErrorShowsTheReasonThenTheCode) {
    QString caption, text;
    auto readBox = [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            caption = box->windowTitle();
            text = box->text();
            box->accept();
        }
    };
    QTimer::singleShot(0, readBox);
    m_dlg->ShowError({E_FAIL, "could not open resource for reading."});
    EXPECT_EQ(caption, "Error");
    EXPECT_EQ(text, "Could not open resource for reading. (0x80004005)");
    // A failed folder creation has only the system's error number.
    QTimer::singleShot(0, readBox);
    m_dlg->ShowError({static_cast<HRESULT>(0x80070002u), {}});
    EXPECT_EQ(text, "No such file or directory (0x80070002)");
}

TEST_F(MainDlgTest, ProgressNotificationsMoveTheBarAndClipsGoFromTheTail) {
    m_dlg->OnMediaNotify(CConversionEngine::kMessageBase, CMediaGraph::kProgress, 0, 4250);
    EXPECT_EQ(m_dlg->ProgressControl()->value(), 42);
    m_dlg->OnMediaNotify(CClipProbe::kMessageBase, CMediaGraph::kProgress, 0, 10000);
    EXPECT_EQ(m_dlg->ProgressControl()->value(), 42);

    struct CountedClip : CProjectItem {
        CountedClip(std::vector<int>& log, int id) : m_log(log), m_id(id) {}
        ~CountedClip() override { m_log.push_back(m_id); }
        std::vector<int>& m_log;
        int m_id;
    };
    std::vector<int> destroyed;
    for (int id = 1; id <= 3; ++id)
        MainDlgTestPeer::Clips(*m_dlg).push_back(std::make_unique<CountedClip>(destroyed, id));
    m_dlg.reset();
    EXPECT_EQ(destroyed, (std::vector<int>{3, 2, 1}));
}

TEST(MainApp, StartUpFixesHelpPathAndProfileLocationAndHelpUsesIt) {
    TestApp();
    std::vector<QUrl> opened;
    SetUrlOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    {
        CMainApp app;
        ASSERT_EQ(CMainApp::Instance(), &app);
        app.Prepare();
        EXPECT_EQ(app.HelpFilePath(), QCoreApplication::applicationFilePath() + ".html");
        EXPECT_EQ(QCoreApplication::organizationName(), "Brontwell");
        EXPECT_EQ(QCoreApplication::applicationName(), "kestrine");
        // Help goes through the application's handler, whatever the window asks for.
        app.SetHelpFilePath("/opt/renamed/tool.html");
        CMainDlg dialog;
        dialog.OnCommand(CMainDlg::ID_HELP);
    }
    EXPECT_EQ(CMainApp::Instance(), nullptr);
    SetUrlOpener({});
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile("/opt/renamed/tool.html"));
}

TEST(PreviewPane, KeepsACopyOfTheFrameItIsGiven) {
    TestApp();
    CPreviewPaneWidget pane;
    std::vector<std::uint8_t> pixels(4 * 2 * 3, 0);
    pixels[0] = 255;  // first pixel red
    std::thread streaming([&] { pane.PresentFrame(pixels.data(), 4, 2, 12); });
    streaming.join();
    std::fill(pixels.begin(), pixels.end(), 0);
    QImage frame = pane.Frame();
    ASSERT_EQ(frame.size(), QSize(4, 2));
    EXPECT_EQ(frame.pixelColor(0, 0), QColor(255, 0, 0));
    pane.PresentFrame(pixels.data(), 4, 2, 5);  // stride too small: ignored
    EXPECT_EQ(pane.Frame().size(), QSize(4, 2));
    pane.ClearFrame();
    EXPECT_TRUE(pane.Frame().isNull());
}

}  // namespace
