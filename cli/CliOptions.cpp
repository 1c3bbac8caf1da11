#include "CliOptions.h"

#include <algorithm>
#include <charconv>

#include "SettingsTables.h"

using namespace settingstables;

namespace {

template <typename List>
bool OneOf(const List& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

template <typename List>
std::string Joined(const List& list) {
    std::string text;
    for (const std::string entry : list) text += (text.empty() ? "" : ", ") + entry;
    return text;
}

template <typename List>
bool Checked(const char* option, const std::string& value, const List& list,
             std::optional<std::string>& into, std::string& error) {
    if (!OneOf(list, value)) {
        error =
            std::string(option) + " must be one of " + Joined(list) + " (not \"" + value + "\")";
        return false;
    }
    into = value;
    return true;
}

// What the chosen format does not use: the dialog disables these controls, the command line
// refuses them rather than silently ignoring what the user asked for.
bool CheckCombination(const CliOptions& o, std::string& error) {
    const OutputFormat format = o.format.value_or(Avi);
    const char* name = format == Avi ? "avi" : format == Mpeg ? "mpeg" : "wav";
    auto refuse = [&](bool given, const char* option) {
        if (given) error = std::string(option) + " cannot be used with --format " + name;
        return given;
    };
    if (format == Avi) {
        if (refuse(o.mpegType.has_value(), "--mpeg-type") ||
            refuse(o.standard.has_value(), "--standard"))
            return false;
        if (o.frameRate && !OneOf(kAviFrameRates, *o.frameRate)) {
            error = "--fps must be one of " + Joined(kAviFrameRates) + " for AVI";
            return false;
        }
    } else if (format == Mpeg) {
        if (refuse(o.videoEncoder.has_value(), "--video-encoder") ||
            refuse(o.audioEncoder.has_value(), "--audio-encoder") ||
            refuse(o.audioFormat.has_value(), "--audio-format"))
            return false;
        if (o.frameRate && !OneOf(kMpegFrameRates, *o.frameRate)) {
            error = "--fps must be one of " + Joined(kMpegFrameRates) + " for MPEG";
            return false;
        }
        const bool discType =
            o.mpegType && (*o.mpegType == "VCD" || *o.mpegType == "DVD" || *o.mpegType == "SVCD");
        if (discType && (o.width || o.height || o.frameRate)) {
            error = "--mpeg-type " + *o.mpegType +
                    " fixes the frame size and rate; leave out --width, --height and --fps";
            return false;
        }
    } else {
        if (refuse(o.width.has_value(), "--width") || refuse(o.height.has_value(), "--height") ||
            refuse(o.frameRate.has_value(), "--fps") ||
            refuse(o.videoEncoder.has_value(), "--video-encoder") ||
            refuse(o.mpegType.has_value(), "--mpeg-type") ||
            refuse(o.standard.has_value(), "--standard"))
            return false;
    }
    return true;
}

}  // namespace

bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& o, std::string& error) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-' || arg == "-") {
            o.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::optional<std::string> inlineValue;
        if (const std::size_t eq = arg.find('=');
            eq != std::string::npos && arg.starts_with("--")) {
            inlineValue = arg.substr(eq + 1);
            arg.erase(eq);
        }
        auto value = [&](std::string& into) {
            if (inlineValue) {
                into = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            into = args[++i];
            return true;
        };
        auto flag = [&](bool& into) {
            if (inlineValue) {
                error = arg + " takes no value";
                return false;
            }
            into = true;
            return true;
        };

        std::string v;
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            ok = flag(o.help);
        } else if (arg == "--list-encoders") {
            ok = flag(o.listEncoders);
        } else if (arg == "--list-audio-formats") {
            ok = value(v);
            if (ok) o.listAudioFormats = v;
        } else if (arg == "--format") {
            ok = value(v);
            if (ok) {
                if (v == "avi")
                    o.format = Avi;
                else if (v == "mpeg")
                    o.format = Mpeg;
                else if (v == "wav")
                    o.format = WavMp3;
                else {
                    error = "--format must be avi, mpeg or wav (not \"" + v + "\")";
                    ok = false;
                }
            }
        } else if (arg == "--out") {
            ok = value(v);
            if (ok && v.empty()) {
                error = "--out needs a folder";
                ok = false;
            }
            if (ok) o.outputFolder = v;
        } else if (arg == "--width") {
            ok = value(v) && Checked("--width", v, kWidths, o.width, error);
        } else if (arg == "--height") {
            ok = value(v) && Checked("--height", v, kHeights, o.height, error);
        } else if (arg == "--fps") {
            ok = value(v) && Checked("--fps", v, kAviFrameRates, o.frameRate, error);
        } else if (arg == "--video-encoder") {
            ok = value(v);
            if (ok) o.videoEncoder = v;
        } else if (arg == "--audio-encoder") {
            ok = value(v);
            if (ok) o.audioEncoder = v;
        } else if (arg == "--audio-format") {
            ok = value(v);
            int n = -1;
            if (ok) {
                const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
                if (ec != std::errc() || end != v.data() + v.size() || n < 0) {
                    error =
                        "--audio-format must be a list position (0, 1, ...), see "
                        "--list-audio-formats";
                    ok = false;
                } else {
                    o.audioFormat = n;
                }
            }
        } else if (arg == "--mpeg-type") {
            ok = value(v) && Checked("--mpeg-type", v, kMpegTypes, o.mpegType, error);
        } else if (arg == "--standard") {
            ok = value(v) && Checked("--standard", v, kVideoStandards, o.standard, error);
        } else {
            error = "unknown option " + arg;
            ok = false;
        }
        if (!ok) return false;
    }

    if (o.help || o.listEncoders || o.listAudioFormats) return true;
    if (o.files.empty()) {
        error = "no input files";
        return false;
    }
    return CheckCombination(o, error);
}

