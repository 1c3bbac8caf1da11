// Faults around a running batch, driven through kestrine-cli as a user would meet them: a full
// disk, a read-only or vanished output folder, a source that changes under the conversion,
// Ctrl-C at any moment, a file already at the destination, a destination that is the source
// through a link, and awkward file names. Whatever happens: no crash, no hang, a reason for
// every failure, no partial file at a final name, no source or earlier output destroyed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include "TestMedia.h"

using testmedia::Kind;

namespace {

constexpr int kRunLimitMs = 120000;

struct CliRun {
    int exitCode = -1;  // -1: crashed or killed
    bool finished = false;
    QString out;  // stdout and stderr, merged in order
};

QByteArray Digest(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// A mount for the test's lifetime; unmounted on destruction. Mounting needs privileges that a
// test machine may not grant: then Mounted() is false and the test skips.
class ScopedMount {
public:
    static ScopedMount Tmpfs(const QString& folder, const char* options) {
        ScopedMount m(folder);
        m.m_mounted = mount("tmpfs", m.m_folder.constData(), "tmpfs", 0, options) == 0;
        return m;
    }
    static ScopedMount ReadOnly(const QString& folder) {
        ScopedMount m(folder);
        if (mount(m.m_folder.constData(), m.m_folder.constData(), nullptr, MS_BIND, nullptr) != 0)
            return m;
        m.m_mounted = true;
        if (mount(nullptr, m.m_folder.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                  nullptr) != 0) {
            umount(m.m_folder.constData());
            m.m_mounted = false;
        }
        return m;
    }
    ScopedMount(ScopedMount&& other) noexcept
        : m_folder(other.m_folder), m_mounted(std::exchange(other.m_mounted, false)) {}
    ~ScopedMount() {
        if (m_mounted) umount2(m_folder.constData(), MNT_DETACH);
    }
    bool Mounted() const { return m_mounted; }

private:
    explicit ScopedMount(const QString& folder) : m_folder(QFile::encodeName(folder)) {}
    QByteArray m_folder;
    bool m_mounted = false;
};

class CliFaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_temp.isValid());
        m_in = m_temp.path() + "/in";
        m_out = m_temp.path() + "/out";
        ASSERT_TRUE(QDir().mkpath(m_in));
        ASSERT_TRUE(QDir().mkpath(m_out));
    }

    void Start(QProcess& process, const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", m_temp.path() + "/config");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(KESTRINE_CLI, args);
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    static CliRun Finish(QProcess& process, int timeoutMs = kRunLimitMs) {
        CliRun run;
        run.finished = process.waitForFinished(timeoutMs);
        if (!run.finished) {
            process.kill();
            process.waitForFinished(5000);
        }
        run.out = QString::fromUtf8(process.readAll());
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return run;
    }

    // Reads output until a line containing text has arrived; false on time-out or exit.
    static bool WaitForText(QProcess& process, const QString& text, QString& seen,
                            int timeoutMs = 60000) {
        QDeadlineTimer deadline(timeoutMs);
        while (!seen.contains(text)) {
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning) return false;
            process.waitForReadyRead(int(std::min<qint64>(200, deadline.remainingTime())));
            seen += QString::fromUtf8(process.readAll());
        }
        return true;
    }

    CliRun Run(const QStringList& args) {
        QProcess process;
        Start(process, args);
        CliRun run = Finish(process);
        EXPECT_TRUE(run.finished) << "kestrine-cli hung: " << args.join(' ').toStdString();
        EXPECT_NE(run.exitCode, -1) << "kestrine-cli crashed:\n" << run.out.toStdString();
        return run;
    }

    QString Clip(Kind kind, double seconds = 2.0) {
        QString path = testmedia::MakeClip(kind, m_in, seconds);
        EXPECT_FALSE(path.isEmpty());
        return path;
    }

    // A copy of a generated clip under another name in the input folder.
    QString ClipNamed(Kind kind, const QString& name, double seconds = 2.0) {
        QString made = Clip(kind, seconds);
        QString path = m_in + "/" + name;
        QFile::remove(path);
        EXPECT_TRUE(QFile::copy(made, path)) << name.toStdString();
        return path;
    }

    // The file's final status line ("<name>: <status>") in the output, or empty.
    static QString StatusOf(const CliRun& run, const QString& file) {
        const QString prefix = QFileInfo(file).fileName() + ": ";
        for (const QString& line : run.out.split('\n'))
            if (line.startsWith(prefix)) return line.mid(prefix.size()).trimmed();
        return {};
    }

    static QStringList WavArgs(const QString& out) {
        return {"--format", "wav", "--audio-encoder", "_Uncompressed_", "--out", out, "--"};
    }
    static QStringList MpegArgs(const QString& out) {
        return {"--format", "mpeg", "--mpeg-type", "DVD", "--standard", "PAL", "--out", out, "--"};
    }
    static QStringList AviArgs(const QString& out) {
        return {"--format",
                "avi",
                "--video-encoder",
                "_Uncompressed_",
                "--audio-encoder",
                "_Uncompressed_",
                "--out",
                out,
                "--"};
    }

    QTemporaryDir m_temp;
    QString m_in, m_out;
};

