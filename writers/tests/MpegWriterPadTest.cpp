// The MPEG writer's pads driven directly with GstHarness: what it refuses, the wait that keeps
// its two inputs interleaved, and the order in which its failure reaches the bus.
#include <gst/check/gstharness.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>

#include "GstPtr.h"
#include "MediaFramework.h"
#include "WriterPipeline.h"

using namespace std::chrono_literals;

namespace {

constexpr const char* kVideoCaps = "video/x-raw,format=I420,width=64,height=48,framerate=25/1";
constexpr const char* kAudioCaps =
    "audio/x-raw,format=S16LE,layout=interleaved,rate=48000,channels=2";
constexpr GstClockTime kFrame = GST_SECOND / 25;
constexpr gsize kFrameBytes = 64 * 48 * 3 / 2;

struct HarnessDeleter {
    void operator()(GstHarness* h) const { gst_harness_teardown(h); }
};
using HarnessPtr = std::unique_ptr<GstHarness, HarnessDeleter>;

// A writer (generic MPEG-1) with a harness on each input; both inputs are linked when the run
// starts, as in the engine's graphs. Caps are left to the test.
class MpegWriterPadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(InitMediaFramework(), S_OK);
        ASSERT_TRUE(m_dir.isValid());
        GstElement* writer = gst_element_factory_make("kestrinempegwriter", nullptr);
        ASSERT_NE(writer, nullptr);
        g_object_set(writer, "preset", 0, "location",
                     m_dir.filePath("out.mpg").toUtf8().constData(), nullptr);
        m_bus.reset(gst_bus_new());
        gst_element_set_bus(writer, m_bus.get());
        m_video.reset(gst_harness_new_with_element(writer, "Video Input", nullptr));
        m_audio.reset(gst_harness_new_with_element(writer, "Audio Input", nullptr));
        m_writer = writer;
        // The first harness started the run with one input linked: start it again with both.
        Restart();
    }

    // A new run on the same element; the harnesses' ended or flushing inputs are reset.
    void Restart() {
        gst_element_set_state(m_writer, GST_STATE_READY);
        for (GstHarness* h : {m_video.get(), m_audio.get()}) {
            gst_harness_push_event(h, gst_event_new_flush_start());
            gst_harness_push_event(h, gst_event_new_flush_stop(TRUE));
        }
        gst_harness_play(m_video.get());
    }

    void SetCaps() {
        gst_harness_set_src_caps_str(m_video.get(), kVideoCaps);
        gst_harness_set_src_caps_str(m_audio.get(), kAudioCaps);
    }

    GstFlowReturn PushVideo(GstClockTime pts) {
        // Noise, so that the file grows quickly.
        GstBuffer* buffer = gst_harness_create_buffer(m_video.get(), kFrameBytes);
        GstMapInfo map;
        gst_buffer_map(buffer, &map, GST_MAP_WRITE);
        for (gsize i = 0; i < map.size; ++i) map.data[i] = static_cast<guint8>(g_random_int());
        gst_buffer_unmap(buffer, &map);
        GST_BUFFER_PTS(buffer) = pts;
        GST_BUFFER_DURATION(buffer) = kFrame;
        return gst_harness_push(m_video.get(), buffer);
    }

    // 20 ms of silence.
    GstFlowReturn PushAudio(GstClockTime pts) {
        GstBuffer* buffer = gst_harness_create_buffer(m_audio.get(), 960 * 4);
        gst_buffer_memset(buffer, 0, 0, 960 * 4);
        GST_BUFFER_PTS(buffer) = pts;
        GST_BUFFER_DURATION(buffer) = 20 * GST_MSECOND;
        return gst_harness_push(m_audio.get(), buffer);
    }

    // The text of the first error message the writer posted, "" when none is waiting.
    // Both inputs' threads may ask at once: the look and the pop of the messages before the
    // error must not interleave, or one thread pops the error the other has just looked at.
    std::string PeekError() {
        std::lock_guard<std::mutex> lock(m_busLock);
        GstMessagePtr message(gst_bus_peek(m_bus.get()));
        while (message && GST_MESSAGE_TYPE(message.get()) != GST_MESSAGE_ERROR) {
            message.reset(gst_bus_pop(m_bus.get()));
            message.reset(gst_bus_peek(m_bus.get()));
        }
        if (!message) return {};
        GError* raw = nullptr;
        gst_message_parse_error(message.get(), &raw, nullptr);
        GErrorPtr error(raw);
        return error ? error->message : "error";
    }

    QTemporaryDir m_dir;
    std::mutex m_busLock;
    GstBusPtr m_bus;
    HarnessPtr m_video, m_audio;
    GstElement* m_writer = nullptr;  // held by the harnesses
};

