#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "GstPtr.h"

// Which encoders a list offers: the video encoders whose output avimux takes, the audio encoders
// whose output avimux takes, or the audio encoders whose output the WAV writer takes.
enum class EncoderCategory { AviVideo, AviAudio, WavAudio };

// A short stable name for a category ("avi-video", "avi-audio", "wav-audio").
const char* CategoryKey(EncoderCategory category);

// True for the categories of audio encoders.
bool IsAudioCategory(EncoderCategory category);

// The caps the category's writer accepts from an encoder.
GstCapsPtr WriterAcceptedCaps(EncoderCategory category);

// Property settings as name and value text, applied with gst_util_set_object_arg().
using PropertyList = std::vector<std::pair<std::string, std::string>>;

// What one trial encode found.
struct TrialOutcome {
    bool ok = false;
    std::string failure;        // why it failed, for the debug log
    std::uint64_t bytes = 0;    // encoded bytes that left the encoder
    std::uint64_t buffers = 0;  // encoded buffers that left the encoder
    std::uint64_t inputNs = 0;  // nanoseconds of raw media fed in
    GstCapsPtr caps;            // the encoder's negotiated output caps
};

// Encodes 3 s of 160x120 at 25 fps with a fresh instance of the factory into avimux, with PCM
// audio beside it as in a conversion, and checks that it gives one buffer per frame with valid,
// plausible times (restored from the input where the encoder gives none, as a conversion
// does). Bounded: gives up after 30 s.
TrialOutcome TrialEncodeVideo(const std::string& factoryName);

// Encodes a quarter second of a tone at rate and channels with a fresh instance of the factory,
// its properties set from properties, into the category's writer (avimux, or the WAV writer's
// accepted caps), with the same timestamp checks. Bounded: gives up after 5 s.
TrialOutcome TrialEncodeAudio(const std::string& factoryName, EncoderCategory category, int rate,
                              int channels, const PropertyList& properties);

// The wave format tag for an encoder's output caps: 1 PCM, 6 A-law, 7 mu-law, 0x50 MPEG audio
// layer 1/2, 0x55 MPEG layer 3, 0x2000 AC-3 ...; 0 for a coding without a tag of its own.
std::uint16_t FormatTagForCaps(const GstCaps* caps);