// The only files in folder are complete, decodable outputs named in complete.
void ExpectOnlyCompleteOutputs(const QString& folder, const QStringList& complete) {
    for (const QString& name : Entries(folder)) {
        EXPECT_TRUE(complete.contains(name)) << "left behind: " << name.toStdString();
        if (complete.contains(name))
            EXPECT_TRUE(testmedia::DecodesCleanly(folder + "/" + name)) << name.toStdString();
    }
}

}  // namespace

// A disk that fills up: the clip fails with the system's "No space left" text, its temporary
// file goes, and the batch goes on with the next clip, which fits.
TEST_F(CliFaultsTest, FullDiskFailsTheClipWithAReasonAndTheBatchContinues) {
    ScopedMount disk = ScopedMount::Tmpfs(m_out, "size=200k");
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    QString big = ClipNamed(Kind::WavPcm, "big.wav", 2.0);  // 384 KB as 48 kHz stereo PCM
    QString small = ClipNamed(Kind::Au, "small.au", 0.5);   // 96 KB as 48 kHz stereo PCM
    QByteArray bigDigest = Digest(big);

    CliRun run = Run(WavArgs(m_out) << big << small);
    EXPECT_EQ(StatusOf(run, big), "Error") << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("No space left")) << run.out.toStdString();
    EXPECT_EQ(StatusOf(run, small), "Complete") << run.out.toStdString();
    EXPECT_EQ(run.exitCode, 1);
    QStringList left = Entries(m_out);
    ASSERT_EQ(left.size(), 1) << left.join(", ").toStdString();
    EXPECT_TRUE(left[0].startsWith("small_"));
    ExpectOnlyCompleteOutputs(m_out, left);
    EXPECT_EQ(Digest(big), bigDigest);
}

// An output folder that takes no files is refused with the system's reason before any clip is
// converted: no clip starts, nothing is written, and the exit status is a failure. Tests run
// as root, for whom permission bits mean nothing, so the folder is a read-only bind mount, and
// a folder of root's is offered to the "nobody" user.
TEST_F(CliFaultsTest, ReadOnlyOutputFolderIsRefusedBeforeConverting) {
    QString clip = Clip(Kind::WavPcm, 1.0);
    auto expectRefused = [&](const CliRun& run, const QString& reason) {
        EXPECT_EQ(run.exitCode, 1) << run.out.toStdString();
        EXPECT_TRUE(run.out.contains("kestrine-cli: cannot write to " + m_out + ": " + reason))
            << run.out.toStdString();
        EXPECT_FALSE(run.out.contains("Converting file: ")) << run.out.toStdString();
        EXPECT_TRUE(StatusOf(run, clip).isEmpty()) << run.out.toStdString();
        EXPECT_TRUE(Entries(m_out).isEmpty()) << Entries(m_out).join(", ").toStdString();
    };
    {
        ScopedMount readOnly = ScopedMount::ReadOnly(m_out);
        if (!readOnly.Mounted()) GTEST_SKIP() << "cannot make a read-only bind mount here";
        SCOPED_TRACE("read-only mount");
        expectRefused(Run(WavArgs(m_out) << clip), "Read-only file system");
    }

    // The same folder, writable by root only, for another user.
    if (::geteuid() != 0) GTEST_SKIP() << "not root: cannot run as another user";
    SCOPED_TRACE("another user's folder");
    const QString home = m_temp.path() + "/nobody";
    ASSERT_TRUE(QDir().mkpath(home));
    ASSERT_EQ(::chown(QFile::encodeName(home).constData(), 65534, 65534), 0);
    // The clip must be readable for that user on its whole path.
    for (const QString& dir : {m_temp.path(), m_in, m_out})
        ASSERT_TRUE(QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                   QFileDevice::ExeOther));
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("XDG_CACHE_HOME", home + "/cache");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start("setpriv",
                  QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", KESTRINE_CLI}
                      << WavArgs(m_out) << clip);
    ASSERT_TRUE(process.waitForStarted(10000));
    CliRun run = Finish(process);
    ASSERT_TRUE(run.finished);
    expectRefused(run, "Permission denied");
}

