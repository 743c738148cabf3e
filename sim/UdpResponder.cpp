#include "sim/UdpResponder.h"

#include <algorithm>

#include "platform/Clock.h"
#include "protocol/Hdlc.h"

namespace qorsim {
namespace {

// router datagram: type @0, ip @1 (4), mac @5 (6), text @11 (21)
constexpr size_t kDatagramSize = 32;
constexpr size_t kIpOffset = 1;
constexpr size_t kMacOffset = 5;
constexpr size_t kTextOffset = 11;
constexpr size_t kTextSize = 21;
constexpr uint8_t kTypeDiscover = 1;
constexpr uint8_t kTypeEraseNvram = 6;
constexpr uint8_t kTypeEnterForceLoad = 7;
constexpr uint8_t kTypeLeaveForceLoad = 8;
constexpr uint8_t kTypePresence = 10;
constexpr uint8_t kTypeJunk = 0x5A;  // a type the tool does not know
constexpr size_t kMaxPending = 256;  // late answers held at once

Bytes JunkDatagram(size_t i) {
  Bytes junk(kDatagramSize, 0);
  junk[0] = kTypeJunk;
  for (size_t k = 1; k < kDatagramSize; ++k) junk[k] = static_cast<uint8_t>(0x30 + (k + i) % 40);
  return junk;
}

Bytes Frame(ByteView payload) {
  Bytes out(HdlcMaxEncodedSize(payload.size()));
  int n = HdlcEncodeFrame(payload.data(), payload.size(), out.data(), true);
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace

bool UdpResponder::Start(const std::string& address, const std::string& broadcast, uint16_t port,
                         std::string* error) {
  Stop();
  m_Unicast = BindUdp(address, port, false, error);
  if (!m_Unicast.Valid()) return false;
  m_Port = LocalPort(m_Unicast.Get());
  if (!broadcast.empty() && broadcast != address) {
    m_Broadcast = BindUdp(broadcast, m_Port, true, error);
#ifdef _WIN32
    // Windows refuses to bind a socket to a broadcast address. The emulator then answers on its own
    // address alone: a tool that tries the broadcast address first finds it there next.
    if (!m_Broadcast.Valid()) {
      m_Ctx.events.Record("udp.broadcast", "not served: " + (error != nullptr ? *error : std::string()));
      if (error != nullptr) error->clear();
    }
#else
    if (!m_Broadcast.Valid()) {
      m_Unicast.Reset();
      m_Port = 0;
      return false;
    }
#endif
  }
  if (!m_Wake.Open()) {
    if (error) *error = "cannot create a pipe";
    m_Unicast.Reset();
    m_Broadcast.Reset();
    m_Port = 0;
    return false;
  }
  m_Stop = false;
  m_Thread = std::thread([this] { Run(); });
  return true;
}

void UdpResponder::Stop() {
  if (m_Thread.joinable()) {
    m_Stop = true;
    m_Wake.Wake();
    m_Thread.join();
  }
  m_Unicast.Reset();
  m_Broadcast.Reset();
  m_Pending.clear();
  m_Flood.clear();
  m_Port = 0;
}

std::vector<Bytes> UdpResponder::Answer(ByteView payload, uint32_t* delayMs) {
  *delayMs = 0;
  auto& ev = m_Ctx.events;
  if (payload.size() != kDatagramSize) {
    ev.Record("udp.ignored", std::to_string(payload.size()) + "-byte payload " + HexBytes(payload, 8));
    return {};
  }
  const Faults f = m_Ctx.faults.Get();
  const uint8_t type = payload[0];
  in_addr ip{};
  ParseIpv4(m_Ctx.config.address, &ip);
  const auto* ipBytes = reinterpret_cast<const uint8_t*>(&ip.s_addr);  // network order
  const auto& mac = m_Ctx.config.mac;

  if (type == kTypeDiscover) {
    if (f.noDiscovery) {
      ev.Record("udp.ignored", "discovery (fault no-discovery)");
      return {};
    }
    if (f.discoveryFloodMs != 0) {
      // no answer: the sender gets foreign datagrams instead, from Run()
      bool known = false;
      for (const FloodTarget& t : m_Flood) {
        known = known || (t.to.sin_addr.s_addr == m_LastSender.sin_addr.s_addr &&
                          t.to.sin_port == m_LastSender.sin_port);
      }
      if (!known && m_Flood.size() < kMaxFloodTargets) m_Flood.push_back({m_LastSender, Clock().TickMs(), 0});
      ev.Record("udp.discover",
                "flooded with foreign datagrams every " + std::to_string(f.discoveryFloodMs) + " ms (fault)");
      return {};
    }
    std::vector<Bytes> frames;
    for (int i = 0; i < f.discoveryJunk && i < 64; ++i)
      frames.push_back(Frame(JunkDatagram(static_cast<size_t>(i))));
    Bytes a(kDatagramSize, 0);
    a[0] = kTypeDiscover;
    std::copy(ipBytes, ipBytes + 4, a.begin() + kIpOffset);
    if (!f.discoveryZeroMac) std::copy(mac.begin(), mac.end(), a.begin() + kMacOffset);
    PutText(&a[kTextOffset], kTextSize, m_Ctx.config.discoveryText);
    if (f.discoveryBadFcs) {
      Bytes bad = Frame(a);
      bad[bad.size() - 2] ^= 0x01;  // a flipped bit in the check sequence
      if (bad[bad.size() - 2] == kHdlcFlag || bad[bad.size() - 2] == kHdlcEscape) bad[bad.size() - 2] ^= 0x02;
      frames.push_back(bad);
    }
    frames.push_back(Frame(a));
    ev.Record("udp.discover", std::to_string(frames.size()) + " datagram(s) in answer");
    return frames;
  }

  const char* name = type == kTypeEraseNvram       ? "udp.erase-nvram"
                     : type == kTypeEnterForceLoad ? "udp.force-load"
                     : type == kTypeLeaveForceLoad ? "udp.leave-force-load"
                     : type == kTypePresence       ? "udp.presence"
                                                   : nullptr;
  if (!name) {
    ev.Record("udp.ignored", "unknown type " + std::to_string(type));
    return {};
  }
  if (!EqualAt(payload, kIpOffset, ByteView(ipBytes, 4)) || !EqualAt(payload, kMacOffset, mac)) {
    ev.Record("udp.ignored", std::string(name) + " for another router");
    return {};
  }
  switch (type) {
    case kTypeEraseNvram:
      if (f.eraseRefuse) {
        ev.Record("udp.ignored", "erase NVRAM (fault)");
        return {};
      }
      break;
    case kTypeEnterForceLoad:
      if (f.forceLoadRefuse) {
        ev.Record("udp.ignored", "force-load (fault)");
        return {};
      }
      m_Ctx.modem.EnterForceLoad();
      break;
    case kTypeLeaveForceLoad:
      m_Ctx.modem.LeaveForceLoad();
      break;
    case kTypePresence:
      if (f.noPresence || m_Ctx.faults.Take(&Faults::presenceDrop)) {
        ev.Record("udp.ignored", "presence (fault)");
        return {};
      }
      if (m_Ctx.modem.Silent()) {
        ev.Record("udp.ignored", "presence while the module restarts");
        return {};
      }
      *delayMs = f.presenceLateMs;
      break;
    default:
      break;
  }
  Bytes echo(payload.begin(), payload.end());
  if (f.controlCorrupt) echo.back() ^= 0xFF;
  ev.Record(name, f.controlCorrupt ? "echoed (corrupted)" : "echoed");
  return {Frame(echo)};
}

void UdpResponder::SendFrame(const sockaddr_in& to, const Bytes& frame) {
  int code = 0;
  (void)SendDatagram(m_Unicast.Get(), frame.data(), frame.size(), to, &code);
}

void UdpResponder::Receive(int fd) {
  uint8_t buf[2048];
  for (;;) {
    sockaddr_in from{};
    int code = 0;
    long n = ReceiveDatagramFrom(fd, buf, sizeof buf, &from, &code);
    if (n <= 0) return;
    unsigned payload = HdlcDecodeFrame(buf, static_cast<size_t>(n), buf);
    if (payload == 0) {
      m_Ctx.events.Record("udp.ignored", "undecodable datagram from " + SockAddrText(from));
      continue;
    }
    uint32_t delay = 0;
    m_LastSender = from;
    auto frames = Answer(ByteView(buf, payload), &delay);
    if (delay == 0) {
      for (const auto& fr : frames) SendFrame(from, fr);
    } else {
      const uint64_t due = Clock().TickMs() + delay;
      for (auto& fr : frames) {
        if (m_Pending.size() < kMaxPending) m_Pending.push_back({due, from, std::move(fr)});
      }
    }
  }
}

int UdpResponder::Flood() {
  const uint32_t every = m_Ctx.faults.Get().discoveryFloodMs;
  if (every == 0) {
    m_Flood.clear();
    return -1;
  }
  const uint64_t now = Clock().TickMs();
  uint64_t next = UINT64_MAX;
  for (FloodTarget& t : m_Flood) {
    while (t.due <= now && t.sent < kMaxFloodDatagrams) {
      SendFrame(t.to, Frame(JunkDatagram(t.sent)));
      ++t.sent;
      t.due += every;
    }
    if (t.sent < kMaxFloodDatagrams) next = std::min(next, t.due);
  }
  if (next == UINT64_MAX) return -1;
  return next <= now ? 0
                     : Clock().RealWaitMs(static_cast<uint32_t>(std::min<uint64_t>(next - now, 0x7FFFFFFF)));
}

void UdpResponder::Run() {
  while (!m_Stop) {
    int timeout = Flood();
    if (!m_Pending.empty()) {
      uint64_t now = Clock().TickMs();
      uint64_t due =
          std::min_element(m_Pending.begin(), m_Pending.end(), [](const Pending& a, const Pending& b) {
            return a.due < b.due;
          })->due;
      const int untilDue =
          due <= now ? 0
                     : Clock().RealWaitMs(static_cast<uint32_t>(std::min<uint64_t>(due - now, 0x7FFFFFFF)));
      timeout = timeout < 0 ? untilDue : std::min(timeout, untilDue);
    }
    SocketPollEntry p[3] = {
        {m_Wake.ReadFd(), POLLIN, 0}, {m_Unicast.Get(), POLLIN, 0}, {m_Broadcast.Get(), POLLIN, 0}};
    int n = PollSockets(p, m_Broadcast.Valid() ? 3 : 2, timeout);
    if (m_Stop) break;
    if (n > 0) {
      if (p[0].revents) m_Wake.Drain();
      if (p[1].revents & POLLIN) Receive(m_Unicast.Get());
      if (m_Broadcast.Valid() && (p[2].revents & POLLIN)) Receive(m_Broadcast.Get());
    }
    // late answers whose time has come, in order
    const uint64_t now = Clock().TickMs();
    std::stable_sort(m_Pending.begin(), m_Pending.end(),
                     [](const Pending& a, const Pending& b) { return a.due < b.due; });
    size_t sent = 0;
    while (sent < m_Pending.size() && m_Pending[sent].due <= now) {
      SendFrame(m_Pending[sent].to, m_Pending[sent].frame);
      ++sent;
    }
    m_Pending.erase(m_Pending.begin(), m_Pending.begin() + static_cast<ptrdiff_t>(sent));
  }
}

}  // namespace qorsim
