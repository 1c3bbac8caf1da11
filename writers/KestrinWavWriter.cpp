#include "KestrinWavWriter.h"

#include <fcntl.h>
#include <gst/audio/audio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "TempOutput.h"
#include "WavHeader.h"
#include "WriterElement.h"

GST_DEBUG_CATEGORY_STATIC(kestrin_wav_writer_debug);
#define GST_CAT_DEFAULT kestrin_wav_writer_debug

namespace {

enum { PROP_0, PROP_LOCATION, PROP_IN_PLACE };

#define WAV_CAPS                                                                    \
    "audio/x-raw, format=(string){ U8, S16LE, S24LE, S32LE, F32LE, F64LE }, "       \
    "layout=(string)interleaved, rate=(int)[1, 2147483647], channels=(int)[1, 8]; " \
    "audio/x-alaw, rate=(int)[1, 2147483647], channels=(int)[1, 8]; "               \
    "audio/x-mulaw, rate=(int)[1, 2147483647], channels=(int)[1, 8]; "              \
    "audio/mpeg, mpegversion=(int)1, layer=(int)3"

GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(WAV_CAPS));

enum class Mode { Unknown, Wave, Mp3 };

constexpr size_t kFileBuffer = 256 * 1024;

// The state of one run, used by the streaming thread (and by start/stop, when it is not running).
struct WavRun {
    CTempOutput temp;
    FILE* file = nullptr;  // the temporary file, open from start to the end of the run
    std::string destination;
    Mode mode = Mode::Unknown;
    WavFormat format;
    uint64_t dataBytes = 0;     // wave data written (Wave mode)
    uint64_t bytesWritten = 0;  // media bytes written in either mode
    bool failed = false;        // an error was posted: this file must never be committed

    WavRun() = default;
    WavRun(const WavRun&) = delete;
    WavRun& operator=(const WavRun&) = delete;
    ~WavRun() { Close(); }

    void Close() {
        if (file) std::fclose(file);
        file = nullptr;
    }
};

}  // namespace

struct _KestrinWavWriter {
    GstBaseSink parent;
    gchar* location;  // properties, guarded by the object lock
    gboolean inPlace;
    GstClockTime position;  // running time written, guarded by the object lock
    // Placement-constructed in init and destroyed in finalize (GObject memory).
    WavRun run;
};

G_DEFINE_TYPE_WITH_CODE(KestrinWavWriter, kestrin_wav_writer, GST_TYPE_BASE_SINK,
                        GST_DEBUG_CATEGORY_INIT(kestrin_wav_writer_debug, "kestrinwavwriter", 0,
                                                "WAV Writer Filter"))
GST_ELEMENT_REGISTER_DEFINE(kestrinwavwriter, "kestrinwavwriter", GST_RANK_NONE,
                            KESTRIN_TYPE_WAV_WRITER)

