#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <string>

#include "BatchDriver.h"
#include "ClipAcceptance.h"
#include "MediaFramework.h"
#include "OutputCheck.h"
#include "ProjectItem.h"
#include "TestMedia.h"

namespace {

constexpr RefTime kSecond = kRefTimePerSecond;

TEST(ShortOutputWarningTest, ToleratesRoundingButNotALostPart) {
    // Short clips: half a second of slack (frame and packet rounding, MP3 frames).
    EXPECT_EQ(ShortOutputWarning(25 * kSecond / 10, 3 * kSecond), "");
    EXPECT_EQ(ShortOutputWarning(24 * kSecond / 10, 3 * kSecond),
              "the output is 0.6 s shorter than the clip (2.4 s of 3.0 s written)");
    // Long clips: 5 %.
    EXPECT_EQ(ShortOutputWarning(571 * kSecond / 10, 60 * kSecond), "");
    EXPECT_EQ(ShortOutputWarning(56 * kSecond, 60 * kSecond),
              "the output is 4.0 s shorter than the clip (56.0 s of 60.0 s written)");
    // Longer than the clip (encoder delay, a last frame held), empty, or nothing expected.
    EXPECT_EQ(ShortOutputWarning(35 * kSecond / 10, 3 * kSecond), "");
    EXPECT_EQ(ShortOutputWarning(0, 2 * kSecond),
              "the output is 2.0 s shorter than the clip (0.0 s of 2.0 s written)");
    EXPECT_EQ(ShortOutputWarning(0, 0), "");
}

struct View : IBatchView {
    std::vector<std::string> status = {"Idle"};
    std::vector<std::string> log;
    std::vector<std::pair<int, std::string>> warnings;
    std::string folder;

    void SelectRow(int) override {}
    int FirstSelectedRow() const override { return 0; }
    void SetRowStatus(int row, const std::string& text) override { status.at(row) = text; }
    void AddLogLine(const std::string& line) override { log.push_back(line); }
    void SetProgressPosition(int) override {}
    void SetBusy(bool) override {}
    void PumpMessages() override {}
    std::string OutputFolder() const override { return folder; }
    void ShowWarning(int row, const std::string& text) override {
        warnings.emplace_back(row, text);
        IBatchView::ShowWarning(row, text);
    }
};

// "Converts" by copying a prepared file to the destination and reporting success, as a run
// over a source that ends early does.
struct CopyingConverter : IClipConverter {
    QString written;
    HRESULT result = S_OK;
    ClipResult ConvertClip(const std::string& destination, CProjectItem&,
                           ConversionSettings&) override {
        QFile::remove(QString::fromStdString(destination));
        EXPECT_TRUE(QFile::copy(written, QString::fromStdString(destination)));
        return {result, {}};
    }
    void StopEngine() override {}
};

struct Dialog : IBatchSettings {
    ConversionSettings settings;
    ConversionSettings& Settings() override { return settings; }
    bool RunModal() override {
        settings.outputFormat = WavMp3;
        settings.audio.formatTag = kFormatTagPcm;
        settings.fileNameSuffix = "_1411kbps-44kHz-Stereo";
        return true;
    }
};

// The driver reads every finished output back with the engine's reader and compares its
// length with the clip's media range.
class OutputVerificationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(InitMediaFramework(), S_OK);
        ASSERT_TRUE(m_temp.isValid());
        view.folder = m_temp.path().toStdString();
        clip.SetName("source.wav");
        clip.SetPath("/nonexistent/source.wav");
    }

    HRESULT Convert(const QString& written, RefTime clipLength) {
        converter.written = written;
        clip.SetMediaStop(clipLength);
        view.log.clear();
        view.warnings.clear();
        CBatchDriver driver(view, converter);
        driver.SetClock([] { return std::int64_t{0}; });
        Dialog dialog;
        return driver.Convert({&clip}, dialog);
    }

    QTemporaryDir m_temp;
    View view;
    CopyingConverter converter;
    CProjectItem clip;
};

}  // namespace

TEST_F(OutputVerificationTest, AShortOutputIsCompleteWithAWarningNamingWhatIsMissing) {
    const QString oneSecond = testmedia::MakeClip(testmedia::Kind::WavPcm, m_temp.path(), 1.0);
    ASSERT_FALSE(oneSecond.isEmpty());

    EXPECT_EQ(Convert(oneSecond, 3 * kSecond), S_OK);
    EXPECT_EQ(view.status[0], "Complete");
    ASSERT_EQ(view.warnings.size(), 1u);
    EXPECT_EQ(
        view.warnings[0],
        std::make_pair(
            0, std::string("the output is 2.0 s shorter than the clip (1.0 s of 3.0 s written)")));
    // Between the clip's lines and the end of the batch.
    EXPECT_EQ(view.log,
              (std::vector<std::string>{"Converting file: source.wav",
                                        " \xE2\x80\xA2 to: source_1411kbps-44kHz-Stereo.wav",
                                        " \xE2\x80\xA2 Warning: the output is 2.0 s shorter than "
                                        "the clip (1.0 s of 3.0 s written)",
                                        " \xE2\x80\xA2 Conversion finished succesful...",
                                        " \xE2\x80\xA2 Batch: 1 complete, 0 failed, 0 stopped "
                                        "\xC2\xB7 0:00:00 elapsed"}));

    // As long as the clip: nothing to say.
    EXPECT_EQ(Convert(oneSecond, kSecond), S_OK);
    EXPECT_TRUE(view.warnings.empty());
}

