#pragma once

#include <QString>
#include <QStringList>

// Command line of the desktop tool. The real tool has no options; --demo runs the window against the
// in-process router emulator with sample images, --speed N runs the demo's clock N times faster.
struct AppOptions {
  bool demo = false;
  double speed = 1.0;  // 1 to 1000, with --demo only
  bool help = false;
};

// False with a reason for an unknown argument or a bad speed.
bool ParseAppOptions(const QStringList& arguments, AppOptions& options, QString& error);
QString AppUsage();

// A box without owner window, caption "Warning", warning icon and one OK button, for start-up
// failures before the dialog exists.
void ShowWarningBox(const QString& text);

// The application: one copy per user, settings under the organisation "Tavrix" and the application's
// name, the dialog run as the main window until it closes. Everything a run creates is destroyed in
// reverse order when Run returns: the dialog first (it waits for a running Check), then the demo's
// emulator, then the demo's clock.
class CQorOneClickApp {
 public:
  static constexpr const char* kOrganisation = "Tavrix";
  static constexpr const char* kApplicationName = "qor-oneclick";

  // Names the application for its settings; call before Run (the QApplication must exist).
  static void NameApplication();
  // The exit status: 0 after the dialog closed or when another copy runs, 1 when start-up failed,
  // 5 when the demo could not start.
  int Run(const AppOptions& options);
};
