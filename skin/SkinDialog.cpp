#include "SkinDialog.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QChildEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>
#include <QWindow>

#include "SkinBitmaps.h"

namespace {

// A brush tiling the bitmap. Its colour is the bitmap's average, which is what styles use where
// they derive shades (frames, scroll bar grooves) from a palette brush.
QBrush PatternBrush(int bitmapId) {
    if (bitmapId == 0) return QBrush();
    QPixmap pixmap = LoadSkinBitmap(bitmapId);
    if (pixmap.isNull()) return QBrush();
    QColor average = pixmap.toImage()
                         .scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                         .pixelColor(0, 0);
    average.setAlpha(255);
    return QBrush(average, pixmap);
}

}  // namespace

CSkinDialog::CSkinDialog(unsigned templateId, QWidget* parent, int backgroundBitmapId,
                         int controlBitmapId)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_templateId(templateId),
      m_backgroundBrush(PatternBrush(backgroundBitmapId)),
      m_controlBrush(PatternBrush(controlBitmapId)),
      m_units(CDialogUnits::Standard()) {
    setFont(SkinDialogFont());
    if (m_backgroundBrush.style() != Qt::NoBrush) {
        QPalette palette = this->palette();
        palette.setBrush(QPalette::Window, m_backgroundBrush);
        setPalette(palette);
        setAutoFillBackground(true);
    }
}

CSkinDialog::~CSkinDialog() = default;

CSkinDialog::ControlKind CSkinDialog::KindOf(const QWidget* control) {
    if (qobject_cast<const QMessageBox*>(control)) return ControlKind::MessageBox;
    if (qobject_cast<const QDialog*>(control)) return ControlKind::Dialog;
    if (qobject_cast<const QLabel*>(control)) return ControlKind::Static;
    if (qobject_cast<const QLineEdit*>(control) || qobject_cast<const QAbstractSpinBox*>(control) ||
        qobject_cast<const QTextEdit*>(control) || qobject_cast<const QPlainTextEdit*>(control))
        return ControlKind::Edit;
    if (qobject_cast<const QComboBox*>(control)) return ControlKind::ListBox;
    if (auto* list = qobject_cast<const QListView*>(control))
        return list->viewMode() == QListView::ListMode ? ControlKind::ListBox : ControlKind::Other;
    if (qobject_cast<const QAbstractButton*>(control)) return ControlKind::Button;
    if (qobject_cast<const QScrollBar*>(control)) return ControlKind::ScrollBar;
    return ControlKind::Other;
}

CSkinDialog::ControlColours CSkinDialog::CtlColor(ControlKind kind) const {
    ControlColours colours;
    if (m_backgroundBrush.style() == Qt::NoBrush) return colours;
    bool hasControlBrush = m_controlBrush.style() != Qt::NoBrush;
    const QBrush& controlOrBackground = hasControlBrush ? m_controlBrush : m_backgroundBrush;
    switch (kind) {
        case ControlKind::Dialog:
            colours.brush = m_backgroundBrush;
            break;
        case ControlKind::Static:
            colours.text = m_textColour;
            colours.transparentText = true;
            colours.brush = m_controlBrush;
            break;
        case ControlKind::Edit:
        case ControlKind::ListBox:
        case ControlKind::MessageBox:
            colours.text = m_textColour;
            colours.textBackground = m_controlBackgroundColour;
            colours.transparentText = true;
            colours.brush = controlOrBackground;
            break;
        case ControlKind::Button:
        case ControlKind::ScrollBar:
            colours.transparentText = true;
            colours.brush = controlOrBackground;
            break;
        case ControlKind::Other:
            break;
    }
    return colours;
}

void CSkinDialog::ApplySkin(QWidget* control) {
    ControlKind kind = KindOf(control);
    if (kind == ControlKind::Other || kind == ControlKind::Dialog) return;
    ControlColours colours = CtlColor(kind);
    QPalette palette = control->palette();
    if (colours.text.isValid()) {
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(QPalette::Active, role, colours.text);
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(QPalette::Inactive, role, colours.text);
    }
    if (colours.brush.style() != Qt::NoBrush) {
        switch (kind) {
            case ControlKind::Static:
                palette.setBrush(QPalette::Window, colours.brush);
                control->setAutoFillBackground(true);
                break;
            case ControlKind::Edit:
            case ControlKind::ListBox:
            case ControlKind::MessageBox:
                palette.setBrush(QPalette::Base, colours.brush);
                palette.setBrush(QPalette::Button, colours.brush);
                palette.setBrush(QPalette::Window, colours.brush);
                break;
            case ControlKind::Button:
            case ControlKind::ScrollBar:
                palette.setBrush(QPalette::Button, colours.brush);
                palette.setBrush(QPalette::Window, colours.brush);
                if (!qobject_cast<QPushButton*>(control)) control->setAutoFillBackground(true);
                break;
            default:
                break;
        }
    }
    control->setPalette(palette);
}

bool CSkinDialog::InDragBand(QPoint clientPoint) const {
    QSize band = DragBand();
    return clientPoint.y() < band.height() && clientPoint.x() < band.width();
}

void CSkinDialog::BeginWindowDrag(QPoint clientPoint) {
    emit windowDragStarted(clientPoint);
    QWindow* window = windowHandle();
    if (window && window->startSystemMove()) return;
    m_followingMouse = true;
    m_dragOffset = clientPoint;
}

bool CSkinDialog::event(QEvent* event) {
    if (event->type() == QEvent::ChildPolished) {
        if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child());
            child && !child->isWindow())
            ApplySkin(child);
    }
    return QDialog::event(event);
}

void CSkinDialog::mousePressEvent(QMouseEvent* event) {
    QPoint point = event->position().toPoint();
    if (event->button() == Qt::LeftButton && InDragBand(point)) BeginWindowDrag(point);
    QDialog::mousePressEvent(event);
}

void CSkinDialog::mouseMoveEvent(QMouseEvent* event) {
    if (m_followingMouse && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - m_dragOffset);
    QDialog::mouseMoveEvent(event);
}

void CSkinDialog::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) m_followingMouse = false;
    QDialog::mouseReleaseEvent(event);
}
