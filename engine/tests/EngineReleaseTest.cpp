// A batch makes a new engine (and a new probe) for every clip, so anything a finished one keeps
// alive grows with the clip count. These tests watch the objects that the engine and the probe
// create or put into their pipelines and check, with GLib's own accounting (weak references),
// that every one of them is finalized once its owner is gone.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "ClipProbe.h"
#include "EngineTestSupport.h"

using namespace enginetest;
using testmedia::Kind;

namespace {

// Objects that must be finalized, by description. Weak references are dropped again for the
// objects still alive when the watch ends, so a failed test leaves no dangling callback.
class LiveObjects {
public:
    LiveObjects() = default;
    LiveObjects(const LiveObjects&) = delete;
    LiveObjects& operator=(const LiveObjects&) = delete;
    ~LiveObjects() {
        for (auto& entry : m_entries)
            if (entry->object)
                g_object_weak_unref(entry->object, &LiveObjects::OnFinalized, entry.get());
    }

    void Watch(gpointer object) {
        auto entry = std::make_unique<Entry>();
        entry->object = G_OBJECT(object);
        entry->what = Describe(object);
        g_object_weak_ref(entry->object, &LiveObjects::OnFinalized, entry.get());
        m_entries.push_back(std::move(entry));
    }

    // The pipeline, its bus, its elements, their pads and, for bins the project fills itself (not
    // the editing services' internals), one level of their children.
    void WatchPipeline(GstElement* pipeline) {
        ASSERT_NE(pipeline, nullptr);
        Watch(pipeline);
        GstBusPtr bus(gst_element_get_bus(pipeline));
        ASSERT_TRUE(bus);
        Watch(bus.get());
        WatchChildren(GST_BIN(pipeline), 2);
    }

    // Descriptions of the watched objects that are still alive, after the default main context
    // has run whatever was queued on it (the windows' event loop does the same).
    std::vector<std::string> Alive() const {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        std::vector<std::string> alive;
        for (const auto& entry : m_entries)
            if (entry->object) alive.push_back(entry->what);
        return alive;
    }

    size_t Count() const { return m_entries.size(); }

private:
    struct Entry {
        GObject* object = nullptr;
        std::string what;
    };

    static void OnFinalized(gpointer data, GObject*) {
        static_cast<Entry*>(data)->object = nullptr;
    }

    static std::string Describe(gpointer object) {
        std::string what = G_OBJECT_TYPE_NAME(object);
        if (GST_IS_OBJECT(object)) {
            GCharPtr path(gst_object_get_path_string(GST_OBJECT(object)));
            if (path) what += std::string(" ") + path.get();
        }
        return what;
    }

    void WatchPads(GstElement* element) {
        GstIterator* it = gst_element_iterate_pads(element);
        GValue item = G_VALUE_INIT;
        while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
            Watch(g_value_get_object(&item));
            g_value_reset(&item);
        }
        g_value_unset(&item);
        gst_iterator_free(it);
    }

    void WatchChildren(GstBin* bin, int depth) {
        GstIterator* it = gst_bin_iterate_elements(bin);
        GValue item = G_VALUE_INIT;
        while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
            auto* element = GST_ELEMENT(g_value_get_object(&item));
            Watch(element);
            WatchPads(element);
            if (depth > 1 && GST_IS_BIN(element)) WatchChildren(GST_BIN(element), depth - 1);
            g_value_reset(&item);
        }
        g_value_unset(&item);
        gst_iterator_free(it);
    }

    std::vector<std::unique_ptr<Entry>> m_entries;
};

std::string Join(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) text += "\n  " + item;
    return text;
}

