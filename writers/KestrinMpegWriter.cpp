#include "KestrinMpegWriter.h"

#include <gst/audio/audio.h>
#include <gst/video/video.h>

#include <memory>
#include <new>
#include <string>

#include "DvdAudioPacking.h"
#include "MpegEncoding.h"
#include "TempOutput.h"
#include "WriterElement.h"

GST_DEBUG_CATEGORY_STATIC(kestrin_mpeg_writer_debug);
#define GST_CAT_DEFAULT kestrin_mpeg_writer_debug

namespace {

enum { PROP_0, PROP_LOCATION, PROP_PRESET, PROP_IN_PLACE };

constexpr int kVideo = 0;
constexpr int kAudio = 1;
constexpr int kDefaultPreset = kPresetMpeg2;

// How far one input may run ahead of the other before its streaming thread waits: bounds the
// multiplexer's interleaving queue and keeps the program stream well interleaved.
constexpr GstClockTime kMaxLead = GST_SECOND;

// The pad templates: everything either input can take under some preset. Video must be I420
// (the codecs' own layout, so no conversion happens here); an upstream videoconvert supplies it.
#define VIDEO_CAPS                                                                      \
    "video/x-raw, format=(string)I420, width=(int)[16, 4096], height=(int)[16, 4096], " \
    "framerate=(fraction)[0/1, 120/1]"
#define AUDIO_CAPS                                                                              \
    "audio/x-raw, format=(string)S16LE, layout=(string)interleaved, rate=(int)[8000, 192000], " \
    "channels=(int)[1, 8]"

GstStaticPadTemplate video_template = GST_STATIC_PAD_TEMPLATE(
    "Video Input", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(VIDEO_CAPS));
GstStaticPadTemplate audio_template = GST_STATIC_PAD_TEMPLATE(
    "Audio Input", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(AUDIO_CAPS));

// Per-input state. Guarded by the element lock, except that segment is only touched by the
// input's own streaming thread.
struct InputState {
    bool expected = false;    // linked when the run started, or configured since
    bool configured = false;  // its encoder is open (caps received)
    bool eos = false;
    int stream = -1;  // index in the file; -1 while the header is unwritten or excluded
    bool lateWarned = false;
    GstClockTime position = GST_CLOCK_TIME_NONE;  // running time reached by the data written
    GstSegment segment;
};

// An error found under the lock, posted on the bus after the lock is released (a synchronous
// bus handler may query this element).
struct PendingError {
    enum Kind { None, Write, Encode, Format } kind = None;
    std::string text;
};

// The state of one run, from READY->PAUSED to PAUSED->READY.
struct WriterState {
    MpegPreset preset = PresetForCode(kDefaultPreset);
    std::string location;
    CTempOutput temp;
    CMpegMux mux;
    CVideoEncoder video;  // used by the video streaming thread only
    CAudioEncoder audio;  // used by the audio streaming thread only
    GstVideoInfo videoInfo;
    GstCaps* videoCaps = nullptr;  // the caps each encoder was opened with
    GstCaps* audioCaps = nullptr;
    int audioChannels = 0, audioRate = 0;
    InputState in[2];
    bool flushing = true;
    bool headerWritten = false;
    uint64_t packetsWritten = 0;
    bool finished = false;
    bool failed = false;
    bool errorPosted = false;  // the failure's message is on the bus
    // The audio input ended while the video goes on: the audio encoder passes to the video
    // streaming thread, which keeps the audio stream in step with silence (see
    // kestrin_mpeg_writer_pad_audio).
    bool audioPadding = false;

    ~WriterState() {
        gst_caps_replace(&videoCaps, nullptr);
        gst_caps_replace(&audioCaps, nullptr);
    }
};

}  // namespace

struct _KestrinMpegWriter {
    GstElement parent;
    GstPad* pads[2];  // "Video Input", "Audio Input"
    GMutex lock;      // guards state (see WriterState for what each thread may touch)
    GCond cond;       // signalled whenever an input's progress, EOS or the flushing flag change
    gchar* location;  // properties, guarded by the object lock
    gboolean inPlace;
    gint preset;
    // The run's state (placement-constructed in init, destroyed in finalize: GObject memory).
    std::unique_ptr<WriterState> state;
};

GType kestrin_mpeg_writer_preset_get_type() {
    static gsize type = 0;
    static const GEnumValue kValues[] = {{kPresetMpeg1, "MPEG-1 at the input's size", "mpeg1"},
                                         {kPresetVcdPal, "VCD PAL", "vcd-pal"},
                                         {kPresetMpeg2, "MPEG-2 at the input's size", "mpeg2"},
                                         {kPresetSvcdPal, "SVCD PAL", "svcd-pal"},
                                         {kPresetDvdPal, "DVD PAL", "dvd-pal"},
                                         {kPresetVcdNtsc, "VCD NTSC", "vcd-ntsc"},
                                         {kPresetSvcdNtsc, "SVCD NTSC", "svcd-ntsc"},
                                         {kPresetDvdNtsc, "DVD NTSC", "dvd-ntsc"},
                                         {0, nullptr, nullptr}};
    if (g_once_init_enter(&type))
        g_once_init_leave(&type, g_enum_register_static("KestrinMpegWriterPreset", kValues));
    return type;
}

G_DEFINE_TYPE_WITH_CODE(KestrinMpegWriter, kestrin_mpeg_writer, GST_TYPE_ELEMENT,
                        GST_DEBUG_CATEGORY_INIT(kestrin_mpeg_writer_debug, "kestrinempegwriter", 0,
                                                "MPEG Writer Filter"))
