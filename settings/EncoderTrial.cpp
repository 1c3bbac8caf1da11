#include "EncoderTrial.h"

#include <cstring>
#include <initializer_list>

#include "EncoderTimes.h"
#include "MediaFramework.h"

GST_DEBUG_CATEGORY_STATIC(trial_debug);
#define GST_CAT_DEFAULT trial_debug

namespace {

// What the WAV writer stores: PCM, A-law, mu-law, IMA and Microsoft ADPCM, GSM 6.10 and MPEG
// audio layer 2 in a RIFF WAVE file, MPEG Layer-3 as a plain MP3 stream.
constexpr const char* kWavWriterCaps =
    "audio/x-raw, format=(string){ U8, S16LE, S24LE, S32LE }; audio/x-alaw; audio/x-mulaw; "
    "audio/x-adpcm, layout=(string){ dvi, microsoft }; audio/x-gsm; audio/ms-gsm; "
    "audio/mpeg, mpegversion=(int)1, layer=(int)[2, 3]";

// Three seconds: past the look-ahead of every encoder offered (x264 holds about two seconds).
constexpr int kVideoFrames = 75;
constexpr int kAudioBuffers = 5;  // each 1/20 s
constexpr GstClockTime kVideoBound = 30 * GST_SECOND;
constexpr GstClockTime kAudioBound = 5 * GST_SECOND;

void EnsureDebugCategory() {
    static gsize once = 0;
    if (g_once_init_enter(&once)) {
        GST_DEBUG_CATEGORY_INIT(trial_debug, "kestrinetrial", 0, "encoder trial encodes");
        g_once_init_leave(&once, 1);
    }
}

GstCapsPtr PadTemplateCaps(const char* factoryName, GstPadDirection direction) {
    GstCaps* all = gst_caps_new_empty();
    if (GstElementFactory* factory = gst_element_factory_find(factoryName)) {
        for (const GList* l = gst_element_factory_get_static_pad_templates(factory); l;
             l = l->next) {
            auto* templ = static_cast<GstStaticPadTemplate*>(l->data);
            if (templ->direction != direction) continue;
            all = gst_caps_merge(all, gst_static_pad_template_get_caps(templ));
        }
        gst_object_unref(factory);
    }
    return GstCapsPtr(all);
}

// Watches the buffers leaving the encoder (streaming thread; read after the pipeline stopped).
struct BufferWatch {
    GstClockTime limit = 0;
    std::uint64_t buffers = 0;
    std::uint64_t bytes = 0;
    bool badTimestamp = false;
    GstClockTime badValue = GST_CLOCK_TIME_NONE;
};

// The buffer's time as running time: encoders may shift their segment (video encoders start at
// 1000 hours to leave room for negative decoding times), so raw stamps mean nothing alone.
GstClockTime RunningTime(GstPad* pad, GstBuffer* buffer) {
    GstClockTime stamp = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(stamp)) stamp = GST_BUFFER_DTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(stamp)) return GST_CLOCK_TIME_NONE;
    return PadRunningTime(pad, stamp);
}

GstPadProbeReturn OnEncodedBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* watch = static_cast<BufferWatch*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer) return GST_PAD_PROBE_OK;
    GstClockTime stamp = RunningTime(pad, buffer);
    // A buffer without a time, or one far beyond the media fed in, cannot be muxed or followed
    // by the progress display (some encoders stamp every buffer 2^63).
    if (!GST_CLOCK_TIME_IS_VALID(stamp) || stamp > watch->limit) {
        watch->badTimestamp = true;
        watch->badValue = stamp;
    }
    ++watch->buffers;
    watch->bytes += gst_buffer_get_size(buffer);
    return GST_PAD_PROBE_OK;
}

GstElement* Make(const char* factory) {
    return gst_element_factory_make(factory, nullptr);
}

