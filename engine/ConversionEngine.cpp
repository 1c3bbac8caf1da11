// GES before Qt: GIO, which it includes, uses "signals" as a field name.
#include "ConversionEngine.h"

#include <ges/ges.h>
#include <gst/audio/gstaudiodecoder.h>
#include <gst/base/gstbasetransform.h>
#include <gst/pbutils/pbutils.h>
#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include "ContentLength.h"
#include "EncoderTimes.h"
#include "FastScale.h"
#include "FrameMemory.h"
#include "StreamGuard.h"
#include "WrittenTime.h"

using timeline::ReferenceTime;

namespace {

// Streaming or state-changing thread: the timeline's handling of its children's messages, except
// that the ASYNC_START and ASYNC_DONE messages it ignores are also released. The editing
// services (1.22) return from their handler without releasing them, and each one keeps a track
// and its whole composition alive; this happens whenever a child commits a pending state change
// late, as it does behind an element that pauses without preroll (the hold element).
GstBusSyncReply HandleTimelineMessage(GstBus*, GstMessage* message, gpointer timeline) {
    const GstMessageType type = GST_MESSAGE_TYPE(message);
    if (type == GST_MESSAGE_ASYNC_START || type == GST_MESSAGE_ASYNC_DONE) {
        gst_message_unref(message);
    } else if (GstBinClass* klass = GST_BIN_GET_CLASS(timeline); klass->handle_message) {
        klass->handle_message(GST_BIN(timeline), message);  // takes the message
    } else {
        gst_message_unref(message);
    }
    return GST_BUS_DROP;
}

// Streaming thread: the MPEG video parser, reading an elementary stream in pull mode, does not
// start a new frame after a flushing seek back to the offset of the last data it looked at; it
// goes on with the parsing state of the frame it already finished, and a stream of one frame
// (where that offset is 0, the seek's target) fails with an empty frame. Pushed data is flushed
// properly, so the parser is offered push mode only.
GstPadProbeReturn OfferPushOnly(GstPad*, GstPadProbeInfo* info, gpointer) {
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    if (GST_QUERY_TYPE(query) != GST_QUERY_SCHEDULING ||
        !(GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_PUSH))
        return GST_PAD_PROBE_OK;
    gst_query_set_scheduling(query, GST_SCHEDULING_FLAG_SEEKABLE, 1, -1, 0);
    gst_query_add_scheduling_mode(query, GST_PAD_MODE_PUSH);
    return GST_PAD_PROBE_HANDLED;
}

// A decoder asks what its frames may be written into. The editing services' composition drops
// that question (its sources come and go), so the decoder falls back to frames of the plain
// layout and copies every picture it decodes out of its own buffers into them. Every element
// that takes frames from the timeline here reads their layout from a video meta, so the answer
// is given at the decoder: YUV frames (which reach no consumer that takes raw bytes unconverted)
// may come in the decoder's own layout, in a pool it configures, and it decodes straight into
// them. libav's decoders take such a pool only once they know their row strides, that is after
// their first pictures: while frames still come from elsewhere, the decoder is asked now and then
// to decide again.
struct DecoderFrames {
    std::mutex lock;
    GstBufferPool* offered = nullptr;  // the pool of the latest answer
    int buffers = 0;
    int asked = 0;

    ~DecoderFrames() {
        if (offered) gst_object_unref(offered);
    }

    static GstPadProbeReturn OnQuery(GstPad*, GstPadProbeInfo* info, gpointer data) {
        GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
        if (GST_QUERY_TYPE(query) != GST_QUERY_ALLOCATION) return GST_PAD_PROBE_OK;
        GstCaps* caps = nullptr;
        gboolean needPool = FALSE;
        gst_query_parse_allocation(query, &caps, &needPool);
        GstVideoInfo video;
        if (!caps || !needPool || !gst_video_info_from_caps(&video, caps) ||
            !GST_VIDEO_INFO_IS_YUV(&video) || gst_query_get_n_allocation_pools(query) > 0)
            return GST_PAD_PROBE_OK;
        GstBufferPool* pool = NewFramePool();
        GstAllocationParams params;
        gst_allocation_params_init(&params);
        gst_object_ref(pool);  // kept as the latest answer
        if (!AnswerWithVideoPool(query, pool, caps, guint(video.size), FrameMemoryAllocator(),
                                 params, nullptr)) {
            gst_object_unref(pool);
            return GST_PAD_PROBE_OK;
        }
        auto* self = static_cast<DecoderFrames*>(data);
        std::lock_guard<std::mutex> hold(self->lock);
        if (self->offered) gst_object_unref(self->offered);
        self->offered = pool;
        return GST_PAD_PROBE_HANDLED;
    }

