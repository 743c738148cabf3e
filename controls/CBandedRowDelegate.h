#pragma once

#include <QColor>
#include <QStyledItemDelegate>
#include <cstdint>

// Paints the cells of the module list: every row on the band colour of its item index (even rows
// and odd rows alternate), and the last column's text in the colour that the row carries as its item
// data. Other columns keep the list's normal text colour. Called on the UI thread only.
class CBandedRowDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  // The row's colour is read from this role of the row's first cell (a COLORREF, 0x00BBGGRR).
  static constexpr int kColourRole = Qt::UserRole + 1;
  // Room beside a cell's text that a column fitted to its contents keeps, in pixels (each side; a
  // little more than any style's text margin).
  static constexpr int kTextMargin = 6;

  CBandedRowDelegate(QColor evenRow, QColor oddRow, QObject* parent = nullptr);
  ~CBandedRowDelegate() override;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  QColor BandColour(int row) const { return (row % 2) == 0 ? m_Even : m_Odd; }

 private:
  QColor m_Even;
  QColor m_Odd;
};

// COLORREF (0x00BBGGRR) to and from QColor.
QColor ColourFromRef(uint32_t ref);
uint32_t RefFromColour(const QColor& colour);
