// End-to-end runs of "MPEG Writer Filter": generated video and audio in, the file checked by
// ffprobe.
#include <gst/app/gstappsrc.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cmath>

#include "MediaFramework.h"
#include "TestMedia.h"
#include "WriterPipeline.h"

using namespace writertest;

namespace {

class MpegWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(InitMediaFramework(), S_OK);
        ASSERT_TRUE(HasElementFactory("kestrinempegwriter"));
        ASSERT_TRUE(m_dir.isValid());
    }

    QString PathFor(const char* name) const { return m_dir.filePath(name); }

    // A pipeline with a new writer, or with the given one (reused as the engine reuses the
    // settings dialog's writer for every clip); the caller adds branches.
    GstElement* NewPipeline(int preset, const QString& location, GstElement* reuse = nullptr) {
        GstElement* pipeline = gst_pipeline_new("test");
        m_writer = reuse ? reuse : gst_element_factory_make("kestrinempegwriter", "writer");
        g_object_set(m_writer, "preset", preset, "location", location.toUtf8().constData(),
                     nullptr);
        gst_bin_add(GST_BIN(pipeline), m_writer);
        return pipeline;
    }

    // Video as the engine delivers it (RGB of another size, converted and scaled in front of
    // the writer) and 48 kHz stereo PCM.
    bool AddEngineLikeInputs(GstElement* pipeline, int videoFrames, const char* videoRate,
                             int audioBuffers) {
        std::string videoCaps =
            std::string("video/x-raw,format=RGB,width=320,height=240,framerate=") + videoRate;
        return AddBranch(pipeline, "videotestsrc", videoFrames, videoCaps.c_str(),
                         "videoconvert ! videoscale ! videorate", m_writer, "Video Input") &&
               AddBranch(pipeline, "audiotestsrc samplesperbuffer=1920", audioBuffers,
                         "audio/x-raw,format=S16LE,rate=48000,channels=2", "audioresample",
                         m_writer, "Audio Input");
    }

    QTemporaryDir m_dir;
    GstElement* m_writer = nullptr;  // owned by the pipeline
};

// Pict types of the video frames in decoding order, e.g. "IPPP...".
QString FrameTypes(const QString& path) {
    QString out;
    testmedia::RunProgram("ffprobe",
                          {"-v", "error", "-select_streams", "v:0", "-show_entries",
                           "frame=pict_type", "-of", "csv=p=0", path},
                          &out);
    return out.simplified().remove(' ').remove(',');
}

// Fields of the first pack header and sequence header, in their coded units.
struct StreamHeaders {
    int muxRate = -1;    // 50 bytes/s
    int bitRate = -1;    // 400 bits/s
    int vbvBuffer = -1;  // 16 kbit
};

StreamHeaders ReadHeaders(const QString& path) {
    StreamHeaders h;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return h;
    const QByteArray bytes = file.read(256 * 1024);
    auto at = [&](qsizetype i) { return i < bytes.size() ? int(quint8(bytes[i])) : 0; };
    qsizetype pack = bytes.indexOf(QByteArray("\x00\x00\x01\xBA", 4));
    if (pack >= 0) {
        if ((at(pack + 4) & 0xC0) == 0x40)  // MPEG-2 pack header
            h.muxRate = (at(pack + 10) << 14) | (at(pack + 11) << 6) | (at(pack + 12) >> 2);
        else  // MPEG-1 pack header
            h.muxRate = ((at(pack + 9) & 0x7F) << 15) | (at(pack + 10) << 7) | (at(pack + 11) >> 1);
    }
    qsizetype seq = bytes.indexOf(QByteArray("\x00\x00\x01\xB3", 4));
    if (seq >= 0) {
        qsizetype b = seq + 4;
        h.bitRate = (at(b + 4) << 10) | (at(b + 5) << 2) | (at(b + 6) >> 6);
        h.vbvBuffer = ((at(b + 6) & 0x1F) << 5) | (at(b + 7) >> 3);
    }
    return h;
}

struct DiscCase {
    int preset;
    const char* rate;  // the caps' frame rate
    int frames;        // 2 s of video
    const char* videoCodec;
    int width, height;
    double frameRate;
    const char* audioCodec;
    int sampleRate;
    int packetSize;
    int gop;
    int muxRate;  // bits/s; 0: left to the multiplexer
    int maxRate;  // bits/s, as the sequence header carries it
    int vbvBits;
};

class DiscPresetTest : public MpegWriterTest, public ::testing::WithParamInterface<DiscCase> {};

