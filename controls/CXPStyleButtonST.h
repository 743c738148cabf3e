#pragma once

#include "controls/CButtonST.h"

// The dialog's buttons: a CButtonST that draws the style's push-button panel for its state (normal,
// hot, pressed, disabled or default) when theming is on, and paints flat otherwise. It draws no
// border of its own. UI thread only.
class CXPStyleButtonST : public CButtonST {
  Q_OBJECT

 public:
  explicit CXPStyleButtonST(QWidget* parent = nullptr);
  ~CXPStyleButtonST() override;

  // The panel state that the last paint used (CThemeHelperST::ButtonState), 0 before the first paint
  // or when the last paint was flat.
  int LastThemeState() const { return m_LastThemeState; }

 protected:
  void DrawBackground(QPainter& painter, bool pressed, bool focused, bool disabled) override;

 private:
  CThemeHelperST* m_Theme;
  int m_LastThemeState = 0;
};
