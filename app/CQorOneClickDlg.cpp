#include "app/CQorOneClickDlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStyle>
#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "app/HelpFile.h"
#include "app/WindowPlacement.h"
#include "controls/CMyListCtrl.h"
#include "controls/CXPStyleButtonST.h"
#include "controls/UiThreadCall.h"
#include "image/Catalogue.h"
#include "platform/Clock.h"
#include "platform/Resources.h"
#include "platform/StringTable.h"
#include "platform/Translation.h"
#include "platform/UserDirs.h"
#include "platform/Warnings.h"
#include "upgrade/Advice.h"
#include "upgrade/CRowReporter.h"
#include "upgrade/SupportReport.h"
#include "upgrade/UpgradeRun.h"

#ifndef QOR_PRODUCT_VERSION
#define QOR_PRODUCT_VERSION ""
#endif

namespace {
QString Text(int id) { return QString::fromStdString(LoadStringById(id)); }

// a sizing frame's width and height, in pixels, as the window manager typically draws it
constexpr int kSizingFrame = 4;

// list columns: heading id, alignment
struct ColumnSpec {
  int headingId;
  Qt::Alignment alignment;
};
constexpr ColumnSpec kColumns[] = {
    {IDS_COL_TYPE, Qt::AlignHCenter},    {IDS_COL_CURRENT, Qt::AlignHCenter},
    {IDS_COL_UPGRADE, Qt::AlignHCenter}, {IDS_COL_PERCENT, Qt::AlignHCenter},
    {IDS_COL_STATUS, Qt::AlignLeft},
};
}  // namespace

std::string DefaultLoopTestMarker() {
  std::string dir;
  if (!GetStateDirectory(dir)) return std::string();
  return dir + "/LoopTest.ini";
}

int CQorOneClickDlg::MinTrackWidth() {
  static const int width = 2 * kSizingFrame + 430;
  return width;
}

int CQorOneClickDlg::MinTrackHeight() {
  static const int height =
      QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight) + 2 * kSizingFrame + 62;
  return height;
}

QString CQorOneClickDlg::BuildTitle() {
  QString title;
  size_t size = 0;
  if (const unsigned char* bytes = LoadRawResource(150, "STRING", &size)) {
    title = QString::fromUtf8(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size));
    // the text ends at its first NUL, as a zero-terminated resource string does; a trailing line end
    // of the text file is not part of it
    const qsizetype nul = title.indexOf(QChar(u'\0'));
    if (nul >= 0) title.truncate(nul);
    while (title.endsWith(u'\n') || title.endsWith(u'\r')) title.chop(1);
  }
  const QString version = QStringLiteral(QOR_PRODUCT_VERSION);
  if (!version.isEmpty()) title += QStringLiteral(" - ") + version;
  title += QStringLiteral(" - ") + tr("Press F1 for Help");
  return title;
}

CQorOneClickDlg::CQorOneClickDlg(DialogOptions options, QWidget* parent)
    : QDialog(parent), m_Options(std::move(options)) {
  if (!m_Options.runMessageBox) m_Options.runMessageBox = [](QMessageBox& box) { return box.exec(); };
  if (!m_Options.openUrl) m_Options.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  if (!m_Options.startThread) {
    m_Options.startThread = [](std::function<void()> work) { return std::thread(std::move(work)); };
  }

  // a demo logs to its own file: its lines must never mix with those of real routers
  const bool demo = m_Options.imageFolderKind == ImageSourceKind::Demo;
  m_Engine = m_Options.logPath.empty()
                 ? std::make_unique<CUpgradeEngine>(demo ? LogKind::Demo : LogKind::Technician)
                 : std::make_unique<CUpgradeEngine>(m_Options.logPath);
  m_Engine->GetLog().WriteRunHeader(demo ? "qor-oneclick (window, demo)" : "qor-oneclick (window)");
  m_Engine->SetEndpoints(m_Options.endpoints);
  m_Telnet.SetPort(m_Options.endpoints.telnetPort);

  m_CheckButton = new CXPStyleButtonST(this);
  m_UpgradeButton = new CXPStyleButtonST(this);
  m_ModuleList = new CMyListCtrl(this);
  m_Engine->Reporter().SetList(m_ModuleList);

  m_LoopTimer.setSingleShot(true);
  connect(&m_LoopTimer, &QTimer::timeout, this, [this]() {
    OnUpgradeNotify(m_LoopTimerArgument == 0 ? NOTIFY_START_CHECK : NOTIFY_START_UPGRADE);
  });

  m_CheckContext = std::make_unique<CheckContext>(
      CheckContext{*this, m_Telnet, *m_Engine, m_Images, false, std::string(), &m_StopRequested});
  m_SinkScope = std::make_unique<ScopedWarningSink>(*this);

  InitDialog();
}

