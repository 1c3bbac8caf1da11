// Output graph building: the preview branch, the hold element, encoders and writers that turn
// the timeline's group pads into a file.
#include <fcntl.h>
#include <gst/app/gstappsink.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "ConversionEngine.h"
#include "EncoderTimes.h"
#include "WrittenTime.h"

namespace {

// A new element of the factory, or none (with failure set) when it is not installed.
GstElement* MakeElement(std::string& failure, const char* factory, const char* name = nullptr) {
    GstElement* element = gst_element_factory_make(factory, name);
    if (!element) failure = std::string("The media framework has no element \"") + factory + "\"";
    return element;
}

std::string ElementName(GstElement* element) {
    GCharPtr name(gst_object_get_name(GST_OBJECT(element)));
    return name ? name.get() : "element";
}

// Lets at most one frame per interval into the preview branch, so that converting frames for
// the preview costs next to nothing however fast the conversion runs.
constexpr gint64 kPreviewIntervalUs = 100'000;

GstPadProbeReturn ThrottlePreview(GstPad*, GstPadProbeInfo* info, gpointer data) {
    if (!(info->type & GST_PAD_PROBE_TYPE_BUFFER)) return GST_PAD_PROBE_OK;
    auto* last = static_cast<std::atomic<gint64>*>(data);
    gint64 now = g_get_monotonic_time();
    if (now - last->load(std::memory_order_relaxed) < kPreviewIntervalUs) return GST_PAD_PROBE_DROP;
    last->store(now, std::memory_order_relaxed);
    return GST_PAD_PROBE_OK;
}

// True when the encoder's output is MPEG-1/2 audio (layers 1 to 3).
bool ProducesMpegAudio(GstElement* encoder) {
    GstPadPtr src(gst_element_get_static_pad(encoder, "src"));
    if (!src) return false;
    GstCapsPtr produced(gst_pad_get_pad_template_caps(src.get()));
    GstCapsPtr mpeg(gst_caps_from_string("audio/mpeg, mpegversion=(int)1"));
    return gst_caps_can_intersect(produced.get(), mpeg.get());
}

// What a multiplexer input may hold while it waits for the other stream (see MuxInput).
constexpr guint kMuxQueueBytes = 256u << 20;

// True when every output the encoder can give is MPEG-1 Layer-3 audio.
bool ProducesMp3(GstElement* encoder) {
    GstPadPtr src(gst_element_get_static_pad(encoder, "src"));
    if (!src) return false;
    GstCapsPtr produced(gst_pad_get_pad_template_caps(src.get()));
    GstCapsPtr mp3(gst_caps_from_string("audio/mpeg, mpegversion=(int)1, layer=(int)3"));
    return produced && !gst_caps_is_empty(produced.get()) &&
           gst_caps_is_subset(produced.get(), mp3.get());
}

}  // namespace

bool CConversionEngine::AddToGraph(GstElement* element) {
    if (!element) return false;
    if (!gst_bin_add(GST_BIN(m_graph.get()), element)) {
        SetFailureText("The element " + ElementName(element) + " cannot be added to the pipeline");
        return false;
    }
    return true;
}

// Finds a pad by name: an existing pad, else one requested from a template of that name (or a
// numbered template such as "Input%d" that the name fits).
static GstPad* FindPin(GstElement* element, const char* name, bool* requested) {
    *requested = false;
    if (GstPad* pad = gst_element_get_static_pad(element, name)) return pad;
    GstElementClass* klass = GST_ELEMENT_GET_CLASS(element);
    for (GList* l = gst_element_class_get_pad_template_list(klass); l; l = l->next) {
        auto* templ = GST_PAD_TEMPLATE(l->data);
        if (GST_PAD_TEMPLATE_PRESENCE(templ) != GST_PAD_REQUEST) continue;
        const char* pattern = GST_PAD_TEMPLATE_NAME_TEMPLATE(templ);
        bool exact = std::strcmp(pattern, name) == 0;
        const char* percent = std::strchr(pattern, '%');
        bool numbered = percent && std::strncmp(pattern, name, size_t(percent - pattern)) == 0 &&
                        std::strlen(name) > size_t(percent - pattern);
        if (!exact && !numbered) continue;
        GstPad* pad = gst_element_request_pad(element, templ, exact ? nullptr : name, nullptr);
        if (pad) {
            *requested = true;
            return pad;
        }
    }
    return nullptr;
}

