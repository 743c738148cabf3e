#include "cli/CliApp.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "cli/CCliHost.h"
#include "cli/CEventStream.h"
#include "cli/CLiveDisplay.h"
#include "cli/CSignalWatch.h"
#include "cli/CTerminalTable.h"
#include "cli/CliReport.h"
#include "cli/CliResult.h"
#include "demo/DemoSetup.h"
#include "image/Catalogue.h"
#include "image/ImageSearch.h"
#include "image/ImageSet.h"
#include "platform/Clock.h"
#include "platform/StringTable.h"
#include "platform/TextCodec.h"
#include "platform/Translation.h"
#include "platform/Warnings.h"
#include "protocol/CTelnetClient.h"
#include "upgrade/Advice.h"
#include "upgrade/CUpgradeEngine.h"
#include "upgrade/CheckProcedure.h"
#include "upgrade/SupportReport.h"
#include "upgrade/UpgradeRun.h"

namespace {

// posted by our own wrapper when a worker returned; never a code of the procedures
constexpr int kWorkerEnded = 1000;
// how often the main thread redraws the table (real milliseconds)
constexpr int kRedrawIntervalMs = 100;

struct WorkerOutcome {
  int interruptedBy = 0;      // the signal that stopped an interruptible worker, else 0
  std::vector<int> notifies;  // what the worker posted, in order
};

// A second interrupt while a stopped Check winds down: the user wants out now. The Check changes
// nothing on the router, so ending the process here loses nothing but the Check's own log lines.
// The worker is let go rather than waited for: the process ends under it.
[[noreturn]] void EndAtOnce(CLiveDisplay& display, std::thread& worker, int firstSignal) {
  worker.detach();
  display.Note(Tr("Interrupted again: ending now."), true);
  std::fflush(nullptr);
  _exit(kExitSignalBase + firstSignal);
}

// Runs work on a worker thread and serves the display and the signals until it has returned. With
// interrupts allowed, the first asks the worker to stop and a second one ends the program at once.
WorkerOutcome RunWorker(const std::function<void()>& work, bool refuseInterrupts, CSignalWatch& signals,
                        CCliHost& host, CLiveDisplay& display, std::atomic<bool>& stopRequested) {
  WorkerOutcome outcome;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done.store(true);
    host.PostNotify(kWorkerEnded);
  });
  while (!done.load()) {
    signals.Wait(host.WakeEvent(), kRedrawIntervalMs);
    while (int signo = signals.TakePending()) {
      if (refuseInterrupts) {
        ShowMessage(IDS_UPGRADE_IN_PROCESS);
      } else if (outcome.interruptedBy == 0) {
        outcome.interruptedBy = signo;
        stopRequested.store(true);
      } else {
        EndAtOnce(display, worker, outcome.interruptedBy);
      }
    }
    if (signals.TakeResized()) display.TerminalResized();
    int code = 0;
    while (host.TakeNotify(code))
      if (code != kWorkerEnded) outcome.notifies.push_back(code);
    display.Refresh();
  }
  worker.join();
  int code = 0;
  while (host.TakeNotify(code))
    if (code != kWorkerEnded) outcome.notifies.push_back(code);
  return outcome;
}

enum class Answer { Yes, No, Interrupted };

// Asks on err and reads one line from inputFd; an interrupt ends the wait at once.
Answer AskConfirmation(FILE* err, int inputFd, CSignalWatch& signals, int& signo) {
  std::fprintf(err, "%s", Tr("Upgrade the modules shown above? [y/N] ").c_str());
  std::fflush(err);
  std::string line;
  for (;;) {
    const bool input = signals.WaitForInput(inputFd);
    if ((signo = signals.TakePending()) != 0) {
      std::fprintf(err, "\n");
      return Answer::Interrupted;
    }
    if (input) {
      // no stdin at all (closed descriptor) counts as no answer
      char c = 0;
      const auto n = read(inputFd, &c, 1);
      if (n <= 0 || c == '\n' || line.size() > 64) break;
      line += c;
    }
  }
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  size_t first = 0;
  while (first < line.size() && std::isspace(static_cast<unsigned char>(line[first]))) ++first;
  line.erase(0, first);
  for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return line == "y" || line == "yes" ? Answer::Yes : Answer::No;
}

}  // namespace

