#include "TarrowPropertyPage.h"

#include "TarrowRange.h"

const char* TarrowPageString(int id) {
    switch (id) {
        case IDS_START_POINT_LABEL:
            return "Start point (ms):";
        case IDS_DURATION_LABEL:
            return "Duration (ms, 0 = to the end):";
        case IDS_EMPTY_FIELD:
            return "Please enter a number of milliseconds in both fields.";
        case IDS_PAGE_TITLE:
            return "Tarrow Hold";
        default:
            return nullptr;
    }
}

CTarrowPropertyPage::~CTarrowPropertyPage() {
    if (m_properties) m_properties->Release();
}

HRESULT CTarrowPropertyPage::OnConnect(IVireoUnknown* object) {
    if (!object) return E_NOINTERFACE;
    void* found = nullptr;
    if (FAILED(object->QueryInterface(IID_IVireoProperties, &found)) || !found)
        return E_NOINTERFACE;
    if (m_properties) m_properties->Release();
    m_properties = static_cast<IVireoProperties*>(found);
    return S_OK;
}

HRESULT CTarrowPropertyPage::OnDisconnect() {
    if (!m_properties) return E_UNEXPECTED;
    m_properties->Release();
    m_properties = nullptr;
    return S_OK;
}

void CTarrowPropertyPage::OnInitDialog(ITarrowPageView* view) {
    m_view = view;
    if (!m_view) return;
    if (const char* text = TarrowPageString(IDS_START_POINT_LABEL))
        m_view->SetControlText(IDC_START_POINT_LABEL, text);
    if (const char* text = TarrowPageString(IDS_DURATION_LABEL))
        m_view->SetControlText(IDC_DURATION_LABEL, text);
    std::int64_t startPoint = 0, duration = 0;
    tarrow::ReadRange(m_properties, tarrow::kStartPointKey, &startPoint);
    tarrow::ReadRange(m_properties, tarrow::kDurationKey, &duration);
    m_view->SetControlText(IDC_START_POINT, std::to_string(startPoint / 10000));
    m_view->SetControlText(IDC_DURATION, std::to_string(duration / 10000));
    m_dirty = false;
}

void CTarrowPropertyPage::OnEditChanged(int controlId) {
    if (controlId != IDC_START_POINT && controlId != IDC_DURATION) return;
    if (m_site) {
        m_site->OnStatusChange(PROPPAGESTATUS_DIRTY);
        m_dirty = true;
    }
}

HRESULT CTarrowPropertyPage::OnApplyChanges() {
    if (!m_view) return S_OK;
    const std::string startText = m_view->ControlText(IDC_START_POINT).substr(0, 259);
    const std::string durationText = m_view->ControlText(IDC_DURATION).substr(0, 259);
    if (startText.empty() || durationText.empty()) {
        const char* text = TarrowPageString(IDS_EMPTY_FIELD);
        m_view->ShowWarning(text ? text : kEmptyFieldFallback);
        return S_OK;
    }
    if (m_properties) {
        // Milliseconds to reference time; wraps like the 64-bit product it is.
        auto toReference = [](const std::string& text) {
            return static_cast<std::int64_t>(
                static_cast<std::uint64_t>(tarrow::Atoi64(text.c_str())) * 10000u);
        };
        PropValue value;
        value.type = PropLongLong;
        value.value.longlongValue = toReference(startText);
        m_properties->SetValue(tarrow::kStartPointKey, &value);
        value.value.longlongValue = toReference(durationText);
        m_properties->SetValue(tarrow::kDurationKey, &value);
        m_properties->SetChanged(1);
        m_properties->NotifyChanged();
    }
    m_dirty = false;
    if (m_site) m_site->OnStatusChange(PROPPAGESTATUS_DIRTY);
    return S_OK;
}
