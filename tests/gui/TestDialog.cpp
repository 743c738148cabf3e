// The main dialog without a router: layout, title, notifications, closing, placement, help, single
// instance and warning boxes.
#include <sys/stat.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <atomic>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "GuiTestSupport.h"
#include "app/CSingleInstance.h"
#include "app/HelpFile.h"
#include "app/WindowPlacement.h"
#include "controls/CMyListCtrl.h"
#include "controls/CXPStyleButtonST.h"
#include "platform/Resources.h"

class TestDialog : public QObject {
  Q_OBJECT

 private slots:
  void LayoutArithmeticAndMinimumSize_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("template size") << 800 << 283;
    QTest::newRow("wide") << 1234 << 700;
    QTest::newRow("odd width") << 1001 << 400;
    QTest::newRow("below the minimum") << 200 << 40;
  }
  void LayoutArithmeticAndMinimumSize() {
    QFETCH(int, width);
    QFETCH(int, height);
    TestArea area;
    BoxRecorder boxes;
    CQorOneClickDlg dlg(area.Options(boxes));
    QCOMPARE(dlg.minimumSize(), QSize(CQorOneClickDlg::MinTrackWidth(), CQorOneClickDlg::MinTrackHeight()));
    QCOMPARE(CQorOneClickDlg::MinTrackWidth(), 2 * 4 + 430);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.resize(width, height);
    QTRY_VERIFY(dlg.ClientWidth() == std::max(width, CQorOneClickDlg::MinTrackWidth()));
    const int w = dlg.ClientWidth();
    const int h = dlg.ClientHeight();
    QCOMPARE(h, std::max(height, CQorOneClickDlg::MinTrackHeight()));
    const int a = (w - 400) / 3;
    QVERIFY(a >= 10);
    QCOMPARE(dlg.CheckButton()->geometry(), QRect(a, 6, 200, 50));
    QCOMPARE(dlg.UpgradeButton()->geometry(), QRect(2 * a + 200, 6, 200, 50));
    QCOMPARE(dlg.ModuleList()->geometry(), QRect(10, 62, w - 20, h - 68));
    // the list stays inside the client area
    QVERIFY(dlg.rect().contains(dlg.ModuleList()->geometry()));
  }

  void ColumnsFollowTheWidthRule() {
    TestArea area;
    BoxRecorder boxes;
    CQorOneClickDlg dlg(area.Options(boxes));
    CMyListCtrl* list = dlg.ModuleList();
    QCOMPARE(list->columnCount(), 5);
    const char* headings[] = {"Type", "Current Version", "Upgrade Version", "%", "Status"};
    const int chars[] = {16, 15, 15, 4, 20};
    for (int i = 0; i < 5; ++i) QCOMPARE(list->horizontalHeaderItem(i)->text(), QString(headings[i]));
    QCOMPARE(list->horizontalHeaderItem(4)->textAlignment() & Qt::AlignHorizontal_Mask, int(Qt::AlignLeft));
    QCOMPARE(list->horizontalHeaderItem(0)->textAlignment() & Qt::AlignHorizontal_Mask,
             int(Qt::AlignHCenter));
    list->InsertItem(0, "Firmware of wireless module");
    list->SetItemText(0, 4, "Transmitting the upgrade data of the router module");
    dlg.LayoutControls();
    for (int i = 0; i < 5; ++i) {
      const int digits = list->GetStringWidth(std::string(static_cast<size_t>(chars[i] + 2), '1'));
      const int got = list->GetColumnWidth(i);
      QVERIFY2(got >= digits, qPrintable(QString("column %1").arg(i)));
      QVERIFY2(got >= list->ContentsAndHeadingWidth(i), qPrintable(QString("column %1").arg(i)));
      QCOMPARE(got, std::max({digits, list->ContentsWidth(i), list->ContentsAndHeadingWidth(i)}));
    }
  }

  void TitleFromResourceAndVersion() {
    QCOMPARE(CQorOneClickDlg::BuildTitle(),
             QString("Q650 Upgrade - " QOR_PRODUCT_VERSION " - Press F1 for Help"));
    // no title resource: the version part comes first
    static const EmbeddedResourceEntry empty[] = {{nullptr, 0, nullptr, nullptr, nullptr}};
    SetResourceTableOverride(empty);
    const QString bare = CQorOneClickDlg::BuildTitle();
    SetResourceTableOverride(nullptr);
    QCOMPARE(bare, QString(" - " QOR_PRODUCT_VERSION " - Press F1 for Help"));
    TestArea area;
    BoxRecorder boxes;
    CQorOneClickDlg dlg(area.Options(boxes));
    QCOMPARE(dlg.windowTitle(), CQorOneClickDlg::BuildTitle());
    QCOMPARE(dlg.CheckButton()->text(), QString("&Check"));
    QCOMPARE(dlg.UpgradeButton()->text(), QString("&Upgrade"));
    QVERIFY(dlg.CheckButton()->isEnabled());
    QVERIFY(!dlg.UpgradeButton()->isEnabled());
    QVERIFY(dlg.CheckButton()->isDefault());
    uint32_t hover = 0;
    dlg.CheckButton()->GetStateColor(CButtonST::HoverText, hover);
    QCOMPARE(hover, kColourRed);
    dlg.UpgradeButton()->GetStateColor(CButtonST::HoverText, hover);
    QCOMPARE(hover, kColourRed);
    QCOMPARE(dlg.CheckButton()->IconSize(), QSize(32, 32));
    QVERIFY(!dlg.windowIcon().isNull());
  }

  void EnterStartsTheDefaultCheck() {
    TestArea area;
    BoxRecorder boxes;
    CQorOneClickDlg dlg(area.Options(boxes));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.focusWidget(), static_cast<QWidget*>(dlg.CheckButton()));
    // the red hover caption survives the window's first show and polish
    uint32_t hover = 0;
    dlg.CheckButton()->GetStateColor(CButtonST::HoverText, hover);
    QCOMPARE(hover, kColourRed);
    dlg.ModuleList()->setFocus();
    QTest::keyClick(&dlg, Qt::Key_Return);
    // the worker cannot end before the UI thread serves its first list call
    QVERIFY(dlg.IsWorkerRunning());
    QVERIFY(!dlg.CheckButton()->isEnabled());
    QVERIFY(!dlg.UpgradeButton()->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.IsWorkerRunning(), 30000);
    QTRY_COMPARE(dlg.focusWidget(), static_cast<QWidget*>(dlg.CheckButton()));
    // no image anywhere: the scan's warning, naming the folder on its second line, and the Check fails
    QCOMPARE(boxes.Count(), 1);
    QCOMPARE(boxes.LastText(),
             QString("No valid .bin file is found in the current directory\nImages: %1 (given "
                     "with --images)")
                 .arg(QString::fromStdString(area.Path("no-images"))));
    QVERIFY(dlg.CheckButton()->isEnabled());
    QVERIFY(!dlg.UpgradeButton()->isEnabled());
    QCOMPARE(dlg.ModuleList()->GetItemCount(), 0);
  }

  void NotificationCodes_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("checkBefore");
    QTest::addColumn<bool>("upgradeBefore");
    QTest::addColumn<bool>("checkAfter");
    QTest::addColumn<bool>("upgradeAfter");
    QTest::addColumn<int>("focus");  // 0 none required, 1 Check, 2 Upgrade
    QTest::newRow("0 upgrade done") << 0 << false << false << true << false << 1;
    QTest::newRow("1 disable buttons") << 1 << true << true << false << false << 0;
    QTest::newRow("2 start check refused while Check is disabled")
        << 2 << false << false << false << false << 0;
    QTest::newRow("3 start upgrade refused while Upgrade is disabled")
        << 3 << true << false << true << false << 0;
    QTest::newRow("4 focus check") << 4 << true << true << true << true << 1;
    QTest::newRow("5 focus upgrade") << 5 << true << true << true << true << 2;
    QTest::newRow("9 refresh only") << 9 << true << false << true << false << 0;
    QTest::newRow("-7 refresh only") << -7 << false << true << false << true << 0;
  }
  void NotificationCodes() {
    QFETCH(int, code);
    QFETCH(bool, checkBefore);
    QFETCH(bool, upgradeBefore);
    QFETCH(bool, checkAfter);
    QFETCH(bool, upgradeAfter);
    QFETCH(int, focus);
    TestArea area;
    BoxRecorder boxes;
    CQorOneClickDlg dlg(area.Options(boxes));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.CheckButton()->setEnabled(checkBefore);
    dlg.UpgradeButton()->setEnabled(upgradeBefore);
    dlg.ModuleList()->setFocus();
    // posted from another thread, as the workers do
    std::thread poster([&]() { dlg.PostNotify(code); });
    poster.join();
    QCoreApplication::processEvents();
    QCOMPARE(dlg.CheckButton()->isEnabled(), checkAfter);
    QCOMPARE(dlg.UpgradeButton()->isEnabled(), upgradeAfter);
    QVERIFY(!dlg.IsWorkerRunning());
    if (focus == 1) QCOMPARE(dlg.focusWidget(), static_cast<QWidget*>(dlg.CheckButton()));
    if (focus == 2) QCOMPARE(dlg.focusWidget(), static_cast<QWidget*>(dlg.UpgradeButton()));
    // outside loop-test mode no timer follows the end of an upgrade
    QVERIFY(!dlg.IsLoopTimerPending());
    QCOMPARE(boxes.Count(), 0);
  }

  // The window's menu offers the support report; the bundle, unpacked by the system's tar, holds the
  // window's log, whose first line is the run's header naming the front end.
  void SupportReportFromTheWindowsMenu() {
    TestArea area;
    BoxRecorder boxes;
    CQorOneClickDlg dlg(area.Options(boxes));
    QCOMPARE(dlg.contextMenuPolicy(), Qt::ActionsContextMenu);
    bool offered = false;
    for (QAction* action : dlg.actions()) offered = offered || action->text() == "Save a support report...";
    QVERIFY(offered);
    const std::string bundle = area.Path("window-report.tar.gz");
    QCOMPARE(QString::fromStdString(dlg.WriteSupportReportTo(bundle)), QString());
    QCOMPARE(std::system(("tar -xzf '" + bundle + "' -C '" + area.Dir().toStdString() + "'").c_str()), 0);
    QFile log(QString::fromStdString(area.Path("window-report/QorUpgradeLog.txt")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString first = QString::fromUtf8(log.readLine());
    QVERIFY2(first.contains(QStringLiteral(", qor-oneclick (window), time zone ")), qPrintable(first));
    QVERIFY(QFile::exists(QString::fromStdString(area.Path("window-report/images.json"))));
    QVERIFY(QFile::exists(QString::fromStdString(area.Path("window-report/network.txt"))));
  }

  void LoopTestMarkerStartsTimers() {
    TestArea area;
    BoxRecorder boxes;
    DialogOptions options = area.Options(boxes);
    {
      CQorOneClickDlg dlg(options);
      QVERIFY(!dlg.IsLoopTest());
    }
    QFile marker(QString::fromStdString(options.loopTestMarker));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.close();
    CQorOneClickDlg dlg(options);
    QVERIFY(dlg.IsLoopTest());
    dlg.OnUpgradeNotify(NOTIFY_UPGRADE_DONE);
    QTRY_VERIFY(dlg.IsLoopTimerPending());
    QCOMPARE(dlg.LoopTimerArgument(), 0);
    // a second request replaces the first: one timer at a time
    dlg.StartLoopTimer(1);
    QTRY_COMPARE(dlg.LoopTimerArgument(), 1);
    QVERIFY(dlg.IsLoopTimerPending());
  }

  // In loop-test mode the close question holds the loop: no Upgrade starts behind it. The answer is
  // looked at again: an Upgrade that runs by then refuses the close with 140, and a "No" (or the
  // refusal) lets the loop go on where it was.
  void CloseQuestionHoldsTheLoopTimer_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("upgradeStartsMeanwhile");
    QTest::addColumn<bool>("closes");
    QTest::newRow("No") << int(QMessageBox::No) << false << false;
    QTest::newRow("Yes") << int(QMessageBox::Yes) << false << true;
    QTest::newRow("Yes, but an Upgrade runs by then") << int(QMessageBox::Yes) << true << false;
  }
  void CloseQuestionHoldsTheLoopTimer() {
    QFETCH(int, answer);
    QFETCH(bool, upgradeStartsMeanwhile);
    QFETCH(bool, closes);
    TestArea area;
    BoxRecorder boxes;
    boxes.answer = static_cast<QMessageBox::StandardButton>(answer);
    DialogOptions options = area.Options(boxes);
    QFile marker(QString::fromStdString(options.loopTestMarker));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.close();
    CQorOneClickDlg* self = nullptr;
    bool pendingWhileAsked = true;
    bool heldWhileAsked = false;
    auto record = boxes.Hook();
    options.runMessageBox = [&](QMessageBox& box) {
      if (box.text() == QString("Are you sure?")) {
        pendingWhileAsked = self->IsLoopTimerPending();
        heldWhileAsked = self->IsLoopTimerHeld();
        // what a loop-test timer would do while the question waits: request the Upgrade
        self->OnUpgradeNotify(NOTIFY_START_UPGRADE);
        self->StartLoopTimer(1);
        QCoreApplication::processEvents();
        if (upgradeStartsMeanwhile) self->Engine().SetUpgrading(true);
      }
      return record(box);
    };
    CQorOneClickDlg dlg(options);
    self = &dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QVERIFY(dlg.IsLoopTest());
    // the Upgrade button as a successful Check leaves it, and the loop about to start the Upgrade
    dlg.UpgradeButton()->setEnabled(true);
    dlg.StartLoopTimer(1);
    QTRY_VERIFY(dlg.IsLoopTimerPending());

    dlg.close();
    QVERIFY(!pendingWhileAsked);
    QVERIFY(heldWhileAsked);
    QVERIFY2(!dlg.IsWorkerRunning(), "no Upgrade started behind the question");
    QCOMPARE(dlg.isVisible(), !closes);
    if (upgradeStartsMeanwhile) {
      QCOMPARE(boxes.LastText(), QString("The upgrade is in process. Please wait!"));
      dlg.Engine().SetUpgrading(false);
    }
    // the loop goes on where it was, unless the window went
    QCOMPARE(dlg.IsLoopTimerPending(), !closes);
    if (!closes) {
      QVERIFY(!dlg.IsLoopTimerHeld());
      QCOMPARE(dlg.LoopTimerArgument(), 1);
    }
  }

  // The system gives no thread: the click changes nothing but says so.
  void AWorkerThatCannotStartLeavesTheButtonsAndWarns_data() {
    QTest::addColumn<bool>("upgrade");
    QTest::newRow("Check") << false;
    QTest::newRow("Upgrade") << true;
  }
  void AWorkerThatCannotStartLeavesTheButtonsAndWarns() {
    QFETCH(bool, upgrade);
    TestArea area;
    BoxRecorder boxes;
    DialogOptions options = area.Options(boxes);
    int tried = 0;
    options.startThread = [&tried](std::function<void()>) -> std::thread {
      ++tried;
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    };
    CQorOneClickDlg dlg(options);
    dlg.UpgradeButton()->setEnabled(upgrade);
    if (upgrade) {
      dlg.OnUpgrade();
    } else {
      dlg.OnCheck();
    }
    QCOMPARE(tried, 1);
    QVERIFY(!dlg.IsWorkerRunning());
    QVERIFY(dlg.CheckButton()->isEnabled());
    QCOMPARE(dlg.UpgradeButton()->isEnabled(), upgrade);
    QCOMPARE(boxes.Count(), 1);
    QVERIFY2(boxes.LastText().startsWith(QString(kWorkerNotStartedText) + " ("),
             qPrintable(boxes.LastText()));
    QCOMPARE(boxes.Boxes()[0].title, QString("Warning"));
  }

  void CloseRules() {
    TestArea area;
    BoxRecorder boxes;
    CQorOneClickDlg dlg(area.Options(boxes));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    // an upgrade runs: refused with 140, nothing asked
    dlg.Engine().SetUpgrading(true);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(dlg.isVisible());
    QCOMPARE(boxes.Count(), 1);
    QCOMPARE(boxes.Boxes()[0].text, QString("The upgrade is in process. Please wait!"));
    QCOMPARE(boxes.Boxes()[0].title, QString("Warning"));
    QCOMPARE(boxes.Boxes()[0].icon, QMessageBox::Warning);
    QCOMPARE(boxes.Boxes()[0].parent, static_cast<const QWidget*>(&dlg));
    dlg.close();
    QVERIFY(dlg.isVisible());
    QCOMPARE(boxes.Count(), 2);
    dlg.Engine().SetUpgrading(false);

    // "Are you sure?" answered No: the window stays
    boxes.Clear();
    boxes.answer = QMessageBox::No;
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(dlg.isVisible());
    QCOMPARE(boxes.Count(), 1);
    const RecordedBox ask = boxes.Boxes()[0];
    QCOMPARE(ask.text, QString("Are you sure?"));
    QCOMPARE(ask.title, QString("Warning"));
    QCOMPARE(ask.icon, QMessageBox::Information);
    QCOMPARE(ask.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(ask.defaultButton, QMessageBox::No);
    QCOMPARE(ask.parent, static_cast<const QWidget*>(&dlg));

    // Yes: the placement is saved and the dialog closes
    boxes.answer = QMessageBox::Yes;
    QSettings settings(QStringLiteral("Tavrix"), QCoreApplication::applicationName());
    settings.remove("Settings");
    dlg.close();
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    settings.sync();
    QCOMPARE(settings.value("Settings/Window Position").toByteArray().size(), 44);
  }

  void PlacementRoundTripAndIgnoredSizes() {
    TestArea area;
    BoxRecorder boxes;
    // the record's layout: eleven little-endian fields
    WindowPlacementRecord r;
    r.flags = 2;
    r.showCommand = 3;
    r.left = -5;
    r.top = 20;
    r.right = 900;
    r.bottom = 0x01020304;
    const QByteArray bytes = r.Encode();
    QCOMPARE(bytes.size(), 44);
    QCOMPARE(bytes.left(12), QByteArray("\x2c\0\0\0\x02\0\0\0\x03\0\0\0", 12));
    QCOMPARE(bytes.mid(28, 4), QByteArray("\xfb\xff\xff\xff", 4));
    QCOMPARE(bytes.mid(40, 4), QByteArray("\x04\x03\x02\x01", 4));
    WindowPlacementRecord back;
    QVERIFY(WindowPlacementRecord::Decode(bytes, back));
    QCOMPARE(back, r);
    for (int size : {0, 40, 43, 45, 48})
      QVERIFY(!WindowPlacementRecord::Decode(QByteArray(size, '\x01'), back));

    const QRect normal(60, 70, 700, 320);
    {
      CQorOneClickDlg dlg(area.Options(boxes));
      dlg.setGeometry(normal);
      dlg.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dlg));
      QVERIFY(dlg.PersistWindowPlacement(true));
    }
    {
      CQorOneClickDlg dlg(area.Options(boxes));
      QCOMPARE(dlg.geometry(), normal);
      QVERIFY(!dlg.isMaximized());
      // minimised at close: stored as normal (1)
      dlg.show();
      dlg.showMinimized();
      QVERIFY(dlg.PersistWindowPlacement(true));
      QSettings settings(QStringLiteral("Tavrix"), QCoreApplication::applicationName());
      WindowPlacementRecord stored;
      QVERIFY(
          WindowPlacementRecord::Decode(settings.value("Settings/Window Position").toByteArray(), stored));
      QCOMPARE(stored.showCommand, 1);
      QCOMPARE(stored.length, 44);
    }
    {
      // maximised at close: 3, and the next start is maximised
      CQorOneClickDlg dlg(area.Options(boxes));
      dlg.showMaximized();
      QVERIFY(QTest::qWaitForWindowExposed(&dlg));
      QVERIFY(dlg.PersistWindowPlacement(true));
      QSettings settings(QStringLiteral("Tavrix"), QCoreApplication::applicationName());
      WindowPlacementRecord stored;
      QVERIFY(
          WindowPlacementRecord::Decode(settings.value("Settings/Window Position").toByteArray(), stored));
      QCOMPARE(stored.showCommand, 3);
    }
    {
      CQorOneClickDlg dlg(area.Options(boxes));
      QVERIFY(dlg.windowState() & Qt::WindowMaximized);
    }
    // values of another size are ignored: the dialog keeps its own size
    QSize fresh;
    {
      QSettings settings(QStringLiteral("Tavrix"), QCoreApplication::applicationName());
      settings.remove("Settings/Window Position");
      settings.sync();
      CQorOneClickDlg dlg(area.Options(boxes));
      fresh = dlg.size();
      QVERIFY(!dlg.PersistWindowPlacement(false));
    }
    for (int size : {40, 48}) {
      WindowPlacementRecord other;
      other.left = 1;
      other.top = 2;
      other.right = 333;
      other.bottom = 222;
      QByteArray value = other.Encode();
      value.resize(size);
      {
        QSettings settings(QStringLiteral("Tavrix"), QCoreApplication::applicationName());
        settings.setValue("Settings/Window Position", value);
        settings.sync();
      }
      CQorOneClickDlg dlg(area.Options(boxes));
      QCOMPARE(dlg.size(), fresh);
      QVERIFY(!dlg.PersistWindowPlacement(false));
    }
    // an empty rectangle is refused
    WindowPlacementRecord bad;
    bad.left = 100;
    bad.right = 100;
    bad.bottom = 50;
    QWidget w;
    QVERIFY(!ApplyWindowPlacement(w, bad));
  }

  void HelpWrittenOnceAndOpened() {
    TestArea area;
    BoxRecorder boxes;
    DialogOptions options = area.Options(boxes);
    QStringList opened;
    options.openUrl = [&](const QUrl& url) {
      opened << url.toLocalFile();
      return true;
    };
    CQorOneClickDlg dlg(options);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const QString path = area.Dir() + "/QorUpgradeHelp.html";

    QTest::keyClick(&dlg, Qt::Key_F1);
    QCOMPARE(opened, QStringList{path});
    size_t size = 0;
    const unsigned char* guide = LoadRawResource(152, "HELP", &size);
    QVERIFY(guide != nullptr);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray(reinterpret_cast<const char*>(guide), static_cast<qsizetype>(size)));
    file.close();
    QVERIFY(QFile::permissions(path) & QFileDevice::ReadOwner);
    QVERIFY(!(QFile::permissions(path) & QFileDevice::ReadOther));

    // a file already there is opened unchanged
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("stale");
    file.close();
    QTest::keyClick(&dlg, Qt::Key_F1);
    QCOMPARE(opened.size(), 2);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("stale"));
    file.close();
    QCOMPARE(boxes.Count(), 0);
    // no temporary pieces are left behind
    QCOMPARE(QDir(area.Dir()).entryList({"*.part-*"}, QDir::Files | QDir::Hidden).size(), 0);
  }

  void HelpThatCannotBeWrittenShows136() {
    TestArea area;
    BoxRecorder boxes;
    DialogOptions options = area.Options(boxes);
    int opened = 0;
    options.openUrl = [&](const QUrl&) {
      ++opened;
      return true;
    };
    struct Case {
      const char* name;
      std::string directory;
      bool withGuide;
    } cases[] = {
        {"directory missing", area.Path("nowhere/deeper"), true},
        {"no guide in the program", area.Dir().toStdString(), false},
    };
    for (const Case& c : cases) {
      boxes.Clear();
      options.helpDirectory = c.directory;
      CQorOneClickDlg dlg(options);
      static const EmbeddedResourceEntry empty[] = {{nullptr, 0, nullptr, nullptr, nullptr}};
      if (!c.withGuide) SetResourceTableOverride(empty);
      dlg.ShowHelp();
      SetResourceTableOverride(nullptr);
      QVERIFY2(boxes.Count() == 1, c.name);
      QCOMPARE(boxes.LastText(), QString("Help.chm is not exist in the current directory!"));
      QCOMPARE(opened, 0);
      QVERIFY(!QFile::exists(QString::fromStdString(c.directory) + "/QorUpgradeHelp.html"));
    }
  }

  void HelpFileNeverLeftPartlyWritten() {
    TestArea area;
    const std::string dir = area.Dir().toStdString();
    std::string path;
    // a directory that refuses new files: nothing at the final name, nothing left over
    const std::string locked = area.Path("locked");
    QVERIFY(QDir().mkpath(QString::fromStdString(locked)));
    ::chmod(locked.c_str(), 0500);
    const unsigned char text[] = "<html>guide</html>";
    const bool root = ::geteuid() == 0;
    const HelpFileResult lockedResult = EnsureHelpFile(locked, text, sizeof text - 1, path);
    if (!root) QCOMPARE(lockedResult, HelpFileResult::Failed);
    ::chmod(locked.c_str(), 0700);
    QCOMPARE(EnsureHelpFile(dir, nullptr, 0, path), HelpFileResult::Failed);
    QVERIFY(!QFile::exists(QString::fromStdString(path)));
    QCOMPARE(EnsureHelpFile(dir, text, sizeof text - 1, path), HelpFileResult::Written);
    QCOMPARE(EnsureHelpFile(dir, text, 3, path), HelpFileResult::Existing);
    QFile file(QString::fromStdString(path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("<html>guide</html>"));
    // a link planted at the name is not followed or opened
    const std::string linkDir = area.Path("linked");
    QVERIFY(QDir().mkpath(QString::fromStdString(linkDir)));
    QVERIFY(QFile::link(area.Dir() + "/elsewhere.html",
                        QString::fromStdString(linkDir) + "/QorUpgradeHelp.html"));
    QCOMPARE(EnsureHelpFile(linkDir, text, sizeof text - 1, path), HelpFileResult::Failed);
  }

  void SingleInstanceAsksTheFirstToRestore() {
    TestArea area;
    auto first = std::make_unique<CSingleInstance>(area.Dir());
    QCOMPARE(first->Acquire(), CSingleInstance::Result::First);
    QSignalSpy restore(first.get(), &CSingleInstance::restoreRequested);
    {
      CSingleInstance second(area.Dir());
      // the first copy's event loop must run to take the request; the second only writes it
      std::atomic<int> result{-1};
      std::thread other([&]() {
        CSingleInstance third(area.Dir());
        result = static_cast<int>(third.Acquire());
      });
      QTRY_VERIFY_WITH_TIMEOUT(result.load() != -1, 10000);
      other.join();
      QCOMPARE(result.load(), static_cast<int>(CSingleInstance::Result::Other));
      QTRY_COMPARE(restore.count(), 1);
    }
    // the restore reaches the window only when it is minimised
    TestArea dialogArea;
    BoxRecorder boxes;
    QCoreApplication::setApplicationName("qor-oneclick-test");
    CQorOneClickDlg dlg(dialogArea.Options(boxes));
    QObject::connect(first.get(), &CSingleInstance::restoreRequested, &dlg, [&dlg]() {
      if (dlg.isMinimized()) dlg.showNormal();
    });
    dlg.showMinimized();
    QVERIFY(dlg.isMinimized());
    emit first->restoreRequested();
    QVERIFY(!dlg.isMinimized());

    // a different name or a released lock is a first copy again
    CSingleInstance unrelated(area.Dir(), "another-tool");
    QCOMPARE(unrelated.Acquire(), CSingleInstance::Result::First);
    first.reset();
    CSingleInstance again(area.Dir());
    QCOMPARE(again.Acquire(), CSingleInstance::Result::First);
  }

  void WorkerWarningsBlockUntilClosed() {
    TestArea area;
    BoxRecorder boxes;
    DialogOptions options = area.Options(boxes);
    std::atomic<bool> returned{false};
    std::atomic<int> returnedWhileOpen{-1};
    auto record = boxes.Hook();
    options.runMessageBox = [&](QMessageBox& box) {
      // the box is open on the UI thread: the worker must still be waiting in ShowMessage
      QThread::msleep(50);
      returnedWhileOpen = returned.load() ? 1 : 0;
      return record(box);
    };
    CQorOneClickDlg dlg(options);
    std::thread worker([&]() {
      ShowMessage(137);
      returned = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(returned.load(), 10000);
    worker.join();
    QCOMPARE(returnedWhileOpen.load(), 0);
    QCOMPARE(boxes.Count(), 1);
    const RecordedBox box = boxes.Boxes()[0];
    QCOMPARE(box.text, QString("No router is detected"));
    QCOMPARE(box.title, QString("Warning"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(box.onUiThread);
    QCOMPARE(box.parent, static_cast<const QWidget*>(&dlg));
  }
};

QTEST_MAIN(TestDialog)
#include "TestDialog.moc"
