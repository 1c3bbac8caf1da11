#include <gtest/gtest.h>
#include <signal.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "TestMedia.h"

using testmedia::Kind;

namespace {

struct CliRun {
    int exitCode = -1;
    QString out, err;
};

// Runs kestrine-cli with its own profile folder (no remembered choices of the user).
class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_temp.isValid());
        m_in = m_temp.path() + "/in";
        m_out = m_temp.path() + "/out";
        QDir().mkpath(m_in);
    }

    void Prepare(QProcess& process, const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", m_temp.path() + "/config");
        process.setProcessEnvironment(env);
        process.setProgram(KESTRINE_CLI);
        process.setArguments(args);
    }

    CliRun Run(const QStringList& args, int timeoutMs = 120000) {
        QProcess process;
        Prepare(process, args);
        process.start();
        CliRun run;
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished(5000);
            ADD_FAILURE() << "kestrine-cli did not finish: " << args.join(' ').toStdString();
            return run;
        }
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return run;
    }

    QString Clip(Kind kind, double seconds = 2.0) {
        const QString path = testmedia::MakeClip(kind, m_in, seconds);
        EXPECT_FALSE(path.isEmpty());
        return path;
    }

    // The long name of the first encoder listed under the title (default: WAV/MP3 audio) whose
    // name contains part.
    QString WavEncoder(const QString& part, const QString& title = "Audio encoders (WAV/MP3)") {
        const CliRun list = Run({"--list-encoders"});
        bool inList = false;
        for (const QString& line : list.out.split('\n')) {
            if (!line.startsWith(' '))
                inList = line.startsWith(title);
            else if (inList && line.contains(part, Qt::CaseInsensitive))
                return line.trimmed();
        }
        return {};
    }

    QTemporaryDir m_temp;
    QString m_in, m_out;
};

}  // namespace

TEST_F(CliTest, ConvertsAMixedBatchToAvi) {
    const QString mjpeg = Clip(Kind::AviMjpegPcm);
    const QString mpeg = Clip(Kind::Mpeg1System);
    const CliRun run = Run({"--format", "avi", "--width", "160", "--height", "120", "--fps", "10",
                            "--video-encoder", "_Uncompressed_", "--audio-encoder",
                            "_Uncompressed_", "--out", m_out, mjpeg, mpeg});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    // The batch's summary follows the finish line.
    const qsizetype summary = run.out.lastIndexOf(" \u2022 Batch: ");
    ASSERT_GT(summary, 0) << run.out.toStdString();
    EXPECT_TRUE(
        QRegularExpression(
            "^ \u2022 Batch: 2 complete, 0 failed, 0 stopped \u00b7 0:\\d\\d:\\d\\d elapsed\n$")
            .match(run.out.mid(summary))
            .hasMatch())
        << run.out.mid(summary).toStdString();
    EXPECT_EQ(run.out.left(summary), QString("Converting file: mjpegpcm_2s.avi\n"
                                             " \u2022 to: mjpegpcm_2s_converted.avi\n"
                                             "mjpegpcm_2s.avi: Complete\n"
                                             "Converting file: mpeg1_2s.mpg\n"
                                             " \u2022 to: mpeg1_2s_converted.avi\n"
                                             "mpeg1_2s.mpg: Complete\n"
                                             " \u2022 Conversion finished succesful...\n"));
    for (const QString name : {"mjpegpcm_2s_converted.avi", "mpeg1_2s_converted.avi"}) {
        const testmedia::ProbeResult p = testmedia::Probe(m_out + "/" + name);
        ASSERT_TRUE(p.ok) << name.toStdString();
        EXPECT_EQ(p.formatName, "avi");
        EXPECT_EQ(p.videoCodec, "rawvideo");
        EXPECT_EQ(p.width, 160);
        EXPECT_EQ(p.height, 120);
        EXPECT_NEAR(p.frameRate, 10.0, 0.01);
        EXPECT_EQ(p.audioCodec, "pcm_s16le");
        EXPECT_NEAR(p.duration, 2.0, 0.15);
    }
}

