#include "MpegEncoding.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "TempOutput.h"

namespace {

constexpr int64_t kNsPerSecond = 1000000000;

// VBV buffers of the disc targets: 40 KiB for VCD, 224 KiB for SVCD and DVD (in bits).
constexpr int kVcdVbvBits = 40 * 1024 * 8;
constexpr int kDvdVbvBits = 224 * 1024 * 8;
// A VCD sector carries 2324 bytes of payload at 75 sectors/s of 2352 bytes.
constexpr int kVcdMuxRate = 2352 * 75 * 8;
constexpr int kDvdMuxRate = 10080000;

constexpr AVRational kPal{25, 1};
constexpr AVRational kNtsc{30000, 1001};

// clang-format off
const MpegPreset kPresets[8] = {
    // code            muxer   video                    audio                  w    h    rate     gop  bitrate   max       min       vbv          arate  abitrate pkt   muxrate      preload scan   disc
    {kPresetMpeg1,    "mpeg", AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MP2,        0,   0,   {0, 1},  0,   0,        0,        0,        kDvdVbvBits, 0,     224000,  0,    0,           -1,     false, false},
    {kPresetVcdPal,   "vcd",  AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MP2,        352, 288, kPal,    15,  1150000,  1150000,  1150000,  kVcdVbvBits, 44100, 224000,  2324, kVcdMuxRate, 440000, false, true},
    {kPresetMpeg2,    "vob",  AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MP2,        0,   0,   {0, 1},  0,   0,        0,        0,        kDvdVbvBits, 0,     224000,  0,    0,           -1,     false, false},
    {kPresetSvcdPal,  "svcd", AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MP2,        480, 576, kPal,    15,  2040000,  2516000,  0,        kDvdVbvBits, 44100, 224000,  2324, 0,           -1,     true,  true},
    {kPresetDvdPal,   "dvd",  AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_AC3,        720, 576, kPal,    15,  6000000,  9000000,  0,        kDvdVbvBits, 48000, 448000,  2048, kDvdMuxRate, -1,     false, true},
    {kPresetVcdNtsc,  "vcd",  AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MP2,        352, 240, kNtsc,   18,  1150000,  1150000,  1150000,  kVcdVbvBits, 44100, 224000,  2324, kVcdMuxRate, 440000, false, true},
    {kPresetSvcdNtsc, "svcd", AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MP2,        480, 480, kNtsc,   18,  2040000,  2516000,  0,        kDvdVbvBits, 44100, 224000,  2324, 0,           -1,     true,  true},
    {kPresetDvdNtsc,  "dvd",  AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_AC3,        720, 480, kNtsc,   18,  6000000,  9000000,  0,        kDvdVbvBits, 48000, 448000,  2048, kDvdMuxRate, -1,     false, true},
};
// clang-format on

// Frame rates an MPEG-1/MPEG-2 sequence header can carry.
constexpr AVRational kLegalRates[] = {{24000, 1001}, {24, 1}, {25, 1},       {30000, 1001},
                                      {30, 1},       {50, 1}, {60000, 1001}, {60, 1}};

AVRational NearestLegalRate(AVRational rate) {
    if (rate.num <= 0 || rate.den <= 0) return kPal;
    double wanted = av_q2d(rate);
    AVRational best = kLegalRates[0];
    for (AVRational r : kLegalRates) {
        if (std::fabs(av_q2d(r) - wanted) < std::fabs(av_q2d(best) - wanted)) best = r;
    }
    return best;
}

bool Fail(std::string* error, const std::string& what, int code) {
    *error = what + ": " + AvErrorText(code);
    return false;
}

}  // namespace

const MpegPreset& PresetForCode(int code) {
    if (code < 0 || code > 7) code = kPresetMpeg2;
    return kPresets[code];
}

std::string AvErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// ---- video ----

CVideoEncoder::~CVideoEncoder() {
    Close();
}

void CVideoEncoder::Close() {
    avcodec_free_context(&m_ctx);
    m_next = -1;
}

