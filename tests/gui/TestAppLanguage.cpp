// The window under LANGUAGE=zh_CN, with the translations the build made beside the program: the
// window's own texts, the string table's and Qt's come in Chinese, the log does not.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include "GuiTestSupport.h"
#include "app/AppTranslations.h"
#include "app/CQorOneClickApp.h"
#include "app/HelpFile.h"
#include "controls/CMyListCtrl.h"
#include "controls/CXPStyleButtonST.h"
#include "platform/StringTable.h"
#include "platform/Translation.h"
#include "platform/Version.h"

class TestAppLanguage : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    qputenv("LANGUAGE", "zh_CN");
    const QString programFolder = QFileInfo(QStringLiteral(QOR_ONECLICK_PATH)).absolutePath();
    QCOMPARE(InstallTranslations(*QCoreApplication::instance(), programFolder), QString("zh_CN"));
  }

  void WindowTextsAreChinese() {
    TestArea area;
    BoxRecorder boxes;
    CQorOneClickDlg dlg(area.Options(boxes));
    QCOMPARE(dlg.CheckButton()->text(), QString::fromUtf8("检查(&C)"));
    QCOMPARE(dlg.UpgradeButton()->text(), QString::fromUtf8("升级(&U)"));
    const char* headings[] = {"类型", "当前版本", "升级版本", "%", "状态"};
    for (int i = 0; i < 5; ++i)
      QCOMPARE(dlg.ModuleList()->horizontalHeaderItem(i)->text(), QString::fromUtf8(headings[i]));
    // the title keeps its form: the title text, the version, the help hint
    QCOMPARE(dlg.windowTitle(), QString::fromUtf8("Q650 Upgrade - " QOR_PRODUCT_VERSION " - 按 F1 获取帮助"));
    QCOMPARE(dlg.ModuleList()->toolTip(), QString::fromUtf8("升级文件：%1（由 --images 指定）")
                                              .arg(QString::fromStdString(area.Path("no-images"))));
  }

  void ACheckWarnsInChineseAndLogsInEnglish() {
    TestArea area;
    BoxRecorder boxes;
    CQorOneClickDlg dlg(area.Options(boxes));
    dlg.OnCheck();
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.IsWorkerRunning(), 30000);
    QCOMPARE(boxes.Count(), 1);
    const RecordedBox box = boxes.Boxes().back();
    QCOMPARE(box.title, QString::fromUtf8("警告"));
    QCOMPARE(box.text,
             QString::fromUtf8("当前目录中没有找到有效的 .bin 文件\n升级文件：%1（由 --images 指定）")
                 .arg(QString::fromStdString(area.Path("no-images"))));
    dlg.Engine().GetLog().Flush();
    QFile log(QString::fromStdString(area.Path("QorUpgradeLog.txt")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    QVERIFY2(
        text.contains("Images: " + QString::fromStdString(area.Path("no-images")) + " (given with --images)"),
        qPrintable(text));
    QVERIFY(!text.contains(QString::fromUtf8("升级文件")));
  }

  void TheCloseQuestionTheGuideAndTheUsageFollow() {
    TestArea area;
    BoxRecorder boxes;
    boxes.answer = QMessageBox::No;
    CQorOneClickDlg dlg(area.Options(boxes));
    // the close question
    QVERIFY(!dlg.ConfirmClose());
    QCOMPARE(boxes.LastText(), QString::fromUtf8("确定要退出吗？"));
    // the guide in Chinese, under its own name
    size_t size = 0;
    std::string name;
    const unsigned char* bytes = HelpGuideForLanguage(ActiveLanguage(), size, name);
    QVERIFY(bytes != nullptr);
    QCOMPARE(QString::fromStdString(name), QString("QorUpgradeHelp.zh_CN.html"));
    QVERIFY(QByteArray(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size))
                .contains("升级文件从哪里来"));
    // a language without its guide falls back to the English one
    bytes = HelpGuideForLanguage("fr", size, name);
    QVERIFY(bytes != nullptr);
    QCOMPARE(QString::fromStdString(name), QString(kHelpFileName));
    QVERIFY(QByteArray(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size))
                .contains("Where the images come from"));
    // the usage written for the option parser
    const QString usage = AppUsage();
    QVERIFY2(usage.contains(QString::fromUtf8("在 DIR 中查找 .bin 升级文件")), qPrintable(usage));
  }
};

QTEST_MAIN(TestAppLanguage)
#include "TestAppLanguage.moc"
