#include "sim/TcpServerThread.h"

namespace qorsim {

bool TcpServerThread::StartServing(const std::string& address, uint16_t port, bool startClosed,
                                   const char* listenEvent, std::string* error) {
  m_Listen = ListenTcp(address, port, error);
  if (!m_Listen.Valid()) return false;
  if (!m_Wake.Open()) {
    if (error) *error = "cannot create a pipe";
    m_Listen.Reset();
    return false;
  }
  m_Port = LocalPort(m_Listen.Get());
  m_Address = address;
  std::string note;
  if (SyncListener(m_Listen, !startClosed, m_Address, m_Port, &note)) {
    m_Ctx.events.Record(listenEvent, note);
  }
  m_Stop = false;
  m_Thread = std::thread([this] { Run(); });
  return true;
}

void TcpServerThread::StopServing() {
  if (m_Thread.joinable()) {
    m_Stop = true;
    m_Wake.Wake();
    m_Thread.join();
  }
  m_Listen.Reset();
  m_Unanswered.Reset();
  m_UnansweredFiller.Reset();
  m_Port = 0;
}

bool TcpServerThread::SyncListenerState(bool closed, bool unanswered, const char* listenEvent) {
  if (unanswered && !m_Unanswered.Valid()) {
    // the port must be free for the listener that never accepts
    m_Listen.Reset();
    std::string error;
    const bool made = OpenUnansweredListener(m_Address, m_Port, &m_Unanswered, &m_UnansweredFiller, &error);
    m_Ctx.events.Record(listenEvent, made ? "unanswered: connection attempts get no answer" : error);
  }
  if (unanswered) return !m_Unanswered.Valid();
  // back to answering: the listener below reopens and records it
  m_Unanswered.Reset();
  m_UnansweredFiller.Reset();
  std::string note;
  if (SyncListener(m_Listen, !closed, m_Address, m_Port, &note)) m_Ctx.events.Record(listenEvent, note);
  return !m_Listen.Valid() && !closed;
}

}  // namespace qorsim
