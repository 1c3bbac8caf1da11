#pragma once

#include "BatchDriver.h"
#include "CliView.h"
#include "ConversionHost.h"
#include "NotifyTarget.h"

// The engine behind a command-line batch: no preview; the engine's log lines and errors go to
// the terminal view; its notifications 2 and 7 drive the batch's progress and Ctrl-C check.
class CCliConverter : public IClipConverter, public IConversionView, public INotifyTarget {
public:
    explicit CCliConverter(CCliView& view) : m_view(view), m_host(*this) {}

    void SetDriver(CBatchDriver* driver) { m_driver = driver; }

    // IClipConverter
    HRESULT ConvertClip(const std::string& destination, CProjectItem& clip,
                        ConversionSettings& settings) override {
        // A failure the engine did not show itself still gets its reason on the terminal.
        m_errorShown = false;
        ClearMediaErrorText();
        const HRESULT hr = m_host.ConvertClip(destination, clip, settings);
        if (FAILED(hr) && hr != E_ABORT && !m_errorShown) ShowError(hr);
        return hr;
    }
    void StopEngine() override { m_host.StopEngine(); }

    // IConversionView
    void AddLogLine(const std::string& line) override { m_view.AddLogLine(line); }
    void ShowError(HRESULT hr) override {
        m_errorShown = true;
        m_view.ShowError(ErrorText(hr));
    }
    IPreviewPane* PreviewPane() override { return nullptr; }
    INotifyTarget* NotifyTarget() override { return this; }

    // INotifyTarget
    void OnMediaNotify(int messageBase, int k, std::intptr_t wParam, std::intptr_t lParam) override {
        if (messageBase != 151) return;
        if (k == 0) {
            CConversionEngine* engine = m_host.Engine();
            if (engine && engine->IsVideoWindowActive()) engine->HandleGraphEvents();
            return;
        }
        if (m_driver) m_driver->OnEngineNotify(k, lParam);
    }

private:
    CCliView& m_view;
    CConversionHost m_host;
    CBatchDriver* m_driver = nullptr;
    bool m_errorShown = false;
};
