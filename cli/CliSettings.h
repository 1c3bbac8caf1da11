#pragma once

#include <string>
#include <vector>

#include "BatchDriver.h"
#include "CliOptions.h"
#include "EncoderTrial.h"

// The settings of a command-line batch: what the settings dialog would open with (the user's
// remembered list positions and the dialog's defaults, seeded by the batch driver like the
// dialog), with the command line's choices on top. It never writes the profile: a scripted run
// does not change what the dialog offers next time. User-interface thread.
class CCliSettings : public IBatchSettings {
public:
    explicit CCliSettings(const CliOptions& options) : m_options(options) {}

    // Checks what needs the media framework: encoder names and the audio format position.
    // False with a one-line explanation (a usage error).
    bool Validate(std::string& error) const;

    ConversionSettings& Settings() override { return m_settings; }
    // Resolves every choice and creates the encoders; false (with Error()) when that fails.
    bool RunModal() override;
    const std::string& Error() const { return m_error; }
    // True when Error() is about the command line (exit status 2), not about the system.
    bool ErrorIsUsage() const { return m_errorIsUsage; }

private:
    OutputFormat Format() const { return m_options.format.value_or(Avi); }
    EncoderCategory AudioCategory() const;

    const CliOptions& m_options;
    ConversionSettings m_settings;
    std::string m_error;
    bool m_errorIsUsage = false;
};

// The --list-encoders text: the encoders of each list of the dialog, one per line.
std::string ListEncodersText();

// The --list-audio-formats text for the named encoder of the format's audio list: "N: text"
// per entry. False when the encoder is not in that list.
bool ListAudioFormatsText(OutputFormat format, const std::string& encoder, std::string& text);
