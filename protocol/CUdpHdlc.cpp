#include "protocol/CUdpHdlc.h"

#include <algorithm>
#include <cstring>

#include "platform/Clock.h"
#include "platform/StopRequest.h"
#include "platform/Warnings.h"
#include "protocol/Hdlc.h"

namespace {

constexpr size_t kFrameBufferSize = 512;
constexpr uint32_t kSendTimeoutMs = 2000;
constexpr uint32_t kDiscoverWaitMs = 3000;
constexpr uint32_t kEraseWaitMs = 4000;
constexpr uint32_t kControlWaitMs = 2000;
constexpr uint8_t kFill = 0xCD;

}  // namespace

CUdpHdlc::CUdpHdlc(const IpAddress& address, uint16_t port) { Init(address.ToString(), port); }

CUdpHdlc::CUdpHdlc(const std::string& address, uint16_t port) { Init(address, port); }

CUdpHdlc::~CUdpHdlc() { m_UdpPort.Close(); }

void CUdpHdlc::Init(const std::string& address, uint16_t port) {
  m_Send.bytes.fill(0);
  m_Recv.bytes.fill(0);
  m_bOpen = false;
  if (!m_UdpPort.SetConfig(address, port)) {
    m_LastSendError = GetThreadSocketError();
    ShowWarningText("m_UdpPort.SetConfig() failed");
    return;
  }
  m_bOpen = m_UdpPort.Open() == 1;
  if (!m_bOpen) {
    m_LastSendError = m_UdpPort.GetLastError() != 0 ? m_UdpPort.GetLastError() : kErrInvalid;
    ShowWarningText("m_UdpPort.Open() failed");
  }
}

int CUdpHdlc::SendFrame(const uint8_t* data, uint32_t length, uint32_t timeout) {
  if (!m_bOpen || data == nullptr || HdlcMaxEncodedSize(length) > kFrameBufferSize) return 0;
  uint8_t frame[kFrameBufferSize];
  const int frameLength = HdlcEncodeFrame(data, length, frame, true);
  if (m_UdpPort.Write(frame, static_cast<uint32_t>(frameLength), timeout) == 1) {
    m_LastSendError = 0;
    return 1;
  }
  // a datagram cut short has no error of its own
  m_LastSendError = m_UdpPort.GetLastError() != 0 ? m_UdpPort.GetLastError() : kErrMsgSize;
  return 0;
}

int CUdpHdlc::ReceiveFrame(uint8_t* destination, uint32_t* received, uint32_t timeout) {
  uint32_t dummy = 0;
  if (received == nullptr) received = &dummy;
  *received = 0;
  if (!m_bOpen || destination == nullptr) return 0;
  uint8_t datagram[kFrameBufferSize];
  uint32_t count = 0;
  if (m_UdpPort.Read(datagram, sizeof datagram, &count, timeout) != 1 || count == 0) return 0;
  // the decoded payload plus its FCS never exceeds the datagram, so 512 bytes of room suffice
  count = std::min<uint32_t>(count, sizeof datagram);
  *received = HdlcDecodeFrame(datagram, count, destination);
  return *received != 0 ? 1 : 0;
}

int CUdpHdlc::SendDatagram() { return SendFrame(m_Send.bytes.data(), RouterDatagram::kSize, kSendTimeoutMs); }

int CUdpHdlc::ReceiveDatagram(uint32_t timeout) {
  uint8_t payload[kFrameBufferSize];
  uint32_t length = 0;
  if (!ReceiveFrame(payload, &length, timeout)) return 0;
  if (length != RouterDatagram::kSize) return 0;
  std::memcpy(m_Recv.bytes.data(), payload, RouterDatagram::kSize);
  return 1;
}

int CUdpHdlc::Exchange(uint32_t timeout) {
  if (!SendDatagram()) return 0;
  if (!ReceiveDatagram(timeout)) return 0;
  return m_Recv.bytes == m_Send.bytes ? 1 : 0;
}

int CUdpHdlc::Control(uint8_t type, const IpAddress& ip, const MacAddress& mac, uint32_t timeout) {
  m_Send.Set(type, ip, mac);
  return Exchange(timeout);
}

int CUdpHdlc::EraseRouterNvram(const IpAddress& ip, const MacAddress& mac) {
  return Control(RDG_ERASE_NVRAM, ip, mac, kEraseWaitMs);
}

int CUdpHdlc::EnterForceLoad(const IpAddress& ip, const MacAddress& mac) {
  return Control(RDG_ENTER_FORCE_LOAD, ip, mac, kControlWaitMs);
}

int CUdpHdlc::LeaveForceLoad(const IpAddress& ip, const MacAddress& mac) {
  return Control(RDG_LEAVE_FORCE_LOAD, ip, mac, kControlWaitMs);
}

int CUdpHdlc::CheckPresence(const IpAddress& ip, const MacAddress& mac) {
  return Control(RDG_PRESENCE_CHECK, ip, mac, kControlWaitMs);
}

int CUdpHdlc::Discover(MacAddress& mac, IpAddress& ip, std::string& text) {
  m_Send.Set(RDG_DISCOVER, IpAddress{}, MacAddress{});
  if (!SendDatagram()) return 0;
  // every datagram gets its own 3000 ms, but a host that keeps sending junk must not hold the
  // discovery for ever
  const uint64_t start = TickMs();
  for (;;) {
    const uint64_t elapsed = TickMs() - start;
    if (elapsed >= kDiscoverOverallMs) return 0;
    // a host that floods the port must not keep a stopped Check waiting: looked at per datagram
    if (StopRequestedHere()) return 0;
    const uint32_t wait =
        static_cast<uint32_t>(std::min<uint64_t>(kDiscoverWaitMs, kDiscoverOverallMs - elapsed));
    uint8_t answer[1024];
    std::memset(answer, kFill, RouterDatagram::kSize);
    uint32_t length = 0;
    if (!ReceiveFrame(answer, &length, wait)) return 0;
    if (ParseDiscoveryAnswer(std::span<const uint8_t>(answer, length), mac, ip, text)) return 1;
  }
}
