#include "controls/CButtonST.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

#include "controls/CBandedRowDelegate.h"

// The icons are compiled into this static library; their registration must be pulled in explicitly.
static void InitControlResources() {
  static const bool once = [] {
    Q_INIT_RESOURCE(QorOneClick);
    return true;
  }();
  (void)once;
}

CButtonST::CButtonST(QWidget* parent) : QPushButton(parent) {
  setFlat(true);
  setMouseTracking(true);
  setAttribute(Qt::WA_Hover, true);
  SetDefaultColors(false);
}

CButtonST::~CButtonST() = default;

int CButtonST::SetButtonIcons(int id, int id2) {
  InitControlResources();
  const QString path = QStringLiteral(":/icons/%1.png").arg(id);
  QIcon icon(path);
  if (icon.availableSizes().isEmpty()) return 1;
  QIcon iconOut;
  if (id2 != 0) {
    iconOut = QIcon(QStringLiteral(":/icons/%1.png").arg(id2));
    if (iconOut.availableSizes().isEmpty()) return 1;
  }
  m_Icon = icon;
  m_IconOut = iconOut;
  m_IconSize = icon.availableSizes().first();
  update();
  return 0;
}

int CButtonST::SetStateColor(int index, uint32_t colour, bool repaint) {
  if (index < 0 || index >= kStateColourCount) return kInvalidIndex;
  m_Colours[static_cast<size_t>(index)] = colour;
  if (repaint) update();
  return 0;
}

int CButtonST::GetStateColor(int index, uint32_t& colour) const {
  if (index < 0 || index >= kStateColourCount) return kInvalidIndex;
  colour = m_Colours[static_cast<size_t>(index)];
  return 0;
}

void CButtonST::SetDefaultColors(bool repaint) {
  const QPalette pal = QApplication::palette(this);
  const uint32_t face = RefFromColour(pal.color(QPalette::Active, QPalette::Button));
  const uint32_t text = RefFromColour(pal.color(QPalette::Active, QPalette::ButtonText));
  m_Colours[HoverBack] = face;
  m_Colours[NormalBack] = face;
  m_Colours[FocusBack] = face;
  m_Colours[HoverText] = text;
  m_Colours[NormalText] = text;
  m_Colours[FocusText] = text;
  if (repaint) update();
}

void CButtonST::SetPointerOver(bool over) {
  if (m_MouseOnButton == over) return;
  m_MouseOnButton = over;
  update();
}

void CButtonST::enterEvent(QEnterEvent* event) {
  // not while the left button is held down (a press that started elsewhere)
  if (isEnabled() && !(QApplication::mouseButtons() & Qt::LeftButton)) SetPointerOver(true);
  QPushButton::enterEvent(event);
}

void CButtonST::leaveEvent(QEvent* event) {
  SetPointerOver(false);
  QPushButton::leaveEvent(event);
}

void CButtonST::mouseMoveEvent(QMouseEvent* event) {
  if (isEnabled() && !(event->buttons() & Qt::LeftButton))
    SetPointerOver(rect().contains(event->position().toPoint()));
  QPushButton::mouseMoveEvent(event);
}

// two quick clicks are two clicks: the second press arrives as a double click
void CButtonST::mouseDoubleClickEvent(QMouseEvent* event) { QPushButton::mousePressEvent(event); }

void CButtonST::focusOutEvent(QFocusEvent* event) {
  SetPointerOver(false);
  QPushButton::focusOutEvent(event);
}

bool CButtonST::event(QEvent* event) {
  // a mouse grab taken away (the equivalent of a cancelled mode) clears the mark
  if (event->type() == QEvent::UngrabMouse) SetPointerOver(false);
  return QPushButton::event(event);
}

void CButtonST::changeEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::EnabledChange:
      if (!isEnabled()) {
        SetPointerOver(false);
        HandFocusOn();
      }
      break;
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
    case QEvent::ThemeChange:
      // the system colours changed: the red hover caption is gone until someone sets it again
      SetDefaultColors(true);
      break;
    default:
      break;
  }
  QPushButton::changeEvent(event);
}

