#include "ContentLength.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/time.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>

namespace {

constexpr std::int64_t kUnitsPerSecond = 10'000'000;
// How much of a file's end is read again when the whole file could not be read in time.
constexpr std::int64_t kTailBytes = 4 * 1024 * 1024;
// A time stamp this far from the stream's previous one is damage, unless the stream goes on
// from there (kSettlePackets packets in a row agree with it).
constexpr std::int64_t kJumpUnits = 30 * kUnitsPerSecond;
constexpr int kSettlePackets = 16;

struct Deadline {
    std::int64_t atUs = 0;
};

int PastDeadline(void* deadline) {
    return av_gettime_relative() > static_cast<Deadline*>(deadline)->atUs ? 1 : 0;
}

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;

std::string LibavText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// libav's own logger prints its remarks on a file it reads ("Estimating duration from bitrate",
// "Packet corrupt") on the terminal. What matters of them reaches the caller as a result; the
// rest says nothing about the user's conversion. gst-libav, once loaded, puts a handler of its
// own in place that sends them to the framework's debug log, which this leaves alone.
void QuietLibavLogger() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// Opens path with its stream facts read, under deadline (which the caller may move on).
InputPtr Open(const std::string& path, Deadline* deadline, std::string* reason) {
    QuietLibavLogger();
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) return {};
    raw->interrupt_callback.callback = PastDeadline;
    raw->interrupt_callback.opaque = deadline;
    // "file:" keeps a name with a colon from being taken for another protocol.
    int error = avformat_open_input(&raw, ("file:" + path).c_str(), nullptr, nullptr);
    if (error < 0) {
        if (reason)
            *reason =
                error == AVERROR_EXIT ? "it was not read within the time limit" : LibavText(error);
        return {};
    }
    InputPtr context(raw);
    error = avformat_find_stream_info(context.get(), nullptr);
    if (error < 0) {
        if (reason)
            *reason =
                error == AVERROR_EXIT ? "it was not read within the time limit" : LibavText(error);
        return {};
    }
    return context;
}

// The first stream of a medium, not counting cover pictures; -1 for none.
// With identified, a stream whose coding the demultiplexer could not name is passed over.
int FirstStream(const AVFormatContext* context, AVMediaType type, bool identified = false) {
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        if (stream->codecpar->codec_type == type &&
            !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
            !(identified && stream->codecpar->codec_id == AV_CODEC_ID_NONE))
            return int(i);
    }
    return -1;
}

// Time span of one stream's packets, in 100-ns units.
struct Span {
    int index = -1;
    AVRational timeBase{1, 1};
    std::int64_t first = std::numeric_limits<std::int64_t>::max();
    std::int64_t end = std::numeric_limits<std::int64_t>::min();
    std::int64_t packets = 0;
    std::int64_t timed = 0;
    std::int64_t frameUnits = 0;  // one frame at the stream's rate; 0 when unknown
    std::int64_t last = std::numeric_limits<std::int64_t>::min();  // the previous accepted time
    std::int64_t ptsLead = 0;  // presentation after decoding, as the last packet with both says
    std::int64_t jumpedTo = 0;
    int jumped = 0;  // packets in a row that are far from last

    void Take(const AVPacket& packet, bool countStart) {
        ++packets;
        // A packet without a presentation time is shown as long after its decoding time as the
        // packets around it (pictures held back for reordering); a program stream's last
        // pictures often carry only the decoding time.
        if (packet.pts != AV_NOPTS_VALUE && packet.dts != AV_NOPTS_VALUE)
            ptsLead = packet.pts - packet.dts;
        const std::int64_t ts = packet.pts != AV_NOPTS_VALUE   ? packet.pts
                                : packet.dts != AV_NOPTS_VALUE ? packet.dts + ptsLead
                                                               : AV_NOPTS_VALUE;
        if (ts == AV_NOPTS_VALUE) return;
        ++timed;
        const std::int64_t at = av_rescale_q(ts, timeBase, AVRational{1, int(kUnitsPerSecond)});
        std::int64_t duration =
            av_rescale_q(packet.duration, timeBase, AVRational{1, int(kUnitsPerSecond)});
        if (duration <= 0) duration = frameUnits;
        if (last != std::numeric_limits<std::int64_t>::min() && std::abs(at - last) > kJumpUnits) {
            if (jumped == 0 || std::abs(at - jumpedTo) > kJumpUnits) jumped = 0;
            jumpedTo = at;
            if (++jumped < kSettlePackets) return;
        }
        jumped = 0;
        last = at;
        if (countStart) first = std::min(first, at);
        end = std::max(end, at + duration);
    }
    // The stream's length: its time stamps, or its frame count where the stream carries almost
    // no time stamps (an elementary video stream).
    std::int64_t Length(std::int64_t start) const {
        if (packets > 0 && timed * 2 < packets && frameUnits > 0) return packets * frameUnits;
        return end > start ? end - start : 0;
    }
};

