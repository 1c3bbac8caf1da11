#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "VireoProperties.h"

// The hold element's range: its two store keys, how they are read, and the element's 40-byte
// persisted form. All times are reference time (signed 64-bit, 100-ns units).
namespace tarrow {

inline constexpr char kStartPointKey[] = "Start point";
inline constexpr char kDurationKey[] = "Duration";

// Decimal text to a number: leading white space, an optional sign, then decimal digits;
// anything else ends the number; no digits give 0. Saturates instead of overflowing.
std::int64_t Atoi64(const char* text);

// Reads key into *target: an absent key leaves *target as it was; a text value is read with
// Atoi64; any other type gives the first 8 bytes of its value area (little-endian int64).
void ReadRange(IVireoProperties* store, const char* key, std::int64_t* target);

// Writes both keys as signed 64-bit values and raises the change flag.
HRESULT WriteRange(IVireoProperties* store, std::int64_t startPoint, std::int64_t duration);

// Persisted form: 12 UTF-16LE code units of version text ("%011d " of the version), then
// startPoint and duration as little-endian 64-bit values.
inline constexpr std::size_t kPersistedSize = 40;
inline constexpr std::int32_t kPersistedVersion = 1;
using PersistedRange = std::array<std::uint8_t, kPersistedSize>;

PersistedRange SaveRange(std::int64_t startPoint, std::int64_t duration);

// Reads a persisted form. The version text is read code unit by code unit: an optional "-",
// decimal digits, then NUL, tab, line feed, carriage return or space; the two values follow
// that terminator. Returns VFW_E_INVALID_FILE_FORMAT for a malformed version text or bytes
// that end early, VFW_E_INVALID_FILE_VERSION for a version other than 1. On failure nothing
// is written to the out-parameters.
HRESULT LoadRange(const std::uint8_t* data, std::size_t size, std::int64_t* startPoint,
                  std::int64_t* duration);

}  // namespace tarrow
