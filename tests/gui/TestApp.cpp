// The application: its command line, and the program itself started twice (one copy per user).
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include "app/CQorOneClickApp.h"
#include "app/CSingleInstance.h"
#include "platform/Version.h"

namespace {
QProcessEnvironment PrivateEnvironment(const QTemporaryDir& dir) {
  // everything the program keeps per user goes into dir: runtime (lock, socket, help), state (log),
  // configuration (placement)
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("XDG_RUNTIME_DIR", dir.path() + "/run");
  env.insert("XDG_STATE_HOME", dir.path() + "/state");
  env.insert("XDG_CONFIG_HOME", dir.path() + "/config");
  env.insert("HOME", dir.path());
  QDir().mkpath(dir.path() + "/run");
  QFile::setPermissions(dir.path() + "/run",
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  return env;
}
}  // namespace

class TestApp : public QObject {
  Q_OBJECT

 private slots:
  void CommandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("demo");
    QTest::addColumn<double>("speed");
    QTest::addColumn<bool>("help");
    QTest::addColumn<bool>("version");
    QTest::addColumn<QString>("images");
    QTest::newRow("none") << QStringList{} << true << false << 1.0 << false << false << QString();
    QTest::newRow("demo") << QStringList{"--demo"} << true << true << 1.0 << false << false << QString();
    QTest::newRow("demo fast") << QStringList{"--demo", "--speed", "20"} << true << true << 20.0 << false
                               << false << QString();
    QTest::newRow("speed first") << QStringList{"--speed", "2.5", "--demo"} << true << true << 2.5 << false
                                 << false << QString();
    QTest::newRow("speed with =") << QStringList{"--demo", "--speed=3"} << true << true << 3.0 << false
                                  << false << QString();
    QTest::newRow("help") << QStringList{"--help"} << true << false << 1.0 << true << false << QString();
    QTest::newRow("help short") << QStringList{"-h"} << true << false << 1.0 << true << false << QString();
    QTest::newRow("version") << QStringList{"--version"} << true << false << 1.0 << false << true
                             << QString();
    QTest::newRow("version short") << QStringList{"-v"} << true << false << 1.0 << false << true << QString();
    QTest::newRow("images") << QStringList{"--images", "/srv/img"} << true << false << 1.0 << false << false
                            << QString("/srv/img");
    QTest::newRow("images with =") << QStringList{"--images=/media/usb"} << true << false << 1.0 << false
                                   << false << QString("/media/usb");
    QTest::newRow("images empty") << QStringList{"--images", ""} << false << false << 1.0 << false << false
                                  << QString();
    QTest::newRow("images missing") << QStringList{"--images"} << false << false << 1.0 << false << false
                                    << QString();
    QTest::newRow("speed without demo")
        << QStringList{"--speed", "5"} << false << false << 1.0 << false << false << QString();
    QTest::newRow("speed missing") << QStringList{"--demo", "--speed"} << false << false << 1.0 << false
                                   << false << QString();
    QTest::newRow("speed too low") << QStringList{"--demo", "--speed", "0.5"} << false << false << 1.0
                                   << false << false << QString();
    QTest::newRow("speed too high") << QStringList{"--demo", "--speed", "1001"} << false << false << 1.0
                                    << false << false << QString();
    QTest::newRow("speed not a number")
        << QStringList{"--demo", "--speed", "fast"} << false << false << 1.0 << false << false << QString();
    QTest::newRow("speed nan") << QStringList{"--demo", "--speed", "nan"} << false << false << 1.0 << false
                               << false << QString();
    QTest::newRow("unknown") << QStringList{"--check"} << false << false << 1.0 << false << false
                             << QString();
    QTest::newRow("a word") << QStringList{"check"} << false << false << 1.0 << false << false << QString();
    QTest::newRow("one dash long") << QStringList{"-demo"} << false << false << 1.0 << false << false
                                   << QString();
  }
  void CommandLine() {
    QFETCH(QStringList, args);
    QFETCH(bool, ok);
    QFETCH(bool, demo);
    QFETCH(double, speed);
    QFETCH(bool, help);
    QFETCH(bool, version);
    QFETCH(QString, images);
    AppOptions options;
    QString error;
    args.prepend("qor-oneclick");
    QCOMPARE(ParseAppOptions(args, options, error), ok);
    QCOMPARE(error.isEmpty(), ok);
    if (ok) {
      QCOMPARE(options.demo, demo);
      QCOMPARE(options.speed, speed);
      QCOMPARE(options.help, help);
      QCOMPARE(options.version, version);
      QCOMPARE(options.imagesDir.value_or(QString()), images);
    }
  }

