#include "controls/CBandedRowDelegate.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QPainter>

QColor ColourFromRef(uint32_t ref) {
  return QColor(static_cast<int>(ref & 0xFFu), static_cast<int>((ref >> 8) & 0xFFu),
                static_cast<int>((ref >> 16) & 0xFFu));
}

uint32_t RefFromColour(const QColor& colour) {
  return static_cast<uint32_t>(colour.red()) | (static_cast<uint32_t>(colour.green()) << 8) |
         (static_cast<uint32_t>(colour.blue()) << 16);
}

CBandedRowDelegate::CBandedRowDelegate(QColor evenRow, QColor oddRow, QObject* parent)
    : QStyledItemDelegate(parent), m_Even(evenRow), m_Odd(oddRow) {}

CBandedRowDelegate::~CBandedRowDelegate() = default;

void CBandedRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
  QStyleOptionViewItem opt(option);
  initStyleOption(&opt, index);

  // the band follows the item index, not the content: deleting a row swaps the bands below it
  painter->fillRect(opt.rect, BandColour(index.row()));
  opt.backgroundBrush = QBrush(BandColour(index.row()));

  const QAbstractItemModel* model = index.model();
  if (model != nullptr && index.column() == model->columnCount() - 1) {
    // an item without data is black, as a row inserted without a colour
    const QVariant data = model->index(index.row(), 0).data(kColourRole);
    const uint32_t ref = data.isValid() ? data.toUInt() : 0u;
    opt.palette.setColor(QPalette::Text, ColourFromRef(ref));
  }
  // the whole row is the unit the user selects: no frame around a single focused cell
  opt.state &= ~QStyle::State_HasFocus;
  const QWidget* widget = opt.widget;
  QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
}
