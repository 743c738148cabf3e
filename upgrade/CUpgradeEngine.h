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
#include "upgrade/Endpoints.h"
#include "upgrade/WindowInterfaces.h"

// Carries out the Upgrade command and holds what the Check learned about the router.
//
// Owns the router link (a CHdlcAdapter on the TCP link port, which owns its port), the upgrade log
// and the DIAG caller bound to both. The destructor closes the link first, while the log it may
// report to still exists; the log flushes when it goes. The module list is not owned: the front end
// keeps it alive while the engine can write to it.
//
// Threads: used by one worker thread at a time (the Check worker or the Upgrade worker); the front
// end starts at most one worker and joins it before it destroys the engine or the list. The list is
// called from that worker thread. The busy marker is atomic: the UI thread reads it when the window
// is about to close. The router link's receiver thread runs while the link is open.
//
// Every time-out below is in milliseconds of the tool's clock (platform/Clock.h).
class CUpgradeEngine {
 public:
  // Status id while no step failed ("Download successfully").
  static constexpr int kStatusSuccess = 103;
  // Busy marker value while an upgrade runs.
  static constexpr uint8_t kBusyUpgrading = 3;
  // The current item of steps that belong to no row.
  static constexpr int kNoItem = 9;
  // Block sizes: raw router data writes and wireless download-mode frames.
  static constexpr uint32_t kRouterBlockSize = 7300;
  static constexpr uint32_t kWirelessBlockSize = 4096;

  // Log in the user's state directory.
  CUpgradeEngine();
  // Log at an explicit path (tests, the CLI).
  explicit CUpgradeEngine(const std::string& logPath);
  ~CUpgradeEngine();
  CUpgradeEngine(const CUpgradeEngine&) = delete;
  CUpgradeEngine& operator=(const CUpgradeEngine&) = delete;

  // --- set-up by the front end (before any worker starts) ---
  void SetListControl(IModuleList* list) { m_pList = list; }
  IModuleList* GetListControl() const { return m_pList; }
  void SetEndpoints(const Endpoints& endpoints) { m_Endpoints = endpoints; }
  const Endpoints& GetEndpoints() const { return m_Endpoints; }

  // --- router link ---
  // Current item := none; opens the link to the router IP on the link port and starts its receiver.
  // Records 119 on failure and logs why the connection could not be made.
  bool OpenRouterLink();
  // Close, and once more if the first Close reports failure; the last result.
  bool CloseRouterLink();

  // --- module choice and list items ---
  // The image in slot m is valid, the last Check decided "upgrade", and the module belongs to the
  // family that the Check showed (a hidden router family is never upgraded).
  bool IsModuleChosen(ModuleType m) const;
  // The family the Check showed: the first when an image of module 0, 1 or 2 is valid.
  static bool FirstFamilyShown();
  // Index of the list item that shows module m after a Check (the shown rows only).
  static int ItemOfModule(ModuleType m);

  // --- display writers (all write to the current item; writes to no item only log) ---
  // The list shows shown (in the user's language), the log receives logged (English).
  void ShowStatusText(const std::string& shown, const std::string& logged, uint32_t colour);
  void ShowStatusText(const std::string& text, uint32_t colour) { ShowStatusText(text, text, colour); }
  void ShowStatus(int stringId);
  // The status id's text with " (%M:%S)" since step start, blue for 103 and red otherwise; then the
  // log is flushed, so a finished step is in the file whatever happens next.
  void ShowFinalStatus();
  // Writes "%d%%" to column 3 unless percent equals the last value shown (process-wide).
  void ShowPercent(int percent);
  // The process-wide last percent shown (-1 before the first write).
  static int LastPercentShown();
  // Integer part of done x 100 / total in 64-bit arithmetic, clamped to 0..100; 100 for total 0.
  static int PercentOf(uint64_t done, uint64_t total);
  // " (%M:%S)" for a span of seconds; whole hours are not shown, a negative span shows 00:00.
  static std::string FormatElapsed(int64_t seconds);

  // --- router module transfer ---
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
  bool RunNvramErase();                              // records nothing

  // --- wireless module download ---
  bool UpgradeWirelessFirmware();
  bool UpgradeDashboard();
  bool HandShakeWithRecovery();  // records 124
  bool PrepareDownload();        // records 120, 127 or 131
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

  // --- state ---
  CDownloadLog& GetLog() { return m_Log; }
  CDiagCaller& GetDiagCaller() { return m_Diag; }
  CHdlcAdapter& GetRouterLink() { return m_RouterLink; }

  uint8_t GetBusyMarker() const { return m_BusyMarker.load(); }
  void SetBusyMarker(uint8_t value) { m_BusyMarker.store(value); }
  bool IsUpgrading() const { return GetBusyMarker() == kBusyUpgrading; }

  int GetStatusId() const { return m_StatusId; }
  void SetStatusId(int id) { m_StatusId = id; }
  // The current item and the step start are read by the terminal front end's display thread while
  // the worker runs (the Time column), hence atomic.
  int GetCurrentItem() const { return m_CurrentItem.load(); }
  void SetCurrentItem(int item) { m_CurrentItem.store(item); }
  int64_t GetStepStart() const { return m_StepStart.load(); }
  void SetStepStart(int64_t seconds) { m_StepStart.store(seconds); }
  int GetForceLoadFlag() const { return m_ForceLoad; }
  void SetForceLoadFlag(int flag) { m_ForceLoad = flag; }

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
  // Writes text in black to the row of module m without logging it (a module the run did not get
  // to, with the reason); the Status column widens for it as for any status.
  void MarkModuleSkipped(ModuleType m, const std::string& text);
  // Whether the last run refused to start (an image changed since the Check): nothing was sent.
  bool GetLastRunRefused() const { return m_LastRunRefused; }
  void SetLastRunRefused(bool refused) { m_LastRunRefused = refused; }

  // Router fields written by the Check's discovery; the wireless module's flags of the last
  // hand-shake.
  MacAddress m_RouterMac;
  IpAddress m_RouterIp;
  int m_InDownloader = 0;
  int m_Offline = 0;

 private:
  // Records a failure id and returns false.
  bool Fail(int statusId) {
    m_StatusId = statusId;
    return false;
  }

  void WriteStatusToRow(const std::string& text, uint32_t colour);

  std::atomic<int> m_CurrentItem{kNoItem};
  std::atomic<int64_t> m_StepStart{0};
  IModuleList* m_pList = nullptr;
  CHdlcAdapter m_RouterLink;
  int m_StatusId = kStatusSuccess;
  int m_ForceLoad = 0;
  std::atomic<uint8_t> m_BusyMarker{0};
  CDownloadLog m_Log;
  CDiagCaller m_Diag;
  Endpoints m_Endpoints;
  std::array<int, kModuleCount> m_ModuleOutcome{};
  bool m_LastRunSucceeded = false;
  std::string m_LastRunFailure;
  bool m_LastRunRefused = false;
};
