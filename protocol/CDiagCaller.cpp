#include "protocol/CDiagCaller.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "log/CDownloadLog.h"
#include "platform/Clock.h"
#include "platform/StopRequest.h"
#include "platform/TextCodec.h"
#include "protocol/CHdlcAdapter.h"
#include "protocol/DiagCodec.h"

namespace {

constexpr int kTries = 5;
constexpr uint32_t kWriteTimeoutMs = 3000;
constexpr uint32_t kReadTimeoutMs = 3000;
constexpr uint32_t kHandShakeTimeoutMs = 6000;
constexpr uint32_t kRetryPauseMs = 200;
constexpr uint32_t kDownloadReadTimeoutMs = 5000;
constexpr unsigned kDownloadAckMax = 5;

// The log texts of an NV item status (the line is the operation's prefix, ": " and the text).
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

// The log texts of a refused NV backup or restore, by answer byte 6 (the line is "Backup NV: " or
// "Restore NV: " and the text). The texts stay as they are: log readers search for them. Other
// reasons are not logged.
const char* BackupFailureText(uint8_t reason) {
  switch (reason) {
    case 1:
      return "单板状态不正确";  // the board is not in the right state
    case 2:
      return "不存在有效的备份";  // no valid backup exists
    case 3:
      return "CRC校验失败";  // the CRC check failed
    case 4:
      return "NV操作失败";  // the NV operation failed
    default:
      return nullptr;
  }
}

}  // namespace

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

int CDiagCaller::Execute(std::span<const uint8_t> request, uint32_t expectedLength, bool leadingFlag,
                         uint32_t readTimeout, DiagAnswer& answer) {
  if (m_pAdapter == nullptr || request.empty() || request.size() > kHdlcMaxPayload) return 0;
  for (int n = 1; n <= kTries; ++n) {
    // a stopped Check sends no more requests, and a wait ended by the stop is no failure to log
    if (StopRequestedHere()) return 0;
    if (!m_pAdapter->Write(false, request.data(), static_cast<int>(request.size()), leadingFlag,
                           kWriteTimeoutMs)) {
      if (StopRequestedHere()) return 0;
      Log("Execute#%d> Write Fail", n);
      SleepMs(kRetryPauseMs);
      continue;
    }
    answer.m_Bytes.fill(DiagAnswer::kFill);
    unsigned received = 0;
    const int read = m_pAdapter->Read(answer.m_Bytes.data(), DiagAnswer::kCapacity, &received, readTimeout);
    answer.m_Length = std::min<uint32_t>(received, DiagAnswer::kCapacity);
    if (!read) {
      if (StopRequestedHere()) return 0;
      Log("Execute#%d> Read Fail", n);
      SleepMs(kRetryPauseMs);
      continue;
    }
    switch (diag::ClassifyAnswer(answer.Bytes())) {
      case diag::AnswerKind::Refused:
        // bad command, bad parameter, bad length: the module will not change its mind
        Log("Execute#%d> %02X", n, answer.At(0));
        return 0;
      case diag::AnswerKind::RetryLater:
        // a download-mode refusal or "not in this mode" may pass once the module has settled
        Log("Execute#%d> (%02X %02X %02X)", n, answer.At(0), answer.At(1), answer.At(2));
        SleepMs(kRetryPauseMs);
        continue;
      case diag::AnswerKind::Accepted:
        break;
    }
    if (expectedLength != 0 && expectedLength != answer.m_Length) {
      Log("CDiagCaller::Execute> Response's Length Error(Expect:%d Actual:%d)",
          static_cast<int>(expectedLength), static_cast<int>(answer.m_Length));
      SleepMs(kRetryPauseMs);
      continue;
    }
    return 1;
  }
  return 0;
}