GST_ELEMENT_REGISTER_DEFINE(kestrinempegwriter, "kestrinempegwriter", GST_RANK_NONE,
                            KESTRIN_TYPE_MPEG_WRITER)

namespace {

int kestrin_mpeg_writer_input_index(KestrinMpegWriter* self, GstPad* pad) {
    return pad == self->pads[kVideo] ? kVideo : kAudio;
}

// Posts the error found under the lock (lock not held), then lets the other input report its
// own failure: upstream elements answer GST_FLOW_ERROR with a generic "Internal data stream error",
// which must not reach the bus before the writer's message.
void kestrin_mpeg_writer_post_error(KestrinMpegWriter* self, const PendingError& error) {
    switch (error.kind) {
        case PendingError::None:
            return;
        default:
            GST_DEBUG_OBJECT(self, "failed: %s", error.text.c_str());
            break;
    }
    switch (error.kind) {
        case PendingError::None:
            return;
        case PendingError::Write:
            GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("%s", error.text.c_str()), (nullptr));
            break;
        case PendingError::Encode:
            GST_ELEMENT_ERROR(self, STREAM, ENCODE, ("%s", error.text.c_str()), (nullptr));
            break;
        case PendingError::Format:
            GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("%s", error.text.c_str()), (nullptr));
            break;
    }
    writer::CMutexLock lock(&self->lock);
    self->state->errorPosted = true;
    g_cond_broadcast(&self->cond);
}

// The flow return of an input that finds the run failed (lock held): waits until the failure's
// message has been posted.
GstFlowReturn kestrin_mpeg_writer_failed_flow(KestrinMpegWriter* self) {
    WriterState* s = self->state.get();
    while (!s->errorPosted && !s->flushing) g_cond_wait(&self->cond, &self->lock);
    return GST_FLOW_ERROR;
}

// Must be called with the lock held.
void kestrin_mpeg_writer_fail(KestrinMpegWriter* self, PendingError* pending,
                              PendingError::Kind kind, const std::string& text) {
    WriterState* s = self->state.get();
    s->failed = true;
    pending->kind = kind;
    pending->text = text;
    g_cond_broadcast(&self->cond);
}

// Fails the run for a reason already reported (lock held): nothing more is posted.
void kestrin_mpeg_writer_fail_posted_locked(KestrinMpegWriter* self) {
    self->state->failed = true;
    self->state->errorPosted = true;
    g_cond_broadcast(&self->cond);
}

// The same with the lock not held.
void kestrin_mpeg_writer_fail_posted(KestrinMpegWriter* self) {
    writer::CMutexLock lock(&self->lock);
    kestrin_mpeg_writer_fail_posted_locked(self);
}

bool kestrin_mpeg_writer_decided(const InputState& in) {
    return !in.expected || in.configured || in.eos;
}

// Waits (lock held) until the other input has shown whether it takes part, then writes the file
// header with the configured inputs, once. Returns GST_FLOW_OK to go on.
GstFlowReturn kestrin_mpeg_writer_wait_for_header(KestrinMpegWriter* self, int index,
                                                  PendingError* pending) {
    WriterState* s = self->state.get();
    const InputState& other = s->in[1 - index];
    while (!s->flushing && !s->failed && !s->headerWritten && !kestrin_mpeg_writer_decided(other))
        g_cond_wait(&self->cond, &self->lock);
    if (s->flushing) return GST_FLOW_FLUSHING;
    if (s->failed) return kestrin_mpeg_writer_failed_flow(self);
    if (s->headerWritten) return GST_FLOW_OK;

    std::string error;
    for (int i : {kVideo, kAudio}) {
        if (!s->in[i].configured) continue;
        AVCodecContext* ctx = i == kVideo ? s->video.Context() : s->audio.Context();
        s->in[i].stream = s->mux.AddStream(ctx, &error);
        if (s->in[i].stream < 0) break;
    }
    if (!error.empty() || !s->mux.WriteHeader(&error)) {
        kestrin_mpeg_writer_fail(self, pending, PendingError::Write,
                                 writer::WriteErrorText(s->location, error));
        return GST_FLOW_ERROR;
    }
    s->headerWritten = true;
    g_cond_broadcast(&self->cond);
    return GST_FLOW_OK;
}

// Waits (lock held) while this input is more than kMaxLead ahead of the other, live one. An
// input never waits before its first data, nor on an input that has made no progress for a
// second (a stalled or jumping input must not stop the file).
GstFlowReturn kestrin_mpeg_writer_wait_for_turn(KestrinMpegWriter* self, int index,
                                                GstClockTime start) {
    WriterState* s = self->state.get();
    const InputState& me = s->in[index];
    const InputState& other = s->in[1 - index];
    auto ahead = [&] {
        if (!GST_CLOCK_TIME_IS_VALID(start) || !GST_CLOCK_TIME_IS_VALID(me.position) ||
            other.stream < 0 || other.eos)
            return false;
        GstClockTime otherPos = GST_CLOCK_TIME_IS_VALID(other.position) ? other.position : 0;
        return start > otherPos + kMaxLead;
    };
    GstClockTime seen = other.position;
    gint64 deadline = g_get_monotonic_time() + G_TIME_SPAN_SECOND;
    while (!s->flushing && !s->failed && ahead()) {
        if (!g_cond_wait_until(&self->cond, &self->lock, deadline)) {
            if (other.position == seen) break;
            seen = other.position;
            deadline = g_get_monotonic_time() + G_TIME_SPAN_SECOND;
        }
    }
    if (s->flushing) return GST_FLOW_FLUSHING;
    if (s->failed) return kestrin_mpeg_writer_failed_flow(self);
    return GST_FLOW_OK;
}