int RunCliCommand(const CliOptions& options, CSignalWatch& signals, FILE* out, FILE* err, int inputFd) {
  if (options.command == CliCommand::Report) return RunReportCommand(options, out, err);
  double scale = 1.0;
  std::string scaleError;
  if (!ResolveClockScale(options, std::getenv(kTestClockScaleVariable), scale, scaleError)) {
    std::fprintf(err, "qor-oneclick-cli: %s\n", scaleError.c_str());
    return kExitUsage;
  }
  // the clock is installed before any thread of the emulator or the procedures starts
  std::optional<ScaledClock> scaled;
  std::optional<ScopedClock> useScaled;
  if (scale != 1.0) {
    scaled.emplace(scale);
    useScaled.emplace(*scaled);
  }

  CTerminalTable table;
  // stdout carries the JSON (object or event lines): the table goes nowhere then
  CLiveDisplay display(table, out, err, {options.quiet, options.json || options.events});
  CEventStream events(out, &display);
  ScopedWarningSink warnings(options.events ? static_cast<IWarningSink&>(events) : display);

  CliResult result;
  result.command = CliCommandName(options.command);
  // the document of a finished Check is kept beside the technician's log for a support report
  std::string lastCheckLog;
  auto finish = [&](int status, const char* verdict) {
    result.exitStatus = status;
    result.result = verdict;
    if (options.events) events.End(result);
    if (!lastCheckLog.empty()) {
      std::string saveError;
      if (!SaveLastCheck(lastCheckLog, CliResultToJson(result), saveError))
        display.Report(FormatText(Tr("The check's result was not saved: %1"), {saveError}));
    }
    if (options.json) {
      std::fprintf(out, "%s\n", CliResultToJson(result).c_str());
      std::fflush(out);
    }
    return status;
  };
  // the reason a command did not succeed, with its stable name and what to do next
  auto setReason = [&](const std::string& reason, int adviceId, const std::string& advice) {
    result.reason = reason;
    const std::string code = AdviceCode(adviceId);
    if (!code.empty()) result.reasonCode = code;
    if (!advice.empty()) result.advice = advice;
  };
  // under the table: what to do next for each row that failed
  auto adviceNotes = [&] {
    for (const CliModuleResult& m : result.modules) {
      if (m.advice) display.Note(FormatText(Tr("What to do next (%1): %2"), {m.name, *m.advice}), true);
    }
  };

  // where the images and the router are
  CImageSet images;
  std::unique_ptr<DemoSetup> demo;
  Endpoints endpoints = options.endpoints;
  std::string imageFolder;
  bool embedded = false;
  std::optional<ImageSource> imageSource;
  if (options.command == CliCommand::Demo) {
    demo = std::make_unique<DemoSetup>();
    std::string error;
    if (!demo->Start(&error)) {
      display.Note(FormatText(Tr("Error: %1"), {error}), true);
      return finish(kExitSetupFailed, "setup-failed");
    }
    endpoints = demo->GetEndpoints();
    imageFolder = demo->ImageFolder();
    imageSource = ImageSource{ImageSourceKind::Demo, imageFolder, {imageFolder}};
    display.Note(
        FormatText(Tr("Router emulator on %1 (UDP %2, link %3, Telnet %4); sample images in %5"),
                   {demo->Sim()->Address(), std::to_string(endpoints.udpPort),
                    std::to_string(endpoints.linkPort), std::to_string(endpoints.telnetPort), imageFolder}));
  } else {
    ImageSearchInput search;
    if (options.imagesDir) {
      // a folder that is not there or cannot be read is a wrong command line, not "no valid image"
      std::string folder;
      std::string error;
      if (!ResolveImageFolder(*options.imagesDir, folder, error)) {
        std::fprintf(err, "qor-oneclick-cli: --images %s: %s\n", PrintableText(*options.imagesDir).c_str(),
                     error.c_str());
        return kExitUsage;
      }
      search.chosenFolder = folder;
    }
    search.loadEmbedded = [&images] { return LoadEmbeddedImages(images); };
    search.executableFolder = GetExecutableFolder();
    search.getenv = [](const char* name) -> const char* { return std::getenv(name); };
    imageSource = FindImageSource(search);
    embedded = imageSource->kind == ImageSourceKind::Embedded;
    imageFolder = imageSource->folder;
  }

  // a demo logs to its own file: its lines must never mix with those of real routers
  std::unique_ptr<CUpgradeEngine> engine =
      options.logPath ? std::make_unique<CUpgradeEngine>(*options.logPath)
                      : std::make_unique<CUpgradeEngine>(demo ? LogKind::Demo : LogKind::Technician);
  engine->GetLog().WriteRunHeader(std::string("qor-oneclick-cli ") + CliCommandName(options.command));
  engine->Reporter().SetList(&table);
  if (options.events) engine->Reporter().SetObserver(&events);
  engine->SetEndpoints(endpoints);
  CTelnetClient telnet;
  telnet.SetPort(endpoints.telnetPort);
  CCliHost host(&display);
  std::atomic<bool> stopRequested{false};
  const CheckContext context{host, telnet, *engine, images, embedded, imageFolder, &stopRequested};
  CheckResult check;

  // The log is named only after its last flush, and only when everything logged reached it.
  auto logNote = [&] {
    CDownloadLog& log = engine->GetLog();
    log.Flush();
    if (log.IsPathValid() && log.GetPending().empty()) {
      result.logPath = log.GetFilePath();
      display.Note(FormatText(Tr("Log: %1"), {log.GetFilePath()}), true);
    } else {
      result.logError = log.GetLastError().empty() ? std::string("not written") : log.GetLastError();
      display.Report(FormatText(Tr("Log not written: %1"), {*result.logError}));
    }
  };
  // The folder scanned, when no valid image was found in it (the line after warning 135), and every
  // image skipped with its reason.
  auto scanNotes = [&] {
    const ImageScanReport& scan = check.scan;
    if (embedded || scan.folder.empty()) return;
    result.imageFolder = scan.folder;
    if (!images.Any()) {
      display.Report(
          scan.folderError.empty()
              ? FormatText(Tr("Folder scanned: %1"), {PrintableText(scan.folder)})
              : FormatText(Tr("Folder scanned: %1 (%2)"), {PrintableText(scan.folder), scan.folderError}));
    }
    for (const SkippedImage& skipped : scan.skipped) {
      result.skipped.push_back({skipped.path, skipped.reason});
      display.Report(
          FormatText(Tr("Skipped %1: %2"), {PrintableText(skipped.path), PrintableText(skipped.reason)}));
    }
  };
  auto routerFields = [&] {
    result.routerFound = check.router.found;
    if (result.routerFound) {
      result.routerIp = check.router.ip.ToString();
      result.routerMac = check.router.mac.ToString();
      result.routerText = check.router.text;
    }
  };

  // the folder the images come from: one line for the technician, one for the log
  if (imageSource) {
    display.Note(DescribeImageSource(*imageSource, true));
    engine->GetLog().PrintText(DescribeImageSource(*imageSource, false));
  }

  // the Check
  display.Note(Tr("Checking ..."));
  display.BeginLive(false);
  WorkerOutcome checkWorker =
      RunWorker([&] { check = CheckThreadProc(context); }, false, signals, host, display, stopRequested);
  display.EndLive();
  if (!demo && engine->GetLog().IsPathValid()) lastCheckLog = engine->GetLog().GetFilePath();
  scanNotes();
  if (!display.IsLive()) display.PrintTable();
  routerFields();
  for (const PreflightSubnet& subnet : check.network.subnets) {
    result.subnets.push_back({subnet.discoveryAddress, subnet.subnetText, subnet.interfaces});
  }
  if (check.noRouter.cause != NoRouterCause::None) {
    result.networkDiagnosis = check.noRouter.code;
    result.networkDiagnosisText = check.noRouter.shown;
  }
  // the digests of the verified copies that are (or would be) sent, for programs that read the result
  ImageDigests digests;
  const bool machineReadable = options.json || options.events;
  if (machineReadable && check.listed) digests = DigestsOf(check.plan);
  result.modules = ModuleResultsOf(check, engine->Reporter().Rows(), &digests);
  if (options.events && check.listed) events.Check(result.modules);
  if (check.failureId == IDS_NO_ROUTER) {
    // the warning told the diagnosis and what to do
    setReason(LoadStringById(IDS_NO_ROUTER), IDS_NO_ROUTER, check.noRouter.advice);
  } else if (check.failureId != 0) {
    setReason(LoadStringById(check.failureId), check.failureId, AdviceText(check.failureId));
    display.Note(FormatText(Tr("What to do next: %1"), {AdviceText(check.failureId)}), true);
  }
  if (checkWorker.interruptedBy) {
    display.Note(Tr("Interrupted."), true);
    logNote();
    return finish(kExitSignalBase + checkWorker.interruptedBy, "interrupted");
  }
  if (!check.offered) {
    bool stopped = !check.listed;
    if (!stopped) {
      for (const CliModuleResult& m : result.modules) {
        if (m.statusId == IDS_VERSION_MISMATCH) {
          setReason(m.name + ": " + m.status, IDS_VERSION_MISMATCH, AdviceText(IDS_VERSION_MISMATCH));
          break;
        }
      }
      adviceNotes();
    }
    display.Note(stopped ? Tr("The check stopped.")
                         : Tr("A module's version does not match its image: no upgrade."));
    logNote();
    return finish(stopped ? kExitCheckStopped : kExitFailed, stopped ? "check-stopped" : "version-conflict");
  }
  if (options.command == CliCommand::Check) {
    display.Note(Tr("The upgrade may be offered."));
    logNote();
    return finish(kExitOk, "upgrade-offered");
  }

  // the confirmation: the demo's router is the emulator, so it does not ask
  if (options.command == CliCommand::Upgrade && !options.yes) {
    int signo = 0;
    Answer answer = AskConfirmation(err, inputFd, signals, signo);
    if (answer == Answer::Interrupted) {
      logNote();
      return finish(kExitSignalBase + signo, "interrupted");
    }
    if (answer == Answer::No) {
      display.Note(Tr("Not confirmed: nothing was changed."), true);
      logNote();
      return finish(kExitDeclined, "declined");
    }
  }

  // the Upgrade run: interrupts are refused until it has ended
  display.Note(Tr("Upgrading ..."));
  // the Time column of the running step follows the engine's own step clock
  const CRowReporter& reporter = engine->Reporter();
  display.SetRunningStepSource([&reporter] {
    CTerminalTable::RunningStep step;
    const int row = reporter.GetCurrentRow();
    step.item = row == CRowReporter::kNoRow ? -1 : row;
    step.seconds = Clock().NowSeconds() - reporter.GetStepStart();
    return step;
  });
  display.BeginLive(true);
  RunWorker([&] { RunUpgrade(*engine, check, host); }, true, signals, host, display, stopRequested);
  display.EndLive();
  display.SetRunningStepSource(nullptr);
  if (!display.IsLive()) display.PrintTable();
  result.modules = ModuleResultsOf(check, engine->Reporter().Rows(), &digests);
  if (engine->GetLastRunRefused()) {
    display.Note(Tr("The upgrade was not started: an image changed since the Check."), true);
    setReason(Tr("The upgrade was not started: an image changed since the Check."), ADVICE_IMAGE_CHANGED,
              AdviceText(ADVICE_IMAGE_CHANGED));
    display.Note(FormatText(Tr("What to do next: %1"), {*result.advice}), true);
    logNote();
    return finish(kExitCheckStopped, "image-changed");
  }
  bool succeeded = UpgradeRunSucceeded(*engine);
  if (!succeeded) {
    const int id = engine->GetLastRunFailureId();
    setReason(engine->GetLastRunFailure(), id, AdviceText(id));
    adviceNotes();
    // a failure that no row shows (the NVRAM erase told its own warning with the advice)
    bool rowTells = false;
    for (const CliModuleResult& m : result.modules) rowTells = rowTells || m.advice.has_value();
    if (!rowTells && result.advice && id != ADVICE_NVRAM_ERASE_FAILED) {
      display.Note(FormatText(Tr("What to do next: %1"), {*result.advice}), true);
    }
  }
  display.Note(succeeded ? Tr("Every module was upgraded.")
                         : FormatText(Tr("The upgrade failed: %1."), {engine->GetLastRunFailure()}));
  logNote();
  return finish(succeeded ? kExitOk : kExitFailed, succeeded ? "upgraded" : "upgrade-failed");
}