// The output folder disappears after the first clip: the later clips fail with a reason and
// the batch ends normally.
TEST_F(CliFaultsTest, OutputFolderRemovedDuringTheBatchFailsTheLaterClips) {
    QString first = ClipNamed(Kind::WavPcm, "first.wav", 1.0);
    QString second = ClipNamed(Kind::WavPcm, "second.wav", 3.0);
    QString third = ClipNamed(Kind::Au, "third.au", 1.0);
    QProcess process;
    Start(process, WavArgs(m_out) << first << second << third);
    QString seen;
    ASSERT_TRUE(WaitForText(process, "first.wav: ", seen)) << seen.toStdString();
    // Held while the folder goes, so that a loaded machine cannot let the batch finish first;
    // moved away in one step (files may appear in it meanwhile), then deleted.
    const pid_t pid = pid_t(process.processId());
    ASSERT_EQ(::kill(pid, SIGSTOP), 0);
    const bool moved = QDir().rename(m_out, m_out + "-gone");
    const bool removed = moved && QDir(m_out + "-gone").removeRecursively();
    ::kill(pid, SIGCONT);
    ASSERT_TRUE(moved && removed);
    CliRun run = Finish(process);
    run.out = seen + run.out;
    ASSERT_TRUE(run.finished);
    ASSERT_NE(run.exitCode, -1) << run.out.toStdString();
    EXPECT_EQ(StatusOf(run, first), "Complete") << run.out.toStdString();
    // The second clip may already have been written before the folder went.
    for (const QString& later : {second, third}) {
        QString status = StatusOf(run, later);
        EXPECT_TRUE(status == "Error" || status == "Complete") << status.toStdString();
    }
    EXPECT_EQ(StatusOf(run, third), "Error") << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("No such file or directory")) << run.out.toStdString();
    EXPECT_FALSE(QFileInfo::exists(m_out));
}

// The source is deleted, or cut short, while it converts: the clip ends "Complete" or "Error",
// never hangs, and a complete output decodes.
TEST_F(CliFaultsTest, SourceDeletedOrTruncatedDuringConversion) {
    for (bool truncate : {false, true}) {
        SCOPED_TRACE(truncate ? "truncated" : "deleted");
        QString source = ClipNamed(Kind::AviMjpegPcm, truncate ? "cut.avi" : "gone.avi", 3.0);
        QProcess process;
        Start(process, AviArgs(m_out) << source);
        QString seen;
        ASSERT_TRUE(WaitForText(process, "Converting file: ", seen)) << seen.toStdString();
        if (truncate)
            ASSERT_TRUE(QFile::resize(source, QFileInfo(source).size() / 3));
        else
            ASSERT_TRUE(QFile::remove(source));
        CliRun run = Finish(process);
        run.out = seen + run.out;
        ASSERT_TRUE(run.finished) << "hung";
        ASSERT_NE(run.exitCode, -1) << run.out.toStdString();
        QString status = StatusOf(run, source);
        ASSERT_TRUE(status == "Complete" || status == "Error") << run.out.toStdString();
        ExpectOnlyCompleteOutputs(m_out, status == "Complete" ? Entries(m_out) : QStringList{});
        if (status == "Error") EXPECT_TRUE(Entries(m_out).isEmpty());
        QDir(m_out).removeRecursively();
        QDir().mkpath(m_out);
    }
}