HRESULT CConversionEngine::Connect(GstPad* src, GstPad* sink, MediaKind kind, GstCaps* filter) {
    if (!src || !sink) return E_POINTER;
    // queue: the consumer runs on its own streaming thread, so decoding and encoding overlap.
    // A consumer with a fixed frame (the disc targets) gets it by scaling and by repeating or
    // dropping frames; each converter passes data through untouched when nothing differs.
    GstElement* queue = MakeElement(m_failureText, "queue");
    GstElement* convert =
        MakeElement(m_failureText, kind == MediaKind::Video ? "videoconvert" : "audioconvert");
    GstElement* resample =
        MakeElement(m_failureText, kind == MediaKind::Video ? "videoscale" : "audioresample");
    GstElement* rate = kind == MediaKind::Video ? MakeElement(m_failureText, "videorate") : nullptr;
    GstElement* caps = filter ? MakeElement(m_failureText, "capsfilter") : nullptr;
    if (!queue || !convert || !resample || (kind == MediaKind::Video && !rate) ||
        (filter && !caps)) {
        for (GstElement* e : {queue, convert, resample, rate, caps})
            if (e) gst_object_unref(gst_object_ref_sink(e));
        return E_FAIL;
    }
    if (caps) g_object_set(caps, "caps", filter, nullptr);
    std::vector<GstElement*> chain{queue};
    if (rate) chain.push_back(rate);
    chain.push_back(resample);
    chain.push_back(convert);
    if (caps) chain.push_back(caps);
    for (GstElement* e : chain) AddToGraph(e);
    for (size_t i = 0; i + 1 < chain.size(); ++i) gst_element_link(chain[i], chain[i + 1]);
    GstPadPtr head(gst_element_get_static_pad(queue, "sink"));
    GstPadPtr tail(gst_element_get_static_pad(chain.back(), "src"));
    GstPadLinkReturn first = gst_pad_link(src, head.get());
    GstPadLinkReturn last = gst_pad_link(tail.get(), sink);
    if (GST_PAD_LINK_FAILED(first) || GST_PAD_LINK_FAILED(last)) {
        GstPad* failed = GST_PAD_LINK_FAILED(first) ? src : sink;
        GstElement* owner = GST_ELEMENT(GST_OBJECT_PARENT(failed));
        SetFailureText("The pin \"" + std::string(GST_PAD_NAME(failed)) + "\" of " +
                       (owner ? ElementName(owner) : std::string("an element")) +
                       " cannot be connected: " +
                       gst_pad_link_get_name(GST_PAD_LINK_FAILED(first) ? first : last));
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
}

HRESULT CConversionEngine::AddBorrowed(GstElement* element, const char* name) {
    if (!element) return E_POINTER;
    if (GstObject* parent = gst_object_get_parent(GST_OBJECT(element))) {
        gst_object_unref(parent);
        SetFailureText("The element " + ElementName(element) +
                       " is still part of another conversion");
        return E_UNEXPECTED;
    }
    gst_object_set_name(GST_OBJECT(element), name);
    gst_element_set_state(element, GST_STATE_NULL);
    if (!AddToGraph(element)) return E_FAIL;
    m_borrowed.push_back(ElementRef(GST_ELEMENT(gst_object_ref(element)),
                                    [](GstElement* e) { gst_object_unref(e); }));
    return S_OK;
}

void CConversionEngine::RemoveBorrowed() {
    // The encoders outlive this engine: no probe of its may stay on their pads.
    m_taken.reset();
    m_encoderTimes.reset();
    for (auto& [element, pad] : m_requestedPads)
        gst_element_release_request_pad(element.get(), pad.get());
    m_requestedPads.clear();
    for (auto& element : m_borrowed) {
        gst_element_set_state(element.get(), GST_STATE_NULL);
        if (m_graph) gst_bin_remove(GST_BIN(m_graph.get()), element.get());
    }
    m_borrowed.clear();
}

HRESULT CConversionEngine::ConnectAudioEncoder(GstPad* audioPin, GstElement* audioEncoder,
                                               GstElement* consumer,
                                               const std::string& consumerName) {
    HRESULT hr = AddBorrowed(audioEncoder, "Audio Compressor");
    if (FAILED(hr)) return hr;
    GstPadPtr encoderIn(gst_element_get_static_pad(audioEncoder, "sink"));
    hr = Connect(audioPin, encoderIn.get(), MediaKind::Audio);
    if (FAILED(hr)) return hr;
    GstElement* format = MakeElement(m_failureText, "capsfilter", "Audio Format");
    if (!format || !AddToGraph(format)) return E_FAIL;
    m_audioFormatFilter.reset(GST_ELEMENT(gst_object_ref(format)));
    if (!gst_element_link(audioEncoder, format) || !gst_element_link(format, consumer)) {
        SetFailureText(consumerName + " does not take the output of " + ElementName(audioEncoder));
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
}

HRESULT CConversionEngine::Prepare(bool preview, GstPadPtr* videoPin, GstPadPtr* audioPin,
                                   bool hold) {
    if (!videoPin || !audioPin) return E_POINTER;
    if (!m_graph) return E_UNEXPECTED;
    // The front end always delivers every frame: there is no late-frame dropping to turn off.

    GstElement* tee = nullptr;
    GstPadPtr teeInput, teePreview, teeCapture, rendererInput;
    // Without a video group there is nothing to preview; an idle renderer would also keep the
    // pipeline from pausing, since a sink without data never prerolls. Without a pane
    // (kestrine-cli) nobody would see the frames converted for it.
    if (preview && m_videoGroup && m_ownerWindow) {
        tee = MakeElement(m_failureText, "tee", "Smart Tee Filter");
        if (tee && AddToGraph(tee)) {
            teeInput.reset(gst_element_get_static_pad(tee, "sink"));
            teeCapture.reset(gst_element_request_pad_simple(tee, "src_%u"));
            teePreview.reset(gst_element_request_pad_simple(tee, "src_%u"));
        }
        // The renderer: a leaky one-frame queue and an appsink that keeps only the newest frame,
        // so the preview never holds back the capture branch.
        GstElement* queue = MakeElement(m_failureText, "queue");
        GstElement* convert = MakeElement(m_failureText, "videoconvert");
        GstElement* sink = MakeElement(m_failureText, "appsink", "Video Renderer");
        if (queue && convert && sink) {
            g_object_set(queue, "leaky", 2, "max-size-buffers", 1u, "max-size-bytes", 0u,
                         "max-size-time", guint64(0), nullptr);
            // The pane takes packed RGB rows.
            GstCapsPtr caps(
                gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGB", nullptr));
            // wait-on-eos off: the end of the stream must not wait for the newest frame to be
            // shown.
            g_object_set(sink, "drop", TRUE, "max-buffers", 1u, "sync", FALSE, "enable-last-sample",
                         FALSE, "wait-on-eos", FALSE, "caps", caps.get(), nullptr);
            gst_bin_add_many(GST_BIN(m_graph.get()), queue, convert, sink, nullptr);
            gst_element_link_many(queue, convert, sink, nullptr);
            m_previewSink.reset(GST_ELEMENT(gst_object_ref(sink)));
            rendererInput.reset(gst_element_get_static_pad(queue, "sink"));
        } else {
            for (GstElement* e : {queue, convert, sink})
                if (e) gst_object_unref(gst_object_ref_sink(e));
        }
    }

    GstElementPtr holdFilter;
    GstPadPtr holdInput0, holdOutput0;
    bool holdRequested = false;
    if (hold) {
        if (GstElement* e = gst_element_factory_make("tarrowhold", "Tarrow Hold")) {
            holdFilter.reset(GST_ELEMENT(gst_object_ref_sink(e)));
            holdInput0.reset(FindPin(holdFilter.get(), "Input0", &holdRequested));
            holdOutput0.reset(FindPin(holdFilter.get(), "Output0", &holdRequested));
        }
    }

    HRESULT hr = m_renderEngine && !m_renderEngine->groups.empty() ? S_OK : E_FAIL;
    if (!m_renderEngine) return hr;
    bool holdInGraph = false;
    for (auto& group : m_renderEngine->groups) {
        GstPad* groupPin = group.outputPin.get();
        if (group.kind == MediaKind::Video) {
            Notify(kProgress, 0, 0);
            if (teeCapture) {
                GstPadLinkReturn linked = gst_pad_link(groupPin, teeInput.get());
                (void)linked;
                hr = rendererInput && GST_PAD_LINK_SUCCESSFUL(
                                          gst_pad_link(teePreview.get(), rendererInput.get()))
                         ? S_OK
                         : VFW_E_NOT_CONNECTED;
                if (teePreview && !rendererInput) {
                    // No renderer: the preview pad must not hold the tee back as not-linked.
                    g_object_set(tee, "allow-not-linked", TRUE, nullptr);
                } else if (teePreview) {
                    auto* last = new std::atomic<gint64>(0);
                    gst_pad_add_probe(
                        teePreview.get(), GST_PAD_PROBE_TYPE_BUFFER, ThrottlePreview, last,
                        [](gpointer p) { delete static_cast<std::atomic<gint64>*>(p); });
                }
                if (holdFilter) {
                    holdInGraph = AddToGraph(holdFilter.get());
                    hr = holdInGraph ? S_OK : E_FAIL;
                }
                if (holdFilter && holdInput0) {
                    hr = Connect(teeCapture.get(), holdInput0.get(), MediaKind::Video);
                    if (FAILED(hr)) return hr;
                    *videoPin = std::move(holdOutput0);
                } else {
                    *videoPin = std::move(teeCapture);
                }
            } else {
                if (holdFilter) {
                    holdInGraph = AddToGraph(holdFilter.get());
                    hr = holdInGraph ? S_OK : E_FAIL;
                }
                if (holdFilter && holdInput0) {
                    hr = GST_PAD_LINK_SUCCESSFUL(gst_pad_link(groupPin, holdInput0.get()))
                             ? S_OK
                             : VFW_E_NOT_CONNECTED;
                    *videoPin = std::move(holdOutput0);
                } else {
                    *videoPin = GstPadPtr(GST_PAD(gst_object_ref(groupPin)));
                }
            }
        } else {
            Notify(kProgress, 0, 0);
            GstPadPtr holdInput1, holdOutput1;
            // The second pair exists only once the first input is connected; without a video
            // group the audio goes past the hold element.
            if (holdInGraph && holdInput0 && gst_pad_is_linked(holdInput0.get())) {
                bool requested = false;
                holdInput1.reset(FindPin(holdFilter.get(), "Input1", &requested));
                holdOutput1.reset(FindPin(holdFilter.get(), "Output1", &requested));
            }
            if (holdInput1 && holdOutput1) {
                hr = GST_PAD_LINK_SUCCESSFUL(gst_pad_link(groupPin, holdInput1.get()))
                         ? S_OK
                         : VFW_E_NOT_CONNECTED;
                *audioPin = std::move(holdOutput1);
            } else {
                *audioPin = GstPadPtr(GST_PAD(gst_object_ref(groupPin)));
                hr = S_OK;
            }
        }
    }
    return hr;
}

// avimux writes its streams in time order and so takes a buffer of one stream only once the
// other has caught up. An encoder that holds frames back before its first output (x264 keeps
// about two seconds for its look-ahead, VP8 a second) leaves the other stream waiting at the
// multiplexer all that time, and the editing services end no stream before every stream has
// ended: the waiting stream must never back up into its source, or the encoder that holds
// frames never gets its end and the run stops for good. So each input gets a queue bounded only
// by a generous size, not by time, which holds whatever another encoder's latency asks for.
GstElement* CConversionEngine::MuxInput(GstElement* mux, const char* padTemplate) {
    GstElement* queue = MakeElement(m_failureText, "queue");
    if (!queue) return nullptr;
    g_object_set(queue, "max-size-buffers", 0u, "max-size-time", guint64(0), "max-size-bytes",
                 kMuxQueueBytes, nullptr);
    if (!AddToGraph(queue)) return nullptr;
    GstPadPtr muxIn(gst_element_request_pad_simple(mux, padTemplate));
    GstPadPtr queueOut(gst_element_get_static_pad(queue, "src"));
    if (!muxIn || GST_PAD_LINK_FAILED(gst_pad_link(queueOut.get(), muxIn.get()))) {
        SetFailureText("The AVI multiplexer takes no further stream");
        return nullptr;
    }
    return queue;
}

HRESULT CConversionEngine::WriteAvi(const std::string& destination, GstElementPtr* multiplexer,
                                    GstElement* videoEncoder, GstElement* audioEncoder,
                                    GstPad* videoPin, GstPad* audioPin) {
    if (!multiplexer) return E_POINTER;
    GstElement* mux = MakeElement(m_failureText, "avimux", "AVI Mux");
    // The file is opened here, without following a link, and written through its descriptor.
    GstElement* writer = MakeElement(m_failureText, "fdsink", "File Writer");
    HRESULT hr = S_OK;
    CloseOutputFile();
    m_outputFd = CTempOutput::OpenOwnFile(destination, O_RDWR | O_TRUNC);
    if (m_outputFd < 0) {
        SetFailureText("The output file cannot be opened: " + std::string(g_strerror(errno)));
        for (GstElement* e : {mux, writer})
            if (e) gst_object_unref(gst_object_ref_sink(e));
        return E_FAIL;
    }
    if (!mux || !writer) {
        for (GstElement* e : {mux, writer})
            if (e) gst_object_unref(gst_object_ref_sink(e));
        hr = E_FAIL;
    } else {
        g_object_set(writer, "fd", m_outputFd, "sync", FALSE, "async", FALSE, nullptr);
        gst_bin_add_many(GST_BIN(m_graph.get()), mux, writer, nullptr);
        gst_element_link(mux, writer);
        multiplexer->reset(GST_ELEMENT(gst_object_ref(mux)));
    }
    SetEncoderQuality(videoEncoder);
    UseAllCores(videoEncoder);
    if (FAILED(hr)) return hr;

    if (videoPin) {
        if (videoEncoder) {
            hr = AddBorrowed(videoEncoder, "Video Compressor");
            if (FAILED(hr)) return hr;
            GstPadPtr encoderIn(gst_element_get_static_pad(videoEncoder, "sink"));
            hr = Connect(videoPin, encoderIn.get(), MediaKind::Video);
            if (FAILED(hr)) return hr;
            GstElement* input = MuxInput(mux, "video_%u");
            if (!input) return E_FAIL;
            m_encoderTimes = std::make_unique<CEncoderTimes>(videoEncoder);
            if (!gst_element_link(videoEncoder, input)) {
                SetFailureText("The AVI multiplexer does not take the output of " +
                               ElementName(videoEncoder));
                return VFW_E_TYPE_NOT_ACCEPTED;
            }
        } else {
            GstElement* input = MuxInput(mux, "video_%u");
            GstPadPtr inputIn(input ? gst_element_get_static_pad(input, "sink") : nullptr);
            GstCapsPtr rgb(m_videoFormat ? timeline::VideoOutputCaps(*m_videoFormat)
                                         : gst_caps_new_simple("video/x-raw", "format",
                                                               G_TYPE_STRING, "BGR", nullptr));
            hr = inputIn ? Connect(videoPin, inputIn.get(), MediaKind::Video, rgb.get()) : E_FAIL;
            if (FAILED(hr)) return hr;
        }
    }
    if (audioPin) {
        GstElement* input = MuxInput(mux, "audio_%u");
        if (!input) return E_FAIL;
        if (audioEncoder) {
            // MPEG audio reaches avimux through the parser: only frames it knows as parsed does
            // it describe as they are stored (a frame per block, its samples per block);
            // otherwise it states a constant byte rate, which misstates the length of any
            // stream whose frames do not come to exactly that rate.
            GstElement* consumer = input;
            if (ProducesMpegAudio(audioEncoder)) {
                GstElement* parser = MakeElement(m_failureText, "mpegaudioparse");
                if (!parser || !AddToGraph(parser) || !gst_element_link(parser, input))
                    return E_FAIL;
                consumer = parser;
            }
            hr = ConnectAudioEncoder(audioPin, audioEncoder, consumer, "The AVI multiplexer");
            if (FAILED(hr)) return hr;
        } else {
            GstPadPtr inputIn(gst_element_get_static_pad(input, "sink"));
            GstCapsPtr pcm(m_audioFormat ? timeline::AudioCaps(*m_audioFormat) : nullptr);
            hr = Connect(audioPin, inputIn.get(), MediaKind::Audio, pcm.get());
            if (FAILED(hr)) return hr;
        }
    }
    // The platform's interleaving and legacy-index settings have no counterpart: avimux always
    // interleaves by time and writes the legacy index.
    return hr;
}

HRESULT CConversionEngine::WriteMpeg(const std::string& destination, GstElement* mpegEncoder,
                                     GstPad* videoPin, GstPad* audioPin) {
    if (!mpegEncoder) return E_INVALIDARG;
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(mpegEncoder), "location"))
        g_object_set(mpegEncoder, "location", destination.c_str(), nullptr);
    // The destination given is the run's temporary file: written where it is.
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(mpegEncoder), "in-place"))
        g_object_set(mpegEncoder, "in-place", TRUE, nullptr);
    HRESULT hr = AddBorrowed(mpegEncoder, "MPEG Writer Filter");
    if (FAILED(hr)) return hr;
    auto connectTo = [&](GstPad* pin, const char* name, MediaKind kind) -> HRESULT {
        bool requested = false;
        GstPadPtr input(FindPin(mpegEncoder, name, &requested));
        if (!input) {
            SetFailureText(ElementName(mpegEncoder) + " has no pin \"" + name + "\"");
            return VFW_E_NOT_CONNECTED;
        }
        if (requested)
            m_requestedPads.emplace_back(GST_ELEMENT(gst_object_ref(mpegEncoder)),
                                         GST_PAD(gst_object_ref(input.get())));
        return Connect(pin, input.get(), kind);
    };
    if (videoPin) {
        hr = connectTo(videoPin, "Video Input", MediaKind::Video);
        if (FAILED(hr)) return hr;
    }
    if (audioPin) {
        hr = connectTo(audioPin, "Audio Input", MediaKind::Audio);
        if (FAILED(hr)) return hr;
    }
    return hr;
}

