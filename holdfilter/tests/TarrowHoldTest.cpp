// The hold element at pad level: pairs, caps, pass-through and the hold gate.

#include <gst/check/gstharness.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "TarrowRange.h"
#include "TarrowTestSupport.h"
#include "VireoProperties.h"

using namespace std::chrono_literals;
using tarrowtest::MakeHold;

namespace {

constexpr char kCaps[] = "video/x-raw,format=I420,width=16,height=16,framerate=25/1";

bool HasPad(GstElement* element, const char* name) {
    GstPadPtr pad(gst_element_get_static_pad(element, name));
    return pad != nullptr;
}

GstPadPtr StaticPad(GstElement* element, const char* name) {
    return GstPadPtr(gst_element_get_static_pad(element, name));
}

// A free-standing pad with fixed caps, standing in for a neighbour element.
GstPadPtr MakePeer(GstPadDirection direction, const char* caps) {
    GstPad* pad = gst_pad_new(direction == GST_PAD_SRC ? "peer-src" : "peer-sink", direction);
    if (caps) {
        g_object_set_data_full(G_OBJECT(pad), "caps", gst_caps_from_string(caps),
                               reinterpret_cast<GDestroyNotify>(gst_caps_unref));
        gst_pad_set_query_function(pad, [](GstPad* pad, GstObject*, GstQuery* query) -> gboolean {
            if (GST_QUERY_TYPE(query) != GST_QUERY_CAPS) return FALSE;
            gst_query_set_caps_result(
                query, static_cast<GstCaps*>(g_object_get_data(G_OBJECT(pad), "caps")));
            return TRUE;
        });
    }
    return GstPadPtr(GST_PAD(gst_object_ref_sink(pad)));
}

struct HarnessDeleter {
    void operator()(GstHarness* h) const { gst_harness_teardown(h); }
};
using HarnessPtr = std::unique_ptr<GstHarness, HarnessDeleter>;

// Pair 0 of a fresh element inside a harness with negotiated caps, and pair 1 beside it.
struct HoldHarness {
    HoldHarness() {
        pair0.reset(gst_harness_new_with_padnames("tarrowhold", "Input0", "Output0"));
        gst_harness_set_src_caps_str(pair0.get(), kCaps);
        pair1.reset(gst_harness_new_with_element(pair0->element, "Input1", "Output1"));
        gst_harness_set_src_caps_str(pair1.get(), kCaps);
    }
    GstElement* Element() const { return pair0->element; }
    GstStateChangeReturn SetState(GstState state) {
        return gst_element_set_state(Element(), state);
    }
    HarnessPtr pair0, pair1;
};

// Pushes on a thread of its own, since a held push blocks.
std::future<GstFlowReturn> PushAsync(GstHarness* h, GstBuffer* buffer) {
    return std::async(std::launch::async, [h, buffer] { return gst_harness_push(h, buffer); });
}

}  // namespace

TEST(TarrowHoldTest, PadPairsGrowOnLinkAndNeverShrink) {
    GstElementPtr hold = MakeHold();
    ASSERT_TRUE(hold);
    EXPECT_EQ(hold->numpads, 2);
    EXPECT_TRUE(HasPad(hold.get(), "Input0"));
    EXPECT_TRUE(HasPad(hold.get(), "Output0"));
    EXPECT_FALSE(HasPad(hold.get(), "Input1"));

    GstPadPtr upstream = MakePeer(GST_PAD_SRC, kCaps);
    GstPadPtr input0 = StaticPad(hold.get(), "Input0");
    ASSERT_EQ(gst_pad_link(upstream.get(), input0.get()), GST_PAD_LINK_OK);
    EXPECT_TRUE(HasPad(hold.get(), "Input1"));
    EXPECT_TRUE(HasPad(hold.get(), "Output1"));
    EXPECT_EQ(hold->numpads, 4);

    gst_pad_unlink(upstream.get(), input0.get());
    EXPECT_EQ(hold->numpads, 4);  // never removed
    ASSERT_EQ(gst_pad_link(upstream.get(), input0.get()), GST_PAD_LINK_OK);
    EXPECT_EQ(hold->numpads, 4);  // "Input1" is still free

    GstPadPtr upstream1 = MakePeer(GST_PAD_SRC, kCaps);
    GstPadPtr input1 = StaticPad(hold.get(), "Input1");
    ASSERT_EQ(gst_pad_link(upstream1.get(), input1.get()), GST_PAD_LINK_OK);
    EXPECT_TRUE(HasPad(hold.get(), "Input2"));
    EXPECT_TRUE(HasPad(hold.get(), "Output2"));
    gst_pad_unlink(upstream.get(), input0.get());
    gst_pad_unlink(upstream1.get(), input1.get());
}

