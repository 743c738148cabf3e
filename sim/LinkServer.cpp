#include "sim/LinkServer.h"

#include <algorithm>
#include <cstring>

#include "net/INetPort.h"
#include "platform/Clock.h"

namespace qorsim {
namespace {

// upgrade control packet: FF, 29 text bytes, value u32 LE @30, 6 zero bytes
constexpr size_t kTextOffset = 1;
constexpr size_t kTextSize = 29;
constexpr size_t kValueOffset = 30;
const char kRutBegin[] = "Tavrix RUT Begin Download Pkt";
const char kFwtBegin[] = "Tavrix FWT Begin Download Pkt";
const char kFwtForce[] = "Tavrix FWT Force Download Pkt";
static_assert(sizeof kRutBegin - 1 == kTextSize && sizeof kFwtBegin - 1 == kTextSize &&
              sizeof kFwtForce - 1 == kTextSize);

bool TextIs(ByteView packet, const char* text) {
  return EqualAt(packet, kTextOffset, ByteView(reinterpret_cast<const uint8_t*>(text), kTextSize));
}

Bytes Frame(const Bytes& payload) {
  Bytes out(HdlcMaxEncodedSize(payload.size()));
  int n = HdlcEncodeFrame(payload.data(), payload.size(), out.data(), true);
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace

bool LinkServer::Start(const std::string& address, uint16_t port, std::string* error) {
  Stop();
  return StartServing(address, port, m_Ctx.faults.Get().linkClosed, "link.listen", error);
}

void LinkServer::Stop() {
  StopServing();
  m_Conn.Reset();
  m_Pending.clear();
  m_Raw = false;
  m_RawData.clear();
}

void LinkServer::Accept() {
  sockaddr_in from{};
  Fd fd = AcceptConnection(m_Listen.Get(), &from);
  if (!fd.Valid()) return;
  if (m_Conn.Valid()) CloseConnection("replaced by a new connection", false);
  m_Ctx.events.Record("link.connect", SockAddrText(from));
  if (m_Ctx.faults.Get().linkDrop) {
    m_Ctx.events.Record("link.close", "dropped at once (fault)");
    return;
  }
  m_Conn = std::move(fd);
  m_Assembler.Clear();
  m_Raw = false;
  m_Pending.clear();
}

void LinkServer::CloseConnection(const char* why, bool reset) {
  if (m_Raw) FinishImage(false);
  if (reset) {
    AbortConnection(m_Conn);
    m_Ctx.events.Record("link.reset", why);
  } else {
    m_Conn.Reset();
    m_Ctx.events.Record("link.close", why);
  }
  m_Pending.clear();
  m_Assembler.Clear();
}

void LinkServer::Send(const Bytes& payload) {
  Bytes frame = Frame(payload);
  if (m_Conn.Valid() && !SendAll(m_Conn.Get(), frame.data(), frame.size())) {
    CloseConnection("send failed", false);
  }
}

void LinkServer::FinishImage(bool complete) {
  m_Raw = false;
  RouterImageRecord rec = m_Ctx.router.Examine(m_Announced, std::move(m_RawData), complete);
  m_RawData = Bytes();
  const int64_t forced = m_Ctx.faults.Get().routerResult;
  if (complete && forced >= 0) rec.resultCode = static_cast<uint32_t>(forced);
  m_Ctx.events.Record("router.image", std::to_string(m_RawReceived) + " of " + std::to_string(m_Announced) +
                                          " bytes, module type " + std::to_string(rec.moduleType) +
                                          (rec.tagVersion.empty() ? "" : ", version " + rec.tagVersion) +
                                          (complete ? "" : ", incomplete"));
  const uint32_t code = rec.resultCode;
  m_Ctx.router.Add(std::move(rec));
  if (!complete) return;
  const Faults faults = m_Ctx.faults.Get();
  if (faults.routerNoResult) {
    m_Ctx.events.Record("router.result", "withheld (fault)");
    return;
  }
  if (faults.resetAfterImage || faults.closeAfterImage) {
    CloseConnection("after the router image, instead of the result (fault)", faults.resetAfterImage);
    return;
  }
  Bytes result(kControlPacketSize, 0);
  result[0] = 0xFF;
  PutU32LE(&result[kValueOffset], code);
  m_Pending.push_back(
      {Clock().TickMs() + m_Ctx.config.routerWriteMs, std::move(result), "code " + std::to_string(code)});
}

void LinkServer::OnControl(ByteView packet) {
  uint32_t value = 0;
  ReadU32LE(packet, kValueOffset, value);
  if (TextIs(packet, kRutBegin)) {
    m_Ctx.events.Record("link.rut-begin", std::to_string(value) + " bytes announced");
    m_Announced = value;
    m_RawReceived = 0;
    m_RawData.clear();
    m_RawData.reserve(std::min<size_t>(value, kMaxImageBytes));
    m_Raw = true;
    if (value == 0) FinishImage(true);
  } else if (TextIs(packet, kFwtBegin)) {
    m_Ctx.events.Record("link.fwt-begin", "value " + std::to_string(value));
  } else if (TextIs(packet, kFwtForce)) {
    m_Ctx.modem.FwtForce();
    m_Ctx.events.Record("link.fwt-force", "value " + std::to_string(value));
  } else {
    m_Ctx.events.Record("link.control", "unknown packet " + HexBytes(packet, 40));
  }
}

void LinkServer::OnFrame(ByteView payload) {
  if (payload.size() == kControlPacketSize && payload[0] == 0xFF) {
    OnControl(payload);
    return;
  }
  // a download write block (command 0x0F) that meets the end of reset-after-blocks is not taken
  if (!payload.empty() && payload[0] == 0x0F && m_Ctx.faults.CountDown(&Faults::resetAfterBlocks)) {
    CloseConnection("reset at a download block (fault)", true);
    return;
  }
  for (const auto& answer : m_Ctx.modem.Handle(payload)) {
    Send(answer);
    if (!m_Conn.Valid()) return;
  }
}

void LinkServer::OnBytes(const uint8_t* data, size_t n) {
  size_t i = 0;
  while (i < n && m_Conn.Valid()) {
    if (m_Raw) {
      uint64_t take = std::min<uint64_t>(n - i, m_Announced - m_RawReceived);
      const int64_t resetAt = m_Ctx.faults.Get().resetAfterBytes;
      if (resetAt >= 0)
        take = std::min<uint64_t>(take, static_cast<uint64_t>(resetAt) > m_RawReceived
                                            ? static_cast<uint64_t>(resetAt) - m_RawReceived
                                            : 0);
      const size_t keep = static_cast<size_t>(
          std::min<uint64_t>(take, kMaxImageBytes - std::min(m_RawData.size(), kMaxImageBytes)));
      m_RawData.insert(m_RawData.end(), data + i, data + i + keep);
      m_RawReceived += take;
      i += static_cast<size_t>(take);
      if (resetAt >= 0 && m_RawReceived >= static_cast<uint64_t>(resetAt) && m_RawReceived < m_Announced) {
        CloseConnection(("reset after " + std::to_string(m_RawReceived) + " image bytes (fault)").c_str(),
                        true);
        return;
      }
      if (m_RawReceived == m_Announced) {
        FinishImage(true);
        m_Assembler.Clear();
      }
      continue;
    }
    size_t used = 0;
    const bool closed = m_Assembler.PushRun(data + i, n - i, used);
    i += used;
    if (closed) {
      Bytes& frame = m_Assembler.Frame();
      const size_t size = frame.size();
      unsigned len = HdlcDecodeFrame(frame.data(), size, frame.data());
      if (len == 0) {
        m_Ctx.events.Record("link.bad-frame", std::to_string(size) + " bytes dropped");
        continue;
      }
      const Bytes payload(frame.begin(), frame.begin() + len);
      OnFrame(payload);
    }
  }
}

void LinkServer::Run() {
  while (!m_Stop) {
    // link-closed refuses connections, link-unanswered drops them; a listener that cannot be made is
    // retried
    const Faults faults = m_Ctx.faults.Get();
    const bool retry = SyncListenerState(faults.linkClosed, faults.linkUnanswered, "link.listen");
    int timeout = retry ? Clock().RealWaitMs(500) : -1;
    if (!m_Pending.empty()) {
      const uint64_t now = Clock().TickMs();
      const uint64_t due = m_Pending.front().due;
      const int untilDue =
          due <= now ? 0
                     : Clock().RealWaitMs(static_cast<uint32_t>(std::min<uint64_t>(due - now, 0x7FFFFFFF)));
      timeout = timeout < 0 ? untilDue : std::min(timeout, untilDue);
    }
    SocketPollEntry p[3] = {
        {m_Wake.ReadFd(), POLLIN, 0}, {m_Listen.Get(), POLLIN, 0}, {m_Conn.Get(), POLLIN, 0}};
    int n = PollSockets(p, m_Conn.Valid() ? 3 : 2, timeout);
    if (m_Stop) break;
    if (n > 0) {
      if (p[0].revents) m_Wake.Drain();
      if (m_Conn.Valid() && (p[2].revents & (POLLIN | POLLHUP | POLLERR))) {
        uint8_t buf[16384];
        int code = 0;
        long got = ReceiveSome(m_Conn.Get(), buf, sizeof buf, &code);
        if (got > 0)
          OnBytes(buf, static_cast<size_t>(got));
        else if (got == 0 || (code != kErrIoPending && code != kSocketRetry))
          CloseConnection("closed by the peer", false);
      }
      if (m_Listen.Valid() && (p[1].revents & POLLIN)) Accept();
    }
    // result records whose writing time is over
    const uint64_t now = Clock().TickMs();
    while (!m_Pending.empty() && m_Pending.front().due <= now && m_Conn.Valid()) {
      Pending next = std::move(m_Pending.front());
      m_Pending.erase(m_Pending.begin());
      m_Ctx.events.Record("router.result", next.what);
      Send(next.frame);
    }
  }
}

}  // namespace qorsim