std::string CliUsage() {
    return R"(Usage: kestrine-cli [options] FILE...
Converts every FILE, one after the other, into one output file each.

Options:
  --format avi|mpeg|wav    output format (default: AVI video)
  --out DIR                output folder (default: the first file's folder);
                           a missing folder is created (one level)
  --width N, --height N    frame size: width 160 320 352 360 384 480 640 720,
                           height 120 240 288 480 576 (AVI, MPEG-1, MPEG-2)
  --fps RATE               frame rate: 8 9 10 15 23.976 24 25 29.97 30 (AVI),
                           23.976 24 25 29.97 30 (MPEG-1, MPEG-2)
  --video-encoder NAME     AVI video encoder ("_Uncompressed_" for none)
  --audio-encoder NAME     AVI or WAV/MP3 audio encoder ("_Uncompressed_" for none)
  --audio-format N         position in the audio encoder's format list
  --mpeg-type TYPE         MPEG-2, MPEG-1, VCD, DVD or SVCD
  --standard PAL|NTSC      video standard of the MPEG output
  --list-encoders          list the video and audio encoders and exit
  --list-audio-formats NAME
                           list the output formats of an audio encoder and exit
  --help                   show this text and exit

Choices left out are the ones last saved in the program's settings dialog.
Output files are named after the clip: holiday.avi gives holiday_converted.avi
(WAV/MP3: the audio format's suffix, e.g. song_128kbps-44kHz-Stereo.mp3).
A name an earlier clip of the same call wrote, or the file of another clip,
gets a copy number instead: music_converted (2).wav.
An output folder that takes no files is refused before anything converts.
A complete output shorter than its clip (a source that ends early) is kept
and reported with a warning, in the log and on stderr.

Exit status: 0 every clip complete, 1 a clip failed or was rejected,
2 usage error, 130 stopped by Ctrl-C, 143 by SIGTERM, 129 by SIGHUP (the
running clip ends "Stopped", its temporary file is removed, later clips are
not started).
)";
}
