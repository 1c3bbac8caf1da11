#include "VireoButton.h"

#include <QApplication>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>

#include "SkinBitmaps.h"

CVireoButton::CVireoButton(QWidget* parent) : CVireoButton(QString(), parent) {}

CVireoButton::CVireoButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setFlat(true);
    setAutoDefault(false);
    setMouseTracking(true);
    setAccessibleName(text);
    setToolTip(text);
}

CVireoButton::~CVireoButton() {
    ReleaseOwnCapture();
}

void CVireoButton::SetBitmaps(int normalId, int hoverId, int pressedId, int width, int height) {
    m_normalImageId = normalId;
    m_hoverImageId = hoverId;
    m_pressedImageId = pressedId;
    m_imageWidth = width;
    m_imageHeight = height;
    m_hotRect = rect();
    ShowImage(m_normalImageId);
    m_hover = 0;
}

QSize CVireoButton::sizeHint() const {
    return m_image.isNull() ? QPushButton::sizeHint() : QSize(m_imageWidth, m_imageHeight);
}

void CVireoButton::ShowImage(int id) {
    m_image = LoadSkinBitmap(id, QSize(m_imageWidth, m_imageHeight));
    m_shownImageId = id;
    update();
}

bool CVireoButton::IsHot(QPoint point) const {
    QWidget* grabber = QWidget::mouseGrabber();
    bool ownerExists = parentWidget() != nullptr;
    return m_hotRect.contains(point) && (grabber == nullptr || grabber == this) &&
           QApplication::activeWindow() != nullptr && ownerExists;
}

void CVireoButton::mouseMoveEvent(QMouseEvent* event) {
    QPushButton::mouseMoveEvent(event);
    bool hot = IsHot(event->position().toPoint());
    if (hot && !m_hover) {
        ShowImage(m_hoverImageId);
        m_hover = 1;
        grabMouse();
    } else if (!hot && m_hover) {
        EndHover();
        if (hasFocus()) clearFocus();
    }
}

void CVireoButton::mouseReleaseEvent(QMouseEvent* event) {
    // Releasing the button ends any grab the press made, as with a native button: the grab goes
    // to nobody before the click is reported (a click may open a modal dialog).
    if (event->button() == Qt::LeftButton && QWidget::mouseGrabber() == this) {
        releaseMouse();
        OnCaptureChanged(nullptr);
    }
    QPushButton::mouseReleaseEvent(event);
}

void CVireoButton::focusInEvent(QFocusEvent* event) {
    // The platform's focus processing is skipped on purpose: no focus indication.
    m_hover = 0;
    event->accept();
}

void CVireoButton::focusOutEvent(QFocusEvent* event) {
    if (m_hover) EndHover();
    QPushButton::focusOutEvent(event);
}

void CVireoButton::changeEvent(QEvent* event) {
    // A window that loses activation loses the mouse grab with it.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow() &&
        QWidget::mouseGrabber() == this) {
        releaseMouse();
        OnCaptureChanged(nullptr);
    }
    QPushButton::changeEvent(event);
}

void CVireoButton::hideEvent(QHideEvent* event) {
    if (m_hover) EndHover();
    QPushButton::hideEvent(event);
}

void CVireoButton::leaveEvent(QEvent* event) {
    // Where the window system grants no pointer grab (Wayland), no move outside the button
    // arrives; the leave event ends the hover state instead.
    if (m_hover) {
        EndHover();
        if (hasFocus()) clearFocus();
    }
    QPushButton::leaveEvent(event);
}

void CVireoButton::OnCaptureChanged(QWidget* newOwner) {
    if (newOwner != this) m_hover = 0;
}

void CVireoButton::EndHover() {
    ShowImage(m_normalImageId);
    m_hover = 0;
    ReleaseOwnCapture();
}

void CVireoButton::ReleaseOwnCapture() {
    if (QWidget::mouseGrabber() == this) releaseMouse();
}

void CVireoButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().brush(QPalette::Button));
    if (m_image.isNull()) {
        painter.setPen(palette().color(QPalette::ButtonText));
        painter.drawText(rect(), Qt::AlignCenter, text());
        return;
    }
    // Pressed: the face sinks by one pixel, as flat bitmap buttons do.
    QPoint origin((width() - m_image.width()) / 2, (height() - m_image.height()) / 2);
    if (isDown()) origin += QPoint(1, 1);
    if (!isEnabled()) painter.setOpacity(0.45);
    painter.drawPixmap(origin, m_image);
}
