#include "SettingsDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QShowEvent>

#include "AudioFormatDialog.h"
#include "EncoderDiscovery.h"
#include "EncoderPropertiesDialog.h"
#include "ResourceIds.h"
#include "SettingsTables.h"
#include "VireoButton.h"

using namespace settingstables;

// A drop-down list seen as a remembered-position list. Selecting a position the list does not
// have leaves it without a selection. Programmatic selection never runs the change handlers:
// those follow the user's choices only (QComboBox::activated).
class CSettingsDialog::ComboSelection : public ISelectionList {
public:
    explicit ComboSelection(QComboBox* combo) : m_combo(combo) {}
    int Count() const override { return m_combo->count(); }
    int Selected() const override { return m_combo->currentIndex(); }
    void Select(int position) override {
        m_combo->setCurrentIndex(position >= 0 && position < m_combo->count() ? position : -1);
    }

private:
    QComboBox* m_combo;
};

namespace {

template <typename List>
QStringList Texts(const List& list) {
    QStringList texts;
    for (const char* text : list) texts << QString::fromLatin1(text);
    return texts;
}

void Refill(QComboBox* combo, const QStringList& texts) {
    combo->clear();
    combo->addItems(texts);
    combo->setCurrentIndex(-1);
}

std::string TextOf(const QComboBox* combo) {
    return combo->currentIndex() >= 0 ? combo->currentText().toStdString() : std::string();
}

// Selects the first entry equal to text; an empty or unknown text leaves no selection.
void SelectText(QComboBox* combo, const std::string& text) {
    combo->setCurrentIndex(text.empty() ? -1 : combo->findText(QString::fromStdString(text)));
}

QLabel* MakeLabel(QWidget* parent, int id, const char* text, Qt::Alignment alignment) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    if (id) label->setObjectName(QString::number(id));
    label->setAlignment(alignment | Qt::AlignVCenter);
    return label;
}

QComboBox* MakeDropDown(QWidget* parent, int id) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::number(id));
    combo->setEditable(false);
    combo->setMaxVisibleItems(12);
    return combo;
}

}  // namespace

CSettingsDialog::CSettingsDialog(QWidget* parent)
    : CSkinDialog(IDD_SETTINGS, parent, IDB_SETTINGS_BACKGROUND, IDB_CONTROL) {
    CreateControls();
}

CSettingsDialog::~CSettingsDialog() = default;