TEST(TarrowHoldTest, OutputLinksOnlyAfterItsInputAndOffersItsCaps) {
    GstElementPtr hold = MakeHold();
    GstPadPtr output0 = StaticPad(hold.get(), "Output0");
    GstPadPtr downstream = MakePeer(GST_PAD_SINK, nullptr);

    GstCapsPtr offered(gst_pad_query_caps(output0.get(), nullptr));
    EXPECT_TRUE(gst_caps_is_empty(offered.get()));
    EXPECT_NE(gst_pad_link(output0.get(), downstream.get()), GST_PAD_LINK_OK);
    EXPECT_NE(gst_pad_link_full(output0.get(), downstream.get(), GST_PAD_LINK_CHECK_NOTHING),
              GST_PAD_LINK_OK);
    EXPECT_FALSE(gst_pad_is_linked(output0.get()));

    GstPadPtr upstream = MakePeer(GST_PAD_SRC, kCaps);
    GstPadPtr input0 = StaticPad(hold.get(), "Input0");
    ASSERT_EQ(gst_pad_link(upstream.get(), input0.get()), GST_PAD_LINK_OK);
    offered.reset(gst_pad_query_caps(output0.get(), nullptr));
    GstCapsPtr expected(gst_caps_from_string(kCaps));
    EXPECT_TRUE(gst_caps_is_equal(offered.get(), expected.get()));
    GstCapsPtr other(gst_caps_from_string("audio/x-raw"));
    EXPECT_FALSE(gst_pad_query_accept_caps(output0.get(), other.get()));
    EXPECT_EQ(gst_pad_link(output0.get(), downstream.get()), GST_PAD_LINK_OK);
    gst_pad_unlink(output0.get(), downstream.get());
    gst_pad_unlink(upstream.get(), input0.get());
}

TEST(TarrowHoldTest, NegotiatedOutputAcceptsOnlyTheInputCaps) {
    HoldHarness h;
    h.SetState(GST_STATE_PLAYING);
    ASSERT_EQ(gst_harness_push(h.pair0.get(), gst_harness_create_buffer(h.pair0.get(), 10)),
              GST_FLOW_OK);
    GstPadPtr output0 = StaticPad(h.Element(), "Output0");
    GstCapsPtr same(gst_caps_from_string(kCaps));
    GstCapsPtr larger(
        gst_caps_from_string("video/x-raw,format=I420,width=32,height=16,framerate=25/1"));
    EXPECT_TRUE(gst_pad_query_accept_caps(output0.get(), same.get()));
    EXPECT_FALSE(gst_pad_query_accept_caps(output0.get(), larger.get()));
    GstCapsPtr current(gst_pad_get_current_caps(output0.get()));
    ASSERT_TRUE(current);
    EXPECT_TRUE(gst_caps_is_equal(current.get(), same.get()));
}

