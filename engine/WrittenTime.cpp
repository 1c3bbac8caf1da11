#include "WrittenTime.h"

#include <algorithm>

CWrittenTime::~CWrittenTime() {
    Clear();
}

void CWrittenTime::Clear() {
    // Removing a probe waits for a running callback to return, so the stream state can go after.
    for (auto& s : m_streams)
        if (s->probe) gst_pad_remove_probe(s->pad.get(), s->probe);
    m_streams.clear();
}

void CWrittenTime::Watch(GstPad* pad) {
    if (!pad) return;
    auto stream = std::make_unique<Stream>();
    stream->pad.reset(GST_PAD(gst_object_ref(pad)));
    gst_segment_init(&stream->segment, GST_FORMAT_TIME);
    // A stream that already runs has its segment stuck on the pad; the probe sees only later ones.
    if (GstEvent* sticky = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0)) {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(sticky, &segment);
        if (segment->format == GST_FORMAT_TIME) gst_segment_copy_into(segment, &stream->segment);
        gst_event_unref(sticky);
    }
    stream->probe = gst_pad_add_probe(
        pad,
        GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST |
                        GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
        &CWrittenTime::OnProbe, stream.get(), nullptr);
    m_streams.push_back(std::move(stream));
}

void CWrittenTime::Account(Stream* s, GstBuffer* buffer) {
    s->buffers.fetch_add(1, std::memory_order_relaxed);
    GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(pts)) pts = GST_BUFFER_DTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(pts)) return;
    GstClockTime end = pts;
    if (GST_BUFFER_DURATION_IS_VALID(buffer)) end += GST_BUFFER_DURATION(buffer);
    // Encoders may shift their segment (1000 hours is common); running time undoes that.
    GstClockTime running = gst_segment_to_running_time(&s->segment, GST_FORMAT_TIME, end);
    if (!GST_CLOCK_TIME_IS_VALID(running)) running = end;
    std::uint64_t latest = s->latest.load(std::memory_order_relaxed);
    if (latest == GST_CLOCK_TIME_NONE || running > latest)
        s->latest.store(running, std::memory_order_relaxed);
    if (running > s->end.load(std::memory_order_relaxed))
        s->end.store(running, std::memory_order_relaxed);
    s->started.store(true, std::memory_order_release);
}

GstPadProbeReturn CWrittenTime::OnProbe(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* s = static_cast<Stream*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        Account(s, GST_PAD_PROBE_INFO_BUFFER(info));
    } else if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        for (guint i = 0, n = gst_buffer_list_length(list); i < n; ++i)
            Account(s, gst_buffer_list_get(list, i));
    } else if (info->type & GST_PAD_PROBE_TYPE_EVENT_BOTH) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        switch (GST_EVENT_TYPE(event)) {
            case GST_EVENT_SEGMENT: {
                const GstSegment* segment = nullptr;
                gst_event_parse_segment(event, &segment);
                if (segment->format == GST_FORMAT_TIME) gst_segment_copy_into(segment, &s->segment);
                break;
            }
            case GST_EVENT_EOS:
                s->ended.store(true, std::memory_order_release);
                break;
            case GST_EVENT_FLUSH_STOP:
                s->ended.store(false, std::memory_order_release);
                gst_segment_init(&s->segment, GST_FORMAT_TIME);
                break;
            default:
                break;
        }
    }
    return GST_PAD_PROBE_OK;
}

GstClockTime CWrittenTime::Position() const {
    bool any = false, allEnded = true;
    GstClockTime least = GST_CLOCK_TIME_NONE, greatest = 0;
    for (const auto& s : m_streams) {
        if (!s->started.load(std::memory_order_acquire) &&
            !s->ended.load(std::memory_order_acquire)) {
            // A stream that has delivered nothing holds the written time at its start.
            allEnded = false;
            least = 0;
            any = true;
            continue;
        }
        GstClockTime end = s->end.load(std::memory_order_relaxed);
        greatest = std::max(greatest, end);
        any = true;
        if (s->ended.load(std::memory_order_acquire)) continue;
        allEnded = false;
        least = least == GST_CLOCK_TIME_NONE ? end : std::min(least, end);
    }
    if (!any) return GST_CLOCK_TIME_NONE;
    return allEnded ? greatest : least;
}

bool CWrittenTime::AllReached(GstClockTime time) const {
    return std::all_of(m_streams.begin(), m_streams.end(), [time](const auto& s) {
        return s->ended.load(std::memory_order_acquire) ||
               (s->started.load(std::memory_order_acquire) &&
                s->end.load(std::memory_order_relaxed) >= time);
    });
}

bool CWrittenTime::AllEnded() const {
    return !m_streams.empty() && std::all_of(m_streams.begin(), m_streams.end(), [](const auto& s) {
        return s->ended.load(std::memory_order_acquire);
    });
}

std::uint64_t CWrittenTime::Buffers() const {
    std::uint64_t n = 0;
    for (const auto& s : m_streams) n += s->buffers.load(std::memory_order_relaxed);
    return n;
}

GstClockTime CWrittenTime::Latest() const {
    GstClockTime latest = GST_CLOCK_TIME_NONE;
    for (const auto& s : m_streams) {
        GstClockTime t = s->latest.load(std::memory_order_relaxed);
        if (t != GST_CLOCK_TIME_NONE && (latest == GST_CLOCK_TIME_NONE || t > latest)) latest = t;
    }
    return latest;
}
