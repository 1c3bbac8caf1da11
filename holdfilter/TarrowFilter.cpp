#include "TarrowFilter.h"

#include <algorithm>
#include <limits>
#include <string>

#include "TarrowIds.h"

GST_DEBUG_CATEGORY_EXTERN(tarrow_hold_debug);
#define GST_CAT_DEFAULT tarrow_hold_debug

namespace {

// Pad callbacks. A pad still referenced after its element went away has no parent; it then
// does nothing, so the pin object is only reached while the element lives.
template <typename Pin>
Pin* tarrow_hold_pin_of(GstPad* pad, GstObject* parent) {
    return parent ? static_cast<Pin*>(gst_pad_get_element_private(pad)) : nullptr;
}

GstFlowReturn tarrow_hold_input_chain(GstPad* pad, GstObject* parent, GstBuffer* buffer) {
    auto* pin = tarrow_hold_pin_of<CTarrowInputPin>(pad, parent);
    if (!pin) {
        gst_buffer_unref(buffer);
        return GST_FLOW_FLUSHING;
    }
    return pin->Receive(buffer);
}

gboolean tarrow_hold_input_event(GstPad* pad, GstObject* parent, GstEvent* event) {
    auto* pin = tarrow_hold_pin_of<CTarrowInputPin>(pad, parent);
    if (!pin) {
        gst_event_unref(event);
        return FALSE;
    }
    return pin->OnEvent(event);
}

gboolean tarrow_hold_input_query(GstPad* pad, GstObject* parent, GstQuery* query) {
    auto* pin = tarrow_hold_pin_of<CTarrowInputPin>(pad, parent);
    return pin ? pin->OnQuery(query) : FALSE;
}

GstPadLinkReturn tarrow_hold_input_link(GstPad* pad, GstObject* parent, GstPad* peer) {
    auto* pin = tarrow_hold_pin_of<CTarrowInputPin>(pad, parent);
    return pin ? pin->CompleteConnect() : GST_PAD_LINK_REFUSED;
}

gboolean tarrow_hold_input_activate_mode(GstPad* pad, GstObject* parent, GstPadMode mode,
                                         gboolean active) {
    auto* pin = tarrow_hold_pin_of<CTarrowInputPin>(pad, parent);
    if (!pin) return mode == GST_PAD_MODE_PUSH;
    return pin->OnActivateMode(mode, active);
}

gboolean tarrow_hold_output_query(GstPad* pad, GstObject* parent, GstQuery* query) {
    auto* pin = tarrow_hold_pin_of<CTarrowOutputPin>(pad, parent);
    return pin ? pin->OnQuery(query) : FALSE;
}

GstPadLinkReturn tarrow_hold_output_link(GstPad* pad, GstObject* parent, GstPad* peer) {
    auto* pin = tarrow_hold_pin_of<CTarrowOutputPin>(pad, parent);
    return pin ? pin->CompleteConnect() : GST_PAD_LINK_REFUSED;
}

// Each pad's only internal link is its partner, so default event and query forwarding moves
// along the pair and nowhere else.
GstIterator* tarrow_hold_pair_links(GstPad* pad, GstObject* parent) {
    GstPad* partner = static_cast<GstPad*>(g_object_get_data(G_OBJECT(pad), "tarrow-partner"));
    if (!parent || !partner) return nullptr;
    GValue value = G_VALUE_INIT;
    g_value_init(&value, GST_TYPE_PAD);
    g_value_set_object(&value, partner);
    GstIterator* it = gst_iterator_new_single(GST_TYPE_PAD, &value);
    g_value_unset(&value);
    return it;
}

constexpr std::int64_t kNsPerReference = 100;

// Reference time to nanoseconds, saturating.
std::int64_t tarrow_hold_to_ns(std::int64_t reference) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max() / kNsPerReference;
    if (reference > kMax) return std::numeric_limits<std::int64_t>::max();
    if (reference < -kMax) return std::numeric_limits<std::int64_t>::min();
    return reference * kNsPerReference;
}

