#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "ClipProbe.h"
#include "ProjectItem.h"
#include "TestMedia.h"

using testmedia::Kind;

namespace {

struct Probed {
    HRESULT hr = E_FAIL;
    CProjectItem clip;
    std::string error;
};

Probed ProbeFile(const QString& path) {
    Probed result;
    result.clip.SetPath(path.toStdString());
    result.clip.SetName(path.section('/', -1).toStdString());
    CClipProbe probe;
    EXPECT_EQ(probe.MessageBase(), 101);
    result.hr = probe.Probe(result.clip);
    result.error = probe.RenderErrorText();
    return result;
}

struct Expected {
    const char* name;
    Kind kind;
    const char* video;  // nullptr: no video
    int width, height;
    const char* audio;  // nullptr: no audio
    unsigned rate;
    unsigned bits;
    int mono;
    double frameSeconds;  // allowed duration error
};

void PrintTo(const Expected& e, std::ostream* os) {
    *os << e.name;
}

class ProbeGenerated : public ::testing::TestWithParam<Expected> {
protected:
    static void SetUpTestSuite() { s_dir = new QTemporaryDir; }
    static void TearDownTestSuite() { delete s_dir; }
    static QTemporaryDir* s_dir;
};
QTemporaryDir* ProbeGenerated::s_dir = nullptr;

}  // namespace

TEST_P(ProbeGenerated, DescribesSizeDurationAndCodings) {
    const Expected& e = GetParam();
    const QString path = testmedia::MakeClip(e.kind, s_dir->path(), 2.0);
    ASSERT_FALSE(path.isEmpty());
    const testmedia::ProbeResult truth = testmedia::Probe(path);
    ASSERT_TRUE(truth.ok);

    Probed p = ProbeFile(path);
    ASSERT_EQ(p.hr, S_OK) << p.error;
    const CProjectItem& clip = p.clip;
    EXPECT_NEAR(clip.GetDuration() / 1e7, truth.duration, e.frameSeconds);
    EXPECT_EQ(clip.GetMediaStop(), clip.GetDuration());
    if (e.video) {
        EXPECT_EQ(clip.GetHasVideo(), 1);
        EXPECT_EQ(clip.GetWidth(), e.width);
        EXPECT_EQ(clip.GetHeight(), e.height);
        EXPECT_EQ(clip.GetVideoCodec(), e.video);
    } else {
        EXPECT_EQ(clip.GetHasVideo(), 0);
        EXPECT_EQ(clip.FrameSizeText(), "0x0");
        EXPECT_EQ(clip.GetVideoCodec(), "");
    }
    if (e.audio) {
        EXPECT_EQ(clip.GetHasAudio(), 1);
        EXPECT_EQ(clip.GetAudioStreams(), 1);
        EXPECT_EQ(clip.GetAudioCodec(), e.audio);
        const AudioParams params = clip.GetAudioParams();
        EXPECT_EQ(params.sampleRate, e.rate);
        EXPECT_EQ(params.bitsPerSample, e.bits);
        EXPECT_EQ(params.mono, e.mono);
        EXPECT_EQ(params.formatTag, 0xFFFF);
        EXPECT_EQ(params.formatIndex, -1);
    } else {
        EXPECT_EQ(clip.GetHasAudio(), 0);
        EXPECT_EQ(clip.GetAudioStreams(), 0);
        EXPECT_EQ(clip.GetAudioParams(), CProjectItem::NoAudioParams());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ProbeGenerated,
    ::testing::Values(
        Expected{"AviMjpegPcm", Kind::AviMjpegPcm, "MJPG", 176, 144, "PCM", 22050, 16, 1, 1 / 15.0},
        Expected{"AviMpeg4Mp3", Kind::AviMpeg4Mp3, "XVID", 320, 240, "MP3", 44100, 0, 1, 0.04},
        Expected{"AviRawRgb", Kind::AviRawVideo, "", 160, 120, nullptr, 0, 0, 0, 0.1},
        Expected{"Mpeg1System", Kind::Mpeg1System, "MPEG1", 352, 288, "MPEG1", 44100, 0, 1, 0.04},
        Expected{"Mpeg2Program", Kind::Mpeg2Program, "MPEG2", 720, 576, "MPEG2", 48000, 0, 1, 0.04},
        // The program stream demultiplexer takes the duration from the pack clock, which
        // falls short of the last AC-3 frame in this short file.
        Expected{"DvdVob", Kind::Vob, "MPEG2", 720, 576, "Unknown", 48000, 0, 1, 0.2},
        // ffprobe adds the ASF preroll; the streams themselves last 2.046 s.
        Expected{"Wmv", Kind::Wmv, "WMV2", 320, 240, "Windows media", 44100, 16, 1, 0.05},
        Expected{"WavStereo", Kind::WavPcm, nullptr, 0, 0, "PCM", 44100, 16, 0, 0.001},
        Expected{"WavMono", Kind::WavMono22k, nullptr, 0, 0, "PCM", 22050, 16, 1, 0.001},
        Expected{"Mp3", Kind::Mp3, nullptr, 0, 0, "MP3", 44100, 0, 0, 0.03},
        Expected{"SunAu", Kind::Au, nullptr, 0, 0, "Unknown", 8000, 8, 1, 0.001},
        Expected{"AdtsAac", Kind::Aac, nullptr, 0, 0, "Unknown", 44100, 0, 1, 0.03}),
    [](const ::testing::TestParamInfo<Expected>& info) { return std::string(info.param.name); });

namespace {

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A rejected file names itself in the message the user sees.
void ExpectRejected(const Probed& p, const char* name) {
    EXPECT_TRUE(FAILED(p.hr)) << name;
    const std::string tail = std::string(" File: ") + name;
    ASSERT_GE(p.error.size(), tail.size()) << name;
    EXPECT_EQ(p.error.substr(p.error.size() - tail.size()), tail);
    EXPECT_GT(p.error.size(), tail.size()) << "no framework text for " << name;
}

}  // namespace

TEST(ClipProbe, RejectsFilesThatAreNotMediaWithAMessageNamingThem) {
    QTemporaryDir dir;
    WriteBytes(dir.path() + "/empty.avi", QByteArray());
    QByteArray noise(64 * 1024, 0);
    quint32 seed = 12345;
    for (char& c : noise) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 24);
    }
    WriteBytes(dir.path() + "/noise.mpg", noise);
    WriteBytes(dir.path() + "/notes.avi", QByteArray("Shopping list\nmilk\neggs\n").repeated(200));
    ASSERT_EQ(mkfifo((dir.path() + "/pipe.avi").toLocal8Bit().constData(), 0600), 0);
    QDir(dir.path()).mkdir("folder.avi");

    for (const char* name :
         {"empty.avi", "noise.mpg", "notes.avi", "gone.avi", "pipe.avi", "folder.avi"}) {
        const Probed p = ProbeFile(dir.path() + "/" + name);
        ExpectRejected(p, name);
        EXPECT_EQ(p.clip.GetDuration(), 0) << name;
    }
    if (geteuid() != 0) {  // root reads everything
        const QString locked = dir.path() + "/locked.wav";
        QFile::copy(testmedia::MakeClip(Kind::WavPcm, dir.path(), 1.0), locked);
        QFile::setPermissions(locked, QFileDevice::Permissions());
        ExpectRejected(ProbeFile(locked), "locked.wav");
    }
}