std::uint32_t LittleEndian32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// The length a WAV file's header declares: its data size in sample frames for PCM, A-law and
// µ-law, else its fact chunk's sample count; 0 when it declares neither (a data size of 0 or
// 0xFFFFFFFF is what writers that cannot go back put there, not a length). libav takes the length
// from the file's size when the data is shorter than declared.
std::int64_t WavDeclaredLength(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         std::fclose);
    if (!file) return 0;
    unsigned char head[65536];
    const std::size_t size = std::fread(head, 1, sizeof head, file.get());
    if (size < 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
        return 0;
    unsigned tag = 0, blockAlign = 0;
    std::uint32_t rate = 0, factSamples = 0;
    for (std::size_t at = 12; at + 8 <= size;) {
        const unsigned char* chunk = head + at;
        const std::uint32_t length = LittleEndian32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && length >= 16 && at + 8 + 16 <= size) {
            tag = chunk[8] | chunk[9] << 8;
            rate = LittleEndian32(chunk + 12);
            blockAlign = chunk[20] | chunk[21] << 8;
            // WAVE_FORMAT_EXTENSIBLE: the sub-format's first two bytes are the tag.
            if (tag == 0xFFFE && length >= 40 && at + 8 + 26 <= size)
                tag = chunk[32] | chunk[33] << 8;
        } else if (std::memcmp(chunk, "fact", 4) == 0 && length >= 4 && at + 12 <= size) {
            factSamples = LittleEndian32(chunk + 8);
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (rate == 0 || length == 0 || length == 0xFFFFFFFFu) return 0;
            const bool pcm = tag == 1 || tag == 3 || tag == 6 || tag == 7;
            const std::int64_t samples = pcm && blockAlign > 0 ? std::int64_t(length / blockAlign)
                                                               : std::int64_t(factSamples);
            return av_rescale(samples, kUnitsPerSecond, rate);
        }
        at += 8 + std::size_t(length) + (length & 1);
    }
    return 0;
}

// What the header of an opened file declares outright (see ContentFacts::declared).
std::int64_t DeclaredLength(const AVFormatContext* context, int videoIndex,
                            const std::string& path) {
    std::int64_t declared = 0;
    // A duration the demultiplexer read from the file (a container's field, an MP3 header
    // frame's count), not one it estimated from the bit rate or the time stamps.
    if (context->duration_estimation_method == AVFMT_DURATION_FROM_STREAM &&
        context->duration != AV_NOPTS_VALUE && context->duration > 0)
        declared = av_rescale(context->duration, kUnitsPerSecond, AV_TIME_BASE);
    if (videoIndex >= 0) {
        const AVStream* video = context->streams[videoIndex];
        const AVRational rate = video->avg_frame_rate;
        if (video->nb_frames > 0 && rate.num > 0 && rate.den > 0)
            declared = std::max(declared,
                                av_rescale(video->nb_frames * kUnitsPerSecond, rate.den, rate.num));
    }
    if (std::strcmp(context->iformat->name, "wav") == 0)
        declared = std::max(declared, WavDeclaredLength(path));
    return declared;
}