int CDiagCaller::RunCommand(std::span<const uint8_t> request, uint32_t keyLength, uint32_t answerLength,
                            bool leadingFlag, uint32_t readTimeout, DiagAnswer& answer) {
  if (request.empty()) return 0;
  SetResponseKey(request.data(), std::min<uint32_t>(keyLength, static_cast<uint32_t>(request.size())));
  return Execute(request, answerLength, leadingFlag, readTimeout, answer);
}

int CDiagCaller::DIAG_QueryBoardVersion(std::string* version) {
  constexpr diag::CommandShape shape = diag::kBoardVersionQuery;
  uint8_t request[shape.requestLength];
  DiagAnswer answer;
  std::optional<std::string> text;
  if (diag::BuildBoardVersionQuery(request) != 0 &&
      RunCommand(request, shape.keyLength, shape.answerLength, shape.leadingFlag, kReadTimeoutMs, answer)) {
    text = diag::ParseBoardVersion(answer.Bytes());
  }
  if (!text) {
    Log("DIAG_QueryBoardVersion: Write or Read Fail");
    if (version != nullptr) *version = "Failed to read";
    return 0;
  }
  if (version != nullptr) *version = *text;
  Log("Firmware Version: %s", PrintableText(*text).c_str());
  return 1;
}

int CDiagCaller::DIAG_QueryISOVersion(std::string* version) {
  constexpr diag::CommandShape shape = diag::kIsoVersionQuery;
  uint8_t request[shape.requestLength];
  DiagAnswer answer;
  std::optional<diag::IsoVersion> parsed;
  if (diag::BuildIsoVersionQuery(request) != 0 &&
      RunCommand(request, shape.keyLength, shape.answerLength, shape.leadingFlag, kReadTimeoutMs, answer)) {
    parsed = diag::ParseIsoVersion(answer.Bytes());
  }
  if (!parsed) {
    Log("DIAG_QueryISOVersion: Write or Read Fail");
    if (version != nullptr) *version = "Failed to read";
    return 0;
  }
  if (!parsed->hasDashboard) {
    if (version != nullptr) *version = "No version";
    return 1;
  }
  if (version != nullptr) *version = parsed->text;
  Log("Dashboard Version: %s", PrintableText(parsed->text).c_str());
  return 1;
}

int CDiagCaller::DIAG_SwitchToDownloader() {
  constexpr diag::CommandShape shape = diag::kSwitchToDownloader;
  uint8_t request[shape.requestLength];
  DiagAnswer answer;
  if (diag::BuildSwitchToDownloader(request) == 0 ||
      !RunCommand(request, shape.keyLength, shape.answerLength, shape.leadingFlag, kReadTimeoutMs, answer)) {
    Log("DIAG_SwitchToDownloader: Write or Read Fail");
    return 0;
  }
  return 1;
}

int CDiagCaller::DIAG_NV_BackupRestore(bool backup) {
  const char* name = backup ? "Backup NV" : "Restore NV";
  constexpr diag::CommandShape shape = diag::kNvBackupRestore;
  uint8_t request[shape.requestLength];
  DiagAnswer answer;
  if (diag::BuildNvBackupRestore(request, backup) == 0 ||
      !RunCommand(request, shape.keyLength, shape.answerLength, shape.leadingFlag, kReadTimeoutMs, answer)) {
    Log("%s: Write or Read Fail", name);
    return 0;
  }
  const std::optional<diag::BackupResult> result = diag::ParseNvBackupRestore(answer.Bytes());
  if (result && result->succeeded) return 1;
  if (const char* text = result ? BackupFailureText(result->reason) : nullptr) Log("%s: %s", name, text);
  return 0;
}

