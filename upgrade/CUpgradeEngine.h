#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "image/CBinFile.h"
#include "image/ModuleType.h"
#include "log/CDownloadLog.h"
#include "protocol/CDiagCaller.h"
#include "protocol/CHdlcAdapter.h"
#include "protocol/RouterDatagram.h"
#include "upgrade/CRowReporter.h"
#include "upgrade/Endpoints.h"
#include "upgrade/ModulePlan.h"
#include "upgrade/SleepInhibitor.h"

// The session with the router and the module procedures of an Upgrade, with their results.
//
// Owns the router link (a CHdlcAdapter on the TCP link port, which owns its port), the upgrade log,
// the DIAG caller bound to both, and the row reporter that shows the procedures' progress in the
// module list. The router it talks to is an input (SetRouter: the Check's discovery answer); what it
// sends is given per call (the plan's images). The destructor closes the link first, while the log
// it may report to still exists; the log flushes when it goes. The module list is not owned: the
// front end keeps it alive while the engine can write to it.
//
// Threads: used by one worker thread at a time (the Check worker or the Upgrade worker); the front
// end starts at most one worker and joins it before it destroys the engine or the list. The list is
// called from that worker thread. The upgrading flag is atomic: the UI thread reads it when the
// window is about to close. The router link's receiver thread runs while the link is open.
//
// Every time-out below is in milliseconds of the tool's clock (platform/Clock.h).
class CUpgradeEngine {
 public:
  // Status id while no step failed ("Download successfully").
  static constexpr int kStatusSuccess = 103;
  // Block sizes: raw router data writes and wireless download-mode frames.
  static constexpr uint32_t kRouterBlockSize = 7300;
  static constexpr uint32_t kWirelessBlockSize = 4096;

  // Log in the user's state directory.
  CUpgradeEngine();
  // Log at an explicit path (tests, the CLI).
  explicit CUpgradeEngine(const std::string& logPath);
  // The log of that kind in the user's state directory (the demo's own).
  explicit CUpgradeEngine(LogKind logKind);
  ~CUpgradeEngine();
  CUpgradeEngine(const CUpgradeEngine&) = delete;
  CUpgradeEngine& operator=(const CUpgradeEngine&) = delete;

  // --- set-up by the front end (before any worker starts) ---
  void SetEndpoints(const Endpoints& endpoints) { m_Endpoints = endpoints; }
  const Endpoints& GetEndpoints() const { return m_Endpoints; }
  // The router of the session: its IP for the link and the datagrams, its MAC in the datagrams.
  void SetRouter(const RouterInfo& router) { m_Router = router; }
  const RouterInfo& GetRouter() const { return m_Router; }
  // Where the procedures show their progress (the list is set on it).
  CRowReporter& Reporter() { return m_Report; }
  // What keeps the PC awake during the Upgrade run: the login manager's lock by default; tests set
  // their own, null takes none (the run then logs that sleep could not be blocked). Not owned.
  void SetSleepInhibitor(ISleepInhibitor* inhibitor) { m_SleepInhibitor = inhibitor; }
  ISleepInhibitor* GetSleepInhibitor() const { return m_SleepInhibitor; }

  // --- router link ---
  // Current row := none; opens the link to the router IP on the link port and starts its receiver.
  // Records 119 on failure and logs why the connection could not be made.
  bool OpenRouterLink();
  // Close, and once more if the first Close reports failure; the last result.
  bool CloseRouterLink();

  // --- router module transfer (progress on the reporter's current row) ---
  // Begin packet, then the unit's data raw in 7300-byte writes (3000 ms each), then the result.
  // Records 120, 121, 122 or 123; 119 or 121 when the link's receiver cannot be stopped for the
  // stream (119 when the link lost its connection meanwhile).
  bool TransferRouterModule(const CBinFile& image);
  // Kind 0 RUT begin, 1 FWT begin, 2 FWT force: three tries, 2500 ms pause after a sent packet.
  bool SendBeginPacket(int kind, uint32_t value);  // records 120
  // The 40-byte result record: 300000 ms for the application modules (1, 5), else 120000 ms. With
  // streamGeneration (the link's generation when the image stream began), the wait fails at once
  // with 121 when the link's connection ended since: the result could only have come on it.
  // Records 121, 122 or 123.
  bool WaitRouterResult(ModuleType type, std::optional<uint32_t> streamGeneration = std::nullopt);
  // Three UDP erase requests (4000 ms answer time, 1000 ms pause after each failure).
  bool RunNvramErase();  // records nothing

  // --- wireless module download (progress on the reporter's current row) ---
  bool UpgradeWirelessFirmware(const CBinFile& image);
  bool UpgradeDashboard(const CBinFile& image);
  bool HandShakeWithRecovery();               // records 124
  bool PrepareDownload();                     // records 120, 127 or 131
  bool DownloadImage(const CBinFile& image);  // records 128 or 129
  bool UnlockModule(const uint8_t code[8]);   // records 128
  // Builds the download-mode write frame of one block in the link's write buffer; returns its
  // length, 0 when the block does not fit (more than 4096 data bytes) or there is no buffer.
  int BuildWriteFrame(uint32_t address, uint32_t length, const uint8_t* data);
  bool RestartModule();   // records 130
  bool CheckNvRestore();  // records nothing: the caller records 132

