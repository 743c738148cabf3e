#include "sim/ModemEmulator.h"

#include <algorithm>
#include <cstdio>

#include "image/ImageFormat.h"
#include "platform/Clock.h"

namespace qorsim {
namespace {

// DIAG command codes and subsystem commands the module's software knows
constexpr uint8_t kCmdNvRead = 0x26;
constexpr uint8_t kCmdNvWrite = 0x27;
constexpr uint8_t kCmdChangeMode = 0x29;
constexpr uint8_t kCmdSwitchToDownloader = 0x3A;
constexpr uint8_t kCmdSubsystem = 0x4B;
constexpr uint8_t kSubsysVersion = 0xC9;
constexpr uint8_t kSubsysNv = 0xC8;
constexpr uint16_t kSubBoardVersion = 0xFF03;
constexpr uint16_t kSubIsoVersion = 0xFF24;
constexpr uint16_t kSubRestoreStatus = 0xFF21;
constexpr uint16_t kSubBackupRestore = 0xFF1E;

// DIAG error responses: the code, then the request echoed
constexpr uint8_t kErrBadCommand = 0x13;
constexpr uint8_t kErrBadParameter = 0x14;
constexpr uint8_t kErrBadLength = 0x15;
constexpr uint8_t kErrNotAllowed = 0x18;

// download-mode commands and answers
constexpr uint8_t kDlReset = 0x0A;
constexpr uint8_t kDlUnlock = 0x0B;
constexpr uint8_t kDlWrite = 0x0F;
constexpr uint8_t kDlAck = 0x02;
constexpr uint8_t kDlNak = 0x03;

// NV item requests and the hand-shake are 133 bytes: command, item (2), data (128), status (2)
constexpr size_t kNvPacketSize = 133;
constexpr size_t kNvDataOffset = 3;
constexpr size_t kNvDataSize = 128;
constexpr size_t kNvStatusOffset = 131;
constexpr uint16_t kNvStatusOk = 0;
constexpr uint16_t kNvStatusFull = 3;
constexpr uint16_t kNvStatusInactive = 5;
constexpr size_t kMaxNvItems = 1024;

// the hand-shake is an NV read of item 0 carrying this signature at offset 3
constexpr uint8_t kHandShakeSignature[] = {0x25, 0xA7, 0x00, 0x06};
constexpr size_t kHandShakeStatusOffset = 9;
constexpr size_t kHandShakeRevisionOffset = 10;
constexpr size_t kHandShakeDownloaderOffset = 14;
constexpr size_t kHandShakeOfflineOffset = 15;
constexpr size_t kHandShakeShortLength = 15;

constexpr size_t kBoardVersionLength = 66;
constexpr size_t kBoardVersionTextOffset = 4;
constexpr size_t kBoardVersionTextMax = 31;
constexpr size_t kIsoRequestLength = 36;
constexpr size_t kIsoVersionLength = 260;
constexpr size_t kIsoVersionTextOffset = 5;
constexpr size_t kIsoVersionTextMax = 128;
constexpr size_t kRestoreStatusLength = 36;
constexpr size_t kBackupRestoreLength = 8;

constexpr size_t kUnlockLength = 9;
constexpr size_t kWriteHeaderLength = 7;  // command, address (4, BE), length (2, BE)

const char* ModeName(ModuleMode m) {
  switch (m) {
    case ModuleMode::Normal:
      return "normal";
    case ModuleMode::Offline:
      return "offline";
    case ModuleMode::Downloader:
      return "downloader";
  }
  return "?";
}

Bytes Header4(uint8_t a, uint8_t b, uint16_t sub, size_t length) {
  Bytes r(length, 0);
  r[0] = a;
  r[1] = b;
  PutU16LE(&r[2], sub);
  return r;
}

}  // namespace

ModemEmulator::ModemEmulator(const SimConfig& config, FaultStore& faults, EventLog& events)
    : m_Config(config),
      m_Faults(faults),
      m_Events(events),
      m_FirmwareVersion(config.firmwareVersion),
      m_DashboardVersion(config.dashboardVersion) {
  if (config.startInDownloader)
    m_Mode = ModuleMode::Downloader;
  else if (config.startOffline)
    m_Mode = ModuleMode::Offline;
}

Bytes ModemEmulator::Error(uint8_t code, ByteView req) {
  Bytes r;
  r.reserve(req.size() + 1);
  r.push_back(code);
  r.insert(r.end(), req.begin(), req.end());
  return r;
}

Bytes ModemEmulator::Nak(uint16_t reason) {
  Bytes r = {kDlNak, 0, 0};
  PutU16BE(&r[1], reason);
  return r;
}

bool ModemEmulator::IsHandShake(ByteView req) {
  return req.size() == kNvPacketSize && req[0] == kCmdNvRead && req[1] == 0 && req[2] == 0 &&
         EqualAt(req, 3, kHandShakeSignature);
}

void ModemEmulator::SettleLocked() {
  if (!m_Restarting || m_Faults.Get().neverBack) return;
  if (Clock().TickMs() < m_RestartUntil) return;
  m_Restarting = false;
  m_Mode = m_RestartTarget;
  m_Unlocked = false;
  m_Events.Record("module.ready", std::string("running ") + ModeName(m_Mode));
  if (m_Mode == ModuleMode::Downloader || !m_DownloadPending) return;

  // first boot of the normal software after a download: learn the new version from the tag
  m_DownloadPending = false;
  using namespace image_layout;
  std::vector<uint8_t> tag;
  int type = -1;
  std::string text;
  if (m_SessionFirstAddress && m_Flash.Read(*m_SessionFirstAddress, kVersionTagSize, &tag) &&
      EqualAt(tag, 0, kVersionTagMagic)) {
    type = tag[kVersionTagTypeOffset];
    text = ReadText(tag, kVersionTagTextOffset, kVersionTagTextSize);
  }
  m_SessionFirstAddress.reset();
  if (type == 8) {
    m_DashboardVersion = text;
    m_Events.Record("module.version", "dashboard " + text);
    return;
  }
  m_FirmwareVersion = type == 7 ? text : kUntaggedVersion;
  m_Events.Record("module.version", "firmware " + m_FirmwareVersion);
  // the new firmware restores the NV backup by itself on its first boot
  if (m_BackedUp) {
    m_Restore = m_Faults.Get().nvRestoreFail ? RestoreState::Failed : RestoreState::Restored;
    m_Events.Record("module.nv-restore", m_Restore == RestoreState::Restored ? "restored" : "failed");
  }
}

void ModemEmulator::RestartLocked(ModuleMode target, const char* why) {
  m_Restarting = true;
  m_RestartTarget = target;
  m_RestartUntil = Clock().TickMs() + m_Config.restartMs;
  m_Unlocked = false;
  m_Events.Record("module.restart", std::string(why) + ", boots " + ModeName(target) + " in " +
                                        std::to_string(m_Config.restartMs) + " ms");
}

bool ModemEmulator::Silent() {
  std::lock_guard<std::mutex> lock(m_Lock);
  SettleLocked();
  return m_Restarting;
}

std::vector<Bytes> ModemEmulator::Handle(ByteView request) {
  std::lock_guard<std::mutex> lock(m_Lock);
  SettleLocked();
  if (m_Restarting) {
    m_Events.Record("module.silent", HexBytes(request));
    return {};
  }
  if (request.empty()) return {};
  if (m_Mode == ModuleMode::Downloader) return HandleDownloaderLocked(request);
  return HandleNormalLocked(request);
}

std::optional<Bytes> ModemEmulator::HandShakeLocked() {
  if (m_Faults.Take(&Faults::handshakeFail)) {
    m_Events.Record("diag.handshake", "not answered (fault)");
    return std::nullopt;
  }
  const Faults f = m_Faults.Get();
  Bytes r(kNvPacketSize, 0);
  r[0] = kCmdNvRead;
  std::copy(std::begin(kHandShakeSignature), std::end(kHandShakeSignature), r.begin() + 3);
  r[kHandShakeStatusOffset] = static_cast<uint8_t>(f.handshakeStatus);
  r[kHandShakeRevisionOffset] = 0x01;
  r[kHandShakeDownloaderOffset] = (m_Mode == ModuleMode::Downloader || f.handshakeDownloader) ? 1 : 0;
  r[kHandShakeOfflineOffset] = (m_Mode == ModuleMode::Offline || f.handshakeOffline) ? 1 : 0;
  PutU16LE(&r[kNvStatusOffset], kNvStatusOk);
  if (f.handshakeShort) r.resize(kHandShakeShortLength);
  m_Events.Record("diag.handshake", "downloader=" + std::to_string(r.size() > 14 ? r[14] : 0) +
                                        " offline=" + std::to_string(r.size() > 15 ? r[15] : 0) +
                                        " status=" + std::to_string(f.handshakeStatus));
  return r;
}

Bytes ModemEmulator::NvItemLocked(ByteView req, bool write) {
  uint16_t item = 0;
  ReadU16LE(req, 1, item);
  Bytes r(req.begin(), req.end());
  uint16_t status = kNvStatusOk;
  if (write) {
    if (!m_NvItems.count(item) && m_NvItems.size() >= kMaxNvItems) {
      status = kNvStatusFull;
    } else {
      m_NvItems[item].assign(req.begin() + kNvDataOffset, req.begin() + kNvDataOffset + kNvDataSize);
    }
  } else {
    auto it = m_NvItems.find(item);
    if (it == m_NvItems.end()) {
      status = kNvStatusInactive;
      std::fill(r.begin() + kNvDataOffset, r.begin() + kNvDataOffset + kNvDataSize, 0);
    } else {
      std::copy(it->second.begin(), it->second.end(), r.begin() + kNvDataOffset);
    }
  }
  PutU16LE(&r[kNvStatusOffset], status);
  m_Events.Record(write ? "diag.nv-write" : "diag.nv-read",
                  "item " + std::to_string(item) + " status " + std::to_string(status));
  return r;
}

Bytes ModemEmulator::SubsystemLocked(ByteView req, const Faults& f) {
  if (req.size() < 4) return Error(kErrBadLength, req);
  const uint8_t id = req[1];
  uint16_t sub = 0;
  ReadU16LE(req, 2, sub);

  if (id == kSubsysVersion && sub == kSubBoardVersion) {
    if (req.size() != 4) return Error(kErrBadLength, req);
    if (f.boardVersionFail) return Error(kErrBadCommand, req);
    Bytes r = Header4(kCmdSubsystem, id, sub, kBoardVersionLength);
    PutText(&r[kBoardVersionTextOffset], kBoardVersionTextMax, m_FirmwareVersion);
    m_Events.Record("diag.board-version", m_FirmwareVersion);
    return r;
  }
  if (id == kSubsysVersion && sub == kSubIsoVersion) {
    if (req.size() != kIsoRequestLength) return Error(kErrBadLength, req);
    if (std::any_of(req.begin() + 4, req.end(), [](uint8_t b) { return b != 0; })) {
      return Error(kErrBadParameter, req);
    }
    if (f.isoVersionFail) return Error(kErrBadCommand, req);
    Bytes r = Header4(kCmdSubsystem, id, sub, kIsoVersionLength);
    const bool none = f.isoNoVersion || m_DashboardVersion.empty();
    r[4] = none ? 1 : 0;
    if (!none) PutText(&r[kIsoVersionTextOffset], kIsoVersionTextMax, m_DashboardVersion);
    m_Events.Record("diag.iso-version", none ? "no version" : m_DashboardVersion);
    return r;
  }
  if (id == kSubsysVersion && sub == kSubRestoreStatus) {
    if (req.size() != kRestoreStatusLength) return Error(kErrBadLength, req);
    if (std::any_of(req.begin() + 4, req.end(), [](uint8_t b) { return b != 0; })) {
      return Error(kErrBadParameter, req);
    }
    Bytes r = Header4(kCmdSubsystem, id, sub, kRestoreStatusLength);
    r[5] = m_Restore == RestoreState::None ? 0 : 1;
    r[6] = m_Restore == RestoreState::Failed ? 1 : 0;
    m_Events.Record("diag.restore-status", m_Restore == RestoreState::None       ? "no restore"
                                           : m_Restore == RestoreState::Restored ? "restored"
                                                                                 : "failed");
    return r;
  }
  if (id == kSubsysNv && sub == kSubBackupRestore) {
    if (req.size() != kBackupRestoreLength) return Error(kErrBadLength, req);
    const bool backup = req[4] == 0 && req[5] == 0;
    const bool restore = req[4] == 1 && req[5] == 1;
    if ((!backup && !restore) || req[6] != 0 || req[7] != 0) return Error(kErrBadParameter, req);
    Bytes r = Header4(kCmdSubsystem, id, sub, kBackupRestoreLength);
    r[4] = req[4];
    uint8_t reason = 0;
    if (backup) {
      reason = static_cast<uint8_t>(f.nvBackupReason);
      if (reason == 0) {
        m_BackedUp = true;
        m_Restore = RestoreState::None;
      }
    } else if (f.nvRestoreFail) {
      reason = 4;  // the NV operation failed
    } else if (!m_BackedUp) {
      reason = 2;  // no valid backup
    }
    r[5] = reason ? 1 : 0;
    r[6] = reason;
    m_Events.Record(backup ? "diag.nv-backup" : "diag.nv-restore",
                    reason ? "refused, reason " + std::to_string(reason) : std::string("done"));
    return r;
  }
  return Error(kErrBadCommand, req);
}

std::vector<Bytes> ModemEmulator::HandleNormalLocked(ByteView req) {
  const Faults f = m_Faults.Get();
  const uint8_t cmd = req[0];
  auto error = [&](uint8_t code) {
    m_Events.Record("diag.error", HexBytes(Bytes{code}) + " for " + HexBytes(req));
    return std::vector<Bytes>{Error(code, req)};
  };

  if (cmd == kCmdNvRead || cmd == kCmdNvWrite) {
    if (req.size() != kNvPacketSize) return error(kErrBadLength);
    if (IsHandShake(req)) {
      auto r = HandShakeLocked();
      if (!r) return {};
      return {*r};
    }
    return {NvItemLocked(req, cmd == kCmdNvWrite)};
  }
  if (cmd == kCmdSubsystem) {
    Bytes r = SubsystemLocked(req, f);
    if (r[0] != kCmdSubsystem) m_Events.Record("diag.error", HexBytes(Bytes{r[0]}) + " for " + HexBytes(req));
    return {r};
  }
  if (cmd == kCmdChangeMode) {
    if (req.size() != 3) return error(kErrBadLength);
    if (req[2] != 0 || f.modeRefuse) return error(kErrBadParameter);
    // mode 1 takes the module offline, mode 4 back online
    if (req[1] == 1)
      m_Mode = ModuleMode::Offline;
    else if (req[1] == 4)
      m_Mode = ModuleMode::Normal;
    else
      return error(kErrBadParameter);
    m_Events.Record("diag.change-mode", std::string("now ") + ModeName(m_Mode));
    return {Bytes(req.begin(), req.end())};
  }
  if (cmd == kCmdSwitchToDownloader) {
    if (req.size() != 1) return error(kErrBadLength);
    if (f.switchRefuse) return error(kErrBadCommand);
    // the downloader may only be entered from offline mode
    if (m_Mode != ModuleMode::Offline) return error(kErrNotAllowed);
    m_Events.Record("diag.switch", "to downloader");
    RestartLocked(ModuleMode::Downloader, "switch to downloader");
    return {Bytes{kCmdSwitchToDownloader}};
  }
  return error(kErrBadCommand);
}

std::vector<Bytes> ModemEmulator::HandleDownloaderLocked(ByteView req) {
  const Faults f = m_Faults.Get();
  const uint8_t cmd = req[0];
  auto nak = [&](uint16_t reason, const char* why) {
    m_Events.Record("dl.nak", std::string(why) + " (" + HexBytes(req, 8) + ")");
    return std::vector<Bytes>{Nak(reason)};
  };

  if (cmd == kCmdNvRead && req.size() == 1) {
    m_Events.Record("dl.wakeup", "");
    return {};
  }
  if (IsHandShake(req)) {
    auto r = HandShakeLocked();
    if (!r) return {};
    return {*r};
  }
  if (cmd == kDlUnlock) {
    if (req.size() != kUnlockLength) return nak(kNakLength, "unlock: bad length");
    if (f.unlockRefuse) return nak(kNakRefused, "unlock refused (fault)");
    if (!EqualAt(req, 1, m_Config.unlockCode)) return nak(kNakBadCode, "unlock: wrong code");
    m_Unlocked = true;
    m_Events.Record("dl.unlock", "unlocked");
    return {Bytes{kDlAck}};
  }
  if (cmd == kDlWrite) {
    uint32_t address = 0;
    uint16_t length = 0;
    if (!ReadU32BE(req, 1, address) || !ReadU16BE(req, 5, length) ||
        req.size() != kWriteHeaderLength + length) {
      return nak(kNakLength, "write: bad length");
    }
    if (!m_Unlocked) return nak(kNakLocked, "write: locked");
    if (f.writeSilent) {
      m_Events.Record("dl.write", "ignored (fault) at " + std::to_string(address));
      return {};
    }
    if (m_Faults.Take(&Faults::writeNak)) return nak(kNakWrite, "write refused (fault)");
    if (!m_Flash.Write(address, req.data() + kWriteHeaderLength, length)) {
      return nak(kNakAddress, "write: address out of range");
    }
    if (!m_SessionFirstAddress) m_SessionFirstAddress = address;
    m_DownloadPending = true;
    char detail[48];
    snprintf(detail, sizeof detail, "0x%08X %u bytes", address, static_cast<unsigned>(length));
    m_Events.Record("dl.write", detail);
    return {Bytes{kDlAck, req[1], req[2], req[3], req[4]}};
  }
  if (cmd == kDlReset) {
    if (req.size() != 1) return nak(kNakLength, "reset: bad length");
    if (f.resetRefuse) return nak(kNakRefused, "reset refused (fault)");
    m_Events.Record("dl.reset", "");
    const bool downloader = m_ForceLoad || f.backInDownloader;
    RestartLocked(downloader ? ModuleMode::Downloader : ModuleMode::Normal, "reset");
    return {Bytes{kDlAck}};
  }
  if (cmd == kCmdNvRead || cmd == kCmdNvWrite || cmd == kCmdSubsystem || cmd == kCmdChangeMode ||
      cmd == kCmdSwitchToDownloader) {
    m_Events.Record("diag.error", "18 for " + HexBytes(req) + " (in downloader)");
    return {Error(kErrNotAllowed, req)};
  }
  return nak(kNakCommand, "unknown command");
}

void ModemEmulator::EnterForceLoad() {
  std::lock_guard<std::mutex> lock(m_Lock);
  SettleLocked();
  m_ForceLoad = true;
  if (m_Mode != ModuleMode::Downloader || m_Restarting) {
    // the router holds the boot strap and resets the module; its downloader is up at once
    m_Restarting = false;
    m_Mode = ModuleMode::Downloader;
    m_Unlocked = false;
    m_Events.Record("module.ready", "running downloader (force-load)");
  }
}

void ModemEmulator::LeaveForceLoad() {
  std::lock_guard<std::mutex> lock(m_Lock);
  m_ForceLoad = false;
}

void ModemEmulator::FwtForce() {
  std::lock_guard<std::mutex> lock(m_Lock);
  m_ForceLoad = true;
}

ModuleStatus ModemEmulator::Status() {
  std::lock_guard<std::mutex> lock(m_Lock);
  SettleLocked();
  ModuleStatus s;
  s.mode = m_Mode;
  s.restarting = m_Restarting;
  s.unlocked = m_Unlocked;
  s.forceLoad = m_ForceLoad;
  s.nvBackedUp = m_BackedUp;
  s.firmwareVersion = m_FirmwareVersion;
  s.dashboardVersion = m_DashboardVersion;
  return s;
}

std::map<uint32_t, std::vector<uint8_t>> ModemEmulator::FlashRuns() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Flash.Runs();
}

bool ModemEmulator::ReadFlash(uint32_t address, size_t length, std::vector<uint8_t>* out) const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Flash.Read(address, length, out);
}

}  // namespace qorsim