CQorOneClickDlg::~CQorOneClickDlg() {
  m_LoopTimer.stop();
  m_Closing = true;
  m_StopRequested = true;
  WaitForWorker();
  if (m_Worker.joinable()) m_Worker.join();
  m_SinkScope.reset();
}

void CQorOneClickDlg::InitDialog() {
  // the installed theme icon, else the one built in
  setWindowIcon(QIcon::fromTheme(QStringLiteral("qor-oneclick"), QIcon(QStringLiteral(":/icons/128.png"))));
  setSizeGripEnabled(false);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                 Qt::WindowCloseButtonHint);
  // a fixed-pitch face, as the dialog's template font
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setMinimumSize(MinTrackWidth(), MinTrackHeight());

  // the template's size, 400 x 151 dialog units of its font
  const QFontMetrics metrics(font());
  const int baseX = std::max(1, metrics.averageCharWidth());
  const int baseY = std::max(1, metrics.height());
  resize(std::max(MinTrackWidth(), 400 * baseX / 4), std::max(MinTrackHeight(), 151 * baseY / 8));

  PersistWindowPlacement(false);
  setWindowTitle(BuildTitle());

  m_CheckButton->setText(Text(IDS_CHECK_CAPTION));
  m_CheckButton->SetButtonIcons(133, 0);
  m_CheckButton->SetStateColor(CButtonST::HoverText, kColourRed, true);
  m_CheckButton->setAutoDefault(true);
  m_CheckButton->setDefault(true);
  m_UpgradeButton->setText(Text(IDS_UPGRADE_CAPTION));
  m_UpgradeButton->SetButtonIcons(134, 0);
  m_UpgradeButton->SetStateColor(CButtonST::HoverText, kColourRed, true);
  m_UpgradeButton->setAutoDefault(true);
  m_UpgradeButton->setEnabled(false);
  connect(m_CheckButton, &QPushButton::clicked, this, &CQorOneClickDlg::OnCheck);
  connect(m_UpgradeButton, &QPushButton::clicked, this, &CQorOneClickDlg::OnUpgrade);
  setTabOrder(m_CheckButton, m_UpgradeButton);
  setTabOrder(m_UpgradeButton, m_ModuleList);
  m_CheckButton->setFocus();

  m_ClientWidth = std::max(width(), MinTrackWidth());
  m_ClientHeight = std::max(height(), MinTrackHeight());
  InsertColumns();
  LayoutControls();

  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
  help->setContext(Qt::WindowShortcut);
  connect(help, &QShortcut::activated, this, &CQorOneClickDlg::ShowHelp);

  // the window's own menu (a right click on it): the desktop's title-bar menu is not the program's
  // to extend on Linux
  auto* report = new QAction(tr("Save a support report..."), this);
  connect(report, &QAction::triggered, this, &CQorOneClickDlg::SaveSupportReport);
  addAction(report);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  m_HasEmbeddedImages = m_Options.loadEmbeddedImages && LoadEmbeddedImages(m_Images);
  ChooseImageSource();

  // a folder of images dropped onto the list is used for the next Check
  m_ModuleList->setAcceptDrops(true);
  m_ModuleList->viewport()->setAcceptDrops(true);
  m_ModuleList->viewport()->installEventFilter(this);

  const std::string marker =
      m_Options.loopTestMarker.empty() ? DefaultLoopTestMarker() : m_Options.loopTestMarker;
  m_LoopTest = !marker.empty() && QFileInfo::exists(QString::fromStdString(marker));

  // a change of screens may change the fonts' metrics
  connect(qApp, &QGuiApplication::primaryScreenChanged, this, [this]() { LayoutControls(); });
}

