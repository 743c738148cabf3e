#pragma once

#include <string>

#include "platform/NonCopyable.h"

class CDownloadLog;

// Keeps the PC awake while the router is written: a laptop that suspends in the middle of a modem
// download leaves the module in its downloader with half an image.
//
// An inhibitor hands out a lock as a descriptor: the lock holds until the descriptor is closed (by
// its holder, or by the system when the process ends, so a crash never leaves the PC unable to
// sleep).
class ISleepInhibitor {
 public:
  virtual ~ISleepInhibitor() = default;
  // Takes the lock: the descriptor that holds it, or -1 with why in error.
  virtual int Acquire(std::string& error) = 0;
};

// The lock of the system's login manager, asked for on the system bus
// (org.freedesktop.login1.Manager.Inhibit): "sleep:idle:handle-lid-switch", mode "block", who
// "QorOneClick", why "Upgrading the router's firmware". The bus is the one DBUS_SYSTEM_BUS_ADDRESS
// names, else the system's. The call waits at most kCallTimeoutMs of real time: it runs before the
// first byte is sent, and a bus that does not answer must not hold the upgrade back for long.
class CLogindInhibitor final : public ISleepInhibitor {
 public:
  static constexpr const char* kWhat = "sleep:idle:handle-lid-switch";
  static constexpr const char* kWho = "QorOneClick";
  static constexpr const char* kWhy = "Upgrading the router's firmware";
  static constexpr const char* kMode = "block";
  static constexpr unsigned kCallTimeoutMs = 5000;

  int Acquire(std::string& error) override;
};

// Holds a lock from its construction to Release or its end, and logs both. Without an inhibitor,
// or when the lock cannot be had, nothing is held, the log says that sleep could not be blocked
// and why, and the caller goes on: a PC that may sleep is no reason to refuse the upgrade.
class CSleepBlock : public NonCopyable {
 public:
  CSleepBlock(ISleepInhibitor* inhibitor, CDownloadLog& log);
  ~CSleepBlock() override;
  bool Held() const { return m_Fd >= 0; }
  // Closes the lock's descriptor (logged once); nothing when none is held.
  void Release();

 private:
  CDownloadLog& m_Log;
  int m_Fd = -1;
};

// The log lines.
inline constexpr const char* kSleepBlockedLog =
    "Sleep and the lid switch are blocked while the router is written";
inline constexpr const char* kSleepNotBlockedLog = "Sleep could not be blocked: ";
inline constexpr const char* kSleepAllowedLog = "Sleep is allowed again";
