// The hold element's range on an MPEG-2 program stream with picture and sound: every frame and
// audio block stamped inside the range reaches the outputs and nothing else, both pairs of one
// source are positioned by one seek and start together, and pairs linked while playing are
// positioned without flushing the others. The source's own time stamps come from ffprobe.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <future>
#include <mutex>
#include <vector>

#include "TarrowTestSupport.h"
#include "TestMedia.h"

using namespace std::chrono_literals;
using tarrowtest::WaitForMessage;

namespace {

constexpr gint64 kSecond = 10000000;  // reference time (100 ns)
constexpr GstClockTime kFrame = 40 * GST_MSECOND;
constexpr GstClockTime kSlack = GST_MSECOND;  // ffprobe prints microseconds

// What reaches one sink: buffer time stamps, flush-stops and the segment in force.
struct Received {
    std::mutex lock;
    std::vector<GstClockTime> pts;
    int flushes = 0;
    GstSegment segment;
    std::promise<void> first;

    Received() { gst_segment_init(&segment, GST_FORMAT_UNDEFINED); }
    GstClockTime FirstRunningTime() {
        return gst_segment_to_running_time(&segment, GST_FORMAT_TIME, pts.front());
    }
};

void Record(GstElement* sink, Received* received) {
    GstPadPtr pad(gst_element_get_static_pad(sink, "sink"));
    const auto types = static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                    GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                    GST_PAD_PROBE_TYPE_EVENT_FLUSH);
    gst_pad_add_probe(
        pad.get(), types,
        [](GstPad*, GstPadProbeInfo* info, gpointer data) {
            auto* r = static_cast<Received*>(data);
            std::lock_guard<std::mutex> lock(r->lock);
            if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
                buffer && (info->type & GST_PAD_PROBE_TYPE_BUFFER)) {
                if (r->pts.empty()) r->first.set_value();
                r->pts.push_back(GST_BUFFER_PTS(buffer));
            } else if (GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info)) {
                if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) ++r->flushes;
                if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
                    const GstSegment* segment = nullptr;
                    gst_event_parse_segment(event, &segment);
                    gst_segment_copy_into(segment, &r->segment);
                }
            }
            return GST_PAD_PROBE_OK;
        },
        received, nullptr);
}

GstElementPtr Parse(const std::string& description) {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    GErrorPtr owned(error);
    EXPECT_EQ(error, nullptr) << (error ? error->message : "");
    if (pipeline) gst_object_ref_sink(pipeline);
    return GstElementPtr(pipeline);
}

GstElement* ByName(GstElement* pipeline, const char* name) {
    GstElement* element = gst_bin_get_by_name(GST_BIN(pipeline), name);
    if (element) gst_object_unref(element);  // the pipeline keeps it alive
    return element;
}

// Waits for the end (bounded) and stops; the error text when it did not end well.
std::string FinishRun(GstElement* pipeline) {
    GstMessagePtr message = WaitForMessage(pipeline, GST_MESSAGE_EOS | GST_MESSAGE_ERROR, 60000);
    std::string error;
    if (!message) {
        error = "no end of stream within 60 s";
    } else if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
        GError* e = nullptr;
        gst_message_parse_error(message.get(), &e, nullptr);
        error = e ? e->message : "error";
        g_clear_error(&e);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return error;
}

// The time stamps of the decoded frames of one stream ("v" or "a") of the source, in ns, in
// presentation order.
std::vector<GstClockTime> SourceStamps(const QString& clip, const char* stream) {
    QString out;
    testmedia::RunProgram("ffprobe",
                          {"-v", "error", "-select_streams", stream, "-show_entries",
                           "frame=best_effort_timestamp_time", "-of", "csv=p=0", clip},
                          &out);
    std::vector<GstClockTime> stamps;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        bool ok = false;
        const double seconds = line.section(QLatin1Char(','), 0, 0).trimmed().toDouble(&ok);
        if (ok) stamps.push_back(static_cast<GstClockTime>(seconds * GST_SECOND + 0.5));
    }
    std::sort(stamps.begin(), stamps.end());
    return stamps;
}

