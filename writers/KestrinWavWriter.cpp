#include "KestrinWavWriter.h"

#include <fcntl.h>
#include <gst/audio/audio.h>
#include <gst/tag/tag.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "AudioTags.h"
#include "GsmFraming.h"
#include "TempOutput.h"
#include "WavHeader.h"
#include "WriterElement.h"

GST_DEBUG_CATEGORY_STATIC(kestrin_wav_writer_debug);
#define GST_CAT_DEFAULT kestrin_wav_writer_debug

namespace {

enum { PROP_0, PROP_LOCATION, PROP_IN_PLACE };

#define WAV_CAPS                                                                       \
    "audio/x-raw, format=(string){ U8, S16LE, S24LE, S32LE, F32LE, F64LE }, "          \
    "layout=(string)interleaved, rate=(int)[1, 2147483647], channels=(int)[1, 8]; "    \
    "audio/x-alaw, rate=(int)[1, 2147483647], channels=(int)[1, 8]; "                  \
    "audio/x-mulaw, rate=(int)[1, 2147483647], channels=(int)[1, 8]; "                 \
    "audio/x-adpcm, layout=(string){ dvi, microsoft }, block_align=(int)[16, 65535], " \
    "rate=(int)[1, 2147483647], channels=(int)[1, 2]; "                                \
    "audio/x-gsm, rate=(int)8000, channels=(int)1; "                                   \
    "audio/ms-gsm, rate=(int)8000, channels=(int)1; "                                  \
    "audio/mpeg, mpegversion=(int)1, layer=(int)[1, 3]"

GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(WAV_CAPS));

enum class Mode { Unknown, Wave, Mp3 };

constexpr size_t kFileBuffer = 256 * 1024;

// The state of one run, used by the streaming thread (and by start/stop, when it is not running).
struct TagListUnref {
    void operator()(GstTagList* tags) const { gst_tag_list_unref(tags); }
};
using TagListPtr = std::unique_ptr<GstTagList, TagListUnref>;