void CButtonST::HandFocusOn() {
  QWidget* top = window();
  // a window that is not shown yet decides its first focus when it is shown
  if (top == nullptr || top == this || !top->isVisible()) return;
  // the next enabled control in the tab order, or the window itself
  QWidget* next = nextInFocusChain();
  while (next != nullptr && next != this) {
    if (next->window() == top && next != top && next->isEnabled() && next->isVisibleTo(top) &&
        (next->focusPolicy() & Qt::TabFocus)) {
      next->setFocus(Qt::TabFocusReason);
      return;
    }
    next = next->nextInFocusChain();
  }
  top->setFocus(Qt::OtherFocusReason);
}

CThemeHelperST::ButtonState CButtonST::ThemeState(bool pressed, bool disabled) const {
  if (disabled) return CThemeHelperST::PBS_DISABLED;
  if (pressed) return CThemeHelperST::PBS_PRESSED;
  if (m_MouseOnButton) return CThemeHelperST::PBS_HOT;
  if (isDefault()) return CThemeHelperST::PBS_DEFAULTED;
  return CThemeHelperST::PBS_NORMAL;
}

void CButtonST::FillFlatBackground(QPainter& painter, bool pressed, bool focused) {
  uint32_t back = m_Colours[NormalBack];
  if (m_MouseOnButton || pressed)
    back = m_Colours[HoverBack];
  else if (focused)
    back = m_Colours[FocusBack];
  painter.fillRect(rect(), ColourFromRef(back));
}

void CButtonST::DrawBackground(QPainter& painter, bool pressed, bool focused, bool /*disabled*/) {
  FillFlatBackground(painter, pressed, focused);
}

void CButtonST::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const bool pressed = isDown();
  const bool focused = hasFocus();
  const bool disabled = !isEnabled();
  const int offset = pressed ? kPressedOffset : 0;

  DrawBackground(painter, pressed, focused, disabled);
  if (m_DrawBorder && isFlat() && (m_MouseOnButton || pressed)) {
    const QPalette pal = palette();
    const QRect r = rect().adjusted(0, 0, -1, -1);
    painter.setPen(pressed ? pal.color(QPalette::Dark) : pal.color(QPalette::Light));
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(pressed ? pal.color(QPalette::Light) : pal.color(QPalette::Dark));
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
  }

  // icon: 3 pixels from the left edge, centred vertically
  QRect captionRect = rect();
  if (!m_Icon.isNull()) {
    const QIcon& icon = (!m_IconOut.isNull() && !m_MouseOnButton && !pressed) ? m_IconOut : m_Icon;
    const int top = (height() - m_IconSize.height()) / 2;
    const QRect iconRect(kIconLeft + offset, top + offset, m_IconSize.width(), m_IconSize.height());
    icon.paint(&painter, iconRect, Qt::AlignCenter, disabled ? QIcon::Disabled : QIcon::Normal);
    captionRect.setLeft(kIconLeft + m_IconSize.width());
  }

  // caption: centred, broken into words, mnemonic underlined
  captionRect.translate(offset, offset);
  const int flags = Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;
  painter.setFont(font());
  if (disabled) {
    const QPalette pal = palette();
    // the system's highlight and shadow colours, whatever the widget's state
    painter.setPen(pal.color(QPalette::Active, QPalette::Light));
    painter.drawText(captionRect.translated(1, 1), flags, text());
    painter.setPen(pal.color(QPalette::Active, QPalette::Dark));
    painter.drawText(captionRect, flags, text());
  } else {
    uint32_t colour = m_Colours[NormalText];
    if (m_MouseOnButton || pressed)
      colour = m_Colours[HoverText];
    else if (focused)
      colour = m_Colours[FocusText];
    painter.setPen(ColourFromRef(colour));
    painter.drawText(captionRect, flags, text());
  }
  // no focus rectangle
}