    static GstPadProbeReturn OnBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
        auto* self = static_cast<DecoderFrames*>(data);
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        {
            std::lock_guard<std::mutex> hold(self->lock);
            if (!self->offered || (buffer && buffer->pool == self->offered) || self->asked >= 4)
                return GST_PAD_PROBE_REMOVE;
            if (self->buffers++ % 8 != 0) return GST_PAD_PROBE_OK;
            ++self->asked;
        }
        gst_pad_mark_reconfigure(pad);
        return GST_PAD_PROBE_OK;
    }

    // On a video decoder's source pad.
    static void Install(GstPad* pad) {
        auto* self = new DecoderFrames;
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, OnQuery, self,
                          [](gpointer data) { delete static_cast<DecoderFrames*>(data); });
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, OnBuffer, self, nullptr);
    }
};

// The program stream demultiplexer counts its times from the stream's first clock reference, not
// from its first picture or sound, which come some tenths of a second later (0.5 s as DVD
// multiplexers write them): the content begins at that stream time, not at 0, and its sources
// on the timeline would begin with a stretch of their first frame and lose as much at their end.
// Its seeks also clamp their stop to a length taken from the first to the last time stamp (first
// and last picture, so less than the content), cutting the end further.
//
// The demultiplexer's times are moved so that the content begins at stream time 0 (its offset is
// the stream time of the first segment). A seek goes on without a stop, and reads from the clock
// reference of the time asked for less the offset, early enough for the pictures and sound of
// that time. The segment that answers it (same sequence number) starts at the time asked for
// plus the offset, so that what comes before is clipped, and stops where the seek asked to stop.
struct ProgramStreamTime {
    std::mutex lock;
    std::optional<GstClockTime> origin;   // stream time at which the content begins
    guint32 seqnum = GST_SEQNUM_INVALID;  // of the last seek
    gint64 start = 0;                     // what it asked for, in content time
    GstClockTime stop = GST_CLOCK_TIME_NONE;

    GstEvent* Seek(GstEvent* event) {
        gdouble rate = 1.0;
        GstFormat format;
        GstSeekFlags flags;
        GstSeekType startType, stopType;
        gint64 start = 0, stop = 0;
        gst_event_parse_seek(event, &rate, &format, &flags, &startType, &start, &stopType, &stop);
        if (format != GST_FORMAT_TIME || startType != GST_SEEK_TYPE_SET || rate <= 0) return event;
        std::lock_guard<std::mutex> guard(lock);
        if (!origin) origin = 0;
        seqnum = gst_event_get_seqnum(event);
        this->start = start;
        this->stop =
            stopType == GST_SEEK_TYPE_SET && stop >= 0 ? GstClockTime(stop) : GST_CLOCK_TIME_NONE;
        // Read from the clock reference that far before the time asked for: its pictures are
        // multiplexed about the content's offset earlier than they are shown.
        GstEvent* moved = gst_event_new_seek(rate, format, flags, GST_SEEK_TYPE_SET,
                                             std::max<gint64>(start - gint64(*origin), 0),
                                             GST_SEEK_TYPE_NONE, -1);
        gst_event_set_seqnum(moved, seqnum);
        gst_event_unref(event);
        return moved;
    }

    GstEvent* Segment(GstEvent* event) {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        if (!segment || segment->format != GST_FORMAT_TIME || segment->rate <= 0) return event;
        GstSegment moved = *segment;
        // Buffer times run ahead of stream times by this much.
        const gint64 base = gint64(segment->start) - gint64(segment->time);
        std::lock_guard<std::mutex> guard(lock);
        if (!origin) origin = segment->time;
        if (gst_event_get_seqnum(event) == seqnum) {
            const gint64 shift = base + gint64(*origin);
            moved.start = GstClockTime(std::max<gint64>(this->start + shift, 0));
            moved.stop = GST_CLOCK_TIME_IS_VALID(this->stop)
                             ? GstClockTime(std::max<gint64>(gint64(this->stop) + shift, 0))
                             : GST_CLOCK_TIME_NONE;
            moved.position = moved.start;
            moved.time = GstClockTime(this->start);
        } else if (moved.time >= *origin) {
            moved.time -= *origin;
        } else {
            moved.start += *origin - moved.time;
            moved.position = std::max(moved.position, moved.start);
            moved.time = 0;
        }
        GstEvent* replaced = gst_event_new_segment(&moved);
        gst_event_set_seqnum(replaced, gst_event_get_seqnum(event));
        gst_event_unref(event);
        return replaced;
    }

