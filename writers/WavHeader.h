#pragma once

#include <cstdint>
#include <vector>

// The wave format of a RIFF WAVE file (the fields of WAVEFORMATEX that this writer fills).
struct WavFormat {
    uint16_t formatTag = 1;  // one of the kWaveFormat* tags below
    uint16_t channels = 2;
    uint32_t sampleRate = 44100;
    uint16_t bitsPerSample = 16;   // 0 for formats without a sample size (GSM, MPEG audio)
    uint16_t blockAlign = 4;       // bytes per sample frame (linear formats) or per coded block
    uint32_t avgBytesPerSec = 0;   // 0: sampleRate * blockAlign (linear formats)
    uint16_t samplesPerBlock = 1;  // sample frames one block decodes to
    std::vector<uint8_t> extra;    // the format's extra bytes (what follows cbSize)

    friend bool operator==(const WavFormat&, const WavFormat&) = default;
};

constexpr uint16_t kWaveFormatPcm = 1;
constexpr uint16_t kWaveFormatMsAdpcm = 2;
constexpr uint16_t kWaveFormatIeeeFloat = 3;
constexpr uint16_t kWaveFormatAlaw = 6;
constexpr uint16_t kWaveFormatMulaw = 7;
constexpr uint16_t kWaveFormatImaAdpcm = 0x11;
constexpr uint16_t kWaveFormatGsm610 = 0x31;
constexpr uint16_t kWaveFormatMpeg = 0x50;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

// Linear formats: PCM (8 bits unsigned, 16/24/32 bits signed) or IEEE float of bits.
WavFormat LinearWavFormat(uint16_t formatTag, uint16_t channels, uint32_t rate, uint16_t bits);

// IMA (DVI) ADPCM in blocks of blockAlign bytes: a 4-byte header per channel, then 4 bits per
// sample; samplesPerBlock = (blockAlign - 4 * channels) * 2 / channels + 1.
WavFormat ImaAdpcmWavFormat(uint16_t channels, uint32_t rate, uint16_t blockAlign);

// Microsoft ADPCM in blocks of blockAlign bytes with the seven standard coefficient pairs: a
// 7-byte header per channel, then 4 bits per sample; samplesPerBlock =
// (blockAlign - 7 * channels) * 2 / channels + 2.
WavFormat MsAdpcmWavFormat(uint16_t channels, uint32_t rate, uint16_t blockAlign);

// GSM 6.10 in Microsoft framing: mono, 65-byte blocks holding two 160-sample frames.
WavFormat Gsm610WavFormat(uint32_t rate);

// MPEG audio layer 1 or 2 (MPEG1WAVEFORMAT) at bitRate bits/s; mono or stereo.
WavFormat MpegWavFormat(uint16_t channels, uint32_t rate, int layer, uint32_t bitRate);

// True when the format is coded in blocks rather than one sample frame at a time.
inline bool IsBlockCoded(const WavFormat& f) {
    return f.formatTag == kWaveFormatMsAdpcm || f.formatTag == kWaveFormatImaAdpcm ||
           f.formatTag == kWaveFormatGsm610 || f.formatTag == kWaveFormatMpeg;
}

// The header in front of dataBytes of sample data: "RIFF" chunk header, "fmt " chunk
// (WAVE_FORMAT_EXTENSIBLE for linear formats with more than two channels or more than 16 bits,
// as readers expect), a "fact" chunk with sampleFrames for every format but plain PCM, the
// given "LIST" chunk (may be empty) and the "data" chunk header. Its length depends on the
// format and the list chunk only, so the final header overwrites the provisional one in place.
// The RIFF size counts the pad byte that follows odd-sized data.
std::vector<uint8_t> BuildWavHeader(const WavFormat& format, uint64_t dataBytes,
                                    uint64_t sampleFrames,
                                    const std::vector<uint8_t>& listChunk = {});

// The most sample data one RIFF file can describe (its sizes are 32-bit).
constexpr uint64_t kMaxWavDataBytes = 0xFFFFFFFFull - 256 - 65536;
