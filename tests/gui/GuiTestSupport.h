#pragma once

// Shared pieces of the dialog tests: a private settings/log/help area, a recorder that answers the
// dialog's message boxes instead of a user, and a dialog factory pointed at both.
#include <QAbstractButton>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <mutex>
#include <string>
#include <vector>

#include "app/CQorOneClickDlg.h"

struct RecordedBox {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  bool onUiThread = false;
  const QWidget* parent = nullptr;
};

// Answers every box with answer (Yes/No for questions, OK otherwise) and remembers what it showed.
class BoxRecorder {
 public:
  QMessageBox::StandardButton answer = QMessageBox::Yes;

  std::function<int(QMessageBox&)> Hook() {
    return [this](QMessageBox& box) {
      RecordedBox r;
      r.title = box.windowTitle();
      r.text = box.text();
      r.icon = box.icon();
      r.buttons = box.standardButtons();
      r.defaultButton =
          box.defaultButton() != nullptr ? box.standardButton(box.defaultButton()) : QMessageBox::NoButton;
      r.onUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
      r.parent = box.parentWidget();
      std::lock_guard<std::mutex> lock(m_Lock);
      m_Boxes.push_back(r);
      if (r.buttons & answer) return static_cast<int>(answer);
      return static_cast<int>(QMessageBox::Ok);
    };
  }
  std::vector<RecordedBox> Boxes() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Boxes;
  }
  int Count() { return static_cast<int>(Boxes().size()); }
  QString LastText() {
    auto boxes = Boxes();
    return boxes.empty() ? QString() : boxes.back().text;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Boxes.clear();
  }

 private:
  std::mutex m_Lock;
  std::vector<RecordedBox> m_Boxes;
};

// A scratch area: settings, log, help directory and loop-test marker all inside one temporary folder.
class TestArea {
 public:
  TestArea() {
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_Dir.path() + "/settings");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_Dir.path() + "/settings");
    QCoreApplication::setApplicationName("qor-oneclick-test");
  }
  std::string Path(const char* name) const { return (m_Dir.path() + "/" + name).toStdString(); }
  QString Dir() const { return m_Dir.path(); }

  // Options with no embedded images, no folder of images (an empty folder), boxes answered by boxes.
  DialogOptions Options(BoxRecorder& boxes) const {
    DialogOptions options;
    options.loadEmbeddedImages = false;
    options.imageFolder = Path("no-images");
    options.logPath = Path("QorUpgradeLog.txt");
    options.loopTestMarker = Path("LoopTest.ini");
    options.helpDirectory = Dir().toStdString();
    options.endpoints.discoveryAddresses = {"127.0.0.1"};
    options.endpoints.udpPort = 9;  // never reached by these tests
    options.runMessageBox = boxes.Hook();
    return options;
  }

 private:
  QTemporaryDir m_Dir;
};