HRESULT CConversionEngine::WriteWav(const std::string& destination, GstElement* audioEncoder,
                                    GstElement* wavWriter, GstPad* audioPin) {
    if (!wavWriter) return E_POINTER;
    if (!AddToGraph(wavWriter)) return E_FAIL;
    HRESULT hr = S_OK;
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(wavWriter), "location"))
        g_object_set(wavWriter, "location", destination.c_str(), "in-place", TRUE, nullptr);
    else
        hr = E_NOINTERFACE;
    // The source's tags go into the file (ID3 in front of MP3, LIST/INFO in a wave file).
    if (m_sourceTags && GST_IS_TAG_SETTER(wavWriter))
        gst_tag_setter_merge_tags(GST_TAG_SETTER(wavWriter), m_sourceTags.get(),
                                  GST_TAG_MERGE_REPLACE);
    if (audioPin) {
        GstPadPtr writerIn(gst_element_get_static_pad(wavWriter, "sink"));
        if (!writerIn) return VFW_E_NOT_CONNECTED;
        if (audioEncoder && ProducesMp3(audioEncoder)) {
            // An MP3 gets a Xing header, so that players show its exact length and seek well.
            GstElement* xing = gst_element_factory_make("xingmux", "Xing Header");
            if (xing && AddToGraph(xing)) {
                hr = ConnectAudioEncoder(audioPin, audioEncoder, xing, "The Xing header writer");
                if (SUCCEEDED(hr) && !gst_element_link(xing, wavWriter)) {
                    SetFailureText(ElementName(wavWriter) + " does not take MP3 audio");
                    hr = VFW_E_TYPE_NOT_ACCEPTED;
                }
                return hr;
            }
            hr = ConnectAudioEncoder(audioPin, audioEncoder, wavWriter, ElementName(wavWriter));
        } else if (audioEncoder) {
            hr = ConnectAudioEncoder(audioPin, audioEncoder, wavWriter, ElementName(wavWriter));
        } else {
            hr = Connect(audioPin, writerIn.get(), MediaKind::Audio);
        }
    }
    return hr;
}