  // --- force-load mode and restart wait ---
  // Asks the router to hold the module in its downloader; pauses 2000 ms after a confirmed entry.
  bool EnterForceLoadMode();
  bool LeaveForceLoadMode();
  // Presence probes every 2000 ms (2000 ms answer time) until one is answered; the limit is tested
  // after each failed probe, so the wait can overrun it by about 4 s.
  bool WaitRouterReachable(uint32_t limitMs);
  // Router reachable (up to 60 s), 6000 ms pause, reachable again (up to 60 s), then up to three
  // hand-shakes: at least 10 s even for a router that answers at once.
  bool WaitModuleRestart();  // records 131

  // --- the session's parts ---
  CDownloadLog& GetLog() { return m_Log; }
  CDiagCaller& GetDiagCaller() { return m_Diag; }
  CHdlcAdapter& GetRouterLink() { return m_RouterLink; }

  // --- the run's state and the steps' results ---
  // Whether an Upgrade run is in its module steps (until the end-of-run steps start).
  bool IsUpgrading() const { return m_Upgrading.load(); }
  void SetUpgrading(bool upgrading) { m_Upgrading.store(upgrading); }

  int GetStatusId() const { return m_StatusId; }
  void SetStatusId(int id) { m_StatusId = id; }
  // Whether the router was asked to hold the module in its downloader during this run.
  bool GetForceLoadFlag() const { return m_ForceLoad; }
  void SetForceLoadFlag(bool flag) { m_ForceLoad = flag; }
  // The wireless module's flags of the last hand-shake (1 after a failed one).
  int GetInDownloader() const { return m_InDownloader; }
  int GetOffline() const { return m_Offline; }

  // What the last run did with each module: 0 not run, 103 succeeded, else the failure text's id
  // shown in its row. Reset at the start of every run.
  int GetModuleOutcome(ModuleType m) const;
  void SetModuleOutcome(ModuleType m, int statusId);
  void ResetModuleOutcomes() { m_ModuleOutcome.fill(0); }
  // Whether the last run succeeded as a whole (see UpgradeRunSucceeded in upgrade/UpgradeRun.h).
  bool GetLastRunSucceeded() const { return m_LastRunSucceeded; }
  void SetLastRunSucceeded(bool succeeded) { m_LastRunSucceeded = succeeded; }
  // Why the last run failed, in a few words for the front ends ("" after a success).
  const std::string& GetLastRunFailure() const { return m_LastRunFailure; }
  void SetLastRunFailure(const std::string& reason) { m_LastRunFailure = reason; }
  // The same as an advice-table id (upgrade/Advice.h): the failed row's status id, 119 when the link
  // was not opened, ADVICE_NVRAM_ERASE_FAILED, ADVICE_IMAGE_CHANGED; 0 after a success.
  int GetLastRunFailureId() const { return m_LastRunFailureId; }
  void SetLastRunFailureId(int id) { m_LastRunFailureId = id; }
  // Whether the last run refused to start (an image changed since the Check): nothing was sent.
  bool GetLastRunRefused() const { return m_LastRunRefused; }
  void SetLastRunRefused(bool refused) { m_LastRunRefused = refused; }

 private:
  // Records a failure id and returns false.
  bool Fail(int statusId) {
    m_StatusId = statusId;
    return false;
  }
  // The procedures' writes to the list, through the reporter.
  void ShowStatus(int stringId) { m_Report.ShowStatus(stringId); }
  void ShowStatusText(const std::string& shown, const std::string& logged, RowColour colour) {
    m_Report.ShowStatusText(shown, logged, colour);
  }
  void ShowPercent(int percent) { m_Report.ShowPercent(percent); }
  static int PercentOf(uint64_t done, uint64_t total) { return CRowReporter::PercentOf(done, total); }

  CHdlcAdapter m_RouterLink;
  RouterInfo m_Router;
  int m_StatusId = kStatusSuccess;
  bool m_ForceLoad = false;
  int m_InDownloader = 0;
  int m_Offline = 0;
  std::atomic<bool> m_Upgrading{false};
  CDownloadLog m_Log;
  CDiagCaller m_Diag;
  CRowReporter m_Report{m_Log};
  Endpoints m_Endpoints;
  std::array<int, kModuleCount> m_ModuleOutcome{};
  bool m_LastRunSucceeded = false;
  std::string m_LastRunFailure;
  int m_LastRunFailureId = 0;
  bool m_LastRunRefused = false;
  CLogindInhibitor m_LogindInhibitor;
  ISleepInhibitor* m_SleepInhibitor = &m_LogindInhibitor;
};