bool ApplyProperties(GstElement* element, const PropertyList& properties, std::string& failure) {
    for (const auto& [name, value] : properties) {
        if (!g_object_class_find_property(G_OBJECT_GET_CLASS(element), name.c_str())) {
            failure = "no property " + name;
            return false;
        }
        gst_util_set_object_arg(G_OBJECT(element), name.c_str(), value.c_str());
    }
    return true;
}

// Runs a built pipeline to its end: true on EOS within bound, else failure says why.
bool RunToEnd(GstElement* pipeline, GstClockTime bound, std::string& failure) {
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        failure = "could not start";
    }
    GstBusPtr bus(gst_element_get_bus(pipeline));
    GstClockTime start = gst_util_get_timestamp();
    while (failure.empty()) {
        GstClockTime spent = gst_util_get_timestamp() - start;
        if (spent >= bound) {
            failure = "no end within the time bound";
            break;
        }
        GstMessagePtr message(gst_bus_timed_pop_filtered(
            bus.get(), bound - spent,
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        if (!message) continue;
        if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS) return true;
        GError* rawError = nullptr;
        gst_message_parse_error(message.get(), &rawError, nullptr);
        GErrorPtr error(rawError);
        failure = error ? error->message : "error";
    }
    return false;
}

TrialOutcome Finish(GstElement* pipeline, GstElement* encoder, bool ended, std::string failure,
                    const BufferWatch& watch, std::uint64_t inputNs) {
    TrialOutcome outcome;
    GstPadPtr src(gst_element_get_static_pad(encoder, "src"));
    if (src) outcome.caps.reset(gst_pad_get_current_caps(src.get()));
    gst_element_set_state(pipeline, GST_STATE_NULL);
    if (ended) {
        if (watch.buffers == 0)
            failure = "no output";
        else if (watch.badTimestamp)
            failure = "invalid timestamp " + std::to_string(watch.badValue);
        else if (!outcome.caps)
            failure = "no output caps";
    }
    outcome.ok = ended && failure.empty();
    outcome.failure = failure;
    outcome.bytes = watch.bytes;
    outcome.buffers = watch.buffers;
    outcome.inputNs = inputNs;
    return outcome;
}

// Adds the elements to the pipeline; false when any of them could not be made (the ones that
// were made still go into the pipeline, which owns them from then on).
bool AddElements(GstElement* pipeline, std::initializer_list<GstElement*> elements) {
    bool made = true;
    for (GstElement* e : elements) {
        if (e)
            gst_bin_add(GST_BIN(pipeline), e);
        else
            made = false;
    }
    return made;
}

// Runs a linked trial pipeline to its end while watching what the encoder puts out; inputNs is
// the length of the test input, bound the time allowed for the whole run.
TrialOutcome RunTrial(GstElement* pipeline, GstElement* encoder, std::uint64_t inputNs,
                      GstClockTime bound) {
    BufferWatch watch;
    watch.limit = inputNs + 10 * GST_SECOND;
    GstPadPtr src(gst_element_get_static_pad(encoder, "src"));
    if (!src) {
        TrialOutcome outcome;
        outcome.failure = "no src pad";
        return outcome;
    }
    gst_pad_add_probe(src.get(), GST_PAD_PROBE_TYPE_BUFFER, OnEncodedBuffer, &watch, nullptr);
    std::string failure;
    bool ended = RunToEnd(pipeline, bound, failure);
    return Finish(pipeline, encoder, ended, failure, watch, inputNs);
}

}  // namespace

const char* CategoryKey(EncoderCategory category) {
    switch (category) {
        case EncoderCategory::AviVideo:
            return "avi-video";
        case EncoderCategory::AviAudio:
            return "avi-audio";
        case EncoderCategory::WavAudio:
            return "wav-audio";
    }
    return "";
}

bool IsAudioCategory(EncoderCategory category) {
    return category != EncoderCategory::AviVideo;
}

