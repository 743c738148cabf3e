#include "app/CQorOneClickApp.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <cstdlib>
#include <memory>
#include <optional>

#include "app/CQorOneClickDlg.h"
#include "app/CSingleInstance.h"
#include "platform/Clock.h"
#include "platform/UserDirs.h"
#include "platform/Version.h"

#ifdef QOR_HAVE_DEMO
#include "tools/DemoSetup.h"
#endif

namespace {

// The window's options in one parser, for both the parse and the help text.
struct AppParser {
  QCommandLineParser parser;
  QCommandLineOption help = parser.addHelpOption();
  QCommandLineOption version = parser.addVersionOption();
  QCommandLineOption demo{
      QStringLiteral("demo"),
      CQorOneClickApp::tr(
          "Run the window against a built-in router emulator on loopback, with sample images.")};
  QCommandLineOption speed{
      QStringLiteral("speed"),
      CQorOneClickApp::tr("Demo only: run its clock N times faster (1 to 1000, default 1)."),
      QStringLiteral("N")};
  QCommandLineOption images{
      QStringLiteral("images"),
      CQorOneClickApp::tr("Scan DIR for the .bin upgrade images instead of searching for them."),
      QStringLiteral("DIR")};

  AppParser() {
    parser.setApplicationDescription(CQorOneClickApp::tr(
        "Upgrades the router on this PC's network and its wireless module: Check, then Upgrade."));
    parser.addOption(images);
    parser.addOption(demo);
    parser.addOption(speed);
  }
};

}  // namespace

bool ParseAppOptions(const QStringList& arguments, AppOptions& options, QString& error) {
  options = AppOptions{};
  AppParser p;
  if (!p.parser.parse(arguments)) {
    error = p.parser.errorText();
    return false;
  }
  // an option that is not ours was refused by the parse; words without a dash are not taken either
  if (!p.parser.positionalArguments().isEmpty()) {
    error = CQorOneClickApp::tr("unexpected argument '%1'").arg(p.parser.positionalArguments().constFirst());
    return false;
  }
  options.help = p.parser.isSet(p.help);
  options.helpAll = p.parser.isSet(QStringLiteral("help-all"));
  options.version = p.parser.isSet(p.version);
  options.demo = p.parser.isSet(p.demo);
  if (p.parser.isSet(p.images)) {
    const QString dir = p.parser.value(p.images);
    if (dir.isEmpty()) {
      error = CQorOneClickApp::tr("option --images needs a folder");
      return false;
    }
    options.imagesDir = dir;
  }
  if (p.parser.isSet(p.speed)) {
    bool ok = false;
    const QString text = p.parser.value(p.speed);
    const double speed = text.toDouble(&ok);
    if (!ok || !(speed >= 1.0 && speed <= 1000.0)) {
      error = CQorOneClickApp::tr("not a speed (a number from 1 to 1000): '%1'").arg(text);
      return false;
    }
    if (!options.demo) {
      error = CQorOneClickApp::tr("--speed applies to --demo only");
      return false;
    }
    options.speed = speed;
  }
  return true;
}

QString AppUsage() {
  AppParser p;
  QString text = p.parser.helpText();
  // Qt names the program by the path it was started with; the usage names it by its name
  const qsizetype lineEnd = text.indexOf(u'\n');
  const QString started = QCoreApplication::arguments().value(0);
  if (lineEnd > 0 && !started.isEmpty()) {
    QString first = text.left(lineEnd);
    first.replace(started, QString::fromLatin1(CQorOneClickApp::kApplicationName));
    text = first + text.mid(lineEnd);
  }
  text += u'\n';
  text += CQorOneClickApp::tr(
      "Images: without --images the first of these that holds a .bin file is used: the images\n"
      "embedded in the program, the program's folder, $XDG_DATA_HOME/qor-oneclick/images\n"
      "(~/.local/share/qor-oneclick/images), each $XDG_DATA_DIRS entry + /qor-oneclick/images\n"
      "(/usr/local/share, /usr/share). A folder dropped onto the list is used for the next Check.\n");
  return text;
}