TEST(TarrowHoldTest, PassesTheVeryBuffersAndEventsWhilePlaying) {
    HoldHarness h;
    EXPECT_EQ(h.SetState(GST_STATE_PLAYING), GST_STATE_CHANGE_SUCCESS);
    for (int i = 0; i < 3; ++i) {
        GstBuffer* sent = gst_harness_create_buffer(h.pair0.get(), 100);
        GST_BUFFER_PTS(sent) = i * GST_SECOND;
        ASSERT_EQ(gst_harness_push(h.pair0.get(), sent), GST_FLOW_OK);
        GstBuffer* received = gst_harness_try_pull(h.pair0.get());
        EXPECT_EQ(received, sent);  // zero copy: the same object
        EXPECT_EQ(GST_BUFFER_PTS(received), static_cast<GstClockTime>(i * GST_SECOND));
        gst_buffer_unref(received);
    }
    // Pair 1 carries its own stream and nothing of pair 0's.
    GstBuffer* sent = gst_harness_create_buffer(h.pair1.get(), 10);
    ASSERT_EQ(gst_harness_push(h.pair1.get(), sent), GST_FLOW_OK);
    GstBuffer* received = gst_harness_try_pull(h.pair1.get());
    EXPECT_EQ(received, sent);
    gst_buffer_unref(received);
    EXPECT_EQ(gst_harness_buffers_in_queue(h.pair0.get()), 0u);

    // Events travel along their own pair both ways.
    gst_harness_push_event(h.pair0.get(), gst_event_new_custom(GST_EVENT_CUSTOM_DOWNSTREAM,
                                                               gst_structure_new_empty("down")));
    bool sawDown = false;
    while (GstEvent* event = gst_harness_try_pull_event(h.pair0.get())) {
        sawDown |= GST_EVENT_TYPE(event) == GST_EVENT_CUSTOM_DOWNSTREAM;
        gst_event_unref(event);
    }
    EXPECT_TRUE(sawDown);
    EXPECT_TRUE(gst_harness_push_upstream_event(
        h.pair0.get(),
        gst_event_new_custom(GST_EVENT_CUSTOM_UPSTREAM, gst_structure_new_empty("up"))));
    bool sawUp = false;
    while (GstEvent* event = gst_harness_try_pull_upstream_event(h.pair0.get())) {
        sawUp |= GST_EVENT_TYPE(event) == GST_EVENT_CUSTOM_UPSTREAM;
        gst_event_unref(event);
    }
    EXPECT_TRUE(sawUp);
    while (GstEvent* event = gst_harness_try_pull_upstream_event(h.pair1.get())) {
        EXPECT_NE(GST_EVENT_TYPE(event), GST_EVENT_CUSTOM_UPSTREAM);
        gst_event_unref(event);
    }
}