void CQorOneClickDlg::InsertColumns() {
  m_ModuleList->SetRedraw(false);
  for (int i = 0; i < 5; ++i)
    m_ModuleList->InsertColumn(i, LoadStringById(kColumns[i].headingId), kColumns[i].alignment);
  m_ModuleList->SetRedraw(true);
}

void CQorOneClickDlg::LayoutControls() {
  CallOnThreadOf(this, [this]() {
    if (m_ModuleList == nullptr) return;
    // the buttons 200 pixels wide with equal gaps left of, between and right of them
    const int gap = (m_ClientWidth - 2 * kButtonWidth) / 3;
    m_CheckButton->setGeometry(gap, kButtonTop, kButtonWidth, kButtonHeight);
    m_UpgradeButton->setGeometry(2 * gap + kButtonWidth, kButtonTop, kButtonWidth, kButtonHeight);
    m_ModuleList->setGeometry(kListLeft, kListTop, m_ClientWidth - 2 * kListLeft, m_ClientHeight - 68);
    FitModuleColumns(*m_ModuleList);
    update();
  });
}

void CQorOneClickDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  m_ClientWidth = std::max(width(), MinTrackWidth());
  m_ClientHeight = std::max(height(), MinTrackHeight());
  LayoutControls();
}

// ---- workers ----------------------------------------------------------------------------------

void CQorOneClickDlg::StartWorker(bool upgrade) {
  if (m_Closing) return;
  // a worker that already enabled the buttons may still be finishing its last calls
  WaitForWorker();
  if (m_Worker.joinable()) m_Worker.join();
  const bool checkWasEnabled = m_CheckButton->isEnabled();
  const bool upgradeWasEnabled = m_UpgradeButton->isEnabled();
  m_CheckButton->setEnabled(false);
  m_UpgradeButton->setEnabled(false);
  m_StopRequested = false;
  m_WorkerIsUpgrade = upgrade;
  m_WorkerRunning = true;
  try {
    if (upgrade) {
      m_Worker = m_Options.startThread([this]() {
        RunUpgrade(*m_Engine, m_CheckResult, *this);
        m_WorkerRunning = false;
      });
    } else {
      m_Worker = m_Options.startThread([this]() {
        m_CheckResult = CheckThreadProc(*m_CheckContext);
        m_WorkerRunning = false;
      });
    }
  } catch (const std::system_error& error) {
    // nothing started: the window stays as it was and says why
    m_WorkerRunning = false;
    m_CheckButton->setEnabled(checkWasEnabled);
    m_UpgradeButton->setEnabled(upgradeWasEnabled);
    ShowWarningText(tr(kWorkerNotStartedText).toStdString() + " (" + error.what() + ")");
  }
}

void CQorOneClickDlg::OnCheck() {
  if (m_Closing) return;
  // the worker of the last run may still finish its calls; the search touches the image set
  WaitForWorker();
  ChooseImageSource();
  m_Engine->GetLog().PrintText(DescribeImageSource(m_ImageSource, false));
  StartWorker(false);
}

ImageSource CQorOneClickDlg::ChooseImageSource() {
  ImageSearchInput input;
  if (!m_DroppedFolder.empty()) {
    input.chosenFolder = m_DroppedFolder;
    input.chosenKind = ImageSourceKind::Dropped;
  } else if (!m_Options.imageFolder.empty()) {
    input.chosenFolder = m_Options.imageFolder;
    input.chosenKind = m_Options.imageFolderKind;
  }
  if (m_Options.loadEmbeddedImages) input.loadEmbedded = [this] { return LoadEmbeddedImages(m_Images); };
  input.executableFolder = GetExecutableFolder();
  input.getenv =
      m_Options.getenv ? m_Options.getenv : [](const char* name) -> const char* { return std::getenv(name); };
  m_ImageSource = FindImageSource(input);
  m_CheckContext->hasEmbeddedImages = m_ImageSource.kind == ImageSourceKind::Embedded;
  m_CheckContext->imageFolder = m_ImageSource.folder;
  m_ModuleList->setToolTip(QString::fromStdString(DescribeImageSource(m_ImageSource, true)));
  return m_ImageSource;
}

