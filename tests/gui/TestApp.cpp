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
    QTest::newRow("none") << QStringList{} << true << false << 1.0 << false;
    QTest::newRow("demo") << QStringList{"--demo"} << true << true << 1.0 << false;
    QTest::newRow("demo fast") << QStringList{"--demo", "--speed", "20"} << true << true << 20.0 << false;
    QTest::newRow("speed first") << QStringList{"--speed", "2.5", "--demo"} << true << true << 2.5 << false;
    QTest::newRow("help") << QStringList{"--help"} << true << false << 1.0 << true;
    QTest::newRow("speed without demo") << QStringList{"--speed", "5"} << false << false << 1.0 << false;
    QTest::newRow("speed missing") << QStringList{"--demo", "--speed"} << false << false << 1.0 << false;
    QTest::newRow("speed too low") << QStringList{"--demo", "--speed", "0.5"} << false << false << 1.0
                                   << false;
    QTest::newRow("speed too high") << QStringList{"--demo", "--speed", "1001"} << false << false << 1.0
                                    << false;
    QTest::newRow("speed not a number")
        << QStringList{"--demo", "--speed", "fast"} << false << false << 1.0 << false;
    QTest::newRow("speed nan") << QStringList{"--demo", "--speed", "nan"} << false << false << 1.0 << false;
    QTest::newRow("unknown") << QStringList{"--check"} << false << false << 1.0 << false;
  }
  void CommandLine() {
    QFETCH(QStringList, args);
    QFETCH(bool, ok);
    QFETCH(bool, demo);
    QFETCH(double, speed);
    QFETCH(bool, help);
    AppOptions options;
    QString error;
    args.prepend("qor-oneclick");
    QCOMPARE(ParseAppOptions(args, options, error), ok);
    QCOMPARE(error.isEmpty(), ok);
    if (ok) {
      QCOMPARE(options.demo, demo);
      QCOMPARE(options.speed, speed);
      QCOMPARE(options.help, help);
    }
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
