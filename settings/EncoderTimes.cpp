#include "EncoderTimes.h"

#include <atomic>
#include <deque>
#include <mutex>

struct CEncoderTimes::State {
    std::mutex lock;
    std::deque<GstClockTime> inputs;  // running times of frames taken in and not yet put out
    enum class Mode { Undecided, Restore, Leave } mode = Mode::Undecided;
    std::atomic<bool> restored{false};
};

namespace {

using State = CEncoderTimes::State;

GstClockTime FromRunningTime(GstPad* pad, GstClockTime running) {
    GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    if (!event) return running;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    GstClockTime stamp =
        segment->format == GST_FORMAT_TIME
            ? gst_segment_position_from_running_time(segment, GST_FORMAT_TIME, running)
            : GST_CLOCK_TIME_NONE;
    gst_event_unref(event);
    return stamp;
}

// A stamp no encoder puts on a real frame: none, or one past a thousand years of media.
bool Broken(GstClockTime stamp) {
    return !GST_CLOCK_TIME_IS_VALID(stamp) || stamp >= GstClockTime(G_MAXINT64) / 2;
}

GstPadProbeReturn OnInput(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* state = static_cast<std::shared_ptr<State>*>(data)->get();
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_BOTH) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP ||
            GST_EVENT_TYPE(event) == GST_EVENT_STREAM_START) {
            std::lock_guard guard(state->lock);
            state->inputs.clear();
        }
        return GST_PAD_PROBE_OK;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer || !GST_BUFFER_PTS_IS_VALID(buffer)) return GST_PAD_PROBE_OK;
    const GstClockTime running = PadRunningTime(pad, GST_BUFFER_PTS(buffer));
    std::lock_guard guard(state->lock);
    if (state->mode != State::Mode::Leave) state->inputs.push_back(running);
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn OnOutput(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* state = static_cast<std::shared_ptr<State>*>(data)->get();
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer) return GST_PAD_PROBE_OK;
    GstClockTime running = GST_CLOCK_TIME_NONE;
    {
        std::lock_guard guard(state->lock);
        if (state->mode == State::Mode::Undecided) {
            state->mode =
                Broken(GST_BUFFER_PTS(buffer)) ? State::Mode::Restore : State::Mode::Leave;
            if (state->mode == State::Mode::Leave) state->inputs.clear();
        }
        if (state->mode == State::Mode::Leave || state->inputs.empty()) return GST_PAD_PROBE_OK;
        running = state->inputs.front();
        state->inputs.pop_front();
    }
    const GstClockTime stamp = FromRunningTime(pad, running);
    if (!GST_CLOCK_TIME_IS_VALID(stamp)) return GST_PAD_PROBE_OK;
    buffer = gst_buffer_make_writable(buffer);
    GST_BUFFER_PTS(buffer) = stamp;
    GST_BUFFER_DTS(buffer) = stamp;
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    state->restored = true;
    return GST_PAD_PROBE_OK;
}

void DeleteState(gpointer data) {
    delete static_cast<std::shared_ptr<State>*>(data);
}

}  // namespace

CEncoderTimes::CEncoderTimes(GstElement* encoder) : m_state(std::make_shared<State>()) {
    if (!encoder) return;
    m_sink = gst_element_get_static_pad(encoder, "sink");
    m_src = gst_element_get_static_pad(encoder, "src");
    if (!m_sink || !m_src) return;
    m_sinkProbe = gst_pad_add_probe(
        m_sink,
        GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                        GST_PAD_PROBE_TYPE_EVENT_FLUSH),
        OnInput, new std::shared_ptr<State>(m_state), DeleteState);
    m_srcProbe = gst_pad_add_probe(m_src, GST_PAD_PROBE_TYPE_BUFFER, OnOutput,
                                   new std::shared_ptr<State>(m_state), DeleteState);
}

CEncoderTimes::~CEncoderTimes() {
    if (m_sink && m_sinkProbe) gst_pad_remove_probe(m_sink, m_sinkProbe);
    if (m_src && m_srcProbe) gst_pad_remove_probe(m_src, m_srcProbe);
    if (m_sink) gst_object_unref(m_sink);
    if (m_src) gst_object_unref(m_src);
}

bool CEncoderTimes::Restored() const {
    return m_state->restored;
}

GstClockTime PadRunningTime(GstPad* pad, GstClockTime stamp) {
    GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    if (!event) return stamp;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    GstClockTime running = segment->format == GST_FORMAT_TIME
                               ? gst_segment_to_running_time(segment, GST_FORMAT_TIME, stamp)
                               : GST_CLOCK_TIME_NONE;
    gst_event_unref(event);
    return running;
}