// The element a seek sent upstream from this input ends up positioning. Followed upstream
// through elements with exactly one sink pad (converters, decoders, a decodebin, a demuxer),
// it is the first element with none or several, or whose sink pad is unlinked; a bin's ghost
// sink pad is crossed to the bin's outside. Inputs with the same root share one position: one
// seek flushes and positions all of them.
GstObjectPtr tarrow_hold_upstream_root(GstPad* input) {
    GstPadPtr pad(gst_pad_get_peer(input));
    for (int depth = 0; pad && depth < 256; ++depth) {
        GstObjectPtr parent(gst_pad_get_parent(pad.get()));
        if (parent && GST_IS_PAD(parent.get())) {
            GstPadPtr outside(gst_pad_get_peer(GST_PAD(parent.get())));
            if (!outside) return parent;
            pad = std::move(outside);
            continue;
        }
        if (!parent || !GST_IS_ELEMENT(parent.get()))
            return GstObjectPtr(GST_OBJECT(pad.release()));
        GstElement* element = GST_ELEMENT(parent.get());
        GstPadPtr sink;
        GST_OBJECT_LOCK(element);
        if (element->numsinkpads == 1) sink.reset(GST_PAD(gst_object_ref(element->sinkpads->data)));
        GST_OBJECT_UNLOCK(element);
        GstPadPtr upstream(sink ? gst_pad_get_peer(sink.get()) : nullptr);
        if (!upstream) return parent;
        pad = std::move(upstream);
    }
    return GstObjectPtr(pad ? GST_OBJECT(pad.release()) : nullptr);
}

struct ScheduledSeek {
    CTarrowFilter* filter;
    int pairIndex;
    GstEvent* seek;
};

// How far beyond the range a seek reaches on either side (see CTarrowFilter::PrepareSeek):
// more than a DVD group of pictures plus the multiplexer's delay between the streams.
constexpr std::int64_t kSeekMarginNs = 2 * GST_SECOND;

// Element pool thread: sends a seek scheduled from a streaming thread.
void tarrow_hold_run_seek(GstElement*, gpointer data) {
    auto* job = static_cast<ScheduledSeek*>(data);
    CTarrowInputPin* input = job->filter->Input(job->pairIndex);
    const guint32 seqnum = gst_event_get_seqnum(job->seek);
    const bool accepted = gst_pad_push_event(input->Pad(), job->seek);
    job->seek = nullptr;
    if (!accepted) GST_INFO_OBJECT(input->Pad(), "upstream refused the seek");
    job->filter->FinishSeek(seqnum, accepted);
}

void tarrow_hold_free_seek(gpointer data) {
    auto* job = static_cast<ScheduledSeek*>(data);
    if (job->seek) gst_event_unref(job->seek);
    delete job;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Input pin

GstPadLinkReturn CTarrowInputPin::CompleteConnect() {
    // A failure to add a pair leaves the link standing, only without a free input.
    const HRESULT hr = m_filter->EnsureFreePair();
    if (FAILED(hr)) GST_WARNING_OBJECT(m_pad, "no free pad pair could be added (0x%08x)", hr);
    // Linking normally happens before streaming, or on an upstream streaming thread (dynamic
    // pads); neither may seek yet, so the seek is made at this input's first segment or buffer.
    m_filter->MarkSeekPending(this);
    return GST_PAD_LINK_OK;
}

GstFlowReturn CTarrowInputPin::Receive(GstBuffer* buffer) {
    if (m_filter->TakeSeekPending(this)) m_filter->PositionSource(this, true);
    // Data from before the seek to the range, or before its start, is outside the range.
    if (m_filter->IsOutsideRange(this, buffer)) {
        gst_buffer_unref(buffer);
        return GST_FLOW_OK;
    }
    if (!m_filter->WaitForGate(m_pad)) {
        gst_buffer_unref(buffer);
        return GST_FLOW_FLUSHING;
    }
    CTarrowOutputPin* output = m_filter->Output(m_pairIndex);
    return gst_pad_push(output->Pad(), buffer);  // the very same buffer: zero copy
}

gboolean CTarrowInputPin::OnEvent(GstEvent* event) {
    switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_EOS:
        case GST_EVENT_FLUSH_START:
            m_filter->OpenGate();
            break;
        case GST_EVENT_FLUSH_STOP:
            m_filter->OpenGate();
            m_filter->OnFlushStop(this, gst_event_get_seqnum(event));
            break;
        case GST_EVENT_SEGMENT:
            // The first segment of a newly linked input: a source positioned already gives
            // this segment the range's bounds.
            // An upstream that cannot tell its duration yet gets another chance at the first
            // buffer.
            if (m_filter->TakeSeekPending(this) && FAILED(m_filter->PositionSource(this, true)))
                m_filter->MarkSeekPending(this);
            event = m_filter->OnSegment(this, event);
            break;
        default:
            break;
    }
    return gst_pad_push_event(m_filter->Output(m_pairIndex)->Pad(), event);
}