// Writes encoded packets of one input and records its progress (lock held).
bool kestrin_mpeg_writer_write_packets(KestrinMpegWriter* self, int index, PacketList& packets,
                                       int64_t reachedNs, PendingError* pending) {
    WriterState* s = self->state.get();
    AVCodecContext* ctx = index == kVideo ? s->video.Context() : s->audio.Context();
    std::string error;
    const size_t count = packets.size();
    if (!s->mux.Write(packets, s->in[index].stream, ctx->time_base, &error)) {
        kestrin_mpeg_writer_fail(self, pending, PendingError::Write,
                                 writer::WriteErrorText(s->location, error));
        return false;
    }
    s->packetsWritten += count;
    if (reachedNs >= 0) s->in[index].position = static_cast<GstClockTime>(reachedNs);
    g_cond_broadcast(&self->cond);
    return true;
}

// The video frame stays mapped (and its buffer referenced) while libavcodec holds the AVFrame.
struct MappedFrame {
    GstVideoFrame frame;
};

void kestrin_mpeg_writer_release_mapped_frame(void* opaque, uint8_t*) {
    auto* mapped = static_cast<MappedFrame*>(opaque);
    gst_video_frame_unmap(&mapped->frame);
    delete mapped;
}

// Encodes one video buffer (streaming thread, lock not held).
bool kestrin_mpeg_writer_encode_video(WriterState* s, GstBuffer* buffer, GstClockTime start,
                                      GstClockTime end, PacketList& out, std::string* error) {
    auto* mapped = new MappedFrame;
    if (!gst_video_frame_map(&mapped->frame, &s->videoInfo, buffer, GST_MAP_READ)) {
        delete mapped;
        *error = "cannot read a video frame";
        return false;
    }
    AVFrame* frame = av_frame_alloc();
    if (!frame) {
        gst_video_frame_unmap(&mapped->frame);
        delete mapped;
        *error = "out of memory";
        return false;
    }
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = GST_VIDEO_FRAME_WIDTH(&mapped->frame);
    frame->height = GST_VIDEO_FRAME_HEIGHT(&mapped->frame);
    for (int p = 0; p < 3; ++p) {
        frame->data[p] = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped->frame, p));
        frame->linesize[p] = GST_VIDEO_FRAME_PLANE_STRIDE(&mapped->frame, p);
    }
    frame->buf[0] =
        av_buffer_create(frame->data[0], GST_VIDEO_FRAME_SIZE(&mapped->frame),
                         kestrin_mpeg_writer_release_mapped_frame, mapped, AV_BUFFER_FLAG_READONLY);
    if (!frame->buf[0]) {
        gst_video_frame_unmap(&mapped->frame);
        delete mapped;
        av_frame_free(&frame);
        *error = "out of memory";
        return false;
    }
    int64_t startNs = GST_CLOCK_TIME_IS_VALID(start) ? static_cast<int64_t>(start) : -1;
    int64_t endNs = GST_CLOCK_TIME_IS_VALID(end) ? static_cast<int64_t>(end) : -1;
    bool ok = s->video.Encode(frame, startNs, endNs, out, error);
    av_frame_free(&frame);
    return ok;
}

// Keeps an ended audio input's stream in step with the video: silence up to untilNs (running
// time), and with final the encoder drained (video streaming thread, lock not held; the audio
// thread has ended, so the audio encoder is this thread's now). The multiplexer writes a pack only
// while every stream has data waiting: without this, all the video after the end of the audio
// would stay in memory until the file is finished, however long that is.
void kestrin_mpeg_writer_pad_audio(KestrinMpegWriter* self, int64_t untilNs, bool final,
                                   PendingError* pending) {
    WriterState* s = self->state.get();
    PacketList packets;
    std::string error;
    bool ok = true;
    int64_t at = s->audio.PositionNs();
    int64_t startNs = -1;
    if (at < 0) startNs = at = 0;  // configured, but not a sample arrived
    if (untilNs > at && s->audioRate > 0) {
        int64_t frames = av_rescale(untilNs - at, s->audioRate, GST_SECOND);
        std::vector<int16_t> silence(
            static_cast<size_t>(std::min<int64_t>(frames, s->audioRate) * s->audioChannels));
        while (ok && frames > 0) {
            const int n = static_cast<int>(std::min<int64_t>(frames, s->audioRate));
            ok = s->audio.Encode(silence.data(), n, startNs, packets, &error);
            startNs = -1;
            frames -= n;
        }
    }
    if (ok && final) ok = s->audio.Flush(packets, &error);
    writer::CMutexLock lock(&self->lock);
    if (!ok)
        kestrin_mpeg_writer_fail(self, pending, PendingError::Encode,
                                 "Could not encode \"" + s->location + "\": " + error);
    else if (!s->failed && !s->flushing)
        kestrin_mpeg_writer_write_packets(self, kAudio, packets, final ? -1 : s->audio.PositionNs(),
                                          pending);
}