TEST_P(DiscPresetTest, WritesTheTargetsStreams) {
    const DiscCase& c = GetParam();
    QString path = PathFor("disc.mpg");
    GstElementPtr pipeline(NewPipeline(c.preset, path));
    ASSERT_TRUE(AddEngineLikeInputs(pipeline.get(), c.frames, c.rate, 50));

    RunResult run = RunToEnd(pipeline.get());
    ASSERT_TRUE(run.eos) << run.error;
    EXPECT_NEAR(run.position / 1e9, 2.0, 0.1);

    testmedia::ProbeResult probe = testmedia::Probe(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.formatName, "mpeg");
    EXPECT_EQ(probe.videoCodec, c.videoCodec);
    EXPECT_EQ(probe.width, c.width);
    EXPECT_EQ(probe.height, c.height);
    EXPECT_NEAR(probe.frameRate, c.frameRate, 0.01);
    EXPECT_EQ(probe.audioCodec, c.audioCodec);
    EXPECT_EQ(probe.sampleRate, c.sampleRate);
    EXPECT_EQ(probe.channels, 2);
    EXPECT_NEAR(probe.duration, 2.0, 0.15);
    StreamHeaders headers = ReadHeaders(path);
    if (c.muxRate) {
        EXPECT_EQ(headers.muxRate, c.muxRate / 400);
    }
    EXPECT_EQ(headers.bitRate, c.maxRate / 400);
    EXPECT_EQ(headers.vbvBuffer, c.vbvBits / 16384);
    // Every pack fills one sector.
    EXPECT_EQ(QFile(path).size() % c.packetSize, 0);
    // Closed GOPs of the target's length, all frames present.
    QString types = FrameTypes(path);
    EXPECT_EQ(types.size(), c.frames);
    for (int i = 0; i < types.size(); ++i) {
        EXPECT_EQ(types[i] == 'I', i % c.gop == 0)
            << "frame " << i << " of " << types.toStdString();
    }
    EXPECT_TRUE(testmedia::DecodesCleanly(path));
}

INSTANTIATE_TEST_SUITE_P(
    Presets, DiscPresetTest,
    ::testing::Values(DiscCase{1, "25/1", 50, "mpeg1video", 352, 288, 25, "mp2", 44100, 2324, 15,
                               1411200, 1150000, 327680},
                      DiscCase{5, "30000/1001", 60, "mpeg1video", 352, 240, 29.97, "mp2", 44100,
                               2324, 18, 1411200, 1150000, 327680},
                      DiscCase{3, "25/1", 50, "mpeg2video", 480, 576, 25, "mp2", 44100, 2324, 15, 0,
                               2516000, 1835008},
                      DiscCase{6, "30000/1001", 60, "mpeg2video", 480, 480, 29.97, "mp2", 44100,
                               2324, 18, 0, 2516000, 1835008},
                      DiscCase{4, "25/1", 50, "mpeg2video", 720, 576, 25, "ac3", 48000, 2048, 15,
                               10080000, 9000000, 1835008},
                      DiscCase{7, "30000/1001", 60, "mpeg2video", 720, 480, 29.97, "ac3", 48000,
                               2048, 18, 10080000, 9000000, 1835008}),
    [](const ::testing::TestParamInfo<DiscCase>& info) {
        return "Preset" + std::to_string(info.param.preset);
    });

// The generic presets keep the incoming frame size; a rate MPEG cannot carry becomes the nearest
// legal one with frames repeated, so the duration stays that of the input.
TEST_F(MpegWriterTest, GenericPresetsKeepTheInputSizeAndDuration) {
    struct {
        int preset;
        const char* codec;
    } cases[] = {{0, "mpeg1video"}, {2, "mpeg2video"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.preset);
        QString path = PathFor(c.preset ? "generic2.mpg" : "generic1.mpg");
        GstElementPtr pipeline(NewPipeline(c.preset, path));
        ASSERT_TRUE(AddBranch(pipeline.get(), "videotestsrc", 30,
                              "video/x-raw,format=I420,width=320,height=240,framerate=15/1", "",
                              m_writer, "Video Input"));
        ASSERT_TRUE(AddBranch(pipeline.get(), "audiotestsrc samplesperbuffer=2205", 40,
                              "audio/x-raw,format=S16LE,rate=44100,channels=1", "", m_writer,
                              "Audio Input"));
        RunResult run = RunToEnd(pipeline.get());
        ASSERT_TRUE(run.eos) << run.error;

        testmedia::ProbeResult probe = testmedia::Probe(path);
        ASSERT_TRUE(probe.ok);
        EXPECT_EQ(probe.formatName, "mpeg");
        EXPECT_EQ(probe.videoCodec, c.codec);
        EXPECT_EQ(probe.width, 320);
        EXPECT_EQ(probe.height, 240);
        EXPECT_NEAR(probe.frameRate, 23.976, 0.01);
        EXPECT_EQ(probe.audioCodec, "mp2");
        EXPECT_EQ(probe.sampleRate, 44100);
        EXPECT_EQ(probe.channels, 1);
        EXPECT_NEAR(probe.duration, 2.0, 0.15);
        EXPECT_NEAR(FrameTypes(path).size(), 48, 1);
    }
}

