#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ConversionSettings.h"

// The command line of kestrine-cli. Every choice left out comes from the user's remembered
// settings and the settings dialog's defaults.
struct CliOptions {
    std::optional<OutputFormat> format;
    std::optional<std::string> outputFolder;
    std::optional<std::string> width, height, frameRate;  // texts of the dialog's lists
    std::optional<std::string> videoEncoder, audioEncoder;
    std::optional<int> audioFormat;  // position in the encoder's list
    std::optional<std::string> mpegType, standard;
    bool listEncoders = false;
    std::optional<std::string> listAudioFormats;  // encoder name
    bool help = false;
    std::vector<std::string> files;
};

// Parses argv (without the program name). On a usage error returns false and sets error to
// a one-line explanation.
bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& options, std::string& error);

// The --help text.
std::string CliUsage();