void ShowHelpWithQtOptions() {
  AppParser p;
  p.parser.process(QStringList{QCoreApplication::arguments().value(0), QStringLiteral("--help-all")});
  // process() ends the program after the help; this is never reached
  std::exit(0);
}

QString AppVersionLine() { return QString::fromStdString(VersionLine(CQorOneClickApp::kApplicationName)); }

bool DisplayReachable(const QStringList& arguments, const std::function<QByteArray(const char*)>& getenv) {
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    // Qt takes its options with one dash or two
    if (a == QLatin1String("-platform") || a == QLatin1String("--platform") ||
        a.startsWith(QLatin1String("-platform=")) || a.startsWith(QLatin1String("--platform=")))
      return true;
  }
  const QByteArray platform = getenv("QT_QPA_PLATFORM");
  for (const QByteArray& name : platform.split(';')) {
    if (!name.isEmpty() && !name.startsWith("xcb") && !name.startsWith("wayland")) return true;
  }
  return !getenv("DISPLAY").isEmpty() || !getenv("WAYLAND_DISPLAY").isEmpty();
}

bool CommandLineNeedsOffscreen(const QStringList& arguments,
                               const std::function<QByteArray(const char*)>& getenv) {
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (a == QLatin1String("-h") || a == QLatin1String("--help") || a == QLatin1String("--help-all") ||
        a == QLatin1String("-v") || a == QLatin1String("--version"))
      return true;
  }
  return !DisplayReachable(arguments, getenv);
}

void ShowWarningBox(const QString& text) {
  QMessageBox box(QMessageBox::Warning, CQorOneClickApp::tr("Warning"), text, QMessageBox::Ok);
  box.exec();
}

void CQorOneClickApp::NameApplication() {
  QCoreApplication::setOrganizationName(QString::fromLatin1(kOrganisation));
  QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationName));
  QCoreApplication::setApplicationVersion(QString::fromLatin1(kProductVersion));
  // the desktop entry qor-oneclick.desktop: its icon and name on Wayland, its StartupWMClass on X11
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationName));
}

int CQorOneClickApp::Run(const AppOptions& options) {
  std::string directory;
  std::string why;
  if (!GetPrivateTempDirectory(directory, &why)) {
    ShowWarningBox(QString::fromStdString(why));
    return 1;
  }
  CSingleInstance instance(QString::fromStdString(directory));
  QString error;
  switch (instance.Acquire(&error)) {
    case CSingleInstance::Result::Other:
      return 0;
    case CSingleInstance::Result::Failed:
      ShowWarningBox(error);
      return 1;
    case CSingleInstance::Result::First:
      break;
  }

  DialogOptions dialogOptions;
  std::optional<ScaledClock> clock;
  std::optional<ScopedClock> useClock;
#ifdef QOR_HAVE_DEMO
  std::unique_ptr<DemoSetup> demo;
#endif
  if (options.demo) {
#ifdef QOR_HAVE_DEMO
    // the emulator's threads read the clock: install it first
    if (options.speed != 1.0) {
      clock.emplace(options.speed);
      useClock.emplace(*clock);
    }
    demo = std::make_unique<DemoSetup>();
    std::string demoError;
    if (!demo->Start(&demoError)) {
      ShowWarningBox(
          CQorOneClickApp::tr("The demo could not start: %1").arg(QString::fromStdString(demoError)));
      return 5;
    }
    dialogOptions.endpoints = demo->GetEndpoints();
    dialogOptions.imageFolder = demo->ImageFolder();
    dialogOptions.imageFolderKind = ImageSourceKind::Demo;
    dialogOptions.loadEmbeddedImages = false;
#else
    ShowWarningBox(CQorOneClickApp::tr("This build has no demo."));
    return 5;
#endif
  } else if (options.imagesDir) {
    dialogOptions.imageFolder = options.imagesDir->toStdString();
    dialogOptions.imageFolderKind = ImageSourceKind::Option;
  }

  CQorOneClickDlg dialog(dialogOptions);
  // a second copy asks for the window: restored if minimised, otherwise left alone
  QObject::connect(&instance, &CSingleInstance::restoreRequested, &dialog, [&dialog]() {
    if (dialog.isMinimized()) dialog.showNormal();
  });
  dialog.exec();
  return 0;
}