void CSettingsDialog::CreateControls() {
    setFixedSize(MapDialogRect(0, 0, 229, 161).size());
    const auto right = Qt::AlignRight;
    MakeLabel(this, IDC_OUTPUT_FORMAT_LABEL, "Output format:", right)
        ->setGeometry(MapDialogRect(8, 28, 49, 8));
    m_outputFormatList = new QListWidget(this);
    m_outputFormatList->setObjectName(QString::number(IDC_OUTPUT_FORMAT));
    m_outputFormatList->setGeometry(MapDialogRect(66, 28, 159, 41));
    MakeLabel(this, IDC_FRAME_SIZE_LABEL, "Frame Size:", right)
        ->setGeometry(MapDialogRect(9, 74, 49, 8));
    m_widthList = MakeDropDown(this, IDC_WIDTH);
    m_widthList->setGeometry(MapDialogRect(66, 72, 35, 12));
    MakeLabel(this, IDC_SIZE_X, "X", Qt::AlignLeft)->setGeometry(MapDialogRect(104, 74, 8, 8));
    m_heightList = MakeDropDown(this, IDC_HEIGHT);
    m_heightList->setGeometry(MapDialogRect(112, 72, 35, 12));
    MakeLabel(this, IDC_FPS_LABEL, "FPS:", right)->setGeometry(MapDialogRect(156, 74, 20, 8));
    m_frameRateList = MakeDropDown(this, IDC_FRAME_RATE);
    m_frameRateList->setGeometry(MapDialogRect(180, 72, 45, 12));
    m_videoLabel = MakeLabel(this, IDC_VIDEO_LABEL, "Video Encoder:", right);
    m_videoLabel->setGeometry(MapDialogRect(8, 91, 50, 8));
    m_videoList = MakeDropDown(this, IDC_VIDEO_LIST);
    m_videoList->setGeometry(MapDialogRect(66, 88, 144, 12));
    m_propertiesButton = new CVireoButton(QStringLiteral("Properties"), this);
    m_propertiesButton->setObjectName(QString::number(IDC_PROPERTIES));
    m_propertiesButton->setGeometry(MapDialogRect(211, 88, 14, 13));
    m_audioLabel = MakeLabel(this, IDC_AUDIO_LABEL, "Audio Encoder:", right);
    m_audioLabel->setGeometry(MapDialogRect(8, 107, 50, 8));
    m_audioList = MakeDropDown(this, IDC_AUDIO_LIST);
    m_audioList->setGeometry(MapDialogRect(66, 105, 159, 12));
    MakeLabel(this, 0, "Audio Settings:", right)->setGeometry(MapDialogRect(8, 124, 49, 8));
    m_audioSettingsEdit = new QLineEdit(this);
    m_audioSettingsEdit->setObjectName(QString::number(IDC_AUDIO_SETTINGS));
    m_audioSettingsEdit->setReadOnly(true);
    m_audioSettingsEdit->setGeometry(MapDialogRect(66, 122, 144, 13));
    m_changeButton = new CVireoButton(QStringLiteral("Change"), this);
    m_changeButton->setObjectName(QString::number(IDC_CHANGE));
    m_changeButton->setGeometry(MapDialogRect(211, 122, 14, 13));
    m_startButton = new CVireoButton(QStringLiteral("Start Conversion"), this);
    m_startButton->setObjectName(QString::number(IDC_START_CONVERSION));
    m_startButton->setGeometry(MapDialogRect(155, 141, 69, 16));
    m_startButton->setDefault(true);
    m_exitButton = new CVireoButton(QStringLiteral("Exit"), this);
    m_exitButton->setObjectName(QString::number(IDC_EXIT));
    m_exitButton->setGeometry(MapDialogRect(214, 2, 13, 12));

    m_widthSelection = std::make_unique<ComboSelection>(m_widthList);
    m_heightSelection = std::make_unique<ComboSelection>(m_heightList);
    m_rateSelection = std::make_unique<ComboSelection>(m_frameRateList);
    m_videoSelection = std::make_unique<ComboSelection>(m_videoList);
    m_audioSelection = std::make_unique<ComboSelection>(m_audioList);

    connect(m_outputFormatList, &QListWidget::currentRowChanged, this,
            [this](int row) { OnOutputFormatChanged(row); });
    connect(m_videoList, &QComboBox::activated, this, [this] { OnVideoListChanged(); });
    connect(m_audioList, &QComboBox::activated, this, [this] { OnAudioListChanged(); });
    connect(m_propertiesButton, &QPushButton::clicked, this, [this] { OnProperties(); });
    connect(m_changeButton, &QPushButton::clicked, this, [this] { OnChangeAudioFormat(); });
    connect(m_startButton, &QPushButton::clicked, this, [this] { OnStartConversion(); });
    connect(m_exitButton, &QPushButton::clicked, this, [this] { OnExit(); });
}

void CSettingsDialog::showEvent(QShowEvent* event) {
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    CSkinDialog::showEvent(event);
}

