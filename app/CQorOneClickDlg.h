#pragma once

#include <QDialog>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "image/ImageSearch.h"
#include "image/ImageSet.h"
#include "platform/Warnings.h"
#include "protocol/CTelnetClient.h"
#include "upgrade/CUpgradeEngine.h"
#include "upgrade/CheckProcedure.h"
#include "upgrade/Endpoints.h"
#include "upgrade/WindowInterfaces.h"

class CMyListCtrl;
class CXPStyleButtonST;
class QMessageBox;

// What the dialog is pointed at. The defaults are the real tool's: the router's endpoints, images
// found by the search order of image/ImageSearch.h, the log in the state directory, the help in the
// private temporary directory, real message boxes and the desktop's URL handler.
struct DialogOptions {
  Endpoints endpoints;
  // A folder chosen for the ".bin" images (--images, or the demo's); "" = search for them.
  std::string imageFolder;
  ImageSourceKind imageFolderKind = ImageSourceKind::Option;
  // Whether the images compiled into the program take part in the search.
  bool loadEmbeddedImages = true;
  // Environment lookup for the search's data folders; default getenv.
  std::function<const char*(const char*)> getenv;
  // Upgrade log; "" = QorUpgradeLog.txt in the state directory.
  std::string logPath;
  // Loop-test marker; "" = DefaultLoopTestMarker().
  std::string loopTestMarker;
  // Where the help file is written; "" = the private temporary directory.
  std::string helpDirectory;
  // Shows a prepared box and returns the button pressed (QMessageBox::StandardButton); default exec().
  std::function<int(QMessageBox&)> runMessageBox;
  // Opens the help file; default QDesktopServices::openUrl.
  std::function<bool(const QUrl&)> openUrl;
  // Starts a worker thread; default std::thread. May throw std::system_error when the system has
  // no thread to give (tests make it so).
  std::function<std::thread(std::function<void()>)> startThread;
};

// The marker whose presence at start switches on loop-test mode: LoopTest.ini in the state directory
// (~/.local/state/qor-oneclick/LoopTest.ini by default). Its content is never read.
std::string DefaultLoopTestMarker();

// The warning shown (in the user's language) when a worker thread cannot be created (the system's
// reason follows).
inline constexpr const char* kWorkerNotStartedText =
    QT_TRANSLATE_NOOP("CQorOneClickDlg", "The work could not be started: no thread could be created");

// The tool's only window: Check and Upgrade above the module list.
//
// Owns the two buttons, the list, the Telnet client and the upgrade engine for its whole life, and at
// most one worker thread (the Check or the Upgrade) at a time. Workers reach the window only through
// IDialogHost, IModuleList (the list) and IWarningSink (the dialog is the warning sink while it
// exists); every such call is carried out on the UI thread, and a worker that asks for one waits for
// it, except PostNotify and StartLoopTimer, which return at once.
//
// Closing: refused with message 140 while an Upgrade runs; otherwise "Are you sure?". The loop-test
// timer is held while the question is open (no Upgrade can start behind it) and the answer is
// checked again: an Upgrade running by then refuses the close with 140; a "No" lets the loop go on.
// A confirmed close while a Check runs asks the Check to stop and waits for it (serving its calls
// meanwhile, with warning boxes answered OK at once; the Check ends within about 1 s of clock time),
// and only then hides the window; nothing is destroyed before. The destructor does the same.
//
// A worker thread that cannot be created leaves the buttons as they were before the click and
// says so in a warning; nothing else changes.
class CQorOneClickDlg : public QDialog, public IDialogHost, public IWarningSink {
  Q_OBJECT

 public:
  // Loop-test pauses, in clock milliseconds.
  static constexpr uint32_t kLoopUpgradeDelayMs = 2000;
  static constexpr uint32_t kLoopCheckDelayMs = 35000;
  // Button geometry and the list's place, in client pixels.
  static constexpr int kButtonWidth = 200;
  static constexpr int kButtonHeight = 50;
  static constexpr int kButtonTop = 6;
  static constexpr int kListLeft = 10;
  static constexpr int kListTop = 62;

  explicit CQorOneClickDlg(DialogOptions options = {}, QWidget* parent = nullptr);
  ~CQorOneClickDlg() override;

  // The smallest window: 2 sizing frames + 430 wide, caption + 2 sizing frames + 62 high. Here they
  // bound the client area (the platform's frame is outside it).
  static int MinTrackWidth();
  static int MinTrackHeight();
  // The window title: the "STRING" resource 150, " - " and the product version, " - Press F1 for Help".
  static QString BuildTitle();

