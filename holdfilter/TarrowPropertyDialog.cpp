#include "TarrowPropertyDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "TarrowIds.h"

CTarrowPropertyDialog::CTarrowPropertyDialog(QWidget* parent)
    : QDialog(parent),
      m_startLabel(new QLabel(this)),
      m_startEdit(new QLineEdit(this)),
      m_durationLabel(new QLabel(this)),
      m_durationEdit(new QLineEdit(this)) {
    setWindowTitle(QString::fromLatin1(TarrowPageString(IDS_PAGE_TITLE)));
    auto* form = new QFormLayout;
    form->addRow(m_startLabel, m_startEdit);
    form->addRow(m_durationLabel, m_durationEdit);
    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    m_applyButton = buttons->button(QDialogButtonBox::Apply);
    m_applyButton->setEnabled(false);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    m_page.SetPageSite(this);
    connect(m_startEdit, &QLineEdit::textEdited, this,
            [this] { m_page.OnEditChanged(IDC_START_POINT); });
    connect(m_durationEdit, &QLineEdit::textEdited, this,
            [this] { m_page.OnEditChanged(IDC_DURATION); });
    connect(m_applyButton, &QPushButton::clicked, this, [this] { m_page.OnApplyChanges(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &CTarrowPropertyDialog::OnOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CTarrowPropertyDialog::~CTarrowPropertyDialog() {
    m_page.SetPageSite(nullptr);
    if (m_page.Properties()) m_page.OnDisconnect();
}

HRESULT CTarrowPropertyDialog::Connect(IVireoUnknown* object) {
    const HRESULT hr = m_page.OnConnect(object);
    if (FAILED(hr)) return hr;
    m_page.OnActivate();
    m_page.OnInitDialog(this);
    m_applyButton->setEnabled(false);
    return S_OK;
}

HRESULT CTarrowPropertyDialog::ConnectElement(GstElement* element) {
    if (!element ||
        !g_object_class_find_property(G_OBJECT_GET_CLASS(element), kTarrowPropProperties))
        return E_NOINTERFACE;
    gpointer store = nullptr;
    g_object_get(element, kTarrowPropProperties, &store, nullptr);
    return Connect(static_cast<IVireoProperties*>(store));
}

QWidget* CTarrowPropertyDialog::Control(int controlId) const {
    switch (controlId) {
        case IDC_START_POINT:
            return m_startEdit;
        case IDC_START_POINT_LABEL:
            return m_startLabel;
        case IDC_DURATION:
            return m_durationEdit;
        case IDC_DURATION_LABEL:
            return m_durationLabel;
        default:
            return nullptr;
    }
}

std::string CTarrowPropertyDialog::ControlText(int controlId) {
    if (auto* edit = qobject_cast<QLineEdit*>(Control(controlId)))
        return edit->text().toLatin1().toStdString();
    return {};
}

void CTarrowPropertyDialog::SetControlText(int controlId, const std::string& text) {
    const QString value = QString::fromLatin1(text.c_str());
    if (auto* edit = qobject_cast<QLineEdit*>(Control(controlId)))
        edit->setText(value);
    else if (auto* label = qobject_cast<QLabel*>(Control(controlId)))
        label->setText(value);
}

void CTarrowPropertyDialog::ShowWarning(const std::string& text) {
    QMessageBox::warning(this, QString(), QString::fromLatin1(text.c_str()));
}

void CTarrowPropertyDialog::OnStatusChange(std::uint32_t flags) {
    if (flags & PROPPAGESTATUS_DIRTY) m_applyButton->setEnabled(m_page.IsPageDirty());
}

void CTarrowPropertyDialog::OnOk() {
    if (m_page.IsPageDirty()) m_page.OnApplyChanges();
    // An empty field leaves the page dirty (after its warning): the dialog stays open.
    if (!m_page.IsPageDirty()) accept();
}