bool CVideoEncoder::Open(const MpegPreset& preset, int width, int height, AVRational inputRate,
                         AVRational par, std::string* error) {
    Close();
    const AVCodec* codec = avcodec_find_encoder(preset.videoCodec);
    if (!codec) {
        *error =
            std::string("the ") + avcodec_get_name(preset.videoCodec) + " encoder is not available";
        return false;
    }
    m_ctx = avcodec_alloc_context3(codec);
    if (!m_ctx) return Fail(error, "cannot allocate the video encoder", AVERROR(ENOMEM));

    m_rate = preset.frameRate.num ? preset.frameRate : NearestLegalRate(inputRate);
    double fps = av_q2d(m_rate);
    m_ctx->width = width;
    m_ctx->height = height;
    m_ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    m_ctx->time_base = av_inv_q(m_rate);
    m_ctx->framerate = m_rate;
    m_ctx->gop_size = preset.gop ? preset.gop : fps <= 25.5 ? 15 : fps <= 30.5 ? 18 : 30;
    m_ctx->max_b_frames = 0;

    if (par.num <= 0 || par.den <= 0) par = {1, 1};
    if (preset.discTarget) {
        // Disc players know only 4:3 and 16:9 pictures: take the nearer one.
        AVRational dar = av_mul_q(AVRational{width, height}, par);
        AVRational target =
            av_q2d(dar) > (4.0 / 3.0 + 16.0 / 9.0) / 2 ? AVRational{16, 9} : AVRational{4, 3};
        par = av_mul_q(target, AVRational{height, width});
    }
    av_reduce(&m_ctx->sample_aspect_ratio.num, &m_ctx->sample_aspect_ratio.den, par.num, par.den,
              255);

    if (preset.videoBitRate) {
        m_ctx->bit_rate = preset.videoBitRate;
    } else {
        // About half a bit per pixel: transparent for MPEG-1/2 at standard resolutions.
        double bitsPerPixel = preset.videoCodec == AV_CODEC_ID_MPEG1VIDEO ? 0.45 : 0.6;
        int64_t rate =
            static_cast<int64_t>(width * static_cast<double>(height) * fps * bitsPerPixel);
        m_ctx->bit_rate = std::clamp<int64_t>(rate, 500000, 15000000);
    }
    // A VBV buffer needs a peak rate; without the target's, allow peaks of 1.5x the average.
    m_ctx->rc_max_rate = preset.maxRate ? preset.maxRate : m_ctx->bit_rate * 3 / 2;
    m_ctx->rc_min_rate = preset.minRate;
    m_ctx->rc_buffer_size = preset.vbvBufferBits;
    // Slice threads: the frames stay bit-identical in structure for any thread count.
    m_ctx->thread_count = 0;
    m_ctx->thread_type = FF_THREAD_SLICE;

    if (preset.scanOffset) av_opt_set_int(m_ctx->priv_data, "scan_offset", 1, 0);

    int rc = avcodec_open2(m_ctx, codec, nullptr);
    if (rc < 0) {
        Close();
        return Fail(error, "cannot open the video encoder", rc);
    }
    m_next = -1;
    return true;
}

int64_t CVideoEncoder::Slot(int64_t ns) const {
    return av_rescale_rnd(ns, m_rate.num, static_cast<int64_t>(m_rate.den) * kNsPerSecond,
                          AV_ROUND_NEAR_INF);
}

int64_t CVideoEncoder::PositionNs() const {
    if (m_next < 0) return -1;
    return av_rescale(m_next, static_cast<int64_t>(m_rate.den) * kNsPerSecond, m_rate.num);
}

bool CVideoEncoder::Encode(AVFrame* frame, int64_t startNs, int64_t endNs, PacketList& out,
                           std::string* error) {
    bool first = m_next < 0;
    if (first) m_next = startNs >= 0 ? std::max<int64_t>(0, Slot(startNs)) : 0;
    int64_t target = endNs >= 0 ? Slot(endNs) : m_next + 1;
    if (first && target <= m_next) target = m_next + 1;
    while (m_next < target) {
        frame->pts = m_next++;
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        if (!Send(frame, out, error)) return false;
    }
    return true;
}

bool CVideoEncoder::Flush(PacketList& out, std::string* error) {
    if (!m_ctx) return true;
    return Send(nullptr, out, error);
}

bool CVideoEncoder::Send(AVFrame* frame, PacketList& out, std::string* error) {
    int rc = avcodec_send_frame(m_ctx, frame);
    if (rc < 0) return Fail(error, "video encoding failed", rc);
    for (;;) {
        AVPacketPtr pkt(av_packet_alloc());
        if (!pkt) return Fail(error, "video encoding failed", AVERROR(ENOMEM));
        rc = avcodec_receive_packet(m_ctx, pkt.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0) return Fail(error, "video encoding failed", rc);
        out.push_back(std::move(pkt));
    }
}

// ---- audio ----

CAudioEncoder::~CAudioEncoder() {
    Close();
}

