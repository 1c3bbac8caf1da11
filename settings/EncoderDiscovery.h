#pragma once

#include <string>
#include <vector>

#include "ConversionSettings.h"
#include "EncoderTrial.h"
#include "Result.h"

// The installed encoders that really work with a writer, found in the GStreamer registry.
//
// A factory is offered when its class names it a video or audio encoder, its output is what the
// category's writer takes, and a one-time trial encode gives valid timestamps (audio: at least one
// of its output formats encodes). Verified lists and audio format lists are kept in a per-user
// cache file keyed by the registry's contents (plugin files, versions, GStreamer version, host),
// so a later dialog opens without trials; a cache from another registry or host is rebuilt.
// All functions run on the user-interface thread (they are also safe from any one thread).

// The literal at position 0 of every encoder list: no encoder.
inline constexpr const char* kUncompressed = "_Uncompressed_";

struct EncoderEntry {
    std::string factoryName;  // e.g. "lamemp3enc"
    std::string longName;     // the listed name, e.g. "L.A.M.E. mp3 encoder"
    friend bool operator==(const EncoderEntry&, const EncoderEntry&) = default;
};

// The verified encoders of a category in a stable order (by factory name). Every entry has its
// own listed name: an encoder whose long name an earlier one already has is listed as
// "<long name> (<factory name>)".
std::vector<EncoderEntry> VerifiedEncoders(EncoderCategory category);

// Fills list with "_Uncompressed_" and the long names of the verified encoders. Returns S_OK when
// names were listed, S_FALSE when the category has none, E_FAIL when the media framework is not
// running (list then holds "_Uncompressed_" alone).
HRESULT EnumerateEncoders(EncoderCategory category, std::vector<std::string>& list);

// A new instance of the first verified encoder, in list order, whose long name equals name
// exactly (case-sensitive); empty when there is none. The caller owns the reference.
ElementRef CreateFilterByName(EncoderCategory category, const std::string& name);

// The factory name of the verified encoder listed as name ("" for none).
std::string FactoryForName(EncoderCategory category, const std::string& name);

// The discrete output formats of an encoder factory that encode into the category's writer, in
// a stable order: sample rate descending, stereo before mono, bit rate descending. Each carries
// the wave header fields and the caps and properties that make the encoder produce it.
std::vector<WaveFormat> EncoderFormats(EncoderCategory category, const std::string& factoryName);

// The factory name of an element made from a registry factory ("" for none).
std::string FactoryNameOf(GstElement* element);

// The cache file's folder: $KESTRINE_CACHE_DIR, else the user's cache folder
// + "/Brontwell/kestrine". Tests point it elsewhere; the in-memory lists are dropped.
void SetEncoderCacheFolder(const std::string& folder);
std::string EncoderCacheFile();

// A fingerprint of the registry's plugin files (names, paths, sizes, times, versions), the
// GStreamer version and the host: when it changes, the cache is rebuilt. Plugins registered by a
// program itself (without a file) are not part of it.
std::string RegistryFingerprint();

// How many trial encodes this process has run (lets tests see that the cache was used).
int TrialEncodeCount();
