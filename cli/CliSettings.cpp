#include "CliSettings.h"

#include <algorithm>
#include <tuple>

#include "AudioFormatChooser.h"
#include "EncoderDiscovery.h"
#include "RememberedSelections.h"
#include "SettingsTables.h"

namespace {

// A list of the settings dialog without its window: texts in list order and one selection.
class CTextList : public ISelectionList {
public:
    CTextList() = default;
    template <typename Texts>
    explicit CTextList(const Texts& texts) : m_items(texts.begin(), texts.end()) {}

    int Count() const override { return static_cast<int>(m_items.size()); }
    int Selected() const override { return m_selected; }
    void Select(int position) override {
        m_selected = position >= 0 && position < Count() ? position : -1;
    }

    std::string Text() const { return m_selected >= 0 ? m_items[m_selected] : std::string(); }
    void SelectText(const std::string& text) {
        const auto it = std::find(m_items.begin(), m_items.end(), text);
        m_selected = it == m_items.end() ? -1 : static_cast<int>(it - m_items.begin());
    }
    bool Has(const std::string& text) const {
        return std::find(m_items.begin(), m_items.end(), text) != m_items.end();
    }

private:
    std::vector<std::string> m_items;
    int m_selected = -1;
};

CTextList EncoderList(EncoderCategory category) {
    std::vector<std::string> names;
    EnumerateEncoders(category, names);
    CTextList list(names);
    list.Select(0);
    return list;
}

const char* CategoryTitle(EncoderCategory category) {
    switch (category) {
        case EncoderCategory::AviVideo:
            return "Video encoders (AVI)";
        case EncoderCategory::AviAudio:
            return "Audio encoders (AVI)";
        case EncoderCategory::WavAudio:
            return "Audio encoders (WAV/MP3)";
    }
    return "";
}

}  // namespace

EncoderCategory CCliSettings::AudioCategory() const {
    return Format() == WavMp3 ? EncoderCategory::WavAudio : EncoderCategory::AviAudio;
}

bool CCliSettings::Validate(std::string& error) const {
    auto known = [&](EncoderCategory category, const std::optional<std::string>& name) {
        if (!name || EncoderList(category).Has(*name)) return true;
        error = "no " + std::string(CategoryTitle(category)) + " entry named \"" + *name +
                "\" (see --list-encoders)";
        return false;
    };
    if (Format() == Avi && !known(EncoderCategory::AviVideo, m_options.videoEncoder)) return false;
    if (Format() != Mpeg && !known(AudioCategory(), m_options.audioEncoder)) return false;
    return true;
}

