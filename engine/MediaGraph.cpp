#include "MediaGraph.h"

#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>

#include "ContentLength.h"
#include "GstIteration.h"
#include "MediaFramework.h"
#include "ProjectItem.h"

namespace {

// Name of the decoding bin inside an opened clip's pipeline.
constexpr const char* kDecoderName = "decoder";

// Streaming thread (uridecodebin's): every decoded stream ends in its own queue and fake sink,
// so that each stream prerolls independently and the pipeline can reach PAUSED.
void OnDecodedPad(GstElement*, GstPad* pad, gpointer pipeline) {
    GstElement* queue = gst_element_factory_make("queue", nullptr);
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    if (!queue || !sink) {
        if (queue) gst_object_unref(gst_object_ref_sink(queue));
        if (sink) gst_object_unref(gst_object_ref_sink(sink));
        return;
    }
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline), queue, sink, nullptr);
    gst_element_link(queue, sink);
    gst_element_sync_state_with_parent(sink);
    gst_element_sync_state_with_parent(queue);
    GstPadPtr queueSink(gst_element_get_static_pad(queue, "sink"));
    gst_pad_link(pad, queueSink.get());
}

// The negotiated caps of the first sink of the pipeline whose input has the given media type
// ("video/x-raw", "audio/x-raw"); null when none has.
GstCapsPtr FindSinkCaps(GstElement* pipeline, const char* mediaType) {
    if (!pipeline || !GST_IS_BIN(pipeline)) return {};
    GstCapsPtr found;
    ForEachObject(gst_bin_iterate_sinks(GST_BIN(pipeline)), [&](gpointer element) {
        GstPadPtr pad(gst_element_get_static_pad(GST_ELEMENT(element), "sink"));
        GstCapsPtr caps(pad ? gst_pad_get_current_caps(pad.get()) : nullptr);
        if (caps && gst_caps_get_size(caps.get()) > 0 &&
            gst_structure_has_name(gst_caps_get_structure(caps.get(), 0), mediaType)) {
            found = std::move(caps);
        }
        return !found;
    });
    return found;
}

// The kind of stream an element works on, from its class ("Codec/Decoder/Video"): "video",
// "audio" or empty.
std::string StreamKindOf(const char* klass) {
    if (!klass) return {};
    if (std::strstr(klass, "Video") || std::strstr(klass, "Image")) return "video";
    if (std::strstr(klass, "Audio")) return "audio";
    return {};
}

// "The video stream", "The audio stream", or "A stream of the file" when the kind is unknown.
std::string StreamName(const std::string& kind) {
    return kind.empty() ? std::string("A stream of the file") : "The " + kind + " stream";
}

// "M:SS" (or "H:MM:SS") of a running time.
std::string ClockText(GstClockTime time) {
    const guint64 seconds = time / GST_SECOND;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%u:%02u:%02u", unsigned(seconds / 3600),
                      unsigned(seconds / 60 % 60), unsigned(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%u:%02u", unsigned(seconds / 60), unsigned(seconds % 60));
    return text;
}

// What decodebin names in the debug text of a missing-decoder error: "Missing decoder: X (caps)".
std::string MissingDecoderName(const char* debug) {
    const char* at = debug ? std::strstr(debug, "Missing decoder: ") : nullptr;
    if (!at) return {};
    at += std::strlen("Missing decoder: ");
    std::string name(at, std::strcspn(at, "\n"));
    return name;
}

// The factory of a decoder that decodebin tried and gave up on: its debug text says "Couldn't
// set avdec_wmav2-0 to PAUSED". Null when there is none.
GstElementFactory* RefusingDecoder(const char* debug) {
    const char* at = debug ? std::strstr(debug, "Couldn't set ") : nullptr;
    if (!at) return nullptr;
    at += std::strlen("Couldn't set ");
    std::string name(at, std::strcspn(at, " \n"));
    if (const std::size_t dash = name.rfind('-'); dash != std::string::npos) name.resize(dash);
    return gst_element_factory_find(name.c_str());
}

}  // namespace

