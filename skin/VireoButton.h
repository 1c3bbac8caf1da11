#pragma once

#include <QPixmap>
#include <QPushButton>
#include <QRect>

// A flat push button that shows a bitmap and swaps it for the hover image while the mouse is over
// it. It holds the mouse grab while hovering, so that the move which leaves it is seen, and it
// never shows a focus indication. Its text is not drawn (the bitmap carries the face); it is
// kept as the accessible name and tool tip.
class CVireoButton : public QPushButton {
    Q_OBJECT

public:
    explicit CVireoButton(QWidget* parent = nullptr);
    CVireoButton(const QString& text, QWidget* parent);
    ~CVireoButton() override;

    // Stores the image ids and size, takes the current rectangle as the hot rectangle and shows
    // the normal image. Call after the button has its final geometry. The pressed image id is
    // kept but not displayed.
    void SetBitmaps(int normalId, int hoverId, int pressedId, int width, int height);

    bool IsHovering() const { return m_hover != 0; }
    int NormalImageId() const { return m_normalImageId; }
    int HoverImageId() const { return m_hoverImageId; }
    int PressedImageId() const { return m_pressedImageId; }
    // The id of the image on show (0 before SetBitmaps).
    int ShownImageId() const { return m_shownImageId; }
    QRect HotRect() const { return m_hotRect; }
    QSize ImageSize() const { return QSize(m_imageWidth, m_imageHeight); }

    QSize sizeHint() const override;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

    // The mouse grab passed from this button to newOwner (null: to nobody).
    void OnCaptureChanged(QWidget* newOwner);

private:
    bool IsHot(QPoint point) const;
    void ShowImage(int id);
    // Normal image, flag cleared, own grab released.
    void EndHover();
    void ReleaseOwnCapture();

    int m_hover = 0;
    int m_normalImageId = 0;
    int m_hoverImageId = 0;
    int m_pressedImageId = 0;
    QRect m_hotRect;
    int m_imageWidth = 15;
    int m_imageHeight = 15;
    int m_shownImageId = 0;
    QPixmap m_image;
};