namespace {

void kestrin_wav_writer_post_write_error(KestrinWavWriter* self, int code) {
    GST_DEBUG_OBJECT(self, "write failed: %s", g_strerror(code));
    self->run.failed = true;
    GST_ELEMENT_ERROR(
        self, RESOURCE, WRITE,
        ("%s", writer::WriteErrorText(self->run.destination, g_strerror(code)).c_str()), (nullptr));
}

bool kestrin_wav_writer_write_all(KestrinWavWriter* self, const void* data, size_t size) {
    if (size && std::fwrite(data, 1, size, self->run.file) != size) {
        kestrin_wav_writer_post_write_error(self, errno ? errno : EIO);
        return false;
    }
    return true;
}

gboolean kestrin_wav_writer_start(GstBaseSink* sink) {
    auto* self = KESTRIN_WAV_WRITER(sink);
    bool inPlace = false;
    {
        writer::CObjectLock objectLock(self);
        self->run.destination = self->location ? self->location : "";
        inPlace = self->inPlace;
        self->position = 0;
    }
    GST_DEBUG_OBJECT(self, "writing \"%s\"", self->run.destination.c_str());
    self->run.mode = Mode::Unknown;
    self->run.dataBytes = 0;
    self->run.bytesWritten = 0;
    self->run.failed = false;
    auto openFile = [self](const std::string& path, std::string* error) {
        const int fd = CTempOutput::OpenOwnFile(path, O_WRONLY | O_TRUNC);
        self->run.file = fd < 0 ? nullptr : fdopen(fd, "wb");
        if (!self->run.file) {
            *error = g_strerror(errno);
            if (fd >= 0) close(fd);
        }
        return self->run.file != nullptr;
    };
    if (!writer::OpenTempOutput(GST_ELEMENT(self), self->run.destination, inPlace, &self->run.temp,
                                openFile)) {
        GST_DEBUG_OBJECT(self, "cannot open an output");
        return FALSE;
    }
    std::setvbuf(self->run.file, nullptr, _IOFBF, kFileBuffer);
    return TRUE;
}

// Any run that did not finish leaves nothing behind: the temporary file goes, the destination
// stays as it was.
gboolean kestrin_wav_writer_stop(GstBaseSink* sink) {
    auto* self = KESTRIN_WAV_WRITER(sink);
    GST_DEBUG_OBJECT(self, "stopped%s", self->run.temp.Active() ? ", output discarded" : "");
    self->run.Close();
    self->run.temp.Discard();
    self->run.mode = Mode::Unknown;
    return TRUE;
}

bool kestrin_wav_writer_format_from_caps(GstCaps* caps, Mode* mode, WavFormat* format) {
    GstStructure* st = gst_caps_get_structure(caps, 0);
    const gchar* name = gst_structure_get_name(st);
    if (g_str_equal(name, "audio/mpeg")) {
        *mode = Mode::Mp3;
        return true;
    }
    *mode = Mode::Wave;
    gint rate = 0, channels = 0;
    if (g_str_equal(name, "audio/x-alaw") || g_str_equal(name, "audio/x-mulaw")) {
        if (!gst_structure_get_int(st, "rate", &rate) ||
            !gst_structure_get_int(st, "channels", &channels))
            return false;
        format->formatTag = g_str_equal(name, "audio/x-alaw") ? kWaveFormatAlaw : kWaveFormatMulaw;
        format->bitsPerSample = 8;
    } else {
        GstAudioInfo info;
        if (!gst_audio_info_from_caps(&info, caps)) return false;
        rate = GST_AUDIO_INFO_RATE(&info);
        channels = GST_AUDIO_INFO_CHANNELS(&info);
        format->formatTag = GST_AUDIO_INFO_IS_FLOAT(&info) ? kWaveFormatIeeeFloat : kWaveFormatPcm;
        format->bitsPerSample = static_cast<uint16_t>(GST_AUDIO_INFO_DEPTH(&info));
    }
    format->channels = static_cast<uint16_t>(channels);
    format->sampleRate = static_cast<uint32_t>(rate);
    format->blockAlign = static_cast<uint16_t>((format->bitsPerSample + 7) / 8 * channels);
    return true;
}

gboolean kestrin_wav_writer_set_caps(GstBaseSink* sink, GstCaps* caps) {
    auto* self = KESTRIN_WAV_WRITER(sink);
    Mode mode = Mode::Unknown;
    WavFormat format;
    if (!kestrin_wav_writer_format_from_caps(caps, &mode, &format)) return FALSE;
    if (self->run.mode != Mode::Unknown) {
        // The header is written: only the same format may continue the file.
        bool same = mode == self->run.mode &&
                    (mode == Mode::Mp3 || (format.formatTag == self->run.format.formatTag &&
                                           format.channels == self->run.format.channels &&
                                           format.sampleRate == self->run.format.sampleRate &&
                                           format.bitsPerSample == self->run.format.bitsPerSample));
        if (!same) {
            self->run.failed = true;
            GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                              ("The audio format cannot change while a file is written."),
                              ("%" GST_PTR_FORMAT, caps));
        }
        return same;
    }
    self->run.mode = mode;
    self->run.format = format;
    if (mode == Mode::Wave) {
        std::vector<uint8_t> header = BuildWavHeader(format, 0);
        return kestrin_wav_writer_write_all(self, header.data(), header.size());
    }
    return TRUE;
}