std::string CMediaGraph::ReasonForError(GstMessage* message, GstClockTime reached) {
    GError* raw = nullptr;
    gchar* rawDebug = nullptr;
    gst_message_parse_error(message, &raw, &rawDebug);
    GErrorPtr error(raw);
    GCharPtr debug(rawDebug);
    const std::string text = error && error->message ? error->message : "Internal error";
    if (!error) return text;

    GstElement* source =
        GST_IS_ELEMENT(GST_MESSAGE_SRC(message)) ? GST_ELEMENT(GST_MESSAGE_SRC(message)) : nullptr;
    GstElementFactory* factory = source ? gst_element_get_factory(source) : nullptr;
    const char* klass =
        factory ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS) : nullptr;
    const bool decoder = klass && std::strstr(klass, "Decoder");
    const bool reader = klass && (std::strstr(klass, "Demux") || std::strstr(klass, "Parser") ||
                                  std::strstr(klass, "Source") || std::strstr(klass, "Typefind"));
    const std::string kind = StreamKindOf(klass);
    const std::string at =
        GST_CLOCK_TIME_IS_VALID(reached) ? " at " + ClockText(reached) : std::string();
    const std::string damaged = "The file is damaged" + at + ": " + text;
    const std::string undecodable = StreamName(kind) + " cannot be decoded" + at + ": " + text;

    const bool missing =
        (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_MISSING_PLUGIN) ||
        (error->domain == GST_STREAM_ERROR && error->code == GST_STREAM_ERROR_CODEC_NOT_FOUND);
    if (missing) {
        // decodebin found a stream it has no decoder for. A damaged header gives streams of
        // made-up codings, so the coding is named rather than a plug-in blamed.
        if (GstElementFactory* refusing = RefusingDecoder(debug.get())) {
            // The decoder is there but does not take the stream's set-up data.
            const std::string name =
                gst_element_factory_get_metadata(refusing, GST_ELEMENT_METADATA_LONGNAME);
            std::string what = StreamKindOf(
                gst_element_factory_get_metadata(refusing, GST_ELEMENT_METADATA_KLASS));
            gst_object_unref(refusing);
            return StreamName(what) + " cannot be decoded: " + name +
                   " does not accept its set-up (the file may be damaged)";
        }
        const std::string coding = MissingDecoderName(debug.get());
        if (coding.empty()) return "No decoder is installed for a stream of this file: " + text;
        if (coding.find("unknown") != std::string::npos ||
            coding.find("Unknown") != std::string::npos)
            return "A stream of the file has a coding that is not recognised (" + coding +
                   "); the file may be damaged";
        return "No decoder is installed for " + coding + " (the file may also be damaged)";
    }
    if (error->domain != GST_STREAM_ERROR) return text;
    switch (error->code) {
        case GST_STREAM_ERROR_DECODE:
            return decoder ? undecodable : damaged;
        case GST_STREAM_ERROR_DEMUX:
        case GST_STREAM_ERROR_FORMAT:
        case GST_STREAM_ERROR_TYPE_NOT_FOUND:
        case GST_STREAM_ERROR_WRONG_TYPE:
        case GST_STREAM_ERROR_CODEC_NOT_FOUND:
            return damaged;
        case GST_STREAM_ERROR_FAILED:
        case GST_STREAM_ERROR_NOT_IMPLEMENTED:
            // The generic flow error ("Internal data stream error.") of the element that stopped:
            // its debug text names the flow that stopped it.
            if (debug && std::strstr(debug.get(), "not-negotiated"))
                return StreamName(kind) + " has a format that cannot be converted" + at + ": " +
                       text;
            if (decoder) return undecodable;
            if (reader) return damaged;
            return text;
        default:
            return text;
    }
}

// Errors that a decoding bin keeps off the pipeline's bus. decodebin holds back the errors of an
// element while it brings that element up, so that it can try another one when that fails; an
// element that fails on its own streaming thread during that window (a demultiplexer that finds
// the file ending inside its header) loses its error for good, and the pipeline then waits for
// a preroll that never comes. The decoding bins' child buses get a handler that notes such an
// error before the bin sees it; an error whose element is still in the pipeline a moment later
// was not part of a retry and stands.
//
// Shared by the handlers (streaming threads) and the graph (user-interface thread); guarded by
// its mutex. The element is held weakly: a strong reference would keep the element's bus, and
// so the handler and this record, alive in a cycle.
struct CMediaGraph::HeldErrors {
    std::mutex lock;
    std::string text;
    HRESULT hr = S_OK;
    gint64 heldAtUs = 0;  // monotonic time of the first held error; 0 for none
    GWeakRef source;

