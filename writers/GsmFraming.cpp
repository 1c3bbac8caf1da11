#include "GsmFraming.h"

#include <algorithm>

namespace {

// Bit sizes of a frame's 76 parameters in coding order: 8 log-area ratios, then for each of
// the 4 subframes the lag, gain, grid position, block maximum and 13 pulses.
constexpr std::array<uint8_t, 76> MakeSizes() {
    std::array<uint8_t, 76> sizes{6, 6, 5, 5, 4, 4, 3, 3};
    size_t i = 8;
    for (int sub = 0; sub < 4; ++sub) {
        for (uint8_t s : {7, 2, 2, 6}) sizes[i++] = s;
        for (int pulse = 0; pulse < 13; ++pulse) sizes[i++] = 3;
    }
    return sizes;
}

constexpr std::array<uint8_t, 76> kSizes = MakeSizes();

}  // namespace

CGsmMsPacker::Parameters CGsmMsPacker::Unpack(const uint8_t* frame) {
    Parameters params{};
    size_t bit = 4;  // after the 0xD signature nibble
    for (size_t i = 0; i < kSizes.size(); ++i) {
        uint8_t value = 0;
        for (int b = 0; b < kSizes[i]; ++b, ++bit) {
            const int set = (frame[bit / 8] >> (7 - bit % 8)) & 1;
            value = static_cast<uint8_t>((value << 1) | set);
        }
        params[i] = value;
    }
    return params;
}

void CGsmMsPacker::PackBlock(const Parameters& first, const Parameters& second,
                             std::vector<uint8_t>& out) {
    uint8_t block[kBlockBytes] = {};
    size_t bit = 0;
    for (const Parameters* params : {&first, &second}) {
        for (size_t i = 0; i < kSizes.size(); ++i) {
            for (int b = 0; b < kSizes[i]; ++b, ++bit) {
                if (((*params)[i] >> b) & 1) block[bit / 8] |= static_cast<uint8_t>(1 << (bit % 8));
            }
        }
    }
    out.insert(out.end(), block, block + kBlockBytes);
}

void CGsmMsPacker::Add(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    while (size > 0) {
        const size_t take = std::min(size, kFrameBytes - m_partialSize);
        std::copy(data, data + take, m_partial + m_partialSize);
        m_partialSize += take;
        data += take;
        size -= take;
        if (m_partialSize < kFrameBytes) break;
        m_partialSize = 0;
        ++m_frames;
        Parameters params = Unpack(m_partial);
        if (m_hasPending) {
            PackBlock(m_pending, params, out);
            m_hasPending = false;
        } else {
            m_pending = params;
            m_hasPending = true;
        }
    }
}

void CGsmMsPacker::Finish(std::vector<uint8_t>& out) {
    if (!m_hasPending) return;
    PackBlock(m_pending, Parameters{}, out);
    m_hasPending = false;
}