GstFlowReturn kestrin_mpeg_writer_chain(GstPad* pad, GstObject* parent, GstBuffer* buffer) {
    auto* self = KESTRIN_MPEG_WRITER(parent);
    const int index = kestrin_mpeg_writer_input_index(self, pad);
    WriterState* s = self->state.get();
    InputState& in = s->in[index];
    PendingError pending;

    // Running times of the buffer; an unknown end is left to the encoder's own count.
    GstClockTime start = GST_CLOCK_TIME_NONE, end = GST_CLOCK_TIME_NONE;
    if (GST_BUFFER_PTS_IS_VALID(buffer)) {
        start = gst_segment_to_running_time(&in.segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
        if (GST_BUFFER_DURATION_IS_VALID(buffer))
            end = gst_segment_to_running_time(&in.segment, GST_FORMAT_TIME,
                                              GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer));
    }
    if (index == kAudio && GST_CLOCK_TIME_IS_VALID(start) && s->audioRate > 0) {
        guint64 frames = gst_buffer_get_size(buffer) / (2 * s->audioChannels);
        end = start + gst_util_uint64_scale(frames, GST_SECOND, s->audioRate);
    }

    writer::CMutexLock lock(&self->lock);
    GstFlowReturn flow = GST_FLOW_OK;
    if (s->flushing) {
        flow = GST_FLOW_FLUSHING;
    } else if (s->failed) {
        flow = kestrin_mpeg_writer_failed_flow(self);
    } else if (in.eos || s->finished) {
        flow = GST_FLOW_EOS;
    } else if (!in.configured) {
        // Upstream reports not-negotiated; the file must not be finished without this input.
        GST_DEBUG_OBJECT(pad, "data before caps");
        kestrin_mpeg_writer_fail_posted_locked(self);
        flow = GST_FLOW_NOT_NEGOTIATED;
    }
    if (flow == GST_FLOW_OK) flow = kestrin_mpeg_writer_wait_for_header(self, index, &pending);
    if (flow == GST_FLOW_OK) flow = kestrin_mpeg_writer_wait_for_turn(self, index, start);
    bool excluded = in.stream < 0;
    if (flow == GST_FLOW_OK && excluded && !in.lateWarned) {
        in.lateWarned = true;
        GST_WARNING_OBJECT(pad, "input started after the file header was written; ignored");
    }
    lock.Unlock();
    if (flow != GST_FLOW_OK || excluded) {
        kestrin_mpeg_writer_post_error(self, pending);
        gst_buffer_unref(buffer);
        return flow;
    }

    PacketList packets;
    std::string error;
    bool ok;
    if (index == kVideo) {
        ok = kestrin_mpeg_writer_encode_video(s, buffer, start, end, packets, &error);
    } else {
        GstMapInfo map;
        ok = gst_buffer_map(buffer, &map, GST_MAP_READ);
        if (ok) {
            int frames = static_cast<int>(map.size / (2 * s->audioChannels));
            int64_t startNs = GST_CLOCK_TIME_IS_VALID(start) ? static_cast<int64_t>(start) : -1;
            ok = s->audio.Encode(reinterpret_cast<const int16_t*>(map.data), frames, startNs,
                                 packets, &error);
            gst_buffer_unmap(buffer, &map);
        } else {
            error = "cannot read an audio buffer";
        }
    }
    gst_buffer_unref(buffer);
    int64_t reached = index == kVideo ? s->video.PositionNs() : s->audio.PositionNs();

    lock.Lock();
    if (!ok) {
        kestrin_mpeg_writer_fail(self, &pending, PendingError::Encode,
                                 "Could not encode \"" + s->location + "\": " + error);
        flow = GST_FLOW_ERROR;
    } else if (s->failed) {
        flow = kestrin_mpeg_writer_failed_flow(self);
    } else if (!kestrin_mpeg_writer_write_packets(self, index, packets, reached, &pending)) {
        flow = GST_FLOW_ERROR;
    }
    const bool padAudio = index == kVideo && flow == GST_FLOW_OK && s->audioPadding;
    lock.Unlock();
    if (padAudio && pending.kind == PendingError::None)
        kestrin_mpeg_writer_pad_audio(self, reached, false, &pending);
    kestrin_mpeg_writer_post_error(self, pending);
    return flow;
}

// Whether caps b describe the same frames or samples as caps a for the encoder and for reading
// the buffers: a change of, say, chroma siting or colorimetry alone (a damaged sequence header
// can flip such bits mid-stream) changes neither.
bool kestrin_mpeg_writer_same_layout(int index, GstCaps* a, GstCaps* b) {
    if (index == kVideo) {
        GstVideoInfo x, y;
        return gst_video_info_from_caps(&x, a) && gst_video_info_from_caps(&y, b) &&
               GST_VIDEO_INFO_FORMAT(&x) == GST_VIDEO_INFO_FORMAT(&y) &&
               GST_VIDEO_INFO_WIDTH(&x) == GST_VIDEO_INFO_WIDTH(&y) &&
               GST_VIDEO_INFO_HEIGHT(&x) == GST_VIDEO_INFO_HEIGHT(&y) &&
               GST_VIDEO_INFO_FPS_N(&x) == GST_VIDEO_INFO_FPS_N(&y) &&
               GST_VIDEO_INFO_FPS_D(&x) == GST_VIDEO_INFO_FPS_D(&y) &&
               GST_VIDEO_INFO_PAR_N(&x) == GST_VIDEO_INFO_PAR_N(&y) &&
               GST_VIDEO_INFO_PAR_D(&x) == GST_VIDEO_INFO_PAR_D(&y) &&
               GST_VIDEO_INFO_INTERLACE_MODE(&x) == GST_VIDEO_INFO_INTERLACE_MODE(&y);
    }
    GstAudioInfo x, y;
    return gst_audio_info_from_caps(&x, a) && gst_audio_info_from_caps(&y, b) &&
           GST_AUDIO_INFO_FORMAT(&x) == GST_AUDIO_INFO_FORMAT(&y) &&
           GST_AUDIO_INFO_RATE(&x) == GST_AUDIO_INFO_RATE(&y) &&
           GST_AUDIO_INFO_CHANNELS(&x) == GST_AUDIO_INFO_CHANNELS(&y) &&
           GST_AUDIO_INFO_LAYOUT(&x) == GST_AUDIO_INFO_LAYOUT(&y);
}