    HeldErrors() { g_weak_ref_init(&source, nullptr); }
    ~HeldErrors() { g_weak_ref_clear(&source); }
    HeldErrors(const HeldErrors&) = delete;
    HeldErrors& operator=(const HeldErrors&) = delete;

    void Note(GstMessage* message) {
        GError* raw = nullptr;
        gst_message_parse_error(message, &raw, nullptr);
        GErrorPtr error(raw);
        std::lock_guard<std::mutex> guard(lock);
        if (heldAtUs) return;  // the first error is the cause; the rest follow from it
        text = ReasonForError(message, GST_CLOCK_TIME_NONE);
        hr = ResultForError(error.get());
        heldAtUs = g_get_monotonic_time();
        g_weak_ref_set(&source, GST_MESSAGE_SRC(message));
    }

    // The held error when it was held at least graceMs ago and its element is still inside the
    // pipeline (decodebin removes an element that it gave up on).
    bool Standing(GstElement* pipeline, int graceMs, std::string* errorText, HRESULT* result) {
        std::lock_guard<std::mutex> guard(lock);
        if (!heldAtUs || g_get_monotonic_time() - heldAtUs < gint64(graceMs) * 1000) return false;
        std::unique_ptr<GObject, GObjectUnref> element(
            static_cast<GObject*>(g_weak_ref_get(&source)));
        if (!element || !GST_IS_OBJECT(element.get()) ||
            !gst_object_has_as_ancestor(GST_OBJECT(element.get()), GST_OBJECT(pipeline)))
            return false;
        *errorText = text;
        *result = hr;
        return true;
    }

    // What a decoding bin's child bus calls for every message of the bin's children.
    struct Hook {
        GstBin* bin;  // not referenced, like the bin's own handler: the bus lives inside the bin
        std::shared_ptr<HeldErrors> errors;
    };

    static GstBusSyncReply OnChildMessage(GstBus*, GstMessage* message, gpointer data) {
        auto* hook = static_cast<Hook*>(data);
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) hook->errors->Note(message);
        if (GstBinClass* klass = GST_BIN_GET_CLASS(hook->bin); klass->handle_message)
            klass->handle_message(hook->bin, message);  // takes the message
        else
            gst_message_unref(message);
        return GST_BUS_DROP;
    }

    // Any thread that adds an element below the pipeline. A decoding bin is hooked as it is
    // added, before it has children that could post on its bus.
    static void OnElementAdded(GstBin*, GstBin*, GstElement* element, gpointer data) {
        GstElementFactory* factory = gst_element_get_factory(element);
        if (!factory || std::strcmp(GST_OBJECT_NAME(factory), "decodebin") != 0) return;
        GstBus* bus = GST_BIN(element)->child_bus;
        if (!bus) return;
        auto* errors = static_cast<std::shared_ptr<HeldErrors>*>(data);
        // A bus refuses a second handler while one is set: the bin's own is replaced by one
        // that hands every message to the bin in the same way.
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_bus_set_sync_handler(bus, OnChildMessage, new Hook{GST_BIN(element), *errors},
                                 [](gpointer hook) { delete static_cast<Hook*>(hook); });
    }
};

CMediaGraph::CMediaGraph() {
    if (FAILED(InitMediaFramework())) return;
    GstElement* pipeline = gst_pipeline_new(nullptr);
    if (!pipeline) return;
    m_graph.reset(GST_ELEMENT(gst_object_ref_sink(pipeline)));
    m_control.reset(GST_ELEMENT(gst_object_ref(pipeline)));
    m_seeking.reset(GST_ELEMENT(gst_object_ref(pipeline)));
    m_events.reset(gst_pipeline_get_bus(GST_PIPELINE(pipeline)));
}

CMediaGraph::~CMediaGraph() {
    // A running graph is stopped here rather than waited for: waiting for the end of a stream
    // that never ends would hang the window. ReleaseGraph() brings it to NULL in any case.
    if (m_control && m_videoWindowActive) gst_element_set_state(m_control.get(), GST_STATE_READY);
    try {
        CloseVideoWindow();
    } catch (...) {
    }
    ReleaseGraph();
    m_loaded = 0;
    try {
        Notify(kGraphReleased);
    } catch (...) {
    }
}

