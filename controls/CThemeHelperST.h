#pragma once

class QPainter;
class QWidget;

// Reaches the style's push-button panel for the owner-drawn buttons. When theming is on, the buttons
// draw the panel that the application's style gives a push button in their state; when it is off
// they paint themselves flat. Theming is on unless it was switched off (SetThemed(false), or the
// environment variable QOR_FLAT_BUTTONS set to a non-empty value other than 0 at start-up).
//
// One instance, g_ThemeHelper, exists for the whole program. UI thread only.
class CThemeHelperST {
 public:
  // Push-button states as the panel is drawn: normal, hot (pointer over it), pressed, disabled,
  // defaulted (the dialog's default button).
  enum ButtonState : int {
    PBS_NORMAL = 1,
    PBS_HOT = 2,
    PBS_PRESSED = 3,
    PBS_DISABLED = 4,
    PBS_DEFAULTED = 5
  };

  CThemeHelperST();

  bool IsAppThemed() const { return m_Themed; }
  void SetThemed(bool themed) { m_Themed = themed; }

  // Draws the style's push-button panel over the whole widget in state. Returns false and draws
  // nothing when theming is off.
  bool DrawThemeBackground(QPainter& painter, const QWidget& widget, ButtonState state) const;

 private:
  bool m_Themed = true;
};

extern CThemeHelperST g_ThemeHelper;
