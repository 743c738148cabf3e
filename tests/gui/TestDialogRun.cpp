// The main dialog driven against the in-process router emulator on loopback, with the scaled clock:
// the button states through Check, failed Check, Upgrade and the end of a run, the loop-test cycle,
// closing while a Check runs, and screenshots of the window at each stage.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <optional>

#include "GuiStage.h"
#include "GuiTestSupport.h"
#include "controls/CMyListCtrl.h"
#include "controls/CXPStyleButtonST.h"
#include "demo/DemoSetup.h"
#include "platform/Clock.h"
#include "platform/StringTable.h"
#include "upgrade/Advice.h"

namespace {

QString ScreenshotDir() {
  const QString dir = QStringLiteral(QOR_TEST_OUTPUT_DIR "/screenshots");
  QDir().mkpath(dir);
  return dir;
}

void Screenshot(QWidget& window, const char* name) {
  const QString path = ScreenshotDir() + "/" + name;
  window.grab().save(path);
  qInfo("screenshot: %s", qPrintable(path));
}

std::vector<std::string> Column(CMyListCtrl& list, int column) {
  std::vector<std::string> texts;
  for (int i = 0; i < list.GetItemCount(); ++i) texts.push_back(list.GetItemText(i, column));
  return texts;
}

}  // namespace

class TestDialogRun : public QObject {
  Q_OBJECT

 private slots:
  void CheckThenUpgradeWithButtonStatesAndScreenshots() {
    TestArea area;
    BoxRecorder boxes;
    Stage stage;
    QVERIFY(stage.Start());
    CQorOneClickDlg dlg(stage.Options(area, boxes));
    dlg.resize(900, 330);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    CXPStyleButtonST* check = dlg.CheckButton();
    CXPStyleButtonST* upgrade = dlg.UpgradeButton();
    CMyListCtrl* list = dlg.ModuleList();

    // start
    QVERIFY(check->isEnabled());
    QVERIFY(!upgrade->isEnabled());
    Screenshot(dlg, "1-initial.png");

    // checking: both disabled until the worker ends
    QTest::mouseClick(check, Qt::LeftButton);
    QVERIFY(dlg.IsWorkerRunning());
    QVERIFY(!check->isEnabled());
    QVERIFY(!upgrade->isEnabled());
    QVERIFY(WaitIdle(dlg));

    // after a successful Check: both enabled, Upgrade focused; the first family and the wireless rows
    QVERIFY(check->isEnabled());
    QVERIFY(upgrade->isEnabled());
    QCOMPARE(dlg.focusWidget(), static_cast<QWidget*>(upgrade));
    QCOMPARE(boxes.Count(), 0);
    const std::vector<std::string> names = {"BOOT of router module", "APP of router module",
                                            "Customization of router module", "Firmware of wireless module",
                                            "Dashboard of wireless module"};
    QCOMPARE(Column(*list, 0), names);
    for (int i = 0; i < list->GetItemCount(); ++i) {
      QCOMPARE(list->GetItemText(i, 4), std::string("Waiting for the upgrade"));
      QCOMPARE(list->GetItemData(i), kColourBlue);
    }
    QCOMPARE(list->GetItemText(1, 1), std::string(DemoSetup::kDeviceAppVersion));
    QCOMPARE(list->GetItemText(1, 2), std::string(DemoSetup::kAppImageVersion));
    // the columns were fitted to the new texts
    for (int c = 0; c < 5; ++c) QVERIFY(list->GetColumnWidth(c) >= list->ContentsAndHeadingWidth(c));
    Screenshot(dlg, "2-after-check.png");

    // upgrading: both disabled; closing is refused with 140
    QTest::mouseClick(upgrade, Qt::LeftButton);
    QVERIFY(!check->isEnabled());
    QVERIFY(!upgrade->isEnabled());
    // a step in progress shows its text in black
    auto stepShown = [list]() {
      for (int i = 0; i < list->GetItemCount(); ++i)
        if (list->GetItemData(i) == kColourBlack && !list->GetItemText(i, 4).empty()) return true;
      return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(stepShown(), kRunTimeoutMs);
    Screenshot(dlg, "3-during-upgrade.png");
    boxes.answer = QMessageBox::Yes;
    dlg.close();
    QVERIFY(dlg.isVisible());
    QCOMPARE(boxes.LastText(), QString("The upgrade is in process. Please wait!"));
    // a loop request that arrives while the worker runs is ignored
    dlg.OnUpgradeNotify(NOTIFY_START_CHECK);
    dlg.OnUpgradeNotify(NOTIFY_START_UPGRADE);
    QVERIFY(!check->isEnabled());
    QVERIFY(WaitIdle(dlg));

    // upgraded: Check enabled and focused, Upgrade still disabled
    QVERIFY(check->isEnabled());
    QVERIFY(!upgrade->isEnabled());
    QCOMPARE(dlg.focusWidget(), static_cast<QWidget*>(check));
    for (int i = 0; i < list->GetItemCount(); ++i) {
      QVERIFY2(list->GetItemText(i, 4).rfind("Download successfully (", 0) == 0,
               list->GetItemText(i, 4).c_str());
      QCOMPARE(list->GetItemData(i), kColourBlue);
      QCOMPARE(list->GetItemText(i, 3), std::string(i == 0 ? "100%" : list->GetItemText(i, 3)));
    }
    QVERIFY(!dlg.IsLoopTimerPending());
    Screenshot(dlg, "4-after-upgrade.png");
    QVERIFY(!stage.Sim().RouterImages().empty());
  }

  void FailedCheckFocusesCheck_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<int>("rows");
    QTest::newRow("no router")
        << "no-discovery"
        << "No router is detected\n\nThe search for the router was sent, but no router answered." << 0;
    QTest::newRow("versions conflict") << ""
                                       << "" << 5;
  }
  void FailedCheckFocusesCheck() {
    QFETCH(QString, fault);
    QFETCH(QString, warning);
    QFETCH(int, rows);
    TestArea area;
    BoxRecorder boxes;
    DemoConfig config;
    if (!fault.isEmpty()) {
      std::string error;
      QVERIFY(qorsim::ParseFault(fault.toStdString(), config.faults, &error));
    } else {
      // the device's application is of another line than the image
      config.tuneEmulator = [](qorsim::SimConfig& sim) { sim.appVersion = "1.3.4.5"; };
    }
    Stage stage(config);
    QVERIFY(stage.Start());
    CQorOneClickDlg dlg(stage.Options(area, boxes));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.OnCheck();
    QVERIFY(WaitIdle(dlg));
    QVERIFY(dlg.CheckButton()->isEnabled());
    QVERIFY(!dlg.UpgradeButton()->isEnabled());
    QCOMPARE(dlg.focusWidget(), static_cast<QWidget*>(dlg.CheckButton()));
    QCOMPARE(dlg.ModuleList()->GetItemCount(), rows);
    if (!warning.isEmpty()) {
      QCOMPARE(boxes.Count(), 1);
      // the warning's own text first, then what the Check found out
      QVERIFY2(boxes.LastText().startsWith(warning), qPrintable(boxes.LastText()));
    } else {
      QCOMPARE(boxes.Count(), 0);
      QCOMPARE(dlg.ModuleList()->GetItemText(1, 4), std::string("Version does not match"));
      QCOMPARE(dlg.ModuleList()->GetItemData(1), kColourRed);
    }
    // a start request for the Upgrade is refused after a failed Check
    dlg.OnUpgradeNotify(NOTIFY_START_UPGRADE);
    QVERIFY(!dlg.IsWorkerRunning());
  }

