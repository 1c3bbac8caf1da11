#include "CommandBar.h"

#include <QPainter>
#include <QStyledItemDelegate>

namespace {

constexpr QSize kIconSize(40, 35);

// Draws a command: its icon centred at the top of the cell and the caption below, underlined
// while the mouse is over an active item; a ghosted item is drawn faded.
class CCommandDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        bool cut = index.data(CCommandBar::kCutRole).toBool();
        bool hot = (option.state & QStyle::State_MouseOver) && !cut;
        bool selected = (option.state & QStyle::State_Selected) && !cut;
        QRect cell = option.rect.adjusted(1, 1, -1, -1);
        if (selected || hot) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(QColor(255, 255, 255, selected ? 64 : 34));
            painter->drawRoundedRect(cell, 6, 6);
        }
        QPixmap icon = index.data(Qt::DecorationRole).value<QPixmap>();
        QPoint iconAt(cell.center().x() - kIconSize.width() / 2 + 1, cell.top() + 2);
        if (cut) painter->setOpacity(0.38);
        painter->drawPixmap(iconAt, icon);
        QFont font = option.font;
        font.setUnderline(hot);
        painter->setFont(font);
        painter->setPen(option.palette.color(QPalette::Text));
        QRect textRect(cell.left(), iconAt.y() + kIconSize.height() + 1, cell.width(),
                       cell.bottom() - iconAt.y() - kIconSize.height());
        painter->drawText(textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return option.rect.size().isValid() ? option.rect.size() : QSize(70, 56);
    }
};

}  // namespace

CCommandBar::CCommandBar(QWidget* parent) : QListWidget(parent) {
    setViewMode(QListView::IconMode);
    setFlow(QListView::TopToBottom);
    setWrapping(false);
    setMovement(QListView::Static);
    setResizeMode(QListView::Fixed);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(false);
    setIconSize(kIconSize);
    setMouseTracking(true);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus);
    setItemDelegate(new CCommandDelegate(this));
    connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) emit itemActivatedAt(index.row());
    });
}

void CCommandBar::AddCommand(const QString& text, const QPixmap& image, int commandId) {
    auto* item = new QListWidgetItem(text);
    item->setData(Qt::DecorationRole, image);
    item->setData(kCommandIdRole, commandId);
    item->setData(kCutRole, false);
    item->setTextAlignment(Qt::AlignHCenter);
    item->setToolTip(text);
    addItem(item);
}

bool CCommandBar::IsCut(int index) const {
    const QListWidgetItem* it = item(index);
    return it && it->data(kCutRole).toBool();
}

void CCommandBar::SetCut(int index, bool cut) {
    QListWidgetItem* it = item(index);
    if (!it) return;
    it->setData(kCutRole, cut);
    if (cut) {
        it->setSelected(false);
        if (currentRow() == index)
            selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        it->setFlags(it->flags() & ~Qt::ItemIsSelectable);
    } else {
        it->setFlags(it->flags() | Qt::ItemIsSelectable);
    }
}

int CCommandBar::CommandId(int index) const {
    const QListWidgetItem* it = item(index);
    return it ? it->data(kCommandIdRole).toInt() : 0;
}

void CCommandBar::SetIconSpacing(int horizontal, int vertical) {
    setGridSize(QSize(horizontal, vertical));
    // The column of cells sits in the middle of the bar.
    setViewportMargins(qMax(0, (width() - horizontal) / 2), 0, 0, 0);
}
