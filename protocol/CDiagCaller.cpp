#include "protocol/CDiagCaller.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "log/CDownloadLog.h"
#include "platform/Clock.h"
#include "platform/StopRequest.h"
#include "platform/TextCodec.h"
#include "protocol/CHdlcAdapter.h"

namespace {

constexpr int kTries = 5;
constexpr uint32_t kWriteTimeoutMs = 3000;
constexpr uint32_t kReadTimeoutMs = 3000;
constexpr uint32_t kHandShakeTimeoutMs = 6000;
constexpr uint32_t kRetryPauseMs = 200;
constexpr uint32_t kDownloadReadTimeoutMs = 5000;
constexpr unsigned kDownloadAckMax = 5;
constexpr uint8_t kFill = 0xCD;

// the NV item commands carry 3 header bytes, 128 data bytes and a 16-bit status
constexpr uint32_t kNvFrameSize = 133;
constexpr uint32_t kNvDataMax = 128;
constexpr size_t kNvStatusOffset = 131;

bool IsDiagError(uint8_t b) { return b == 0x13 || b == 0x14 || b == 0x15; }

// a version text runs up to CR, LF, NUL or 0xFF, or to the end of its field
std::string VersionText(const uint8_t* begin, const uint8_t* end) {
  const uint8_t* stop =
      std::find_if(begin, end, [](uint8_t b) { return b == 0x0D || b == 0x0A || b == 0x00 || b == 0xFF; });
  return TextFrom8Bit(std::span<const uint8_t>(begin, stop));
}

const char* NvStatusText(uint16_t status) {
  static const char* const kTexts[] = {
      "",
      "Internal DMSS use",
      "Unrecognizable command",
      "NV Memory is full",
      "Command failed",
      "Variable was not active (never written)",
      "Bad parameter in command block",
      "Item was read-only",
      "Item not defined for this target",
      "Free memory exhausted",
      "Internal use",
  };
  return status <= 10 ? kTexts[status] : "Unknown status";
}

}  // namespace

void DiagRequest::Serialize(uint8_t out[132]) const {
  out[0] = cmd;
  out[1] = subsysId;
  out[2] = static_cast<uint8_t>(subsysCmd);
  out[3] = static_cast<uint8_t>(subsysCmd >> 8);
  std::memcpy(out + 4, data, sizeof data);
}

CDiagCaller::CDiagCaller(CHdlcAdapter* adapter, CDownloadLog* log) : m_pAdapter(adapter), m_pLog(log) {}

void CDiagCaller::Log(const char* format, ...) {
  // after the thread's stop request a command fails only because its wait was cut short
  if (m_pLog == nullptr || StopRequestedHere()) return;
  va_list args;
  va_start(args, format);
  m_pLog->PrintV(format, args);
  va_end(args);
}

void CDiagCaller::SetResponseKey(const uint8_t* key, unsigned length) {
  if (m_pAdapter != nullptr) m_pAdapter->SetResponseKey(key, std::min(length, 16u));
}