bool CQorOneClickDlg::UseDroppedFolder(const QString& folder) {
  const QFileInfo info(folder);
  if (folder.isEmpty() || !info.isDir()) return false;
  m_DroppedFolder = info.absoluteFilePath().toStdString();
  // shown at once; the Check decides again when it starts
  if (!m_WorkerRunning)
    ChooseImageSource();
  else
    m_ModuleList->setToolTip(QString::fromStdString(DescribeImageSource(
        ImageSource{ImageSourceKind::Dropped, m_DroppedFolder, {m_DroppedFolder}}, true)));
  return true;
}

bool CQorOneClickDlg::eventFilter(QObject* watched, QEvent* event) {
  if (m_ModuleList == nullptr || watched != m_ModuleList->viewport())
    return QDialog::eventFilter(watched, event);
  // one local folder is taken; anything else is refused without a word
  auto droppedFolder = [](const QMimeData* mime) {
    if (mime == nullptr || !mime->hasUrls() || mime->urls().size() != 1) return QString();
    const QUrl url = mime->urls().constFirst();
    if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isDir()) return QString();
    return url.toLocalFile();
  };
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (droppedFolder(drag->mimeData()).isEmpty()) {
        drag->ignore();
      } else {
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
      }
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      if (UseDroppedFolder(droppedFolder(drop->mimeData()))) {
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
      } else {
        drop->ignore();
      }
      return true;
    }
    default:
      return QDialog::eventFilter(watched, event);
  }
}

void CQorOneClickDlg::OnUpgrade() { StartWorker(true); }

bool CQorOneClickDlg::WaitForWorker(int realTimeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (m_WorkerRunning.load()) {
    if (realTimeoutMs >= 0 && timer.elapsed() > realTimeoutMs) return false;
    // serve the worker's calls: it may be waiting for one of them
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    if (m_WorkerRunning.load()) QThread::msleep(2);
  }
  if (m_Worker.joinable()) m_Worker.join();
  return true;
}

void CQorOneClickDlg::OnUpgradeNotify(int code) {
  if (m_Closing) return;
  // a loop-test request that fires while the close question is open waits for its answer
  if (m_LoopHeld && (code == NOTIFY_START_CHECK || code == NOTIFY_START_UPGRADE)) {
    m_HeldArgument = code == NOTIFY_START_CHECK ? 0 : 1;
    m_HeldRemainingMs = 0;
    return;
  }
  switch (code) {
    case NOTIFY_UPGRADE_DONE:
      m_CheckButton->setEnabled(true);
      m_CheckButton->setFocus();
      ShowRunFailure();
      if (m_LoopTest) StartLoopTimer(0);
      break;
    case NOTIFY_DISABLE_BUTTONS:
      m_CheckButton->setEnabled(false);
      m_UpgradeButton->setEnabled(false);
      break;
    case NOTIFY_START_CHECK:
      // a request that finds a worker running (or its button disabled) is ignored: two workers never
      // run at once, and an Upgrade needs the Check before it
      if (!m_WorkerRunning && m_CheckButton->isEnabled()) OnCheck();
      break;
    case NOTIFY_START_UPGRADE:
      if (!m_WorkerRunning && m_UpgradeButton->isEnabled()) OnUpgrade();
      break;
    case NOTIFY_FOCUS_CHECK:
      m_CheckButton->setFocus();
      break;
    case NOTIFY_FOCUS_UPGRADE:
      m_UpgradeButton->setFocus();
      break;
    default:
      update();
      break;
  }
}

void CQorOneClickDlg::ShowRunFailure() {
  // the loop test runs unattended; a refused start and a failed NVRAM erase had their own warning,
  // which carries the advice already
  const int id = m_Engine->GetLastRunFailureId();
  if (m_LoopTest || m_Engine->GetLastRunSucceeded() || m_Engine->GetLastRunRefused() || id == 0 ||
      id == ADVICE_NVRAM_ERASE_FAILED) {
    return;
  }
  std::string text = FormatText(Tr("The upgrade failed: %1."), {m_Engine->GetLastRunFailure()});
  const std::string advice = AdviceText(id);
  if (!advice.empty()) text += "\n\n" + advice;
  QMessageBox box(QMessageBox::Warning, tr("Warning"), QString::fromStdString(text), QMessageBox::Ok, this);
  RunBox(box);
}

