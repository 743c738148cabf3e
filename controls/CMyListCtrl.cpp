#include "controls/CMyListCtrl.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QPalette>
#include <algorithm>

namespace {
QString ToQ(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
}  // namespace

CMyListCtrl::CMyListCtrl(QWidget* parent) : QTableWidget(parent) { InitListStyle(); }

CMyListCtrl::~CMyListCtrl() = default;

void CMyListCtrl::InitListStyle() {
  if (m_HeaderSubclassed) return;
  m_Header = new CMyHeaderCtrl(this);
  setHorizontalHeader(m_Header);
  m_HeaderSubclassed = true;

  // grid lines and full-row selection, nothing else: no sorting, no editing, no row headings
  setShowGrid(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  verticalHeader()->setVisible(false);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

  // the background of dialog surfaces below the last row
  QPalette pal = palette();
  pal.setColor(QPalette::Base, pal.color(QPalette::Window));
  setPalette(pal);

  m_Delegate = new CBandedRowDelegate(ColourFromRef(kEvenRowColour), ColourFromRef(kOddRowColour), this);
  setItemDelegate(m_Delegate);
}

QItemSelectionModel::SelectionFlags CMyListCtrl::selectionCommand(const QModelIndex& index,
                                                                  const QEvent* event) const {
  if (event == nullptr) return QItemSelectionModel::NoUpdate;
  return QTableWidget::selectionCommand(index, event);
}

int CMyListCtrl::InsertColumn(int index, const std::string& heading, Qt::Alignment alignment) {
  return OnUiThread([&]() -> int {
    if (index < 0) return -1;
    const int at = std::min(index, columnCount());
    insertColumn(at);
    auto* head = new QTableWidgetItem(ToQ(heading));
    head->setTextAlignment(alignment | Qt::AlignVCenter);
    setHorizontalHeaderItem(at, head);
    m_ColumnAlignment.insert(m_ColumnAlignment.begin() + at, alignment);
    for (int row = 0; row < rowCount(); ++row) {
      auto* cell = new QTableWidgetItem();
      cell->setTextAlignment(alignment | Qt::AlignVCenter);
      setItem(row, at, cell);
    }
    m_Header->FixSections();
    return at;
  });
}

bool CMyListCtrl::DeleteColumn(int index) {
  return OnUiThread([&]() -> bool {
    if (index < 0 || index >= columnCount()) return false;
    removeColumn(index);
    m_ColumnAlignment.erase(m_ColumnAlignment.begin() + index);
    return true;
  });
}

QTableWidgetItem* CMyListCtrl::CellAt(int row, int column) {
  if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) return nullptr;
  QTableWidgetItem* cell = item(row, column);
  if (cell == nullptr) {
    cell = new QTableWidgetItem();
    cell->setTextAlignment(m_ColumnAlignment[static_cast<size_t>(column)] | Qt::AlignVCenter);
    setItem(row, column, cell);
  }
  return cell;
}

uint32_t CMyListCtrl::GetItemData(int row) {
  return OnUiThread([&]() -> uint32_t {
    QTableWidgetItem* cell = CellAt(row, 0);
    return cell != nullptr ? cell->data(CBandedRowDelegate::kColourRole).toUInt() : 0u;
  });
}

std::string CMyListCtrl::GetItemText(int row, int column) {
  return OnUiThread([&]() -> std::string {
    QTableWidgetItem* cell = CellAt(row, column);
    return cell != nullptr ? cell->text().toStdString() : std::string();
  });
}

void CMyListCtrl::DeleteAllItems() {
  OnUiThread([&]() { setRowCount(0); });
}

int CMyListCtrl::InsertItem(int index, const std::string& text) {
  return OnUiThread([&]() -> int {
    if (index < 0 || columnCount() == 0) return -1;
    // past the end appends, as the list view does
    const int at = std::min(index, rowCount());
    insertRow(at);
    for (int column = 0; column < columnCount(); ++column) {
      auto* cell = new QTableWidgetItem();
      cell->setTextAlignment(m_ColumnAlignment[static_cast<size_t>(column)] | Qt::AlignVCenter);
      setItem(at, column, cell);
    }
    item(at, 0)->setText(ToQ(text));
    return at;
  });
}

bool CMyListCtrl::DeleteItem(int index) {
  return OnUiThread([&]() -> bool {
    if (index < 0 || index >= rowCount()) return false;
    removeRow(index);
    return true;
  });
}

int CMyListCtrl::GetItemCount() {
  return OnUiThread([&]() -> int { return rowCount(); });
}

bool CMyListCtrl::SetItemText(int row, int column, const std::string& text) {
  return OnUiThread([&]() -> bool {
    QTableWidgetItem* cell = CellAt(row, column);
    if (cell == nullptr) return false;
    cell->setText(ToQ(text));
    return true;
  });
}

void CMyListCtrl::SetItemToolTip(int row, const std::string& text) {
  OnUiThread([&]() -> bool {
    if (row < 0 || row >= rowCount()) return false;
    // every cell of the row, so the text shows wherever the pointer rests on it
    for (int column = 0; column < columnCount(); ++column) {
      if (QTableWidgetItem* cell = CellAt(row, column)) cell->setToolTip(ToQ(text));
    }
    return true;
  });
}

bool CMyListCtrl::SetItemData(int row, uint32_t colour) {
  return OnUiThread([&]() -> bool {
    QTableWidgetItem* cell = CellAt(row, 0);
    if (cell == nullptr) return false;
    cell->setData(CBandedRowDelegate::kColourRole, QVariant::fromValue(colour));
    // the status cell shows the new colour at its next repaint
    viewport()->update(visualRect(model()->index(row, columnCount() - 1)));
    return true;
  });
}

int CMyListCtrl::GetStringWidth(const std::string& text) {
  return OnUiThread([&]() -> int { return QFontMetrics(font()).horizontalAdvance(ToQ(text)); });
}

int CMyListCtrl::GetColumnWidth(int column) {
  return OnUiThread([&]() -> int {
    if (column < 0 || column >= columnCount()) return 0;
    return columnWidth(column);
  });
}

int CMyListCtrl::ContentsWidth(int column) const {
  if (column < 0 || column >= columnCount()) return 0;
  const QFontMetrics metrics(font());
  int widest = 0;
  for (int row = 0; row < rowCount(); ++row) {
    const QTableWidgetItem* cell = item(row, column);
    if (cell != nullptr) widest = std::max(widest, metrics.horizontalAdvance(cell->text()));
  }
  return widest + 2 * CBandedRowDelegate::kTextMargin;
}

int CMyListCtrl::ContentsAndHeadingWidth(int column) const {
  if (column < 0 || column >= columnCount()) return 0;
  return std::max(ContentsWidth(column), m_Header->sectionSizeHint(column));
}

bool CMyListCtrl::SetColumnWidth(int column, int width) {
  return OnUiThread([&]() -> bool {
    if (column < 0 || column >= columnCount() || width < -2) return false;
    int pixels = width;
    if (width == -1) pixels = ContentsWidth(column);
    if (width == -2) pixels = ContentsAndHeadingWidth(column);
    setColumnWidth(column, pixels);
    return true;
  });
}

void CMyListCtrl::SetRedraw(bool redraw) {
  OnUiThread([&]() {
    setUpdatesEnabled(redraw);
    if (redraw) viewport()->update();
  });
}

uint32_t CMyListCtrl::GrayTextColour() {
  return OnUiThread(
      [&]() -> uint32_t { return RefFromColour(palette().color(QPalette::Disabled, QPalette::Text)); });
}