TEST(ClipProbe, DamagedMediaIsRejectedOrReadSanely) {
    QTemporaryDir dir;
    for (Kind kind : {Kind::AviMjpegPcm, Kind::Mpeg2Program, Kind::Mp3}) {
        const QString good = testmedia::MakeClip(kind, dir.path(), 2.0);
        ASSERT_FALSE(good.isEmpty());
        const QByteArray bytes = ReadAll(good);
        const QString ext = good.section('.', -1);

        QByteArray flipped = bytes;
        for (qsizetype i = 7; i < flipped.size(); i += 997)
            flipped[i] = static_cast<char>(~flipped[i]);
        const QList<std::pair<QString, QByteArray>> damaged = {
            {"head." + ext, bytes.left(200)},
            {"half." + ext, bytes.left(bytes.size() / 2)},
            {"flipped." + ext, flipped},
        };
        for (const auto& [name, content] : damaged) {
            const QString path = dir.path() + "/" + name;
            WriteBytes(path, content);
            const Probed p = ProbeFile(path);
            const std::string label = name.toStdString();
            if (FAILED(p.hr)) {
                ExpectRejected(p, label.c_str());
            } else {
                // Accepted: the facts must still be plausible for what is left of the file.
                EXPECT_GE(p.clip.GetDuration(), 0) << label;
                EXPECT_LE(p.clip.GetDuration(), 3 * kRefTimePerSecond) << label;
                EXPECT_GE(p.clip.GetWidth(), 0) << label;
                EXPECT_LE(p.clip.GetWidth(), 4096) << label;
            }
        }
    }
}