HRESULT CConversionEngine::SetEncoderQuality(GstElement* encoder) {
    if (!encoder) return E_FAIL;
    GParamSpec* spec = g_object_class_find_property(G_OBJECT_GET_CLASS(encoder), "quality");
    if (!spec || !(spec->flags & G_PARAM_WRITABLE)) return E_NOINTERFACE;
    GValue value = G_VALUE_INIT;
    g_value_init(&value, spec->value_type);
    // A quality the user chose in the Properties dialog stays.
    g_object_get_property(G_OBJECT(encoder), "quality", &value);
    const bool atDefault = g_param_value_defaults(spec, &value);
    g_value_reset(&value);
    if (!atDefault) {
        g_value_unset(&value);
        return S_FALSE;
    }
    if (G_IS_PARAM_SPEC_INT(spec))
        g_value_set_int(&value, G_PARAM_SPEC_INT(spec)->maximum);
    else if (G_IS_PARAM_SPEC_UINT(spec))
        g_value_set_uint(&value, G_PARAM_SPEC_UINT(spec)->maximum);
    else if (G_IS_PARAM_SPEC_FLOAT(spec))
        g_value_set_float(&value, G_PARAM_SPEC_FLOAT(spec)->maximum);
    else if (G_IS_PARAM_SPEC_DOUBLE(spec))
        g_value_set_double(&value, G_PARAM_SPEC_DOUBLE(spec)->maximum);
    else {
        g_value_unset(&value);
        return E_NOINTERFACE;
    }
    g_object_set_property(G_OBJECT(encoder), "quality", &value);
    g_value_unset(&value);
    return S_OK;
}

