#include "app/CQorOneClickApp.h"

#include <QApplication>
#include <QMessageBox>
#include <memory>
#include <optional>

#include "app/CQorOneClickDlg.h"
#include "app/CSingleInstance.h"
#include "platform/Clock.h"
#include "platform/UserDirs.h"

#include "demo/DemoSetup.h"

bool ParseAppOptions(const QStringList& arguments, AppOptions& options, QString& error) {
  bool speedGiven = false;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& arg = arguments[i];
    if (arg == QLatin1String("--demo")) {
      options.demo = true;
    } else if (arg == QLatin1String("--speed")) {
      if (i + 1 >= arguments.size()) {
        error = QStringLiteral("--speed needs a number");
        return false;
      }
      bool ok = false;
      const double speed = arguments[++i].toDouble(&ok);
      if (!ok || !(speed >= 1.0 && speed <= 1000.0)) {
        error = QStringLiteral("not a speed (a number from 1 to 1000): '%1'").arg(arguments[i]);
        return false;
      }
      options.speed = speed;
      speedGiven = true;
    } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
      options.help = true;
    } else {
      error = QStringLiteral("unknown argument '%1'").arg(arg);
      return false;
    }
  }
  if (speedGiven && !options.demo) {
    error = QStringLiteral("--speed applies to --demo only");
    return false;
  }
  return true;
}

QString AppUsage() {
  return QStringLiteral(
      "Usage: qor-oneclick [--demo [--speed N]]\n"
      "  (no option)   upgrade the router on this PC's network: Check, then Upgrade\n"
      "  --demo        the same window against a built-in router emulator on loopback, with sample images\n"
      "  --speed N     demo only: run its clock N times faster (1 to 1000, default 1)\n");
}

void ShowWarningBox(const QString& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), text, QMessageBox::Ok);
  box.exec();
}

void CQorOneClickApp::NameApplication() {
  QCoreApplication::setOrganizationName(QString::fromLatin1(kOrganisation));
  QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationName));
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
  std::unique_ptr<DemoSetup> demo;
  if (options.demo) {
    // the emulator's threads read the clock: install it first
    if (options.speed != 1.0) {
      clock.emplace(options.speed);
      useClock.emplace(*clock);
    }
    demo = std::make_unique<DemoSetup>();
    std::string demoError;
    if (!demo->Start(&demoError)) {
      ShowWarningBox(QStringLiteral("The demo could not start: %1").arg(QString::fromStdString(demoError)));
      return 5;
    }
    dialogOptions.endpoints = demo->GetEndpoints();
    dialogOptions.imageFolder = demo->ImageFolder();
    dialogOptions.loadEmbeddedImages = false;
  }

  CQorOneClickDlg dialog(dialogOptions);
  // a second copy asks for the window: restored if minimised, otherwise left alone
  QObject::connect(&instance, &CSingleInstance::restoreRequested, &dialog, [&dialog]() {
    if (dialog.isMinimized()) dialog.showNormal();
  });
  dialog.exec();
  return 0;
}
