// The router module transfer: begin packet, raw image stream, result record; and the NVRAM erase.

#include <algorithm>
#include <cstring>

#include "image/CAppFileReader.h"
#include "platform/ByteOrder.h"
#include "platform/Clock.h"
#include "platform/StringTable.h"
#include "protocol/CUdpHdlc.h"
#include "protocol/ErrorText.h"
#include "protocol/RouterDatagram.h"
#include "upgrade/CUpgradeEngine.h"

namespace {

constexpr uint32_t kWriteTimeoutMs = 3000;
constexpr uint32_t kResultReadTimeoutMs = 8000;
// the application images take longest to write to flash
constexpr uint32_t kAppResultLimitMs = 300000;
constexpr uint32_t kOtherResultLimitMs = 120000;

}  // namespace

bool CUpgradeEngine::TransferRouterModule(const CBinFile& image) {
  const ModuleType type = image.GetModuleType();
  ShowPercent(0);
  const uint64_t total = image.GetTotalDataLength();
  uint64_t sent = 0;

  // nothing may read the connection while the raw stream goes out
  if (!m_RouterLink.StopReceiver()) {
    // A receiver that does not end is stuck in the port (typically connecting again after the
    // router dropped the link); the stream would share the connection with it and the result would
    // be awaited from a queue that nobody fills. The link tells which: without a connection the
    // failure is the link's, with one it is the transfer's.
    const bool connected = m_RouterLink.IsConnected();
    m_Log.Print("The router image was not sent: the router link's receiver did not stop%s",
                connected ? "" : " while the link was being connected again");
    return Fail(connected ? IDS_ROUTER_TRANSFER_FAILED : IDS_TCP_CONNECT_FAILED);
  }

  if (!SendBeginPacket(UCP_RUT_BEGIN, static_cast<uint32_t>(total))) {
    return false;
  }
  // the result can only come on the connection that carries the stream
  const uint32_t streamGeneration = m_RouterLink.GetGeneration();

  CAppFileReader reader(image, kRouterBlockSize);
  reader.SelectUnit(0);
  ShowStatus(IDS_TRANSMITTING_ROUTER);

  const uint32_t blocks = image.GetUnitCount() > 0 ? reader.GetBlockCount(0) : 0;
  for (uint32_t i = 0; i < blocks; ++i) {
    uint32_t length = 0;
    const uint8_t* data = reader.NextBlock(length);
    if (data == nullptr || length == 0 ||
        !m_RouterLink.Write(true, data, static_cast<int>(length), false, kWriteTimeoutMs)) {
      m_Log.Print("Router Block%u Transfer Fail: %s", i + 1,
                  GetErrorText(m_RouterLink.GetLastError()).c_str());
      return Fail(IDS_ROUTER_TRANSFER_FAILED);
    }
    sent += length;
    ShowPercent(PercentOf(sent, total));
  }

  m_RouterLink.StartReceiver();
  return WaitRouterResult(type, streamGeneration);
}

bool CUpgradeEngine::SendBeginPacket(int kind, uint32_t value) {
  switch (kind) {
    case UCP_RUT_BEGIN:
      m_Log.PrintText("Sending RUT Begin Pkt");
      break;
    case UCP_FWT_BEGIN:
      m_Log.PrintText("Sending FWT Begin Pkt");
      break;
    case UCP_FWT_FORCE:
      m_Log.PrintText("Sending FWT Force Pkt");
      break;
    default:
      break;
  }
  uint8_t packet[kUpgradeControlPacketSize];
  BuildUpgradeControlPacket(packet, kind, value);

  for (int attempt = 0; attempt < 3; ++attempt) {
    if (m_RouterLink.Write(false, packet, static_cast<int>(sizeof packet), true, kWriteTimeoutMs)) {
      // the router takes no answer-back; it needs the pause to get ready for what follows
      SleepMs(2500);
      if (kind == UCP_FWT_FORCE) {
        m_ForceLoad = true;
      }
      return true;
    }
    SleepMs(100);
  }
  return Fail(IDS_BEGIN_PACKET_FAILED);
}

bool CUpgradeEngine::WaitRouterResult(ModuleType type, std::optional<uint32_t> streamGeneration) {
  ShowStatus(IDS_WAITING_ROUTER_UPGRADE);
  const uint32_t limit =
      (type == MODULE_APP || type == MODULE_APP2) ? kAppResultLimitMs : kOtherResultLimitMs;
  ShowPercent(0);
  const uint64_t start = TickMs();

  const uint8_t key = 0xFF;
  m_RouterLink.SetResponseKey(&key, 1);

  // The port reconnects by itself after a reset, and the new connection can never carry the result
  // of an image sent on the old one; an orderly close by the router ends the stream as surely. The
  // link's queue wakes the read when that happens, so the wait ends at once instead of running out.
  auto lostStream = [&] {
    if (!streamGeneration || m_RouterLink.GetGeneration() == *streamGeneration) {
      return false;
    }
    m_RouterLink.WriteConnectionEventsToLog();
    m_Log.Print(
        "The router link's connection ended after the router image was sent, so its result "
        "cannot arrive: %s",
        GetErrorText(m_RouterLink.GetLastLossCause()).c_str());
    return true;
  };
  if (lostStream()) {
    return Fail(IDS_ROUTER_TRANSFER_FAILED);
  }

  for (;;) {
    uint8_t buffer[512];
    unsigned received = 0;
    const int ok = m_RouterLink.Read(buffer, sizeof buffer, &received, kResultReadTimeoutMs);
    const uint32_t elapsed = static_cast<uint32_t>(TickMs() - start);
    const std::optional<uint32_t> result = ok ? ParseRouterResultRecord(std::span<const uint8_t>(
                                                    buffer, std::min<size_t>(received, sizeof buffer)))
                                              : std::nullopt;
    if (result) {
      const uint32_t code = *result;
      if (code == kRouterResultSuccess) {
        m_Log.Print("TCP_GetRouterResult's ElapsedTime = %u ms", elapsed);
        ShowPercent(100);
        return true;
      }
      m_Log.Print("TCP_GetRouterResult's ElapsedTime = %u ms, Result = %u", elapsed, code);
      Fail(IDS_ROUTER_RESULT_FAIL);
      ShowPercent(100);
      return false;
    }
    if (lostStream()) {
      return Fail(IDS_ROUTER_TRANSFER_FAILED);
    }
    // anything else that arrives meanwhile is passed over
    if (elapsed > limit) {
      return Fail(IDS_ROUTER_RESULT_TIMEOUT);
    }
    ShowPercent(PercentOf(elapsed, limit));
  }
}

bool CUpgradeEngine::RunNvramErase() {
  m_Report.SetCurrentRow(CRowReporter::kNoRow);
  ShowStatus(IDS_ERASING_NVRAM);
  for (int attempt = 0; attempt < 3; ++attempt) {
    {
      CUdpHdlc udp(m_Router.ip, m_Endpoints.udpPort);
      if (udp.EraseRouterNvram(m_Router.ip, m_Router.mac)) {
        return true;
      }
    }
    SleepMs(1000);
  }
  return false;
}
