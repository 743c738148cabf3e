// Where the window takes its images from: the search before every Check, a folder dropped onto the
// list, and the folder named in the log, the list's tool tip and the image warning's second line.
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <map>
#include <string>

#include "GuiTestSupport.h"
#include "controls/CMyListCtrl.h"
#include "image/ImageSearch.h"

namespace {

// Sends a drag and a drop of mime onto the list's viewport; true when the drop was accepted.
bool DropOnList(CQorOneClickDlg& dlg, QMimeData& mime) {
  QWidget* target = dlg.ModuleList()->viewport();
  const QPoint at = target->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
  return drop.isAccepted() && enter.isAccepted();
}

}  // namespace

class TestDialogImages : public QObject {
  Q_OBJECT

 private slots:
  void SearchRunsBeforeEveryCheck() {
    TestArea area;
    BoxRecorder boxes;
    QTemporaryDir data;
    const QString images = data.path() + "/share/qor-oneclick/images";
    QVERIFY(QDir().mkpath(images));
    std::map<std::string, std::string> env = {{"HOME", area.Path("home")},
                                              {"XDG_DATA_DIRS", (data.path() + "/share").toStdString()}};
    DialogOptions options = area.Options(boxes);
    options.imageFolder.clear();
    options.getenv = [&env](const char* name) -> const char* {
      auto it = env.find(name);
      return it == env.end() ? nullptr : it->second.c_str();
    };
    CQorOneClickDlg dlg(options);
    // nothing anywhere yet: the program's folder would be scanned
    QCOMPARE(dlg.LastImageSource().kind, ImageSourceKind::NotFound);
    QVERIFY(dlg.ModuleList()->toolTip().startsWith("Images: no .bin file in "));

    // images installed while the window is open are found by the next Check
    QFile file(images + "/app.bin");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not an image");
    file.close();
    dlg.OnCheck();
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.IsWorkerRunning(), 30000);
    QCOMPARE(dlg.LastImageSource().kind, ImageSourceKind::DataDirs);
    QCOMPARE(QString::fromStdString(dlg.LastImageSource().folder), images);
    QCOMPARE(dlg.ModuleList()->toolTip(), QString("Images: %1 ($XDG_DATA_DIRS)").arg(images));
    // the file is no valid image: the warning names the folder on its second line
    QCOMPARE(boxes.LastText(), QString("No valid .bin file is found in the current directory\n"
                                       "Images: %1 ($XDG_DATA_DIRS)")
                                   .arg(images));
    // and the log names it as well
    dlg.Engine().GetLog().Flush();
    QFile log(QString::fromStdString(area.Path("QorUpgradeLog.txt")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains(QString("Images: %1 ($XDG_DATA_DIRS)").arg(images).toUtf8()));
  }

  void DroppedFolderIsUsedForTheNextCheck() {
    TestArea area;
    BoxRecorder boxes;
    CQorOneClickDlg dlg(area.Options(boxes));
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTemporaryDir dropped;
    QFile file(dropped.path() + "/x.txt");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    struct Case {
      const char* name;
      QList<QUrl> urls;
      bool accepted;
    };
    const Case cases[] = {
        {"a file", {QUrl::fromLocalFile(dropped.path() + "/x.txt")}, false},
        {"two folders", {QUrl::fromLocalFile(dropped.path()), QUrl::fromLocalFile(area.Dir())}, false},
        {"a remote folder", {QUrl("https://example.org/images/")}, false},
        {"a missing folder", {QUrl::fromLocalFile(dropped.path() + "/gone")}, false},
        {"one local folder", {QUrl::fromLocalFile(dropped.path())}, true},
    };
    for (const Case& c : cases) {
      QMimeData mime;
      mime.setUrls(c.urls);
      QVERIFY2(DropOnList(dlg, mime) == c.accepted, c.name);
      QCOMPARE(dlg.DroppedFolder().empty(), !c.accepted);
    }
    QCOMPARE(QString::fromStdString(dlg.DroppedFolder()), QDir(dropped.path()).absolutePath());
    QCOMPARE(dlg.ModuleList()->toolTip(),
             QString("Images: %1 (dropped onto the window)").arg(dropped.path()));

    // the dropped folder beats the folder the window was started with
    dlg.OnCheck();
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.IsWorkerRunning(), 30000);
    QCOMPARE(dlg.LastImageSource().kind, ImageSourceKind::Dropped);
    QCOMPARE(boxes.LastText(), QString("No valid .bin file is found in the current directory\n"
                                       "Images: %1 (dropped onto the window)")
                                   .arg(dropped.path()));
    // and stays for the Checks after it
    dlg.OnCheck();
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.IsWorkerRunning(), 30000);
    QCOMPARE(dlg.LastImageSource().kind, ImageSourceKind::Dropped);
    QCOMPARE(boxes.Count(), 2);
  }
};

QTEST_MAIN(TestDialogImages)
#include "TestDialogImages.moc"