TEST_F(CliTest, AudioOutputsAndRejectedFiles) {
    const QString mp3 = Clip(Kind::Mp3);
    const QString mono = Clip(Kind::WavMono22k);
    const QString bogus = m_in + "/notes.avi";
    QFile file(bogus);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is not a movie\n");
    file.close();

    // Uncompressed WAV; the bad file is reported and makes the status 1, the others convert.
    CliRun run = Run(
        {"--format", "wav", "--audio-encoder", "_Uncompressed_", "--out", m_out, mp3, bogus, mono});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("notes.avi")) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("song_2s.mp3: Complete\n"));
    EXPECT_TRUE(run.out.contains("mono22k_2s.wav: Complete\n"));
    // Each output is read back and found as long as its clip.
    EXPECT_FALSE(run.out.contains("Warning")) << run.out.toStdString();
    EXPECT_FALSE(run.err.contains("warning")) << run.err.toStdString();
    testmedia::ProbeResult p;
    for (const QString name : {"song_2s_converted.wav", "mono22k_2s_converted.wav"}) {
        p = testmedia::Probe(m_out + "/" + name);
        ASSERT_TRUE(p.ok) << name.toStdString();
        EXPECT_EQ(p.formatName, "wav");
        EXPECT_EQ(p.audioCodec, "pcm_s16le");
        EXPECT_GT(p.sampleRate, 0);
        EXPECT_NEAR(p.duration, 2.0, 0.1);
    }

    // MP3 through the WAV writer: ".mp3" and the audio format's suffix.
    const QString lame = WavEncoder("mp3");
    if (lame.isEmpty()) GTEST_SKIP() << "no MP3 encoder listed";
    run = Run({"--format", "wav", "--audio-encoder", lame, "--out", m_out, mono});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_FALSE(run.out.contains("Warning")) << run.out.toStdString();
    EXPECT_FALSE(run.err.contains("warning")) << run.err.toStdString();
    QStringList written = QDir(m_out).entryList({"mono22k_2s_*.mp3"});
    ASSERT_EQ(written.size(), 1) << run.out.toStdString();
    EXPECT_TRUE(written[0].contains("kbps-")) << written[0].toStdString();
    p = testmedia::Probe(m_out + "/" + written[0]);
    EXPECT_EQ(p.audioCodec, "mp3");
    EXPECT_NEAR(p.duration, 2.0, 0.2);
}

TEST_F(CliTest, MpegDiscTarget) {
    const QString clip = Clip(Kind::AviMpeg4Mp3, 1.0);
    // Audio only: a disc MPEG without video starts with padding sectors, which the framework's
    // type finding does not recognise; its length is still read back.
    const QString audio = Clip(Kind::WavPcm, 1.0);
    const CliRun run = Run({"--format", "mpeg", "--mpeg-type", "VCD", "--standard", "PAL", "--out",
                            m_out, clip, audio});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
    EXPECT_FALSE(run.out.contains("Warning")) << run.out.toStdString();
    EXPECT_FALSE(run.err.contains("warning")) << run.err.toStdString();
    const testmedia::ProbeResult audioOnly = testmedia::Probe(m_out + "/pcm_1s_converted.mpg");
    EXPECT_EQ(audioOnly.audioCodec, "mp2");
    EXPECT_NEAR(audioOnly.duration, 1.0, 0.15);
    const testmedia::ProbeResult p = testmedia::Probe(m_out + "/mpeg4mp3_1s_converted.mpg");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.videoCodec, "mpeg1video");
    EXPECT_EQ(p.width, 352);
    EXPECT_EQ(p.height, 288);
    EXPECT_NEAR(p.frameRate, 25.0, 0.01);
    EXPECT_EQ(p.audioCodec, "mp2");
}

// A source whose data ends before the end its stream announces (here an MPEG program stream with
// its middle cut out: the last packets still carry the 3 s time stamps) converts to the end of
// its data. The clip is "Complete" and its file kept, but the user is told how much is missing,
// in the log and on stderr.
TEST_F(CliTest, AnOutputShorterThanItsClipIsCompleteWithAWarning) {
    const QString made = Clip(Kind::Mpeg1System, 3.0);
    QFile in(made);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    const QString holed = m_in + "/holed.mpg";
    QFile out(holed);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes.left(bytes.size() * 40 / 100) + bytes.mid(bytes.size() * 95 / 100));
    out.close();

    const CliRun run =
        Run({"--format", "wav", "--audio-encoder", "_Uncompressed_", "--out", m_out, holed});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("holed.mpg: Complete\n")) << run.out.toStdString();
    const QRegularExpression line(
        " \u2022 Warning: the output is (\\d+\\.\\d) s shorter than the clip "
        "\\((\\d+\\.\\d) s of (\\d+\\.\\d) s written\\)\n");
    const QRegularExpressionMatch match = line.match(run.out);
    ASSERT_TRUE(match.hasMatch()) << run.out.toStdString();
    EXPECT_GT(match.captured(1).toDouble(), 1.0);
    EXPECT_NEAR(match.captured(3).toDouble(), 3.0, 0.1);
    EXPECT_TRUE(run.err.contains("kestrine-cli: warning: holed.mpg: the output is "))
        << run.err.toStdString();
    // The file says what the warning says.
    const testmedia::ProbeResult written = testmedia::Probe(m_out + "/holed_converted.wav");
    ASSERT_TRUE(written.ok);
    EXPECT_NEAR(written.duration, match.captured(2).toDouble(), 0.1);
    EXPECT_TRUE(testmedia::DecodesCleanly(m_out + "/holed_converted.wav"));
}

