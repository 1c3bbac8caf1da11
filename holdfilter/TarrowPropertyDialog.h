#pragma once

#include <gst/gst.h>

#include <QDialog>

#include "TarrowPropertyPage.h"

class QLabel;
class QLineEdit;
class QPushButton;

// A small Qt front end for the hold element's property page: two fields in milliseconds with
// OK, Cancel and Apply. User-interface thread only.
class CTarrowPropertyDialog : public QDialog, private ITarrowPageView, private ITarrowPageSite {
    Q_OBJECT
public:
    explicit CTarrowPropertyDialog(QWidget* parent = nullptr);
    ~CTarrowPropertyDialog() override;

    // Connects the page to an object with IVireoProperties and shows its values;
    // E_NOINTERFACE when it has none.
    HRESULT Connect(IVireoUnknown* object);
    // The same for a "tarrowhold" element (its "properties" store).
    HRESULT ConnectElement(GstElement* element);

    CTarrowPropertyPage& Page() { return m_page; }
    QLineEdit* StartPointEdit() const { return m_startEdit; }
    QLineEdit* DurationEdit() const { return m_durationEdit; }
    QPushButton* ApplyButton() const { return m_applyButton; }

private:
    std::string ControlText(int controlId) override;
    void SetControlText(int controlId, const std::string& text) override;
    void ShowWarning(const std::string& text) override;
    void OnStatusChange(std::uint32_t flags) override;
    QWidget* Control(int controlId) const;
    void OnOk();

    CTarrowPropertyPage m_page;
    QLabel* m_startLabel;
    QLineEdit* m_startEdit;
    QLabel* m_durationLabel;
    QLineEdit* m_durationEdit;
    QPushButton* m_applyButton;
};
