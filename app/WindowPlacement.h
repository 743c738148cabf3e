#pragma once

#include <QByteArray>
#include <cstdint>

class QSettings;
class QWidget;

// The main window's placement as it is stored: the 44-byte record of eleven little-endian 32-bit
// fields (length, flags, show command, minimised x and y, maximised x and y, normal rectangle left,
// top, right, bottom). Kept in the settings group "Settings" as "Window Position".
struct WindowPlacementRecord {
  static constexpr int kSize = 44;
  static constexpr int32_t kShowNormal = 1;
  static constexpr int32_t kShowMaximized = 3;

  int32_t length = kSize;
  int32_t flags = 0;
  int32_t showCommand = kShowNormal;
  int32_t minX = -1;
  int32_t minY = -1;
  int32_t maxX = -1;
  int32_t maxY = -1;
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  QByteArray Encode() const;
  // False (out unchanged) unless bytes is exactly 44 bytes long.
  static bool Decode(const QByteArray& bytes, WindowPlacementRecord& out);
  bool operator==(const WindowPlacementRecord&) const = default;
};

// The record of a top-level widget: its normal (restored) geometry, and show command 3 when it is
// maximised, 1 otherwise (a minimised window is stored at its normal size).
WindowPlacementRecord CaptureWindowPlacement(const QWidget& window);
// Applies a record: false (nothing changed) for an empty or inverted rectangle. A rectangle that lies
// on no screen is moved onto the primary screen.
bool ApplyWindowPlacement(QWidget& window, const WindowPlacementRecord& record);

// Settings group and value name.
inline constexpr const char* kPlacementGroup = "Settings";
inline constexpr const char* kPlacementValue = "Window Position";

bool SaveWindowPlacement(QSettings& settings, const QWidget& window);
// False (the window keeps its position and size) when the value is missing, is not 44 bytes long or
// is refused.
bool RestoreWindowPlacement(QSettings& settings, QWidget& window);
