#include <QApplication>
#include <QStringList>
#include <cstdio>

#include "app/CQorOneClickApp.h"

int main(int argc, char** argv) {
  // the options are read before the window system is reached, so --help works without a display
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  AppOptions options;
  QString error;
  if (!ParseAppOptions(arguments, options, error)) {
    std::fprintf(stderr, "qor-oneclick: %s\n%s", qPrintable(error), qPrintable(AppUsage()));
    return 2;
  }
  if (options.help) {
    std::fputs(qPrintable(AppUsage()), stdout);
    return 0;
  }
  QApplication app(argc, argv);
  CQorOneClickApp::NameApplication();
  return CQorOneClickApp().Run(options);
}