// A file whose time stamps jump by a day after a few frames (a damaged time stamp, the header
// agreeing with it): every output format ends the clip where the jump is, in seconds rather than
// after a day of repeated frames and silence, as a complete file that says it is short.
TEST_F(CliFaultsTest, TimeStampJumpOfADayEndsTheClipWhereItJumps) {
    const QString source = m_in + "/jump.mkv";
    ASSERT_EQ(testmedia::RunFfmpeg({"-t",        "3",
                                    "-f",        "lavfi",
                                    "-i",        "testsrc=size=320x240:rate=25",
                                    "-t",        "3",
                                    "-f",        "lavfi",
                                    "-i",        "sine=frequency=440:sample_rate=32000",
                                    "-vf",       "setpts='if(gte(N,10),PTS+86400/TB,PTS)'",
                                    "-af",       "asetpts='if(gte(T,0.4),PTS+86400/TB,PTS)'",
                                    "-fps_mode", "passthrough",
                                    "-c:v",      "mjpeg",
                                    "-c:a",      "pcm_s16le",
                                    source}),
              0);
    const struct {
        QStringList args;
        QString output;
    } formats[] = {
        {AviArgs(m_out), "jump_converted.avi"},
        {{"--format", "mpeg", "--mpeg-type", "VCD", "--standard", "PAL", "--out", m_out, "--"},
         "jump_converted.mpg"},
        {WavArgs(m_out), "jump_converted.wav"},
    };
    for (const auto& format : formats) {
        CliRun run = Run(QStringList(format.args) << source);
        ASSERT_TRUE(run.finished) << format.output.toStdString();
        EXPECT_EQ(StatusOf(run, source), "Complete") << run.out.toStdString();
        EXPECT_TRUE(run.out.contains("warning: jump.mkv: the output is")) << run.out.toStdString();
        EXPECT_EQ(Entries(m_out), QStringList{format.output});
        const testmedia::ProbeResult written = testmedia::Probe(m_out + "/" + format.output);
        EXPECT_TRUE(written.ok);
        // The frames before the jump, and at most the second a frame-rate stage adds to close a
        // stream.
        EXPECT_GT(written.duration, 0.3) << format.output.toStdString();
        EXPECT_LT(written.duration, 3.0) << format.output.toStdString();
        QFile::remove(m_out + "/" + format.output);
    }
}

// Ctrl-C, SIGTERM (a session ending, `timeout`) and SIGHUP (a closed terminal) at random
// moments: the program stops within a second, the running clip is "Stopped", the exit status
// names the signal, and nothing is left at its final name nor as a temporary file; the file
// already at the destination survives. A later complete run replaces it.
TEST_F(CliFaultsTest, InterruptAtRandomMomentsStopsPromptlyAndKeepsTheOldFile) {
    // Long enough that most moments fall inside the run even on a fast machine.
    QString source = ClipNamed(Kind::AviMjpegPcm, "clip.avi", 8.0);
    QByteArray sourceDigest = Digest(source);
    const QString destination = m_out + "/clip_converted.mpg";
    QRandomGenerator rng(1208);
    const int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};
    int stopped = 0;
    for (int round = 0; round < 6; ++round) {
        const int signal = stopSignals[round % 3];
        QFile old(destination);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly | QIODevice::Truncate));
        old.write("an earlier conversion");
        old.close();
        QProcess process;
        Start(process, MpegArgs(m_out) << source);
        QString seen;
        ASSERT_TRUE(WaitForText(process, "Converting file: ", seen)) << seen.toStdString();
        // Somewhere between the start of the run and its end, start-up included (an 8 s clip
        // takes about half a second as DVD video on a quiet machine).
        process.waitForFinished(int(rng.bounded(300)));
        if (process.state() == QProcess::NotRunning) continue;
        ASSERT_EQ(::kill(pid_t(process.processId()), signal), 0);
        CliRun run = Finish(process, 1000 + 2000);  // a second, and slack for a loaded machine
        run.out = seen + run.out;
        ASSERT_TRUE(run.finished) << "did not stop after signal " << signal;
        QString status = StatusOf(run, source);
        if (status == "Complete") continue;  // finished before the signal was handled
        ++stopped;
        EXPECT_TRUE(status.startsWith("Stopped - ")) << run.out.toStdString();
        EXPECT_EQ(run.exitCode, 128 + signal);
        EXPECT_EQ(Entries(m_out), QStringList{"clip_converted.mpg"});
        QFile kept(destination);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), "an earlier conversion");
    }

    CliRun complete = Run(MpegArgs(m_out) << source);
    EXPECT_EQ(StatusOf(complete, source), "Complete") << complete.out.toStdString();
    EXPECT_EQ(Entries(m_out), QStringList{"clip_converted.mpg"});
    EXPECT_TRUE(testmedia::DecodesCleanly(destination));
    EXPECT_NEAR(testmedia::Probe(destination).duration, 8.0, 0.5);
    EXPECT_EQ(Digest(source), sourceDigest);
    // A signal during start-up must stop the run too, so most rounds end stopped.
    EXPECT_GT(stopped, 0);
}

