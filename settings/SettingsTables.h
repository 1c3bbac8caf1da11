#pragma once

#include <array>
#include <optional>

#include "ConversionSettings.h"
#include "Result.h"

// The settings dialog's fixed lists (texts exact, in list order: positions are what the profile
// remembers) and the MPEG tables behind its output types and video standards.
namespace settingstables {

inline constexpr std::array<const char*, 3> kOutputFormats = {
    "AVI video", "MPEG video (DVD/VCD/SVCD)", "WAV/MP3 Audio"};
inline constexpr std::array<const char*, 8> kWidths = {"160", "320", "352", "360",
                                                       "384", "480", "640", "720"};
inline constexpr std::array<const char*, 5> kHeights = {"120", "240", "288", "480", "576"};
inline constexpr std::array<const char*, 9> kAviFrameRates = {"8",  "9",  "10",    "15", "23.976",
                                                              "24", "25", "29.97", "30"};
inline constexpr std::array<const char*, 5> kMpegFrameRates = {"23.976", "24", "25", "29.97", "30"};
inline constexpr std::array<const char*, 5> kMpegTypes = {"MPEG-2", "MPEG-1", "VCD", "DVD", "SVCD"};
inline constexpr std::array<const char*, 2> kVideoStandards = {"PAL", "NTSC"};

// Positions in kMpegTypes and kVideoStandards.
enum MpegType { Mpeg2 = 0, Mpeg1 = 1, Vcd = 2, Dvd = 3, Svcd = 4 };
enum VideoStandard { Pal = 0, Ntsc = 1 };

// MPEG frame rate positions for the two standards: "25" and "29.97".
constexpr int kPalFrameRatePosition = 2;
constexpr int kNtscFrameRatePosition = 3;

// A frame size as positions in kWidths and kHeights.
struct FrameSizePositions {
    int width;
    int height;
    friend bool operator==(const FrameSizePositions&, const FrameSizePositions&) = default;
};

// The fixed frame size of a disc output type ("VCD", "DVD", "SVCD") in a standard; none for
// "MPEG-2", "MPEG-1" or no type (-1), whose size the user chooses.
std::optional<FrameSizePositions> DiscFrameSize(int typePosition, bool ntsc);

// True for the disc types whose size and rate are fixed.
bool IsDiscType(int typePosition);

// The MPEG writer's preset code for an output type and a standard position (only PAL, position
// 0, differs from every other position); -1 when no type is selected.
int MpegPresetCode(int typePosition, int standardPosition);

}  // namespace settingstables

// The MPEG encoder and writer element (factory "kestrinempegwriter"); the reference is empty when
// the element cannot be created.
ElementRef CreateMpegEncoder();

// Sends a preset code through the writer's "preset" property: E_FAIL without an encoder,
// E_NOINTERFACE when it has no such property, E_INVALIDARG for a code it refuses.
HRESULT ConfigureMpegEncoder(const ElementRef& mpegEncoder, int presetCode);
