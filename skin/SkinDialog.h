#pragma once

#include <QBrush>
#include <QColor>
#include <QDialog>
#include <QPoint>
#include <QSize>

#include "DialogUnits.h"

// Base of every window of the application: a captionless dialog painted with pattern brushes
// made from bitmap resources, with fixed text colours for its controls, that the user moves by a
// band along its top edge. Subclasses build their controls at dialog-unit rectangles
// (MapDialogRect) in their constructors; the control colours are applied to each direct child
// control when it is polished, i.e. before it is first shown.
class CSkinDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr QColor kTextColour = QColor(76, 76, 96);
    static constexpr QColor kControlBackgroundColour = QColor(226, 226, 226);

    // backgroundBitmapId and controlBitmapId 0 mean "no brush".
    CSkinDialog(unsigned templateId, QWidget* parent, int backgroundBitmapId, int controlBitmapId);
    ~CSkinDialog() override;

    unsigned TemplateId() const { return m_templateId; }
    // Empty (Qt::NoBrush) when the dialog has none.
    const QBrush& BackgroundBrush() const { return m_backgroundBrush; }
    const QBrush& ControlBrush() const { return m_controlBrush; }
    QColor TextColour() const { return m_textColour; }
    QColor ControlBackgroundColour() const { return m_controlBackgroundColour; }

    // The control kinds that take their colours from the dialog. List views, tree views, progress
    // bars and the icon-mode list draw themselves (kind Other).
    enum class ControlKind { Dialog, Static, Edit, ListBox, MessageBox, Button, ScrollBar, Other };
    static ControlKind KindOf(const QWidget* control);

    // The answer to "which colours does a control of this kind draw with": unset colours and an
    // empty brush mean "the platform's own".
    struct ControlColours {
        QColor text;            // invalid: unchanged
        QColor textBackground;  // invalid: unchanged
        bool transparentText = false;
        QBrush brush;  // Qt::NoBrush: the platform's own
    };
    ControlColours CtlColor(ControlKind kind) const;

    // Applies CtlColor(KindOf(control)) to a control's palette.
    void ApplySkin(QWidget* control);

    const CDialogUnits& DialogUnits() const { return m_units; }
    QRect MapDialogRect(int x, int y, int width, int height) const {
        return m_units.Rect(x, y, width, height);
    }

    // True when a left-button press at this client point starts a window move.
    bool InDragBand(QPoint clientPoint) const;

signals:
    // A press in the drag band started moving the window (clientPoint: where it was pressed).
    void windowDragStarted(QPoint clientPoint);

protected:
    // Presses with x < width and y < height move the window; 400 x 30 pixels by default.
    virtual QSize DragBand() const { return QSize(400, 30); }
    // Asks the window manager to move the window, or follows the mouse itself where the window
    // system cannot move windows on request.
    void BeginWindowDrag(QPoint clientPoint);

    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    unsigned m_templateId;
    QBrush m_backgroundBrush;
    QBrush m_controlBrush;
    QColor m_textColour = kTextColour;
    QColor m_controlBackgroundColour = kControlBackgroundColour;
    CDialogUnits m_units;
    bool m_followingMouse = false;
    QPoint m_dragOffset;
};
