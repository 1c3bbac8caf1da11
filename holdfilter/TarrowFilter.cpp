#include "TarrowFilter.h"

#include <limits>
#include <string>

#include "TarrowIds.h"

GST_DEBUG_CATEGORY_EXTERN(tarrow_hold_debug);
#define GST_CAT_DEFAULT tarrow_hold_debug

namespace {

// Pad callbacks. A pad still referenced after its element went away has no parent; it then
// does nothing, so the pin object is only reached while the element lives.
template <typename Pin>
Pin* PinOf(GstPad* pad, GstObject* parent) {
    return parent ? static_cast<Pin*>(gst_pad_get_element_private(pad)) : nullptr;
}

GstFlowReturn InputChain(GstPad* pad, GstObject* parent, GstBuffer* buffer) {
    auto* pin = PinOf<CTarrowInputPin>(pad, parent);
    if (!pin) {
        gst_buffer_unref(buffer);
        return GST_FLOW_FLUSHING;
    }
    return pin->Receive(buffer);
}

gboolean InputEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
    auto* pin = PinOf<CTarrowInputPin>(pad, parent);
    if (!pin) {
        gst_event_unref(event);
        return FALSE;
    }
    return pin->OnEvent(event);
}

gboolean InputQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
    auto* pin = PinOf<CTarrowInputPin>(pad, parent);
    return pin ? pin->OnQuery(query) : FALSE;
}

GstPadLinkReturn InputLink(GstPad* pad, GstObject* parent, GstPad* peer) {
    auto* pin = PinOf<CTarrowInputPin>(pad, parent);
    return pin ? pin->CompleteConnect() : GST_PAD_LINK_REFUSED;
}

gboolean InputActivateMode(GstPad* pad, GstObject* parent, GstPadMode mode, gboolean active) {
    auto* pin = PinOf<CTarrowInputPin>(pad, parent);
    if (!pin) return mode == GST_PAD_MODE_PUSH;
    return pin->OnActivateMode(mode, active);
}

gboolean OutputQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
    auto* pin = PinOf<CTarrowOutputPin>(pad, parent);
    return pin ? pin->OnQuery(query) : FALSE;
}

GstPadLinkReturn OutputLink(GstPad* pad, GstObject* parent, GstPad* peer) {
    auto* pin = PinOf<CTarrowOutputPin>(pad, parent);
    return pin ? pin->CompleteConnect() : GST_PAD_LINK_REFUSED;
}

// Each pad's only internal link is its partner, so default event and query forwarding moves
// along the pair and nowhere else.
GstIterator* PairLinks(GstPad* pad, GstObject* parent) {
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
std::int64_t ToNs(std::int64_t reference) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max() / kNsPerReference;
    if (reference > kMax) return std::numeric_limits<std::int64_t>::max();
    if (reference < -kMax) return std::numeric_limits<std::int64_t>::min();
    return reference * kNsPerReference;
}