int CDiagCaller::Execute(const uint8_t* request, uint32_t length, uint32_t expectedLength, bool leadingFlag,
                         uint32_t readTimeout) {
  if (m_pAdapter == nullptr || request == nullptr || length == 0 || length > kHdlcMaxPayload) return 0;
  for (int n = 1; n <= kTries; ++n) {
    // a stopped Check sends no more requests, and a wait ended by the stop is no failure to log
    if (StopRequestedHere()) return 0;
    if (!m_pAdapter->Write(false, request, static_cast<int>(length), leadingFlag, kWriteTimeoutMs)) {
      if (StopRequestedHere()) return 0;
      Log("Execute#%d> Write Fail", n);
      SleepMs(kRetryPauseMs);
      continue;
    }
    std::memset(m_Response, kFill, sizeof m_Response);
    unsigned received = 0;
    const int read = m_pAdapter->Read(m_Response, sizeof m_Response, &received, readTimeout);
    m_ResponseLength = std::min<uint32_t>(received, sizeof m_Response);
    if (!read) {
      if (StopRequestedHere()) return 0;
      Log("Execute#%d> Read Fail", n);
      SleepMs(kRetryPauseMs);
      continue;
    }
    // bad command, bad parameter, bad length: the module will not change its mind
    if (IsDiagError(m_Response[0])) {
      Log("Execute#%d> %02X", n, m_Response[0]);
      return 0;
    }
    // a download-mode refusal or "not in this mode" may pass once the module has settled
    if (m_Response[0] == 0x03 || m_Response[0] == 0x18) {
      Log("Execute#%d> (%02X %02X %02X)", n, m_Response[0], m_Response[1], m_Response[2]);
      SleepMs(kRetryPauseMs);
      continue;
    }
    if (expectedLength != 0 && expectedLength != m_ResponseLength) {
      Log("CDiagCaller::Execute> Response's Length Error(Expect:%d Actual:%d)",
          static_cast<int>(expectedLength), static_cast<int>(m_ResponseLength));
      SleepMs(kRetryPauseMs);
      continue;
    }
    return 1;
  }
  return 0;
}

int CDiagCaller::Execute(const DiagRequest& request, bool leadingFlag, uint32_t readTimeout) {
  uint8_t bytes[132];
  if (request.length > sizeof bytes) return 0;
  request.Serialize(bytes);
  return Execute(bytes, request.length, request.expectedLength, leadingFlag, readTimeout);
}

int CDiagCaller::RunCommand(const DiagRequest& request, unsigned keyLength, bool leadingFlag,
                            uint32_t readTimeout) {
  uint8_t bytes[132];
  request.Serialize(bytes);
  SetResponseKey(bytes, keyLength);
  return Execute(request, leadingFlag, readTimeout);
}

int CDiagCaller::DIAG_QueryBoardVersion(std::string* version) {
  DiagRequest request(4, 66);
  request.cmd = 0x4B;
  request.subsysId = 0xC9;
  request.subsysCmd = 0xFF03;
  if (!RunCommand(request, 4, false, kReadTimeoutMs)) {
    Log("DIAG_QueryBoardVersion: Write or Read Fail");
    if (version != nullptr) *version = "Failed to read";
    return 0;
  }
  // at most 31 characters from offset 4
  const std::string text = VersionText(m_Response + 4, m_Response + 35);
  if (version != nullptr) *version = text;
  Log("Firmware Version: %s", PrintableText(text).c_str());
  return 1;
}

int CDiagCaller::DIAG_QueryISOVersion(std::string* version) {
  DiagRequest request(36, 260);
  request.cmd = 0x4B;
  request.subsysId = 0xC9;
  request.subsysCmd = 0xFF24;
  if (!RunCommand(request, 4, false, kReadTimeoutMs)) {
    Log("DIAG_QueryISOVersion: Write or Read Fail");
    if (version != nullptr) *version = "Failed to read";
    return 0;
  }
  // byte 4 non-zero: the module carries no dashboard software
  if (m_Response[4] != 0) {
    if (version != nullptr) *version = "No version";
    return 1;
  }
  // at most 128 characters from offset 5
  const std::string text = VersionText(m_Response + 5, m_Response + 133);
  if (version != nullptr) *version = text;
  Log("Dashboard Version: %s", PrintableText(text).c_str());
  return 1;
}

int CDiagCaller::DIAG_SwitchToDownloader() {
  const uint8_t request[1] = {0x3A};
  SetResponseKey(request, 1);
  if (!Execute(request, 1, 1, false, kReadTimeoutMs)) {
    Log("DIAG_SwitchToDownloader: Write or Read Fail");
    return 0;
  }
  return 1;
}