void CSettingsDialog::OnInitDialog() {
    m_initialised = true;
    // The first use of a new GStreamer registry verifies the installed encoders (seconds).
    QApplication::setOverrideCursor(Qt::WaitCursor);
    FillOutputFormats();
    {
        QSignalBlocker quiet(m_outputFormatList);
        m_outputFormatList->setCurrentRow(m_settings.outputFormat);
    }
    FillFrameSizes();
    FillFrameRates(false);
    FillEncoders(m_videoList, EncoderCategory::AviVideo);
    FillEncoders(m_audioList, EncoderCategory::AviAudio);
    LoadSettings();
    OnOutputFormatChanged(m_settings.outputFormat);
    OnVideoListChanged();
    OnAudioListChanged();
    TransferRecordToControls();
    m_propertiesButton->SetBitmaps(IDB_BTN_MORE, IDB_BTN_MORE, IDB_BTN_MORE, 20, 20);
    m_changeButton->SetBitmaps(IDB_BTN_MORE, IDB_BTN_MORE, IDB_BTN_MORE, 20, 20);
    m_startButton->SetBitmaps(IDB_BTN_START_CONVERSION, IDB_BTN_START_CONVERSION,
                              IDB_BTN_START_CONVERSION, 100, 25);
    m_exitButton->SetBitmaps(IDB_BTN_EXIT, IDB_BTN_EXIT, IDB_BTN_EXIT, 20, 20);
    QApplication::restoreOverrideCursor();
}

OutputFormat CSettingsDialog::ShownFormat() const {
    const int row = m_outputFormatList->currentRow();
    return row == Mpeg ? Mpeg : row == WavMp3 ? WavMp3 : Avi;
}

EncoderCategory CSettingsDialog::AudioCategory() const {
    return ShownFormat() == WavMp3 ? EncoderCategory::WavAudio : EncoderCategory::AviAudio;
}

SelectionLists CSettingsDialog::Lists() {
    return {m_widthSelection.get(), m_heightSelection.get(), m_rateSelection.get(),
            m_videoSelection.get(), m_audioSelection.get()};
}

void CSettingsDialog::FillOutputFormats() {
    QSignalBlocker quiet(m_outputFormatList);
    m_outputFormatList->clear();
    m_outputFormatList->addItems(Texts(kOutputFormats));
}

void CSettingsDialog::FillFrameSizes() {
    Refill(m_widthList, Texts(kWidths));
    Refill(m_heightList, Texts(kHeights));
}

void CSettingsDialog::FillFrameRates(bool mpegForm) {
    Refill(m_frameRateList, mpegForm ? Texts(kMpegFrameRates) : Texts(kAviFrameRates));
}

void CSettingsDialog::FillEncoders(QComboBox* list, EncoderCategory category) {
    std::vector<std::string> names;
    HRESULT hr = EnumerateEncoders(category, names);
    QStringList texts;
    for (const std::string& name : names) texts << QString::fromStdString(name);
    Refill(list, texts);
    // Without a media framework the list keeps "_Uncompressed_" alone, unselected.
    if (SUCCEEDED(hr)) list->setCurrentIndex(0);
}

void CSettingsDialog::LoadSettings() {
    m_remembered.Load(m_settings.audio);
    RestoreSelections();
}

void CSettingsDialog::RestoreSelections() {
    m_remembered.Restore(ShownFormat(), Lists());
}

void CSettingsDialog::CaptureSelections() {
    m_remembered.Capture(m_settings.outputFormat, Lists(), m_settings.audio);
}

void CSettingsDialog::SaveSettings() {
    CaptureSelections();
    m_remembered.Save(m_settings.outputFormat);
}

void CSettingsDialog::ApplyPresentation(OutputFormat format) {
    switch (format) {
        case Avi:
            m_videoLabel->setText(QStringLiteral("Video Encoder:"));
            m_videoLabel->setEnabled(true);
            m_audioLabel->setText(QStringLiteral("Audio Encoder:"));
            m_videoList->setEnabled(true);
            m_propertiesButton->setEnabled(true);
            m_changeButton->setEnabled(true);
            EnableFrameLists(true);
            break;
        case Mpeg:
            m_videoLabel->setText(QStringLiteral("Output Type:"));
            m_videoLabel->setEnabled(true);
            m_audioLabel->setText(QStringLiteral("Video Format:"));
            m_videoList->setEnabled(true);
            m_propertiesButton->setEnabled(false);
            m_changeButton->setEnabled(false);
            break;
        case WavMp3:
            m_videoLabel->setText(QStringLiteral("Video encoder:"));
            m_videoLabel->setEnabled(false);
            m_audioLabel->setText(QStringLiteral("Audio encoder:"));
            m_videoList->setEnabled(false);
            m_propertiesButton->setEnabled(false);
            m_changeButton->setEnabled(true);
            EnableFrameLists(false);
            break;
    }
}

