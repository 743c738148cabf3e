#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "sim/SimContext.h"
#include "sim/SimSocket.h"
#include "sim/TcpServerThread.h"
#include "sim/TelnetSession.h"

namespace qorsim {

// The router console's TCP side: one session at a time (a new connection replaces the old one),
// served by one thread. Faults telnet-refuse and telnet-silent act here, the rest in TelnetSession.
class TelnetServer : public TcpServerThread {
 public:
  explicit TelnetServer(SimContext& ctx) : TcpServerThread(ctx) {}
  ~TelnetServer() override { Stop(); }
  TelnetServer(const TelnetServer&) = delete;
  TelnetServer& operator=(const TelnetServer&) = delete;

  bool Start(const std::string& address, uint16_t port, std::string* error);
  void Stop();

 private:
  void Run() override;
  void Accept();
  void Close(const char* why);
  void Send(const std::string& text);

  Fd m_Conn;
  std::unique_ptr<TelnetSession> m_Session;  // null while the connection is silent
};

}  // namespace qorsim