GstCapsPtr WriterAcceptedCaps(EncoderCategory category) {
    if (category == EncoderCategory::WavAudio) {
        GstCapsPtr fixed(gst_caps_from_string(kWavWriterCaps));
        // When the writer is installed, what it declares narrows the list further.
        if (HasElementFactory("kestrinwavwriter")) {
            GstCapsPtr declared = PadTemplateCaps("kestrinwavwriter", GST_PAD_SINK);
            return GstCapsPtr(gst_caps_intersect(fixed.get(), declared.get()));
        }
        return fixed;
    }
    GstCapsPtr all = PadTemplateCaps("avimux", GST_PAD_SINK);
    const char* wanted = category == EncoderCategory::AviVideo ? "video" : "audio";
    GstCaps* kept = gst_caps_new_empty();
    for (guint i = 0; i < gst_caps_get_size(all.get()); ++i) {
        const char* name = gst_structure_get_name(gst_caps_get_structure(all.get(), i));
        bool isAudio = g_str_has_prefix(name, "audio/");
        if ((std::strcmp(wanted, "audio") == 0) == isAudio)
            kept = gst_caps_merge_structure(
                kept, gst_structure_copy(gst_caps_get_structure(all.get(), i)));
    }
    return GstCapsPtr(kept);
}

TrialOutcome TrialEncodeVideo(const std::string& factoryName) {
    EnsureDebugCategory();
    // The shape of a conversion: video through the encoder and PCM audio beside it into avimux,
    // each behind its queue, so an encoder that would hold up the multiplexer fails here.
    GstElementPtr pipeline(gst_pipeline_new("encoder-trial"));
    GstElement* source = Make("videotestsrc");
    GstElement* filter = Make("capsfilter");
    GstElement* queue = Make("queue");
    GstElement* convert = Make("videoconvert");
    GstElement* encoder = Make(factoryName.c_str());
    GstElement* videoIn = Make("queue");
    GstElement* tone = Make("audiotestsrc");
    GstElement* pcm = Make("capsfilter");
    GstElement* audioIn = Make("queue");
    GstElement* mux = Make("avimux");
    GstElement* sink = Make("fakesink");
    TrialOutcome outcome;
    if (!AddElements(pipeline.get(), {source, filter, queue, convert, encoder, videoIn, tone, pcm,
                                      audioIn, mux, sink})) {
        outcome.failure = "could not create the elements";
        return outcome;
    }
    g_object_set(source, "num-buffers", kVideoFrames, nullptr);
    GstCapsPtr raw(gst_caps_from_string("video/x-raw, width=160, height=120, framerate=25/1"));
    g_object_set(filter, "caps", raw.get(), nullptr);
    const int samplesPerFrame = 44100 / 25;
    g_object_set(tone, "num-buffers", kVideoFrames, "samplesperbuffer", samplesPerFrame, nullptr);
    GstCapsPtr audio(gst_caps_from_string("audio/x-raw, format=S16LE, rate=44100, channels=2"));
    g_object_set(pcm, "caps", audio.get(), nullptr);
    for (GstElement* q : {videoIn, audioIn})
        g_object_set(q, "max-size-buffers", 0u, "max-size-time", guint64(0), "max-size-bytes",
                     64u << 20, nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    if (!gst_element_link_many(source, filter, queue, convert, encoder, videoIn, mux, nullptr) ||
        !gst_element_link_many(tone, pcm, audioIn, mux, sink, nullptr)) {
        outcome.failure = "not linkable to avimux";
        return outcome;
    }
    CEncoderTimes times(encoder);
    outcome = RunTrial(pipeline.get(), encoder, kVideoFrames * GST_SECOND / 25, kVideoBound);
    // Every frame comes out, one buffer each.
    if (outcome.ok && outcome.buffers != std::uint64_t(kVideoFrames)) {
        outcome.ok = false;
        outcome.failure = std::to_string(outcome.buffers) + " buffers for " +
                          std::to_string(kVideoFrames) + " frames";
    }
    GST_DEBUG("%s: %s%s", factoryName.c_str(), outcome.ok ? "ok" : outcome.failure.c_str(),
              times.Restored() ? " (times restored from the input)" : "");
    return outcome;
}

TrialOutcome TrialEncodeAudio(const std::string& factoryName, EncoderCategory category, int rate,
                              int channels, const PropertyList& properties) {
    EnsureDebugCategory();
    TrialOutcome outcome;
    GstElementPtr pipeline(gst_pipeline_new("encoder-trial"));
    GstElement* source = Make("audiotestsrc");
    GstElement* filter = Make("capsfilter");
    GstElement* convert = Make("audioconvert");
    GstElement* encoder = Make(factoryName.c_str());
    GstElement* accept = Make("capsfilter");
    GstElement* mux = category == EncoderCategory::AviAudio ? Make("avimux") : Make("identity");
    GstElement* sink = Make("fakesink");
    if (!AddElements(pipeline.get(), {source, filter, convert, encoder, accept, mux, sink})) {
        outcome.failure = "could not create the elements";
        return outcome;
    }
    if (!ApplyProperties(encoder, properties, outcome.failure)) return outcome;
    const int samplesPerBuffer = rate / 20 > 0 ? rate / 20 : 1;
    g_object_set(source, "num-buffers", kAudioBuffers, "samplesperbuffer", samplesPerBuffer,
                 nullptr);
    GstCapsPtr raw(gst_caps_new_simple("audio/x-raw", "rate", G_TYPE_INT, rate, "channels",
                                       G_TYPE_INT, channels, nullptr));
    g_object_set(filter, "caps", raw.get(), nullptr);
    GstCapsPtr accepted = WriterAcceptedCaps(category);
    g_object_set(accept, "caps", accepted.get(), nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    if (!gst_element_link_many(source, filter, convert, encoder, accept, mux, sink, nullptr)) {
        outcome.failure = "not linkable to the writer";
        return outcome;
    }
    const std::uint64_t inputNs =
        gst_util_uint64_scale(std::uint64_t(samplesPerBuffer) * kAudioBuffers, GST_SECOND, rate);
    outcome = RunTrial(pipeline.get(), encoder, inputNs, kAudioBound);
    GST_DEBUG("%s %d Hz %d ch: %s", factoryName.c_str(), rate, channels,
              outcome.ok ? "ok" : outcome.failure.c_str());
    return outcome;
}

std::uint16_t FormatTagForCaps(const GstCaps* caps) {
    if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) return 0;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    const char* name = gst_structure_get_name(s);
    int version = 0, layer = 0;
    if (std::strcmp(name, "audio/x-raw") == 0) return 0x0001;
    if (std::strcmp(name, "audio/x-alaw") == 0) return 0x0006;
    if (std::strcmp(name, "audio/x-mulaw") == 0) return 0x0007;
    if (std::strcmp(name, "audio/mpeg") == 0) {
        gst_structure_get_int(s, "mpegversion", &version);
        if (version == 1) {
            gst_structure_get_int(s, "layer", &layer);
            return layer == 3 ? 0x0055 : 0x0050;
        }
        return 0x00FF;  // AAC
    }
    if (std::strcmp(name, "audio/x-ac3") == 0 || std::strcmp(name, "audio/ac3") == 0) return 0x2000;
    if (std::strcmp(name, "audio/x-wma") == 0) {
        gst_structure_get_int(s, "wmaversion", &version);
        return version == 1 ? 0x0160 : version == 2 ? 0x0161 : 0x0162;
    }
    if (std::strcmp(name, "audio/x-adpcm") == 0) {
        const char* layout = gst_structure_get_string(s, "layout");
        if (layout && std::strcmp(layout, "microsoft") == 0) return 0x0002;
        if (layout && std::strcmp(layout, "dvi") == 0) return 0x0011;
        if (layout && std::strcmp(layout, "g726") == 0) return 0x0064;
        return 0;
    }
    if (std::strcmp(name, "audio/x-gsm") == 0 || std::strcmp(name, "audio/ms-gsm") == 0)
        return 0x0031;
    return 0;
}
