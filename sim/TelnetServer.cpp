#include "sim/TelnetServer.h"

#include "net/INetPort.h"
#include "platform/Clock.h"

namespace qorsim {

bool TelnetServer::Start(const std::string& address, uint16_t port, std::string* error) {
  Stop();
  return StartServing(address, port, m_Ctx.faults.Get().telnetClosed, "telnet.listen", error);
}

void TelnetServer::Stop() {
  StopServing();
  m_Session.reset();
  m_Conn.Reset();
}

void TelnetServer::Close(const char* why) {
  m_Conn.Reset();
  m_Session.reset();
  m_Ctx.events.Record("telnet.close", why);
}

void TelnetServer::Send(const std::string& text) {
  if (text.empty() || !m_Conn.Valid()) return;
  if (!SendAll(m_Conn.Get(), reinterpret_cast<const uint8_t*>(text.data()), text.size()))
    Close("send failed");
}

void TelnetServer::Accept() {
  sockaddr_in from{};
  Fd fd = AcceptConnection(m_Listen.Get(), &from);
  if (!fd.Valid()) return;
  if (m_Conn.Valid()) Close("replaced by a new connection");
  m_Ctx.events.Record("telnet.connect", SockAddrText(from));
  const Faults f = m_Ctx.faults.Get();
  if (f.telnetRefuse) {
    m_Ctx.events.Record("telnet.close", "refused (fault)");
    return;
  }
  m_Conn = std::move(fd);
  if (f.telnetSilent) return;  // no session: input is read and dropped
  TelnetSession::Versions v{[this] { return m_Ctx.router.Cfe(); }, [this] { return m_Ctx.router.App(); },
                            [this] { return m_Ctx.router.Software(); },
                            [this] { return m_Ctx.router.Res(); }};
  m_Session = std::make_unique<TelnetSession>(
      m_Ctx.config.console, std::move(v), [this] { return m_Ctx.faults.Get(); },
      [this](const std::string& kind, const std::string& detail) { m_Ctx.events.Record(kind, detail); });
  Send(m_Session->Greeting());
}

void TelnetServer::Run() {
  while (!m_Stop) {
    // telnet-closed refuses connections, telnet-unanswered drops them; a listener that cannot be made
    // is retried
    const Faults faults = m_Ctx.faults.Get();
    const bool retry = SyncListenerState(faults.telnetClosed, faults.telnetUnanswered, "telnet.listen");
    SocketPollEntry p[3] = {
        {m_Wake.ReadFd(), POLLIN, 0}, {m_Listen.Get(), POLLIN, 0}, {m_Conn.Get(), POLLIN, 0}};
    int n = PollSockets(p, m_Conn.Valid() ? 3 : 2, retry ? Clock().RealWaitMs(500) : -1);
    if (m_Stop) break;
    if (n <= 0) continue;
    if (p[0].revents) m_Wake.Drain();
    if (m_Conn.Valid() && (p[2].revents & (POLLIN | POLLHUP | POLLERR))) {
      uint8_t buf[2048];
      int code = 0;
      long got = ReceiveSome(m_Conn.Get(), buf, sizeof buf, &code);
      if (got > 0) {
        if (m_Session) {
          bool close = false;
          Send(m_Session->Receive(buf, static_cast<size_t>(got), &close));
          if (close && m_Conn.Valid()) Close("logged out");
        }
      } else if (got == 0 || (code != kErrIoPending && code != kSocketRetry)) {
        Close("closed by the peer");
      }
    }
    if (m_Listen.Valid() && (p[1].revents & POLLIN)) Accept();
  }
}

}  // namespace qorsim
