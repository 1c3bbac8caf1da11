#pragma once

#include <QFileInfo>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ConversionEngine.h"
#include "ConversionHost.h"
#include "MediaFramework.h"
#include "NotifyTarget.h"
#include "PreviewPane.h"
#include "ProjectItem.h"
#include "TestMedia.h"

namespace enginetest {

// Stands in for the main window: records notifications, and can act from inside a notification, the
// way the window serves the Stop command while it pumps messages during a conversion.
struct FakeWindow : IConversionView, INotifyTarget, IPreviewPane {
    struct Event {
        int k;
        std::intptr_t lParam;
    };
    std::vector<Event> events;
    std::function<void(int k, std::intptr_t lParam)> onEvent;
    bool withPane = false;
    int messageBase = 0;

    std::mutex frameLock;  // frames arrive on a streaming thread
    int frames = 0;
    int frameWidth = 0, frameHeight = 0;
    bool cleared = false;

    IPreviewPane* PreviewPane() override { return withPane ? this : nullptr; }
    INotifyTarget* NotifyTarget() override { return this; }

    void OnMediaNotify(int base, int k, std::intptr_t, std::intptr_t lParam) override {
        messageBase = base;
        events.push_back({k, lParam});
        if (onEvent) onEvent(k, lParam);
    }

    INotifyTarget* NotifyParent() const override { return const_cast<FakeWindow*>(this); }
    bool PaneRect(PreviewRect& rect) const override {
        rect = {0, 0, 160, 120};
        return true;
    }
    void PresentFrame(const std::uint8_t*, int width, int height, int) override {
        std::lock_guard<std::mutex> lock(frameLock);
        ++frames;
        frameWidth = width;
        frameHeight = height;
    }
    void ClearFrame() override { cleared = true; }

    std::vector<std::intptr_t> Values(int k) const {
        std::vector<std::intptr_t> v;
        for (const auto& e : events)
            if (e.k == k) v.push_back(e.lParam);
        return v;
    }
};

// A clip item filled with the file's facts, as the probe leaves it.
inline CProjectItem ClipFor(const QString& path) {
    CProjectItem clip;
    const testmedia::ProbeResult facts = testmedia::Probe(path);
    clip.SetPath(path.toStdString());
    clip.SetName(QFileInfo(path).fileName().toStdString());
    clip.SetHasVideo(!facts.videoCodec.isEmpty());
    clip.SetHasAudio(!facts.audioCodec.isEmpty());
    clip.SetSize(facts.width, facts.height);
    const auto length = RefTime(facts.duration * kRefTimePerSecond);
    clip.SetDuration(length);
    clip.SetMediaStop(length);
    return clip;
}

inline ConversionSettings SettingsFor(OutputFormat format, const char* width = "320",
                                      const char* height = "240", const char* rate = "25") {
    ConversionSettings s;
    s.outputFormat = format;
    s.widthText = width;
    s.heightText = height;
    s.frameRateText = rate;
    return s;
}

inline WaveFormat Pcm(std::uint32_t rate, std::uint16_t channels) {
    WaveFormat f;
    f.samplesPerSec = rate;
    f.channels = channels;
    f.bitsPerSample = 16;
    f.blockAlign = std::uint16_t(channels * 2);
    f.avgBytesPerSec = rate * f.blockAlign;
    return f;
}

// 128 kb/s constant-rate MPEG Layer-3 at 44.1 kHz stereo, as the LAME encoder's format list offers
// it.
inline WaveFormat Layer3At128k() {
    WaveFormat f = Pcm(44100, 2);
    f.formatTag = kFormatTagMp3;
    f.bitsPerSample = 0;
    f.encoderCaps = "audio/mpeg, mpegversion=1, layer=3, rate=44100, channels=2";
    f.encoderProperties = {{"target", "bitrate"}, {"bitrate", "128"}, {"cbr", "true"}};
    return f;
}

inline ElementRef Make(const char* factory) {
    return AdoptElement(gst_element_factory_make(factory, nullptr));
}

}  // namespace enginetest