GstFlowReturn kestrin_wav_writer_render(GstBaseSink* sink, GstBuffer* buffer) {
    auto* self = KESTRIN_WAV_WRITER(sink);
    if (self->run.mode == Mode::Unknown) return GST_FLOW_NOT_NEGOTIATED;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        self->run.failed = true;
        GST_ELEMENT_ERROR(self, STREAM, FAILED, ("Could not read an audio buffer."), (nullptr));
        return GST_FLOW_ERROR;
    }
    if (self->run.mode == Mode::Wave && self->run.dataBytes + map.size > kMaxWavDataBytes) {
        gst_buffer_unmap(buffer, &map);
        self->run.failed = true;
        GST_ELEMENT_ERROR(self, RESOURCE, NO_SPACE_LEFT,
                          ("Could not write \"%s\": a WAV file cannot hold more than 4 GB.",
                           self->run.destination.c_str()),
                          (nullptr));
        return GST_FLOW_ERROR;
    }
    bool ok = kestrin_wav_writer_write_all(self, map.data, map.size);
    gst_buffer_unmap(buffer, &map);
    if (!ok) return GST_FLOW_ERROR;
    if (self->run.mode == Mode::Wave) self->run.dataBytes += map.size;
    self->run.bytesWritten += map.size;

    // The media time written: the end of this buffer in running time, else (untimed PCM)
    // counted from the bytes.
    GstClockTime reached = GST_CLOCK_TIME_NONE;
    const GstSegment* segment = &sink->segment;
    if (GST_BUFFER_PTS_IS_VALID(buffer) && segment->format == GST_FORMAT_TIME) {
        GstClockTime end = GST_BUFFER_PTS(buffer);
        if (GST_BUFFER_DURATION_IS_VALID(buffer)) {
            end += GST_BUFFER_DURATION(buffer);
        } else if (self->run.mode == Mode::Wave && self->run.format.blockAlign) {
            end += gst_util_uint64_scale(map.size / self->run.format.blockAlign, GST_SECOND,
                                         self->run.format.sampleRate);
        }
        reached = gst_segment_to_running_time(segment, GST_FORMAT_TIME, end);
    } else if (self->run.mode == Mode::Wave && self->run.format.blockAlign) {
        reached = gst_util_uint64_scale(self->run.dataBytes / self->run.format.blockAlign,
                                        GST_SECOND, self->run.format.sampleRate);
    }
    if (GST_CLOCK_TIME_IS_VALID(reached)) {
        writer::CObjectLock objectLock(self);
        self->position = MAX(self->position, reached);
    }
    return GST_FLOW_OK;
}

// Completes the file and moves it onto the destination. Posts the error and returns false on
// failure; the temporary file is then removed by kestrin_wav_writer_stop.
bool kestrin_wav_writer_finish(KestrinWavWriter* self) {
    // Upstream sends EOS after a failed write too: that file is incomplete.
    if (self->run.failed) return false;
    // An empty file would pass for a converted one: a stream without audio is a failure.
    if (self->run.mode == Mode::Unknown || self->run.bytesWritten == 0) {
        GST_ELEMENT_ERROR(
            self, STREAM, FORMAT,
            ("%s",
             writer::WriteErrorText(self->run.destination, "no audio reached the writer.").c_str()),
            (nullptr));
        return false;
    }
    if (self->run.mode == Mode::Wave) {
        static const uint8_t kPad = 0;
        if ((self->run.dataBytes & 1) && !kestrin_wav_writer_write_all(self, &kPad, 1))
            return false;
        std::vector<uint8_t> header = BuildWavHeader(self->run.format, self->run.dataBytes);
        if (std::fseek(self->run.file, 0, SEEK_SET) != 0) {
            kestrin_wav_writer_post_write_error(self, errno);
            return false;
        }
        if (!kestrin_wav_writer_write_all(self, header.data(), header.size())) return false;
    }
    FILE* file = self->run.file;
    self->run.file = nullptr;
    if (std::fclose(file) != 0) {
        kestrin_wav_writer_post_write_error(self, errno);
        return false;
    }
    std::string error;
    if (!self->run.temp.Commit(&error)) {
        GST_ELEMENT_ERROR(self, RESOURCE, WRITE,
                          ("%s", writer::WriteErrorText(self->run.destination, error).c_str()),
                          (nullptr));
        return false;
    }
    return true;
}

