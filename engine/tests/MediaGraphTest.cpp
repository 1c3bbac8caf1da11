#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <optional>
#include <vector>

#include "ContentLength.h"
#include "MediaFramework.h"
#include "MediaGraph.h"
#include "ProjectItem.h"
#include "TestMedia.h"

namespace {

struct Recorder : INotifyTarget {
    std::vector<std::pair<int, int>> seen;  // (message base, k)
    void OnMediaNotify(int base, int k, std::intptr_t, std::intptr_t) override {
        seen.emplace_back(base, k);
    }
};

class TestGraph : public CMediaGraph {
public:
    explicit TestGraph(int base) { m_messageBase = base; }
    GstBus* Bus() const { return m_events.get(); }
    void SetOpenTimeout(int ms) { m_openTimeoutMs = ms; }
};

}  // namespace

TEST(MediaGraph, ReleasesItsPipelineAndReportsItOnce) {
    Recorder recorder;
    GstElement* pipeline = nullptr;
    {
        TestGraph graph(151);
        graph.SetNotifyTarget(&recorder);
        pipeline = graph.Pipeline();
        ASSERT_NE(pipeline, nullptr);
        ASSERT_NE(graph.Bus(), nullptr);
        g_object_add_weak_pointer(G_OBJECT(pipeline), reinterpret_cast<gpointer*>(&pipeline));
        // Closing a preview that was never loaded fails and sends nothing.
        EXPECT_EQ(graph.CloseVideoWindow(), E_FAIL);
    }
    EXPECT_EQ(pipeline, nullptr) << "the pipeline outlived its owner";
    ASSERT_EQ(recorder.seen.size(), 1u);
    EXPECT_EQ(recorder.seen[0], std::make_pair(151, int{CMediaGraph::kGraphReleased}));
}

TEST(MediaGraph, OpenClipReadsSizeAudioAndDurationOnce) {
    QTemporaryDir dir;
    const QString path = testmedia::MakeClip(testmedia::Kind::AviMjpegPcm, dir.path(), 2.0);
    ASSERT_FALSE(path.isEmpty());
    CProjectItem clip;
    clip.SetPath(path.toStdString());
    clip.SetName("mjpegpcm.avi");
    TestGraph graph(101);
    ASSERT_EQ(graph.OpenClip(clip), S_OK);
    EXPECT_TRUE(graph.IsLoaded());
    EXPECT_EQ(clip.GetHasVideo(), 1);
    EXPECT_EQ(clip.GetHasAudio(), 1);
    EXPECT_EQ(clip.FrameSizeText(), "176x144");
    EXPECT_NEAR(clip.GetDuration(), 2 * kRefTimePerSecond, kRefTimePerSecond / 15);
    EXPECT_EQ(clip.GetMediaStop(), clip.GetDuration());
    EXPECT_TRUE(graph.RenderErrorText().empty());

    // Values a caller already set are kept.
    CProjectItem preset;
    preset.SetPath(path.toStdString());
    preset.SetDuration(5);
    preset.SetMediaStop(7);
    TestGraph second(101);
    ASSERT_EQ(second.OpenClip(preset), S_OK);
    EXPECT_EQ(preset.GetDuration(), 5);
    EXPECT_EQ(preset.GetMediaStop(), 7);
}

TEST(MediaGraph, OpenClipFailureNamesTheFile) {
    QTemporaryDir dir;
    CProjectItem missing;
    missing.SetPath((dir.path() + "/gone.avi").toStdString());
    missing.SetName("gone.avi");
    TestGraph graph(101);
    EXPECT_TRUE(FAILED(graph.OpenClip(missing)));
    const std::string& text = graph.RenderErrorText();
    EXPECT_GT(text.size(), std::string(" File: gone.avi").size());
    EXPECT_EQ(text.substr(text.size() - 15), " File: gone.avi");
    EXPECT_EQ(graph.FailureText(), text);
    EXPECT_EQ(missing.GetDuration(), 0);

    CProjectItem empty;
    TestGraph other(101);
    EXPECT_EQ(other.OpenClip(empty), E_FAIL);
    EXPECT_TRUE(other.RenderErrorText().empty());
}

TEST(MediaGraph, OpenClipGivesUpAfterItsTimeLimitAndStopsThePipeline) {
    QTemporaryDir dir;
    const QString path = testmedia::MakeClip(testmedia::Kind::Mpeg2Program, dir.path(), 2.0);
    ASSERT_FALSE(path.isEmpty());
    CProjectItem clip;
    clip.SetPath(path.toStdString());
    clip.SetName("slow.mpg");
    TestGraph graph(101);
    graph.SetOpenTimeout(0);  // nothing prerolls in no time at all
    EXPECT_EQ(graph.OpenClip(clip), E_FAIL);
    EXPECT_EQ(graph.RenderErrorText(),
              "The file could not be read within 0 seconds. File: slow.mpg");
    EXPECT_FALSE(graph.IsLoaded());
    EXPECT_EQ(clip.GetDuration(), 0);
    GstState state = GST_STATE_VOID_PENDING;
    gst_element_get_state(graph.Pipeline(), &state, nullptr, 0);
    EXPECT_EQ(state, GST_STATE_NULL) << "a rejected file must not keep streaming threads busy";
}

