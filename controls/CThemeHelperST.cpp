#include "controls/CThemeHelperST.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>
#include <cstdlib>
#include <cstring>

CThemeHelperST g_ThemeHelper;

CThemeHelperST::CThemeHelperST() {
  const char* flat = std::getenv("QOR_FLAT_BUTTONS");
  if (flat != nullptr && flat[0] != '\0' && std::strcmp(flat, "0") != 0) m_Themed = false;
}

bool CThemeHelperST::DrawThemeBackground(QPainter& painter, const QWidget& widget, ButtonState state) const {
  if (!m_Themed) return false;
  QStyleOptionButton option;
  option.initFrom(&widget);
  option.rect = widget.rect();
  option.state &= ~(QStyle::State_MouseOver | QStyle::State_Sunken | QStyle::State_HasFocus);
  switch (state) {
    case PBS_DISABLED:
      option.state &= ~QStyle::State_Enabled;
      option.state |= QStyle::State_Raised;
      break;
    case PBS_PRESSED:
      option.state |= QStyle::State_Sunken;
      break;
    case PBS_HOT:
      option.state |= QStyle::State_MouseOver | QStyle::State_Raised;
      break;
    case PBS_DEFAULTED:
      option.features |= QStyleOptionButton::DefaultButton;
      option.state |= QStyle::State_Raised;
      break;
    case PBS_NORMAL:
      option.state |= QStyle::State_Raised;
      break;
  }
  widget.style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, &widget);
  return true;
}