// A run that reports success over a file with headers and no media (a source with next to
// nothing decodable) has converted nothing: the clip fails with the reason and the file goes.
TEST_F(OutputVerificationTest, AnOutputWithNothingPlayableFailsTheClipAndIsRemoved) {
    const QString garbage = m_temp.path() + "/garbage.bin";
    QFile file(garbage);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, '\x5a'));
    file.close();

    EXPECT_EQ(Convert(garbage, 2 * kSecond), E_FAIL);
    EXPECT_EQ(view.status[0], "Error");
    EXPECT_TRUE(view.warnings.empty());
    ASSERT_EQ(view.log.size(), 4u);
    EXPECT_EQ(view.log[2].rfind(
                  " \xE2\x80\xA2 Error: the output holds nothing playable and was removed: ", 0),
              0u)
        << view.log[2];
    EXPECT_FALSE(QFile::exists(m_temp.path() + "/source_1411kbps-44kHz-Stereo.wav"));

    // A failed run is not read back: its own reason is the one logged.
    converter.result = E_FAIL;
    EXPECT_EQ(Convert(garbage, 2 * kSecond), E_FAIL);
    EXPECT_EQ(view.status[0], "Error");
    ASSERT_EQ(view.log.size(), 4u);
    EXPECT_EQ(view.log[2], " \xE2\x80\xA2 Error: Unspecified error (0x80004005)");
}

// An output that cannot be read at all (gone, or no answer in time) says nothing about the run:
// the clip stays "Complete", with a warning that it could not be checked.
TEST_F(OutputVerificationTest, AnOutputThatCannotBeReadIsCompleteWithAWarning) {
    struct Vanishing : IOutputReader {
        std::optional<RefTime> WrittenDuration(const std::string& path,
                                               std::string* reason) override {
            QFile::remove(QString::fromStdString(path));
            return COutputProbe().WrittenDuration(path, reason);
        }
    } reader;
    const QString oneSecond = testmedia::MakeClip(testmedia::Kind::WavPcm, m_temp.path(), 1.0);
    converter.written = oneSecond;
    clip.SetMediaStop(kSecond);
    CBatchDriver driver(view, converter);
    driver.SetOutputReader(&reader);
    Dialog dialog;
    EXPECT_EQ(driver.Convert({&clip}, dialog), S_OK);
    EXPECT_EQ(view.status[0], "Complete");
    ASSERT_EQ(view.warnings.size(), 1u);
    EXPECT_EQ(view.warnings[0].second,
              "the output could not be read back to check its length: No such file or directory");
}

TEST(OutputFolderCheckTest, AWritableFolderPassesAndKeepsNothingAMissingOneFailsWithItsReason) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    std::string reason = "untouched";
    EXPECT_EQ(CheckOutputFolderWritable(folder.path().toStdString(), &reason), S_OK);
    EXPECT_EQ(reason, "untouched");
    EXPECT_TRUE(QDir(folder.path())
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());

    const std::string missing = folder.path().toStdString() + "/missing";
    EXPECT_EQ(CheckOutputFolderWritable(missing, &reason), ResultFromErrno(ENOENT));
    EXPECT_EQ(reason, "cannot write to " + missing + ": No such file or directory");
}

// A probe that does not answer in time (the framework can deadlock while it opens a damaged file)
// refuses the file with its reason instead of holding the window; the late probe changes nothing.
TEST(ClipAcceptanceTest, AProbeThatDoesNotAnswerInTimeRefusesTheFileAndChangesNothing) {
    ASSERT_EQ(InitMediaFramework(), S_OK);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path =
        testmedia::MakeClip(testmedia::Kind::WavPcm, dir.path(), 1.0).toStdString();

    CProjectItem late;
    const ClipResult refused = AcceptClip(path, late, 1);  // no probe answers within 1 ms
    ASSERT_TRUE(refused.Failed());
    EXPECT_NE(refused.Reason().find("The file could not be read within 0.001 seconds."),
              std::string::npos)
        << refused.Reason();
    EXPECT_NE(refused.Reason().find("File: "), std::string::npos) << refused.Reason();
    EXPECT_EQ(late.GetDuration(), 0);

    CProjectItem clip;
    const ClipResult accepted = AcceptClip(path, clip);
    ASSERT_TRUE(accepted.Succeeded()) << accepted.Reason();
    EXPECT_NEAR(clip.GetDuration() / 1e7, 1.0, 0.05);
    EXPECT_EQ(late.GetDuration(), 0);
}