// A file cut short before the demultiplexer has its header is refused for what is wrong with it,
// not because the probe's time limit ran out while nothing more would ever come.
TEST(ClipProbe, TruncatedAviIsRefusedForItsDamageNotForTime) {
    QTemporaryDir dir;
    const QByteArray bytes = ReadAll(testmedia::MakeClip(Kind::AviMjpegPcm, dir.path(), 1.0));
    ASSERT_GT(bytes.size(), 4096);
    // 0 and 4 bytes; inside the RIFF header, the header list and the first stream header.
    for (int size : {0, 4, 12, 28, 100, 600, 2000}) {
        const std::string name = "cut" + std::to_string(size) + ".avi";
        WriteBytes(dir.path() + "/" + QString::fromStdString(name), bytes.left(size));
        const Probed p = ProbeFile(dir.path() + "/" + QString::fromStdString(name));
        ExpectRejected(p, name.c_str());
        EXPECT_EQ(p.error.find("within"), std::string::npos) << p.error;
        if (size == 0) EXPECT_EQ(p.error, "The file is empty. File: " + name);
    }
}

TEST(ClipProbe, CountsAudioStreamsAndKeepsTheLastOnesFormat) {
    QTemporaryDir dir;
    // Two audio streams: 8 kHz stereo first, 22.05 kHz mono last.
    const QString twoTracks = dir.path() + "/two.avi";
    ASSERT_EQ(testmedia::RunFfmpeg({"-f",      "lavfi", "-i",      "testsrc=size=160x120:rate=10",
                                    "-f",      "lavfi", "-i",      "sine=sample_rate=8000",
                                    "-f",      "lavfi", "-i",      "sine=sample_rate=22050",
                                    "-map",    "0",     "-map",    "1",
                                    "-map",    "2",     "-t",      "1",
                                    "-c:v",    "mjpeg", "-c:a",    "pcm_s16le",
                                    "-ac:a:0", "2",     "-ac:a:1", "1",
                                    twoTracks}),
              0);
    Probed p = ProbeFile(twoTracks);
    ASSERT_EQ(p.hr, S_OK) << p.error;
    EXPECT_EQ(p.clip.GetAudioStreams(), 2);
    EXPECT_EQ(p.clip.GetAudioCodec(), "PCM");
    EXPECT_EQ(p.clip.GetAudioParams(), (AudioParams{22050, 16, 1, 0xFFFF, -1}));

    // DVD LPCM names itself and leaves the audio format alone.
    const QString lpcm = dir.path() + "/lpcm.vob";
    ASSERT_EQ(testmedia::RunFfmpeg({"-f", "lavfi", "-i", "testsrc=size=352x288:rate=25", "-f",
                                    "lavfi", "-i", "sine=sample_rate=48000", "-t", "1", "-c:v",
                                    "mpeg2video", "-c:a", "pcm_s16be", "-f", "vob", lpcm}),
              0);
    p = ProbeFile(lpcm);
    ASSERT_EQ(p.hr, S_OK) << p.error;
    EXPECT_EQ(p.clip.GetVideoCodec(), "MPEG2");
    EXPECT_EQ(p.clip.GetAudioCodec(), "DVD_LPCM");
    EXPECT_EQ(p.clip.GetAudioStreams(), 1);
    EXPECT_EQ(p.clip.GetHasAudio(), 1);
    EXPECT_EQ(p.clip.GetAudioParams(), CProjectItem::NoAudioParams());

    // The two ADPCM flavours of WAV.
    for (auto [codec, text] :
         {std::pair{"adpcm_ms", "ADPCM"}, std::pair{"adpcm_ima_wav", "IMA ADPCM"}}) {
        const QString wav = dir.path() + "/" + codec + ".wav";
        ASSERT_EQ(testmedia::RunFfmpeg({"-f", "lavfi", "-i", "sine=sample_rate=22050", "-t", "1",
                                        "-c:a", codec, wav}),
                  0);
        p = ProbeFile(wav);
        ASSERT_EQ(p.hr, S_OK) << p.error;
        EXPECT_EQ(p.clip.GetAudioCodec(), text);
        EXPECT_EQ(p.clip.GetAudioParams(), (AudioParams{22050, 4, 1, 0xFFFF, -1}));
    }
}