void CAudioEncoder::Close() {
    avcodec_free_context(&m_ctx);
    swr_free(&m_swr);
    if (m_fifo) av_audio_fifo_free(m_fifo);
    m_fifo = nullptr;
    av_frame_free(&m_frame);
    if (m_conv) av_freep(&m_conv[0]);
    av_freep(&m_conv);
    m_convCapacity = 0;
    m_inSamples = 0;
    m_firstNs = -1;
    m_nextPts = -1;
}

bool CAudioEncoder::Open(const MpegPreset& preset, int inRate, int inChannels, std::string* error) {
    Close();
    const AVCodec* codec = avcodec_find_encoder(preset.audioCodec);
    if (!codec) {
        *error =
            std::string("the ") + avcodec_get_name(preset.audioCodec) + " encoder is not available";
        return false;
    }
    int outRate = preset.audioRate;
    if (!outRate) {
        outRate = 48000;
        for (const int* r = codec->supported_samplerates; r && *r; ++r) {
            if (*r == inRate && inRate >= 32000) outRate = inRate;
        }
    }
    int outChannels = preset.discTarget ? 2 : std::clamp(inChannels, 1, 2);

    m_ctx = avcodec_alloc_context3(codec);
    if (!m_ctx) return Fail(error, "cannot allocate the audio encoder", AVERROR(ENOMEM));
    m_ctx->sample_rate = outRate;
    m_ctx->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&m_ctx->ch_layout, outChannels);
    // An MPEG-1 layer II mono stream cannot exceed 192 kb/s.
    m_ctx->bit_rate =
        outChannels == 1 ? std::min<int64_t>(preset.audioBitRate, 128000) : preset.audioBitRate;
    m_ctx->time_base = {1, outRate};
    int rc = avcodec_open2(m_ctx, codec, nullptr);
    if (rc < 0) {
        Close();
        return Fail(error, "cannot open the audio encoder", rc);
    }

    AVChannelLayout inLayout;
    av_channel_layout_default(&inLayout, inChannels);
    rc = swr_alloc_set_opts2(&m_swr, &m_ctx->ch_layout, m_ctx->sample_fmt, outRate, &inLayout,
                             AV_SAMPLE_FMT_S16, inRate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    if (rc >= 0) rc = swr_init(m_swr);
    if (rc < 0) {
        Close();
        return Fail(error, "cannot set up audio resampling", rc);
    }
    m_fifo = av_audio_fifo_alloc(m_ctx->sample_fmt, outChannels, m_ctx->frame_size * 4);
    m_frame = av_frame_alloc();
    if (!m_fifo || !m_frame) {
        Close();
        return Fail(error, "cannot set up audio encoding", AVERROR(ENOMEM));
    }
    m_frame->nb_samples = m_ctx->frame_size;
    m_frame->format = m_ctx->sample_fmt;
    av_channel_layout_copy(&m_frame->ch_layout, &m_ctx->ch_layout);
    m_frame->sample_rate = outRate;
    rc = av_frame_get_buffer(m_frame, 0);
    if (rc < 0) {
        Close();
        return Fail(error, "cannot set up audio encoding", rc);
    }
    m_inRate = inRate;
    m_inChannels = inChannels;
    return true;
}

bool CAudioEncoder::Convert(const int16_t* samples, int frames, std::string* error) {
    int needed = swr_get_out_samples(m_swr, frames);
    if (needed < 0) return Fail(error, "audio resampling failed", needed);
    if (needed > m_convCapacity) {
        if (m_conv) av_freep(&m_conv[0]);
        av_freep(&m_conv);
        m_convCapacity = 0;
        int rc = av_samples_alloc_array_and_samples(&m_conv, nullptr, m_ctx->ch_layout.nb_channels,
                                                    needed, m_ctx->sample_fmt, 0);
        if (rc < 0) return Fail(error, "audio resampling failed", rc);
        m_convCapacity = needed;
    }
    const uint8_t* in = reinterpret_cast<const uint8_t*>(samples);
    int got = swr_convert(m_swr, m_conv, m_convCapacity, samples ? &in : nullptr, frames);
    if (got < 0) return Fail(error, "audio resampling failed", got);
    if (got > 0 && av_audio_fifo_write(m_fifo, reinterpret_cast<void**>(m_conv), got) < got)
        return Fail(error, "audio buffering failed", AVERROR(ENOMEM));
    return true;
}

int64_t CAudioEncoder::PositionNs() const {
    if (m_firstNs < 0) return -1;
    return m_firstNs + av_rescale(m_inSamples, kNsPerSecond, m_inRate);
}