    // Any thread that seeks, and the demultiplexer's streaming threads.
    static GstPadProbeReturn OnEvent(GstPad*, GstPadProbeInfo* info, gpointer data) {
        auto* self = static_cast<ProgramStreamTime*>(data);
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK)
            GST_PAD_PROBE_INFO_DATA(info) = self->Seek(event);
        else if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT)
            GST_PAD_PROBE_INFO_DATA(info) = self->Segment(event);
        return GST_PAD_PROBE_OK;
    }

    static void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
        if (GST_PAD_DIRECTION(pad) != GST_PAD_SRC) return;
        gst_pad_add_probe(pad,
                          GstPadProbeType(GST_PAD_PROBE_TYPE_EVENT_UPSTREAM |
                                          GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          OnEvent, data, nullptr);
    }

    static void Install(GstElement* demuxer) {
        auto* self = new ProgramStreamTime;
        g_object_set_data_full(G_OBJECT(demuxer), "kestrine-program-stream-time", self,
                               [](gpointer data) { delete static_cast<ProgramStreamTime*>(data); });
        g_signal_connect(demuxer, "pad-added", G_CALLBACK(OnPadAdded), self);
    }
};

// Every element that the editing services or the output graph put into the pipeline, as it is
// added (streaming or state-changing thread).
//
// The audio mixer's default period of 10 ms makes it hand on a buffer, and wake the next thread,
// every 480 samples: over a long file that costs more than the mixing itself. A fifth of a
// second is still fine-grained enough for progress and for the written-time checks. Letting each
// input hold half a second spares the decoder a wait for the mixer after every frame.
//
// A scaler also converts between the colour matrices that the two frame sizes imply when the
// stream names none (HD frames are taken as BT.709, standard-definition ones as BT.601), which
// sends every pixel through a generic path three times as costly as scaling alone. Frames are
// scaled with their values kept, as other converters do; colour conversion between formats
// (YUV to RGB) is the converters' job and is not affected.
//
// MPEG video parsers and program stream demultiplexers get the mending described above.
void TuneElement(GstBin*, GstBin*, GstElement* element, gpointer) {
    GstElementFactory* factory = gst_element_get_factory(element);
    if (!factory) return;
    const char* name = GST_OBJECT_NAME(factory);
    if (std::strcmp(name, "audiomixer") == 0) {
        g_object_set(element, "output-buffer-duration", guint64(200 * GST_MSECOND), "latency",
                     guint64(500 * GST_MSECOND), nullptr);
    } else if (GST_IS_AUDIO_DECODER(element)) {
        // An audio decoder hands on each coded frame's samples as a buffer of their own (26 ms
        // for MP3, 32 ms for AC-3), and every buffer wakes the threads after it: the mixer's
        // inputs and output alone took three thread hand-offs per frame. Collected into a fifth
        // of a second, as the mixer hands them on, they pass in one go.
        g_object_set(element, "min-latency", gint64(200 * GST_MSECOND), nullptr);
    } else if (std::strcmp(name, "videoscale") == 0) {
        gst_util_set_object_arg(G_OBJECT(element), "matrix-mode", "none");
    } else if (std::strcmp(name, "mpegvideoparse") == 0) {
        GstPadPtr sink(gst_element_get_static_pad(element, "sink"));
        if (sink)
            gst_pad_add_probe(sink.get(), GST_PAD_PROBE_TYPE_QUERY_UPSTREAM, OfferPushOnly, nullptr,
                              nullptr);
    } else if (std::strcmp(name, "mpegpsdemux") == 0) {
        ProgramStreamTime::Install(element);
    } else if (gst_element_factory_list_is_type(
                   factory,
                   GST_ELEMENT_FACTORY_TYPE_DECODER | GST_ELEMENT_FACTORY_TYPE_MEDIA_VIDEO)) {
        GstPadPtr src(gst_element_get_static_pad(element, "src"));
        if (src) DecoderFrames::Install(src.get());
    } else if (std::strcmp(name, "videoflip") == 0) {
        // The editing services turn every source's frames upright by its orientation tag. Until
        // a tag asks for a turn, this version's flipper copies each frame unchanged instead of
        // passing it on (it leaves itself out of passthrough at its start); it is put into
        // passthrough here, and takes itself out again when a tag turns the picture.
        gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(element), TRUE);
    }
}
// Streaming thread: the WAV parser stamps its output from the header's byte rate, which for ADPCM
// is often wrong (encoders write a nominal rate), so that the times run ahead of or behind the
// sound and the mixer drops or stretches it. ADPCM is block-coded: the times follow from the data
// itself, blocks × samples per block / rate; those replace the parser's.
struct AdpcmRetiming {
    gint rate = 0;
    gint blockAlign = 0;
    gint samplesPerBlock = 0;  // 0: not ADPCM, nothing is changed
    guint64 bytes = 0;         // since the segment's start
    GstClockTime start = 0;

