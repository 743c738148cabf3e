// The module list and the owner-drawn buttons, on the offscreen platform.
#include <QApplication>
#include <QCursor>
#include <QHeaderView>
#include <QImage>
#include <QMouseEvent>
#include <QPalette>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QVBoxLayout>
#include <atomic>
#include <thread>

#include "controls/CButtonST.h"
#include "controls/CMyListCtrl.h"
#include "controls/CXPStyleButtonST.h"

namespace {

QFont CrispFont() {
  QFont font = QApplication::font();
  font.setPixelSize(14);
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

void AddColumns(CMyListCtrl& list) {
  const char* headings[] = {"Type", "Current Version", "Upgrade Version", "%", "Status"};
  for (int i = 0; i < 5; ++i) list.InsertColumn(i, headings[i], i == 4 ? Qt::AlignLeft : Qt::AlignHCenter);
}

bool IsColour(QRgb pixel, QColor want) {
  return qRed(pixel) == want.red() && qGreen(pixel) == want.green() && qBlue(pixel) == want.blue();
}

// Pixels inside rect whose colour is exactly colour.
int CountPixels(const QImage& image, const QRect& rect, QColor colour) {
  int n = 0;
  const QRect r = rect.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (IsColour(image.pixel(x, y), colour)) ++n;
  return n;
}

// Pixels that are clearly red: the hover caption.
int CountReddish(const QImage& image) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QRgb p = image.pixel(x, y);
      if (qRed(p) > 180 && qGreen(p) < 80 && qBlue(p) < 80) ++n;
    }
  return n;
}

}  // namespace