  // A failed run tells what to do next: as the failed row's tooltip, and in a warning at its end
  // that names the reason; a version conflict's row tells it after the Check already.
  void FailedUpgradeOffersTheAdvice() {
    TestArea area;
    BoxRecorder boxes;
    DemoConfig config;
    config.faults.routerResult = 3;  // the router refuses the boot loader's image
    Stage stage(config);
    QVERIFY(stage.Start());
    CQorOneClickDlg dlg(stage.Options(area, boxes));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.OnCheck();
    QVERIFY(WaitIdle(dlg));
    CMyListCtrl* list = dlg.ModuleList();
    QVERIFY(list->item(0, 4) != nullptr);
    QCOMPARE(list->item(0, 4)->toolTip(), QString());
    QCOMPARE(boxes.Count(), 0);
    dlg.OnUpgrade();
    QVERIFY(WaitIdle(dlg));
    QTRY_COMPARE_WITH_TIMEOUT(boxes.Count(), 1, kRunTimeoutMs);
    const QString advice = QString::fromStdString(AdviceText(IDS_ROUTER_RESULT_FAIL));
    QVERIFY(!advice.isEmpty());
    QCOMPARE(boxes.LastText(),
             QString::fromStdString("The upgrade failed: " + ModuleDisplayName(MODULE_BOOT) +
                                    ": Upgrading result of the router module is fail.\n\n") +
                 advice);
    // every cell of the failed row shows it; the rows the run did not reach have none
    for (int column = 0; column < 5; ++column) QCOMPARE(list->item(0, column)->toolTip(), advice);
    QCOMPARE(list->item(1, 4)->toolTip(), QString());
  }

