#include "sim/RouterSim.h"

#include "net/SocketOs.h"
#include "sim/LinkServer.h"
#include "sim/SimContext.h"
#include "sim/TelnetServer.h"
#include "sim/UdpResponder.h"

namespace qorsim {

class RouterSimImpl {
 public:
  explicit RouterSimImpl(const SimConfig& config) : ctx(config), udp(ctx), link(ctx), telnet(ctx) {}

  SimContext ctx;
  UdpResponder udp;
  LinkServer link;
  TelnetServer telnet;
  std::string broadcast;
  bool running = false;
};

namespace {

// 127.255.255.255 for loopback addresses, a.b.c.255 for others, "" for the wildcard address
std::string DeriveBroadcast(const std::string& address) {
  in_addr a{};
  if (!ParseIpv4(address, &a) || a.s_addr == 0) return {};
  const uint32_t host = ntohl(a.s_addr);
  const uint32_t b = (host >> 24) == 127 ? 0x7FFFFFFFu : (host | 0xFFu);
  in_addr out{};
  out.s_addr = htonl(b);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &out, text, sizeof text);
  return text;
}

}  // namespace

RouterSim::RouterSim(SimConfig config) : m_Impl(std::make_unique<RouterSimImpl>(config)) {}

RouterSim::~RouterSim() { Stop(); }

bool RouterSim::Start(std::string* error) {
  Stop();
  auto& d = *m_Impl;
  const SimConfig& c = d.ctx.config;
  in_addr probe{};
  if (!ParseIpv4(c.address, &probe)) {
    if (error) *error = "bad IPv4 address '" + c.address + "'";
    return false;
  }
  d.broadcast = c.broadcastAddress.empty() ? DeriveBroadcast(c.address) : c.broadcastAddress;
  if (!d.udp.Start(c.address, d.broadcast, c.udpPort, error) || !d.link.Start(c.address, c.linkPort, error) ||
      !d.telnet.Start(c.address, c.telnetPort, error)) {
    d.udp.Stop();
    d.link.Stop();
    d.telnet.Stop();
    return false;
  }
  d.running = true;
  d.ctx.events.Record("sim.start", "udp " + std::to_string(d.udp.Port()) + ", link " +
                                       std::to_string(d.link.Port()) + ", telnet " +
                                       std::to_string(d.telnet.Port()) + " on " + c.address);
  return true;
}

void RouterSim::Stop() {
  auto& d = *m_Impl;
  d.udp.Stop();
  d.link.Stop();
  d.telnet.Stop();
  d.running = false;
}

bool RouterSim::Running() const { return m_Impl->running; }
uint16_t RouterSim::UdpPort() const { return m_Impl->udp.Port(); }
uint16_t RouterSim::LinkPort() const { return m_Impl->link.Port(); }
uint16_t RouterSim::TelnetPort() const { return m_Impl->telnet.Port(); }
std::string RouterSim::Address() const { return m_Impl->ctx.config.address; }
std::string RouterSim::BroadcastAddress() const { return m_Impl->broadcast; }

void RouterSim::SetFaults(const Faults& faults) {
  m_Impl->ctx.faults.Set(faults);
  m_Impl->link.FaultsChanged();
  m_Impl->telnet.FaultsChanged();
}
Faults RouterSim::GetFaults() const { return m_Impl->ctx.faults.Get(); }

bool RouterSim::ApplyFault(const std::string& spec, std::string* error) {
  // read, change and write back under the caller's view; counters used meanwhile may be lost,
  // which a caller changing faults mid-exchange accepts
  Faults f = m_Impl->ctx.faults.Get();
  if (!ParseFaults(spec, f, error)) return false;
  SetFaults(f);
  return true;
}

std::vector<SimEvent> RouterSim::Events() const { return m_Impl->ctx.events.All(); }
std::vector<SimEvent> RouterSim::EventsOfKind(const std::string& kind) const {
  return m_Impl->ctx.events.OfKind(kind);
}
size_t RouterSim::CountEvents(const std::string& kind) const { return m_Impl->ctx.events.Count(kind); }
void RouterSim::ClearEvents() { m_Impl->ctx.events.Clear(); }
void RouterSim::SetEventCallback(std::function<void(const SimEvent&)> callback) {
  m_Impl->ctx.events.SetCallback(std::move(callback));
}
bool RouterSim::WaitForEvent(const std::string& kind, uint32_t timeoutMs, uint64_t afterSeq,
                             SimEvent* found) const {
  return m_Impl->ctx.events.Wait(kind, timeoutMs, afterSeq, found);
}
uint64_t RouterSim::LastSeq() const { return m_Impl->ctx.events.LastSeq(); }

std::vector<RouterImageRecord> RouterSim::RouterImages() const { return m_Impl->ctx.router.Images(); }
std::vector<uint8_t> RouterSim::RouterImage(int moduleType) const {
  return m_Impl->ctx.router.LastImage(moduleType);
}
std::map<uint32_t, std::vector<uint8_t>> RouterSim::Flash() const { return m_Impl->ctx.modem.FlashRuns(); }
bool RouterSim::ReadFlash(uint32_t address, size_t length, std::vector<uint8_t>* out) const {
  return m_Impl->ctx.modem.ReadFlash(address, length, out);
}

ModuleStatus RouterSim::Module() const { return m_Impl->ctx.modem.Status(); }
std::string RouterSim::CfeVersion() const { return m_Impl->ctx.router.Cfe(); }
std::string RouterSim::AppVersion() const { return m_Impl->ctx.router.App(); }
std::string RouterSim::SoftwareVersion() const { return m_Impl->ctx.router.Software(); }
std::string RouterSim::ResVersion() const { return m_Impl->ctx.router.Res(); }

}  // namespace qorsim
