#pragma once

#include <QPointer>

#include "AudioFormatChooser.h"
#include "ConversionSettings.h"
#include "RememberedSelections.h"
#include "Result.h"
#include "SkinDialog.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class CAudioFormatDialog;
class CVireoButton;

// Control identifiers of the settings dialog (template 139); each control's objectName is its
// number, so tests and tools find it with findChild<...>("1005").
enum SettingsControlId {
    IDC_OUTPUT_FORMAT_LABEL = 1058,
    IDC_OUTPUT_FORMAT = 1023,
    IDC_FRAME_SIZE_LABEL = 1044,
    IDC_WIDTH = 1005,
    IDC_SIZE_X = 1080,
    IDC_HEIGHT = 1009,
    IDC_FPS_LABEL = 1043,
    IDC_FRAME_RATE = 1027,
    IDC_VIDEO_LABEL = 1041,
    IDC_VIDEO_LIST = 1007,
    IDC_PROPERTIES = 1019,
    IDC_AUDIO_LABEL = 1042,
    IDC_AUDIO_LIST = 1016,
    IDC_AUDIO_SETTINGS = 1012,
    IDC_CHANGE = 1020,
    IDC_START_CONVERSION = 1017,
    IDC_EXIT = 1015,
};

// The modal dialog shown before every batch: output format, frame size and rate, encoders and
// audio format. It holds the ConversionSettings the batch reads, the remembered list positions
// per output format (saved on a format switch and on "Start Conversion", never on "Exit"), and
// creates the encoder elements the batch takes over. User-interface thread only.
//
// Construct, set Settings().outputFormat and Settings().audio, then DoModal(); the dialog
// initialises itself when it is first shown. It stays readable after the modal loop ends.
class CSettingsDialog : public CSkinDialog {
    Q_OBJECT

public:
    explicit CSettingsDialog(QWidget* parent = nullptr);
    ~CSettingsDialog() override;

    ConversionSettings& Settings() { return m_settings; }
    const ConversionSettings& Settings() const { return m_settings; }

    // Runs the dialog: QDialog::Accepted for "Start Conversion", Rejected for "Exit".
    int DoModal() { return exec(); }

    // Event handlers (the dialog's entry points; public so a host can drive them directly).
    void OnInitDialog();
    void OnOutputFormatChanged(int format);
    void OnVideoListChanged();
    void OnAudioListChanged();
    // "Properties": the video encoder's property dialog. E_FAIL without a video encoder,
    // E_NOINTERFACE when it has nothing to set.
    HRESULT OnProperties();
    // "Change": the audio format picker.
    void OnChangeAudioFormat();
    void OnStartConversion();
    void OnExit();

    // Profile persistence of the remembered positions (section "Settings").
    void LoadSettings();
    void RestoreSelections();
    void CaptureSelections();
    void SaveSettings();

    // The MPEG presets: sizes, rate and list states by the output type and the standard.
    void ApplyMpegType();
    void ApplyVideoStandard();
    // Sends the preset code of the selected type and standard to the MPEG writer: E_FAIL without
    // a writer or without a selected type.
    HRESULT ConfigureMpegEncoder();

    // Transfer between the controls and the record (the five list texts and the audio text).
    void TransferControlsToRecord();
    void TransferRecordToControls();

    const RememberedSelections& Remembered() const { return m_remembered; }

protected:
    void showEvent(QShowEvent* event) override;
    // Shows the audio format picker modally; tests replace it to answer without a modal loop.
    virtual int RunAudioFormatPicker(CAudioFormatDialog& picker);
    // Shows the video encoder's property dialog modally.
    virtual int RunPropertiesDialog(QDialog& dialog);

private:
    void CreateControls();
    // The output format shown in list 1023 (the one being switched to during a switch).
    OutputFormat ShownFormat() const;
    EncoderCategory AudioCategory() const;
    SelectionLists Lists();
    void FillOutputFormats();
    void FillFrameSizes();
    void FillFrameRates(bool mpegForm);
    void FillEncoders(QComboBox* list, EncoderCategory category);
    void ApplyPresentation(OutputFormat format);
    void SelectFrameSize(bool ntsc);
    void EnableFrameLists(bool enable);
    // Re-creates the video encoder unless the one held is already the selected one.
    void EnsureVideoEncoder();

    ConversionSettings m_settings;
    RememberedSelections m_remembered;
    bool m_initialised = false;

    QListWidget* m_outputFormatList = nullptr;
    QComboBox* m_widthList = nullptr;
    QComboBox* m_heightList = nullptr;
    QComboBox* m_frameRateList = nullptr;
    QComboBox* m_videoList = nullptr;
    QComboBox* m_audioList = nullptr;
    QLabel* m_videoLabel = nullptr;
    QLabel* m_audioLabel = nullptr;
    QLineEdit* m_audioSettingsEdit = nullptr;
    CVireoButton* m_propertiesButton = nullptr;
    CVireoButton* m_changeButton = nullptr;
    CVireoButton* m_startButton = nullptr;
    CVireoButton* m_exitButton = nullptr;
    class ComboSelection;
    std::unique_ptr<ComboSelection> m_widthSelection, m_heightSelection, m_rateSelection,
        m_videoSelection, m_audioSelection;
};
