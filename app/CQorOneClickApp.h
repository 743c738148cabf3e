#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "image/ImageSearch.h"

// Command line of the desktop tool, read with QCommandLineParser once QApplication has taken Qt's
// own options (-platform, -style, ...). The real tool needs no option; --images DIR names the image
// folder, --demo runs the window against the in-process router emulator with sample images, --speed
// N runs the demo's clock N times faster.
struct AppOptions {
  bool demo = false;
  double speed = 1.0;  // 1 to 1000, with --demo only
  std::optional<QString> imagesDir;
  bool help = false;
  bool helpAll = false;  // help with Qt's own options
  bool version = false;
};

// False with a reason for an unknown option, a missing value, a bad speed or --speed without --demo.
// arguments[0] is the program.
bool ParseAppOptions(const QStringList& arguments, AppOptions& options, QString& error);
// The --help text.
QString AppUsage();
// --help-all: the help text with Qt's own options, printed by Qt's parser, which then ends the
// program with status 0.
[[noreturn]] void ShowHelpWithQtOptions();
// What --version prints: "qor-oneclick <version>".
QString AppVersionLine();

// Decided before QApplication exists, when Qt would already need a display: true when the command
// line only asks for text (help, version) or when no display can be reached (no -platform option,
// QT_QPA_PLATFORM unset or an X11/Wayland one, neither DISPLAY nor WAYLAND_DISPLAY set). The program
// then runs on the offscreen platform so that the command line is still read and answered.
bool CommandLineNeedsOffscreen(const QStringList& arguments,
                               const std::function<QByteArray(const char*)>& getenv);
// Whether any display at all can be reached (the second half of the rule above).
bool DisplayReachable(const QStringList& arguments, const std::function<QByteArray(const char*)>& getenv);

// A box without owner window, caption "Warning", warning icon and one OK button, for start-up
// failures before the dialog exists.
void ShowWarningBox(const QString& text);

// The application: one copy per user, settings under the organisation "Tavrix" and the application's
// name, the dialog run as the main window until it closes. Everything a run creates is destroyed in
// reverse order when Run returns: the dialog first (it waits for a running Check), then the demo's
// emulator, then the demo's clock.
class CQorOneClickApp {
  Q_DECLARE_TR_FUNCTIONS(CQorOneClickApp)

 public:
  static constexpr const char* kOrganisation = "Tavrix";
  static constexpr const char* kApplicationName = "qor-oneclick";

  // Names the application for its settings, its desktop entry and its version; call before Run (the
  // QApplication must exist).
  static void NameApplication();
  // The exit status: 0 after the dialog closed or when another copy runs, 1 when start-up failed,
  // 5 when the demo could not start.
  int Run(const AppOptions& options);
};
