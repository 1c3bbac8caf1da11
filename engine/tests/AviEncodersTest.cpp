// AVI output with every offered video encoder, on clips long enough to pass the encoders'
// latency, with compressed audio beside the video.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstdio>

#include "EncoderDiscovery.h"
#include "EngineTestSupport.h"

using namespace enginetest;

namespace {

// What ffprobe reads from a written AVI: counted and stated lengths, packet order.
struct AviFacts {
    qint64 videoFrames = -1;          // decoded frames
    double videoDuration = 0;         // stated by the stream header, seconds
    double audioDuration = 0;         // stated by the stream header, seconds
    double audioDecoded = 0;          // samples decoded / sample rate, seconds
    bool videoTimesIncrease = false;  // every video packet later than the one before
};

double Number(const QString& text) {
    return text.trimmed().toDouble();
}

AviFacts ReadAvi(const QString& path) {
    AviFacts facts;
    QString out;
    testmedia::RunProgram(
        "ffprobe",
        {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
         "stream=nb_read_frames,duration", "-of", "default=nw=1", path},
        &out);
    for (const QString& line : out.split('\n')) {
        if (line.startsWith("nb_read_frames=")) facts.videoFrames = line.mid(15).toLongLong();
        if (line.startsWith("duration=")) facts.videoDuration = Number(line.mid(9));
    }
    testmedia::RunProgram("ffprobe",
                          {"-v", "error", "-select_streams", "a:0", "-show_entries",
                           "stream=duration", "-of", "default=nw=1:nk=1", path},
                          &out);
    facts.audioDuration = Number(out);
    // The audio as decoded: the sum of the decoded frames' lengths.
    testmedia::RunProgram("ffprobe",
                          {"-v", "error", "-select_streams", "a:0", "-show_entries",
                           "frame=nb_samples", "-of", "csv=p=0", path},
                          &out);
    qint64 samples = 0;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts))
        samples += line.trimmed().toLongLong();
    testmedia::RunProgram("ffprobe",
                          {"-v", "error", "-select_streams", "a:0", "-show_entries",
                           "stream=sample_rate", "-of", "default=nw=1:nk=1", path},
                          &out);
    if (Number(out) > 0) facts.audioDecoded = samples / Number(out);
    testmedia::RunProgram("ffprobe",
                          {"-v", "error", "-select_streams", "v:0", "-show_entries",
                           "packet=pts_time,dts_time", "-of", "csv=p=0", path},
                          &out);
    double previous = -1;
    int packets = 0;
    facts.videoTimesIncrease = true;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        const QStringList f = line.split(',');
        const QString stamp =
            f.value(1) != "N/A" && !f.value(1).isEmpty() ? f.value(1) : f.value(0);
        if (stamp == "N/A" || stamp.isEmpty()) {
            facts.videoTimesIncrease = false;
            break;
        }
        const double t = Number(stamp);
        if (t <= previous) facts.videoTimesIncrease = false;
        previous = t;
        ++packets;
    }
    if (packets == 0) facts.videoTimesIncrease = false;
    return facts;
}

