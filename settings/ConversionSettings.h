#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The chosen output format: the position in the settings dialog's "Output format:" list.
enum OutputFormat : std::int32_t { Avi = 0, Mpeg = 1, WavMp3 = 2 };

// Audio parameters travelling between clip items, the batch driver, the settings dialog and the
// engine. formatTag 0xFFFF means "no encoder format chosen"; 0x0055 is MPEG Layer-3.
struct AudioParams {
    std::uint32_t sampleRate = 44100;
    std::uint16_t bitsPerSample = 0xFFFF;
    std::int32_t mono = 1;
    std::uint16_t formatTag = 0xFFFF;
    std::int32_t formatIndex = -1;

    friend bool operator==(const AudioParams&, const AudioParams&) = default;
};

constexpr std::uint16_t kFormatTagNone = 0xFFFF;
constexpr std::uint16_t kFormatTagPcm = 0x0001;
constexpr std::uint16_t kFormatTagALaw = 0x0006;
constexpr std::uint16_t kFormatTagMuLaw = 0x0007;
constexpr std::uint16_t kFormatTagMpeg = 0x0050;
constexpr std::uint16_t kFormatTagMp3 = 0x0055;
constexpr std::uint16_t kFormatTagAc3 = 0x2000;

// One output format of an audio encoder: the wave format header fields it stands for, plus how
// to make the encoder produce it (caps for its source pad and property settings).
struct WaveFormat {
    std::uint16_t formatTag = kFormatTagPcm;
    std::uint16_t channels = 2;
    std::uint32_t samplesPerSec = 44100;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 16;
    // Caps to put after the encoder (may be empty: anything the encoder gives).
    std::string encoderCaps;
    // Properties to set on the encoder, as name and value text (g_object_set with parsing).
    std::vector<std::pair<std::string, std::string>> encoderProperties;

    friend bool operator==(const WaveFormat&, const WaveFormat&) = default;
};

// A counted reference to a GStreamer element; copying shares the one reference.
using ElementRef = std::shared_ptr<GstElement>;

// Takes ownership of a (possibly floating) new element reference.
inline ElementRef AdoptElement(GstElement* element) {
    if (!element) return {};
    gst_object_ref_sink(element);
    return ElementRef(element, [](GstElement* e) { gst_object_unref(e); });
}

// What a confirmed settings dialog hands to the batch driver and the engine.
struct ConversionSettings {
    std::string audioText;
    std::string widthText = "320";
    std::string heightText = "240";
    std::string frameRateText = "25";
    std::string videoListText;
    std::string audioListText;
    std::string fileNameSuffix;
    AudioParams audio;
    OutputFormat outputFormat = Avi;
    std::optional<WaveFormat> audioFormat;
    ElementRef videoEncoder;
    ElementRef audioEncoder;
    ElementRef mpegEncoder;
};
