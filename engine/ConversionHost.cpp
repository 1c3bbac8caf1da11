#include "ConversionHost.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <memory>

ClipResult CConversionHost::ConvertClip(const std::string& destination, CProjectItem& clip,
                                        ConversionSettings& settings) {
    const OutputFormat format = settings.outputFormat;
    m_engine.reset();
    m_engine = std::make_unique<CConversionEngine>();
    m_engine->SetNotifyTarget(m_view.NotifyTarget());
    if (IPreviewPane* pane = m_view.PreviewPane()) m_engine->SetVideoWindow(pane);
    m_engine->SetSourceTags(clip.GetTags());

    // A failed group or source is not reported here: the conversion goes on with what exists,
    // and an empty timeline ends the run with a failure.
    if (clip.GetHasVideo() && (format == Avi || format == Mpeg) &&
        SUCCEEDED(m_engine->AddGroup(MediaKind::Video, 1)))
        m_engine->AddSource(MediaKind::Video, clip.GetPath(), clip.GetMediaStart(),
                            clip.ConvertStop(), 0);
    if (clip.GetHasAudio()) {
        if (SUCCEEDED(m_engine->AddGroup(MediaKind::Audio, 1)))
            m_engine->AddSource(MediaKind::Audio, clip.GetPath(), clip.GetMediaStart(),
                                clip.ConvertStop(), 0);
    } else if (format == WavMp3) {
        return {E_FAIL, kNoAudio + clip.GetName()};
    }

    ApplyAudioSettings(settings);
    ApplyVideoSettings(settings);

    HRESULT hr = m_engine->BuildRenderEngine(0);
    if (SUCCEEDED(hr))
        hr = m_engine->RunConversion(format, 1, destination, settings.videoEncoder,
                                     settings.audioEncoder, settings.mpegEncoder,
                                     settings.audioFormat);
    if (FAILED(hr) && hr != E_ABORT) return {hr, m_engine->FailureText()};
    return {hr, {}};
}

void CConversionHost::ApplyAudioSettings(ConversionSettings& settings) {
    AudioParams& audio = settings.audio;
    if (settings.outputFormat == Mpeg || !settings.audioFormat) {
        audio.mono = 0;
        audio.bitsPerSample = 16;
        audio.sampleRate = 48000;
    } else {
        const WaveFormat& chosen = *settings.audioFormat;
        audio.mono = chosen.channels == 1 ? 1 : 0;
        audio.sampleRate = chosen.samplesPerSec;
        audio.bitsPerSample = chosen.bitsPerSample >= 8 ? chosen.bitsPerSample : 16;
    }
    if (m_engine) m_engine->SetAudioParams(audio);
}

namespace {

// The number at the start of a text ("29.97", " 25 fps"), 0 when there is none. Independent of
// the user's locale: the frame rate list always uses a decimal point.
double LeadingNumber(const std::string& text) {
    size_t start = 0;
    while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
    double value = 0;
    std::from_chars(text.data() + start, text.data() + text.size(), value);
    return value;
}

}  // namespace

HRESULT CConversionHost::ApplyVideoSettings(const ConversionSettings& settings) {
    if (!m_engine) return E_FAIL;
    const int width = std::atoi(settings.widthText.c_str());
    const int height = std::atoi(settings.heightText.c_str());
    const double rate = LeadingNumber(settings.frameRateText);
    return m_engine->SetVideoParams(width, height, rate);
}

void CConversionHost::StopEngine() {
    if (m_engine) m_engine->Stop();
}
