#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "sim/SimContext.h"
#include "sim/SimSocket.h"
#include "sim/TelnetSession.h"

namespace qorsim {

// The router console's TCP side: one session at a time (a new connection replaces the old one),
// served by one thread. Faults telnet-refuse and telnet-silent act here, the rest in TelnetSession.
class TelnetServer {
 public:
  explicit TelnetServer(SimContext& ctx) : m_Ctx(ctx) {}
  ~TelnetServer() { Stop(); }
  TelnetServer(const TelnetServer&) = delete;
  TelnetServer& operator=(const TelnetServer&) = delete;

  bool Start(const std::string& address, uint16_t port, std::string* error);
  void Stop();
  uint16_t Port() const { return m_Port; }
  // Faults changed: the serving thread re-reads them (the listener may have to close or reopen).
  void FaultsChanged() { m_Wake.Wake(); }

 private:
  void Run();
  void Accept();
  void Close(const char* why);
  void Send(const std::string& text);

  SimContext& m_Ctx;
  Fd m_Listen;
  Fd m_Conn;
  WakePipe m_Wake;
  uint16_t m_Port = 0;
  std::string m_Address;
  std::atomic<bool> m_Stop{false};
  std::thread m_Thread;
  std::unique_ptr<TelnetSession> m_Session;  // null while the connection is silent
};

}  // namespace qorsim