// Those stamped in [start, stop); stop GST_CLOCK_TIME_NONE: to the end.
std::vector<GstClockTime> InRange(const std::vector<GstClockTime>& stamps, GstClockTime start,
                                  GstClockTime stop) {
    std::vector<GstClockTime> kept;
    for (GstClockTime t : stamps)
        if (t >= start && (stop == GST_CLOCK_TIME_NONE || t < stop)) kept.push_back(t);
    return kept;
}

GstClockTime Distance(GstClockTime a, GstClockTime b) {
    return a > b ? a - b : b - a;
}

class TarrowHoldRangeTest : public ::testing::Test {
protected:
    // 6 s of MPEG-2 (groups of 15 pictures) and MP2 in a program stream: its demuxer positions
    // by the clock reference, not by key frames.
    static void SetUpTestSuite() {
        dir = new QTemporaryDir;
        clip = dir->filePath("range.mpg");
        const int rc = testmedia::RunFfmpeg(
            {"-f", "lavfi", "-i", "testsrc=size=176x144:rate=25:duration=6", "-f", "lavfi", "-i",
             "sine=frequency=440:sample_rate=48000:duration=6", "-c:v", "mpeg2video", "-g", "15",
             "-b:v", "600k", "-c:a", "mp2", "-f", "vob", clip});
        // The same pictures without sound, for a second source.
        pictures = dir->filePath("pictures.mpg");
        if (rc != 0 ||
            testmedia::RunFfmpeg({"-i", clip, "-an", "-c", "copy", "-f", "vob", pictures}) != 0)
            clip.clear();
    }
    static void TearDownTestSuite() { delete dir; }
    void SetUp() override { ASSERT_FALSE(clip.isEmpty()) << "no test clip"; }

    static std::string Source(const QString& file = clip) {
        return "filesrc location=\"" + file.toStdString() + "\" ! decodebin";
    }

    static inline QTemporaryDir* dir = nullptr;
    static inline QString clip, pictures;
};

}  // namespace

TEST_F(TarrowHoldRangeTest, EveryFrameAndAudioBlockOfTheRangeAndNothingElse) {
    const auto video = SourceStamps(clip, "v");
    const auto audio = SourceStamps(clip, "a");
    ASSERT_GT(video.size(), 140u);
    ASSERT_GT(audio.size(), 200u);
    struct Case {
        const char* name;
        gint64 start, duration;  // reference time
    };
    const Case cases[] = {
        {"middle", 3 * kSecond, kSecond},
        {"at the start", 0, kSecond},
        {"to the end", 9 * kSecond / 2, 0},
        {"past the end", 5 * kSecond, 5 * kSecond},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GstElementPtr pipeline =
            Parse(Source() + " name=d tarrowhold name=t start-point=" + std::to_string(c.start) +
                  " duration=" + std::to_string(c.duration) +
                  " d. ! video/x-raw ! queue ! t.Input0 t.Output0 ! fakesink name=v sync=false"
                  " d. ! audio/x-raw ! queue ! t.Input1 t.Output1 ! fakesink name=a sync=false");
        ASSERT_TRUE(pipeline);
        Received gotVideo, gotAudio;
        Record(ByName(pipeline.get(), "v"), &gotVideo);
        Record(ByName(pipeline.get(), "a"), &gotAudio);
        gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
        ASSERT_EQ(FinishRun(pipeline.get()), "");

        const GstClockTime start = c.start * 100;
        const GstClockTime stop = c.duration ? (c.start + c.duration) * 100 : GST_CLOCK_TIME_NONE;
        const std::pair<Received*, std::vector<GstClockTime>> streams[] = {
            {&gotVideo, InRange(video, start, stop)}, {&gotAudio, InRange(audio, start, stop)}};
        for (const auto& [got, expected] : streams) {
            ASSERT_FALSE(got->pts.empty());
            EXPECT_EQ(got->pts.size(), expected.size());
            EXPECT_LE(Distance(got->pts.front(), expected.front()), kSlack)
                << got->pts.front() << " " << expected.front();
            EXPECT_LE(Distance(got->pts.back(), expected.back()), kSlack)
                << got->pts.back() << " " << expected.back();
            // The range's start is running time zero.
            EXPECT_LE(Distance(got->FirstRunningTime(), expected.front() - start), kSlack);
            // One seek for the source of both pairs: one flush each.
            EXPECT_EQ(got->flushes, 1);
        }
        EXPECT_LT(Distance(gotVideo.FirstRunningTime(), gotAudio.FirstRunningTime()), kFrame);
    }
}

