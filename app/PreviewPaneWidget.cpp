#include "PreviewPaneWidget.h"

#include <QMutexLocker>
#include <QPainter>

#include "NotifyTarget.h"

CPreviewPaneWidget::CPreviewPaneWidget(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::Box);
    setFrameShadow(QFrame::Plain);
    setLineWidth(1);
    // The pane paints every pixel itself; the window's background is never drawn under it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, QColor(40, 40, 60));
    setPalette(palette);
}

void CPreviewPaneWidget::SetFrame(const QImage& frame) {
    {
        QMutexLocker lock(&m_frameLock);
        m_frame = frame;
    }
    update();
}

QImage CPreviewPaneWidget::Frame() const {
    QMutexLocker lock(&m_frameLock);
    return m_frame;
}

INotifyTarget* CPreviewPaneWidget::NotifyParent() const {
    return dynamic_cast<INotifyTarget*>(parentWidget());
}

bool CPreviewPaneWidget::PaneRect(PreviewRect& rect) const {
    if (!parentWidget()) return false;
    QRect r = geometry();
    rect = PreviewRect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    return true;
}

void CPreviewPaneWidget::PresentFrame(const std::uint8_t* rgb, int width, int height, int stride) {
    if (!rgb || width <= 0 || height <= 0 || stride < width * 3) return;
    // Deep copy: the caller's buffer is only valid during the call.
    QImage copy = QImage(rgb, width, height, stride, QImage::Format_RGB888).copy();
    {
        QMutexLocker lock(&m_frameLock);
        m_frame = std::move(copy);
    }
    QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

void CPreviewPaneWidget::ClearFrame() {
    SetFrame(QImage());
}

void CPreviewPaneWidget::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    QRect inner = contentsRect();
    painter.fillRect(inner, Qt::black);
    QImage frame = Frame();
    if (!frame.isNull()) {
        QSize fitted = frame.size().scaled(inner.size(), Qt::KeepAspectRatio);
        QRect target(QPoint(0, 0), fitted);
        target.moveCenter(inner.center());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, frame);
    }
    painter.end();
    QFrame::paintEvent(event);
}