// A disc target's frame rate is kept whatever the input delivers: frames are dropped from a faster
// input and repeated from a slower one, by their timestamps.
TEST_F(MpegWriterTest, AdaptsTheInputFrameRateToTheTarget) {
    struct {
        int preset;
        const char* caps;
        int inputFrames;
        int outputFrames;
    } cases[] = {
        {4, "video/x-raw,format=I420,width=720,height=576,framerate=50/1", 100, 50},
        {5, "video/x-raw,format=I420,width=352,height=240,framerate=25/1", 50, 60},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.preset);
        QString path = PathFor("rate.mpg");
        GstElementPtr pipeline(NewPipeline(c.preset, path));
        ASSERT_TRUE(AddBranch(pipeline.get(), "videotestsrc", c.inputFrames, c.caps, "", m_writer,
                              "Video Input"));
        RunResult run = RunToEnd(pipeline.get());
        ASSERT_TRUE(run.eos) << run.error;
        testmedia::ProbeResult probe = testmedia::Probe(path);
        EXPECT_NEAR(probe.duration, 2.0, 0.1);
        EXPECT_NEAR(FrameTypes(path).size(), c.outputFrames, 1);
    }
}

// Audio follows its timestamps, so that it stays in step with video: a gap becomes silence and
// audio that overlaps what was already written is cut.
TEST_F(MpegWriterTest, AudioFollowsItsTimestamps) {
    QString path = PathFor("gap.mpg");
    GstElementPtr pipeline(NewPipeline(1, path));
    GstElement* src = gst_element_factory_make("appsrc", nullptr);
    GstCapsPtr caps(
        gst_caps_from_string("audio/x-raw,format=S16LE,layout=interleaved,rate=44100,"
                             "channels=2"));
    g_object_set(src, "caps", caps.get(), "format", GST_FORMAT_TIME, nullptr);
    gst_bin_add(GST_BIN(pipeline.get()), src);
    ASSERT_TRUE(gst_element_link_pads(src, "src", m_writer, "Audio Input"));

    // 100 ms buffers: 0.0-1.0 s, then 1.5-2.0 s, then 1.5-1.6 s once more.
    auto push = [&](double start) {
        const gsize bytes = 4410 * 4;
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, bytes, nullptr);
        gst_buffer_memset(buffer, 0, 0x10, bytes);
        GST_BUFFER_PTS(buffer) = GstClockTime(start * GST_SECOND);
        GST_BUFFER_DURATION(buffer) = GST_SECOND / 10;
        return gst_app_src_push_buffer(GST_APP_SRC(src), buffer) == GST_FLOW_OK;
    };
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(push(i / 10.0));
    for (int i = 15; i < 20; ++i) ASSERT_TRUE(push(i / 10.0));
    ASSERT_TRUE(push(1.5));
    gst_app_src_end_of_stream(GST_APP_SRC(src));

    RunResult run = RunToEnd(pipeline.get());
    ASSERT_TRUE(run.eos) << run.error;
    EXPECT_NEAR(run.position / 1e9, 2.0, 0.01);
    testmedia::ProbeResult probe = testmedia::Probe(path);
    EXPECT_EQ(probe.audioCodec, "mp2");
    EXPECT_NEAR(probe.duration, 2.0, 0.06);
}