class AviEncoders : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(InitMediaFramework(), S_OK); }
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    // A WMV2 + WMA2 clip of the given size and length, as a user's camera or download gives.
    QString Source(const char* size, int seconds) {
        const QString path = m_dir.filePath(QString("source_%1_%2.wmv").arg(size).arg(seconds));
        const QString length = QString::number(seconds);
        EXPECT_EQ(testmedia::RunFfmpeg(
                      {"-f", "lavfi", "-i",
                       QString("testsrc2=size=%1:rate=25:duration=%2").arg(size, length), "-f",
                       "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=" + length,
                       "-ac", "2", "-c:v", "wmv2", "-b:v", "1500k", "-c:a", "wmav2", path}),
                  0);
        return path;
    }

    // The first MP3 format offered, which a new user gets: 320 kb/s at 48 kHz from 44.1 kHz.
    static WaveFormat Mp3() {
        WaveFormat mp3 = Pcm(48000, 2);
        mp3.formatTag = kFormatTagMp3;
        mp3.bitsPerSample = 0;
        mp3.blockAlign = 1;
        mp3.avgBytesPerSec = 40000;
        mp3.encoderCaps = "audio/mpeg, mpegversion=1, layer=3, rate=48000, channels=2";
        mp3.encoderProperties = {{"target", "bitrate"}, {"bitrate", "320"}, {"cbr", "true"}};
        return mp3;
    }

    HRESULT Convert(const QString& source, const QString& dest, ConversionSettings& settings) {
        CProjectItem clip = ClipFor(source);
        m_last = m_host.ConvertClip(dest.toStdString(), clip, settings);
        return m_last.code;
    }

    // The written file holds every frame of the clip at 25 fps, states the length it holds for
    // both streams, and its video packets come in time order.
    void ExpectWholeClip(const QString& source, const QString& dest, const std::string& what) {
        const double seconds = testmedia::Probe(source).duration;
        const AviFacts f = ReadAvi(dest);
        EXPECT_NEAR(double(f.videoFrames), seconds * 25, 1.0) << what;
        EXPECT_NEAR(f.videoDuration, seconds, 0.04 + 1e-6) << what;
        EXPECT_TRUE(f.videoTimesIncrease) << what;
        // WMA states about a tenth of a second more than it decodes to.
        EXPECT_NEAR(f.audioDecoded, seconds, 0.15) << what;
        // The stream header states the length the stream holds, within one MP3 frame.
        EXPECT_NEAR(f.audioDuration, f.audioDecoded, 1152.0 / 48000 + 1e-6) << what;
    }

    QTemporaryDir m_dir;
    FakeWindow m_window;
    CConversionHost m_host{m_window};
    ClipResult m_last;  // the last Convert's result
};

// x264 holds about two seconds of frames before its first output: the audio beside it must not
// fill the pipeline and stop the video's end from coming.
TEST_F(AviEncoders, HighLatencyVideoEncoderFinishesBesideCompressedAudio) {
    ConversionSettings settings = SettingsFor(Avi, "320", "240", "25");
    settings.videoEncoder = Make("x264enc");
    settings.audioEncoder = Make("lamemp3enc");
    ASSERT_TRUE(settings.videoEncoder && settings.audioEncoder);
    settings.audioFormat = Mp3();
    const QString dest = m_dir.filePath("x264.avi");
    const QString source = Source("640x480", 5);
    ASSERT_EQ(Convert(source, dest, settings), S_OK) << m_last.reason;
    ExpectWholeClip(source, dest, "x264enc");
    EXPECT_TRUE(testmedia::DecodesCleanly(dest));
}

// Every video encoder the settings offer writes the whole clip with MP3 beside it.
TEST_F(AviEncoders, EveryOfferedVideoEncoderWritesTheWholeClip) {
    QTemporaryDir cache;
    SetEncoderCacheFolder(cache.path().toStdString());
    const std::vector<EncoderEntry> offered = VerifiedEncoders(EncoderCategory::AviVideo);
    SetEncoderCacheFolder({});
    std::vector<std::string> names;
    for (const EncoderEntry& e : offered) names.push_back(e.factoryName);
    // The classic AVI codecs and the common modern ones are among them.
    for (const char* expected : {"avenc_mpeg4", "x264enc", "vp8enc"})
        EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;

    const QString source = Source("320x240", 10);
    // What the codec libraries print while they work (OpenH264's complaint when it is drained at
    // the end) must not reach the user's screen: the conversions' error stream stays empty.
    std::FILE* seen = std::tmpfile();
    ASSERT_TRUE(seen);
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(fileno(seen), STDERR_FILENO);
    for (const EncoderEntry& e : offered) {
        ConversionSettings settings = SettingsFor(Avi, "160", "120", "25");
        settings.videoEncoder = Make(e.factoryName.c_str());
        settings.audioEncoder = Make("lamemp3enc");
        settings.audioFormat = Mp3();
        const QString dest = m_dir.filePath(QString::fromStdString(e.factoryName) + ".avi");
        ASSERT_EQ(Convert(source, dest, settings), S_OK) << e.factoryName << ": " << m_last.reason;
        ExpectWholeClip(source, dest, e.factoryName);
    }
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    std::rewind(seen);
    std::string printed;
    for (int c = std::fgetc(seen); c != EOF; c = std::fgetc(seen)) printed += char(c);
    std::fclose(seen);
    EXPECT_EQ(printed, "");
}

}  // namespace
