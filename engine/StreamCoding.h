#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ConversionSettings.h"

// Names the coding of a demultiplexed stream from its caps, the way the clip list and the
// settings dialog describe it. Pure functions: no pipeline involved.

// Video: "MPEG1", "MPEG2", else a four-character code. headerFourcc is the code from the
// container's stream header when it carries one (AVI biCompression); it wins over the caps.
// A code ends at its first zero (or other control) byte, so uncompressed RGB gives "".
// "Unknown" when nothing names the coding.
std::string VideoCodingText(const GstCaps* caps, std::optional<std::uint32_t> headerFourcc);

// What an audio stream contributes to a clip.
struct AudioCoding {
    std::string text;        // "PCM", "ADPCM", "IMA ADPCM", "MP3", "MPEG1", "MPEG2",
                             // "Windows media", "DVD_LPCM" or "Unknown"
    bool hasParams = false;  // false for DVD LPCM: the clip keeps its audio parameters
    AudioParams params;      // rate, bits, mono; formatTag 0xFFFF and formatIndex -1
};

// caps are the demultiplexer's output caps; parsedCaps (may be null) those after a parser
// that follows it, which fill in rate and channels the demultiplexer left out. mpeg2Program:
// the stream comes from an MPEG-2 program stream (its MPEG audio counts as MPEG-2 audio).
AudioCoding DescribeAudio(const GstCaps* caps, const GstCaps* parsedCaps, bool mpeg2Program);

// The biCompression code of every video stream of an AVI file, in stream order; empty when
// the file is not a readable AVI. Reads only the header list, bounded.
std::vector<std::uint32_t> ReadAviVideoFourccs(const std::string& path);

// True when the file starts (within its first 64 KiB) with an MPEG-2 program stream pack header.
bool IsMpeg2ProgramStream(const std::string& path);

// "ABCD" for the little-endian code 'A' | 'B' << 8 | ..., ending at the first zero byte.
std::string FourccText(std::uint32_t fourcc);
