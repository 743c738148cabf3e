#include "app/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

namespace {
void PutI32(QByteArray& out, int offset, int32_t value) {
  const auto u = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) out[offset + i] = static_cast<char>((u >> (8 * i)) & 0xFFu);
}

int32_t GetI32(const QByteArray& in, int offset) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(static_cast<uint8_t>(in[offset + i])) << (8 * i);
  return static_cast<int32_t>(u);
}
}  // namespace

QByteArray WindowPlacementRecord::Encode() const {
  QByteArray out(kSize, '\0');
  const int32_t fields[] = {length, flags, showCommand, minX, minY, maxX, maxY, left, top, right, bottom};
  for (int i = 0; i < 11; ++i) PutI32(out, 4 * i, fields[i]);
  return out;
}

bool WindowPlacementRecord::Decode(const QByteArray& bytes, WindowPlacementRecord& out) {
  if (bytes.size() != kSize) return false;
  WindowPlacementRecord r;
  int32_t* fields[] = {&r.length, &r.flags, &r.showCommand, &r.minX,  &r.minY,  &r.maxX,
                       &r.maxY,   &r.left,  &r.top,         &r.right, &r.bottom};
  for (int i = 0; i < 11; ++i) *fields[i] = GetI32(bytes, 4 * i);
  out = r;
  return true;
}

WindowPlacementRecord CaptureWindowPlacement(const QWidget& window) {
  WindowPlacementRecord record;
  const bool maximised = window.isMaximized() || (window.windowState() & Qt::WindowMaximized);
  record.showCommand = maximised ? WindowPlacementRecord::kShowMaximized : WindowPlacementRecord::kShowNormal;
  // the restored geometry, also for a maximised or minimised window
  QRect normal = window.normalGeometry();
  if (!normal.isValid() || normal.isEmpty()) normal = window.geometry();
  record.left = normal.left();
  record.top = normal.top();
  record.right = normal.left() + normal.width();
  record.bottom = normal.top() + normal.height();
  return record;
}

bool ApplyWindowPlacement(QWidget& window, const WindowPlacementRecord& record) {
  const int64_t width = static_cast<int64_t>(record.right) - record.left;
  const int64_t height = static_cast<int64_t>(record.bottom) - record.top;
  if (width <= 0 || height <= 0 || width > 100000 || height > 100000) return false;
  QRect rect(record.left, record.top, static_cast<int>(width), static_cast<int>(height));

  // a screen that was there when the window closed may be gone now
  bool onScreen = false;
  for (const QScreen* screen : QGuiApplication::screens())
    if (screen->availableGeometry().intersects(rect)) onScreen = true;
  if (!onScreen) {
    if (const QScreen* primary = QGuiApplication::primaryScreen())
      rect.moveTopLeft(primary->availableGeometry().topLeft());
  }
  window.setGeometry(rect);
  if (record.showCommand == WindowPlacementRecord::kShowMaximized)
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
  else
    window.setWindowState(window.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
  return true;
}

bool SaveWindowPlacement(QSettings& settings, const QWidget& window) {
  settings.beginGroup(kPlacementGroup);
  settings.setValue(kPlacementValue, CaptureWindowPlacement(window).Encode());
  settings.endGroup();
  settings.sync();
  return settings.status() == QSettings::NoError;
}

bool RestoreWindowPlacement(QSettings& settings, QWidget& window) {
  settings.beginGroup(kPlacementGroup);
  const QVariant value = settings.value(kPlacementValue);
  settings.endGroup();
  if (!value.isValid()) return false;
  WindowPlacementRecord record;
  if (!WindowPlacementRecord::Decode(value.toByteArray(), record)) return false;
  return ApplyWindowPlacement(window, record);
}
