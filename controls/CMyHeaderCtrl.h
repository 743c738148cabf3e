#pragma once

#include <QHeaderView>

// The module list's header. Its sections have the widths the dialog sets and nothing else: the user
// cannot drag a divider, double-clicking a divider does not fit a column to its contents, the pointer
// never turns into the resize shape, and clicking a heading does not sort.
class CMyHeaderCtrl : public QHeaderView {
  Q_OBJECT

 public:
  explicit CMyHeaderCtrl(QWidget* parent = nullptr);
  ~CMyHeaderCtrl() override;

  // Sections added later (by inserting columns) also get the fixed resize mode.
  void FixSections();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};