    GstClockTime TimeOf(guint64 byteCount) const {
        const guint64 samples = byteCount / guint64(blockAlign) * guint64(samplesPerBlock);
        return gst_util_uint64_scale(samples, GST_SECOND, guint64(rate));
    }

    static GstPadProbeReturn OnData(GstPad*, GstPadProbeInfo* info, gpointer data) {
        auto* self = static_cast<AdpcmRetiming*>(data);
        if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
            if (self->samplesPerBlock <= 0) return GST_PAD_PROBE_OK;
            GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
            GST_PAD_PROBE_INFO_DATA(info) = buffer;
            const gsize size = gst_buffer_get_size(buffer);
            GST_BUFFER_PTS(buffer) = self->start + self->TimeOf(self->bytes);
            GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
            GST_BUFFER_DURATION(buffer) =
                self->TimeOf(self->bytes + size) - self->TimeOf(self->bytes);
            self->bytes += size;
            return GST_PAD_PROBE_OK;
        }
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            const GstStructure* st =
                caps && gst_caps_get_size(caps) ? gst_caps_get_structure(caps, 0) : nullptr;
            const char* layout = st ? gst_structure_get_string(st, "layout") : nullptr;
            gint channels = 0;
            self->samplesPerBlock = 0;
            if (st && gst_structure_has_name(st, "audio/x-adpcm") && layout &&
                gst_structure_get_int(st, "block_align", &self->blockAlign) &&
                gst_structure_get_int(st, "rate", &self->rate) &&
                gst_structure_get_int(st, "channels", &channels) && self->rate > 0 &&
                channels > 0) {
                if (std::strcmp(layout, "dvi") == 0 && self->blockAlign > 4 * channels)
                    self->samplesPerBlock = (self->blockAlign - 4 * channels) * 2 / channels + 1;
                else if (std::strcmp(layout, "microsoft") == 0 && self->blockAlign > 7 * channels)
                    self->samplesPerBlock = (self->blockAlign - 7 * channels) * 2 / channels + 2;
            }
        } else if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
            const GstSegment* segment = nullptr;
            gst_event_parse_segment(event, &segment);
            self->start = segment && segment->format == GST_FORMAT_TIME ? segment->start : 0;
            self->bytes = 0;
            if (self->samplesPerBlock > 0 && segment && segment->format == GST_FORMAT_TIME &&
                GST_CLOCK_TIME_IS_VALID(segment->stop)) {
                // The parser's stop is its own (wrong) length: the data ends the stream instead.
                GstSegment open = *segment;
                open.stop = GST_CLOCK_TIME_NONE;
                open.duration = GST_CLOCK_TIME_NONE;
                GstEvent* replaced = gst_event_new_segment(&open);
                gst_event_set_seqnum(replaced, gst_event_get_seqnum(event));
                gst_event_unref(event);
                GST_PAD_PROBE_INFO_DATA(info) = replaced;
            }
        }
        return GST_PAD_PROBE_OK;
    }

    static void OnPadAdded(GstElement*, GstPad* pad, gpointer) {
        if (GST_PAD_DIRECTION(pad) != GST_PAD_SRC) return;
        gst_pad_add_probe(
            pad, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
            OnData, new AdpcmRetiming,
            [](gpointer data) { delete static_cast<AdpcmRetiming*>(data); });
    }

    // Any thread that adds an element below the timeline.
    static void OnElementAdded(GstBin*, GstBin*, GstElement* element, gpointer) {
        GstElementFactory* factory = gst_element_get_factory(element);
        if (!factory || std::strcmp(GST_OBJECT_NAME(factory), "wavparse") != 0) return;
        g_signal_connect(element, "pad-added", G_CALLBACK(OnPadAdded), nullptr);
        // The parser may already have its output.
        GstPadPtr src(gst_element_get_static_pad(element, "src"));
        if (src) OnPadAdded(element, src.get(), nullptr);
    }
};

