#include "controls/CMyHeaderCtrl.h"

#include <QMouseEvent>

CMyHeaderCtrl::CMyHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
  setSectionsClickable(false);
  setSectionsMovable(false);
  setSortIndicatorShown(false);
  setHighlightSections(false);
  setStretchLastSection(false);
  setSectionResizeMode(QHeaderView::Fixed);
  setDefaultAlignment(Qt::AlignCenter);
}

CMyHeaderCtrl::~CMyHeaderCtrl() = default;

void CMyHeaderCtrl::FixSections() {
  for (int i = 0; i < count(); ++i) setSectionResizeMode(i, QHeaderView::Fixed);
}

// swallowed: a double click on a divider would otherwise fit the column to its contents
void CMyHeaderCtrl::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }

// the base class would show the split cursor over a divider and start dragging it on a press; the
// header has nothing to do with the mouse at all
void CMyHeaderCtrl::mouseMoveEvent(QMouseEvent* event) {
  if (testAttribute(Qt::WA_SetCursor)) unsetCursor();
  event->accept();
}

void CMyHeaderCtrl::mousePressEvent(QMouseEvent* event) { event->accept(); }

void CMyHeaderCtrl::mouseReleaseEvent(QMouseEvent* event) { event->accept(); }