class EngineRelease : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(InitMediaFramework(), S_OK); }
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString Clip(Kind kind) { return testmedia::MakeClip(kind, m_dir.path(), 1.0); }

    // Converts, watches what the finished engine holds, then lets the host drop the engine.
    void ConvertAndRelease(const QString& source, const char* name, ConversionSettings& settings,
                           HRESULT expected = S_OK) {
        CProjectItem clip = ClipFor(source);
        const std::string dest = m_dir.filePath(name).toStdString();
        const ClipResult result = m_host.ConvertClip(dest, clip, settings);
        ASSERT_EQ(result.code, expected) << result.reason;
        ASSERT_NE(m_host.Engine(), nullptr);
        LiveObjects objects;
        objects.WatchPipeline(m_host.Engine()->Pipeline());
        // The pipeline, its bus, the timeline and at least one converter with their pads.
        EXPECT_GT(objects.Count(), 8u);
        m_host.ReleaseEngine();
        const auto alive = objects.Alive();
        EXPECT_TRUE(alive.empty()) << "alive after the engine was released:" << Join(alive);
    }

    QTemporaryDir m_dir;
    FakeWindow m_window;
    CConversionHost m_host{m_window};
};

TEST_F(EngineRelease, AviRunWithPreviewLeavesNothingAlive) {
    m_window.withPane = true;
    ConversionSettings settings = SettingsFor(Avi, "160", "120", "10");
    ConvertAndRelease(Clip(Kind::AviMjpegPcm), "out.avi", settings);
}

TEST_F(EngineRelease, BorrowedEncodersAndWritersGoBackWithOnlyTheirOwnersReference) {
    const QString source = Clip(Kind::AviMjpegPcm);
    ConversionSettings mp3 = SettingsFor(WavMp3);
    mp3.audioEncoder = Make("lamemp3enc");
    ASSERT_TRUE(mp3.audioEncoder);
    ConvertAndRelease(source, "out.mp3", mp3);
    EXPECT_EQ(GST_OBJECT_REFCOUNT_VALUE(mp3.audioEncoder.get()), 1);

    ConversionSettings mpeg = SettingsFor(Mpeg, "320", "240", "25");
    mpeg.mpegEncoder = Make("kestrinempegwriter");
    if (!mpeg.mpegEncoder) GTEST_SKIP() << "kestrinempegwriter is not installed";
    ConvertAndRelease(source, "out.mpg", mpeg);
    EXPECT_EQ(GST_OBJECT_REFCOUNT_VALUE(mpeg.mpegEncoder.get()), 1);
}

TEST_F(EngineRelease, FailedRunLeavesNothingAlive) {
    // An encoder whose output the AVI multiplexer does not take: the run is abandoned while
    // being built.
    ConversionSettings settings = SettingsFor(Avi, "160", "120", "10");
    settings.videoEncoder = Make("theoraenc");
    ASSERT_TRUE(settings.videoEncoder);
    CProjectItem clip = ClipFor(Clip(Kind::AviMjpegPcm));
    const HRESULT hr =
        m_host.ConvertClip(m_dir.filePath("bad.avi").toStdString(), clip, settings).code;
    ASSERT_TRUE(FAILED(hr));
    LiveObjects objects;
    objects.WatchPipeline(m_host.Engine()->Pipeline());
    m_host.ReleaseEngine();
    const auto alive = objects.Alive();
    EXPECT_TRUE(alive.empty()) << "alive after the engine was released:" << Join(alive);
    EXPECT_EQ(GST_OBJECT_REFCOUNT_VALUE(settings.videoEncoder.get()), 1);
}

TEST_F(EngineRelease, ProbeLeavesNothingAlive) {
    CProjectItem clip;
    clip.SetPath(Clip(Kind::AviMjpegPcm).toStdString());
    clip.SetName("clip.avi");
    LiveObjects objects;
    {
        CClipProbe probe;
        ASSERT_EQ(probe.Probe(clip), S_OK) << probe.RenderErrorText();
        objects.WatchPipeline(probe.Pipeline());
    }
    EXPECT_GT(objects.Count(), 4u);
    const auto alive = objects.Alive();
    EXPECT_TRUE(alive.empty()) << "alive after the probe was destroyed:" << Join(alive);
}

}  // namespace
