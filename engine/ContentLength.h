#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What a media file really holds, found by reading every packet of its first video and first
// audio stream with libav (no decoding): a second opinion on lengths that the media framework
// only estimates (elementary streams, program streams, ADTS, MP3 without a header frame) or takes
// from a header that the data does not bear out (a file cut short).
struct ContentFacts {
    // From the first time stamp to the end of the last packet of the streams read, in 100-ns
    // units; 0 when no packet had a time.
    std::int64_t length = 0;
    std::int64_t videoLength = 0;
    std::int64_t audioLength = 0;
    // The length the container's header states (100-ns units); 0 when it states none.
    std::int64_t stated = 0;
    // The length the file's header declares outright (100-ns units): a duration field, an MP3
    // header frame's frame count, an AVI video stream's frame count, a WAV file's data size.
    // 0 when the header declares none, and never an estimate from a bit rate.
    std::int64_t declared = 0;
    bool hasVideo = false;
    bool hasAudio = false;
    // Every packet was read: length is the content's, not a part of it.
    bool complete = false;
};

// Reads path's packets within limitMs. nullopt when libav cannot open the file (reason says why)
// or when it holds neither video nor audio.
std::optional<ContentFacts> ScanContent(const std::string& path, int limitMs,
                                        std::string* reason = nullptr);

// True when each of the file's first video and first audio stream decodes into at least one frame
// (within limitMs); false with the reason otherwise. An output that fails this cannot be played
// whatever its header says.
bool StreamsDecode(const std::string& path, int limitMs, std::string* reason);