void CMediaGraph::ReleaseGraph() {
    m_fileSource.reset();
    m_videoWindow.reset();
    m_events.reset();
    m_seeking.reset();
    m_control.reset();
    ReleasePipeline(m_graph);
}

void CMediaGraph::ReleasePipeline(GstElementPtr& pipeline, int timeoutMs) {
    if (!pipeline) return;
    if (gst_element_set_state(pipeline.get(), GST_STATE_NULL) == GST_STATE_CHANGE_ASYNC) {
        gst_element_get_state(pipeline.get(), nullptr, nullptr,
                              static_cast<GstClockTime>(timeoutMs) * GST_MSECOND);
    }
    if (GST_IS_PIPELINE(pipeline.get())) {
        GstBusPtr bus(gst_pipeline_get_bus(GST_PIPELINE(pipeline.get())));
        if (bus) gst_bus_set_flushing(bus.get(), TRUE);
    }
    pipeline.reset();
}

HRESULT CMediaGraph::ResultForError(const GError* error) {
    if (!error) return E_FAIL;
    if (error->domain == GST_STREAM_ERROR) {
        switch (error->code) {
            case GST_STREAM_ERROR_CODEC_NOT_FOUND:
                return VFW_E_TYPE_NOT_ACCEPTED;
            case GST_STREAM_ERROR_TYPE_NOT_FOUND:
            case GST_STREAM_ERROR_WRONG_TYPE:
            case GST_STREAM_ERROR_DEMUX:
            case GST_STREAM_ERROR_DECODE:
            case GST_STREAM_ERROR_FORMAT:
                return VFW_E_INVALID_FILE_FORMAT;
            default:
                break;
        }
    }
    if (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_MISSING_PLUGIN) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return E_FAIL;
}

HRESULT CMediaGraph::WaitForStateChange(GstElement* pipeline, GstBus* bus, int timeoutMs,
                                        std::string* errorText) {
    if (!pipeline || !bus) return E_POINTER;
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(timeoutMs) * 1000;
    for (;;) {
        // A time limit that has passed still looks at what is already waiting on the bus.
        const gint64 left = std::max<gint64>(0, deadline - g_get_monotonic_time());
        GstMessagePtr message(gst_bus_timed_pop_filtered(
            bus, static_cast<GstClockTime>(left) * GST_USECOND,
            static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR)));
        if (!message) return E_ABORT;
        if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
            GError* raw = nullptr;
            gst_message_parse_error(message.get(), &raw, nullptr);
            GErrorPtr error(raw);
            const std::string text = ReasonForError(message.get(), GST_CLOCK_TIME_NONE);
            if (errorText) *errorText = text;
            return ResultForError(error.get());
        }
        if (GST_MESSAGE_SRC(message.get()) == GST_OBJECT(pipeline)) return S_OK;
    }
}

void CMediaGraph::Notify(int k, std::intptr_t wParam, std::intptr_t lParam) {
    if (m_notifyWindow) m_notifyWindow->OnMediaNotify(m_messageBase, k, wParam, lParam);
}

