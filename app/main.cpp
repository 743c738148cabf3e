#include <QApplication>
#include <QStringList>
#include <cstdio>

#include "app/AppTranslations.h"
#include "app/CQorOneClickApp.h"

namespace {
void Print(FILE* stream, const QString& text) {
  std::fputs(text.toUtf8().constData(), stream);
  std::fflush(stream);
}
}  // namespace

int main(int argc, char** argv) {
  QStringList raw;
  for (int i = 0; i < argc; ++i) raw << QString::fromLocal8Bit(argv[i]);
  auto getenv = [](const char* name) { return qgetenv(name); };
  // QApplication reaches the window system before the command line is read: a command line that
  // only asks for text, or a session without any display, runs on the offscreen platform so that
  // it is still answered instead of ending in the platform plugin's abort
  const bool displayReachable = DisplayReachable(raw, getenv);
  if (CommandLineNeedsOffscreen(raw, getenv)) qputenv("QT_QPA_PLATFORM", "offscreen");

  QApplication app(argc, argv);
  CQorOneClickApp::NameApplication();
  InstallTranslations(app, QCoreApplication::applicationDirPath());

  // Qt has taken its own options (-platform, -style, ...) out of the arguments
  AppOptions options;
  QString error;
  if (!ParseAppOptions(QCoreApplication::arguments(), options, error)) {
    Print(stderr, QStringLiteral("qor-oneclick: %1\n\n%2").arg(error, AppUsage()));
    return 2;
  }
  if (options.helpAll) ShowHelpWithQtOptions();
  if (options.help) {
    Print(stdout, AppUsage());
    return 0;
  }
  if (options.version) {
    Print(stdout, AppVersionLine());
    return 0;
  }
  if (!displayReachable) {
    Print(stderr,
          QStringLiteral("qor-oneclick: %1\n")
              .arg(CQorOneClickApp::tr("no display to show the window on: set DISPLAY or WAYLAND_DISPLAY, "
                                       "or choose a platform with -platform")));
    return 1;
  }
  return CQorOneClickApp().Run(options);
}
