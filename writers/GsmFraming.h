#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Repacks GSM 06.10 from the standard framing (33-byte frames, 160 samples each, parameters
// packed from the most significant bit) into the Microsoft framing that WAV files use (65-byte
// blocks holding two frames, the same parameters packed from the least significant bit).
class CGsmMsPacker {
public:
    static constexpr size_t kFrameBytes = 33;
    static constexpr size_t kBlockBytes = 65;
    static constexpr int kFrameSamples = 160;

    // Takes standard frames in any split across calls; appends every completed block to out.
    void Add(const uint8_t* data, size_t size, std::vector<uint8_t>& out);
    // Completes a block holding one frame with a silent one and appends it; no-op otherwise.
    void Finish(std::vector<uint8_t>& out);
    // Whole frames taken so far.
    uint64_t Frames() const { return m_frames; }

private:
    using Parameters = std::array<uint8_t, 76>;
    static Parameters Unpack(const uint8_t* frame);
    static void PackBlock(const Parameters& first, const Parameters& second,
                          std::vector<uint8_t>& out);

    uint8_t m_partial[kFrameBytes] = {};
    size_t m_partialSize = 0;
    Parameters m_pending{};
    bool m_hasPending = false;
    uint64_t m_frames = 0;
};