HRESULT CMediaGraph::RenderFile(const std::string& path, std::string* errorText) {
    if (!m_graph || !m_events) {
        *errorText = "The media framework is not available.";
        return E_POINTER;
    }
    // Only regular files: opening a FIFO or a device would block the user-interface thread
    // before any time limit applies.
    if (g_file_test(path.c_str(), G_FILE_TEST_EXISTS) &&
        !g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR)) {
        *errorText = "The path is not a regular file.";
        return E_INVALIDARG;
    }
    GError* rawError = nullptr;
    GCharPtr uri(gst_filename_to_uri(path.c_str(), &rawError));
    GErrorPtr uriError(rawError);
    if (!uri) {
        *errorText = uriError && uriError->message ? uriError->message : "Invalid file name.";
        return E_INVALIDARG;
    }
    // An empty file has nothing to find a type in; the decoder would fail on it in one of
    // several ways, some of them only at the time limit.
    std::error_code sizeError;
    if (std::filesystem::is_regular_file(path, sizeError) &&
        std::filesystem::file_size(path, sizeError) == 0 && !sizeError) {
        *errorText = "The file is empty.";
        return VFW_E_INVALID_FILE_FORMAT;
    }
    GstElement* decoder = gst_element_factory_make("uridecodebin", kDecoderName);
    if (!decoder) {
        *errorText = "No element \"uridecodebin\" is installed.";
        return E_FAIL;
    }
    g_object_set(decoder, "uri", uri.get(), nullptr);
    g_signal_connect(decoder, "pad-added", G_CALLBACK(OnDecodedPad), m_graph.get());
    if (!m_heldErrors) {
        m_heldErrors = std::make_shared<HeldErrors>();
        // The signal's data is a shared handle of its own, released with the connection.
        g_signal_connect_data(
            m_graph.get(), "deep-element-added", G_CALLBACK(HeldErrors::OnElementAdded),
            new std::shared_ptr<HeldErrors>(m_heldErrors),
            [](gpointer data, GClosure*) {
                delete static_cast<std::shared_ptr<HeldErrors>*>(data);
            },
            GConnectFlags(0));
    }
    gst_bin_add(GST_BIN(m_graph.get()), decoder);

    HRESULT hr;
    const GstStateChangeReturn change = gst_element_set_state(m_graph.get(), GST_STATE_PAUSED);
    if (change == GST_STATE_CHANGE_FAILURE) {
        // The error, when the failing element posted one, is already on the bus.
        hr = WaitForStateChange(m_graph.get(), m_events.get(), 0, errorText);
        if (SUCCEEDED(hr) || hr == E_ABORT) {
            hr = E_FAIL;
            *errorText = "The file could not be opened.";
        }
    } else if (change == GST_STATE_CHANGE_ASYNC) {
        // In slices, so that an error the decoding bin held back ends the wait (see HeldErrors).
        const gint64 deadline = g_get_monotonic_time() + gint64(m_openTimeoutMs) * 1000;
        for (;;) {
            const gint64 leftMs = (deadline - g_get_monotonic_time()) / 1000;
            hr = WaitForStateChange(m_graph.get(), m_events.get(),
                                    int(std::clamp<gint64>(leftMs, 0, kHeldErrorGraceMs)),
                                    errorText);
            if (hr != E_ABORT) break;
            if (m_heldErrors->Standing(m_graph.get(), kHeldErrorGraceMs, errorText, &hr)) {
                break;
            }
            if (leftMs <= 0) break;
        }
        if (hr == E_ABORT) {
            hr = E_FAIL;
            char text[96];
            std::snprintf(text, sizeof text, "The file could not be read within %g seconds.",
                          m_openTimeoutMs / 1000.0);
            *errorText = text;
        }
    } else {
        hr = S_OK;
    }
    // A pipeline that failed to open must not keep streaming threads busy with the file.
    if (FAILED(hr)) gst_element_set_state(m_graph.get(), GST_STATE_NULL);
    return hr;
}

HRESULT CMediaGraph::OpenClip(CProjectItem& clip) {
    m_renderError.clear();
    m_failureText.clear();
    if (clip.GetPath().empty()) return E_FAIL;

    std::string errorText;
    HRESULT hr = RenderFile(clip.GetPath(), &errorText);
    if (FAILED(hr)) {
        m_renderError = errorText + " File: " + clip.GetName();
        m_failureText = m_renderError;
        return hr;
    }

    if (SUCCEEDED(QueryVideoSize())) {
        clip.SetHasVideo(1);
        clip.SetSize(m_width, m_height);
    }
    if (SUCCEEDED(QueryAudio())) clip.SetHasAudio(1);

    // The framework estimates some lengths and believes every header; the packets tell.
    const std::optional<ContentFacts> content = ScanContent(clip.GetPath(), kContentScanMs);
    const RefTime contentLength = content && content->complete ? content->length : 0;
    const gint64 duration = QueryDurationNs(contentLength <= 0);
    // The framework times some files from their data where the header declares more (an MP3
    // header frame's count, an AVI's frame count, a WAV file's data size): the header's
    // declaration is what the file was meant to hold, so that a file cut short is reported.
    const RefTime stated =
        std::max<RefTime>(duration >= 0 ? duration / 100 : 0, content ? content->declared : 0);
    RefTime length = ClipLength(stated, contentLength);
    // A file that the framework opens but cannot time, and libav can read but not to its end
    // in time, has the length libav's reading of its header gives.
    if (length <= 0 && content) length = content->stated;
    if (length <= 0) {
        // A file without a duration cannot be converted; say so rather than drop it silently.
        m_renderError = "The duration of the file could not be determined. File: " + clip.GetName();
        m_failureText = m_renderError;
        return E_FAIL;
    }
    if (clip.GetDuration() == 0) clip.SetDuration(length);
    if (clip.GetMediaStop() == 0) clip.SetMediaStop(length);
    if (clip.GetContentLength() == 0)
        clip.SetContentLength(contentLength > 0 ? std::min(contentLength, length) : 0);
    m_loaded = 1;
    return S_OK;
}