  void LoopTestCycle() {
    TestArea area;
    BoxRecorder boxes;
    Stage stage;
    QVERIFY(stage.Start());
    DialogOptions options = stage.Options(area, boxes);
    QFile marker(QString::fromStdString(options.loopTestMarker));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.close();
    CQorOneClickDlg dlg(options);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QVERIFY(dlg.IsLoopTest());

    dlg.OnCheck();
    QVERIFY(WaitIdle(dlg));
    // the Upgrade starts by itself after 2 s of clock time
    QVERIFY(dlg.IsLoopTimerPending());
    QCOMPARE(dlg.LoopTimerArgument(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(dlg.IsWorkerRunning(), 20000);
    QVERIFY(!dlg.UpgradeButton()->isEnabled());
    QVERIFY(WaitIdle(dlg));
    // the end of the run starts the 35 s wait for the next Check
    QVERIFY(dlg.IsLoopTimerPending());
    QCOMPARE(dlg.LoopTimerArgument(), 0);
    QVERIFY(dlg.ModuleList()->GetItemText(0, 4).rfind("Download successfully", 0) == 0);
    QTRY_VERIFY_WITH_TIMEOUT(dlg.IsWorkerRunning(), 20000);
    QVERIFY(!dlg.CheckButton()->isEnabled());
    // closing now stops the Check and waits for it before anything is destroyed
    boxes.answer = QMessageBox::Yes;
    dlg.close();
    QVERIFY(!dlg.isVisible());
    QVERIFY(!dlg.IsWorkerRunning());
    QVERIFY(!dlg.IsLoopTimerPending());
  }

  // Closing during a Check that waits in a flooded discovery: the window stays until the Check has
  // stopped, which takes at most 1 s of clock time, and only then hides.
  void CloseDuringACheckHidesOnlyAfterTheWorkerStopped() {
    TestArea area;
    BoxRecorder boxes;
    DemoConfig config;
    config.faults.discoveryFloodMs = 20;
    Stage stage(config);
    QVERIFY(stage.Start());
    CQorOneClickDlg dlg(stage.Options(area, boxes));
    struct HideWatch : QObject {
      CQorOneClickDlg* dlg = nullptr;
      int hides = 0;
      bool workerRanAtHide = false;
      bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Hide) {
          ++hides;
          workerRanAtHide = workerRanAtHide || dlg->IsWorkerRunning();
        }
        return false;
      }
    } watch;
    watch.dlg = &dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.installEventFilter(&watch);
    dlg.OnCheck();
    // the UI thread serves the Check's list calls meanwhile
    QTRY_VERIFY_WITH_TIMEOUT(stage.Sim().CountEvents("udp.discover") > 0, 20000);
    QTest::qWait(50);
    QVERIFY(dlg.IsWorkerRunning());
    boxes.answer = QMessageBox::Yes;
    const uint64_t start = TickMs();
    dlg.close();
    const uint64_t took = TickMs() - start;
    QVERIFY(!dlg.isVisible());
    QVERIFY(!dlg.IsWorkerRunning());
    QCOMPARE(watch.hides, 1);
    QVERIFY(!watch.workerRanAtHide);
    QVERIFY2(took <= 1000, qPrintable(QString("%1 clock ms").arg(took)));
    QCOMPARE(boxes.Count(), 1);
    dlg.removeEventFilter(&watch);
  }

  void CloseWhileCheckRunsWaitsForTheWorker() {
    TestArea area;
    BoxRecorder boxes;
    DemoConfig config;
    config.faults.noDiscovery = true;
    Stage stage(config);
    QVERIFY(stage.Start());
    std::optional<CQorOneClickDlg> dlg;
    dlg.emplace(stage.Options(area, boxes));
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(&*dlg));
    dlg->OnCheck();
    // six unanswered discovery tries take 18 s of clock time: the Check is still discovering
    QTest::qWait(100);
    QVERIFY(dlg->IsWorkerRunning());
    boxes.answer = QMessageBox::Yes;
    dlg->close();
    QVERIFY(!dlg->isVisible());
    QVERIFY(!dlg->IsWorkerRunning());
    // only the question was shown: the Check stopped without its "No router" box
    QCOMPARE(boxes.Count(), 1);
    QCOMPARE(boxes.LastText(), QString("Are you sure?"));
    dlg.reset();

    // destroying the dialog while a Check runs (the application ends) also waits for it
    dlg.emplace(stage.Options(area, boxes));
    dlg->OnCheck();
    QVERIFY(dlg->IsWorkerRunning());
    dlg.reset();
  }
};

QTEST_MAIN(TestDialogRun)
#include "TestDialogRun.moc"