void CSettingsDialog::EnableFrameLists(bool enable) {
    m_widthList->setEnabled(enable);
    m_heightList->setEnabled(enable);
    m_frameRateList->setEnabled(enable);
}

void CSettingsDialog::OnOutputFormatChanged(int format) {
    if (format < Avi || format > WavMp3) return;
    const auto f = static_cast<OutputFormat>(format);
    if (f != m_settings.outputFormat) SaveSettings();  // for the format being left
    if (m_outputFormatList->currentRow() != format) {
        QSignalBlocker quiet(m_outputFormatList);
        m_outputFormatList->setCurrentRow(format);
    }
    switch (f) {
        case Avi:
            FillEncoders(m_videoList, EncoderCategory::AviVideo);
            FillEncoders(m_audioList, EncoderCategory::AviAudio);
            ApplyPresentation(Avi);
            FillFrameRates(false);
            RestoreSelections();
            OnVideoListChanged();
            OnAudioListChanged();
            break;
        case Mpeg:
            Refill(m_videoList, Texts(kMpegTypes));
            Refill(m_audioList, Texts(kVideoStandards));
            ApplyPresentation(Mpeg);
            FillFrameRates(true);
            RestoreSelections();
            OnVideoListChanged();
            break;
        case WavMp3:
            FillEncoders(m_audioList, EncoderCategory::WavAudio);
            ApplyPresentation(WavMp3);
            RestoreSelections();
            OnAudioListChanged();
            break;
    }
    m_settings.outputFormat = f;
    TransferControlsToRecord();
    TransferRecordToControls();
}

void CSettingsDialog::OnVideoListChanged() {
    TransferControlsToRecord();
    switch (ShownFormat()) {
        case Avi:
            m_settings.videoEncoder.reset();
            if (m_videoList->currentIndex() > 0)
                m_settings.videoEncoder =
                    CreateFilterByName(EncoderCategory::AviVideo, m_settings.videoListText);
            break;
        case Mpeg:
            m_settings.mpegEncoder.reset();
            m_settings.mpegEncoder = CreateMpegEncoder();
            m_settings.audioText.clear();
            TransferRecordToControls();
            ApplyMpegType();
            break;
        case WavMp3:
            break;
    }
}

void CSettingsDialog::OnAudioListChanged() {
    TransferControlsToRecord();
    if (ShownFormat() == Mpeg) {
        ApplyVideoStandard();
        return;
    }
    const EncoderCategory category = AudioCategory();
    m_settings.audioEncoder.reset();
    if (m_audioList->currentIndex() > 0)
        m_settings.audioEncoder = CreateFilterByName(category, m_settings.audioListText);
    CAudioFormatChooser chooser(category);
    chooser.ChooseInitialFormat(m_settings.audioEncoder, m_settings.audio);
    m_settings.audio.formatIndex = chooser.position;
    m_settings.audioText = chooser.DescribeFormat(chooser.position);
    m_settings.fileNameSuffix = chooser.FormatSuffix();
    TransferRecordToControls();
    m_settings.audioFormat = chooser.chosen;
}

void CSettingsDialog::SelectFrameSize(bool ntsc) {
    if (auto size = DiscFrameSize(m_videoList->currentIndex(), ntsc)) {
        m_widthList->setCurrentIndex(size->width);
        m_heightList->setCurrentIndex(size->height);
    }
}

void CSettingsDialog::ApplyMpegType() {
    if (IsDiscType(m_videoList->currentIndex())) {
        SelectFrameSize(false);
        m_frameRateList->setCurrentIndex(kPalFrameRatePosition);
        m_audioList->setCurrentIndex(Pal);
        EnableFrameLists(false);
    } else {
        EnableFrameLists(true);
    }
}