  void OffscreenOnlyWhenNoWindowIsWanted_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("platform");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("wayland");
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<bool>("offscreen");
    QTest::newRow("X11 session") << QStringList{} << ""
                                 << ":0"
                                 << "" << true << false;
    QTest::newRow("Wayland session") << QStringList{} << ""
                                     << ""
                                     << "wayland-0" << true << false;
    QTest::newRow("help in a session") << QStringList{"--help"} << ""
                                       << ":0"
                                       << "" << true << true;
    QTest::newRow("version in a session") << QStringList{"-v"} << ""
                                          << ":0"
                                          << "" << true << true;
    QTest::newRow("no display") << QStringList{"--demo"} << ""
                                << ""
                                << "" << false << true;
    QTest::newRow("no display, xcb asked") << QStringList{} << "xcb"
                                           << ""
                                           << "" << false << true;
    QTest::newRow("no display, wayland;xcb") << QStringList{} << "wayland;xcb"
                                             << ""
                                             << "" << false << true;
    QTest::newRow("offscreen asked") << QStringList{"--demo"} << "offscreen"
                                     << ""
                                     << "" << true << false;
    QTest::newRow("platform option") << QStringList{"-platform", "vnc"} << ""
                                     << ""
                                     << "" << true << false;
    QTest::newRow("platform option, two dashes") << QStringList{"--platform=offscreen"} << ""
                                                 << ""
                                                 << "" << true << false;
    QTest::newRow("unknown option, no display") << QStringList{"--bogus"} << "xcb"
                                                << ""
                                                << "" << false << true;
  }
  void OffscreenOnlyWhenNoWindowIsWanted() {
    QFETCH(QStringList, args);
    QFETCH(QString, platform);
    QFETCH(QString, display);
    QFETCH(QString, wayland);
    QFETCH(bool, reachable);
    QFETCH(bool, offscreen);
    args.prepend("qor-oneclick");
    auto getenv = [&](const char* name) -> QByteArray {
      const QByteArray n(name);
      if (n == "QT_QPA_PLATFORM") return platform.toUtf8();
      if (n == "DISPLAY") return display.toUtf8();
      if (n == "WAYLAND_DISPLAY") return wayland.toUtf8();
      return QByteArray();
    };
    QCOMPARE(DisplayReachable(args, getenv), reachable);
    QCOMPARE(CommandLineNeedsOffscreen(args, getenv), offscreen);
  }

#ifdef QOR_ONECLICK_PATH
  void HelpNeedsNoDisplay() {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "xcb");
    p.setProcessEnvironment(env);
    p.start(QOR_ONECLICK_PATH, {"--help"});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardOutput().contains("--demo"));
    p.start(QOR_ONECLICK_PATH, {"--bogus"});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(p.readAllStandardError().contains("qor-oneclick: Unknown option 'bogus'."));
    // a command line that wants the window says why it cannot open one
    p.start(QOR_ONECLICK_PATH, {});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 1);
    QVERIFY(p.readAllStandardError().contains("no display"));
  }

  void QtOptionsAreTakenBeforeOurs_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("version") << QStringList{"--version"} << 0 << "qor-oneclick " QOR_PRODUCT_VERSION "\n"
                             << "";
    QTest::newRow("Qt's platform option")
        << QStringList{"-platform", "offscreen", "--version"} << 0 << "qor-oneclick " QOR_PRODUCT_VERSION "\n"
        << "";
    QTest::newRow("Qt's style option")
        << QStringList{"-style", "fusion", "-v"} << 0 << "qor-oneclick " QOR_PRODUCT_VERSION "\n"
        << "";
    QTest::newRow("help names our options") << QStringList{"--help"} << 0 << "--images <DIR>"
                                            << "";
    QTest::newRow("help with Qt's options") << QStringList{"--help-all"} << 0 << "-platform"
                                            << "";
    QTest::newRow("unknown option") << QStringList{"--style-sheet-x"} << 2 << ""
                                    << "qor-oneclick: Unknown option 'style-sheet-x'.";
    QTest::newRow("missing value") << QStringList{"--images"} << 2 << ""
                                   << "Missing value after '--images'.";
    QTest::newRow("speed without demo") << QStringList{"--speed", "4"} << 2 << ""
                                        << "qor-oneclick: --speed applies to --demo only";
  }
  void QtOptionsAreTakenBeforeOurs() {
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LANGUAGE", "en");
    p.setProcessEnvironment(env);
    p.start(QOR_ONECLICK_PATH, args);
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), status);
    const QString stdOut = QString::fromUtf8(p.readAllStandardOutput());
    const QString stdErr = QString::fromUtf8(p.readAllStandardError());
    if (args.contains("--version") || args.contains("-v"))
      QCOMPARE(stdOut, out);
    else if (!out.isEmpty())
      QVERIFY2(stdOut.contains(out), qPrintable(stdOut));
    if (!err.isEmpty()) QVERIFY2(stdErr.contains(err), qPrintable(stdErr));
    if (status != 0) QVERIFY(stdOut.isEmpty());
  }

  void HelpIsChineseUnderAChineseLanguage() {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LANGUAGE", "zh_CN");
    p.setProcessEnvironment(env);
    p.start(QOR_ONECLICK_PATH, {"--help"});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    QVERIFY2(out.contains(QString::fromUtf8("在 DIR 中查找 .bin 升级文件")), qPrintable(out));
    QVERIFY2(out.contains(QString::fromUtf8("拖放到列表上的文件夹用于下一次检查")), qPrintable(out));
  }

  void SecondCopyEndsAtOnce() {
    QTemporaryDir dir;
    const QProcessEnvironment env = PrivateEnvironment(dir);
    QProcess first;
    first.setProcessEnvironment(env);
    first.start(QOR_ONECLICK_PATH, {"--demo", "--speed", "20"});
    QVERIFY(first.waitForStarted(30000));
    // the first copy listens once it runs
    const QString socket = QStringLiteral("%1/run/qor-oneclick-%2/%3.sock")
                               .arg(dir.path())
                               .arg(::geteuid())
                               .arg(QString::fromLatin1(CSingleInstance::kInstanceName));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 30000);
    QCOMPARE(first.state(), QProcess::Running);

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QOR_ONECLICK_PATH, {});
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    first.terminate();
    if (!first.waitForFinished(10000)) {
      first.kill();
      first.waitForFinished(10000);
    }
  }
#endif
};

QTEST_MAIN(TestApp)
#include "TestApp.moc"
