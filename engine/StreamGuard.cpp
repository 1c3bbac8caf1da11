#include "StreamGuard.h"

#include <cstring>

#include "GstIteration.h"

GST_DEBUG_CATEGORY_STATIC(kestrine_stream_guard);
#define GST_CAT_DEFAULT kestrine_stream_guard

namespace {

using GuardPtr = std::shared_ptr<CStreamGuard>;

bool IsFactory(GstElement* element, const char* name) {
    GstElementFactory* factory = gst_element_get_factory(element);
    return factory && std::strcmp(GST_OBJECT_NAME(factory), name) == 0;
}

// The state of one watched pad (its streaming thread only).
struct PadWatch {
    GuardPtr guard;
    int kind = -1;  // CStreamGuard::Kind, -1 until the caps say
    GstSegment segment;
    GstClockTime lastEnd = GST_CLOCK_TIME_NONE;  // running time, ns
    bool ended = false;

    explicit PadWatch(GuardPtr g, int k = -1) : guard(std::move(g)), kind(k) {
        gst_segment_init(&segment, GST_FORMAT_UNDEFINED);
    }
};

void FreeWatch(gpointer watch) {
    delete static_cast<PadWatch*>(watch);
}

constexpr GstPadProbeType kDataProbe =
    GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                    GST_PAD_PROBE_TYPE_EVENT_FLUSH);

// Ends the stream at pad: an end-of-stream goes downstream and later data is dropped.
GstPadProbeReturn EndHere(GstPad* pad, PadWatch* watch) {
    // Our own end-of-stream passes the probe (ended is still false); later ones do not.
    gst_pad_push_event(pad, gst_event_new_eos());
    watch->ended = true;
    return GST_PAD_PROBE_DROP;
}

// Events common to both probes; returns true when the event is to be dropped.
bool TakeEvent(GstPadProbeInfo* info, PadWatch* watch) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_CAPS:
            if (watch->kind < 0) {
                GstCaps* caps = nullptr;
                gst_event_parse_caps(event, &caps);
                const char* name = caps && gst_caps_get_size(caps)
                                       ? gst_structure_get_name(gst_caps_get_structure(caps, 0))
                                       : "";
                if (g_str_has_prefix(name, "video/")) watch->kind = CStreamGuard::kVideo;
                if (g_str_has_prefix(name, "audio/")) watch->kind = CStreamGuard::kAudio;
            }
            return false;
        case GST_EVENT_SEGMENT:
            gst_event_copy_segment(event, &watch->segment);
            return false;
        case GST_EVENT_FLUSH_STOP:
            watch->lastEnd = GST_CLOCK_TIME_NONE;
            watch->ended = false;
            return false;
        case GST_EVENT_EOS:
            return watch->ended;
        default:
            return false;
    }
}

// Running time of the buffer's start, GST_CLOCK_TIME_NONE when it has none.
GstClockTime StartOf(GstPadProbeInfo* info, const PadWatch* watch) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer || !GST_BUFFER_PTS_IS_VALID(buffer) || watch->segment.format != GST_FORMAT_TIME)
        return GST_CLOCK_TIME_NONE;
    return gst_segment_to_running_time(&watch->segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
}

// A decoded stream: cut at a forward jump of more than kMaxGap.
GstPadProbeReturn OnDecoded(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* watch = static_cast<PadWatch*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_BOTH)
        return TakeEvent(info, watch) ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
    if (watch->ended) return GST_PAD_PROBE_DROP;
    const GstClockTime start = StartOf(info, watch);
    if (!GST_CLOCK_TIME_IS_VALID(start)) return GST_PAD_PROBE_OK;
    if (GST_CLOCK_TIME_IS_VALID(watch->lastEnd) && start > watch->lastEnd + CStreamGuard::kMaxGap) {
        GST_WARNING_OBJECT(pad,
                           "time stamp jumps from %" GST_TIME_FORMAT " to %" GST_TIME_FORMAT
                           "; the stream ends here",
                           GST_TIME_ARGS(watch->lastEnd), GST_TIME_ARGS(start));
        if (watch->kind >= 0) watch->guard->Cut(CStreamGuard::Kind(watch->kind), watch->lastEnd);
        return EndHere(pad, watch);
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const GstClockTime end =
        GST_BUFFER_DURATION_IS_VALID(buffer) ? start + GST_BUFFER_DURATION(buffer) : start;
    if (!GST_CLOCK_TIME_IS_VALID(watch->lastEnd) || end > watch->lastEnd) watch->lastEnd = end;
    return GST_PAD_PROBE_OK;
}

