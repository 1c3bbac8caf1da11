#include "AudioFormatChooser.h"

#include <cstdio>

#include "EncoderDiscovery.h"

namespace {

struct Figures {
    unsigned kbps;
    unsigned kHz;
    const char* channels;
};

Figures FiguresOf(const WaveFormat& f) {
    return {static_cast<unsigned>(std::uint64_t(f.avgBytesPerSec) * 8 / 1000),
            f.samplesPerSec / 1000, f.channels >= 2 ? "Stereo" : "Mono"};
}

}  // namespace

HRESULT CAudioFormatChooser::LoadFormatList() {
    formats.clear();
    if (!encoder) return E_FAIL;
    formats = EncoderFormats(m_category, FactoryNameOf(encoder.get()));
    return formats.empty() ? E_FAIL : S_OK;
}

void CAudioFormatChooser::ChooseInitialFormat(const ElementRef& encoderRef, AudioParams& audio) {
    encoder = encoderRef;
    position = audio.formatIndex;
    chosen.reset();
    LoadFormatList();
    const int count = static_cast<int>(formats.size());
    // A remembered position 0 takes the automatic path like no position at all.
    if (position > 0 && position < count) {
        chosen = formats[position];
        audio.formatTag = chosen->formatTag;
        return;
    }
    if (count == 0) {
        audio.formatTag = kFormatTagNone;
        return;
    }
    const std::uint32_t rate = audio.sampleRate;
    std::uint32_t bestRate = 0;
    std::uint32_t bestByteRate = 0;
    bool found = false;
    for (int i = 0; i < count; ++i) {
        const WaveFormat& f = formats[i];
        const std::uint32_t r = f.samplesPerSec;
        const bool rateFits =
            r == rate || r == rate / 2 || r == rate / 4 || r == rate / 6 || r == rate / 8;
        if (!rateFits || f.avgBytesPerSec <= bestByteRate) continue;
        if (r >= bestRate) {
            position = i;
            bestRate = r;
            found = true;
        }
        // Every candidate raises the bar, chosen or not.
        bestByteRate = f.avgBytesPerSec;
    }
    if (!found) position = 0;
    chosen = formats[position];
    audio.formatTag = chosen->formatTag;
}

std::string CAudioFormatChooser::DescribeFormat(int p) const {
    if (p == -1) p = position;
    if (formats.empty()) return kNoSettings;
    if (p < 0 || p >= static_cast<int>(formats.size())) p = 0;
    const Figures f = FiguresOf(formats[p]);
    char text[96];
    std::snprintf(text, sizeof text, "%u kb/sec -- %u kHz -- %s", f.kbps, f.kHz, f.channels);
    return text;
}

std::string CAudioFormatChooser::FormatSuffix() {
    if (position < 0 || position >= static_cast<int>(formats.size())) position = 0;
    if (formats.empty()) return kNoSettings;
    const Figures f = FiguresOf(formats[position]);
    char text[96];
    std::snprintf(text, sizeof text, "_%ukbps-%ukHz-%s", f.kbps, f.kHz, f.channels);
    return text;
}
