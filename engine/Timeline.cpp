#include "Timeline.h"

#include <cmath>
#include <cstdlib>

namespace timeline {

Fraction FrameRateFraction(double fps) {
    if (!(fps > 0) || !std::isfinite(fps)) return {0, 1};
    // Rates typed with two or three decimals for the NTSC family (23.976, 29.97, 47.952, 59.94,
    // 119.88) mean N×1000/1001 exactly; a plain fraction of them drifts by one frame per minute.
    for (int n : {24, 30, 48, 60, 120}) {
        double ntsc = n * 1000.0 / 1001.0;
        if (std::fabs(fps - ntsc) < 0.0015 * n / 30.0) return {n * 1000, 1001};
    }
    int num = 0, den = 1;
    gst_util_double_to_fraction(fps, &num, &den);
    return {num, den};
}

VideoFormat MakeVideoFormat(std::int32_t width, std::int32_t height, double fps) {
    VideoFormat f;
    f.width = width;
    f.height = height;
    f.rowSize = RowSize(width, f.bitCount);
    f.imageSize = std::int64_t(f.rowSize) * std::abs(height);
    f.avgTimePerFrame = fps > 0 ? ReferenceTime(double(kUnitsPerSecond) / fps) : 0;
    f.frameRate = FrameRateFraction(fps);
    return f;
}

AudioFormat MakeAudioFormat(const AudioParams& audio) {
    AudioFormat f;
    f.channels = audio.mono ? 1 : 2;
    f.samplesPerSec = audio.sampleRate;
    f.bitsPerSample = audio.bitsPerSample;
    f.blockAlign = std::uint16_t(f.channels * f.bitsPerSample / 8);
    f.avgBytesPerSec = std::uint32_t(f.blockAlign) * f.samplesPerSec;
    return f;
}

const char* RawVideoFormatName(std::int32_t bitCount) {
    switch (bitCount) {
        case 32:
            return "BGRx";
        case 16:
            return "RGB16";
        default:
            return "BGR";
    }
}

const char* RawAudioFormatName(std::uint16_t bitsPerSample) {
    switch (bitsPerSample) {
        case 8:
            return "U8";
        case 24:
            return "S24LE";
        case 32:
            return "S32LE";
        default:
            return "S16LE";
    }
}

namespace {

void SetSizeAndRate(GstCaps* caps, const VideoFormat& f) {
    if (f.width > 0 && f.height != 0)
        gst_caps_set_simple(caps, "width", G_TYPE_INT, f.width, "height", G_TYPE_INT,
                            std::abs(f.height), "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1,
                            nullptr);
    if (f.frameRate.num > 0)
        gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, f.frameRate.num, f.frameRate.den,
                            nullptr);
}

}  // namespace

GstCaps* VideoRestrictionCaps(const VideoFormat& f) {
    GstCaps* caps = gst_caps_new_empty_simple("video/x-raw");
    if (f.frameRate.num > 0)
        gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, f.frameRate.num, f.frameRate.den,
                            nullptr);
    return caps;
}

GstCaps* VideoOutputCaps(const VideoFormat& f) {
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING,
                                        RawVideoFormatName(f.bitCount), nullptr);
    SetSizeAndRate(caps, f);
    return caps;
}

GstCaps* AudioCaps(const AudioFormat& f) {
    return gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING,
                               RawAudioFormatName(f.bitsPerSample), "layout", G_TYPE_STRING,
                               "interleaved", "rate", G_TYPE_INT, int(f.samplesPerSec), "channels",
                               G_TYPE_INT, int(f.channels), nullptr);
}

GstCaps* AudioRestrictionCaps(const AudioFormat& f) {
    GstCaps* caps = AudioCaps(f);
    gst_structure_remove_field(gst_caps_get_structure(caps, 0), "rate");
    return caps;
}

}  // namespace timeline