// The facts of whole files read, for as long as the file stays the same (device, inode, size,
// modification time): a clip is read when it is added and again when its conversion places it.
class CScannedFiles {
public:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        std::int64_t modifiedNs = 0;
        bool operator==(const Identity&) const = default;
    };

    static std::optional<Identity> Of(const std::string& path) {
        struct stat facts;
        if (::stat(path.c_str(), &facts) != 0 || !S_ISREG(facts.st_mode)) return std::nullopt;
        return Identity{facts.st_dev, facts.st_ino, facts.st_size,
                        std::int64_t(facts.st_mtim.tv_sec) * 1'000'000'000 + facts.st_mtim.tv_nsec};
    }

    std::optional<ContentFacts> Find(const std::string& path, const Identity& identity) {
        std::lock_guard<std::mutex> hold(m_lock);
        auto it = m_files.find(path);
        if (it == m_files.end() || !(it->second.first == identity)) return std::nullopt;
        return it->second.second;
    }

    void Keep(const std::string& path, const Identity& identity, const ContentFacts& facts) {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_files.size() >= kKept) m_files.clear();
        m_files[path] = {identity, facts};
    }

private:
    static constexpr std::size_t kKept = 4096;  // a large batch's clips; each entry is small
    std::mutex m_lock;
    std::map<std::string, std::pair<Identity, ContentFacts>> m_files;
};

CScannedFiles& ScannedFiles() {
    static CScannedFiles files;
    return files;
}

std::optional<ContentFacts> ScanFile(const std::string& path, int limitMs, std::string* reason);

}  // namespace

std::optional<ContentFacts> ScanContent(const std::string& path, int limitMs, std::string* reason) {
    const std::optional<CScannedFiles::Identity> identity = CScannedFiles::Of(path);
    if (identity) {
        if (std::optional<ContentFacts> known = ScannedFiles().Find(path, *identity)) return known;
    }
    std::optional<ContentFacts> facts = ScanFile(path, limitMs, reason);
    // Only a whole reading is kept: one cut short by its time limit may go further next time.
    if (facts && facts->complete && identity && CScannedFiles::Of(path) == identity)
        ScannedFiles().Keep(path, *identity, *facts);
    return facts;
}

namespace {

std::optional<ContentFacts> ScanFile(const std::string& path, int limitMs, std::string* reason) {
    Deadline deadline{av_gettime_relative() + std::int64_t(limitMs) * 1000};
    InputPtr context = Open(path, &deadline, reason);
    if (!context) return std::nullopt;
    Span spans[2];
    spans[0].index = FirstStream(context.get(), AVMEDIA_TYPE_VIDEO);
    spans[1].index = FirstStream(context.get(), AVMEDIA_TYPE_AUDIO);
    if (spans[0].index < 0 && spans[1].index < 0) {
        if (reason) *reason = "it holds neither video nor audio";
        return std::nullopt;
    }
    for (Span& span : spans) {
        if (span.index < 0) continue;
        const AVStream* stream = context->streams[span.index];
        span.timeBase = stream->time_base;
        AVRational rate =
            stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && rate.num > 0 && rate.den > 0)
            span.frameUnits = av_rescale(kUnitsPerSecond, rate.den, rate.num);
    }
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const int index = int(i);
        if (index != spans[0].index && index != spans[1].index)
            context->streams[i]->discard = AVDISCARD_ALL;
    }

    ContentFacts facts;
    facts.hasVideo = spans[0].index >= 0;
    facts.hasAudio = spans[1].index >= 0;
    if (context->duration != AV_NOPTS_VALUE && context->duration > 0)
        facts.stated = av_rescale(context->duration, kUnitsPerSecond, AV_TIME_BASE);
    facts.declared = DeclaredLength(context.get(), spans[0].index, path);

    std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(),
                                                          [](AVPacket* p) { av_packet_free(&p); });
    if (!packet) return std::nullopt;
    bool tail = false;
    for (;;) {
        const int error = av_read_frame(context.get(), packet.get());
        if (error == AVERROR_EOF) {
            facts.complete = true;
            break;
        }
        if (error == AVERROR_EXIT && !tail) {
            // Out of time before the end (a long file): read its last megabytes for the end. The
            // frame count of a stream without time stamps is then unknown.
            tail = true;
            deadline.atUs = av_gettime_relative() + 2'000'000;
            const std::int64_t size = avio_size(context->pb);
            if (size <= 0 ||
                av_seek_frame(context.get(), -1, std::max<std::int64_t>(0, size - kTailBytes),
                              AVSEEK_FLAG_BYTE | AVSEEK_FLAG_ANY) < 0)
                break;
            for (Span& span : spans) span.packets = span.timed = 0;
            continue;
        }
        if (error < 0) {
            // A read error ends the data that can be read; damaged files end here.
            facts.complete = !tail && error != AVERROR_EXIT && avio_feof(context->pb);
            break;
        }
        for (Span& span : spans)
            if (packet->stream_index == span.index) span.Take(*packet, !tail);
        av_packet_unref(packet.get());
    }
    if (tail && facts.complete == false) {
        // Reached the end through the tail: the end is known, a count is not.
        facts.complete = spans[0].timed > 0 || spans[1].timed > 0;
    }

    std::int64_t start = std::numeric_limits<std::int64_t>::max();
    for (const Span& span : spans)
        if (span.index >= 0 && span.first != std::numeric_limits<std::int64_t>::max())
            start = std::min(start, span.first);
    if (start == std::numeric_limits<std::int64_t>::max()) start = 0;
    facts.videoLength = spans[0].index >= 0 ? spans[0].Length(start) : 0;
    facts.audioLength = spans[1].index >= 0 ? spans[1].Length(start) : 0;
    facts.length = std::max(facts.videoLength, facts.audioLength);
    return facts;
}

}  // namespace