struct WavRun {
    CTempOutput temp;
    FILE* file = nullptr;  // the temporary file, open from start to the end of the run
    std::string destination;
    Mode mode = Mode::Unknown;
    WavFormat format;
    bool repackGsm = false;  // standard GSM frames in: stored in Microsoft framing
    CGsmMsPacker gsm;
    bool started = false;       // the header (or the ID3 tag) is written
    std::vector<uint8_t> list;  // the wave header's LIST chunk, fixed when it is written
    uint64_t prefixBytes = 0;   // MP3: bytes of the ID3 tag in front of the stream
    TagListPtr streamTags;      // tags that came with the stream
    GstClockTime firstStart = GST_CLOCK_TIME_NONE;  // running time of the first sample
    GstClockTime lastEnd = GST_CLOCK_TIME_NONE;     // running time after the last sample
    uint64_t dataBytes = 0;                         // wave data written (Wave mode)
    uint64_t bytesWritten = 0;                      // media bytes written in either mode
    bool failed = false;  // an error was posted: this file must never be committed

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
                        G_IMPLEMENT_INTERFACE(GST_TYPE_TAG_SETTER, nullptr)
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
    self->run.repackGsm = false;
    self->run.gsm = CGsmMsPacker();
    self->run.started = false;
    self->run.list.clear();
    self->run.prefixBytes = 0;
    self->run.streamTags.reset();
    self->run.firstStart = GST_CLOCK_TIME_NONE;
    self->run.lastEnd = GST_CLOCK_TIME_NONE;
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

// What the caps say about the file to write.
struct CapsFormat {
    Mode mode = Mode::Unknown;
    WavFormat format;
    bool repackGsm = false;
    int mpegLayer = 0;  // MPEG audio in a wave file: its bit rate comes with the first frame
};

bool kestrin_wav_writer_format_from_caps(GstCaps* caps, CapsFormat* out) {
    GstStructure* st = gst_caps_get_structure(caps, 0);
    const gchar* name = gst_structure_get_name(st);
    gint rate = 0, channels = 0, layer = 0, blockAlign = 0;
    gst_structure_get_int(st, "rate", &rate);
    gst_structure_get_int(st, "channels", &channels);
    const auto r = static_cast<uint32_t>(rate);
    const auto ch = static_cast<uint16_t>(channels);
    out->mode = Mode::Wave;
    if (g_str_equal(name, "audio/mpeg")) {
        gst_structure_get_int(st, "layer", &layer);
        if (layer == 3) {
            out->mode = Mode::Mp3;
            return true;
        }
        if (rate <= 0 || channels <= 0) return false;
        out->mpegLayer = layer;
        out->format = MpegWavFormat(ch, r, layer, 0);
        return true;
    }
    if (g_str_equal(name, "audio/x-adpcm")) {
        const gchar* layout = gst_structure_get_string(st, "layout");
        if (!gst_structure_get_int(st, "block_align", &blockAlign) || rate <= 0 || channels <= 0 ||
            !layout)
            return false;
        const auto align = static_cast<uint16_t>(blockAlign);
        out->format = g_str_equal(layout, "dvi") ? ImaAdpcmWavFormat(ch, r, align)
                                                 : MsAdpcmWavFormat(ch, r, align);
        return true;
    }
    if (g_str_equal(name, "audio/x-gsm") || g_str_equal(name, "audio/ms-gsm")) {
        if (rate <= 0) return false;
        out->format = Gsm610WavFormat(r);
        out->repackGsm = g_str_equal(name, "audio/x-gsm");
        return true;
    }
    if (g_str_equal(name, "audio/x-alaw") || g_str_equal(name, "audio/x-mulaw")) {
        if (rate <= 0 || channels <= 0) return false;
        out->format = LinearWavFormat(
            g_str_equal(name, "audio/x-alaw") ? kWaveFormatAlaw : kWaveFormatMulaw, ch, r, 8);
        return true;
    }
    GstAudioInfo info;
    if (!gst_audio_info_from_caps(&info, caps)) return false;
    out->format =
        LinearWavFormat(GST_AUDIO_INFO_IS_FLOAT(&info) ? kWaveFormatIeeeFloat : kWaveFormatPcm,
                        static_cast<uint16_t>(GST_AUDIO_INFO_CHANNELS(&info)),
                        static_cast<uint32_t>(GST_AUDIO_INFO_RATE(&info)),
                        static_cast<uint16_t>(GST_AUDIO_INFO_DEPTH(&info)));
    return true;
}

gboolean kestrin_wav_writer_set_caps(GstBaseSink* sink, GstCaps* caps) {
    auto* self = KESTRIN_WAV_WRITER(sink);
    CapsFormat next;
    if (!kestrin_wav_writer_format_from_caps(caps, &next)) {
        GST_DEBUG_OBJECT(self, "refused caps %" GST_PTR_FORMAT, caps);
        return FALSE;
    }
    WavRun& run = self->run;
    if (run.mode != Mode::Unknown) {
        // Only the same format may continue the file (an MPEG wave format learns its bit rate
        // from the stream, so that is not compared).
        const bool same = next.mode == run.mode &&
                          (next.mode == Mode::Mp3 ||
                           (next.format.formatTag == run.format.formatTag &&
                            next.format.channels == run.format.channels &&
                            next.format.sampleRate == run.format.sampleRate &&
                            next.format.bitsPerSample == run.format.bitsPerSample &&
                            (next.mpegLayer || next.format.blockAlign == run.format.blockAlign)));
        if (!same) {
            GST_DEBUG_OBJECT(self, "refused a format change to %" GST_PTR_FORMAT, caps);
            run.failed = true;
            GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                              ("The audio format cannot change while a file is written."),
                              ("%" GST_PTR_FORMAT, caps));
        }
        return same;
    }
    GST_DEBUG_OBJECT(self, "format %" GST_PTR_FORMAT, caps);
    run.mode = next.mode;
    run.format = next.format;
    run.repackGsm = next.repackGsm;
    return TRUE;
}