// An input that is not linked, or that ends without data, leaves a file with the other stream.
TEST_F(MpegWriterTest, WritesVideoOnlyAndAudioOnlyStreams) {
    {
        QString path = PathFor("video-only.mpg");
        GstElementPtr pipeline(NewPipeline(4, path));
        ASSERT_TRUE(AddBranch(pipeline.get(), "videotestsrc", 25,
                              "video/x-raw,format=I420,width=720,height=576,framerate=25/1", "",
                              m_writer, "Video Input"));
        RunResult run = RunToEnd(pipeline.get());
        ASSERT_TRUE(run.eos) << run.error;
        testmedia::ProbeResult probe = testmedia::Probe(path);
        EXPECT_EQ(probe.videoCodec, "mpeg2video");
        EXPECT_EQ(probe.audioCodec, "");
        EXPECT_NEAR(probe.duration, 1.0, 0.1);
    }
    {
        QString path = PathFor("audio-only.mpg");
        GstElementPtr pipeline(NewPipeline(1, path));
        ASSERT_TRUE(AddBranch(pipeline.get(), "audiotestsrc samplesperbuffer=4410", 10,
                              "audio/x-raw,format=S16LE,rate=44100,channels=2", "", m_writer,
                              "Audio Input"));
        RunResult run = RunToEnd(pipeline.get());
        ASSERT_TRUE(run.eos) << run.error;
        EXPECT_NEAR(run.position / 1e9, 1.0, 0.05);
        testmedia::ProbeResult probe = testmedia::Probe(path);
        EXPECT_EQ(probe.videoCodec, "");
        EXPECT_EQ(probe.audioCodec, "mp2");
        EXPECT_NEAR(probe.duration, 1.0, 0.1);
    }
    {
        QString path = PathFor("silent-audio-pad.mpg");
        GstElementPtr pipeline(NewPipeline(4, path));
        ASSERT_TRUE(AddBranch(pipeline.get(), "videotestsrc", 25,
                              "video/x-raw,format=I420,width=720,height=576,framerate=25/1", "",
                              m_writer, "Video Input"));
        ASSERT_TRUE(AddBranch(pipeline.get(), "audiotestsrc", 0,
                              "audio/x-raw,format=S16LE,rate=48000,channels=2", "", m_writer,
                              "Audio Input"));
        RunResult run = RunToEnd(pipeline.get());
        ASSERT_TRUE(run.eos) << run.error;
        testmedia::ProbeResult probe = testmedia::Probe(path);
        EXPECT_EQ(probe.videoCodec, "mpeg2video");
        EXPECT_NEAR(probe.duration, 1.0, 0.1);
    }
}

TEST_F(MpegWriterTest, MissingFolderFailsWithAMessageAndNoFile) {
    QString path = PathFor("missing/out.mpg");
    GstElementPtr pipeline(NewPipeline(4, path));
    ASSERT_TRUE(AddEngineLikeInputs(pipeline.get(), 25, "25/1", 25));
    RunResult run = RunToEnd(pipeline.get(), 20000);
    EXPECT_FALSE(run.eos);
    EXPECT_NE(run.error.find("No such file or directory"), std::string::npos) << run.error;
    EXPECT_FALSE(QFile::exists(path));
}

// A write that fails midway (here: a file size limit, as a full disk) ends the run with the
// system's text and leaves no file.
TEST_F(MpegWriterTest, WriteFailureIsReportedAndLeavesNoFile) {
    QString path = PathFor("too-big.mpg");
    GstElementPtr pipeline(NewPipeline(4, path));
    ASSERT_TRUE(AddEngineLikeInputs(pipeline.get(), 50, "25/1", 50));
    RunResult run;
    {
        FileSizeLimit limit(200 * 1024);
        run = RunToEnd(pipeline.get());
    }
    EXPECT_FALSE(run.eos);
    EXPECT_NE(run.error.find("File too large"), std::string::npos) << run.error;
    EXPECT_TRUE(FilesIn(m_dir.path()).isEmpty()) << FilesIn(m_dir.path()).join(", ").toStdString();
}

// Stopping while streaming never hangs, leaves nothing at the destination and keeps the file
// that was there; the same writer then serves a complete run, which replaces the file.
TEST_F(MpegWriterTest, StopKeepsTheOldFileAndACompleteRunReplacesIt) {
    QString path = PathFor("kept.mpg");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old contents");
    }
    GstElementPtr pipeline(NewPipeline(4, path));
    GstElementPtr writer(GST_ELEMENT(gst_object_ref(m_writer)));
    ASSERT_TRUE(AddEngineLikeInputs(pipeline.get(), 100000, "25/1", 100000));
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    // Wait (bounded) until the writer reports written media time, then stop.
    gint64 position = 0;
    for (int i = 0; i < 600 && position <= GST_SECOND / 2; ++i) {
        g_usleep(10000);
        gst_element_query_position(pipeline.get(), GST_FORMAT_TIME, &position);
    }
    EXPECT_GT(position, GST_SECOND / 2);
    EXPECT_EQ(gst_element_set_state(pipeline.get(), GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    gst_bin_remove(GST_BIN(pipeline.get()), writer.get());
    pipeline.reset();

    QFile kept(path);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("old contents"));
    kept.close();
    EXPECT_EQ(FilesIn(m_dir.path()), QStringList{"kept.mpg"});

    GstElementPtr again(NewPipeline(1, path, writer.get()));
    ASSERT_TRUE(AddEngineLikeInputs(again.get(), 25, "25/1", 25));
    RunResult run = RunToEnd(again.get());
    ASSERT_TRUE(run.eos) << run.error;
    testmedia::ProbeResult probe = testmedia::Probe(path);
    EXPECT_EQ(probe.videoCodec, "mpeg1video");
    EXPECT_EQ(probe.width, 352);
    EXPECT_NEAR(probe.duration, 1.0, 0.1);
    EXPECT_EQ(FilesIn(m_dir.path()), QStringList{"kept.mpg"});
}

}  // namespace