int CDiagCaller::DIAG_NV_BackupRestore(bool backup) {
  const char* name = backup ? "Backup NV" : "Restore NV";
  DiagRequest request(8, 8);
  request.cmd = 0x4B;
  request.subsysId = 0xC8;
  request.subsysCmd = 0xFF1E;
  if (!backup) {
    request.data[0] = 0x01;
    request.data[1] = 0x01;
  }
  if (!RunCommand(request, 4, false, kReadTimeoutMs)) {
    Log("%s: Write or Read Fail", name);
    return 0;
  }
  if (m_Response[5] == 0 && m_Response[6] == 0) return 1;
  switch (m_Response[6]) {
    case 1:
      Log("%s: 单板状态不正确", name);
      break;
    case 2:
      Log("%s: 不存在有效的备份", name);
      break;
    case 3:
      Log("%s: CRC校验失败", name);
      break;
    case 4:
      Log("%s: NV操作失败", name);
      break;
    default:
      break;
  }
  return 0;
}

int CDiagCaller::DIAG_NV_QueryRestoreStatus() {
  DiagRequest request(36, 36);
  request.cmd = 0x4B;
  request.subsysId = 0xC9;
  request.subsysCmd = 0xFF21;
  if (!RunCommand(request, 4, false, kReadTimeoutMs)) {
    Log("DIAG_NV_QueryRestoreStatus: Write or Read Fail");
    return 0;
  }
  if (m_Response[5] == 0) {
    Log("DIAG_NV_QueryRestoreStatus: No Backup to Restore");
    return 1;
  }
  if (m_Response[5] == 1 && m_Response[6] == 0) {
    Log("DIAG_NV_QueryRestoreStatus: Restore Success");
    return 1;
  }
  Log("DIAG_NV_QueryRestoreStatus: Restore Fail");
  return 0;
}

int CDiagCaller::DIAG_Unlock(const uint8_t code[8]) {
  const uint8_t key[1] = {0x02};
  SetResponseKey(key, 1);
  // the downloader wants a lone 26 first; it is not answered
  const uint8_t wake[1] = {0x26};
  if (m_pAdapter != nullptr) m_pAdapter->Write(false, wake, 1, true, kWriteTimeoutMs);
  uint8_t request[9] = {0x0B};
  if (code != nullptr) std::memcpy(request + 1, code, 8);
  if (!Execute(request, sizeof request, 1, true, kReadTimeoutMs)) {
    Log("DIAG_Unlock: Write or Read Fail");
    return 0;
  }
  return 1;
}

int CDiagCaller::DIAG_HandShake(bool leadingFlag, int* inDownloader, int* offline) {
  if (inDownloader != nullptr) *inDownloader = 1;
  if (offline != nullptr) *offline = 1;
  // an NV read of item 0 with 25 A7 00 06 at offset 3
  uint8_t request[kNvFrameSize] = {0x26, 0x00, 0x00, 0x25, 0xA7, 0x00, 0x06};
  SetResponseKey(request, 4);
  if (!Execute(request, sizeof request, 0, leadingFlag, kHandShakeTimeoutMs)) {
    Log("DIAG_HandShake: Write or Read Fail");
    return 0;
  }
  if (m_ResponseLength < 16) {
    Log("DIAG_HandShake: Response Length = %d (too short)", static_cast<int>(m_ResponseLength));
    return 0;
  }
  static const uint8_t kFormat[8] = {0x00, 0x00, 0x25, 0xA7, 0x00, 0x06, 0x00, 0x00};
  if (std::memcmp(m_Response + 1, kFormat, sizeof kFormat) != 0) {
    Log("DIAG_HandShake: Response's format error");
    return 0;
  }
  if (m_Response[9] != 0) {
    Log("DIAG_HandShake: status = %d", m_Response[9]);
    return 0;
  }
  const int downloader = m_Response[14] == 1 ? 1 : 0;
  const int offlineMode = m_Response[15] == 1 ? 1 : 0;
  if (inDownloader != nullptr) *inDownloader = downloader;
  if (offline != nullptr) *offline = offlineMode;
  Log("DIAG_HandShake: (%d,%d)", downloader, offlineMode);
  return 1;
}

