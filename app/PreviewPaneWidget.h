#pragma once

#include <QFrame>
#include <QImage>
#include <QMutex>

#include "PreviewPane.h"  // engine's IPreviewPane

// The main window's preview pane: a black framed area that paints the latest video frame the
// conversion engine hands it, scaled to fit with its aspect kept.
class CPreviewPaneWidget : public QFrame, public IPreviewPane {
    Q_OBJECT

public:
    explicit CPreviewPaneWidget(QWidget* parent = nullptr);

    // Shows a frame (user-interface thread). A null image clears the pane.
    Q_INVOKABLE void SetFrame(const QImage& frame);
    QImage Frame() const;

    // IPreviewPane
    INotifyTarget* NotifyParent() const override;
    bool PaneRect(PreviewRect& rect) const override;
    void PresentFrame(const std::uint8_t* rgb, int width, int height, int stride) override;
    void ClearFrame() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    mutable QMutex m_frameLock;  // PresentFrame runs on a streaming thread
    QImage m_frame;
};
