#include "AudioFormatDialog.h"

#include <QListWidget>
#include <QShowEvent>

#include "ResourceIds.h"
#include "VireoButton.h"

CAudioFormatDialog::CAudioFormatDialog(EncoderCategory category, QWidget* parent)
    : CSkinDialog(IDD_AUDIO_FORMAT, parent, IDB_AUDIO_BACKGROUND, IDB_CONTROL),
      CAudioFormatChooser(category) {
    setFixedSize(MapDialogRect(0, 0, 134, 150).size());
    m_list = new QListWidget(this);
    m_list->setObjectName(QString::number(IDC_FORMAT_LIST));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_list->setGeometry(MapDialogRect(7, 23, 120, 105));
    m_okButton = new CVireoButton(QStringLiteral("OK"), this);
    m_okButton->setObjectName(QString::number(IDC_FORMAT_OK));
    m_okButton->setGeometry(MapDialogRect(15, 132, 54, 16));
    m_okButton->setDefault(true);
    m_cancelButton = new CVireoButton(QStringLiteral("Cancel"), this);
    m_cancelButton->setObjectName(QString::number(IDC_FORMAT_CANCEL));
    m_cancelButton->setGeometry(MapDialogRect(73, 132, 54, 16));
    connect(m_okButton, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(m_list, &QListWidget::itemDoubleClicked, this, [this] { OnOK(); });
}

CAudioFormatDialog::~CAudioFormatDialog() = default;

void CAudioFormatDialog::showEvent(QShowEvent* event) {
    if (!m_initialised) OnInitDialog();
    CSkinDialog::showEvent(event);
}

void CAudioFormatDialog::OnInitDialog() {
    m_initialised = true;
    m_list->clear();
    for (int i = 0; i < static_cast<int>(formats.size()); ++i)
        m_list->addItem(QString::fromStdString(DescribeFormat(i)));
    if (position >= 0 && position < m_list->count()) {
        m_list->setCurrentRow(position);
        m_list->scrollToItem(m_list->item(position));
    }
    m_okButton->SetBitmaps(IDB_BTN_OK, IDB_BTN_OK, IDB_BTN_OK, 78, 25);
    m_cancelButton->SetBitmaps(IDB_BTN_CANCEL, IDB_BTN_CANCEL, IDB_BTN_CANCEL, 78, 25);
}

void CAudioFormatDialog::OnOK() {
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    position = selected.isEmpty() ? -1 : m_list->row(selected.first());
    if (position >= 0 && position < static_cast<int>(formats.size()))
        chosen = formats[position];
    else
        chosen.reset();
    accept();
}

void CAudioFormatDialog::OnCancel() {
    reject();
}
