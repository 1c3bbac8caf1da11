// Audio time stamps of written MPEG files: every preset with awkward input rates and lengths, and
// the mending of DVD audio packs whose AC-3 frame headers libavformat splits.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>

#include "DvdAudioPacking.h"
#include "MediaFramework.h"
#include "TestMedia.h"
#include "WriterPipeline.h"

using namespace writertest;

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The AC-3 elementary stream of a program stream: the payloads of private stream 1 sub-streams
// 0x80-0x87, in file order.
QByteArray Ac3Stream(const QByteArray& file) {
    QByteArray out;
    auto at = [&](qsizetype i) { return i < file.size() ? int(quint8(file[i])) : -1; };
    qsizetype i = 0;
    while (i + 6 <= file.size()) {
        if (at(i) != 0 || at(i + 1) != 0 || at(i + 2) != 1) {
            ++i;
            continue;
        }
        const int id = at(i + 3);
        if (id == 0xBA) {
            i += 14 + (at(i + 13) & 7);
            continue;
        }
        const qsizetype end = i + 6 + ((at(i + 4) << 8) | at(i + 5));
        if (id == 0xBD) {
            const qsizetype payload = i + 9 + at(i + 8);
            if ((at(payload) & 0xF8) == 0x80) out += file.mid(payload + 4, end - payload - 4);
        }
        i = end;
    }
    return out;
}

// Number of audio packets ffmpeg reads from path.
int AudioPackets(const QString& path) {
    QString out;
    testmedia::RunProgram("ffprobe",
                          {"-v", "error", "-select_streams", "a:0", "-count_packets",
                           "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", path},
                          &out);
    return out.trimmed().toInt();
}

class MpegAudioTimestampsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(InitMediaFramework(), S_OK);
        ASSERT_TRUE(HasElementFactory("kestrinempegwriter"));
        ASSERT_TRUE(m_dir.isValid());
    }
    QTemporaryDir m_dir;
};

struct RateCase {
    int preset;
    int width, height;
    const char* frameRate;
    int videoFrames;
    int rate, channels;  // the audio as it reaches the writer, resampled there
    int samplesPerBuffer, buffers;
    double frameSeconds;  // one coded audio frame of the preset
};

class PresetAudioTest : public MpegAudioTimestampsTest,
                        public ::testing::WithParamInterface<RateCase> {};