// Data before caps is refused as not negotiated; a second, different format on an input that
// is already encoding is refused with the writer's own message. Caps that differ only in what
// neither the encoder nor the reading of the frames uses (chroma siting, colorimetry) go on.
TEST_F(MpegWriterPadTest, RefusesDataBeforeCapsAndAChangedFormat) {
    GstPadPtr videoInput(gst_element_get_static_pad(m_writer, "Video Input"));
    EXPECT_EQ(
        gst_pad_chain(videoInput.get(), gst_buffer_new_allocate(nullptr, kFrameBytes, nullptr)),
        GST_FLOW_NOT_NEGOTIATED);

    Restart();
    SetCaps();
    ASSERT_EQ(PushAudio(0), GST_FLOW_OK);
    ASSERT_EQ(PushVideo(0), GST_FLOW_OK);
    gst_harness_set_src_caps_str(
        m_video.get(), (std::string(kVideoCaps) + ",chroma-site=mpeg2,colorimetry=bt601").c_str());
    EXPECT_EQ(PushVideo(kFrame), GST_FLOW_OK);
    EXPECT_EQ(PeekError(), "");
    gst_harness_set_src_caps_str(m_video.get(),
                                 "video/x-raw,format=I420,width=96,height=48,framerate=25/1");
    EXPECT_NE(PushVideo(2 * kFrame), GST_FLOW_OK);
    EXPECT_NE(PeekError().find("cannot change"), std::string::npos) << PeekError();
}

// An input more than a second ahead of the other waits for it; the other input's end and a
// flush release the wait at once (well before the writer gives up on a stalled input, 1 s).
TEST_F(MpegWriterPadTest, InterleaveWaitIsReleasedByEosAndByFlushing) {
    for (bool byEos : {true, false}) {
        SCOPED_TRACE(byEos ? "EOS" : "flush");
        Restart();
        SetCaps();
        ASSERT_EQ(PushAudio(0), GST_FLOW_OK);
        // Up to a second ahead of the audio: no wait.
        for (int i = 0; i < 25; ++i) ASSERT_EQ(PushVideo(i * kFrame), GST_FLOW_OK);

        auto ahead = std::async(std::launch::async, [this] { return PushVideo(3 * GST_SECOND); });
        ASSERT_EQ(ahead.wait_for(300ms), std::future_status::timeout) << "did not wait";
        if (byEos) {
            gst_harness_push_event(m_audio.get(), gst_event_new_eos());
        } else {
            gst_harness_push_event(m_video.get(), gst_event_new_flush_start());
        }
        ASSERT_EQ(ahead.wait_for(600ms), std::future_status::ready) << "still waiting";
        EXPECT_EQ(ahead.get(), byEos ? GST_FLOW_OK : GST_FLOW_FLUSHING);
    }
}

// A write that fails while both inputs stream: each input's error return comes only after the
// writer's own message is on the bus, so upstream's generic "Internal data stream error" can
// never be the first error the application sees.
TEST_F(MpegWriterPadTest, ErrorMessageIsOnTheBusBeforeAnInputFails) {
    SetCaps();
    std::atomic<bool> stop{false};
    auto pushUntilFailure = [&](bool video) {
        for (int i = 0; i < 2000 && !stop; ++i) {
            GstClockTime pts = video ? i * kFrame : i * 20 * GST_MSECOND;
            GstFlowReturn flow = video ? PushVideo(pts) : PushAudio(pts);
            if (flow != GST_FLOW_OK) {
                stop = true;
                return std::make_pair(flow, PeekError());
            }
        }
        return std::make_pair(GST_FLOW_OK, std::string());
    };
    std::pair<GstFlowReturn, std::string> video, audio;
    {
        writertest::FileSizeLimit limit(48 * 1024);
        auto audioRun = std::async(std::launch::async, pushUntilFailure, false);
        video = pushUntilFailure(true);
        audio = audioRun.get();
    }
    ASSERT_EQ(video.first, GST_FLOW_ERROR);
    EXPECT_NE(video.second.find("File too large"), std::string::npos) << video.second;
    if (audio.first != GST_FLOW_OK) {
        EXPECT_EQ(audio.first, GST_FLOW_ERROR);
        EXPECT_NE(audio.second.find("File too large"), std::string::npos) << audio.second;
    }
    EXPECT_EQ(PushAudio(60 * GST_SECOND), GST_FLOW_ERROR);
}

}  // namespace