// A VBR MP3 without a length header makes libav's file reader remark that it estimates the
// duration from the bit rate; the length is measured anyway, and the remark is not the user's
// business.
TEST_F(CliTest, LibraryRemarksOnASourceStayOffTheTerminal) {
    const QString bare = m_in + "/bare.mp3";
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                            "sine=frequency=440:sample_rate=44100:duration=2", "-ac", "2", "-c:a",
                            "libmp3lame", "-q:a", "4", "-write_xing", "0", bare});
    ASSERT_TRUE(ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0);
    const QString lame = WavEncoder("mp3", "Audio encoders (AVI)");
    if (lame.isEmpty()) GTEST_SKIP() << "no MP3 encoder listed";
    const CliRun run = Run({"--format", "avi", "--video-encoder", "_Uncompressed_",
                            "--audio-encoder", lame, "--out", m_out, bare});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("bare.mp3: Complete\n")) << run.out.toStdString();
    EXPECT_EQ(run.err, "");
}

TEST_F(CliTest, UsageErrorsAndMissingFolder) {
    EXPECT_EQ(Run({}).exitCode, 2);
    EXPECT_EQ(Run({"--format", "mkv", "a.avi"}).exitCode, 2);
    EXPECT_EQ(Run({"--video-encoder", "No Such Encoder", "a.avi"}).exitCode, 2);
    const CliRun help = Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("--list-audio-formats"));

    // Nothing to convert; a nested missing folder is not created (one level only).
    const QString wav = Clip(Kind::WavPcm, 1.0);
    EXPECT_EQ(Run({"--format", "wav", "--out", m_out + "/a/b", wav}).exitCode, 1);
    EXPECT_FALSE(QDir(m_out).exists());
    EXPECT_EQ(Run({"--format", "wav", "--out", m_out, m_in + "/missing.wav"}).exitCode, 1);
}

TEST_F(CliTest, CtrlCStopsTheRunningClipAndStartsNoOther) {
    const QString first = Clip(Kind::Mpeg2Program, 3.0);
    const QString second = Clip(Kind::WavPcm, 1.0);
    QProcess process;
    Prepare(process, {"--format", "avi", "--out", m_out, first, second});
    process.start();
    ASSERT_TRUE(process.waitForStarted(10000));
    QByteArray out;
    const QDeadlineTimer deadline(60000);
    while (!out.contains("Converting file: ") && !deadline.hasExpired() &&
           process.state() == QProcess::Running) {
        process.waitForReadyRead(100);
        out += process.readAllStandardOutput();
    }
    ASSERT_TRUE(out.contains("Converting file: mpeg2_3s.mpg")) << out.toStdString();
    // Interrupt once the run writes (its temporary file grows), so that the stop meets a
    // running pipeline; a clip that completes first is allowed for below.
    auto writing = [&] {
        for (const QFileInfo& info : QDir(m_out).entryInfoList(QDir::Files | QDir::Hidden))
            if (info.size() > 0) return true;
        return false;
    };
    while (!writing() && !deadline.hasExpired() && process.state() == QProcess::Running) {
        process.waitForReadyRead(20);
        out += process.readAllStandardOutput();
    }
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(60000));
    out += process.readAllStandardOutput();
    const QString text = QString::fromUtf8(out);

    EXPECT_EQ(process.exitCode(), 130) << text.toStdString();
    EXPECT_TRUE(text.contains(" \u2022 Conversion stopped...\n"));
    EXPECT_TRUE(text.contains("pcm_1s.wav: Idle\n")) << text.toStdString();
    EXPECT_FALSE(text.contains("Converting file: pcm_1s.wav"));
    EXPECT_FALSE(QFile::exists(m_out + "/pcm_1s_converted.avi"));
    if (text.contains("mpeg2_3s.mpg: Stopped - ")) {
        // A stopped clip leaves nothing at its final name and the batch no finish line.
        EXPECT_FALSE(QFile::exists(m_out + "/mpeg2_3s_converted.avi"));
        EXPECT_FALSE(text.contains("finished")) << text.toStdString();
    } else {
        EXPECT_TRUE(text.contains("mpeg2_3s.mpg: Complete\n")) << text.toStdString();
    }
}