bool CCliSettings::RunModal() {
    using namespace settingstables;
    const OutputFormat format = Format();
    ConversionSettings& s = m_settings;
    s.outputFormat = format;

    // What the dialog opens with: the remembered positions of this format's lists.
    RememberedSelections remembered;
    remembered.Load(s.audio);
    CTextList width(kWidths), height(kHeights);
    CTextList rate = format == Mpeg ? CTextList(kMpegFrameRates) : CTextList(kAviFrameRates);
    CTextList video, audioList;
    if (format == Avi) {
        video = EncoderList(EncoderCategory::AviVideo);
        audioList = EncoderList(EncoderCategory::AviAudio);
    } else if (format == Mpeg) {
        video = CTextList(kMpegTypes);
        audioList = CTextList(kVideoStandards);
    } else {
        audioList = EncoderList(EncoderCategory::WavAudio);
    }
    remembered.Restore(format, SelectionLists{&width, &height, &rate, &video, &audioList});

    if (format == Mpeg) {
        // A disc type fixes the frame size and comes back in PAL; the standard then sets the
        // frame rate (and the disc size), as when the dialog opens and the user picks them.
        auto applyType = [&] {
            if (IsDiscType(video.Selected())) {
                const FrameSizePositions size = *DiscFrameSize(video.Selected(), false);
                width.Select(size.width);
                height.Select(size.height);
                rate.Select(kPalFrameRatePosition);
                audioList.Select(Pal);
            }
        };
        auto applyStandard = [&] {
            if (audioList.Selected() < 0) return;
            const bool ntsc = audioList.Selected() == Ntsc;
            if (const auto size = DiscFrameSize(video.Selected(), ntsc)) {
                width.Select(size->width);
                height.Select(size->height);
            }
            rate.Select(ntsc ? kNtscFrameRatePosition : kPalFrameRatePosition);
        };
        if (m_options.mpegType) video.SelectText(*m_options.mpegType);
        applyType();
        applyStandard();
        if (m_options.standard) {
            audioList.SelectText(*m_options.standard);
            applyStandard();
        }
    }
    if (m_options.width) width.SelectText(*m_options.width);
    if (m_options.height) height.SelectText(*m_options.height);
    if (m_options.frameRate) rate.SelectText(*m_options.frameRate);
    if (m_options.videoEncoder) video.SelectText(*m_options.videoEncoder);
    if (m_options.audioEncoder) audioList.SelectText(*m_options.audioEncoder);

    if (format != WavMp3) {
        s.widthText = width.Text();
        s.heightText = height.Text();
        s.frameRateText = rate.Text();
        s.videoListText = video.Text();
    }
    s.audioListText = audioList.Text();

    if (format == Mpeg) {
        s.mpegEncoder = CreateMpegEncoder();
        s.audioText.clear();
        if (!s.mpegEncoder) {
            m_error = "the MPEG writer element (kestrinempegwriter) is not available";
            return false;
        }
        const int preset = MpegPresetCode(video.Selected(), audioList.Selected());
        if (preset >= 0) ConfigureMpegEncoder(s.mpegEncoder, preset);
        return true;
    }

    if (format == Avi && video.Selected() > 0)
        s.videoEncoder = CreateFilterByName(EncoderCategory::AviVideo, s.videoListText);
    if (audioList.Selected() > 0)
        s.audioEncoder = CreateFilterByName(AudioCategory(), s.audioListText);
    for (const auto& [wanted, made, name] :
         {std::tuple{format == Avi && video.Selected() > 0, bool(s.videoEncoder), s.videoListText},
          std::tuple{audioList.Selected() > 0, bool(s.audioEncoder), s.audioListText}}) {
        if (wanted && !made) {
            m_error = "the encoder \"" + name + "\" cannot be created";
            return false;
        }
    }

    CAudioFormatChooser chooser(AudioCategory());
    chooser.ChooseInitialFormat(s.audioEncoder, s.audio);
    if (m_options.audioFormat) {
        const int position = *m_options.audioFormat;
        if (position >= static_cast<int>(chooser.formats.size())) {
            m_error = "--audio-format " + std::to_string(position) + ": the encoder lists " +
                      std::to_string(chooser.formats.size()) +
                      " formats (see --list-audio-formats)";
            m_errorIsUsage = true;
            return false;
        }
        chooser.position = position;
        chooser.chosen = chooser.formats[position];
        s.audio.formatTag = chooser.formats[position].formatTag;
    }
    s.audio.formatIndex = chooser.position;
    s.audioText = chooser.DescribeFormat(-1);
    s.fileNameSuffix = chooser.FormatSuffix();
    s.audioFormat = chooser.chosen;
    return true;
}

std::string ListEncodersText() {
    std::string text;
    for (EncoderCategory category :
         {EncoderCategory::AviVideo, EncoderCategory::AviAudio, EncoderCategory::WavAudio}) {
        text += std::string(CategoryTitle(category)) + ":\n";
        std::vector<std::string> names;
        EnumerateEncoders(category, names);
        for (const std::string& name : names) text += "  " + name + "\n";
    }
    return text;
}

bool ListAudioFormatsText(OutputFormat format, const std::string& encoder, std::string& text) {
    const EncoderCategory category =
        format == WavMp3 ? EncoderCategory::WavAudio : EncoderCategory::AviAudio;
    text.clear();
    if (encoder == kUncompressed) {
        text = "  (uncompressed PCM at the clip's own rate; no formats to choose)\n";
        return true;
    }
    const std::string factory = FactoryForName(category, encoder);
    if (factory.empty()) return false;
    CAudioFormatChooser chooser(category);
    chooser.formats = EncoderFormats(category, factory);
    for (int i = 0; i < static_cast<int>(chooser.formats.size()); ++i)
        text += "  " + std::to_string(i) + ": " + chooser.DescribeFormat(i) + "\n";
    if (chooser.formats.empty()) text = "  " + chooser.DescribeFormat(-1) + "\n";
    return true;
}
