#pragma once

#include <QListWidget>

// The command bar: an icon-mode list of large command icons with white captions on the bar
// colour, activated by one click. A ghosted item (the classic "cut" state) shows a faded icon and
// is not selectable; the window ignores activations of ghosted items.
class CCommandBar : public QListWidget {
    Q_OBJECT

public:
    static constexpr int kCommandIdRole = Qt::UserRole;
    static constexpr int kCutRole = Qt::UserRole + 1;

    explicit CCommandBar(QWidget* parent = nullptr);

    // Appends an item with its caption, its image (a 40 x 35 icon) and its command id.
    void AddCommand(const QString& text, const QPixmap& image, int commandId);

    bool IsCut(int index) const;
    // Ghosting sets exactly the cut state: selection and focus marks are cleared. Activating
    // clears only the cut state.
    void SetCut(int index, bool cut);
    int CommandId(int index) const;

    // Cell size of one item in pixels (the icon spacing); call after the bar has its size.
    void SetIconSpacing(int horizontal, int vertical);

signals:
    // One click on an item (index of the item); clicks beside the items report nothing.
    void itemActivatedAt(int index);
};