  // Where the next Check takes its images from (decided again before every Check, on the UI thread),
  // and the folder a drop chose (empty while none was dropped).
  ImageSource ChooseImageSource();
  const ImageSource& LastImageSource() const { return m_ImageSource; }
  // A folder dropped onto the list: used for the next Check and after it. False for anything that
  // is not one local folder.
  bool UseDroppedFolder(const QString& folder);
  const std::string& DroppedFolder() const { return m_DroppedFolder; }

  void OnCheck();
  void OnUpgrade();
  void OnUpgradeNotify(int code);
  // After a failed Upgrade run: a warning with the reason and what to do next (upgrade/Advice.h).
  void ShowRunFailure();
  void InsertColumns();
  bool ConfirmClose();
  void OnCancel();
  void ShowHelp();
  // Asks where, then writes the support report (upgrade/SupportReport.h); not while a worker runs.
  void SaveSupportReport();
  // Writes the support report to path; "" when written, else why.
  std::string WriteSupportReportTo(const std::string& path);
  bool PersistWindowPlacement(bool save);

  // IDialogHost (any thread).
  void EnableCheckButton(bool enable) override;
  void EnableUpgradeButton(bool enable) override;
  void PostNotify(int code) override;
  void BringToForeground() override;
  void UpdateWindow() override;
  void LayoutControls() override;
  bool IsLoopTest() override { return m_LoopTest; }
  void StartLoopTimer(int argument) override;

  // IWarningSink (any thread): a "Warning" box owned by the dialog; the caller waits until it closes.
  int ShowWarning(const std::string& text) override;

  // State, for the application and tests.
  CXPStyleButtonST* CheckButton() const { return m_CheckButton; }
  CXPStyleButtonST* UpgradeButton() const { return m_UpgradeButton; }
  CMyListCtrl* ModuleList() const { return m_ModuleList; }
  CUpgradeEngine& Engine() { return *m_Engine; }
  // What the last Check found (read only while no worker runs).
  const CheckResult& LastCheck() const { return m_CheckResult; }
  int ClientWidth() const { return m_ClientWidth; }
  int ClientHeight() const { return m_ClientHeight; }
  bool HasEmbeddedImages() const { return m_HasEmbeddedImages; }
  bool IsWorkerRunning() const { return m_WorkerRunning.load(); }
  bool IsClosing() const { return m_Closing; }
  bool IsLoopTimerPending() const { return m_LoopTimer.isActive(); }
  bool IsLoopTimerHeld() const { return m_LoopHeld; }
  int LoopTimerArgument() const { return m_LoopTimerArgument; }
  // Waits for a running worker, serving its calls meanwhile. True when none runs any more.
  bool WaitForWorker(int realTimeoutMs = -1);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  // Drops onto the list's viewport: a folder of images.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void InitDialog();
  void StartWorker(bool upgrade);
  void StopWorkerForClose();
  int RunBox(QMessageBox& box);
  // A warning's text as shown: an image warning gains the image source as its second line.
  QString WarningText(const std::string& text) const;
  // Holds the loop-test timer (a pending request and its time left are kept, later requests too)
  // and lets it go on.
  void HoldLoopTimer();
  void ResumeLoopTimer();

  DialogOptions m_Options;
  CXPStyleButtonST* m_CheckButton = nullptr;
  CXPStyleButtonST* m_UpgradeButton = nullptr;
  CMyListCtrl* m_ModuleList = nullptr;
  CTelnetClient m_Telnet;
  int m_ClientWidth = 0;
  int m_ClientHeight = 0;
  std::unique_ptr<CUpgradeEngine> m_Engine;
  CImageSet m_Images;
  bool m_HasEmbeddedImages = false;
  bool m_LoopTest = false;

  std::unique_ptr<CheckContext> m_CheckContext;
  // Written by the Check worker, read by the Upgrade worker: workers never overlap (StartWorker
  // joins the last one before it starts the next).
  CheckResult m_CheckResult;
  std::atomic<bool> m_StopRequested{false};
  std::atomic<bool> m_WorkerRunning{false};
  bool m_WorkerIsUpgrade = false;
  std::thread m_Worker;
  bool m_Closing = false;
  QTimer m_LoopTimer;
  int m_LoopTimerArgument = -1;
  bool m_LoopHeld = false;
  int m_HeldArgument = -1;    // the request held, -1 none
  int m_HeldRemainingMs = 0;  // its real milliseconds left
  std::unique_ptr<ScopedWarningSink> m_SinkScope;
  ImageSource m_ImageSource;
  std::string m_DroppedFolder;
};