bool StreamsDecode(const std::string& path, int limitMs, std::string* reason) {
    Deadline deadline{av_gettime_relative() + std::int64_t(limitMs) * 1000};
    std::string why;
    InputPtr context = Open(path, &deadline, &why);
    if (!context) {
        *reason = why;
        return false;
    }
    struct Decoder {
        int index = -1;
        AVCodecContext* codec = nullptr;
        bool decoded = false;
        const char* medium = "";
    } decoders[2];
    // The program-stream prober can take start-code-like bytes inside an audio payload for a
    // stream of its own; such a stream has no coding, and no file written here holds one.
    decoders[0].index = FirstStream(context.get(), AVMEDIA_TYPE_VIDEO, true);
    decoders[0].medium = "video";
    decoders[1].index = FirstStream(context.get(), AVMEDIA_TYPE_AUDIO, true);
    decoders[1].medium = "audio";
    auto release = [&] {
        for (Decoder& d : decoders) avcodec_free_context(&d.codec);
    };
    int pending = 0;
    for (Decoder& d : decoders) {
        if (d.index < 0) continue;
        const AVCodecParameters* parameters = context->streams[d.index]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
        d.codec = codec ? avcodec_alloc_context3(codec) : nullptr;
        if (!d.codec || avcodec_parameters_to_context(d.codec, parameters) < 0 ||
            avcodec_open2(d.codec, codec, nullptr) < 0) {
            *reason = std::string("its ") + d.medium + " stream cannot be decoded";
            release();
            return false;
        }
        ++pending;
    }
    if (pending == 0) {
        *reason = "it holds neither video nor audio";
        release();
        return false;
    }
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(),
                                                          [](AVPacket* p) { av_packet_free(&p); });
    std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(),
                                                       [](AVFrame* f) { av_frame_free(&f); });
    while (pending > 0 && packet && frame) {
        const int error = av_read_frame(context.get(), packet.get());
        if (error < 0) {
            if (error == AVERROR_EXIT) why = "it was not read within the time limit";
            // The decoders give up what they still hold.
            for (Decoder& d : decoders)
                if (d.codec && !d.decoded && avcodec_send_packet(d.codec, nullptr) >= 0 &&
                    avcodec_receive_frame(d.codec, frame.get()) >= 0) {
                    d.decoded = true;
                    --pending;
                }
            break;
        }
        for (Decoder& d : decoders) {
            if (packet->stream_index != d.index || d.decoded) continue;
            if (avcodec_send_packet(d.codec, packet.get()) >= 0 &&
                avcodec_receive_frame(d.codec, frame.get()) >= 0) {
                d.decoded = true;
                --pending;
            }
        }
        av_packet_unref(packet.get());
    }
    for (const Decoder& d : decoders)
        if (d.codec && !d.decoded) {
            *reason = std::string("its ") + d.medium + " stream cannot be decoded" +
                      (why.empty() ? "" : ": " + why);
            release();
            return false;
        }
    release();
    return true;
}