// Opens the input's encoder for its caps (streaming thread, lock not held).
gboolean kestrin_mpeg_writer_set_caps(KestrinMpegWriter* self, int index, GstCaps* caps) {
    WriterState* s = self->state.get();
    GstCaps* current = index == kVideo ? s->videoCaps : s->audioCaps;
    if (current) {
        if (kestrin_mpeg_writer_same_layout(index, current, caps)) return TRUE;
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                          ("The input format of the MPEG writer cannot change while writing."),
                          ("%" GST_PTR_FORMAT " -> %" GST_PTR_FORMAT, current, caps));
        kestrin_mpeg_writer_fail_posted(self);
        return FALSE;
    }
    std::string error;
    bool ok;
    if (index == kVideo) {
        GstVideoInfo info;
        if (!gst_video_info_from_caps(&info, caps)) return FALSE;
        s->videoInfo = info;
        ok = s->video.Open(s->preset, info.width, info.height, {info.fps_n, info.fps_d},
                           {info.par_n, info.par_d}, &error);
    } else {
        GstAudioInfo info;
        if (!gst_audio_info_from_caps(&info, caps)) return FALSE;
        s->audioRate = GST_AUDIO_INFO_RATE(&info);
        s->audioChannels = GST_AUDIO_INFO_CHANNELS(&info);
        ok = s->audio.Open(s->preset, s->audioRate, s->audioChannels, &error);
    }
    if (!ok) {
        GST_ELEMENT_ERROR(self, STREAM, ENCODE,
                          ("Could not encode \"%s\": %s", s->location.c_str(), error.c_str()),
                          (nullptr));
        kestrin_mpeg_writer_fail_posted(self);
        return FALSE;
    }
    gst_caps_replace(index == kVideo ? &s->videoCaps : &s->audioCaps, caps);
    GST_DEBUG_OBJECT(self, "%s input configured: %" GST_PTR_FORMAT,
                     index == kVideo ? "video" : "audio", caps);
    writer::CMutexLock lock(&self->lock);
    s->in[index].configured = true;
    s->in[index].expected = true;
    g_cond_broadcast(&self->cond);
    return TRUE;
}

// Mends the audio packs of a finished DVD file (see DvdAudioPacking.h); the file is closed.
bool kestrin_mpeg_writer_mend_audio_packs(WriterState* s, std::string* error) {
    if (s->preset.audioCodec != AV_CODEC_ID_AC3 || s->preset.packetSize != 2048 ||
        s->in[kAudio].stream < 0)
        return true;
    const AVCodecContext* ctx = s->audio.Context();
    const int64_t ticksPerFrame = av_rescale(ctx->frame_size, 90000, ctx->sample_rate);
    return MendDvdAudioPacks(s->temp.TempPath(), ticksPerFrame, error);
}

// Ends one input: drains its encoder, and when every input has ended finishes the file and
// posts EOS as a sink does (streaming thread, lock not held).
gboolean kestrin_mpeg_writer_handle_eos(KestrinMpegWriter* self, int index, guint32 seqnum) {
    WriterState* s = self->state.get();
    InputState& in = s->in[index];
    PendingError pending;

    writer::CMutexLock lock(&self->lock);
    if (in.eos || s->flushing) return TRUE;
    const bool drain = in.configured && !s->failed &&
                       kestrin_mpeg_writer_wait_for_header(self, index, &pending) == GST_FLOW_OK &&
                       in.stream >= 0;
    const InputState& video = s->in[kVideo];
    if (drain && index == kAudio && video.stream >= 0 && !video.eos) {
        // The video goes on: its thread keeps the audio stream fed and drains it at its own end.
        s->audioPadding = true;
    } else if (drain) {
        lock.Unlock();
        PacketList packets;
        std::string error;
        bool ok =
            index == kVideo ? s->video.Flush(packets, &error) : s->audio.Flush(packets, &error);
        lock.Lock();
        if (!ok)
            kestrin_mpeg_writer_fail(self, &pending, PendingError::Encode,
                                     "Could not encode \"" + s->location + "\": " + error);
        else if (!s->failed && !s->flushing)
            kestrin_mpeg_writer_write_packets(self, index, packets, -1, &pending);
    }
    if (index == kVideo && s->audioPadding) {
        s->audioPadding = false;
        if (!s->failed && !s->flushing) {
            const int64_t videoEnd = s->video.PositionNs();
            lock.Unlock();
            kestrin_mpeg_writer_pad_audio(self, videoEnd, true, &pending);
            lock.Lock();
        }
    }
    in.eos = true;
    g_cond_broadcast(&self->cond);

    bool allEnded = true;
    for (const InputState& i : s->in) allEnded = allEnded && (!i.expected || i.eos);
    bool postEos = false;
    if (allEnded && !s->finished && !s->failed && !s->flushing) {
        s->finished = true;
        // A file without a single coded frame would pass for a converted one.
        if (!s->headerWritten || s->packetsWritten == 0) {
            kestrin_mpeg_writer_fail(
                self, &pending, PendingError::Format,
                writer::WriteErrorText(s->location, "no video or audio reached the writer"));
        } else {
            // Every input has ended, so nothing else touches the file: the lock is released while
            // it is closed, mended and moved into place, and position queries are answered
            // meanwhile.
            lock.Unlock();
            std::string error;
            bool ok = s->mux.Finish(&error) && kestrin_mpeg_writer_mend_audio_packs(s, &error) &&
                      s->temp.Commit(&error);
            lock.Lock();
            if (ok)
                postEos = true;
            else
                kestrin_mpeg_writer_fail(self, &pending, PendingError::Write,
                                         writer::WriteErrorText(s->location, error));
        }
    }
    lock.Unlock();

    kestrin_mpeg_writer_post_error(self, pending);
    if (postEos) {
        GST_DEBUG_OBJECT(self, "finished %s", s->location.c_str());
        GstMessage* msg = gst_message_new_eos(GST_OBJECT(self));
        gst_message_set_seqnum(msg, seqnum);
        gst_element_post_message(GST_ELEMENT(self), msg);
    }
    return TRUE;
}