TEST_F(TarrowHoldRangeTest, PairsLinkedWhilePlayingAreInTheRangeWithoutFlushingTheOthers) {
    const GstClockTime start = 2 * GST_SECOND, stop = 4 * GST_SECOND;
    const auto expected = InRange(SourceStamps(clip, "v"), start, stop);
    // Pair 0 plays in real time, so that the others join while it runs.
    GstElementPtr pipeline =
        Parse(Source() + " name=d tarrowhold name=t start-point=" + std::to_string(2 * kSecond) +
              " duration=" + std::to_string(2 * kSecond) +
              " d. ! video/x-raw ! tee name=tee ! queue ! t.Input0 t.Output0 ! fakesink name=v0"
              " d. ! audio/x-raw ! fakesink");
    ASSERT_TRUE(pipeline);
    GstElement* hold = ByName(pipeline.get(), "t");
    Received first, sameSource, otherSource;
    Record(ByName(pipeline.get(), "v0"), &first);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    ASSERT_EQ(first.first.get_future().wait_for(20s), std::future_status::ready);

    // Adds a branch from upstream to the next free pair and a sink behind it, while playing.
    auto join = [&](GstElement* upstream, GstPad* upstreamPad, Received* received) {
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        g_object_set(sink, "sync", FALSE, nullptr);
        gst_bin_add(GST_BIN(pipeline.get()), sink);
        Record(sink, received);
        const int pair = GST_ELEMENT(hold)->numsinkpads - 1;
        const std::string input = "Input" + std::to_string(pair);
        const std::string output = "Output" + std::to_string(pair);
        GstPadPtr in(gst_element_get_static_pad(hold, input.c_str()));
        ASSERT_EQ(gst_pad_link(upstreamPad, in.get()), GST_PAD_LINK_OK);
        ASSERT_TRUE(gst_element_link_pads(hold, output.c_str(), sink, "sink"));
        gst_element_sync_state_with_parent(sink);
        gst_element_sync_state_with_parent(upstream);
    };
    // From the same source through the tee: already positioned.
    GstElement* queue = gst_element_factory_make("queue", nullptr);
    gst_bin_add(GST_BIN(pipeline.get()), queue);
    GstPadPtr queueSrc(gst_element_get_static_pad(queue, "src"));
    join(queue, queueSrc.get(), &sameSource);
    ASSERT_TRUE(gst_element_link(ByName(pipeline.get(), "tee"), queue));
    // From a second source, in a bin of its own: positioned by a seek of its own.
    GError* error = nullptr;
    GstElement* bin = gst_parse_bin_from_description(
        (Source(pictures) + " ! queue name=q2").c_str(), FALSE, &error);
    GErrorPtr owned(error);
    ASSERT_TRUE(bin) << (error ? error->message : "");
    gst_bin_add(GST_BIN(pipeline.get()), bin);
    GstPadPtr queue2Src(gst_element_get_static_pad(ByName(bin, "q2"), "src"));
    GstPad* binSrc = gst_ghost_pad_new("src", queue2Src.get());
    gst_element_add_pad(bin, binSrc);
    join(bin, binSrc, &otherSource);
    ASSERT_EQ(FinishRun(pipeline.get()), "");

    EXPECT_EQ(first.flushes, 1);  // its own seek only
    EXPECT_EQ(first.pts.size(), expected.size());
    EXPECT_EQ(sameSource.flushes, 0);
    ASSERT_FALSE(sameSource.pts.empty());
    EXPECT_GE(sameSource.pts.front(), start);
    EXPECT_LT(sameSource.pts.back(), stop);
    EXPECT_EQ(otherSource.flushes, 1);
    ASSERT_FALSE(otherSource.pts.empty());
    EXPECT_EQ(otherSource.pts.size(), expected.size());
    EXPECT_LE(Distance(otherSource.pts.front(), expected.front()), kSlack);
    EXPECT_LE(Distance(otherSource.pts.back(), expected.back()), kSlack);
}
