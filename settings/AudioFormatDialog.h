#pragma once

#include "AudioFormatChooser.h"
#include "SkinDialog.h"

class QListWidget;
class CVireoButton;

enum AudioFormatControlId {
    IDC_FORMAT_LIST = 1010,
    IDC_FORMAT_OK = 1018,
    IDC_FORMAT_CANCEL = 1019
};

// The audio format picker (template 146): lists the encoder's output formats, starts on the
// automatic choice and returns the confirmed one. Run ChooseInitialFormat() before showing it.
// "OK" sets position and chosen to the selected line and accepts; "Cancel" rejects.
class CAudioFormatDialog : public CSkinDialog, public CAudioFormatChooser {
    Q_OBJECT

public:
    explicit CAudioFormatDialog(EncoderCategory category, QWidget* parent = nullptr);
    ~CAudioFormatDialog() override;

    int DoModal() { return exec(); }

    void OnInitDialog();
    void OnOK();
    void OnCancel();

    QListWidget* FormatList() const { return m_list; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QListWidget* m_list = nullptr;
    CVireoButton* m_okButton = nullptr;
    CVireoButton* m_cancelButton = nullptr;
    bool m_initialised = false;
};
