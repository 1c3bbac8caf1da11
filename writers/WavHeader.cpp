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

uint32_t RoundedByteRate(uint32_t rate, uint32_t blockAlign, uint32_t samplesPerBlock) {
    return static_cast<uint32_t>((uint64_t(rate) * blockAlign + samplesPerBlock / 2) /
                                 samplesPerBlock);
}

}  // namespace

WavFormat LinearWavFormat(uint16_t formatTag, uint16_t channels, uint32_t rate, uint16_t bits) {
    WavFormat f;
    f.formatTag = formatTag;
    f.channels = channels;
    f.sampleRate = rate;
    f.bitsPerSample = bits;
    f.blockAlign = static_cast<uint16_t>((bits + 7) / 8 * channels);
    f.avgBytesPerSec = rate * f.blockAlign;
    return f;
}

WavFormat ImaAdpcmWavFormat(uint16_t channels, uint32_t rate, uint16_t blockAlign) {
    WavFormat f;
    f.formatTag = kWaveFormatImaAdpcm;
    f.channels = channels;
    f.sampleRate = rate;
    f.bitsPerSample = 4;
    f.blockAlign = blockAlign;
    f.samplesPerBlock = static_cast<uint16_t>((blockAlign - 4 * channels) * 2 / channels + 1);
    f.avgBytesPerSec = RoundedByteRate(rate, blockAlign, f.samplesPerBlock);
    Put16(f.extra, f.samplesPerBlock);
    return f;
}

WavFormat MsAdpcmWavFormat(uint16_t channels, uint32_t rate, uint16_t blockAlign) {
    static const int16_t kCoefficients[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                                {240, 0}, {460, -208}, {392, -232}};
    WavFormat f;
    f.formatTag = kWaveFormatMsAdpcm;
    f.channels = channels;
    f.sampleRate = rate;
    f.bitsPerSample = 4;
    f.blockAlign = blockAlign;
    f.samplesPerBlock = static_cast<uint16_t>((blockAlign - 7 * channels) * 2 / channels + 2);
    f.avgBytesPerSec = RoundedByteRate(rate, blockAlign, f.samplesPerBlock);
    Put16(f.extra, f.samplesPerBlock);
    Put16(f.extra, 7);
    for (const auto& pair : kCoefficients) {
        Put16(f.extra, static_cast<uint16_t>(pair[0]));
        Put16(f.extra, static_cast<uint16_t>(pair[1]));
    }
    return f;
}

WavFormat Gsm610WavFormat(uint32_t rate) {
    WavFormat f;
    f.formatTag = kWaveFormatGsm610;
    f.channels = 1;
    f.sampleRate = rate;
    f.bitsPerSample = 0;
    f.blockAlign = 65;
    f.samplesPerBlock = 320;
    f.avgBytesPerSec = RoundedByteRate(rate, 65, 320);
    Put16(f.extra, 320);
    return f;
}

WavFormat MpegWavFormat(uint16_t channels, uint32_t rate, int layer, uint32_t bitRate) {
    WavFormat f;
    f.formatTag = kWaveFormatMpeg;
    f.channels = channels;
    f.sampleRate = rate;
    f.bitsPerSample = 0;
    f.samplesPerBlock = layer == 1 ? 384 : 1152;
    // One frame (without its padding slot) is the block.
    f.blockAlign = static_cast<uint16_t>(uint64_t(bitRate) / 8 * f.samplesPerBlock / rate);
    f.avgBytesPerSec = bitRate / 8;
    Put16(f.extra, layer == 1 ? 1 : 2);         // fwHeadLayer: ACM_MPEG_LAYER1/2
    Put32(f.extra, bitRate);                    // dwHeadBitrate
    Put16(f.extra, channels == 1 ? 0x8 : 0x1);  // fwHeadMode: single channel or stereo
    Put16(f.extra, 0);                          // fwHeadModeExt
    Put16(f.extra, 1);                          // wHeadEmphasis: none
    Put16(f.extra, rate >= 32000 ? 0x10 : 0);   // fwHeadFlags: ACM_MPEG_ID_MPEG1
    Put32(f.extra, 0);                          // dwPTSLow
    Put32(f.extra, 0);                          // dwPTSHigh
    return f;
}

std::vector<uint8_t> BuildWavHeader(const WavFormat& f, uint64_t dataBytes, uint64_t sampleFrames,
                                    const std::vector<uint8_t>& listChunk) {
    if (dataBytes > kMaxWavDataBytes) dataBytes = kMaxWavDataBytes;
    const bool linear = f.formatTag == kWaveFormatPcm || f.formatTag == kWaveFormatIeeeFloat;
    const bool extensible = linear && (f.channels > 2 || f.bitsPerSample > 16);
    const bool fact = f.formatTag != kWaveFormatPcm;

    std::vector<uint8_t> fmt;
    Put16(fmt, extensible ? kWaveFormatExtensible : f.formatTag);
    Put16(fmt, f.channels);
    Put32(fmt, f.sampleRate);
    Put32(fmt, f.avgBytesPerSec ? f.avgBytesPerSec : f.sampleRate * f.blockAlign);
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
        Put16(fmt, static_cast<uint32_t>(f.extra.size()));  // cbSize
        fmt.insert(fmt.end(), f.extra.begin(), f.extra.end());
        if (fmt.size() & 1) fmt.push_back(0);
    }

    std::vector<uint8_t> out;
    const uint64_t padded = dataBytes + (dataBytes & 1);
    const uint32_t headerLength = 12 + 8 + static_cast<uint32_t>(fmt.size()) + (fact ? 12 : 0) +
                                  static_cast<uint32_t>(listChunk.size()) + 8;
    PutTag(out, "RIFF");
    Put32(out, static_cast<uint32_t>(headerLength - 8 + padded));
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    Put32(out, static_cast<uint32_t>(fmt.size()));
    out.insert(out.end(), fmt.begin(), fmt.end());
    if (fact) {
        PutTag(out, "fact");
        Put32(out, 4);
        Put32(out,
              static_cast<uint32_t>(sampleFrames > 0xFFFFFFFFull ? 0xFFFFFFFFull : sampleFrames));
    }
    out.insert(out.end(), listChunk.begin(), listChunk.end());
    PutTag(out, "data");
    Put32(out, static_cast<uint32_t>(dataBytes));
    return out;
}