bool CAudioEncoder::Encode(const int16_t* samples, int frames, int64_t startNs, PacketList& out,
                           std::string* error) {
    if (m_firstNs < 0) {
        m_firstNs = std::max<int64_t>(startNs, 0);
        m_nextPts = av_rescale(m_firstNs, m_ctx->sample_rate, kNsPerSecond);
    } else if (startNs >= 0) {
        // Keep the output in step with the timestamps: a gap of more than 40 ms becomes silence,
        // an overlap of more than 40 ms is cut from the start of the buffer.
        int64_t expectedNs = m_firstNs + av_rescale(m_inSamples, kNsPerSecond, m_inRate);
        int64_t drift = av_rescale(startNs - expectedNs, m_inRate, kNsPerSecond);
        int64_t tolerance = m_inRate / 25;
        if (drift > tolerance) {
            std::vector<int16_t> silence(static_cast<size_t>(std::min<int64_t>(drift, m_inRate)) *
                                         m_inChannels);
            while (drift > 0) {
                int n = static_cast<int>(std::min<int64_t>(drift, m_inRate));
                if (!Convert(silence.data(), n, error)) return false;
                m_inSamples += n;
                drift -= n;
                if (!Drain(false, out, error)) return false;
            }
        } else if (drift < -tolerance) {
            int cut = static_cast<int>(std::min<int64_t>(-drift, frames));
            samples += static_cast<ptrdiff_t>(cut) * m_inChannels;
            frames -= cut;
        }
    }
    if (frames <= 0) return true;
    if (!Convert(samples, frames, error)) return false;
    m_inSamples += frames;
    return Drain(false, out, error);
}

bool CAudioEncoder::Drain(bool final, PacketList& out, std::string* error) {
    const int frameSize = m_ctx->frame_size;
    while (av_audio_fifo_size(m_fifo) >= frameSize || (final && av_audio_fifo_size(m_fifo) > 0)) {
        int rc = av_frame_make_writable(m_frame);
        if (rc < 0) return Fail(error, "audio encoding failed", rc);
        int n = av_audio_fifo_read(m_fifo, reinterpret_cast<void**>(m_frame->data), frameSize);
        if (n < 0) return Fail(error, "audio encoding failed", n);
        // The codecs take whole frames only: the last one is completed with silence.
        if (n < frameSize)
            av_samples_set_silence(m_frame->data, n, frameSize - n, m_ctx->ch_layout.nb_channels,
                                   m_ctx->sample_fmt);
        m_frame->nb_samples = frameSize;
        m_frame->pts = m_nextPts;
        m_nextPts += frameSize;
        if (!Send(m_frame, out, error)) return false;
    }
    return true;
}

bool CAudioEncoder::Flush(PacketList& out, std::string* error) {
    if (!m_ctx) return true;
    if (m_firstNs >= 0) {
        if (!Convert(nullptr, 0, error)) return false;
        if (!Drain(true, out, error)) return false;
    }
    return Send(nullptr, out, error);
}

bool CAudioEncoder::Send(AVFrame* frame, PacketList& out, std::string* error) {
    int rc = avcodec_send_frame(m_ctx, frame);
    if (rc < 0) return Fail(error, "audio encoding failed", rc);
    for (;;) {
        AVPacketPtr pkt(av_packet_alloc());
        if (!pkt) return Fail(error, "audio encoding failed", AVERROR(ENOMEM));
        rc = avcodec_receive_packet(m_ctx, pkt.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0) return Fail(error, "audio encoding failed", rc);
        out.push_back(std::move(pkt));
    }
}

// ---- multiplexer ----

namespace {

constexpr int kOutputBufferBytes = 64 * 1024;

// The output's I/O callbacks over a file descriptor (opaque points at it): the file is opened by
// the writer itself, without following links, rather than by libav's file protocol.
int WriteOutput(void* opaque, uint8_t* data, int size) {
    const int fd = *static_cast<int*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return AVERROR(n < 0 ? errno : EIO);
        done += static_cast<int>(n);
    }
    return done;
}

int64_t SeekOutput(void* opaque, int64_t offset, int whence) {
    const int fd = *static_cast<int*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st = {};
        return fstat(fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
    }
    const off_t at = lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : int64_t(at);
}

}  // namespace

CMpegMux::~CMpegMux() {
    Abort();
}