gboolean CTarrowInputPin::OnQuery(GstQuery* query) {
    GstPad* output = m_filter->Output(m_pairIndex)->Pad();
    switch (GST_QUERY_TYPE(query)) {
        case GST_QUERY_CAPS: {
            // Anything is accepted; once the output is linked, what downstream takes is offered
            // so that upstream can choose well.
            GstCaps* filter = nullptr;
            gst_query_parse_caps(query, &filter);
            GstCaps* caps = nullptr;
            if (gst_pad_is_linked(output))
                caps = gst_pad_peer_query_caps(output, filter);
            else
                caps = filter ? gst_caps_ref(filter) : gst_caps_new_any();
            gst_query_set_caps_result(query, caps);
            gst_caps_unref(caps);
            return TRUE;
        }
        case GST_QUERY_ACCEPT_CAPS: {
            GstCaps* caps = nullptr;
            gst_query_parse_accept_caps(query, &caps);
            const gboolean ok =
                !gst_pad_is_linked(output) || gst_pad_peer_query_accept_caps(output, caps);
            gst_query_set_accept_caps_result(query, ok);
            return TRUE;
        }
        default:
            return gst_pad_query_default(m_pad, GST_OBJECT_CAST(m_filter->Element()), query);
    }
}

gboolean CTarrowInputPin::OnActivateMode(GstPadMode mode, gboolean active) {
    if (mode != GST_PAD_MODE_PUSH) return FALSE;
    // Deactivation marks the pad flushing and then waits for its streaming thread: a thread
    // held at the gate must see that now.
    if (!active) m_filter->WakeGate();
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Output pin

HRESULT CTarrowOutputPin::EnumMediaTypes(GstCaps* filter, GstCaps** caps) {
    GstPad* input = m_filter->Input(m_pairIndex)->Pad();
    if (!gst_pad_is_linked(input)) {
        *caps = gst_caps_new_empty();
        return VFW_E_NOT_CONNECTED;
    }
    if (GstCaps* current = gst_pad_get_current_caps(input)) {
        *caps = filter ? gst_caps_intersect_full(filter, current, GST_CAPS_INTERSECT_FIRST)
                       : gst_caps_ref(current);
        gst_caps_unref(current);
    } else {
        *caps = gst_pad_peer_query_caps(input, filter);
    }
    return S_OK;
}

HRESULT CTarrowOutputPin::CheckMediaType(GstCaps* caps) {
    if (!caps) return E_POINTER;
    GstPad* input = m_filter->Input(m_pairIndex)->Pad();
    if (!gst_pad_is_linked(input)) return VFW_E_TYPE_NOT_ACCEPTED;
    bool accepted = false;
    if (GstCaps* current = gst_pad_get_current_caps(input)) {
        accepted = gst_caps_is_equal(caps, current);
        gst_caps_unref(current);
    } else {
        GstCaps* offered = gst_pad_peer_query_caps(input, nullptr);
        accepted = offered && gst_caps_is_subset(caps, offered);
        if (offered) gst_caps_unref(offered);
    }
    return accepted ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

GstPadLinkReturn CTarrowOutputPin::CompleteConnect() {
    // No allocator of its own: downstream receives upstream's buffers. The only condition is
    // the order: an output links after its input.
    if (!gst_pad_is_linked(m_filter->Input(m_pairIndex)->Pad())) {
        GST_DEBUG_OBJECT(m_pad, "refused: the paired input is not linked");
        return GST_PAD_LINK_REFUSED;
    }
    return GST_PAD_LINK_OK;
}

gboolean CTarrowOutputPin::OnQuery(GstQuery* query) {
    switch (GST_QUERY_TYPE(query)) {
        case GST_QUERY_CAPS: {
            GstCaps* filter = nullptr;
            gst_query_parse_caps(query, &filter);
            GstCaps* caps = nullptr;
            EnumMediaTypes(filter, &caps);
            gst_query_set_caps_result(query, caps);
            gst_caps_unref(caps);
            return TRUE;
        }
        case GST_QUERY_ACCEPT_CAPS: {
            GstCaps* caps = nullptr;
            gst_query_parse_accept_caps(query, &caps);
            gst_query_set_accept_caps_result(query, CheckMediaType(caps) == S_OK);
            return TRUE;
        }
        default:
            return gst_pad_query_default(m_pad, GST_OBJECT_CAST(m_filter->Element()), query);
    }
}

// ---------------------------------------------------------------------------------------------
// Filter

CTarrowFilter::CTarrowFilter(GstElement* element) : m_element(element) {
    VireoProperties* store = nullptr;
    m_constructResult = VireoProperties::Create(&store);
    m_properties.reset(store);
    if (FAILED(m_constructResult)) {
        GST_ERROR_OBJECT(m_element, "no property store (0x%08x)", m_constructResult);
        return;
    }
    m_properties->SetSink(this);
    m_constructResult = AddPinPair();
}

CTarrowFilter::~CTarrowFilter() {
    WakeGate();
    if (m_properties) m_properties->SetSink(nullptr);
}

CTarrowInputPin* CTarrowFilter::Input(int pairIndex) {
    std::lock_guard<std::mutex> lock(m_lock);
    return pairIndex >= 0 && pairIndex < static_cast<int>(m_inputs.size())
               ? m_inputs[pairIndex].get()
               : nullptr;
}

CTarrowOutputPin* CTarrowFilter::Output(int pairIndex) {
    std::lock_guard<std::mutex> lock(m_lock);
    return pairIndex >= 0 && pairIndex < static_cast<int>(m_outputs.size())
               ? m_outputs[pairIndex].get()
               : nullptr;
}

std::vector<CTarrowInputPin*> CTarrowFilter::LinkedInputs() {
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<CTarrowInputPin*> linked;
    for (const auto& pin : m_inputs)
        if (gst_pad_is_linked(pin->Pad())) linked.push_back(pin.get());
    return linked;
}

int CTarrowFilter::GetPinCount() {
    std::lock_guard<std::mutex> lock(m_lock);
    return static_cast<int>(m_inputs.size() * 2);
}

HRESULT CTarrowFilter::AddPinPair() {
    GstElementClass* klass = GST_ELEMENT_GET_CLASS(m_element);
    GstPadTemplate* inputTemplate = gst_element_class_get_pad_template(klass, kTarrowInputPattern);
    GstPadTemplate* outputTemplate =
        gst_element_class_get_pad_template(klass, kTarrowOutputPattern);
    if (!inputTemplate || !outputTemplate) {
        GST_ERROR_OBJECT(m_element, "pad templates missing");
        return E_UNEXPECTED;
    }

    GstPad* input = nullptr;
    GstPad* output = nullptr;
    int pair = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        pair = static_cast<int>(m_inputs.size());
        const std::string inputName = "Input" + std::to_string(pair);
        const std::string outputName = "Output" + std::to_string(pair);
        input = gst_pad_new_from_template(inputTemplate, inputName.c_str());
        output = gst_pad_new_from_template(outputTemplate, outputName.c_str());
        if (input && output) {
            m_inputs.push_back(std::make_unique<CTarrowInputPin>(this, pair, input));
            m_outputs.push_back(std::make_unique<CTarrowOutputPin>(this, pair, output));
            gst_pad_set_element_private(input, m_inputs.back().get());
            gst_pad_set_element_private(output, m_outputs.back().get());
        }
    }
    if (!input || !output) {
        if (input) gst_object_unref(input);
        if (output) gst_object_unref(output);
        GST_ERROR_OBJECT(m_element, "pad pair %d could not be made", pair);
        return E_OUTOFMEMORY;
    }

    g_object_set_data(G_OBJECT(input), "tarrow-partner", output);
    g_object_set_data(G_OBJECT(output), "tarrow-partner", input);
    gst_pad_set_chain_function(input, tarrow_hold_input_chain);
    gst_pad_set_event_function(input, tarrow_hold_input_event);
    gst_pad_set_query_function(input, tarrow_hold_input_query);
    gst_pad_set_link_function(input, tarrow_hold_input_link);
    gst_pad_set_activatemode_function(input, tarrow_hold_input_activate_mode);
    gst_pad_set_iterate_internal_links_function(input, tarrow_hold_pair_links);
    gst_pad_set_query_function(output, tarrow_hold_output_query);
    gst_pad_set_link_function(output, tarrow_hold_output_link);
    gst_pad_set_iterate_internal_links_function(output, tarrow_hold_pair_links);
    // Allocation queries go straight to downstream: its pool serves upstream's buffers.
    GST_PAD_SET_PROXY_ALLOCATION(input);
    GST_PAD_SET_PROXY_ALLOCATION(output);

    // Adding activates the pads when the element is streaming, and emits "pad-added", whose
    // handlers may link and so re-enter; no lock is held here.
    gst_element_add_pad(m_element, input);
    gst_element_add_pad(m_element, output);
    GST_DEBUG_OBJECT(m_element, "added pad pair %d", pair);
    return S_OK;
}

HRESULT CTarrowFilter::EnsureFreePair() {
    int next = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (const auto& pin : m_inputs)
            if (!gst_pad_is_linked(pin->Pad())) return pin->PairIndex();
        next = static_cast<int>(m_inputs.size());
    }
    const HRESULT hr = AddPinPair();
    return FAILED(hr) ? hr : next;
}