// Lengths that are no whole number of coded audio frames, at rates the writer resamples: the last
// partial frame is written once, time stamps rise throughout, and the audio lasts as long as the
// input.
TEST_P(PresetAudioTest, WritesRisingTimestampsAndTheWholeLength) {
    const RateCase& c = GetParam();
    const QString path = m_dir.filePath("timing.mpg");
    GstElementPtr pipeline(gst_pipeline_new("test"));
    GstElement* writer = gst_element_factory_make("kestrinempegwriter", nullptr);
    g_object_set(writer, "preset", c.preset, "location", path.toUtf8().constData(), nullptr);
    gst_bin_add(GST_BIN(pipeline.get()), writer);
    const std::string videoCaps = "video/x-raw,format=I420,width=" + std::to_string(c.width) +
                                  ",height=" + std::to_string(c.height) +
                                  ",framerate=" + c.frameRate;
    const std::string audioSource =
        "audiotestsrc wave=sine samplesperbuffer=" + std::to_string(c.samplesPerBuffer);
    const std::string audioCaps =
        "audio/x-raw,format=S16LE,layout=interleaved,rate=" + std::to_string(c.rate) +
        ",channels=" + std::to_string(c.channels);
    ASSERT_TRUE(AddBranch(pipeline.get(), "videotestsrc", c.videoFrames, videoCaps.c_str(), "",
                          writer, "Video Input"));
    ASSERT_TRUE(AddBranch(pipeline.get(), audioSource.c_str(), c.buffers, audioCaps.c_str(), "",
                          writer, "Audio Input"));
    RunResult run = RunToEnd(pipeline.get());
    ASSERT_TRUE(run.eos) << run.error;

    const double seconds = double(c.samplesPerBuffer) * c.buffers / c.rate;
    EXPECT_TRUE(testmedia::DecodesCleanly(path));
    testmedia::ProbeResult probe = testmedia::Probe(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_NEAR(probe.duration, seconds, 0.1);
    // Whole frames up to the input's end: the last one partly silence, none beyond it.
    const int expectedFrames = int(std::ceil(seconds / c.frameSeconds - 1e-6));
    EXPECT_GE(AudioPackets(path), expectedFrames);
    EXPECT_LE(AudioPackets(path), expectedFrames + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Presets, PresetAudioTest,
    ::testing::Values(RateCase{0, 176, 144, "15/1", 21, 22050, 1, 1000, 31, 1152.0 / 48000},
                      RateCase{1, 352, 288, "25/1", 35, 8000, 1, 333, 33, 1152.0 / 44100},
                      RateCase{2, 320, 240, "25/1", 35, 48000, 2, 1024, 65, 1152.0 / 48000},
                      RateCase{3, 480, 576, "25/1", 35, 22050, 1, 1000, 31, 1152.0 / 44100},
                      RateCase{4, 720, 576, "25/1", 35, 22050, 1, 1000, 31, 1536.0 / 48000},
                      RateCase{5, 352, 240, "30000/1001", 42, 44100, 2, 1000, 61, 1152.0 / 44100},
                      RateCase{6, 480, 480, "30000/1001", 42, 48000, 2, 1000, 67, 1152.0 / 44100},
                      RateCase{7, 720, 480, "30000/1001", 42, 8000, 1, 333, 33, 1536.0 / 48000}),
    [](const ::testing::TestParamInfo<RateCase>& info) {
        return "Preset" + std::to_string(info.param.preset) + "From" +
               std::to_string(info.param.rate) + "Hz";
    });

// A DVD file as libavformat writes it (here by ffmpeg itself, at 160 kb/s so that a frame header
// is split within 3 s) repeats an audio time stamp when read back; mended, it reads cleanly and
// carries the very same AC-3 bytes.
TEST_F(MpegAudioTimestampsTest, MendingDvdPacksKeepsTheAudioAndFixesTheTimestamps) {
    const QString path = m_dir.filePath("split.mpg");
    ASSERT_EQ(
        testmedia::RunFfmpeg({"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25", "-f", "lavfi",
                              "-i", "sine=frequency=330:sample_rate=48000", "-t", "3", "-target",
                              "pal-dvd", "-s", "176x144", "-b:v", "300k", "-b:a", "160k", path}),
        0);
    const QByteArray before = ReadAll(path);
    ASSERT_FALSE(testmedia::DecodesCleanly(path)) << "the clip no longer splits a frame header";

    std::string error;
    ASSERT_TRUE(MendDvdAudioPacks(path.toStdString(), 2880, &error)) << error;
    const QByteArray after = ReadAll(path);
    EXPECT_EQ(after.size(), before.size());
    EXPECT_NE(after, before);
    EXPECT_EQ(Ac3Stream(after), Ac3Stream(before));
    EXPECT_FALSE(Ac3Stream(after).isEmpty());
    EXPECT_TRUE(testmedia::DecodesCleanly(path));

    // Mending again finds nothing to do.
    ASSERT_TRUE(MendDvdAudioPacks(path.toStdString(), 2880, &error)) << error;
    EXPECT_EQ(ReadAll(path), after);
}

// Files that are not DVD program streams with AC-3 audio are left as they are; a file that cannot
// be opened is an error.
TEST_F(MpegAudioTimestampsTest, MendingLeavesOtherFilesUntouched) {
    const QString vcd = m_dir.filePath("vcd.mpg");
    ASSERT_EQ(testmedia::RunFfmpeg({"-f", "lavfi", "-i", "sine=frequency=330:sample_rate=44100",
                                    "-t", "2", "-c:a", "mp2", "-f", "vob", vcd}),
              0);
    const QString junk = m_dir.filePath("junk.mpg");
    {
        QFile file(junk);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, '\x5A'));
    }
    for (const QString& path : {vcd, junk}) {
        const QByteArray before = ReadAll(path);
        std::string error;
        EXPECT_TRUE(MendDvdAudioPacks(path.toStdString(), 2880, &error)) << error;
        EXPECT_EQ(ReadAll(path), before) << path.toStdString();
    }
    std::string error;
    EXPECT_FALSE(MendDvdAudioPacks(m_dir.filePath("missing.mpg").toStdString(), 2880, &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