// A group's output: ends where a decoded stream of its kind was cut. The front end would fill
// the rest of the clip's stated length with repeated frames or silence.
GstPadProbeReturn OnGroupOutput(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* watch = static_cast<PadWatch*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_BOTH)
        return TakeEvent(info, watch) ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
    if (watch->ended) return GST_PAD_PROBE_DROP;
    const GstClockTime cut = watch->guard->CutTime(CStreamGuard::Kind(watch->kind));
    const GstClockTime start = StartOf(info, watch);
    if (!GST_CLOCK_TIME_IS_VALID(cut) || !GST_CLOCK_TIME_IS_VALID(start) || start < cut)
        return GST_PAD_PROBE_OK;
    GST_INFO_OBJECT(pad, "ends at %" GST_TIME_FORMAT ", where its decoded stream was cut",
                    GST_TIME_ARGS(cut));
    return EndHere(pad, watch);
}

void OnDecodedPad(GstElement*, GstPad* pad, gpointer guard) {
    gst_pad_add_probe(pad, kDataProbe, OnDecoded, new PadWatch(*static_cast<GuardPtr*>(guard)),
                      FreeWatch);
}

// Guards one element, once: an element can be met again when a bin's children change while they
// are walked.
void Take(GstElement* element, const GuardPtr& guard) {
    const bool rate = IsFactory(element, "videorate"), decoder = IsFactory(element, "decodebin");
    if ((!rate && !decoder) || g_object_get_data(G_OBJECT(element), "kestrine-guarded")) return;
    g_object_set_data(G_OBJECT(element), "kestrine-guarded", GINT_TO_POINTER(1));
    if (rate) CStreamGuard::BoundDuplication(element);
    if (decoder)
        g_signal_connect_data(
            element, "pad-added", G_CALLBACK(OnDecodedPad), new GuardPtr(guard),
            [](gpointer data, GClosure*) { delete static_cast<GuardPtr*>(data); },
            GConnectFlags(0));
}

void OnElementAdded(GstBin*, GstBin*, GstElement* element, gpointer data) {
    const GuardPtr& guard = *static_cast<GuardPtr*>(data);
    Take(element, guard);
    // A bin added with its children in place (a source of the editing services) announces only
    // itself.
    if (GST_IS_BIN(element))
        ForEachObject(gst_bin_iterate_recurse(GST_BIN(element)), [&](gpointer child) {
            Take(GST_ELEMENT(child), guard);
            return true;
        });
}

}  // namespace

std::shared_ptr<CStreamGuard> CStreamGuard::Install(GstElement* pipeline) {
    static gsize once = 0;
    if (g_once_init_enter(&once)) {
        GST_DEBUG_CATEGORY_INIT(kestrine_stream_guard, "kestrinestreamguard", 0,
                                "Kestrine: ends decoded streams at damaged time stamps");
        g_once_init_leave(&once, 1);
    }
    auto guard = std::make_shared<CStreamGuard>();
    g_signal_connect_data(
        pipeline, "deep-element-added", G_CALLBACK(OnElementAdded), new GuardPtr(guard),
        [](gpointer data, GClosure*) { delete static_cast<GuardPtr*>(data); }, GConnectFlags(0));
    return guard;
}

void CStreamGuard::WatchGroupOutput(GstPad* pad, Kind kind) {
    gst_pad_add_probe(pad, kDataProbe, OnGroupOutput, new PadWatch(shared_from_this(), kind),
                      FreeWatch);
}

void CStreamGuard::BoundDuplication(GstElement* videorate) {
    g_object_set(videorate, "max-duplication-time", guint64(kMaxGap), nullptr);
}

void CStreamGuard::Cut(Kind kind, GstClockTime at) {
    guint64 current = m_cut[kind].load();
    while ((current == GST_CLOCK_TIME_NONE || at < current) &&
           !m_cut[kind].compare_exchange_weak(current, at)) {
    }
}