bool CMpegMux::Open(const MpegPreset& preset, const std::string& path, std::string* error) {
    Abort();
    m_preset = &preset;
    int rc = avformat_alloc_output_context2(&m_fmt, nullptr, preset.muxer, nullptr);
    if (rc < 0 || !m_fmt) return Fail(error, "cannot create the MPEG multiplexer", rc);
    m_fd = CTempOutput::OpenOwnFile(path, O_WRONLY | O_TRUNC);
    if (m_fd < 0) {
        rc = AVERROR(errno);
        Abort();
        return Fail(error, "cannot open the output file", rc);
    }
    auto* buffer = static_cast<unsigned char*>(av_malloc(kOutputBufferBytes));
    m_fmt->pb = buffer ? avio_alloc_context(buffer, kOutputBufferBytes, 1, &m_fd, nullptr,
                                            WriteOutput, SeekOutput)
                       : nullptr;
    if (!m_fmt->pb) {
        av_free(buffer);
        Abort();
        return Fail(error, "cannot open the output file", AVERROR(ENOMEM));
    }
    return true;
}

int CMpegMux::AddStream(AVCodecContext* encoder, std::string* error) {
    AVStream* st = avformat_new_stream(m_fmt, nullptr);
    if (!st) {
        Fail(error, "cannot add a stream", AVERROR(ENOMEM));
        return -1;
    }
    int rc = avcodec_parameters_from_context(st->codecpar, encoder);
    if (rc < 0) {
        Fail(error, "cannot add a stream", rc);
        return -1;
    }
    st->time_base = encoder->time_base;
    st->avg_frame_rate = encoder->framerate;
    // The encoder publishes its VBV buffer (CPB properties); the multiplexer sizes its
    // buffer model from the stream's copy.
    for (int i = 0; i < encoder->nb_coded_side_data; ++i) {
        const AVPacketSideData& sd = encoder->coded_side_data[i];
        uint8_t* dst = av_stream_new_side_data(st, sd.type, sd.size);
        if (!dst) {
            Fail(error, "cannot add a stream", AVERROR(ENOMEM));
            return -1;
        }
        std::memcpy(dst, sd.data, sd.size);
    }
    return st->index;
}

bool CMpegMux::WriteHeader(std::string* error) {
    AVDictionary* options = nullptr;
    if (m_preset->packetSize) av_dict_set_int(&options, "packetsize", m_preset->packetSize, 0);
    if (m_preset->muxRate) av_dict_set_int(&options, "muxrate", m_preset->muxRate, 0);
    if (m_preset->preloadUs >= 0) av_dict_set_int(&options, "preload", m_preset->preloadUs, 0);
    int rc = avformat_write_header(m_fmt, &options);
    av_dict_free(&options);
    if (rc < 0) return Fail(error, "cannot write the MPEG header", rc);
    m_headerWritten = true;
    return true;
}

bool CMpegMux::Write(PacketList& packets, int index, AVRational encTimeBase, std::string* error) {
    AVStream* st = m_fmt->streams[index];
    for (AVPacketPtr& pkt : packets) {
        av_packet_rescale_ts(pkt.get(), encTimeBase, st->time_base);
        pkt->stream_index = index;
        int rc = av_interleaved_write_frame(m_fmt, pkt.get());
        if (rc < 0) return Fail(error, "cannot write to the output file", rc);
    }
    packets.clear();
    if (m_fmt->pb->error < 0)
        return Fail(error, "cannot write to the output file", m_fmt->pb->error);
    return true;
}

bool CMpegMux::Finish(std::string* error) {
    int rc = av_write_trailer(m_fmt);
    m_headerWritten = false;
    int closed = CloseOutput();
    avformat_free_context(m_fmt);
    m_fmt = nullptr;
    if (rc < 0) return Fail(error, "cannot finish the output file", rc);
    if (closed < 0) return Fail(error, "cannot finish the output file", closed);
    return true;
}

int CMpegMux::CloseOutput() {
    int rc = 0;
    if (m_fmt && m_fmt->pb) {
        avio_flush(m_fmt->pb);
        rc = m_fmt->pb->error;
        av_freep(&m_fmt->pb->buffer);
        avio_context_free(&m_fmt->pb);
    }
    if (m_fd >= 0) {
        if (close(m_fd) != 0 && rc == 0) rc = AVERROR(errno);
        m_fd = -1;
    }
    return rc;
}

void CMpegMux::Abort() {
    if (!m_fmt) return;
    CloseOutput();
    avformat_free_context(m_fmt);
    m_fmt = nullptr;
    m_headerWritten = false;
}
