#pragma once

#include <QTableWidget>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "controls/CBandedRowDelegate.h"
#include "controls/CMyHeaderCtrl.h"
#include "controls/UiThreadCall.h"
#include "upgrade/WindowInterfaces.h"

// The coloured module list: a report view with grid lines and full-row selection on the dialog's
// background, rows on alternating bands, the last column ("Status") drawn in the row's colour, and a
// header that cannot be resized, fitted by double click or sorted.
//
// Threads: the widget lives on the UI thread. The IModuleList operations may be called from any
// thread; a call from another thread is carried out on the UI thread while the caller waits (as a
// window message would be), a call from the UI thread runs at once. A worker must therefore never
// hold the UI thread waiting for it without letting it serve events (see the dialog's join).
class CMyListCtrl : public QTableWidget, public IModuleList {
  Q_OBJECT

 public:
  // Band colours as COLORREF: even rows red 240 green 247 blue 249, odd rows red 229 green 232
  // blue 239.
  static constexpr uint32_t kEvenRowColour = 0x00F9F7F0;
  static constexpr uint32_t kOddRowColour = 0x00EFE8E5;

  explicit CMyListCtrl(QWidget* parent = nullptr);
  ~CMyListCtrl() override;

  // Adds column index with its heading; alignment applies to the heading and the cells. Returns the
  // new column's index, or -1.
  int InsertColumn(int index, const std::string& heading, Qt::Alignment alignment);
  bool DeleteColumn(int index);

  CMyHeaderCtrl* Header() const { return m_Header; }
  uint32_t GetItemData(int item);
  std::string GetItemText(int item, int column);
  bool IsRedrawSuspended() const { return !updatesEnabled(); }

  // IModuleList, callable from any thread.
  void DeleteAllItems() override;
  int InsertItem(int index, const std::string& text) override;
  bool DeleteItem(int index) override;
  int GetItemCount() override;
  bool SetItemText(int item, int column, const std::string& text) override;
  bool SetItemData(int item, uint32_t colour) override;
  int GetStringWidth(const std::string& text) override;
  int GetColumnWidth(int column) override;
  bool SetColumnWidth(int column, int width) override;
  void SetRedraw(bool redraw) override;
  uint32_t GrayTextColour() override;
  void SetItemToolTip(int item, const std::string& text) override;

  // Widths that -1 and -2 stand for: the widest item text, and that or the heading if wider.
  int ContentsWidth(int column) const;
  int ContentsAndHeadingWidth(int column) const;

 protected:
  // Rows are selected by the user only: moving the current row by program (focus, deleted rows)
  // selects nothing.
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                       const QEvent* event) const override;

 private:
  // Prepares the control once: header, extended styles, background, delegate.
  void InitListStyle();

  // Runs f on the UI thread; the calling thread waits for its result.
  template <class F>
  auto OnUiThread(F&& f) -> std::invoke_result_t<F&> {
    return CallOnThreadOf(this, std::forward<F>(f));
  }

  QTableWidgetItem* CellAt(int item, int column);

  CMyHeaderCtrl* m_Header = nullptr;
  bool m_HeaderSubclassed = false;
  CBandedRowDelegate* m_Delegate = nullptr;
  std::vector<Qt::Alignment> m_ColumnAlignment;
};