// The shape of the file's first video stream as it is shown: its frame size times its pixel
// aspect, width and height exchanged when its orientation tag turns it by a quarter.
std::optional<double> ShownShape(GstDiscovererInfo* info) {
    if (!info) return std::nullopt;
    GList* streams = gst_discoverer_info_get_video_streams(info);
    std::optional<double> shape;
    if (streams) {
        auto* video = GST_DISCOVERER_VIDEO_INFO(streams->data);
        const double width = gst_discoverer_video_info_get_width(video);
        const double height = gst_discoverer_video_info_get_height(video);
        guint parN = gst_discoverer_video_info_get_par_num(video);
        guint parD = gst_discoverer_video_info_get_par_denom(video);
        if (parN == 0 || parD == 0) parN = parD = 1;
        if (width > 0 && height > 0) {
            shape = width * parN / (height * parD);
            const GstTagList* tags =
                gst_discoverer_stream_info_get_tags(GST_DISCOVERER_STREAM_INFO(video));
            gchar* orientation = nullptr;
            if (tags && gst_tag_list_get_string(tags, GST_TAG_IMAGE_ORIENTATION, &orientation) &&
                (g_str_has_suffix(orientation, "-90") || g_str_has_suffix(orientation, "-270")))
                shape = 1.0 / *shape;
            g_free(orientation);
        }
    }
    gst_discoverer_stream_info_list_free(streams);
    return shape;
}

}  // namespace

CConversionEngine::CConversionEngine() {
    InstallFastScaler();
    if (m_graph)
        g_signal_connect(m_graph.get(), "deep-element-added", G_CALLBACK(TuneElement), nullptr);
    m_messageBase = kMessageBase;
    GESTimeline* timeline = ges_timeline_new();
    if (!timeline) return;
    m_timeline.reset(GES_TIMELINE(gst_object_ref_sink(timeline)));
    ges_timeline_set_auto_transition(m_timeline.get(), TRUE);
    // The bin's own handler is replaced (a bus refuses a second one while the first is set). Like
    // that one it holds no reference: the children leave this bus when they leave the timeline,
    // which they do before the timeline goes.
    if (GstBus* children = GST_BIN(m_timeline.get())->child_bus) {
        gst_bus_set_sync_handler(children, nullptr, nullptr, nullptr);
        gst_bus_set_sync_handler(children, HandleTimelineMessage, m_timeline.get(), nullptr);
    }
}

CConversionEngine::~CConversionEngine() {
    CloseVideoWindow();
    m_videoTrack.reset();
    m_audioTrack.reset();
    m_videoTrack2.reset();
    m_audioTrack2.reset();
    m_videoGroup.reset();
    m_audioGroup.reset();
    if (m_renderEngine) ScrapRenderEngine();
    m_timeline.reset();
    m_loaded = 0;
    CloseOutputFile();
    m_output.Discard();
}

bool CConversionEngine::HasGroup(MediaKind kind) const {
    return kind == MediaKind::Video ? bool(m_videoGroup) : bool(m_audioGroup);
}

int CConversionEngine::TrackCount(MediaKind kind) const {
    if (kind == MediaKind::Video) return int(bool(m_videoTrack)) + int(bool(m_videoTrack2));
    return int(bool(m_audioTrack)) + int(bool(m_audioTrack2));
}

GESLayer* CConversionEngine::NewTrack(HRESULT* hr) {
    // A track of the description is a layer; a new one goes in front (priority 0), pushing the
    // existing ones back.
    GESLayer* layer = ges_timeline_append_layer(m_timeline.get());
    if (!layer) {
        *hr = E_FAIL;
        return nullptr;
    }
    ges_timeline_move_layer(m_timeline.get(), layer, 0);
    *hr = S_OK;
    return GES_LAYER(g_object_ref(layer));
}

