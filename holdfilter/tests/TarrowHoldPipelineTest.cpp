// The hold element in real pipelines: paused without preroll, upstream positioned to the
// range (checked on the written file with ffprobe), element queries, registry loading.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <future>

#include "TarrowTestSupport.h"
#include "TestMedia.h"

using namespace std::chrono_literals;
using tarrowtest::WaitForMessage;

namespace {

constexpr gint64 kSecond = 10000000;  // reference time (100 ns)
constexpr int kErrorOrEos = GST_MESSAGE_EOS | GST_MESSAGE_ERROR;

GstElementPtr Parse(const std::string& description) {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    GErrorPtr owned(error);
    EXPECT_EQ(error, nullptr) << (error ? error->message : "");
    if (pipeline) gst_object_ref_sink(pipeline);
    return GstElementPtr(pipeline);
}

// Runs to the end; true at EOS, with any error's text in *error.
bool RunToEos(GstElement* pipeline, std::string* error) {
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstMessagePtr message = WaitForMessage(pipeline, kErrorOrEos, 30000);
    bool eos = message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS;
    if (message && !eos) {
        GError* e = nullptr;
        gst_message_parse_error(message.get(), &e, nullptr);
        *error = e ? e->message : "error";
        g_clear_error(&e);
    } else if (!message) {
        *error = "no end of stream within 30 s";
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return eos;
}

class TarrowHoldPipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        clip = testmedia::MakeClip(testmedia::Kind::AviMjpegPcm, dir.path(), 3.0).toStdString();
        ASSERT_FALSE(clip.empty());
    }
    // Decodes the clip's video through the hold element into an MJPEG AVI file.
    std::string VideoThroughHold(const std::string& holdProperties, const std::string& out) {
        return "filesrc location=\"" + clip + "\" ! decodebin ! tarrowhold name=t " +
               holdProperties + " ! videoconvert ! jpegenc ! avimux ! filesink location=\"" +
               dir.filePath(QString::fromStdString(out)).toStdString() + "\"";
    }
    double WrittenSeconds(const std::string& out) {
        const auto probe = testmedia::Probe(dir.filePath(QString::fromStdString(out)));
        EXPECT_TRUE(probe.ok) << out;
        return probe.duration;
    }

    QTemporaryDir dir;
    std::string clip;
};

}  // namespace

TEST_F(TarrowHoldPipelineTest, PipelineCompletesPausedWithoutPrerollThenPlays) {
    GstElementPtr pipeline = Parse("videotestsrc num-buffers=30 ! tarrowhold ! fakesink");
    ASSERT_TRUE(pipeline);
    EXPECT_EQ(gst_element_set_state(pipeline.get(), GST_STATE_PAUSED), GST_STATE_CHANGE_NO_PREROLL);
    GstState state = GST_STATE_VOID_PENDING;
    EXPECT_EQ(gst_element_get_state(pipeline.get(), &state, nullptr, 5 * GST_SECOND),
              GST_STATE_CHANGE_NO_PREROLL);
    EXPECT_EQ(state, GST_STATE_PAUSED);
    std::string error;
    EXPECT_TRUE(RunToEos(pipeline.get(), &error)) << error;
}

TEST_F(TarrowHoldPipelineTest, PositionsTheSourceToTheRange) {
    struct Case {
        gint64 start, duration;
        double seconds;
    };
    const Case cases[] = {
        {0, 0, 3.0},                      // empty range: the source is not touched
        {kSecond, kSecond, 1.0},          // [1 s, 2 s]
        {2 * kSecond, 0, 1.0},            // duration 0: to the end
        {2 * kSecond, 5 * kSecond, 1.0},  // beyond the end: clipped to it
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string out = "range" + std::to_string(n++) + ".avi";
        GstElementPtr pipeline = Parse(VideoThroughHold(
            "start-point=" + std::to_string(c.start) + " duration=" + std::to_string(c.duration),
            out));
        ASSERT_TRUE(pipeline);
        std::string error;
        ASSERT_TRUE(RunToEos(pipeline.get(), &error)) << error;
        EXPECT_NEAR(WrittenSeconds(out), c.seconds, 0.15) << c.start << " " << c.duration;
    }
}

TEST_F(TarrowHoldPipelineTest, RangeChangedWhilePausedPositionsAtOnce) {
    GstElementPtr pipeline = Parse(VideoThroughHold("", "paused.avi"));
    ASSERT_TRUE(pipeline);
    GstElementPtr hold(gst_bin_get_by_name(GST_BIN(pipeline.get()), "t"));
    GstPadPtr input(gst_element_get_static_pad(hold.get(), "Input0"));

    // Wait until the first buffer reaches the (paused, hence closed) gate.
    std::promise<void> arrived;
    bool signalled = false;
    struct Probe {
        std::promise<void>* arrived;
        bool* signalled;
    } probe{&arrived, &signalled};
    gst_pad_add_probe(
        input.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer data) {
            auto* p = static_cast<Probe*>(data);
            if (!*p->signalled) {
                *p->signalled = true;
                p->arrived->set_value();
            }
            return GST_PAD_PROBE_REMOVE;
        },
        &probe, nullptr);
    EXPECT_EQ(gst_element_set_state(pipeline.get(), GST_STATE_PAUSED), GST_STATE_CHANGE_NO_PREROLL);
    ASSERT_EQ(arrived.get_future().wait_for(10s), std::future_status::ready);

    // The element asks upstream through "Input0".
    gint64 durationNs = 0;
    EXPECT_TRUE(gst_element_query_duration(hold.get(), GST_FORMAT_TIME, &durationNs));
    EXPECT_NEAR(durationNs / 1e9, 3.0, 0.1);

    g_object_set(hold.get(), "start-point", 2 * kSecond, nullptr);
    std::string error;
    ASSERT_TRUE(RunToEos(pipeline.get(), &error)) << error;
    EXPECT_NEAR(WrittenSeconds("paused.avi"), 1.0, 0.15);
}

TEST(TarrowRegistryTest, GstInspectFindsTheElementInAPrivateRegistry) {
    QTemporaryDir dir;
    gchar** env = g_get_environ();
    env = g_environ_setenv(env, "GST_PLUGIN_PATH", tarrowtest::PluginDir().c_str(), TRUE);
    env = g_environ_setenv(env, "GST_PLUGIN_SYSTEM_PATH_1_0", "", TRUE);
    env = g_environ_setenv(env, "GST_REGISTRY_1_0",
                           dir.filePath("registry.bin").toUtf8().constData(), TRUE);
    const gchar* argv[] = {"gst-inspect-1.0", "tarrowhold", nullptr};
    gchar* out = nullptr;
    gint status = -1;
    GError* error = nullptr;
    const gboolean ran = g_spawn_sync(nullptr, const_cast<gchar**>(argv), env, G_SPAWN_SEARCH_PATH,
                                      nullptr, nullptr, &out, nullptr, &status, &error);
    g_strfreev(env);
    GErrorPtr owned(error);
    ASSERT_TRUE(ran) << (error ? error->message : "");
    const std::string text = out ? out : "";
    g_free(out);
    EXPECT_TRUE(g_spawn_check_wait_status(status, nullptr)) << text;
    EXPECT_NE(text.find("VireoTarrow"), std::string::npos) << text;
    EXPECT_NE(text.find("none (0)"), std::string::npos) << text;
    EXPECT_NE(text.find("{4181034B-166C-4646-88DC-27EFFA735B9C}"), std::string::npos);
    EXPECT_NE(text.find("Input%d"), std::string::npos);
}