std::int64_t CTarrowFilter::ConfiguredStartPoint() {
    std::lock_guard<std::mutex> lock(m_lock);
    std::int64_t value = m_startPoint;
    tarrow::ReadRange(m_properties.get(), tarrow::kStartPointKey, &value);
    return value;
}

std::int64_t CTarrowFilter::ConfiguredDuration() {
    std::lock_guard<std::mutex> lock(m_lock);
    std::int64_t value = m_duration;
    tarrow::ReadRange(m_properties.get(), tarrow::kDurationKey, &value);
    return value;
}

void CTarrowFilter::SetConfigured(const char* key, std::int64_t value) {
    if (!m_properties) return;
    PropValue record;
    record.type = PropLongLong;
    record.value.longlongValue = value;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_properties->SetValue(key, &record);
    }
    m_properties->NotifyChanged();
}

tarrow::PersistedRange CTarrowFilter::Save() {
    std::lock_guard<std::mutex> lock(m_lock);
    return tarrow::SaveRange(m_startPoint, m_duration);
}

HRESULT CTarrowFilter::Load(const std::uint8_t* data, std::size_t size) {
    std::int64_t startPoint = 0, duration = 0;
    const HRESULT hr = tarrow::LoadRange(data, size, &startPoint, &duration);
    if (FAILED(hr)) {
        GST_DEBUG_OBJECT(m_element, "persisted range refused (0x%08x)", hr);
        return hr;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_startPoint = startPoint;
    m_duration = duration;
    return tarrow::WriteRange(m_properties.get(), startPoint, duration);
}

bool CTarrowFilter::IsRunning() {
    GST_OBJECT_LOCK(m_element);
    const bool running = GST_STATE(m_element) == GST_STATE_PLAYING;
    GST_OBJECT_UNLOCK(m_element);
    return running;
}

bool CTarrowFilter::HasRange() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_startPoint != 0 || m_duration != 0;
}

