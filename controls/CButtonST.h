#pragma once

#include <QIcon>
#include <QPushButton>
#include <array>
#include <cstdint>

#include "controls/CThemeHelperST.h"

// A flat owner-drawn push button: an icon 3 pixels from the left edge, the caption centred in the
// room right of it, state colours for background and caption (the caption turns to the hover colour
// while the pointer is over the button or it is pressed), a 1-pixel offset while pressed, an embossed
// icon and an etched caption when disabled, and no focus rectangle.
//
// Also: hover tracking whether or not the window is active; a double click counts as a second click;
// a disabled button hands the keyboard focus on to the next enabled control; after a change of the
// system colours the six state colours return to their defaults. UI thread only.
class CButtonST : public QPushButton {
  Q_OBJECT

 public:
  enum StateColour : int {
    HoverBack = 0,
    HoverText = 1,
    NormalBack = 2,
    NormalText = 3,
    FocusBack = 4,
    FocusText = 5
  };
  static constexpr int kStateColourCount = 6;
  // SetStateColor's result for an index above 5.
  static constexpr int kInvalidIndex = 3;
  static constexpr int kIconLeft = 3;
  static constexpr int kPressedOffset = 1;

  explicit CButtonST(QWidget* parent = nullptr);
  ~CButtonST() override;

  // Loads icon id (and the optional icon id2, shown while the pointer is elsewhere; 0 for none) from
  // the program's icons at their own size. 0 on success, 1 when an icon cannot be loaded.
  int SetButtonIcons(int id, int id2);
  // colour is a COLORREF (0x00BBGGRR). 0, or kInvalidIndex for an index above 5 (nothing changes).
  int SetStateColor(int index, uint32_t colour, bool repaint = true);
  int GetStateColor(int index, uint32_t& colour) const;
  // All backgrounds the button face colour, all captions the button text colour.
  void SetDefaultColors(bool repaint = true);
  // Thin border while the pointer is over a flat button or it is pressed.
  void DrawBorder(bool enable) { m_DrawBorder = enable; }

  bool IsPointerOver() const { return m_MouseOnButton; }
  QSize IconSize() const { return m_IconSize; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool event(QEvent* event) override;

  // Fills the background; a derived class may draw a themed panel instead.
  virtual void DrawBackground(QPainter& painter, bool pressed, bool focused, bool disabled);
  void FillFlatBackground(QPainter& painter, bool pressed, bool focused);
  CThemeHelperST::ButtonState ThemeState(bool pressed, bool disabled) const;

 private:
  void SetPointerOver(bool over);
  void HandFocusOn();

  std::array<uint32_t, kStateColourCount> m_Colours{};
  QIcon m_Icon;
  QIcon m_IconOut;
  QSize m_IconSize;
  bool m_MouseOnButton = false;
  bool m_DrawBorder = true;
};
