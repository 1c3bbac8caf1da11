#pragma once

#include <memory>
#include <string>

#include "ConversionEngine.h"
#include "ConversionSettings.h"
#include "PreviewPane.h"
#include "ProjectItem.h"
#include "Result.h"

// What the per-clip conversion needs of the window that runs it (the main window or the command
// line). It shows nothing itself: its result goes back to the batch driver. User-interface
// thread.
class IConversionView {
public:
    virtual ~IConversionView() = default;
    // The preview pane, or none (no preview is shown then).
    virtual IPreviewPane* PreviewPane() = 0;
    // Where the engine's notifications go when the pane names no parent window.
    virtual INotifyTarget* NotifyTarget() = 0;
};

// The main window's per-clip entry, kept free of widgets so that the window and the command
// line share it: a fresh engine per clip, the timeline composed from the clip, the settings
// turned into group formats, and the render run. Owns the current engine (the last one lives
// until the next clip or until the host is destroyed). User-interface thread only.
class CConversionHost {
public:
    // The reason for a clip without audio converted to WAV/MP3 (followed by the clip's name).
    static constexpr const char* kNoAudio = "No audio was found in this file: ";

    explicit CConversionHost(IConversionView& view) : m_view(view) {}

    // Converts the clip into destination: S_OK written to the end, E_ABORT stopped, otherwise a
    // failure with its reason (the engine's, else empty). Rewrites settings.audio (see
    // ApplyAudioSettings). Uses the settings' encoders, which stay owned by their creator.
    ClipResult ConvertClip(const std::string& destination, CProjectItem& clip,
                           ConversionSettings& settings);

    // PCM format of the audio group from the settings: 48 kHz 16-bit stereo for MPEG output or
    // when no encoder format was chosen, else the format's rate, channels and sample size (at
    // least 8 bits; smaller sizes ask for 16). Writes it into settings.audio and hands it to the
    // engine.
    void ApplyAudioSettings(ConversionSettings& settings);
    // Frame size and rate from the settings' texts; E_FAIL without engine.
    HRESULT ApplyVideoSettings(const ConversionSettings& settings);

    // The Stop command: stops the current engine's pipeline; nothing without engine.
    void StopEngine();

    CConversionEngine* Engine() const { return m_engine.get(); }
    // Destroys the current engine (the window does this when it closes).
    void ReleaseEngine() { m_engine.reset(); }

private:
    IConversionView& m_view;
    std::unique_ptr<CConversionEngine> m_engine;
};
