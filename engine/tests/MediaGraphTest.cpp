#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <vector>

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
    EXPECT_EQ(MediaErrorText(), text);
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