// A failing conversion (a damaged source) keeps the file already at the destination.
TEST_F(CliFaultsTest, FailedConversionKeepsTheFileAtTheDestination) {
    QString made = Clip(Kind::Mpeg1System, 2.0);
    QString source = m_in + "/damaged.mpg";
    {
        QFile in(made), out(source);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        QByteArray bytes = in.readAll();
        // A valid start followed by noise: accepted by the probe, fails while decoding, or
        // converts what it can.
        for (qsizetype i = bytes.size() / 4; i < bytes.size(); ++i)
            bytes[i] = char(QRandomGenerator::global()->bounded(256));
        out.write(bytes);
    }
    const QString destination = m_out + "/damaged_converted.avi";
    QFile old(destination);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an earlier conversion");
    old.close();
    CliRun run = Run(AviArgs(m_out) << source);
    QString status = StatusOf(run, source);
    if (status == "Complete") {
        EXPECT_TRUE(testmedia::DecodesCleanly(destination));
    } else {
        QFile kept(destination);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), "an earlier conversion") << run.out.toStdString();
    }
    EXPECT_EQ(Entries(m_out), QStringList{"damaged_converted.avi"});
}

// The destination is the source itself through a link in the output folder: a symbolic link
// or a hard link named like the output. The clip is refused by file identity and the source
// stays as it was.
TEST_F(CliFaultsTest, DestinationThatIsTheSourceThroughALinkIsRefused) {
    QString source = ClipNamed(Kind::WavPcm, "tone.wav", 1.0);
    QByteArray digest = Digest(source);
    const QString destination = m_out + "/tone_converted.avi";
    for (bool hard : {false, true}) {
        SCOPED_TRACE(hard ? "hard link" : "symbolic link");
        QFile::remove(destination);
        if (hard)
            ASSERT_EQ(::link(QFile::encodeName(source), QFile::encodeName(destination)), 0);
        else
            ASSERT_TRUE(QFile::link(source, destination));
        CliRun run = Run(AviArgs(m_out) << source);
        EXPECT_EQ(StatusOf(run, source), "Error") << run.out.toStdString();
        EXPECT_TRUE(run.out.contains("would replace the source file")) << run.out.toStdString();
        EXPECT_EQ(Digest(source), digest);
        EXPECT_EQ(Entries(m_out), QStringList{"tone_converted.avi"});
    }
}

// Names that break naive command lines, URIs or file systems convert like any other: spaces,
// '#', '%', a leading dash, non-ASCII letters and a name at the file system's length limit.
TEST_F(CliFaultsTest, AwkwardFileNamesConvert) {
    const QStringList names = {
        "-starts with a dash.wav",
        "track #1 100% done.wav",
        "%20 and %%.wav",
        QString::fromUtf8("Grüße – 日本語.wav"),
        QString(240, QChar('l')) + ".wav",
    };
    QStringList sources;
    for (const QString& name : names) sources << ClipNamed(Kind::WavMono22k, name, 1.0);
    CliRun run = Run(WavArgs(m_out) << sources);
    for (const QString& source : sources)
        EXPECT_EQ(StatusOf(run, source), "Complete") << source.toStdString() << "\n"
                                                     << run.out.toStdString();
    EXPECT_EQ(run.exitCode, 0);
    QStringList written = Entries(m_out);
    EXPECT_EQ(written.size(), names.size()) << written.join(" | ").toStdString();
    for (const QString& name : written) {
        EXPECT_LE(QFile::encodeName(name).size(), 255);
        EXPECT_NEAR(testmedia::Probe(m_out + "/" + name).duration, 1.0, 0.1) << name.toStdString();
    }
    for (const QString& name : names.mid(0, 4)) {
        const QString base = QFileInfo(name).completeBaseName() + "_";
        EXPECT_TRUE(std::any_of(written.begin(), written.end(), [&](const QString& w) {
            return w.startsWith(base);
        })) << name.toStdString();
    }
}