int CDiagCaller::DIAG_NV_QueryRestoreStatus() {
  constexpr diag::CommandShape shape = diag::kRestoreStatusQuery;
  uint8_t request[shape.requestLength];
  DiagAnswer answer;
  if (diag::BuildRestoreStatusQuery(request) == 0 ||
      !RunCommand(request, shape.keyLength, shape.answerLength, shape.leadingFlag, kReadTimeoutMs, answer)) {
    Log("DIAG_NV_QueryRestoreStatus: Write or Read Fail");
    return 0;
  }
  switch (diag::ParseRestoreStatus(answer.Bytes()).value_or(diag::RestoreStatus::Failed)) {
    case diag::RestoreStatus::NoBackup:
      Log("DIAG_NV_QueryRestoreStatus: No Backup to Restore");
      return 1;
    case diag::RestoreStatus::Restored:
      Log("DIAG_NV_QueryRestoreStatus: Restore Success");
      return 1;
    case diag::RestoreStatus::Failed:
      break;
  }
  Log("DIAG_NV_QueryRestoreStatus: Restore Fail");
  return 0;
}

int CDiagCaller::DIAG_Unlock(const uint8_t code[8]) {
  constexpr diag::CommandShape shape = diag::kUnlock;
  uint8_t request[shape.requestLength];
  std::array<uint8_t, diag::kUnlockCodeSize> unlockCode{};
  if (code != nullptr) std::copy_n(code, unlockCode.size(), unlockCode.begin());
  const uint8_t key[1] = {diag::kDlAck};
  SetResponseKey(key, 1);
  // the downloader wants its wake byte first; it is not answered
  uint8_t wake[1];
  if (m_pAdapter != nullptr && diag::BuildUnlockWake(wake) != 0) {
    m_pAdapter->Write(false, wake, sizeof wake, true, kWriteTimeoutMs);
  }
  DiagAnswer answer;
  if (diag::BuildUnlock(request, unlockCode) == 0 ||
      !Execute(request, shape.answerLength, shape.leadingFlag, kReadTimeoutMs, answer) ||
      diag::ParseDownloadAck(answer.Bytes()) != diag::DownloadAck::Acknowledged) {
    Log("DIAG_Unlock: Write or Read Fail");
    return 0;
  }
  return 1;
}

int CDiagCaller::DIAG_HandShake(bool leadingFlag, int* inDownloader, int* offline) {
  if (inDownloader != nullptr) *inDownloader = 1;
  if (offline != nullptr) *offline = 1;
  constexpr diag::CommandShape shape = diag::kHandShake;
  uint8_t request[shape.requestLength];
  DiagAnswer answer;
  if (diag::BuildHandShake(request) == 0 ||
      !RunCommand(request, shape.keyLength, shape.answerLength, leadingFlag, kHandShakeTimeoutMs, answer)) {
    Log("DIAG_HandShake: Write or Read Fail");
    return 0;
  }
  const diag::HandShakeAnswer parsed = diag::ParseHandShake(answer.Bytes());
  switch (parsed.verdict) {
    case diag::HandShakeAnswer::Verdict::TooShort:
      Log("DIAG_HandShake: Response Length = %d (too short)", static_cast<int>(answer.Bytes().size()));
      return 0;
    case diag::HandShakeAnswer::Verdict::BadFormat:
      Log("DIAG_HandShake: Response's format error");
      return 0;
    case diag::HandShakeAnswer::Verdict::BadStatus:
      Log("DIAG_HandShake: status = %d", parsed.status);
      return 0;
    case diag::HandShakeAnswer::Verdict::Good:
      break;
  }
  const int downloader = parsed.inDownloader ? 1 : 0;
  const int offlineMode = parsed.offline ? 1 : 0;
  if (inDownloader != nullptr) *inDownloader = downloader;
  if (offline != nullptr) *offline = offlineMode;
  Log("DIAG_HandShake: (%d,%d)", downloader, offlineMode);
  return 1;
}

int CDiagCaller::DIAG_Reset() {
  constexpr diag::CommandShape shape = diag::kReset;
  uint8_t request[shape.requestLength];
  const uint8_t key[1] = {diag::kDlAck};
  SetResponseKey(key, 1);
  DiagAnswer answer;
  if (diag::BuildReset(request) == 0 ||
      !Execute(request, shape.answerLength, shape.leadingFlag, kReadTimeoutMs, answer) ||
      diag::ParseDownloadAck(answer.Bytes()) != diag::DownloadAck::Acknowledged) {
    Log("DIAG_Reset: Write or Read Fail");
    return 0;
  }
  return 1;
}