struct ScheduledSeek {
    CTarrowFilter* filter;
    int pairIndex;
    GstEvent* seek;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Input pin

GstPadLinkReturn CTarrowInputPin::CompleteConnect() {
    // A failure to add a pair leaves the link standing, only without a free input.
    const HRESULT hr = m_filter->EnsureFreePair();
    if (FAILED(hr)) GST_WARNING_OBJECT(m_pad, "no free pad pair could be added (0x%08x)", hr);
    // Linking normally happens before streaming, or on an upstream streaming thread (dynamic
    // pads); neither may seek yet, so the seek is made before this input's first buffer.
    m_filter->MarkSeekPending(this);
    return GST_PAD_LINK_OK;
}

GstFlowReturn CTarrowInputPin::Receive(GstBuffer* buffer) {
    if (m_filter->TakeSeekPending(this)) {
        HRESULT hr = S_OK;
        if (GstEvent* seek = m_filter->PrepareSeek(m_pairIndex, &hr)) {
            m_filter->SetAwaitingSeek(this, true);
            m_filter->ScheduleSeek(this, seek);
        } else if (FAILED(hr)) {
            GST_INFO_OBJECT(m_pad, "upstream not positioned (0x%08x)", hr);
        }
    }
    // Data from before a scheduled seek is outside the range.
    if (m_filter->IsAwaitingSeek(this)) {
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
            m_filter->SetAwaitingSeek(this, false);
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
    g_mutex_init(&m_lock);
    g_mutex_init(&m_gateLock);
    g_cond_init(&m_gateCond);
    m_constructResult = VireoProperties::Create(&m_properties);
    if (FAILED(m_constructResult)) return;
    m_properties->SetSink(this);
    m_constructResult = AddPinPair();
}

CTarrowFilter::~CTarrowFilter() {
    WakeGate();
    if (m_properties) {
        m_properties->SetSink(nullptr);
        m_properties->Release();
    }
    g_cond_clear(&m_gateCond);
    g_mutex_clear(&m_gateLock);
    g_mutex_clear(&m_lock);
}

CTarrowInputPin* CTarrowFilter::Input(int pairIndex) {
    g_mutex_lock(&m_lock);
    CTarrowInputPin* pin = pairIndex >= 0 && pairIndex < static_cast<int>(m_inputs.size())
                               ? m_inputs[pairIndex].get()
                               : nullptr;
    g_mutex_unlock(&m_lock);
    return pin;
}

CTarrowOutputPin* CTarrowFilter::Output(int pairIndex) {
    g_mutex_lock(&m_lock);
    CTarrowOutputPin* pin = pairIndex >= 0 && pairIndex < static_cast<int>(m_outputs.size())
                                ? m_outputs[pairIndex].get()
                                : nullptr;
    g_mutex_unlock(&m_lock);
    return pin;
}

int CTarrowFilter::GetPinCount() {
    g_mutex_lock(&m_lock);
    const int count = static_cast<int>(m_inputs.size() * 2);
    g_mutex_unlock(&m_lock);
    return count;
}

HRESULT CTarrowFilter::AddPinPair() {
    GstElementClass* klass = GST_ELEMENT_GET_CLASS(m_element);
    GstPadTemplate* inputTemplate = gst_element_class_get_pad_template(klass, kTarrowInputPattern);
    GstPadTemplate* outputTemplate =
        gst_element_class_get_pad_template(klass, kTarrowOutputPattern);
    if (!inputTemplate || !outputTemplate) return E_UNEXPECTED;

    g_mutex_lock(&m_lock);
    const int pair = static_cast<int>(m_inputs.size());
    const std::string inputName = "Input" + std::to_string(pair);
    const std::string outputName = "Output" + std::to_string(pair);
    GstPad* input = gst_pad_new_from_template(inputTemplate, inputName.c_str());
    GstPad* output = gst_pad_new_from_template(outputTemplate, outputName.c_str());
    if (!input || !output) {
        g_mutex_unlock(&m_lock);
        if (input) gst_object_unref(input);
        if (output) gst_object_unref(output);
        return E_OUTOFMEMORY;
    }
    m_inputs.push_back(std::make_unique<CTarrowInputPin>(this, pair, input));
    m_outputs.push_back(std::make_unique<CTarrowOutputPin>(this, pair, output));
    gst_pad_set_element_private(input, m_inputs.back().get());
    gst_pad_set_element_private(output, m_outputs.back().get());
    g_mutex_unlock(&m_lock);

    g_object_set_data(G_OBJECT(input), "tarrow-partner", output);
    g_object_set_data(G_OBJECT(output), "tarrow-partner", input);
    gst_pad_set_chain_function(input, InputChain);
    gst_pad_set_event_function(input, InputEvent);
    gst_pad_set_query_function(input, InputQuery);
    gst_pad_set_link_function(input, InputLink);
    gst_pad_set_activatemode_function(input, InputActivateMode);
    gst_pad_set_iterate_internal_links_function(input, PairLinks);
    gst_pad_set_query_function(output, OutputQuery);
    gst_pad_set_link_function(output, OutputLink);
    gst_pad_set_iterate_internal_links_function(output, PairLinks);
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
    g_mutex_lock(&m_lock);
    for (const auto& pin : m_inputs) {
        if (!gst_pad_is_linked(pin->Pad())) {
            const int free = pin->PairIndex();
            g_mutex_unlock(&m_lock);
            return free;
        }
    }
    const int next = static_cast<int>(m_inputs.size());
    g_mutex_unlock(&m_lock);
    const HRESULT hr = AddPinPair();
    return FAILED(hr) ? hr : next;
}

std::int64_t CTarrowFilter::ConfiguredStartPoint() {
    g_mutex_lock(&m_lock);
    std::int64_t value = m_startPoint;
    tarrow::ReadRange(m_properties, tarrow::kStartPointKey, &value);
    g_mutex_unlock(&m_lock);
    return value;
}

std::int64_t CTarrowFilter::ConfiguredDuration() {
    g_mutex_lock(&m_lock);
    std::int64_t value = m_duration;
    tarrow::ReadRange(m_properties, tarrow::kDurationKey, &value);
    g_mutex_unlock(&m_lock);
    return value;
}

void CTarrowFilter::SetConfigured(const char* key, std::int64_t value) {
    if (!m_properties) return;
    PropValue record;
    record.type = PropLongLong;
    record.value.longlongValue = value;
    g_mutex_lock(&m_lock);
    m_properties->SetValue(key, &record);
    g_mutex_unlock(&m_lock);
    m_properties->NotifyChanged();
}

tarrow::PersistedRange CTarrowFilter::Save() {
    g_mutex_lock(&m_lock);
    const tarrow::PersistedRange bytes = tarrow::SaveRange(m_startPoint, m_duration);
    g_mutex_unlock(&m_lock);
    return bytes;
}

HRESULT CTarrowFilter::Load(const std::uint8_t* data, std::size_t size) {
    std::int64_t startPoint = 0, duration = 0;
    const HRESULT hr = tarrow::LoadRange(data, size, &startPoint, &duration);
    if (FAILED(hr)) return hr;
    g_mutex_lock(&m_lock);
    m_startPoint = startPoint;
    m_duration = duration;
    const HRESULT stored = tarrow::WriteRange(m_properties, startPoint, duration);
    g_mutex_unlock(&m_lock);
    return stored;
}

bool CTarrowFilter::IsRunning() {
    GST_OBJECT_LOCK(m_element);
    const bool running = GST_STATE(m_element) == GST_STATE_PLAYING;
    GST_OBJECT_UNLOCK(m_element);
    return running;
}

void CTarrowFilter::RefreshRange() {
    if (m_properties && m_properties->IsChanged() != S_OK) {
        tarrow::ReadRange(m_properties, tarrow::kStartPointKey, &m_startPoint);
        tarrow::ReadRange(m_properties, tarrow::kDurationKey, &m_duration);
        m_properties->SetChanged(0);
    }
}

HRESULT CTarrowFilter::OnPropertiesChanged() {
    g_mutex_lock(&m_lock);
    tarrow::ReadRange(m_properties, tarrow::kStartPointKey, &m_startPoint);
    tarrow::ReadRange(m_properties, tarrow::kDurationKey, &m_duration);
    const int pairs = static_cast<int>(m_inputs.size());
    g_mutex_unlock(&m_lock);

    if (!IsRunning()) {
        for (int i = 0; i < pairs; ++i) {
            CTarrowInputPin* pin = Input(i);
            if (!gst_pad_is_linked(pin->Pad())) continue;
            // An inactive input cannot seek yet: its first buffer will.
            if (!gst_pad_is_active(pin->Pad())) {
                MarkSeekPending(pin);
                continue;
            }
            const HRESULT hr = SeekUpstream(i);
            if (FAILED(hr)) {
                // Upstream may simply not know its duration yet: try again before the next
                // buffer (a second refusal costs nothing).
                GST_INFO_OBJECT(pin->Pad(), "upstream not positioned yet (0x%08x)", hr);
                MarkSeekPending(pin);
            }
        }
    }
    g_mutex_lock(&m_lock);
    m_properties->SetChanged(0);
    g_mutex_unlock(&m_lock);
    GObject* object = G_OBJECT(m_element);
    g_object_notify(object, kTarrowPropStartPoint);
    g_object_notify(object, kTarrowPropDuration);
    return S_OK;
}

GstEvent* CTarrowFilter::PrepareSeek(int pairIndex, HRESULT* hr) {
    *hr = S_OK;
    CTarrowInputPin* pin = Input(pairIndex);
    if (!pin || !gst_pad_is_linked(pin->Pad())) return nullptr;
    g_mutex_lock(&m_lock);
    const std::int64_t startPoint = m_startPoint;
    const std::int64_t duration = m_duration;
    g_mutex_unlock(&m_lock);
    if (startPoint == 0 && duration == 0) return nullptr;

    GstQuery* seeking = gst_query_new_seeking(GST_FORMAT_TIME);
    gboolean seekable = FALSE;
    if (gst_pad_peer_query(pin->Pad(), seeking))
        gst_query_parse_seeking(seeking, nullptr, &seekable, nullptr, nullptr);
    gst_query_unref(seeking);
    if (!seekable) {
        *hr = E_NOINTERFACE;
        return nullptr;
    }
    gint64 totalNs = -1;
    if (!gst_pad_peer_query_duration(pin->Pad(), GST_FORMAT_TIME, &totalNs) || totalNs < 0) {
        *hr = E_FAIL;
        return nullptr;
    }
    const std::int64_t total = totalNs / kNsPerReference;
    std::int64_t stop = 0;
    bool toEnd =
        duration == 0 || __builtin_add_overflow(startPoint, duration, &stop) || stop > total;
    const std::int64_t stopNs = toEnd ? totalNs : ToNs(stop);
    GST_DEBUG_OBJECT(pin->Pad(), "seeking upstream to %" GST_TIME_FORMAT " - %" GST_TIME_FORMAT,
                     GST_TIME_ARGS(ToNs(startPoint)), GST_TIME_ARGS(stopNs));
    return gst_event_new_seek(
        1.0, GST_FORMAT_TIME,
        static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), GST_SEEK_TYPE_SET,
        ToNs(startPoint), GST_SEEK_TYPE_SET, stopNs);
}

HRESULT CTarrowFilter::SeekUpstream(int pairIndex) {
    HRESULT hr = S_OK;
    GstEvent* seek = PrepareSeek(pairIndex, &hr);
    if (!seek) return hr;
    return gst_pad_push_event(Input(pairIndex)->Pad(), seek) ? S_OK : E_FAIL;
}

void CTarrowFilter::ScheduleSeek(CTarrowInputPin* pin, GstEvent* seek) {
    auto* job = new ScheduledSeek{this, pin->PairIndex(), seek};
    gst_element_call_async(
        m_element,
        [](GstElement*, gpointer data) {
            auto* job = static_cast<ScheduledSeek*>(data);
            CTarrowInputPin* input = job->filter->Input(job->pairIndex);
            if (!gst_pad_push_event(input->Pad(), job->seek))
                GST_INFO_OBJECT(input->Pad(), "upstream refused the seek");
            job->seek = nullptr;
            // Whatever came back, buffers from here on are the upstream's current data.
            job->filter->SetAwaitingSeek(input, false);
        },
        job,
        [](gpointer data) {
            auto* job = static_cast<ScheduledSeek*>(data);
            if (job->seek) gst_event_unref(job->seek);
            delete job;
        });
}

bool CTarrowFilter::TakeSeekPending(CTarrowInputPin* pin) {
    g_mutex_lock(&m_gateLock);
    const bool pending = pin->m_seekPending;
    pin->m_seekPending = false;
    g_mutex_unlock(&m_gateLock);
    return pending;
}

void CTarrowFilter::MarkSeekPending(CTarrowInputPin* pin) {
    g_mutex_lock(&m_gateLock);
    pin->m_seekPending = true;
    g_mutex_unlock(&m_gateLock);
}

bool CTarrowFilter::IsAwaitingSeek(CTarrowInputPin* pin) {
    g_mutex_lock(&m_gateLock);
    const bool awaiting = pin->m_awaitingSeek;
    g_mutex_unlock(&m_gateLock);
    return awaiting;
}

void CTarrowFilter::SetAwaitingSeek(CTarrowInputPin* pin, bool awaiting) {
    g_mutex_lock(&m_gateLock);
    pin->m_awaitingSeek = awaiting;
    g_mutex_unlock(&m_gateLock);
}

void CTarrowFilter::OpenGate() {
    g_mutex_lock(&m_gateLock);
    m_gateOpen = true;
    g_cond_broadcast(&m_gateCond);
    g_mutex_unlock(&m_gateLock);
}

void CTarrowFilter::CloseGate() {
    g_mutex_lock(&m_gateLock);
    m_gateOpen = false;
    g_mutex_unlock(&m_gateLock);
}

void CTarrowFilter::WakeGate() {
    g_mutex_lock(&m_gateLock);
    g_cond_broadcast(&m_gateCond);
    g_mutex_unlock(&m_gateLock);
}

bool CTarrowFilter::WaitForGate(GstPad* pad) {
    auto flushing = [pad] {
        GST_OBJECT_LOCK(pad);
        const bool result = GST_PAD_IS_FLUSHING(pad);
        GST_OBJECT_UNLOCK(pad);
        return result;
    };
    g_mutex_lock(&m_gateLock);
    if (!m_gateOpen) GST_LOG_OBJECT(pad, "holding buffer until PLAYING");
    while (!m_gateOpen && !flushing()) g_cond_wait(&m_gateCond, &m_gateLock);
    g_mutex_unlock(&m_gateLock);
    return !flushing();
}

void CTarrowFilter::BeforeStateChange(GstStateChange transition) {
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
        case GST_STATE_CHANGE_PAUSED_TO_PLAYING:
            g_mutex_lock(&m_lock);
            RefreshRange();
            g_mutex_unlock(&m_lock);
            break;
        default:
            break;
    }
}

GstStateChangeReturn CTarrowFilter::AfterStateChange(GstStateChange transition,
                                                     GstStateChangeReturn ret) {
    if (ret == GST_STATE_CHANGE_FAILURE) return ret;
    switch (transition) {
        case GST_STATE_CHANGE_READY_TO_PAUSED:
        case GST_STATE_CHANGE_PLAYING_TO_PAUSED:
            // Paused without data: the pipeline completes PAUSED while buffers wait at the gate.
            return GST_STATE_CHANGE_NO_PREROLL;
        case GST_STATE_CHANGE_PAUSED_TO_PLAYING:
            OpenGate();
            return ret;
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