HRESULT CConversionEngine::AddGroup(MediaKind kind, std::int32_t secondTrack) {
    if (HasGroup(kind)) return S_OK;
    if (!m_timeline) return E_FAIL;
    GESTrack* created = kind == MediaKind::Video ? GES_TRACK(ges_video_track_new())
                                                 : GES_TRACK(ges_audio_track_new());
    if (!created) return E_OUTOFMEMORY;
    TrackPtr group(GES_TRACK(gst_object_ref_sink(created)));
    // Every clip gets a timeline of its own and sits on the first track, so there is never
    // anything to mix: without a compositor the decoded frames pass straight through instead of
    // being copied into fresh buffers, which costs a fifth of a DVD conversion. The audio mixer
    // stays: it is cheap, and it is what ends the stream of a damaged file whose sound stops
    // before its stated length (without it such a run waits for samples that never come).
    if (kind == MediaKind::Video) ges_track_set_mixing(group.get(), FALSE);
    if (!ges_timeline_add_track(m_timeline.get(), group.get())) return E_FAIL;
    HRESULT hr = S_OK;
    LayerPtr track(NewTrack(&hr));
    if (FAILED(hr)) return hr;
    m_groupOrder.push_back(kind);
    if (kind == MediaKind::Video) {
        m_videoGroup = std::move(group);
        m_videoTrack = std::move(track);
        if (secondTrack) AddSecondTracks();
    } else {
        m_audioGroup = std::move(group);
        m_audioTrack = std::move(track);
    }
    return hr;
}

HRESULT CConversionEngine::AddSecondTracks() {
    HRESULT hr = S_OK;
    if (m_videoGroup && !m_videoTrack2) m_videoTrack2.reset(NewTrack(&hr));
    if (m_audioGroup && !m_audioTrack2) m_audioTrack2.reset(NewTrack(&hr));
    return hr;
}

HRESULT CConversionEngine::AddSource(MediaKind kind, const std::string& path,
                                     ReferenceTime mediaStart, ReferenceTime mediaStop,
                                     std::int32_t streamNumber) {
    GESLayer* track = nullptr;
    ReferenceTime start = 0;
    if (kind == MediaKind::Video) {
        track = (m_useFirstTrack ? m_videoTrack : m_videoTrack2).get();
        if (!track) track = m_videoTrack.get();
        start = m_videoCursor;
        m_useFirstTrack = !m_useFirstTrack;
        // The audio of the same clip starts with its video.
        if (m_audioCursor != m_videoCursor) m_audioCursor = m_videoCursor;
    } else {
        track = (m_useFirstTrack ? m_audioTrack : m_audioTrack2).get();
        if (!track) track = m_audioTrack.get();
        start = m_audioCursor;
    }
    if (!m_timeline || !track) return E_FAIL;
    if (path.empty() || mediaStop <= mediaStart || mediaStart < 0) return E_INVALIDARG;

    GError* rawError = nullptr;
    GCharPtr uri(gst_filename_to_uri(path.c_str(), &rawError));
    GErrorPtr error(rawError);
    if (!uri) {
        SetFailureText(error ? error->message : "Invalid file name: " + path);
        return E_INVALIDARG;
    }
    rawError = nullptr;
    std::unique_ptr<GESUriClipAsset, GObjectUnref> asset(
        ges_uri_clip_asset_request_sync(uri.get(), &rawError));
    error.reset(rawError);
    if (!asset) {
        SetFailureText(error ? error->message : "The file cannot be read: " + path);
        return VFW_E_INVALID_FILE_FORMAT;
    }
    // Stream selection by number is not offered by the editing services' clips: the first
    // stream of the medium is used, as for stream number 0.
    (void)streamNumber;
    if (kind == MediaKind::Video && !m_sourceShape)
        m_sourceShape = ShownShape(ges_uri_clip_asset_get_info(asset.get()));

    ReferenceTime length = mediaStop - mediaStart;
    // The editing services refuse a source longer than the length their discoverer estimated;
    // the file's own length wins. Where the estimate is short of what the file's packets hold
    // (an elementary stream holds more than its estimate), the source is placed within the
    // estimate and then given the length it really has.
    ReferenceTime placed = length;
    GstClockTime fileLength = ges_uri_clip_asset_get_max_duration(asset.get());
    if (GST_CLOCK_TIME_IS_VALID(fileLength) && fileLength > 0) {
        ReferenceTime available = timeline::ToReferenceTime(fileLength) - mediaStart;
        if (available <= 0) return E_INVALIDARG;
        if (placed > available) {
            placed = available;
            const std::optional<ContentFacts> content = ScanContent(path, kContentScanMs);
            length = content && content->complete
                         ? std::max(available, std::min(length, content->length - mediaStart))
                         : available;
        }
    }
    GESClip* clip =
        ges_layer_add_asset(track, GES_ASSET(asset.get()), timeline::ToNanoseconds(start),
                            timeline::ToNanoseconds(mediaStart), timeline::ToNanoseconds(placed),
                            kind == MediaKind::Video ? GES_TRACK_TYPE_VIDEO : GES_TRACK_TYPE_AUDIO);
    if (!clip) {
        SetFailureText("The file cannot be placed on the timeline: " + path);
        return E_FAIL;
    }
    if (placed < length) {
        const GstClockTime maxDuration = timeline::ToNanoseconds(mediaStart + length);
        GList* children = ges_container_get_children(GES_CONTAINER(clip), FALSE);
        for (GList* child = children; child; child = child->next)
            ges_timeline_element_set_max_duration(GES_TIMELINE_ELEMENT(child->data), maxDuration);
        g_list_free_full(children, gst_object_unref);
        if (ges_timeline_element_set_duration(GES_TIMELINE_ELEMENT(clip),
                                              timeline::ToNanoseconds(length)))
            placed = length;
    }
    (kind == MediaKind::Video ? m_videoCursor : m_audioCursor) += placed;
    return S_OK;
}