void CSettingsDialog::ApplyVideoStandard() {
    switch (m_audioList->currentIndex()) {
        case Pal:
            SelectFrameSize(false);
            m_frameRateList->setCurrentIndex(kPalFrameRatePosition);
            break;
        case Ntsc:
            SelectFrameSize(true);
            m_frameRateList->setCurrentIndex(kNtscFrameRatePosition);
            break;
        default:
            if (!IsDiscType(m_videoList->currentIndex())) EnableFrameLists(true);
            break;
    }
}

HRESULT CSettingsDialog::ConfigureMpegEncoder() {
    if (!m_settings.mpegEncoder) return E_FAIL;
    const int code = MpegPresetCode(m_videoList->currentIndex(), m_audioList->currentIndex());
    if (code < 0) return E_FAIL;
    return ::ConfigureMpegEncoder(m_settings.mpegEncoder, code);
}

void CSettingsDialog::EnsureVideoEncoder() {
    // The encoder the user has set up with "Properties" is kept when it is still the selected
    // one; anything else is re-created from the selection.
    TransferControlsToRecord();
    const ElementRef& held = m_settings.videoEncoder;
    if (m_videoList->currentIndex() > 0 && held &&
        FactoryNameOf(held.get()) ==
            FactoryForName(EncoderCategory::AviVideo, m_settings.videoListText))
        return;
    OnVideoListChanged();
}

void CSettingsDialog::OnStartConversion() {
    if (ShownFormat() == Mpeg)
        ConfigureMpegEncoder();  // a missing writer is reported by the engine
    else if (ShownFormat() == Avi)
        EnsureVideoEncoder();
    else
        OnVideoListChanged();
    SaveSettings();
    TransferControlsToRecord();
    accept();
}

void CSettingsDialog::OnExit() {
    reject();
}

void CSettingsDialog::TransferControlsToRecord() {
    m_settings.audioText = m_audioSettingsEdit->text().toStdString();
    m_settings.widthText = TextOf(m_widthList);
    m_settings.heightText = TextOf(m_heightList);
    m_settings.frameRateText = TextOf(m_frameRateList);
    m_settings.videoListText = TextOf(m_videoList);
    m_settings.audioListText = TextOf(m_audioList);
}

void CSettingsDialog::TransferRecordToControls() {
    m_audioSettingsEdit->setText(QString::fromStdString(m_settings.audioText));
    SelectText(m_widthList, m_settings.widthText);
    SelectText(m_heightList, m_settings.heightText);
    SelectText(m_frameRateList, m_settings.frameRateText);
    SelectText(m_videoList, m_settings.videoListText);
    SelectText(m_audioList, m_settings.audioListText);
}

HRESULT CSettingsDialog::OnProperties() {
    if (!m_settings.videoEncoder) return E_FAIL;
    CEncoderPropertiesDialog dialog(m_settings.videoEncoder, this);
    if (!dialog.HasProperties()) return E_NOINTERFACE;
    if (RunPropertiesDialog(dialog) == QDialog::Accepted) dialog.Apply();
    return S_OK;
}

int CSettingsDialog::RunPropertiesDialog(QDialog& dialog) {
    return dialog.exec();
}

int CSettingsDialog::RunAudioFormatPicker(CAudioFormatDialog& picker) {
    return picker.exec();
}

void CSettingsDialog::OnChangeAudioFormat() {
    CAudioFormatDialog picker(AudioCategory(), this);
    // The picker works on a copy: "Cancel" leaves the settings exactly as they were, so the
    // shown format, the file-name suffix and the format the engine uses never disagree.
    AudioParams audio = m_settings.audio;
    picker.ChooseInitialFormat(m_settings.audioEncoder, audio);
    TransferControlsToRecord();
    if (RunAudioFormatPicker(picker) != QDialog::Accepted) return;
    m_settings.audioFormat = picker.chosen;
    m_settings.audio.formatIndex = picker.position;
    m_settings.audio.formatTag = picker.chosen ? picker.chosen->formatTag : kFormatTagNone;
    m_settings.audioText = picker.DescribeFormat(-1);
    m_settings.fileNameSuffix = picker.FormatSuffix();
    TransferRecordToControls();
}
