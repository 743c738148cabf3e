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
  m_Port = 0;
}

}  // namespace qorsim