// Encoders whose thread count, left at its default, runs them on one core. x264 and OpenH264
// already choose for themselves (their default 0 means automatic).
struct ThreadSetting {
    const char* factoryPrefix;
    const char* property;
    guint spareCores;  // cores left to the rest of the pipeline
};
constexpr ThreadSetting kThreadSettings[] = {
    // libvpx's VP8 encoder splits a frame into rows, and each row thread waits for the row above
    // by spinning. Whenever another thread takes a core from one of them (the decoder, the
    // audio encoder, any other program), the others spin through their whole time slices. On
    // two cores a second VP8 thread saves time only while nothing else wants a core; with other
    // work on the machine the run takes three to five times as long as with one thread. VP8
    // leaves one core to the rest.
    {"vp8enc", "threads", 1},
    {"vp9enc", "threads", 0},
    {"openjpegenc", "num-threads", 0},
    {"avenc_", "threads", 0},  // libav's generic option: an enumeration whose 0 is "auto"
};

void CConversionEngine::UseAllCores(GstElement* encoder) {
    if (!encoder) return;
    GstElementFactory* factory = gst_element_get_factory(encoder);
    const char* name = factory ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : nullptr;
    if (!name) return;
    for (const ThreadSetting& setting : kThreadSettings) {
        if (!g_str_has_prefix(name, setting.factoryPrefix)) continue;
        GParamSpec* spec =
            g_object_class_find_property(G_OBJECT_GET_CLASS(encoder), setting.property);
        if (!spec || !(spec->flags & G_PARAM_WRITABLE)) return;
        GValue value = G_VALUE_INIT;
        g_value_init(&value, spec->value_type);
        g_object_get_property(G_OBJECT(encoder), setting.property, &value);
        // A value the user set in the Properties dialog stays.
        const bool atDefault = g_param_value_defaults(spec, &value);
        g_value_unset(&value);
        if (!atDefault) return;
        const guint processors = g_get_num_processors();
        const guint cores =
            processors > setting.spareCores + 1 ? processors - setting.spareCores : 1;
        if (G_IS_PARAM_SPEC_ENUM(spec)) {
            if (g_enum_get_value(G_PARAM_SPEC_ENUM(spec)->enum_class, 0))
                g_object_set(encoder, setting.property, 0, nullptr);
            return;
        }
        if (cores < 2) return;  // one thread is what the default gives
        if (G_IS_PARAM_SPEC_INT(spec)) {
            g_object_set(encoder, setting.property,
                         std::min<gint>(gint(cores), G_PARAM_SPEC_INT(spec)->maximum), nullptr);
        } else if (G_IS_PARAM_SPEC_UINT(spec)) {
            g_object_set(encoder, setting.property,
                         std::min<guint>(cores, G_PARAM_SPEC_UINT(spec)->maximum), nullptr);
        }
        return;
    }
}

