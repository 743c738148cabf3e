#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "sim/SimContext.h"
#include "sim/SimSocket.h"

namespace qorsim {

// What the router's TCP services (the link and the console) share: a listener on a fixed port, a
// wake-up pipe and one serving thread. The derived class serves connections in Run() and stops the
// thread (StopServing) in its destructor, before its own members go.
class TcpServerThread {
 public:
  TcpServerThread(const TcpServerThread&) = delete;
  TcpServerThread& operator=(const TcpServerThread&) = delete;
  virtual ~TcpServerThread() = default;

  uint16_t Port() const { return m_Port; }
  // Faults changed: the serving thread re-reads them (the listener may have to close or reopen).
  void FaultsChanged() { m_Wake.Wake(); }

 protected:
  explicit TcpServerThread(SimContext& ctx) : m_Ctx(ctx) {}

  // Listens on address:port (0 picks a free port) and starts the thread on Run(). A port that starts
  // closed refuses connections from the first moment, yet keeps its number; listenEvent records that.
  bool StartServing(const std::string& address, uint16_t port, bool startClosed, const char* listenEvent,
                    std::string* error);
  // Asks the thread to end, wakes and joins it, and drops the listener.
  void StopServing();
  // Brings the listener in line with the faults, from the serving thread: open; closed (connections
  // are refused); or unanswered (OpenUnansweredListener replaces it: connection attempts get no
  // answer at all). A change is recorded as listenEvent. True while a listener that should be there
  // could not be made (the thread tries again soon).
  bool SyncListenerState(bool closed, bool unanswered, const char* listenEvent);
  virtual void Run() = 0;

  SimContext& m_Ctx;
  Fd m_Listen;
  Fd m_Unanswered;        // the listener that never accepts, while unanswered
  Fd m_UnansweredFiller;  // the emulator's own connection that fills its queue
  WakePipe m_Wake;
  uint16_t m_Port = 0;
  std::string m_Address;
  std::atomic<bool> m_Stop{false};
  std::thread m_Thread;
};

}  // namespace qorsim
