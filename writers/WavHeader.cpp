#include "WavHeader.h"

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void PutTag(std::vector<uint8_t>& out, const char* tag) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(tag[i]));
}

}  // namespace

std::vector<uint8_t> BuildWavHeader(const WavFormat& f, uint64_t dataBytes) {
    if (dataBytes > kMaxWavDataBytes) dataBytes = kMaxWavDataBytes;
    const bool linear = f.formatTag == kWaveFormatPcm || f.formatTag == kWaveFormatIeeeFloat;
    const bool extensible = linear && (f.channels > 2 || f.bitsPerSample > 16);
    const bool fact = f.formatTag != kWaveFormatPcm;

    std::vector<uint8_t> fmt;
    Put16(fmt, extensible ? kWaveFormatExtensible : f.formatTag);
    Put16(fmt, f.channels);
    Put32(fmt, f.sampleRate);
    Put32(fmt, f.sampleRate * f.blockAlign);
    Put16(fmt, f.blockAlign);
    // Extensible containers declare whole bytes; the valid bits follow in the extension.
    Put16(fmt, extensible ? (f.blockAlign / f.channels) * 8 : f.bitsPerSample);
    if (extensible) {
        Put16(fmt, 22);
        Put16(fmt, f.bitsPerSample);
        // Front left/right for stereo, front centre for mono; no assignment for more channels.
        Put32(fmt, f.channels == 1 ? 0x4 : f.channels == 2 ? 0x3 : 0);
        // KSDATAFORMAT_SUBTYPE_*: the format tag in the first 16 bits of the base GUID.
        static const uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                              0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        Put16(fmt, f.formatTag);
        fmt.insert(fmt.end(), kGuidTail, kGuidTail + sizeof kGuidTail);
    } else if (f.formatTag != kWaveFormatPcm) {
        Put16(fmt, 0);  // cbSize: no extra format bytes
    }

    std::vector<uint8_t> out;
    const uint64_t padded = dataBytes + (dataBytes & 1);
    const uint32_t headerLength = 12 + 8 + static_cast<uint32_t>(fmt.size()) + (fact ? 12 : 0) + 8;
    PutTag(out, "RIFF");
    Put32(out, static_cast<uint32_t>(headerLength - 8 + padded));
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    Put32(out, static_cast<uint32_t>(fmt.size()));
    out.insert(out.end(), fmt.begin(), fmt.end());
    if (fact) {
        PutTag(out, "fact");
        Put32(out, 4);
        Put32(out, f.blockAlign ? static_cast<uint32_t>(dataBytes / f.blockAlign) : 0);
    }
    PutTag(out, "data");
    Put32(out, static_cast<uint32_t>(dataBytes));
    return out;
}