// The bit rate (bits/s) in an MPEG audio frame header, 0 when data does not start with one.
uint32_t kestrin_wav_writer_mpeg_bit_rate(const uint8_t* data, size_t size) {
    static const uint16_t kLayer2[2][16] = {
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};
    static const uint16_t kLayer1[2][16] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0}};
    if (size < 4 || data[0] != 0xFF || (data[1] & 0xE0) != 0xE0) return 0;
    const int version = (data[1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = 4 - ((data[1] >> 1) & 3);
    const int index = data[2] >> 4;
    const int table = version == 3 ? 0 : 1;
    if (layer == 1) return kLayer1[table][index] * 1000u;
    if (layer == 2) return kLayer2[table][index] * 1000u;
    return 0;
}

// The tags the file carries: those set on the element (through the tag setter interface)
// merged, with the setter's merge mode, over those that came with the stream.
AudioTags kestrin_wav_writer_tags(KestrinWavWriter* self) {
    GstTagSetter* setter = GST_TAG_SETTER(self);
    const GstTagList* set = gst_tag_setter_get_tag_list(setter);
    TagListPtr merged(gst_tag_list_merge(self->run.streamTags.get(), set,
                                         gst_tag_setter_get_tag_merge_mode(setter)));
    AudioTags tags;
    if (!merged) return tags;
    auto text = [&](const char* tag) {
        gchar* value = nullptr;
        std::string result;
        if (gst_tag_list_get_string(merged.get(), tag, &value) && value) result = value;
        g_free(value);
        return result;
    };
    tags.title = text(GST_TAG_TITLE);
    tags.artist = text(GST_TAG_ARTIST);
    tags.album = text(GST_TAG_ALBUM);
    tags.genre = text(GST_TAG_GENRE);
    tags.comment = text(GST_TAG_COMMENT);
    guint track = 0;
    if (gst_tag_list_get_uint(merged.get(), GST_TAG_TRACK_NUMBER, &track)) tags.trackNumber = track;
    GstDateTime* dateTime = nullptr;
    GDate* date = nullptr;
    char text8[16] = {};
    if (gst_tag_list_get_date_time(merged.get(), GST_TAG_DATE_TIME, &dateTime) && dateTime) {
        if (gst_date_time_has_day(dateTime))
            std::snprintf(text8, sizeof text8, "%04d-%02d-%02d", gst_date_time_get_year(dateTime),
                          gst_date_time_get_month(dateTime), gst_date_time_get_day(dateTime));
        else if (gst_date_time_has_year(dateTime))
            std::snprintf(text8, sizeof text8, "%04d", gst_date_time_get_year(dateTime));
        gst_date_time_unref(dateTime);
    } else if (gst_tag_list_get_date(merged.get(), GST_TAG_DATE, &date) && date) {
        if (g_date_valid(date))
            std::snprintf(text8, sizeof text8, "%04d-%02d-%02d", g_date_get_year(date),
                          int(g_date_get_month(date)), g_date_get_day(date));
        g_date_free(date);
    }
    tags.date = text8;
    return tags;
}

// Before the first data: the wave header (with its tags) or the MP3 stream's ID3 tag.
bool kestrin_wav_writer_begin(KestrinWavWriter* self, const uint8_t* data, size_t size) {
    WavRun& run = self->run;
    run.started = true;
    const AudioTags tags = kestrin_wav_writer_tags(self);
    if (run.mode == Mode::Mp3) {
        std::vector<uint8_t> id3 = BuildId3v23Tag(tags);
        run.prefixBytes = id3.size();
        GST_DEBUG_OBJECT(self, "MP3 stream, %zu bytes of ID3 tag", id3.size());
        return kestrin_wav_writer_write_all(self, id3.data(), id3.size());
    }
    if (run.format.formatTag == kWaveFormatMpeg) {
        const uint32_t bitRate = kestrin_wav_writer_mpeg_bit_rate(data, size);
        if (!bitRate) {
            run.failed = true;
            GST_ELEMENT_ERROR(self, STREAM, FORMAT,
                              ("%s", writer::WriteErrorText(run.destination,
                                                            "the MPEG audio stream has no "
                                                            "frame header where it starts.")
                                         .c_str()),
                              (nullptr));
            return false;
        }
        run.format = MpegWavFormat(run.format.channels, run.format.sampleRate,
                                   run.format.samplesPerBlock == 384 ? 1 : 2, bitRate);
    }
    run.list = BuildInfoListChunk(tags);
    GST_DEBUG_OBJECT(self, "wave format 0x%04x, %u Hz, %u channels, block %u, %zu bytes of tags",
                     run.format.formatTag, run.format.sampleRate, run.format.channels,
                     run.format.blockAlign, run.list.size());
    std::vector<uint8_t> header = BuildWavHeader(run.format, 0, 0, run.list);
    return kestrin_wav_writer_write_all(self, header.data(), header.size());
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
    WavRun& run = self->run;
    bool ok = run.started || kestrin_wav_writer_begin(self, map.data, map.size);
    size_t stored = map.size;
    if (ok && run.repackGsm) {
        std::vector<uint8_t> blocks;
        run.gsm.Add(map.data, map.size, blocks);
        stored = blocks.size();
        ok = kestrin_wav_writer_write_all(self, blocks.data(), blocks.size());
    } else if (ok) {
        ok = kestrin_wav_writer_write_all(self, map.data, map.size);
    }
    gst_buffer_unmap(buffer, &map);
    if (!ok) return GST_FLOW_ERROR;
    if (run.mode == Mode::Wave) run.dataBytes += stored;
    run.bytesWritten += map.size;

    // The media time written: the end of this buffer in running time, else (untimed linear
    // audio) counted from the bytes.
    const bool linear = run.mode == Mode::Wave && !IsBlockCoded(run.format);
    GstClockTime reached = GST_CLOCK_TIME_NONE;
    const GstSegment* segment = &sink->segment;
    if (GST_BUFFER_PTS_IS_VALID(buffer)) {
        GstClockTime end = GST_BUFFER_PTS(buffer);
        if (GST_BUFFER_DURATION_IS_VALID(buffer)) {
            end += GST_BUFFER_DURATION(buffer);
        } else if (linear && run.format.blockAlign) {
            end += gst_util_uint64_scale(map.size / run.format.blockAlign, GST_SECOND,
                                         run.format.sampleRate);
        }
        // Behind a byte segment (xingmux's) the buffers keep their stream times.
        const bool timed = segment->format == GST_FORMAT_TIME;
        const GstClockTime start =
            timed ? gst_segment_to_running_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer))
                  : GST_BUFFER_PTS(buffer);
        reached = timed ? gst_segment_to_running_time(segment, GST_FORMAT_TIME, end) : end;
        if (!GST_CLOCK_TIME_IS_VALID(run.firstStart)) run.firstStart = start;
        if (GST_CLOCK_TIME_IS_VALID(reached) && end > GST_BUFFER_PTS(buffer) &&
            (!GST_CLOCK_TIME_IS_VALID(run.lastEnd) || reached > run.lastEnd))
            run.lastEnd = reached;
    } else if (linear && run.format.blockAlign) {
        reached = gst_util_uint64_scale(run.dataBytes / run.format.blockAlign, GST_SECOND,
                                        run.format.sampleRate);
    }
    if (GST_CLOCK_TIME_IS_VALID(reached)) {
        writer::CObjectLock objectLock(self);
        self->position = MAX(self->position, reached);
    }
    return GST_FLOW_OK;
}