gboolean kestrin_mpeg_writer_sink_event(GstPad* pad, GstObject* parent, GstEvent* event) {
    auto* self = KESTRIN_MPEG_WRITER(parent);
    const int index = kestrin_mpeg_writer_input_index(self, pad);
    WriterState* s = self->state.get();
    gboolean result = TRUE;
    switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_CAPS: {
            GstCaps* caps;
            gst_event_parse_caps(event, &caps);
            result = kestrin_mpeg_writer_set_caps(self, index, caps);
            break;
        }
        case GST_EVENT_SEGMENT: {
            const GstSegment* segment;
            gst_event_parse_segment(event, &segment);
            if (segment->format == GST_FORMAT_TIME) {
                gst_segment_copy_into(segment, &s->in[index].segment);
            } else {
                GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("The MPEG writer needs timed input."),
                                  ("segment format %s", gst_format_get_name(segment->format)));
                result = FALSE;
            }
            break;
        }
        case GST_EVENT_GAP: {
            // No data for a while: the other input need not wait for this one meanwhile.
            GstClockTime ts, duration;
            gst_event_parse_gap(event, &ts, &duration);
            if (GST_CLOCK_TIME_IS_VALID(duration)) ts += duration;
            GstClockTime rt =
                gst_segment_to_running_time(&s->in[index].segment, GST_FORMAT_TIME, ts);
            writer::CMutexLock lock(&self->lock);
            if (GST_CLOCK_TIME_IS_VALID(rt)) s->in[index].position = rt;
            g_cond_broadcast(&self->cond);
            break;
        }
        case GST_EVENT_EOS:
            result = kestrin_mpeg_writer_handle_eos(self, index, gst_event_get_seqnum(event));
            break;
        case GST_EVENT_FLUSH_START: {
            GST_DEBUG_OBJECT(pad, "flushing");
            writer::CMutexLock lock(&self->lock);
            s->flushing = true;
            g_cond_broadcast(&self->cond);
            break;
        }
        case GST_EVENT_FLUSH_STOP: {
            // A program stream cannot be rewritten: writing simply continues.
            writer::CMutexLock lock(&self->lock);
            s->flushing = false;
            break;
        }
        default:
            break;
    }
    gst_event_unref(event);
    return result;
}

// The pixel aspect that gives the frame a display aspect of num:den, reduced.
void AddPixelAspect(GValue* list, int width, int height, int num, int den) {
    int parN = num * height, parD = den * width;
    const int divisor = gst_util_greatest_common_divisor(parN, parD);
    GValue aspect = G_VALUE_INIT;
    g_value_init(&aspect, GST_TYPE_FRACTION);
    gst_value_set_fraction(&aspect, parN / divisor, parD / divisor);
    gst_value_list_append_and_take_value(list, &aspect);
}

