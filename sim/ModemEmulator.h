#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/EventLog.h"
#include "sim/FaultStore.h"
#include "sim/RouterSim.h"
#include "sim/SimBytes.h"
#include "sim/SparseFlash.h"

namespace qorsim {

// The wireless module behind the router link: its normal software (DIAG, with an offline sub-mode)
// and its downloader (unlock, write, reset). Handle() takes one decoded request payload and returns
// the response payloads to frame (none, one, or in principle more); it is called by the link
// thread, the force-load entry points by the UDP thread, the accessors by anyone: one lock guards
// all state.
//
// The downloader can be entered from offline mode only (else error 0x18); DIAG requests other than
// the hand-shake are not allowed in the downloader (0x18), unknown download commands get 03 00 05.
// Restarts (after a switch to the downloader or a reset) take SimConfig::restartMs of clock time,
// during which requests are dropped unanswered and Silent() is true (the router then also ignores
// presence checks). Force-load (datagram 7) is the router holding the module's boot strap: the
// module drops into its downloader at once and every restart boots the downloader until datagram 8
// releases it. Datagram 8 does not interrupt a running downloader; the next reset boots normally.
//
// After a download, the module reads our version tag at the first address written in that
// download session, and on its next boot of the normal software reports the tag's text as its
// board version (tag module type 7) or dashboard version (type 8). Without a tag the board version
// becomes kUntaggedVersion.
class ModemEmulator {
 public:
  static constexpr const char* kUntaggedVersion = "untagged image";

  // download-mode negative acknowledgement reasons (second and third byte of 03 xx yy, big-endian)
  static constexpr uint16_t kNakLocked = 0x0001;
  static constexpr uint16_t kNakLength = 0x0002;
  static constexpr uint16_t kNakAddress = 0x0003;
  static constexpr uint16_t kNakWrite = 0x0004;
  static constexpr uint16_t kNakCommand = 0x0005;
  static constexpr uint16_t kNakRefused = 0x0006;
  static constexpr uint16_t kNakBadCode = 0x0007;

  ModemEmulator(const SimConfig& config, FaultStore& faults, EventLog& events);

  std::vector<Bytes> Handle(ByteView request);

  void EnterForceLoad();  // datagram 7
  void LeaveForceLoad();  // datagram 8
  void FwtForce();        // FWT force packet: the router takes force-load mode for the download
  bool Silent();          // restarting

  ModuleStatus Status();
  std::map<uint32_t, std::vector<uint8_t>> FlashRuns() const;
  bool ReadFlash(uint32_t address, size_t length, std::vector<uint8_t>* out) const;

 private:
  enum class RestoreState { None, Restored, Failed };

  void SettleLocked();
  void RestartLocked(ModuleMode target, const char* why);
  std::vector<Bytes> HandleNormalLocked(ByteView req);
  std::vector<Bytes> HandleDownloaderLocked(ByteView req);
  std::optional<Bytes> HandShakeLocked();  // nullopt: not answered
  Bytes NvItemLocked(ByteView req, bool write);
  Bytes SubsystemLocked(ByteView req, const Faults& f);
  static Bytes Error(uint8_t code, ByteView req);
  static Bytes Nak(uint16_t reason);
  static bool IsHandShake(ByteView req);

  const SimConfig& m_Config;
  FaultStore& m_Faults;
  EventLog& m_Events;

  mutable std::mutex m_Lock;
  ModuleMode m_Mode = ModuleMode::Normal;
  bool m_Restarting = false;
  uint64_t m_RestartUntil = 0;
  ModuleMode m_RestartTarget = ModuleMode::Normal;
  bool m_ForceLoad = false;
  bool m_Unlocked = false;
  bool m_BackedUp = false;
  RestoreState m_Restore = RestoreState::None;
  std::optional<uint32_t> m_SessionFirstAddress;  // first write of the current download
  bool m_DownloadPending = false;                 // written, not yet booted into normal software
  std::string m_FirmwareVersion;
  std::string m_DashboardVersion;
  std::map<uint16_t, std::vector<uint8_t>> m_NvItems;
  SparseFlash m_Flash;
};

}  // namespace qorsim
