#pragma once

#include "VireoUnknown.h"

// The identity of the hold element and its property page. The class identifiers are the
// components' documented identity; on this platform the element is created from the GStreamer
// registry by its factory name, and the identifier is also published in the factory's metadata
// under kTarrowClassIdKey.

// {4181034B-166C-4646-88DC-27EFFA735B9C}
inline constexpr VireoGuid CLSID_TarrowFilter = {
    0x4181034B, 0x166C, 0x4646, {0x88, 0xDC, 0x27, 0xEF, 0xFA, 0x73, 0x5B, 0x9C}};
inline constexpr char kTarrowFilterClassId[] = "{4181034B-166C-4646-88DC-27EFFA735B9C}";

// {EA6217E5-B47B-4676-B5A1-7C21F4D81093}
inline constexpr VireoGuid CLSID_TarrowPropertyPage = {
    0xEA6217E5, 0xB47B, 0x4676, {0xB5, 0xA1, 0x7C, 0x21, 0xF4, 0xD8, 0x10, 0x93}};
inline constexpr char kTarrowPageClassId[] = "{EA6217E5-B47B-4676-B5A1-7C21F4D81093}";

inline constexpr char kTarrowPluginName[] = "tarrow";
inline constexpr char kTarrowFactoryName[] = "tarrowhold";
inline constexpr char kTarrowLongName[] = "VireoTarrow";
inline constexpr char kTarrowPageName[] = "Vireo Tarrow Property Page";
inline constexpr char kTarrowClassIdKey[] = "class-id";

// Pad name patterns of the pairs: pair i has the sink pad "Input<i>" and the source pad
// "Output<i>".
inline constexpr char kTarrowInputPattern[] = "Input%d";
inline constexpr char kTarrowOutputPattern[] = "Output%d";

// The element's properties: the range in 100-ns reference time and the store pointer.
inline constexpr char kTarrowPropStartPoint[] = "start-point";
inline constexpr char kTarrowPropDuration[] = "duration";
inline constexpr char kTarrowPropProperties[] = "properties";