gboolean kestrin_wav_writer_event(GstBaseSink* sink, GstEvent* event) {
    auto* self = KESTRIN_WAV_WRITER(sink);
    switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_EOS:
            if (!self->run.file || !kestrin_wav_writer_finish(self)) {
                // No EOS message: the error already posted ends the run.
                gst_event_unref(event);
                return FALSE;
            }
            break;
        case GST_EVENT_SEGMENT: {
            // An MP3 stream may be revised in place: an encoder or Xing muxer rewrites its
            // first frame after a byte segment back to offset 0.
            const GstSegment* segment;
            gst_event_parse_segment(event, &segment);
            if (self->run.mode == Mode::Mp3 && segment->format == GST_FORMAT_BYTES &&
                self->run.file &&
                std::fseek(self->run.file, static_cast<long>(segment->start), SEEK_SET) != 0) {
                kestrin_wav_writer_post_write_error(self, errno);
                gst_event_unref(event);
                return FALSE;
            }
            break;
        }
        default:
            break;
    }
    return GST_BASE_SINK_CLASS(kestrin_wav_writer_parent_class)->event(sink, event);
}

gboolean kestrin_wav_writer_query(GstElement* element, GstQuery* query) {
    auto* self = KESTRIN_WAV_WRITER(element);
    if (GST_QUERY_TYPE(query) != GST_QUERY_POSITION)
        return GST_ELEMENT_CLASS(kestrin_wav_writer_parent_class)->query(element, query);
    return writer::AnswerPositionQuery(query, [self] {
        writer::CObjectLock objectLock(self);
        return self->position;
    });
}

void kestrin_wav_writer_set_property(GObject* object, guint id, const GValue* value,
                                     GParamSpec* pspec) {
    auto* self = KESTRIN_WAV_WRITER(object);
    switch (id) {
        case PROP_LOCATION: {
            writer::CObjectLock objectLock(self);
            writer::SetLocation(GST_ELEMENT(self), &self->location, value);
            break;
        }
        case PROP_IN_PLACE: {
            writer::CObjectLock objectLock(self);
            if (GST_STATE(self) <= GST_STATE_READY) self->inPlace = g_value_get_boolean(value);
            break;
        }
        default:
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

void kestrin_wav_writer_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    auto* self = KESTRIN_WAV_WRITER(object);
    switch (id) {
        case PROP_LOCATION: {
            writer::CObjectLock objectLock(self);
            g_value_set_string(value, self->location);
            break;
        }
        case PROP_IN_PLACE: {
            writer::CObjectLock objectLock(self);
            g_value_set_boolean(value, self->inPlace);
            break;
        }
        default:
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

void kestrin_wav_writer_finalize(GObject* object) {
    auto* self = KESTRIN_WAV_WRITER(object);
    self->run.~WavRun();
    g_free(self->location);
    G_OBJECT_CLASS(kestrin_wav_writer_parent_class)->finalize(object);
}

}  // namespace

static void kestrin_wav_writer_class_init(KestrinWavWriterClass* klass) {
    GObjectClass* gobject_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstBaseSinkClass* sink_class = GST_BASE_SINK_CLASS(klass);
    gobject_class->set_property = kestrin_wav_writer_set_property;
    gobject_class->get_property = kestrin_wav_writer_get_property;
    gobject_class->finalize = kestrin_wav_writer_finalize;

    writer::InstallLocationProperty(gobject_class, PROP_LOCATION,
                                    "Path of the WAV or MP3 file to write");
    writer::InstallInPlaceProperty(gobject_class, PROP_IN_PLACE);

    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_set_static_metadata(
        element_class, "WAV Writer Filter", "Sink/File",
        "Writes PCM, A-law and mu-law audio as RIFF WAVE and MPEG Layer-3 audio as an MP3 file",
        "Brontwell");
    element_class->query = kestrin_wav_writer_query;

    sink_class->start = kestrin_wav_writer_start;
    sink_class->stop = kestrin_wav_writer_stop;
    sink_class->set_caps = kestrin_wav_writer_set_caps;
    sink_class->render = kestrin_wav_writer_render;
    sink_class->event = kestrin_wav_writer_event;
}

static void kestrin_wav_writer_init(KestrinWavWriter* self) {
    new (&self->run) WavRun;
    // A file writer: as fast as upstream delivers, no clock.
    gst_base_sink_set_sync(GST_BASE_SINK(self), FALSE);
    gst_base_sink_set_last_sample_enabled(GST_BASE_SINK(self), FALSE);
}