std::int64_t CMediaGraph::ClipLength(std::int64_t stated, std::int64_t content) {
    if (content <= 0) return stated;
    if (stated <= 0) return content;
    // An estimate is off by a few percent (bit-rate guesses, rounding to whole frames).
    const std::int64_t estimateError = std::max<std::int64_t>(kRefTimePerSecond / 2, stated / 20);
    if (content >= stated - estimateError) return content;
    // Twenty times what the file holds is no length a cut-off copy has: the header is damaged.
    constexpr std::int64_t kBelievable = 20;
    if (stated / kBelievable > content) return content;
    return stated;
}

gint64 CMediaGraph::QueryDurationNs(bool waitForEstimate) {
    if (!m_seeking) return -1;
    gint64 duration = -1;
    if (gst_element_query_duration(m_seeking.get(), GST_FORMAT_TIME, &duration) && duration >= 0) {
        return duration;
    }
    if (!waitForEstimate) return -1;
    // Parsers of streams without an index (ADTS AAC, MP3 without a header frame) estimate the
    // duration only from frames they have parsed, and a prerolled pipeline parses no more. Let
    // it run (the sinks do not sync, so it runs as fast as it decodes) until the estimate is
    // announced with DURATION_CHANGED or the stream ends, then pause it again.
    gst_element_set_state(m_control.get(), GST_STATE_PLAYING);
    const gint64 deadline = g_get_monotonic_time() + kDurationWaitMs * 1000;
    while (g_get_monotonic_time() < deadline) {
        GstMessagePtr message(gst_bus_timed_pop_filtered(
            m_events.get(), 50 * GST_MSECOND,
            static_cast<GstMessageType>(GST_MESSAGE_DURATION_CHANGED | GST_MESSAGE_EOS |
                                        GST_MESSAGE_ERROR)));
        if (gst_element_query_duration(m_seeking.get(), GST_FORMAT_TIME, &duration) &&
            duration >= 0) {
            break;
        }
        duration = -1;
        if (message && GST_MESSAGE_TYPE(message.get()) != GST_MESSAGE_DURATION_CHANGED) break;
    }
    gst_element_set_state(m_control.get(), GST_STATE_PAUSED);
    return duration;
}

HRESULT CMediaGraph::QueryVideoSize() {
    if (m_sizeKnown) return S_OK;
    GstCapsPtr caps = FindSinkCaps(m_graph.get(), "video/x-raw");
    if (!caps) return E_NOINTERFACE;
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps.get())) return E_FAIL;
    m_width = GST_VIDEO_INFO_WIDTH(&info);
    m_height = GST_VIDEO_INFO_HEIGHT(&info);
    m_sizeKnown = 1;
    return S_OK;
}

HRESULT CMediaGraph::QueryAudio() {
    GstCapsPtr caps = FindSinkCaps(m_graph.get(), "audio/x-raw");
    if (!caps) return E_NOINTERFACE;
    m_volume = 0;  // full volume: the graph renders the audio unattenuated
    m_hasAudio = 1;
    return S_OK;
}

HRESULT CMediaGraph::CloseVideoWindow() {
    HRESULT hr = E_FAIL;
    if (m_loaded) {
        m_eventNotify = false;
        hr = S_OK;
        if (m_videoWindow) {
            if (GST_IS_APP_SINK(m_videoWindow.get())) {
                GstAppSinkCallbacks none{};
                gst_app_sink_set_callbacks(GST_APP_SINK(m_videoWindow.get()), &none, nullptr,
                                           nullptr);
            }
            m_videoWindow.reset();
            if (m_ownerWindow) m_ownerWindow->ClearFrame();
            Notify(kPreviewClosed);
        }
    }
    m_videoWindowActive = 0;
    return hr;
}