// A framework error reaches the user as what it means for the file, with the framework's own text
// after it: damage found by a demultiplexer or parser, a stream its decoder cannot decode, a
// decoder that refuses a damaged stream's set-up or a coding nothing decodes (never "a plug-in is
// missing" when none is), a format that cannot be converted; other errors keep their text.
TEST(MediaGraph, FrameworkErrorsAreExplainedForTheUser) {
    ASSERT_TRUE(SUCCEEDED(InitMediaFramework()));
    const struct {
        const char* factory;  // the element that posts the error
        GQuark domain;
        int code;
        const char* text;
        const char* debug;
        GstClockTime reached;
        std::string expected;
    } cases[] = {
        {"matroskademux", GST_STREAM_ERROR, GST_STREAM_ERROR_DEMUX, "Could not demultiplex stream.",
         nullptr, 72 * GST_SECOND + GST_SECOND / 2,
         "The file is damaged at 1:12: Could not demultiplex stream."},
        {"mpegvideoparse", GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, "Internal data stream error.",
         "streaming stopped, reason error (-5)", 0,
         "The file is damaged at 0:00: Internal data stream error."},
        {"flacparse", GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED,
         "GStreamer encountered a general stream error.", nullptr, GST_CLOCK_TIME_NONE,
         "The file is damaged: GStreamer encountered a general stream error."},
        {"avdec_mpeg4", GST_STREAM_ERROR, GST_STREAM_ERROR_DECODE, "Could not decode stream.",
         nullptr, 3725 * GST_SECOND,
         "The video stream cannot be decoded at 1:02:05: Could not decode stream."},
        {"avdec_mp3", GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, "Internal data stream error.",
         "streaming stopped, reason not-negotiated (-4)", 12 * GST_SECOND,
         "The audio stream has a format that cannot be converted at 0:12: Internal data stream "
         "error."},
        {"decodebin", GST_CORE_ERROR, GST_CORE_ERROR_MISSING_PLUGIN,
         "Your GStreamer installation is missing a plug-in.",
         "no suitable plugins found:\nCouldn't set avdec_wmav2-0 to PAUSED", GST_CLOCK_TIME_NONE,
         "The audio stream cannot be decoded: libav Windows Media Audio 2 decoder does not accept "
         "its set-up (the "
         "file may be damaged)"},
        {"decodebin", GST_CORE_ERROR, GST_CORE_ERROR_MISSING_PLUGIN,
         "Your GStreamer installation is missing a plug-in.",
         "no suitable plugins found:\nMissing decoder: Unknown audio (audio/x-wav-unknown)\n",
         GST_CLOCK_TIME_NONE,
         "A stream of the file has a coding that is not recognised (Unknown audio "
         "(audio/x-wav-unknown)); the file "
         "may be damaged"},
        {"decodebin", GST_STREAM_ERROR, GST_STREAM_ERROR_CODEC_NOT_FOUND,
         "Your GStreamer installation is missing a plug-in.",
         "Missing decoder: Bink Video (video/x-bink)", GST_CLOCK_TIME_NONE,
         "No decoder is installed for Bink Video (video/x-bink) (the file may also be damaged)"},
        {"filesink", GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_WRITE, "No space left on the resource.",
         nullptr, 5 * GST_SECOND, "No space left on the resource."},
    };
    for (const auto& c : cases) {
        GstElement* element = gst_element_factory_make(c.factory, nullptr);
        ASSERT_NE(element, nullptr) << c.factory;
        gst_object_ref_sink(element);
        GError* error = g_error_new_literal(c.domain, c.code, c.text);
        GstMessage* message = gst_message_new_error(GST_OBJECT(element), error, c.debug);
        EXPECT_EQ(CMediaGraph::ReasonForError(message, c.reached), c.expected)
            << c.factory << ": " << c.text;
        gst_message_unref(message);
        g_error_free(error);
        gst_object_unref(element);
    }
}

// A file's facts are read once while it stays the same; a file rewritten under the same name is
// read again, not answered from what the old one held.
TEST(MediaGraph, ContentOfAFileRewrittenUnderItsNameIsReadAgain) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString longer = testmedia::MakeClip(testmedia::Kind::WavPcm, dir.path(), 2.0);
    const std::string path = longer.toStdString();
    std::optional<ContentFacts> first = ScanContent(path, 3000);
    ASSERT_TRUE(first && first->complete);
    EXPECT_NEAR(first->length / 1e7, 2.0, 0.05);
    EXPECT_EQ(ScanContent(path, 3000)->length, first->length);

    QTemporaryDir other;
    const QString shorter = testmedia::MakeClip(testmedia::Kind::WavPcm, other.path(), 1.0);
    ASSERT_TRUE(QFile::remove(longer));
    ASSERT_TRUE(QFile::copy(shorter, longer));
    std::optional<ContentFacts> second = ScanContent(path, 3000);
    ASSERT_TRUE(second);
    EXPECT_NEAR(second->length / 1e7, 1.0, 0.05);
}
