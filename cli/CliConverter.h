#pragma once

#include "BatchDriver.h"
#include "CliView.h"
#include "ConversionHost.h"
#include "MediaGraph.h"
#include "NotifyTarget.h"

// The engine behind a command-line batch: no preview; the engine's notifications drive the
// batch's progress and the Ctrl-C check. What a clip's result shows is the batch driver's call.
class CCliConverter : public IClipConverter, public IConversionView, public INotifyTarget {
public:
    CCliConverter() : m_host(*this) {}

    void SetDriver(CBatchDriver* driver) { m_driver = driver; }

    // IClipConverter
    ClipResult ConvertClip(const std::string& destination, CProjectItem& clip,
                           ConversionSettings& settings) override {
        return m_host.ConvertClip(destination, clip, settings);
    }
    void StopEngine() override { m_host.StopEngine(); }

    // IConversionView
    IPreviewPane* PreviewPane() override { return nullptr; }
    INotifyTarget* NotifyTarget() override { return this; }

    // INotifyTarget
    void OnMediaNotify(int messageBase, int k, std::intptr_t wParam,
                       std::intptr_t lParam) override {
        if (messageBase != CConversionEngine::kMessageBase) return;
        if (k == CMediaGraph::kGraphEvents) {
            CConversionEngine* engine = m_host.Engine();
            if (engine && engine->IsVideoWindowActive()) engine->HandleGraphEvents();
            return;
        }
        if (m_driver) m_driver->OnEngineNotify(k, lParam);
    }

private:
    CConversionHost m_host;
    CBatchDriver* m_driver = nullptr;
};
