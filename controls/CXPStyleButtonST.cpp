#include "controls/CXPStyleButtonST.h"

#include <QPainter>

CXPStyleButtonST::CXPStyleButtonST(QWidget* parent) : CButtonST(parent), m_Theme(&g_ThemeHelper) {
  DrawBorder(false);
}

CXPStyleButtonST::~CXPStyleButtonST() = default;

void CXPStyleButtonST::DrawBackground(QPainter& painter, bool pressed, bool focused, bool disabled) {
  const CThemeHelperST::ButtonState state = ThemeState(pressed, disabled);
  if (m_Theme->IsAppThemed()) {
    // the parent's background is already beneath the button (it does not fill itself)
    if (m_Theme->DrawThemeBackground(painter, *this, state)) {
      m_LastThemeState = state;
      return;
    }
  }
  m_LastThemeState = 0;
  FillFlatBackground(painter, pressed, focused);
}