int CDiagCaller::DIAG_ChangeMode(uint8_t mode) {
  constexpr diag::CommandShape shape = diag::kChangeMode;
  uint8_t request[shape.requestLength];
  DiagAnswer answer;
  if (diag::BuildChangeMode(request, mode) == 0 ||
      !RunCommand(request, shape.keyLength, shape.answerLength, shape.leadingFlag, kReadTimeoutMs, answer)) {
    Log("DIAG_ChangeMode: Write or Read Fail");
    return 0;
  }
  return 1;
}

int CDiagCaller::NvCommand(std::span<const uint8_t> request, const char* prefix, uint16_t* status,
                           uint8_t* data, uint32_t length) {
  constexpr diag::CommandShape shape = diag::kNvItem;
  DiagAnswer answer;
  std::optional<diag::NvItemAnswer> parsed;
  if (request.size() == shape.requestLength &&
      RunCommand(request, shape.keyLength, shape.answerLength, shape.leadingFlag, kReadTimeoutMs, answer)) {
    parsed = diag::ParseNvItem(answer.Bytes());
  }
  if (!parsed) {
    Log("%s: Write or Read Fail", prefix);
    return -1;
  }
  if (status != nullptr) *status = parsed->status;
  if (parsed->status != diag::kNvStatusOk) {
    Log("%s: %s", prefix, NvStatusText(parsed->status));
  } else if (data != nullptr) {
    std::copy_n(parsed->data.begin(), std::min<size_t>(length, parsed->data.size()), data);
  }
  return parsed->status;
}

int CDiagCaller::DIAG_Read_NV(uint16_t item, uint8_t* destination, uint32_t length, uint16_t* status) {
  if (length > diag::kNvDataMax || (destination == nullptr && length != 0)) return 0;
  uint8_t request[diag::kNvItem.requestLength];
  const size_t built = diag::BuildNvRead(request, item);
  const int value =
      NvCommand(std::span<const uint8_t>(request, built), "DIAG_Read_NV", status, destination, length);
  if (value == diag::kNvStatusOk) return 1;
  // an item never written reads as zeros
  if (value == diag::kNvStatusInactive) {
    if (length != 0) std::memset(destination, 0, length);
    return 1;
  }
  return 0;
}

int CDiagCaller::DIAG_Write_NV(uint16_t item, const uint8_t* source, uint32_t length, uint16_t* status) {
  if (length > diag::kNvDataMax || (source == nullptr && length != 0)) return 0;
  uint8_t request[diag::kNvItem.requestLength];
  const size_t built =
      diag::BuildNvWrite(request, item, std::span<const uint8_t>(source, source != nullptr ? length : 0));
  return NvCommand(std::span<const uint8_t>(request, built), "DIAG_Write_NV", status, nullptr, 0) ==
                 diag::kNvStatusOk
             ? 1
             : 0;
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
    uint8_t ack[kDownloadAckMax];
    unsigned received = 0;
    if (!m_pAdapter->Read(ack, sizeof ack, &received, kDownloadReadTimeoutMs)) {
      Log("DIAG_Write#%d> Read Fail", n);
      continue;
    }
    switch (diag::ParseDownloadAck(std::span<const uint8_t>(ack, std::min<unsigned>(received, sizeof ack)))) {
      case diag::DownloadAck::Acknowledged:
        return 1;
      case diag::DownloadAck::Refused:
        Log("DIAG_Write#%d> Exec Fail", n);
        break;
      case diag::DownloadAck::Unexpected:
        // only a caller that set no key can meet this: the block is not taken as written
        Log("DIAG_Write#%d> Unexpected answer", n);
        break;
    }
  }
  return 0;
}