void CTarrowFilter::RefreshRange() {
    if (m_properties && m_properties->IsChanged() != S_OK) {
        tarrow::ReadRange(m_properties.get(), tarrow::kStartPointKey, &m_startPoint);
        tarrow::ReadRange(m_properties.get(), tarrow::kDurationKey, &m_duration);
        m_properties->SetChanged(0);
    }
}

HRESULT CTarrowFilter::OnPropertiesChanged() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        tarrow::ReadRange(m_properties.get(), tarrow::kStartPointKey, &m_startPoint);
        tarrow::ReadRange(m_properties.get(), tarrow::kDurationKey, &m_duration);
    }
    if (!IsRunning()) {
        // A new range: every source is due again.
        {
            std::lock_guard<std::mutex> lock(m_seekLock);
            m_positioned.clear();
        }
        for (CTarrowInputPin* pin : LinkedInputs()) {
            // An inactive input cannot seek yet: its first buffer will.
            if (!gst_pad_is_active(pin->Pad())) {
                MarkSeekPending(pin);
                continue;
            }
            const HRESULT hr = PositionSource(pin, false);
            if (FAILED(hr)) {
                // Upstream may simply not know its duration yet: try again before the next
                // buffer (a second refusal costs nothing).
                GST_INFO_OBJECT(pin->Pad(), "upstream not positioned yet (0x%08x)", hr);
                MarkSeekPending(pin);
            }
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_properties->SetChanged(0);
    }
    GObject* object = G_OBJECT(m_element);
    g_object_notify(object, kTarrowPropStartPoint);
    g_object_notify(object, kTarrowPropDuration);
    return S_OK;
}