// The caps an input takes under the current preset: disc targets fix the frame size and prefer
// their frame rate and audio rate, so that upstream converters produce them. Their pictures are
// 4:3 or 16:9 (the sequence header says which), so their frames come in the two pixel aspects
// that make those; Video CDs stay 4:3, the one shape their players show.
GstCaps* kestrin_mpeg_writer_input_caps(KestrinMpegWriter* self, int index) {
    int code;
    {
        writer::CObjectLock objectLock(self);
        code = self->preset;
    }
    const MpegPreset& preset = PresetForCode(code);
    if (!preset.discTarget) return gst_caps_from_string(index == kVideo ? VIDEO_CAPS : AUDIO_CAPS);
    if (index == kVideo) {
        GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width",
                                            G_TYPE_INT, preset.width, "height", G_TYPE_INT,
                                            preset.height, "framerate", GST_TYPE_FRACTION,
                                            preset.frameRate.num, preset.frameRate.den, nullptr);
        GstCaps* anyRate =
            gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT,
                                preset.width, "height", G_TYPE_INT, preset.height, "framerate",
                                GST_TYPE_FRACTION_RANGE, 0, 1, 120, 1, nullptr);
        GValue aspects = G_VALUE_INIT;
        g_value_init(&aspects, GST_TYPE_LIST);
        AddPixelAspect(&aspects, preset.width, preset.height, 4, 3);
        if (preset.videoCodec != AV_CODEC_ID_MPEG1VIDEO)
            AddPixelAspect(&aspects, preset.width, preset.height, 16, 9);
        const GValue* aspect = gst_value_list_get_size(&aspects) == 1
                                   ? gst_value_list_get_value(&aspects, 0)
                                   : &aspects;
        for (GstCaps* each : {caps, anyRate})
            gst_structure_set_value(gst_caps_get_structure(each, 0), "pixel-aspect-ratio", aspect);
        g_value_unset(&aspects);
        return gst_caps_merge(caps, anyRate);
    }
    GstCaps* caps = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "layout",
                                        G_TYPE_STRING, "interleaved", "rate", G_TYPE_INT,
                                        preset.audioRate, "channels", G_TYPE_INT, 2, nullptr);
    return gst_caps_merge(caps, gst_caps_from_string(AUDIO_CAPS));
}

gboolean kestrin_mpeg_writer_sink_query(GstPad* pad, GstObject* parent, GstQuery* query) {
    auto* self = KESTRIN_MPEG_WRITER(parent);
    const int index = kestrin_mpeg_writer_input_index(self, pad);
    switch (GST_QUERY_TYPE(query)) {
        case GST_QUERY_CAPS: {
            GstCaps* filter;
            gst_query_parse_caps(query, &filter);
            GstCaps* caps = kestrin_mpeg_writer_input_caps(self, index);
            if (filter) {
                GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
                gst_caps_unref(caps);
                caps = both;
            }
            gst_query_set_caps_result(query, caps);
            gst_caps_unref(caps);
            return TRUE;
        }
        case GST_QUERY_ACCEPT_CAPS: {
            GstCaps* caps;
            gst_query_parse_accept_caps(query, &caps);
            GstCaps* allowed = kestrin_mpeg_writer_input_caps(self, index);
            gst_query_set_accept_caps_result(query, gst_caps_is_subset(caps, allowed));
            gst_caps_unref(allowed);
            return TRUE;
        }
        default:
            return gst_pad_query_default(pad, parent, query);
    }
}

// The media time written: the least position of the inputs still running (the file holds
// everything up to there), or the greatest once all have ended.
GstClockTime kestrin_mpeg_writer_written_position(KestrinMpegWriter* self) {
    writer::CMutexLock lock(&self->lock);
    GstClockTime running = GST_CLOCK_TIME_NONE, ended = 0;
    bool any = false;
    for (const InputState& in : self->state->in) {
        if (in.stream < 0 || !GST_CLOCK_TIME_IS_VALID(in.position)) continue;
        any = true;
        if (in.eos)
            ended = MAX(ended, in.position);
        else
            running = GST_CLOCK_TIME_IS_VALID(running) ? MIN(running, in.position) : in.position;
    }
    return !any ? 0 : GST_CLOCK_TIME_IS_VALID(running) ? running : ended;
}

gboolean kestrin_mpeg_writer_query(GstElement* element, GstQuery* query) {
    auto* self = KESTRIN_MPEG_WRITER(element);
    if (GST_QUERY_TYPE(query) != GST_QUERY_POSITION)
        return GST_ELEMENT_CLASS(kestrin_mpeg_writer_parent_class)->query(element, query);
    return writer::AnswerPositionQuery(
        query, [self] { return kestrin_mpeg_writer_written_position(self); });
}

// Replaces the run's state; the old one's destructor removes an unfinished temporary file.
// Called only while no streaming thread runs; the lock keeps position queries out.
void kestrin_mpeg_writer_reset_state(KestrinMpegWriter* self) {
    auto fresh = std::make_unique<WriterState>();
    {
        writer::CMutexLock lock(&self->lock);
        self->state.swap(fresh);
    }
}

// READY->PAUSED: opens the temporary output and resets the run.
gboolean kestrin_mpeg_writer_start(KestrinMpegWriter* self) {
    std::string location;
    int presetCode;
    bool inPlace = false;
    {
        writer::CObjectLock objectLock(self);
        location = self->location ? self->location : "";
        presetCode = self->preset;
        inPlace = self->inPlace;
    }

    kestrin_mpeg_writer_reset_state(self);
    WriterState* s = self->state.get();
    s->preset = PresetForCode(presetCode);
    s->location = location;
    auto openMux = [s](const std::string& path, std::string* error) {
        return s->mux.Open(s->preset, path, error);
    };
    if (!writer::OpenTempOutput(GST_ELEMENT(self), location, inPlace, &s->temp, openMux)) {
        GST_DEBUG_OBJECT(self, "cannot open an output for \"%s\"", location.c_str());
        return FALSE;
    }
    for (int i : {kVideo, kAudio}) {
        gst_segment_init(&s->in[i].segment, GST_FORMAT_TIME);
        s->in[i].expected = gst_pad_is_linked(self->pads[i]);
    }
    GST_DEBUG_OBJECT(self, "writing \"%s\" with preset %d, video %s, audio %s", location.c_str(),
                     presetCode, s->in[kVideo].expected ? "linked" : "unlinked",
                     s->in[kAudio].expected ? "linked" : "unlinked");
    writer::CMutexLock lock(&self->lock);
    s->flushing = false;
    return TRUE;
}