// The sample frames the wave data holds: counted from its size for linear formats; for block
// coded ones the stream's time (the last block is padded out), else whole blocks.
uint64_t kestrin_wav_writer_sample_frames(const WavRun& run) {
    const WavFormat& f = run.format;
    if (!IsBlockCoded(f)) return f.blockAlign ? run.dataBytes / f.blockAlign : 0;
    const uint64_t blocks = run.repackGsm ? (run.gsm.Frames() + 1) / 2
                                          : run.dataBytes / (f.blockAlign ? f.blockAlign : 1);
    const uint64_t whole = blocks * f.samplesPerBlock;
    if (!GST_CLOCK_TIME_IS_VALID(run.firstStart) || !GST_CLOCK_TIME_IS_VALID(run.lastEnd) ||
        run.lastEnd <= run.firstStart)
        return whole;
    const uint64_t timed =
        gst_util_uint64_scale_round(run.lastEnd - run.firstStart, f.sampleRate, GST_SECOND);
    return std::min(timed, whole);
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
        WavRun& run = self->run;
        if (run.repackGsm) {
            std::vector<uint8_t> last;
            run.gsm.Finish(last);
            if (!kestrin_wav_writer_write_all(self, last.data(), last.size())) return false;
            run.dataBytes += last.size();
        }
        static const uint8_t kPad = 0;
        if ((run.dataBytes & 1) && !kestrin_wav_writer_write_all(self, &kPad, 1)) return false;
        const uint64_t frames = kestrin_wav_writer_sample_frames(run);
        // MPEG frames differ in size (padding slots, or none where the rate asks for them):
        // readers that time the data by the byte rate get the one the data really has.
        if (run.format.formatTag == kWaveFormatMpeg && frames > 0)
            run.format.avgBytesPerSec = static_cast<uint32_t>(
                gst_util_uint64_scale_round(run.dataBytes, run.format.sampleRate, frames));
        GST_DEBUG_OBJECT(self, "%" G_GUINT64_FORMAT " bytes, %" G_GUINT64_FORMAT " sample frames",
                         run.dataBytes, frames);
        std::vector<uint8_t> header = BuildWavHeader(run.format, run.dataBytes, frames, run.list);
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
                std::fseek(self->run.file,
                           static_cast<long>(self->run.prefixBytes + segment->start),
                           SEEK_SET) != 0) {
                kestrin_wav_writer_post_write_error(self, errno);
                gst_event_unref(event);
                return FALSE;
            }
            break;
        }
        case GST_EVENT_TAG: {
            // Kept for the header; tags that come after it was written are not stored.
            GstTagList* tags = nullptr;
            gst_event_parse_tag(event, &tags);
            TagListPtr& kept = self->run.streamTags;
            kept.reset(kept ? gst_tag_list_merge(kept.get(), tags, GST_TAG_MERGE_REPLACE)
                            : gst_tag_list_copy(tags));
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
        "Writes PCM, float, A-law, mu-law, ADPCM, GSM and MPEG audio as RIFF WAVE, and MPEG "
        "Layer-3 audio as an MP3 file; both with the tags it is given",
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