GstEvent* CTarrowFilter::PrepareSeek(CTarrowInputPin* pin, TarrowTimeRange* range, HRESULT* hr) {
    *hr = S_OK;
    if (!gst_pad_is_linked(pin->Pad())) return nullptr;
    std::int64_t startPoint = 0, duration = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        startPoint = m_startPoint;
        duration = m_duration;
    }
    if (startPoint == 0 && duration == 0) return nullptr;

    GstQueryPtr seeking(gst_query_new_seeking(GST_FORMAT_TIME));
    gboolean seekable = FALSE;
    if (gst_pad_peer_query(pin->Pad(), seeking.get()))
        gst_query_parse_seeking(seeking.get(), nullptr, &seekable, nullptr, nullptr);
    if (!seekable) {
        GST_DEBUG_OBJECT(pin->Pad(), "upstream cannot seek");
        *hr = E_NOINTERFACE;
        return nullptr;
    }
    gint64 totalNs = -1;
    if (!gst_pad_peer_query_duration(pin->Pad(), GST_FORMAT_TIME, &totalNs) || totalNs < 0) {
        GST_DEBUG_OBJECT(pin->Pad(), "upstream knows no duration");
        *hr = E_FAIL;
        return nullptr;
    }
    const std::int64_t total = totalNs / kNsPerReference;
    std::int64_t stop = 0;
    const bool toEnd =
        duration == 0 || __builtin_add_overflow(startPoint, duration, &stop) || stop > total;
    const std::int64_t startNs = std::max<std::int64_t>(tarrow_hold_to_ns(startPoint), 0);
    // Up to the end is an open stop: a duration estimated from the clock reference (MPEG
    // program streams) can fall short of the last frames.
    const std::int64_t stopNs = toEnd ? -1 : tarrow_hold_to_ns(stop);
    // Demuxers that position by the clock reference land near the position, after the key
    // frame that the first pictures need, and end one stream while the other still has data
    // of the range. Seeking a margin wider and dropping what lies outside gives every frame
    // and every audio block of the range.
    const std::int64_t seekStartNs = std::max<std::int64_t>(startNs - kSeekMarginNs, 0);
    const std::int64_t seekStopNs = toEnd ? -1 : stopNs + kSeekMarginNs;
    range->start = static_cast<GstClockTime>(startNs);
    range->stop = toEnd ? GST_CLOCK_TIME_NONE : static_cast<GstClockTime>(stopNs);
    GST_DEBUG_OBJECT(pin->Pad(), "seeking upstream to %" GST_TIME_FORMAT " - %" GST_TIME_FORMAT,
                     GST_TIME_ARGS(range->start), GST_TIME_ARGS(range->stop));
    return gst_event_new_seek(
        1.0, GST_FORMAT_TIME,
        static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), GST_SEEK_TYPE_SET,
        seekStartNs, GST_SEEK_TYPE_SET, seekStopNs);
}

const CTarrowFilter::PositionedSource* CTarrowFilter::FindPositioned(GstObject* root) const {
    for (const PositionedSource& source : m_positioned)
        if (source.root.get() == root) return &source;
    return nullptr;
}

HRESULT CTarrowFilter::PositionSource(CTarrowInputPin* pin, bool fromStreamingThread) {
    if (!HasRange()) return S_OK;
    GstObjectPtr root = tarrow_hold_upstream_root(pin->Pad());
    // Joining a source that is positioned already: its data is in the range, and a second
    // flushing seek would throw away what its other inputs hold.
    auto join = [&] {
        std::lock_guard<std::mutex> lock(m_seekLock);
        const PositionedSource* source = FindPositioned(root.get());
        if (!source) return false;
        CTarrowInputPin::SeekState& state = pin->m_seek;
        if (source->inFlight && state.awaitedSeqnum != source->seqnum) {
            state.awaitedSeqnum = source->seqnum;
            state.flushed = false;
            state.range = source->range;
        } else if (!source->inFlight) {
            state.clip = source->range;
            state.joined = true;
        }
        GST_DEBUG_OBJECT(pin->Pad(), "source %s positioned already (seek %u%s)",
                         root ? GST_OBJECT_NAME(root.get()) : "?", source->seqnum,
                         source->inFlight ? ", running" : "");
        return true;
    };
    if (join()) return S_OK;

    HRESULT hr = S_OK;
    TarrowTimeRange range;
    GstEvent* seek = PrepareSeek(pin, &range, &hr);
    if (!seek) return hr;
    // Every input fed by the same source sees this seek's flush and new segment.
    std::vector<CTarrowInputPin*> group;
    for (CTarrowInputPin* input : LinkedInputs()) {
        if (input == pin || tarrow_hold_upstream_root(input->Pad()).get() == root.get())
            group.push_back(input);
    }
    if (join()) {  // an input of the same source got there first
        gst_event_unref(seek);
        return S_OK;
    }
    const guint32 seqnum = gst_event_get_seqnum(seek);
    {
        std::lock_guard<std::mutex> lock(m_seekLock);
        for (CTarrowInputPin* input : group) {
            input->m_seek.pending = false;
            input->m_seek.awaitedSeqnum = seqnum;
            input->m_seek.flushed = false;
            input->m_seek.range = range;
        }
        GST_DEBUG_OBJECT(pin->Pad(), "positioning source %s for %zu input(s) (seek %u)",
                         root ? GST_OBJECT_NAME(root.get()) : "?", group.size(), seqnum);
        m_positioned.push_back({std::move(root), seqnum, range, true});
    }
    if (fromStreamingThread) {
        ScheduleSeek(pin, seek);
        return S_OK;
    }
    const bool accepted = gst_pad_push_event(pin->Pad(), seek);
    if (!accepted) GST_DEBUG_OBJECT(pin->Pad(), "upstream refused the seek");
    FinishSeek(seqnum, accepted);
    return accepted ? S_OK : E_FAIL;
}

