// The window's Check and Upgrade against the in-process emulator, with an image file changed between
// the two: the Upgrade sends nothing, a warning names the file and what to do, the rows stay as the
// Check left them and only Check is offered again.
#include <fcntl.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTest>
#include <cstdlib>
#include <functional>

#include "GuiTestSupport.h"
#include "controls/CMyListCtrl.h"
#include "controls/CXPStyleButtonST.h"
#include "demo/DemoSetup.h"
#include "platform/Clock.h"
#include "tools/ImageBuilder.h"
#include "upgrade/UpgradeRun.h"

namespace {

constexpr int kRunTimeoutMs = 120000;

bool WaitIdle(CQorOneClickDlg& dlg) {
  QElapsedTimer timer;
  timer.start();
  while (dlg.IsWorkerRunning() && timer.elapsed() < kRunTimeoutMs) QTest::qWait(20);
  QTest::qWait(50);
  return !dlg.IsWorkerRunning();
}

std::string RealPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string out = real;
  std::free(real);
  return out;
}

struct Change {
  const char* name;
  const char* file;
  std::function<bool(const std::string&)> apply;
};

}  // namespace

class TestDialogIntegrity : public QObject {
  Q_OBJECT

 private slots:
  void AChangedImageIsNotSentAndTheUserIsToldToCheckAgain() {
    const Change changes[] = {
        {"replaced", "app.bin",
         [](const std::string& path) {
           RouterImageSpec other;
           other.module = MODULE_APP;
           other.version = DemoSetup::kAppImageVersion;
           other.payload = GeneratePayload(3000, 42);
           return WriteImageFile(path, BuildRouterImage(other));
         }},
        {"overwritten in place", "dashboard.bin",
         [](const std::string& path) {
           const int fd = open(path.c_str(), O_WRONLY);
           const uint8_t junk[8] = {1, 2, 3, 4, 5, 6, 7, 8};
           const bool ok = fd >= 0 && pwrite(fd, junk, sizeof junk, 2000) == 8;
           if (fd >= 0) close(fd);
           return ok;
         }},
        {"truncated", "firmware.bin",
         [](const std::string& path) { return truncate(path.c_str(), 777) == 0; }},
    };
    for (const Change& change : changes) {
      qInfo("file %s", change.name);
      ScaledClock clock(20);
      ScopedClock useClock(clock);
      DemoSetup demo;
      std::string error;
      QVERIFY2(demo.Start(&error), error.c_str());
      TestArea area;
      BoxRecorder boxes;
      DialogOptions options = area.Options(boxes);
      options.endpoints = demo.GetEndpoints();
      options.imageFolder = demo.ImageFolder();
      CQorOneClickDlg dlg(options);
      dlg.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dlg));

      QTest::mouseClick(dlg.CheckButton(), Qt::LeftButton);
      QVERIFY(WaitIdle(dlg));
      QVERIFY(dlg.UpgradeButton()->isEnabled());
      CMyListCtrl* list = dlg.ModuleList();
      std::vector<std::string> statusAfterCheck;
      for (int i = 0; i < list->GetItemCount(); ++i) statusAfterCheck.push_back(list->GetItemText(i, 4));

      const std::string path = RealPath(demo.ImageFolder() + "/" + change.file);
      QVERIFY(change.apply(path));
      QTest::mouseClick(dlg.UpgradeButton(), Qt::LeftButton);
      QVERIFY(WaitIdle(dlg));

      QCOMPARE(boxes.Count(), 1);
      QCOMPARE(boxes.LastText(), QString::fromStdString(path + kImageChangedText));
      QCOMPARE(boxes.Boxes().back().title, QString("Warning"));
      for (const char* kind : {"link.rut-begin", "link.fwt-begin", "router.image", "dl.write"})
        QCOMPARE(demo.Sim()->CountEvents(kind), size_t{0});
      for (int i = 0; i < list->GetItemCount(); ++i)
        QCOMPARE(list->GetItemText(i, 4), statusAfterCheck[static_cast<size_t>(i)]);
      // press Check again: Check is offered, Upgrade is not
      QVERIFY(dlg.CheckButton()->isEnabled());
      QVERIFY(!dlg.UpgradeButton()->isEnabled());
      QVERIFY(dlg.Engine().GetLastRunRefused());
    }
  }
};

QTEST_MAIN(TestDialogIntegrity)
#include "TestDialogIntegrity.moc"