HRESULT CConversionEngine::SetAudioParams(const AudioParams& audio) {
    if (!m_audioGroup) return S_OK;
    switch (audio.bitsPerSample) {
        case 8:
        case 16:
        case 24:
        case 32:
            break;
        default:
            return E_INVALIDARG;
    }
    if (audio.sampleRate == 0) return E_INVALIDARG;
    timeline::AudioFormat format = timeline::MakeAudioFormat(audio);
    GstCapsPtr caps(timeline::AudioRestrictionCaps(format));
    ges_track_set_restriction_caps(m_audioGroup.get(), caps.get());
    m_audioFormat = format;
    return S_OK;
}

HRESULT CConversionEngine::SetVideoParams(std::int32_t width, std::int32_t height, double fps) {
    m_width = width;
    m_height = height;
    if (!m_videoGroup) return S_OK;
    if (width <= 0 || height == 0 || !(fps > 0)) return E_INVALIDARG;
    timeline::VideoFormat format = timeline::MakeVideoFormat(width, height, fps);
    GstCapsPtr caps(timeline::VideoRestrictionCaps(format));
    ges_track_set_restriction_caps(m_videoGroup.get(), caps.get());
    m_videoFormat = format;
    return S_OK;
}

HRESULT CConversionEngine::BuildRenderEngine(std::int32_t smart) {
    (void)smart;  // there is one kind of front end
    if (!m_timeline) return E_FAIL;
    if (!m_graph) return E_UNEXPECTED;
    if (m_renderEngine) return S_OK;
    if (m_groupOrder.empty()) {
        SetFailureText("The timeline has no groups: nothing to convert");
        return E_FAIL;
    }
    if (!ges_timeline_commit_sync(m_timeline.get())) {
        // A commit that changed nothing returns FALSE too; only a missing layout is an error.
        if (ges_timeline_get_duration(m_timeline.get()) == 0) {
            SetFailureText("The timeline is empty: no source could be placed");
        }
    }
    auto frontEnd = std::make_unique<FrontEnd>();
    // Before the timeline joins the pipeline: its sources and decoders are guarded as they come.
    m_streamGuard = CStreamGuard::Install(m_graph.get());
    // The pipeline takes a reference of its own (the timeline is not floating): m_timeline keeps
    // the engine's one.
    if (!gst_bin_add(GST_BIN(m_graph.get()), GST_ELEMENT(m_timeline.get()))) return E_FAIL;
    g_signal_connect(m_graph.get(), "deep-element-added", G_CALLBACK(AdpcmRetiming::OnElementAdded),
                     nullptr);
    for (MediaKind kind : m_groupOrder) {
        GESTrack* track = kind == MediaKind::Video ? m_videoGroup.get() : m_audioGroup.get();
        // Documented as transfer none, but this version hands back a reference of its own.
        GstPadPtr pad(ges_timeline_get_pad_for_track(m_timeline.get(), track));
        if (!pad) {
            SetFailureText("The editing services gave no output for a group");
            return E_FAIL;
        }
        FrontEnd::Group group{kind, {}, {}, {}};
        GstCapsPtr caps;
        std::vector<const char*> factories;
        if (kind == MediaKind::Video) {
            // The timeline delivers the file's frames at the group's rate but in their own size
            // and format (VideoRestrictionCaps): frames it drops are never scaled. The size is
            // converted next, then the pixel format; each step passes frames through untouched
            // when it has nothing to change.
            factories = {"videoscale", "videoconvert"};
            caps.reset(m_videoFormat
                           ? timeline::VideoOutputCaps(*m_videoFormat)
                           : gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING,
                                                 timeline::RawVideoFormatName(24), nullptr));
        } else {
            // The timeline leaves the rate as the file has it (AudioRestrictionCaps).
            factories = {"audioresample", "audioconvert"};
            caps.reset(m_audioFormat ? timeline::AudioCaps(*m_audioFormat)
                                     : gst_caps_new_empty_simple("audio/x-raw"));
        }
        for (const char* factory : factories) {
            GstElement* element = gst_element_factory_make(factory, nullptr);
            if (!element) break;
            group.converters.emplace_back(GST_ELEMENT(gst_object_ref_sink(element)));
        }
        group.capsFilter.reset(
            GST_ELEMENT(gst_object_ref_sink(gst_element_factory_make("capsfilter", nullptr))));
        if (group.converters.size() != factories.size() || !group.capsFilter) {
            SetFailureText("A converter element is missing from the media framework");
            return E_FAIL;
        }
        g_object_set(group.capsFilter.get(), "caps", caps.get(), nullptr);
        bool linked = true;
        GstElement* previous = nullptr;
        for (auto& element : group.converters) {
            gst_bin_add(GST_BIN(m_graph.get()), element.get());
            if (previous) linked = linked && gst_element_link(previous, element.get());
            previous = element.get();
        }
        gst_bin_add(GST_BIN(m_graph.get()), group.capsFilter.get());
        linked = linked && gst_element_link(previous, group.capsFilter.get());
        GstPadPtr convertIn(gst_element_get_static_pad(group.Input(), "sink"));
        if (!linked || GST_PAD_LINK_FAILED(gst_pad_link(pad.get(), convertIn.get()))) {
            SetFailureText("The editing services' output cannot be connected");
            return E_FAIL;
        }
        group.outputPin.reset(gst_element_get_static_pad(group.capsFilter.get(), "src"));
        m_streamGuard->WatchGroupOutput(group.outputPin.get(), kind == MediaKind::Video
                                                                   ? CStreamGuard::kVideo
                                                                   : CStreamGuard::kAudio);
        frontEnd->groups.push_back(std::move(group));
    }
    // Everything the front end produces, for noticing inputs that never end their stream.
    m_produced = std::make_unique<CWrittenTime>();
    for (auto& group : frontEnd->groups) m_produced->Watch(group.outputPin.get());
    m_renderEngine = std::move(frontEnd);
    return S_OK;
}

HRESULT CConversionEngine::ScrapRenderEngine() {
    if (!m_renderEngine) return E_FAIL;
    // The streams stop before the probes and the borrowed elements go, so that no streaming
    // thread is inside the engine's objects while they are released.
    if (m_graph) gst_element_set_state(m_graph.get(), GST_STATE_NULL);
    m_produced.reset();
    m_written.reset();
    RemoveBorrowed();
    m_previewSink.reset();
    m_audioFormatFilter.reset();
    m_sink.reset();
    m_renderEngine.reset();
    ReleaseGraph();
    m_timeline.reset();
    m_loaded = 0;
    return S_OK;
}

HRESULT CConversionEngine::GetTimelineDuration(ReferenceTime* duration) {
    if (!duration) return E_POINTER;
    if (!m_timeline) return E_FAIL;
    *duration = timeline::ToReferenceTime(ges_timeline_get_duration(m_timeline.get()));
    return S_OK;
}