GstStateChangeReturn kestrin_mpeg_writer_change_state(GstElement* element,
                                                      GstStateChange transition) {
    auto* self = KESTRIN_MPEG_WRITER(element);
    GST_DEBUG_OBJECT(self, "%s", gst_state_change_get_name(transition));
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED && !kestrin_mpeg_writer_start(self))
        return GST_STATE_CHANGE_FAILURE;
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        // Wake waiting streaming threads before the parent deactivates the pads, which takes
        // their stream locks.
        writer::CMutexLock lock(&self->lock);
        self->state->flushing = true;
        g_cond_broadcast(&self->cond);
    }
    GstStateChangeReturn ret =
        GST_ELEMENT_CLASS(kestrin_mpeg_writer_parent_class)->change_state(element, transition);
    if (ret == GST_STATE_CHANGE_FAILURE) {
        GST_DEBUG_OBJECT(self, "%s failed", gst_state_change_get_name(transition));
        // A run opened for nothing: its temporary file goes.
        if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) kestrin_mpeg_writer_reset_state(self);
        return ret;
    }
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        // The streaming threads are gone: an unfinished file is removed, the destination kept.
        kestrin_mpeg_writer_reset_state(self);
    }
    return ret;
}

void kestrin_mpeg_writer_set_property(GObject* object, guint id, const GValue* value,
                                      GParamSpec* pspec) {
    auto* self = KESTRIN_MPEG_WRITER(object);
    writer::CObjectLock objectLock(self);
    bool running = GST_STATE(self) > GST_STATE_READY;
    switch (id) {
        case PROP_LOCATION:
            writer::SetLocation(GST_ELEMENT(self), &self->location, value);
            break;
        case PROP_IN_PLACE:
            if (!running) self->inPlace = g_value_get_boolean(value);
            break;
        case PROP_PRESET:
            if (running)
                g_warning("kestrinempegwriter: preset cannot change while writing");
            else
                self->preset = g_value_get_enum(value);
            break;
        default:
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

void kestrin_mpeg_writer_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    auto* self = KESTRIN_MPEG_WRITER(object);
    writer::CObjectLock objectLock(self);
    switch (id) {
        case PROP_LOCATION:
            g_value_set_string(value, self->location);
            break;
        case PROP_IN_PLACE:
            g_value_set_boolean(value, self->inPlace);
            break;
        case PROP_PRESET:
            g_value_set_enum(value, self->preset);
            break;
        default:
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

void kestrin_mpeg_writer_finalize(GObject* object) {
    auto* self = KESTRIN_MPEG_WRITER(object);
    self->state.~unique_ptr();
    g_free(self->location);
    g_mutex_clear(&self->lock);
    g_cond_clear(&self->cond);
    G_OBJECT_CLASS(kestrin_mpeg_writer_parent_class)->finalize(object);
}

}  // namespace

static void kestrin_mpeg_writer_class_init(KestrinMpegWriterClass* klass) {
    GObjectClass* gobject_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    gobject_class->set_property = kestrin_mpeg_writer_set_property;
    gobject_class->get_property = kestrin_mpeg_writer_get_property;
    gobject_class->finalize = kestrin_mpeg_writer_finalize;

    writer::InstallLocationProperty(gobject_class, PROP_LOCATION, "Path of the MPEG file to write");
    writer::InstallInPlaceProperty(gobject_class, PROP_IN_PLACE);
    g_object_class_install_property(
        gobject_class, PROP_PRESET,
        g_param_spec_enum(
            "preset", "Preset", "The target: generic MPEG-1 or MPEG-2, or a disc format",
            KESTRIN_TYPE_MPEG_WRITER_PRESET, kDefaultPreset,
            GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY)));

    gst_element_class_add_static_pad_template(element_class, &video_template);
    gst_element_class_add_static_pad_template(element_class, &audio_template);
    gst_element_class_set_static_metadata(
        element_class, "MPEG Writer Filter", "Sink/File/Encoder/Muxer",
        "Encodes video and audio and writes an MPEG-1/MPEG-2 program stream (VCD, SVCD, DVD)",
        "Brontwell");
    element_class->change_state = kestrin_mpeg_writer_change_state;
    element_class->query = kestrin_mpeg_writer_query;
}

static void kestrin_mpeg_writer_init(KestrinMpegWriter* self) {
    g_mutex_init(&self->lock);
    g_cond_init(&self->cond);
    self->preset = kDefaultPreset;
    new (&self->state) std::unique_ptr<WriterState>(std::make_unique<WriterState>());
    GstStaticPadTemplate* templates[2] = {&video_template, &audio_template};
    for (int i : {kVideo, kAudio}) {
        GstPadTemplate* templ = gst_static_pad_template_get(templates[i]);
        self->pads[i] = gst_pad_new_from_template(templ, templates[i]->name_template);
        gst_object_unref(templ);
        gst_pad_set_chain_function(self->pads[i], kestrin_mpeg_writer_chain);
        gst_pad_set_event_function(self->pads[i], kestrin_mpeg_writer_sink_event);
        gst_pad_set_query_function(self->pads[i], kestrin_mpeg_writer_sink_query);
        gst_element_add_pad(GST_ELEMENT(self), self->pads[i]);
    }
    // A sink for the bin: the pipeline's EOS waits for this element's EOS message.
    GST_OBJECT_FLAG_SET(self, GST_ELEMENT_FLAG_SINK);
}