void CTarrowFilter::ScheduleSeek(CTarrowInputPin* pin, GstEvent* seek) {
    auto* job = new ScheduledSeek{this, pin->PairIndex(), seek};
    gst_element_call_async(m_element, tarrow_hold_run_seek, job, tarrow_hold_free_seek);
}

void CTarrowFilter::FinishSeek(guint32 seqnum, bool accepted) {
    std::lock_guard<std::mutex> pairs(m_lock);
    std::lock_guard<std::mutex> lock(m_seekLock);
    auto source = std::find_if(m_positioned.begin(), m_positioned.end(),
                               [seqnum](const PositionedSource& s) { return s.seqnum == seqnum; });
    if (source != m_positioned.end()) {
        source->inFlight = false;
        // Refused: another input of that source tries again.
        if (!accepted) m_positioned.erase(source);
    }
    // A flushing seek flushes before its call returns. An input that has not seen the flush by
    // now gets none (the seek was refused, or took another way): its data is current.
    for (const auto& input : m_inputs) {
        CTarrowInputPin::SeekState& state = input->m_seek;
        if (state.awaitedSeqnum != seqnum || (accepted && state.flushed)) continue;
        GST_DEBUG_OBJECT(input->Pad(), "no flush from seek %u; passing data on", seqnum);
        state.awaitedSeqnum = GST_SEQNUM_INVALID;
        state.flushed = false;
    }
}

bool CTarrowFilter::TakeSeekPending(CTarrowInputPin* pin) {
    std::lock_guard<std::mutex> lock(m_seekLock);
    const bool pending = pin->m_seek.pending;
    pin->m_seek.pending = false;
    return pending;
}

void CTarrowFilter::MarkSeekPending(CTarrowInputPin* pin) {
    std::lock_guard<std::mutex> lock(m_seekLock);
    pin->m_seek.pending = true;
}

bool CTarrowFilter::IsOutsideRange(CTarrowInputPin* pin, GstBuffer* buffer) {
    std::lock_guard<std::mutex> lock(m_seekLock);
    const CTarrowInputPin::SeekState& state = pin->m_seek;
    if (state.awaitedSeqnum != GST_SEQNUM_INVALID) return true;
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(pts)) return false;
    return (GST_CLOCK_TIME_IS_VALID(state.clip.start) && pts < state.clip.start) ||
           (GST_CLOCK_TIME_IS_VALID(state.clip.stop) && pts >= state.clip.stop);
}

void CTarrowFilter::OnFlushStop(CTarrowInputPin* pin, guint32 seqnum) {
    std::lock_guard<std::mutex> lock(m_seekLock);
    if (pin->m_seek.awaitedSeqnum == seqnum) pin->m_seek.flushed = true;
    pin->m_seek.clip = TarrowTimeRange();
    pin->m_seek.joined = false;
}

