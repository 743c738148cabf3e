// A soak of the window's loop-test mode: the window against the in-process router emulator on a
// scaled clock, left to run Check and Upgrade by itself again and again as a loop test on a bench
// does, sampling the process's descriptors, threads and resident memory every 10 cycles (the window
// and the emulator share the process). Descriptors and threads stay flat, memory grows by less than
// 2 MiB after the first 10 cycles (not checked under AddressSanitizer), every cycle ends with every row
// "Download successfully". QOR_SOAK_CYCLES sets the number of cycles (20 by default, at least 10).
#include <QFile>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "GuiStage.h"
#include "GuiTestSupport.h"
#include "controls/CMyListCtrl.h"
#include "controls/CXPStyleButtonST.h"
#include "support/ProcessCounts.h"

// AddressSanitizer holds freed memory back (its quarantine, up to 256 MiB) before reusing it, so
// resident memory says nothing of a leak there; its leak check at the program's end does.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentMemoryTells = false;
#else
constexpr bool kResidentMemoryTells = true;
#endif

class TestDialogSoak : public QObject {
  Q_OBJECT

 private slots:
  void LoopTestModeRunsCycleAfterCycleWithoutGrowing() {
    const char* env = std::getenv("QOR_SOAK_CYCLES");
    const int cycles = env != nullptr ? std::max(10, std::atoi(env)) : 20;
    TestArea area;
    BoxRecorder boxes;
    DemoConfig config;
    // small images: the cycles are the point, not the bytes
    config.routerPayloadBytes = 16 * 1024;
    config.firmwareBytes = 32 * 1024;
    config.dashboardBytes = 8 * 1024;
    Stage stage(config);
    QVERIFY(stage.Start());
    DialogOptions options = stage.Options(area, boxes);
    QFile marker(QString::fromStdString(options.loopTestMarker));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.close();
    CQorOneClickDlg dlg(options);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QVERIFY(dlg.IsLoopTest());

    size_t descriptors = 0;
    size_t threads = 0;
    long resident = 0;
    std::printf("[soak] cycle  fds threads rss-KiB\n");
    dlg.OnCheck();
    for (int cycle = 1; cycle <= cycles; ++cycle) {
      // the Check (started by the loop's timer after the first), then the Upgrade it starts by itself
      QVERIFY(WaitIdle(dlg));
      QVERIFY2(dlg.UpgradeButton()->isEnabled(),
               qPrintable(QString("cycle %1: the Check offered no Upgrade").arg(cycle)));
      QCOMPARE(dlg.LoopTimerArgument(), 1);
      QTRY_VERIFY_WITH_TIMEOUT(dlg.IsWorkerRunning(), 20000);
      QVERIFY(WaitIdle(dlg));
      CMyListCtrl* list = dlg.ModuleList();
      QVERIFY(list->GetItemCount() > 0);
      for (int row = 0; row < list->GetItemCount(); ++row) {
        const std::string status = list->GetItemText(row, 4);
        QVERIFY2(
            status.rfind("Download successfully", 0) == 0,
            qPrintable(
                QString("cycle %1, row %2: %3").arg(cycle).arg(row).arg(QString::fromStdString(status))));
      }
      QCOMPARE(boxes.Count(), 0);
      // the emulator's record of events is the test's, not the tool's: it would grow with every cycle
      stage.Sim().ClearEvents();
      // the next Check comes after the loop's 35 s of clock time
      QCOMPARE(dlg.LoopTimerArgument(), 0);
      if (cycle % 10 == 0) Sample(cycle, descriptors, threads, resident);
      if (QTest::currentTestFailed()) return;
      if (cycle < cycles) QTRY_VERIFY_WITH_TIMEOUT(dlg.IsWorkerRunning(), 20000);
    }
    boxes.answer = QMessageBox::Yes;
    dlg.close();
    QVERIFY(!dlg.IsWorkerRunning());
  }

 private:
  // Sampled between cycles, with no worker running; the first sample (cycle 10) is the reference.
  static void Sample(int cycle, size_t& descriptors, size_t& threads, long& resident) {
    QTest::qWait(100);
    const size_t fds = OpenDescriptors();
    const size_t tasks = ThreadsSettledTo(threads);
    const long rss = ResidentKiB();
    std::printf("[soak] %5d %4zu %7zu %7ld\n", cycle, fds, tasks, rss);
    std::fflush(stdout);
    if (cycle == 10) {
      descriptors = fds;
      threads = tasks;
      resident = rss;
      return;
    }
    QCOMPARE(fds, descriptors);
    QCOMPARE(tasks, threads);
    if (kResidentMemoryTells) {
      QVERIFY2(rss - resident < 2048,
               qPrintable(QString("resident memory grew by %1 KiB").arg(rss - resident)));
    }
  }
};

QTEST_MAIN(TestDialogSoak)
#include "TestDialogSoak.moc"
