#pragma once

// libavcodec/libavformat side of the MPEG writer: the preset table, one encoder per stream and
// the program-stream multiplexer. Nothing here knows GStreamer; times crossing this interface are
// running times in nanoseconds unless a name says otherwise.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The writer's preset codes, as the settings dialog sends them.
enum MpegPresetCode {
    kPresetMpeg1 = 0,
    kPresetVcdPal = 1,
    kPresetMpeg2 = 2,
    kPresetSvcdPal = 3,
    kPresetDvdPal = 4,
    kPresetVcdNtsc = 5,
    kPresetSvcdNtsc = 6,
    kPresetDvdNtsc = 7,
};

// What one preset writes. Disc targets fix frame size and rate; the generic MPEG-1/MPEG-2
// presets (width 0) take the incoming frame size and the legal MPEG rate nearest the incoming one.
struct MpegPreset {
    int code;
    const char* muxer;  // libavformat muxer name
    AVCodecID videoCodec;
    AVCodecID audioCodec;
    int width, height;         // 0: from the input
    AVRational frameRate;      // {0, 1}: from the input
    int gop;                   // 0: 15 at PAL-like rates, 18 at NTSC-like rates
    int64_t videoBitRate;      // bits/s; 0: derived from the picture rate
    int64_t maxRate, minRate;  // bits/s; 0: unconstrained
    int vbvBufferBits;         // 0: encoder default
    int audioRate;             // Hz; 0: the input rate when the codec takes it, else 48000
    int64_t audioBitRate;      // bits/s
    int packetSize;            // bytes; 0: muxer default
    int muxRate;               // bits/s; 0: computed by the muxer
    int preloadUs;             // initial demux-decode delay; -1: muxer default
    bool scanOffset;           // reserve SVCD scan-offset user data
    bool discTarget;           // fixed frame, display aspect snapped to 4:3 or 16:9
};

// The preset for a code; codes outside 0..7 give the generic MPEG-2 preset.
const MpegPreset& PresetForCode(int code);

struct AVPacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using AVPacketPtr = std::unique_ptr<AVPacket, AVPacketFree>;
using PacketList = std::vector<AVPacketPtr>;

// av_strerror's text for a libav error code.
std::string AvErrorText(int code);

// Video encoder with frame-rate adaptation: every input frame is repeated or dropped so that the
// output has exactly one frame per slot of the output rate, keeping the stream in step with
// audio whatever the input rate. Used by one streaming thread at a time.
class CVideoEncoder {
public:
    ~CVideoEncoder();
    // Opens the encoder for yuv420p frames of width x height; inputRate may be {0,1} (unknown).
    // par is the input's pixel aspect ratio.
    bool Open(const MpegPreset& preset, int width, int height, AVRational inputRate, AVRational par,
              std::string* error);
    bool IsOpen() const { return m_ctx != nullptr; }
    AVCodecContext* Context() const { return m_ctx; }
    AVRational FrameRate() const { return m_rate; }

    // Encodes frame (yuv420p, caller keeps ownership) for the running time [startNs, endNs);
    // endNs < 0 means one output frame long. Packets are appended to out, in the encoder's
    // time base.
    bool Encode(AVFrame* frame, int64_t startNs, int64_t endNs, PacketList& out,
                std::string* error);
    bool Flush(PacketList& out, std::string* error);
    void Close();
    // Running time (ns) up to which frames have been encoded; -1 before the first frame.
    int64_t PositionNs() const;

private:
    int64_t Slot(int64_t ns) const;
    bool Send(AVFrame* frame, PacketList& out, std::string* error);

    AVCodecContext* m_ctx = nullptr;
    AVRational m_rate{25, 1};
    int64_t m_next = -1;  // next output frame number
};

// Audio encoder behind a resampler and a frame FIFO: takes interleaved S16 PCM at any rate and
// channel count, feeds the codec whole frames at the preset's rate, fills gaps in the input
// timestamps with silence and drops overlapping input. Used by one streaming thread at a time.
class CAudioEncoder {
public:
    ~CAudioEncoder();
    bool Open(const MpegPreset& preset, int inRate, int inChannels, std::string* error);
    bool IsOpen() const { return m_ctx != nullptr; }
    AVCodecContext* Context() const { return m_ctx; }

    // samples: frames x channels interleaved S16, starting at running time startNs
    // (< 0: continuing the previous buffer).
    bool Encode(const int16_t* samples, int frames, int64_t startNs, PacketList& out,
                std::string* error);
    bool Flush(PacketList& out, std::string* error);
    void Close();
    // Running time (ns) up to which input has been taken; -1 before the first buffer.
    int64_t PositionNs() const;

private:
    bool Convert(const int16_t* samples, int frames, std::string* error);
    bool Drain(bool final, PacketList& out, std::string* error);
    bool Send(AVFrame* frame, PacketList& out, std::string* error);

    AVCodecContext* m_ctx = nullptr;
    SwrContext* m_swr = nullptr;
    AVAudioFifo* m_fifo = nullptr;
    AVFrame* m_frame = nullptr;
    int m_inRate = 0, m_inChannels = 0;
    int64_t m_inSamples = 0;     // input frames accepted since the first buffer
    int64_t m_firstNs = -1;      // running time of the first input sample
    int64_t m_nextPts = -1;      // next output sample number (encoder time base)
    uint8_t** m_conv = nullptr;  // resampler output planes, m_convCapacity frames each
    int m_convCapacity = 0;
};

// The program-stream multiplexer writing one file. Streams are added before WriteHeader; Write
// and Finish are serialised by the caller (the element lock).
class CMpegMux {
public:
    ~CMpegMux();
    bool Open(const MpegPreset& preset, const std::string& path, std::string* error);
    // Adds a stream for an opened encoder; returns its index, or -1 with error.
    int AddStream(AVCodecContext* encoder, std::string* error);
    bool WriteHeader(std::string* error);
    // Writes packets from the encoder of stream index (timestamps in encTimeBase).
    bool Write(PacketList& packets, int index, AVRational encTimeBase, std::string* error);
    // Writes the trailer and closes the file.
    bool Finish(std::string* error);
    // Closes the file without a trailer (the caller discards it).
    void Abort();

private:
    const MpegPreset* m_preset = nullptr;
    // Flushes and frees the output's I/O context and closes its file; 0 or a libav error code.
    int CloseOutput();

    AVFormatContext* m_fmt = nullptr;
    int m_fd = -1;  // the output file, written through m_fmt's own I/O context
    bool m_headerWritten = false;
};
