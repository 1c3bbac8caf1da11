#pragma once

#include <cstdint>

#include "ConversionSettings.h"

// A list whose position the settings remember: a frame size, frame rate or encoder list of the
// settings dialog. Positions count from 0; -1 means "no selection".
class ISelectionList {
public:
    virtual ~ISelectionList() = default;
    virtual int Count() const = 0;
    virtual int Selected() const = 0;
    // Selects position; a position the list does not have leaves it without a selection.
    virtual void Select(int position) = 0;
};

// The five lists whose positions are remembered per output format. Any may be null (then it is
// neither restored nor captured).
struct SelectionLists {
    ISelectionList* width = nullptr;      // frame width (1005)
    ISelectionList* height = nullptr;     // frame height (1009)
    ISelectionList* frameRate = nullptr;  // FPS (1027)
    ISelectionList* videoList = nullptr;  // video encoder / MPEG output type (1007)
    ISelectionList* audioList = nullptr;  // audio encoder / MPEG video standard (1016)
};

// One remembered list position per choice and output format, persisted in the profile section
// "Settings". Every member starts at 1 and is replaced by Load().
struct RememberedSelections {
    static constexpr const char* kSection = "Settings";

    std::int32_t aviHeight = 1;
    std::int32_t aviWidth = 1;
    std::int32_t aviVideo = 1;
    std::int32_t aviAudio = 1;
    std::int32_t aviFrameRate = 1;
    std::int32_t mpegHeight = 1;
    std::int32_t mpegWidth = 1;
    std::int32_t mpegType = 1;
    std::int32_t mpegFormat = 1;
    std::int32_t mpegFrameRate = 1;
    std::int32_t wavAudio = 1;
    std::int32_t wavAudioSet = 1;

    // Reads all twelve values (missing: 0, "WavAudioSet" missing: -1) and stores "WavAudioSet"
    // also as audio.formatIndex, whatever the output format.
    void Load(AudioParams& audio);

    // Selects the remembered positions of format's lists; a stored 0 for a frame size or rate
    // means that list's default entry.
    void Restore(OutputFormat format, const SelectionLists& lists) const;

    // Reads format's current positions (no default substitution); in WavMp3 also
    // audio.formatIndex as the remembered WAV audio format.
    void Capture(OutputFormat format, const SelectionLists& lists, const AudioParams& audio);

    // Writes format's values only: five AVI values, five MPEG values, or "WavAudio" and
    // "WavAudioSet". Write errors are ignored.
    void Save(OutputFormat format) const;

    friend bool operator==(const RememberedSelections&, const RememberedSelections&) = default;
};

// Default list positions restored for a stored 0.
constexpr int kDefaultWidthPosition = 1;          // "320"
constexpr int kDefaultHeightPosition = 1;         // "240"
constexpr int kDefaultAviFrameRatePosition = 6;   // "25" in the AVI rate list
constexpr int kDefaultMpegFrameRatePosition = 2;  // "25" in the MPEG rate list