// ---- IDialogHost --------------------------------------------------------------------------------

void CQorOneClickDlg::EnableCheckButton(bool enable) {
  CallOnThreadOf(this, [this, enable]() { m_CheckButton->setEnabled(enable); });
}

void CQorOneClickDlg::EnableUpgradeButton(bool enable) {
  CallOnThreadOf(this, [this, enable]() { m_UpgradeButton->setEnabled(enable); });
}

void CQorOneClickDlg::PostNotify(int code) {
  QMetaObject::invokeMethod(
      this, [this, code]() { OnUpgradeNotify(code); }, Qt::QueuedConnection);
}

void CQorOneClickDlg::BringToForeground() {
  CallOnThreadOf(this, [this]() {
    if (m_Closing || !isVisible()) return;
    raise();
    activateWindow();
  });
}

void CQorOneClickDlg::UpdateWindow() {
  CallOnThreadOf(this, [this]() { repaint(); });
}

void CQorOneClickDlg::StartLoopTimer(int argument) {
  QMetaObject::invokeMethod(
      this,
      [this, argument]() {
        if (m_Closing) return;
        const int delay = Clock().RealWaitMs(argument == 0 ? kLoopCheckDelayMs : kLoopUpgradeDelayMs);
        // one pending request at a time: a new one replaces the one that waits
        if (m_LoopHeld) {
          m_HeldArgument = argument;
          m_HeldRemainingMs = delay;
          return;
        }
        m_LoopTimerArgument = argument;
        m_LoopTimer.start(delay);
      },
      Qt::QueuedConnection);
}

// ---- boxes --------------------------------------------------------------------------------------

int CQorOneClickDlg::RunBox(QMessageBox& box) { return m_Options.runMessageBox(box); }

QString CQorOneClickDlg::WarningText(const std::string& text) const {
  QString shown = QString::fromStdString(text);
  // a warning about the images names, on its second line, where they were looked for
  for (int id : {IDS_NO_VALID_IMAGE, IDS_DUPLICATE_IMAGES}) {
    const std::string warning = LoadStringById(id);
    if (!warning.empty() && text.rfind(warning, 0) == 0) {
      shown += u'\n' + QString::fromStdString(DescribeImageSource(m_ImageSource, true));
      break;
    }
  }
  return shown;
}

int CQorOneClickDlg::ShowWarning(const std::string& text) {
  return CallOnThreadOf(this, [this, &text]() -> int {
    // while the window closes nobody is there to answer: the worker goes on at once
    if (m_Closing) return 1;
    QMessageBox box(QMessageBox::Warning, tr("Warning"), WarningText(text), QMessageBox::Ok, this);
    RunBox(box);
    return 1;
  });
}

void CQorOneClickDlg::HoldLoopTimer() {
  if (m_LoopHeld) return;
  m_LoopHeld = true;
  m_HeldArgument = -1;
  if (m_LoopTimer.isActive()) {
    m_HeldArgument = m_LoopTimerArgument;
    m_HeldRemainingMs = std::max(0, m_LoopTimer.remainingTime());
    m_LoopTimer.stop();
  }
}

void CQorOneClickDlg::ResumeLoopTimer() {
  if (!m_LoopHeld) return;
  m_LoopHeld = false;
  if (m_HeldArgument >= 0 && !m_Closing) {
    m_LoopTimerArgument = m_HeldArgument;
    m_LoopTimer.start(m_HeldRemainingMs);
  }
  m_HeldArgument = -1;
}