TEST(TarrowHoldTest, HoldsWhilePausedAndReleasesOnPlaying) {
    HoldHarness h;
    EXPECT_EQ(h.SetState(GST_STATE_PAUSED), GST_STATE_CHANGE_NO_PREROLL);

    GstBuffer* sent = gst_harness_create_buffer(h.pair0.get(), 10);
    auto push = PushAsync(h.pair0.get(), sent);
    EXPECT_EQ(push.wait_for(200ms), std::future_status::timeout) << "not held while PAUSED";
    EXPECT_EQ(gst_harness_buffers_received(h.pair0.get()), 0u);

    h.SetState(GST_STATE_PLAYING);
    ASSERT_EQ(push.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(push.get(), GST_FLOW_OK);
    GstBuffer* received = gst_harness_try_pull(h.pair0.get());
    EXPECT_EQ(received, sent);  // resumes with the very buffer that was held
    gst_buffer_unref(received);

    // Back to PAUSED: the next buffer is held again.
    EXPECT_EQ(h.SetState(GST_STATE_PAUSED), GST_STATE_CHANGE_NO_PREROLL);
    push = PushAsync(h.pair0.get(), gst_harness_create_buffer(h.pair0.get(), 10));
    EXPECT_EQ(push.wait_for(200ms), std::future_status::timeout);

    // Stopping never deadlocks on the held streaming thread.
    auto stop = std::async(std::launch::async, [&h] { return h.SetState(GST_STATE_READY); });
    ASSERT_EQ(stop.wait_for(10s), std::future_status::ready) << "PAUSED->READY deadlocked";
    EXPECT_EQ(stop.get(), GST_STATE_CHANGE_SUCCESS);
    ASSERT_EQ(push.wait_for(10s), std::future_status::ready);
    push.get();
}

TEST(TarrowHoldTest, FlushReleasesTheHeldBufferAndLeavesTheGateOpen) {
    HoldHarness h;
    h.SetState(GST_STATE_PAUSED);
    auto push = PushAsync(h.pair0.get(), gst_harness_create_buffer(h.pair0.get(), 10));
    EXPECT_EQ(push.wait_for(200ms), std::future_status::timeout);

    gst_harness_push_event(h.pair0.get(), gst_event_new_flush_start());
    ASSERT_EQ(push.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(push.get(), GST_FLOW_FLUSHING);  // flushed data is dropped, not delivered
    EXPECT_EQ(gst_harness_buffers_received(h.pair0.get()), 0u);
    gst_harness_push_event(h.pair0.get(), gst_event_new_flush_stop(TRUE));
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    gst_harness_push_event(h.pair0.get(), gst_event_new_segment(&segment));

    // Still PAUSED, yet the gate stays open after a flush until the next pause.
    push = PushAsync(h.pair0.get(), gst_harness_create_buffer(h.pair0.get(), 10));
    ASSERT_EQ(push.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(push.get(), GST_FLOW_OK);
    EXPECT_EQ(gst_harness_buffers_received(h.pair0.get()), 1u);
}

TEST(TarrowHoldTest, EndOfStreamOnAnyPairReleasesEveryPair) {
    HoldHarness h;
    h.SetState(GST_STATE_PAUSED);
    GstBuffer* sent = gst_harness_create_buffer(h.pair0.get(), 10);
    auto push = PushAsync(h.pair0.get(), sent);
    EXPECT_EQ(push.wait_for(200ms), std::future_status::timeout);

    gst_harness_push_event(h.pair1.get(), gst_event_new_eos());
    ASSERT_EQ(push.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(push.get(), GST_FLOW_OK);
    GstBuffer* received = gst_harness_try_pull(h.pair0.get());
    EXPECT_EQ(received, sent);
    gst_buffer_unref(received);
}

TEST(TarrowHoldTest, RangePropertiesWriteThroughTheStore) {
    GstElementPtr hold = MakeHold();
    gpointer pointer = nullptr;
    g_object_get(hold.get(), "properties", &pointer, nullptr);
    auto* store = static_cast<IVireoProperties*>(pointer);
    ASSERT_NE(store, nullptr);
    std::uint32_t count = 0;
    store->GetNames(nullptr, &count);
    EXPECT_EQ(count, 0u);  // a fresh element has an empty store

    g_object_set(hold.get(), "start-point", G_GINT64_CONSTANT(10000000), nullptr);
    PropValue value;
    ASSERT_EQ(store->GetValue(tarrow::kStartPointKey, &value), S_OK);
    EXPECT_EQ(value.type, PropLongLong);
    EXPECT_EQ(value.value.longlongValue, 10000000);
    EXPECT_EQ(store->IsChanged(), S_OK);  // taken up at once by the notification

    // A client of the store: text values count too, and the element tells its listeners.
    int notified = 0;
    g_signal_connect(
        hold.get(), "notify::duration",
        G_CALLBACK(+[](GObject*, GParamSpec*, gpointer n) { ++*static_cast<int*>(n); }), &notified);
    store->SetString(tarrow::kDurationKey, "30000000");
    store->NotifyChanged();
    gint64 duration = 0;
    g_object_get(hold.get(), "duration", &duration, nullptr);
    EXPECT_EQ(duration, 30000000);
    EXPECT_EQ(notified, 1);
}

TEST(TarrowHoldTest, PersistedRangeThroughTheElement) {
    GstElementPtr saved = MakeHold();
    g_object_set(saved.get(), "start-point", G_GINT64_CONSTANT(10000000), "duration",
                 G_GINT64_CONSTANT(20000000), nullptr);
    GBytes* bytes = nullptr;
    g_signal_emit_by_name(saved.get(), "save-range", &bytes);
    ASSERT_NE(bytes, nullptr);
    gsize size = 0;
    const auto* data = static_cast<const std::uint8_t*>(g_bytes_get_data(bytes, &size));
    const tarrow::PersistedRange expected = tarrow::SaveRange(10000000, 20000000);
    ASSERT_EQ(size, expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), data));

    GstElementPtr loaded = MakeHold();
    gpointer pointer = nullptr;
    g_object_get(loaded.get(), "properties", &pointer, nullptr);
    auto* store = static_cast<IVireoProperties*>(pointer);
    gint result = E_FAIL;
    GBytes* truncated = g_bytes_new(data, size - 1);
    g_signal_emit_by_name(loaded.get(), "load-range", truncated, &result);
    EXPECT_EQ(result, VFW_E_INVALID_FILE_FORMAT);
    std::uint32_t count = 0;
    store->GetNames(nullptr, &count);
    EXPECT_EQ(count, 0u);  // a failed load changes nothing

    g_signal_emit_by_name(loaded.get(), "load-range", bytes, &result);
    EXPECT_EQ(result, S_OK);
    EXPECT_EQ(store->IsChanged(), S_FALSE);  // takes effect at the next run or change
    gint64 start = 0, duration = 0;
    g_object_get(loaded.get(), "start-point", &start, "duration", &duration, nullptr);
    EXPECT_EQ(start, 10000000);
    EXPECT_EQ(duration, 20000000);
    g_bytes_unref(truncated);
    g_bytes_unref(bytes);
}
