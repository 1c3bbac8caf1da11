#pragma once

#include <cstdint>
#include <vector>

// The wave format of a RIFF WAVE file (the fields of WAVEFORMATEX that this writer fills).
struct WavFormat {
    uint16_t formatTag = 1;  // 1 PCM, 3 IEEE float, 6 A-law, 7 mu-law
    uint16_t channels = 2;
    uint32_t sampleRate = 44100;
    uint16_t bitsPerSample = 16;
    uint16_t blockAlign = 4;  // bytes per sample frame (all channels)
};

constexpr uint16_t kWaveFormatPcm = 1;
constexpr uint16_t kWaveFormatIeeeFloat = 3;
constexpr uint16_t kWaveFormatAlaw = 6;
constexpr uint16_t kWaveFormatMulaw = 7;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

// The header in front of dataBytes of sample data: "RIFF" chunk header, "fmt " chunk
// (WAVE_FORMAT_EXTENSIBLE for more than two channels or more than 16 bits, as readers expect),
// "fact" chunk for formats other than plain PCM, and the "data" chunk header. Its length depends
// on the format only, so the final header overwrites the provisional one in place. The RIFF size
// counts the pad byte that follows odd-sized data.
std::vector<uint8_t> BuildWavHeader(const WavFormat& format, uint64_t dataBytes);

// The most sample data one RIFF file can describe (its sizes are 32-bit).
constexpr uint64_t kMaxWavDataBytes = 0xFFFFFFFFull - 256;