int CDiagCaller::DIAG_Reset() {
  const uint8_t key[1] = {0x02};
  SetResponseKey(key, 1);
  const uint8_t request[1] = {0x0A};
  if (!Execute(request, 1, 1, true, kReadTimeoutMs)) {
    Log("DIAG_Reset: Write or Read Fail");
    return 0;
  }
  return 1;
}

int CDiagCaller::DIAG_ChangeMode(uint8_t mode) {
  const uint8_t request[3] = {0x29, mode, 0x00};
  SetResponseKey(request, 3);
  if (!Execute(request, 3, 3, false, kReadTimeoutMs)) {
    Log("DIAG_ChangeMode: Write or Read Fail");
    return 0;
  }
  return 1;
}

int CDiagCaller::NvCommand(uint8_t cmd, const char* prefix, uint16_t item, const uint8_t* source,
                           uint32_t length, uint16_t* status) {
  uint8_t request[kNvFrameSize] = {cmd, static_cast<uint8_t>(item), static_cast<uint8_t>(item >> 8)};
  if (source != nullptr) std::memcpy(request + 3, source, length);
  SetResponseKey(request, 3);
  if (!Execute(request, sizeof request, kNvFrameSize, false, kReadTimeoutMs)) {
    Log("%s: Write or Read Fail", prefix);
    return -1;
  }
  const uint16_t value =
      static_cast<uint16_t>(m_Response[kNvStatusOffset] | (m_Response[kNvStatusOffset + 1] << 8));
  if (status != nullptr) *status = value;
  if (value != 0) Log("%s: %s", prefix, NvStatusText(value));
  return value;
}

int CDiagCaller::DIAG_Read_NV(uint16_t item, uint8_t* destination, uint32_t length, uint16_t* status) {
  if (length > kNvDataMax || (destination == nullptr && length != 0)) return 0;
  const int value = NvCommand(0x26, "DIAG_Read_NV", item, nullptr, 0, status);
  if (value == 0) {
    if (length != 0) std::memcpy(destination, m_Response + 3, length);
    return 1;
  }
  // an item never written reads as zeros
  if (value == 5) {
    if (length != 0) std::memset(destination, 0, length);
    return 1;
  }
  return 0;
}

int CDiagCaller::DIAG_Write_NV(uint16_t item, const uint8_t* source, uint32_t length, uint16_t* status) {
  if (length > kNvDataMax || (source == nullptr && length != 0)) return 0;
  return NvCommand(0x27, "DIAG_Write_NV", item, source, length, status) == 0 ? 1 : 0;
}

int CDiagCaller::DIAG_Write(uint32_t frameLength) {
  if (m_pAdapter == nullptr || frameLength == 0 || frameLength > kHdlcWriteBufferSize) return 0;
  const uint8_t* frame = m_pAdapter->GetWriteBuffer();
  if (frame == nullptr) return 0;
  for (int n = 1; n <= kTries; ++n) {
    if (!m_pAdapter->Write(true, frame, static_cast<int>(frameLength), false, kWriteTimeoutMs)) {
      Log("DIAG_Write#%d> Write Fail", n);
      continue;
    }
    unsigned received = 0;
    const int read = m_pAdapter->Read(m_Response, kDownloadAckMax, &received, kDownloadReadTimeoutMs);
    m_ResponseLength = std::min<uint32_t>(received, kDownloadAckMax);
    if (!read) {
      Log("DIAG_Write#%d> Read Fail", n);
      continue;
    }
    if (m_Response[0] == 0x03) {
      Log("DIAG_Write#%d> Exec Fail", n);
      continue;
    }
    return 1;
  }
  return 0;
}