class TestControls : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setFont(CrispFont()); }

  // -- the list ---------------------------------------------------------------------------------

  void BandsFollowItemIndexAndStatusTakesRowColour() {
    CMyListCtrl list;
    list.resize(700, 300);
    AddColumns(list);
    for (int i = 0; i < 4; ++i) {
      list.InsertItem(i, "Row" + std::to_string(i));
      list.SetItemText(i, 1, "1.2.3.4");
      list.SetItemText(i, 4, "WWWW Waiting");
      list.SetColumnWidth(i, 120);
    }
    list.SetColumnWidth(4, 200);
    list.SetItemData(0, kColourBlue);
    list.SetItemData(1, kColourRed);
    // row 2 keeps no data: black; row 3 grey text colour
    list.SetItemData(3, list.GrayTextColour());
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));

    const QColor even = ColourFromRef(CMyListCtrl::kEvenRowColour);
    const QColor odd = ColourFromRef(CMyListCtrl::kOddRowColour);
    QCOMPARE(even, QColor(240, 247, 249));
    QCOMPARE(odd, QColor(229, 232, 239));

    const QImage image = list.viewport()->grab().toImage();
    struct Case {
      int row;
      QColor band;
      QColor status;
    } cases[] = {{0, even, QColor(0, 0, 255)},
                 {1, odd, QColor(255, 0, 0)},
                 {2, even, QColor(0, 0, 0)},
                 {3, odd, ColourFromRef(list.GrayTextColour())}};
    for (const Case& c : cases) {
      const QRect statusCell = list.visualRect(list.model()->index(c.row, 4)).adjusted(1, 1, -2, -2);
      const QRect versionCell = list.visualRect(list.model()->index(c.row, 1)).adjusted(1, 1, -2, -2);
      // the band colour right of the status text, in the blank part of the cell
      QVERIFY2(IsColour(image.pixel(statusCell.right() - 3, statusCell.center().y()), c.band),
               qPrintable(QStringLiteral("row %1 band").arg(c.row)));
      QVERIFY2(CountPixels(image, statusCell, c.status) > 10,
               qPrintable(QStringLiteral("row %1 status colour").arg(c.row)));
      // other columns are never drawn in the row's colour (unless it is the normal text colour)
      if (c.status != list.palette().color(QPalette::Text))
        QVERIFY2(CountPixels(image, versionCell, c.status) == 0,
                 qPrintable(QStringLiteral("row %1 version").arg(c.row)));
    }

    // after deleting row 0 the rows below swap bands
    QVERIFY(list.DeleteItem(0));
    const QImage after = list.viewport()->grab().toImage();
    const QRect first = list.visualRect(list.model()->index(0, 4)).adjusted(1, 1, -2, -2);
    QVERIFY2(IsColour(after.pixel(first.right() - 3, first.center().y()), even),
             qPrintable(QColor(after.pixel(first.right() - 3, first.center().y())).name() + " selected " +
                        QString::number(list.selectionModel()->selectedIndexes().size())));
    QVERIFY(CountPixels(after, first, QColor(255, 0, 0)) > 10);
  }

  void WritesToMissingItemsAndColumnsFail() {
    CMyListCtrl list;
    QCOMPARE(list.InsertItem(0, "no columns yet"), -1);
    AddColumns(list);
    struct Case {
      int item;
      int column;
    } bad[] = {{-1, 0}, {0, 0}, {1, 4}, {0, 5}, {0, -1}};
    for (const Case& c : bad) QVERIFY(!list.SetItemText(c.item, c.column, "x"));
    QVERIFY(!list.SetItemData(0, kColourRed));
    QVERIFY(!list.DeleteItem(0));
    // past the end appends
    QCOMPARE(list.InsertItem(7, "a"), 0);
    QCOMPARE(list.InsertItem(0, "b"), 0);
    QCOMPARE(list.GetItemCount(), 2);
    QCOMPARE(list.GetItemText(1, 0), std::string("a"));
    QCOMPARE(list.GetItemData(1), 0u);
    QVERIFY(!list.SetColumnWidth(0, -3));
    QVERIFY(!list.SetColumnWidth(5, 10));
    list.DeleteAllItems();
    QCOMPARE(list.GetItemCount(), 0);
  }

  void AutomaticWidthsFitContentsAndHeading() {
    CMyListCtrl list;
    AddColumns(list);
    list.InsertItem(0, "i");
    list.SetItemText(0, 1, "a much longer version text than the heading");
    struct Case {
      int column;
      int width;
    } cases[] = {{0, -1}, {0, -2}, {1, -1}, {1, -2}, {3, -1}, {3, -2}};
    const QFontMetrics metrics(list.font());
    for (const Case& c : cases) {
      QVERIFY(list.SetColumnWidth(c.column, c.width));
      const int got = list.GetColumnWidth(c.column);
      const int text = metrics.horizontalAdvance(QString::fromStdString(list.GetItemText(0, c.column)));
      QVERIFY2(got >= text, qPrintable(QStringLiteral("column %1 width %2").arg(c.column).arg(c.width)));
      if (c.width == -2) QVERIFY(got >= list.Header()->sectionSizeHint(c.column));
    }
    // "i" is narrower than "Type": only -2 makes room for the heading
    list.SetColumnWidth(0, -1);
    const int contents = list.GetColumnWidth(0);
    list.SetColumnWidth(0, -2);
    QVERIFY(list.GetColumnWidth(0) > contents);
    // a long item wins over its heading either way
    list.SetColumnWidth(1, -1);
    const int w1 = list.GetColumnWidth(1);
    list.SetColumnWidth(1, -2);
    QCOMPARE(list.GetColumnWidth(1), w1);
    QVERIFY(list.SetColumnWidth(2, 77));
    QCOMPARE(list.GetColumnWidth(2), 77);
  }

  // The same gestures on a plain interactive header do change it, so the gestures are real.
  void HeaderRefusesResizeFitCursorAndSort_data() {
    QTest::addColumn<bool>("ours");
    QTest::newRow("plain interactive header") << false;
    QTest::newRow("module list header") << true;
  }
  void HeaderRefusesResizeFitCursorAndSort() {
    QFETCH(bool, ours);
    QTableWidget plain;
    CMyListCtrl list;
    QTableWidget* table = ours ? static_cast<QTableWidget*>(&list) : &plain;
    if (ours) {
      AddColumns(list);
      list.InsertItem(0, "a fairly long module name");
      list.InsertItem(1, "z");
    } else {
      plain.setColumnCount(5);
      plain.setRowCount(2);
      plain.setItem(0, 0, new QTableWidgetItem("a fairly long module name"));
      plain.setItem(1, 0, new QTableWidgetItem("z"));
      plain.horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
      plain.setSortingEnabled(true);
    }
    table->setColumnWidth(0, 60);
    table->resize(600, 200);
    table->show();
    QVERIFY(QTest::qWaitForWindowExposed(table));
    QHeaderView* header = table->horizontalHeader();
    QWidget* vp = header->viewport();
    const int y = header->height() / 2;
    const int divider = header->sectionViewportPosition(0) + header->sectionSize(0) - 1;

    // hover over the divider
    QTest::mouseMove(vp, QPoint(divider, y));
    const bool splitCursor =
        header->testAttribute(Qt::WA_SetCursor) && header->cursor().shape() == Qt::SplitHCursor;
    QCOMPARE(splitCursor, !ours);

    // drag the divider 50 pixels to the right
    QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(divider, y));
    QTest::mouseMove(vp, QPoint(divider + 50, y));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(divider + 50, y));
    QCOMPARE(header->sectionSize(0) != 60, !ours);

    // double click on the divider
    table->setColumnWidth(0, 60);
    QTest::mouseDClick(vp, Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(0) + 59, y));
    QCOMPARE(header->sectionSize(0) != 60, !ours);

    // click on a heading
    const QString before = table->item(0, 0)->text();
    QTest::mouseClick(vp, Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(0) + 10, y));
    QTest::mouseClick(vp, Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(0) + 10, y));
    const bool sorted = table->item(0, 0)->text() != before;
    QCOMPARE(sorted, !ours);
  }

  void WorkerCallsRunOnUiThreadAndWait() {
    CMyListCtrl list;
    AddColumns(list);
    std::atomic<bool> done{false};
    std::atomic<int> badThread{0};
    int inserted = -1;
    int count = -1;
    int width = -1;
    std::thread worker([&]() {
      list.DeleteAllItems();
      for (int i = 0; i < 9; ++i) {
        inserted = list.InsertItem(i, "row " + std::to_string(i));
        list.SetItemText(i, 4, "Waiting for the upgrade");
        list.SetItemData(i, i % 2 ? kColourRed : kColourBlue);
      }
      list.DeleteItem(3);
      count = list.GetItemCount();
      list.SetRedraw(false);
      list.SetColumnWidth(4, -2);
      width = list.GetColumnWidth(4);
      list.SetRedraw(true);
      done = true;
    });
    // the UI thread serves the calls; each is executed with the list's own thread
    QObject probe;
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 20000);
    worker.join();
    QCOMPARE(inserted, 8);
    QCOMPARE(count, 8);
    QCOMPARE(list.rowCount(), 8);
    QCOMPARE(list.GetItemText(3, 0), std::string("row 4"));
    QCOMPARE(list.GetItemData(3), kColourBlue);
    QVERIFY(width >= list.ContentsWidth(4));
    QVERIFY(!list.IsRedrawSuspended());
    QCOMPARE(badThread.load(), 0);
  }

  void SuspendedRedrawIsVisible() {
    CMyListCtrl list;
    list.SetRedraw(false);
    QVERIFY(list.IsRedrawSuspended());
    list.SetRedraw(true);
    QVERIFY(!list.IsRedrawSuspended());
  }

  // -- the buttons ------------------------------------------------------------------------------

  void StateColourIndexes() {
    CXPStyleButtonST button;
    const uint32_t face = RefFromColour(QApplication::palette().color(QPalette::Button));
    const uint32_t text = RefFromColour(QApplication::palette().color(QPalette::ButtonText));
    for (int i = 0; i < CButtonST::kStateColourCount; ++i) {
      uint32_t colour = 1;
      QCOMPARE(button.GetStateColor(i, colour), 0);
      QCOMPARE(colour, (i % 2 == 0) ? face : text);
    }
    QCOMPARE(button.SetStateColor(6, kColourRed), CButtonST::kInvalidIndex);
    QCOMPARE(button.SetStateColor(-1, kColourRed), CButtonST::kInvalidIndex);
    QCOMPARE(button.SetStateColor(CButtonST::HoverText, kColourRed), 0);
    uint32_t hover = 0;
    button.GetStateColor(CButtonST::HoverText, hover);
    QCOMPARE(hover, kColourRed);
    QCOMPARE(button.SetButtonIcons(133, 0), 0);
    QCOMPARE(button.IconSize(), QSize(32, 32));
    QCOMPARE(button.SetButtonIcons(134, 0), 0);
    QCOMPARE(button.SetButtonIcons(999, 0), 1);
    QCOMPARE(button.SetButtonIcons(133, 999), 1);
  }

  void HoverCaptionRedAndResetBySystemColourChange() {
    g_ThemeHelper.SetThemed(false);
    QWidget window;
    auto* button = new CXPStyleButtonST(&window);
    auto* other = new QPushButton("other", &window);
    button->setGeometry(0, 0, 200, 50);
    other->setGeometry(0, 60, 200, 30);
    button->setText("&Check");
    button->SetButtonIcons(133, 0);
    button->SetStateColor(CButtonST::HoverText, kColourRed);
    window.resize(220, 100);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // start with the pointer over the other button
    QTest::mouseMove(button, QPoint(150, 10));
    QTest::mouseMove(other, QPoint(10, 10));
    QTRY_VERIFY(!button->IsPointerOver());
    QCOMPARE(CountReddish(button->grab().toImage()), 0);
    // the pointer enters: the caption turns red, also without the window being active
    QTest::mouseMove(button, QPoint(100, 25));
    QTRY_VERIFY(button->IsPointerOver());
    QVERIFY(CountReddish(button->grab().toImage()) > 5);
    QTest::mouseMove(other, QPoint(10, 10));
    QTRY_VERIFY(!button->IsPointerOver());
    QCOMPARE(CountReddish(button->grab().toImage()), 0);

    // a change of the system colours drops the red caption
    QTest::mouseMove(button, QPoint(100, 25));
    QTRY_VERIFY(button->IsPointerOver());
    const QPalette saved = QApplication::palette();
    QPalette changed = saved;
    changed.setColor(QPalette::Button, QColor(200, 220, 200));
    QApplication::setPalette(changed);
    // the change reaches the widgets as a posted event
    auto hoverText = [&]() {
      uint32_t colour = 0;
      button->GetStateColor(CButtonST::HoverText, colour);
      return colour;
    };
    QTRY_COMPARE(hoverText(), RefFromColour(changed.color(QPalette::ButtonText)));
    uint32_t back = 0;
    button->GetStateColor(CButtonST::NormalBack, back);
    QCOMPARE(back, RefFromColour(QColor(200, 220, 200)));
    QApplication::setPalette(saved);
    QTRY_COMPARE(
        [&]() {
          uint32_t b = 0;
          button->GetStateColor(CButtonST::NormalBack, b);
          return b;
        }(),
        RefFromColour(saved.color(QPalette::Button)));
    QCOMPARE(CountReddish(button->grab().toImage()), 0);
    g_ThemeHelper.SetThemed(true);
  }

  void FlatPaintingFillsFaceWithoutBorder() {
    g_ThemeHelper.SetThemed(false);
    CXPStyleButtonST button;
    button.setText("&Upgrade");
    button.resize(200, 50);
    button.SetStateColor(CButtonST::NormalBack, 0x00336699);
    const QImage image = button.grab().toImage();
    const QColor back = ColourFromRef(0x00336699);
    // every corner and edge is the fill colour: no border, no focus rectangle
    for (QPoint p : {QPoint(0, 0), QPoint(199, 0), QPoint(0, 49), QPoint(199, 49), QPoint(100, 0),
                     QPoint(100, 49), QPoint(199, 25)})
      QVERIFY2(IsColour(image.pixel(p), back), qPrintable(QStringLiteral("%1,%2").arg(p.x()).arg(p.y())));
    QCOMPARE(button.LastThemeState(), 0);
    g_ThemeHelper.SetThemed(true);
  }

  void ThemedPanelFollowsState() {
    g_ThemeHelper.SetThemed(true);
    QWidget window;
    auto* button = new CXPStyleButtonST(&window);
    auto* other = new QPushButton("x", &window);
    other->setGeometry(0, 60, 50, 20);
    button->setGeometry(0, 0, 200, 50);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseMove(button, QPoint(150, 10));
    QTest::mouseMove(other, QPoint(5, 5));
    QTRY_VERIFY(!button->IsPointerOver());
    struct Step {
      const char* name;
      std::function<void()> act;
      int state;
    } steps[] = {
        {"normal", [] {}, CThemeHelperST::PBS_NORMAL},
        {"default", [&] { button->setDefault(true); }, CThemeHelperST::PBS_DEFAULTED},
        {"hot", [&] { QTest::mouseMove(button, QPoint(50, 25)); }, CThemeHelperST::PBS_HOT},
        {"pressed", [&] { button->setDown(true); }, CThemeHelperST::PBS_PRESSED},
        {"disabled",
         [&] {
           button->setDown(false);
           button->setEnabled(false);
         },
         CThemeHelperST::PBS_DISABLED},
    };
    for (const Step& s : steps) {
      s.act();
      button->grab();
      QVERIFY2(button->LastThemeState() == s.state, s.name);
    }
    // a themed panel differs from the flat fill
    button->setEnabled(true);
    const QImage themed = button->grab().toImage();
    g_ThemeHelper.SetThemed(false);
    const QImage flat = button->grab().toImage();
    g_ThemeHelper.SetThemed(true);
    QVERIFY(themed != flat);
  }

  void PressedAndDisabledDrawing() {
    g_ThemeHelper.SetThemed(false);
    QWidget window;
    auto* button = new CXPStyleButtonST(&window);
    button->setGeometry(0, 0, 200, 50);
    button->setText("&Upgrade");
    button->SetButtonIcons(134, 0);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QColor face = window.palette().color(QPalette::Button);
    auto firstIconColumn = [&](const QImage& img) {
      for (int x = 0; x < 40; ++x)
        for (int y = 0; y < 50; ++y)
          if (!IsColour(img.pixel(x, y), face)) return x;
      return -1;
    };
    const QImage normal = button->grab().toImage();
    button->setDown(true);
    const QImage pressed = button->grab().toImage();
    button->setDown(false);
    const int x0 = firstIconColumn(normal);
    QVERIFY(x0 >= CButtonST::kIconLeft);
    QCOMPARE(firstIconColumn(pressed), x0 + CButtonST::kPressedOffset);

    // disabled: the icon is greyed and the caption etched in highlight and shadow colours
    button->setEnabled(false);
    const QImage disabled = button->grab().toImage();
    const QRect iconArea(CButtonST::kIconLeft, 9, 32, 32);
    int saturated = 0;
    for (int y = iconArea.top(); y <= iconArea.bottom(); ++y)
      for (int x = iconArea.left(); x <= iconArea.right(); ++x) {
        const QColor c(normal.pixel(x, y));
        const QColor d(disabled.pixel(x, y));
        if (c.saturation() > 120) ++saturated;
        QVERIFY(d.saturation() <= 120 || d == face);
      }
    QVERIFY(saturated > 20);
    const QRect caption(40, 0, 160, 50);
    QVERIFY(CountPixels(disabled, caption, window.palette().color(QPalette::Active, QPalette::Dark)) > 5);
    QVERIFY(CountPixels(disabled, caption, window.palette().color(QPalette::Active, QPalette::Light)) > 5 ||
            window.palette().color(QPalette::Active, QPalette::Light) == face);
    g_ThemeHelper.SetThemed(true);
  }

  void DoubleClickCountsTwice() {
    CXPStyleButtonST button;
    button.resize(200, 50);
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    QSignalSpy clicks(&button, &QAbstractButton::clicked);
    // what the system delivers for two quick clicks: press, release, double click, release
    const QPoint at(100, 25);
    QTest::mouseClick(&button, Qt::LeftButton, {}, at);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(at), QPointF(button.mapToGlobal(at)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&button, &dbl);
    QVERIFY(button.isDown());
    QTest::mouseRelease(&button, Qt::LeftButton, {}, at);
    QCOMPARE(clicks.count(), 2);
  }

  void DisabledButtonHandsFocusOn() {
    QWidget window;
    auto* check = new CXPStyleButtonST(&window);
    auto* upgrade = new CXPStyleButtonST(&window);
    auto* list = new CMyListCtrl(&window);
    check->setGeometry(0, 0, 100, 40);
    upgrade->setGeometry(110, 0, 100, 40);
    list->setGeometry(0, 50, 300, 100);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    check->setFocus();
    QTRY_VERIFY(check->hasFocus());
    QTest::mouseMove(check, QPoint(50, 20));
    QTRY_VERIFY(check->IsPointerOver());
    check->setEnabled(false);
    QVERIFY(!check->IsPointerOver());
    QTRY_VERIFY(upgrade->hasFocus());
    upgrade->setEnabled(false);
    QTRY_VERIFY(list->hasFocus());
  }
};

QTEST_MAIN(TestControls)
#include "TestControls.moc"
