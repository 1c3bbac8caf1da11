#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <string>

#include "ConversionSettings.h"

// Format arithmetic of the conversion timeline. Reference time is a signed 64-bit count of
// 100-nanosecond units (durations, cursors, frame times); GStreamer works in nanoseconds, so
// every crossing goes through ToNanoseconds/ToReferenceTime.
namespace timeline {

using ReferenceTime = std::int64_t;

constexpr ReferenceTime kUnitsPerSecond = 10'000'000;

constexpr GstClockTime ToNanoseconds(ReferenceTime t) {
    return t <= 0 ? 0 : GstClockTime(t) * 100;
}
constexpr ReferenceTime ToReferenceTime(GstClockTime ns) {
    return ns == GST_CLOCK_TIME_NONE ? 0 : ReferenceTime(ns / 100);
}

// Bytes per row of an uncompressed bottom-up bitmap: bits × width rounded up to whole 32-bit
// words (321 pixels at 24 bits give 964).
constexpr std::int32_t RowSize(std::int32_t width, std::int32_t bitsPerPixel = 24) {
    return ((bitsPerPixel * width + 31) / 8) & ~3;
}

// The exact frame rate meant by a rate typed as a decimal: 23.976, 29.97 and 59.94 are the
// NTSC rates N×1000/1001; anything else becomes the nearest fraction with a small denominator.
struct Fraction {
    int num = 0;
    int den = 1;
    friend bool operator==(const Fraction&, const Fraction&) = default;
};
Fraction FrameRateFraction(double framesPerSecond);

// The video group's output format: uncompressed RGB24 (bottom-up BGR byte order in memory),
// the chosen frame size and rate.
struct VideoFormat {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bitCount = 24;
    std::int32_t rowSize = 0;           // bytes
    std::int64_t imageSize = 0;         // bytes: rowSize × |height|
    ReferenceTime avgTimePerFrame = 0;  // 10,000,000 / fps, truncated
    Fraction frameRate;
};
VideoFormat MakeVideoFormat(std::int32_t width, std::int32_t height, double framesPerSecond);

// The audio group's output format: interleaved PCM.
struct AudioFormat {
    std::uint16_t channels = 2;
    std::uint32_t samplesPerSec = 48000;
    std::uint16_t bitsPerSample = 16;
    std::uint16_t blockAlign = 4;  // channels × bits / 8, integer division
    std::uint32_t avgBytesPerSec = 192000;
};
AudioFormat MakeAudioFormat(const AudioParams& audio);

// GStreamer raw-video format name for a bit count ("BGR" for 24 bits).
const char* RawVideoFormatName(std::int32_t bitCount);
// GStreamer raw-audio format name for a sample size ("U8", "S16LE", "S24LE", "S32LE").
const char* RawAudioFormatName(std::uint16_t bitsPerSample);

// Caps describing the groups' formats. The restriction caps are what the editing services are
// asked for; the output caps are the exact format of the group's output pad.
// The editing services are asked for the rate only: they drop or repeat the file's frames
// before anything is scaled, so that frames that are dropped are never scaled, and the front end
// scales and converts what remains (passing through a frame that needs no change).
GstCaps* VideoRestrictionCaps(const VideoFormat& format);
GstCaps* VideoOutputCaps(const VideoFormat& format);
GstCaps* AudioCaps(const AudioFormat& format);
// What the editing services are asked for: the sample format and channels, not the rate. The
// rate is converted after the mixer, on the mixer's thread, so that decoding and resampling run
// side by side instead of one after the other on the decoder's thread.
GstCaps* AudioRestrictionCaps(const AudioFormat& format);

}  // namespace timeline
