#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ConversionSettings.h"
#include "EncoderTrial.h"
#include "Result.h"

// The output formats of one audio encoder and the choice among them: the logic of the audio
// format picker, without its window. Lives for one use (one encoder list change or one "Change"
// click); user-interface thread.
class CAudioFormatChooser {
public:
    // category says which writer the formats must suit (AVI or WAV/MP3 audio).
    explicit CAudioFormatChooser(EncoderCategory category = EncoderCategory::WavAudio)
        : m_category(category) {}
    virtual ~CAudioFormatChooser() = default;

    // Fills formats from encoder (replacing what was there): S_OK, or E_FAIL without encoder or
    // when the encoder has no format that encodes.
    virtual HRESULT LoadFormatList();

    // Remembers encoder, loads the list and sets position and chosen: a remembered
    // audio.formatIndex between 1 and the last index is taken as it is, else the best entry for
    // audio.sampleRate is chosen automatically. Writes the chosen entry's format tag into
    // audio.formatTag; with an empty list the tag becomes none (0xFFFF) so that no stale MP3 tag
    // survives "_Uncompressed_".
    void ChooseInitialFormat(const ElementRef& encoderRef, AudioParams& audio);

    // "%d kb/sec -- %d kHz -- %s" for entry p (-1: the current position; outside the list: 0),
    // "No settings" for an empty list.
    std::string DescribeFormat(int p = -1) const;

    // "_%dkbps-%dkHz-%s" for the current position (reset to 0 when outside the list); "No
    // settings" for an empty list (the batch driver then names the file with its own suffix).
    std::string FormatSuffix();

    static constexpr const char* kNoSettings = "No settings";

    ElementRef encoder;                // shared with the settings; empty for "_Uncompressed_"
    std::vector<WaveFormat> formats;   // in the encoder's list order
    int position = -1;                 // current entry; -1 = none
    std::optional<WaveFormat> chosen;  // the confirmed or automatically chosen entry

protected:
    EncoderCategory m_category;
};