bool CQorOneClickDlg::ConfirmClose() {
  // the marker covers the run proper; the worker's end-of-run steps also belong to the upgrade
  auto upgrading = [this] { return m_Engine->IsUpgrading() || (m_WorkerRunning && m_WorkerIsUpgrade); };
  if (upgrading()) {
    ShowMessage(IDS_UPGRADE_IN_PROCESS);
    return false;
  }
  // in loop-test mode no Upgrade may start while the question waits for its answer
  HoldLoopTimer();
  QMessageBox box(QMessageBox::Information, tr("Warning"), Text(IDS_ARE_YOU_SURE),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  const bool yes = RunBox(box) == QMessageBox::Yes;
  // the box ran an event loop: look again before the window goes away
  if (upgrading()) {
    ResumeLoopTimer();
    ShowMessage(IDS_UPGRADE_IN_PROCESS);
    return false;
  }
  if (!yes) {
    ResumeLoopTimer();
    return false;
  }
  return true;
}

void CQorOneClickDlg::StopWorkerForClose() {
  m_Closing = true;
  m_LoopTimer.stop();
  m_StopRequested = true;
  WaitForWorker();
}

void CQorOneClickDlg::OnCancel() {
  if (m_Closing || !ConfirmClose()) return;
  PersistWindowPlacement(true);
  // the window stays while a Check winds down (within about 1 s), so it never vanishes with work
  // still running behind it
  StopWorkerForClose();
  hide();
  QDialog::reject();
}

void CQorOneClickDlg::reject() { OnCancel(); }

void CQorOneClickDlg::closeEvent(QCloseEvent* event) {
  // the close box asks like Esc does; the dialog hides itself when the close is confirmed
  event->ignore();
  OnCancel();
}

// ---- help and placement -------------------------------------------------------------------------

std::string CQorOneClickDlg::WriteSupportReportTo(const std::string& path) {
  SupportReportInput input;
  input.frontEnd = "qor-oneclick";
  input.logPath = m_Engine->GetLog().GetFilePath();
  if (!input.logPath.empty()) input.lastCheckPath = LastCheckPathFor(input.logPath);
  // what the next Check would use; the image set is only read, and no worker runs
  if (m_HasEmbeddedImages)
    input.embeddedImages = &m_Images;
  else
    input.imageFolder = m_ImageSource.folder;
  // the log's pending lines belong in the report too
  m_Engine->GetLog().Flush();
  std::string error;
  return WriteSupportReport(input, path, error) ? std::string() : error;
}

void CQorOneClickDlg::SaveSupportReport() {
  if (m_WorkerRunning.load()) {
    QMessageBox::warning(this, tr("Warning"),
                         tr("A support report can be saved once the Check or the upgrade has ended."));
    return;
  }
  const QString name = QString::fromStdString(DefaultSupportReportName(std::time(nullptr)));
  const QString path = QFileDialog::getSaveFileName(
      this, tr("Save a support report"), QDir::home().filePath(name), tr("Support reports (*.tar.gz)"));
  if (path.isEmpty()) return;
  const std::string error = WriteSupportReportTo(path.toStdString());
  if (error.empty())
    QMessageBox::information(this, windowTitle(), tr("The support report was saved as %1").arg(path));
  else
    QMessageBox::warning(
        this, tr("Warning"),
        tr("The support report could not be written: %1").arg(QString::fromStdString(error)));
}

void CQorOneClickDlg::ShowHelp() {
  std::string directory = m_Options.helpDirectory;
  if (directory.empty() && !GetPrivateTempDirectory(directory)) {
    ShowMessage(IDS_HELP_MISSING);
    return;
  }
  size_t size = 0;
  std::string fileName;
  const unsigned char* bytes = HelpGuideForLanguage(ActiveLanguage(), size, fileName);
  std::string path;
  if (EnsureHelpFile(directory, fileName, bytes, size, path) == HelpFileResult::Failed) {
    ShowMessage(IDS_HELP_MISSING);
    return;
  }
  // what the desktop does with it is its own business
  m_Options.openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

bool CQorOneClickDlg::PersistWindowPlacement(bool save) {
  QSettings settings(QStringLiteral("Tavrix"), QCoreApplication::applicationName());
  if (settings.status() != QSettings::NoError) return false;
  return save ? SaveWindowPlacement(settings, *this) : RestoreWindowPlacement(settings, *this);
}