HRESULT CConversionEngine::SetEncoderFormat(GstElement* encoder, const WaveFormat* format) {
    if (!encoder) return E_FAIL;
    if (!m_audioFormatFilter) return VFW_E_NOT_CONNECTED;
    GstPadPtr output(gst_element_get_static_pad(encoder, "src"));
    if (!output) return E_NOINTERFACE;
    GstCapsPtr templateCaps(gst_pad_get_pad_template_caps(output.get()));
    if (!format) {
        // No format chosen: the encoder's first capability.
        GstCapsPtr first(gst_caps_copy_nth(templateCaps.get(), 0));
        g_object_set(m_audioFormatFilter.get(), "caps", first.get(), nullptr);
        return S_OK;
    }
    for (const auto& [name, value] : format->encoderProperties) {
        if (!g_object_class_find_property(G_OBJECT_GET_CLASS(encoder), name.c_str())) {
            SetFailureText(ElementName(encoder) + " has no setting \"" + name + "\"");
            return VFW_E_TYPE_NOT_ACCEPTED;
        }
        gst_util_set_object_arg(G_OBJECT(encoder), name.c_str(), value.c_str());
    }
    if (!format->encoderCaps.empty()) {
        GstCapsPtr caps(gst_caps_from_string(format->encoderCaps.c_str()));
        if (!caps) {
            SetFailureText("Invalid encoder format: " + format->encoderCaps);
            return E_INVALIDARG;
        }
        if (!gst_caps_can_intersect(caps.get(), templateCaps.get())) {
            SetFailureText(ElementName(encoder) + " cannot produce " + format->encoderCaps);
            return VFW_E_TYPE_NOT_ACCEPTED;
        }
        g_object_set(m_audioFormatFilter.get(), "caps", caps.get(), nullptr);
    }
    return S_OK;
}