GstEvent* CTarrowFilter::OnSegment(CTarrowInputPin* pin, GstEvent* event) {
    TarrowTimeRange range;
    {
        std::lock_guard<std::mutex> lock(m_seekLock);
        CTarrowInputPin::SeekState& state = pin->m_seek;
        if (state.joined) {
            state.joined = false;
            range = state.clip;
        } else if (state.awaitedSeqnum != GST_SEQNUM_INVALID && state.flushed) {
            GST_DEBUG_OBJECT(pin->Pad(), "range starts (seek %u)", state.awaitedSeqnum);
            state.awaitedSeqnum = GST_SEQNUM_INVALID;
            state.flushed = false;
            range = state.range;
            state.clip = range;
        } else {
            return event;
        }
    }
    // The seek reached wider than the range (see PrepareSeek): downstream gets the range's own
    // segment, in which the range's first buffer has running time zero.
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    if (segment->format != GST_FORMAT_TIME || segment->rate < 0) return event;
    GstSegment ranged;
    gst_segment_copy_into(segment, &ranged);
    if (GST_CLOCK_TIME_IS_VALID(range.start) && ranged.start < range.start &&
        (!GST_CLOCK_TIME_IS_VALID(ranged.stop) || ranged.stop > range.start)) {
        ranged.time += range.start - ranged.start;
        ranged.position = std::max(ranged.position, range.start);
        ranged.start = range.start;
    }
    if (GST_CLOCK_TIME_IS_VALID(range.stop) && range.stop > ranged.start &&
        (!GST_CLOCK_TIME_IS_VALID(ranged.stop) || ranged.stop > range.stop))
        ranged.stop = range.stop;
    if (gst_segment_is_equal(segment, &ranged)) return event;
    GstEvent* replaced = gst_event_new_segment(&ranged);
    gst_event_set_seqnum(replaced, gst_event_get_seqnum(event));
    gst_event_unref(event);
    return replaced;
}

void CTarrowFilter::OpenGate() {
    std::lock_guard<std::mutex> lock(m_gateLock);
    m_gateOpen = true;
    m_gateCond.notify_all();
}

void CTarrowFilter::CloseGate() {
    std::lock_guard<std::mutex> lock(m_gateLock);
    m_gateOpen = false;
}

void CTarrowFilter::WakeGate() {
    std::lock_guard<std::mutex> lock(m_gateLock);
    m_gateCond.notify_all();
}

bool CTarrowFilter::WaitForGate(GstPad* pad) {
    auto flushing = [pad] {
        GST_OBJECT_LOCK(pad);
        const bool result = GST_PAD_IS_FLUSHING(pad);
        GST_OBJECT_UNLOCK(pad);
        return result;
    };
    std::unique_lock<std::mutex> lock(m_gateLock);
    if (!m_gateOpen) GST_LOG_OBJECT(pad, "holding buffer until PLAYING");
    m_gateCond.wait(lock, [&] { return m_gateOpen || flushing(); });
    return !flushing();
}

void CTarrowFilter::BeforeStateChange(GstStateChange transition) {
    GST_DEBUG_OBJECT(m_element, "%s", gst_state_change_get_name(transition));
    switch (transition) {
        case GST_STATE_CHANGE_READY_TO_PAUSED:
        case GST_STATE_CHANGE_PLAYING_TO_PAUSED:
            CloseGate();
            break;
        case GST_STATE_CHANGE_PAUSED_TO_READY:
            // Before the parent deactivates the pads: deactivation takes the stream lock that a
            // held streaming thread owns.
            OpenGate();
            break;
        case GST_STATE_CHANGE_PAUSED_TO_PLAYING: {
            std::lock_guard<std::mutex> lock(m_lock);
            RefreshRange();
            break;
        }
        default:
            break;
    }
}

GstStateChangeReturn CTarrowFilter::AfterStateChange(GstStateChange transition,
                                                     GstStateChangeReturn ret) {
    switch (transition) {
        case GST_STATE_CHANGE_READY_TO_PAUSED:
        case GST_STATE_CHANGE_PLAYING_TO_PAUSED:
            // Paused without data: the pipeline completes PAUSED while buffers wait at the gate.
            return GST_STATE_CHANGE_NO_PREROLL;
        case GST_STATE_CHANGE_PAUSED_TO_PLAYING:
            OpenGate();
            return ret;
        case GST_STATE_CHANGE_PAUSED_TO_READY: {
            // Streaming has stopped: no seek of the last run is still awaited.
            std::lock_guard<std::mutex> pairs(m_lock);
            std::lock_guard<std::mutex> lock(m_seekLock);
            m_positioned.clear();
            for (const auto& pin : m_inputs) {
                pin->m_seek.awaitedSeqnum = GST_SEQNUM_INVALID;
                pin->m_seek.flushed = false;
            }
            return ret;
        }
        default:
            return ret;
    }
}

gboolean CTarrowFilter::ElementQuery(GstQuery* query) {
    CTarrowInputPin* input = Input(0);
    return input && gst_pad_peer_query(input->Pad(), query);
}

gboolean CTarrowFilter::ElementSeek(GstEvent* event) {
    CTarrowInputPin* input = Input(0);
    if (!input) {
        gst_event_unref(event);
        return FALSE;
    }
    return gst_pad_push_event(input->Pad(), event);
}
