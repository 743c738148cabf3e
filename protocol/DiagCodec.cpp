#include "protocol/DiagCodec.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/TextCodec.h"
#include "protocol/Hdlc.h"

namespace diag {
namespace {

// Zero-fills the request's bytes in out; false when out cannot hold them.
bool Clear(std::span<uint8_t> out, const CommandShape& shape) {
  if (out.size() < shape.requestLength) return false;
  std::fill_n(out.begin(), shape.requestLength, uint8_t{0});
  return true;
}

// A subsystem request: 4B, the subsystem id, the subsystem command (little-endian), zeros up to
// the request's length.
size_t Subsystem(std::span<uint8_t> out, const CommandShape& shape, uint8_t subsysId, uint16_t subsysCmd) {
  if (!Clear(out, shape)) return 0;
  out[0] = kCmdSubsystem;
  out[1] = subsysId;
  bytes::PutU16LE(&out[2], subsysCmd);
  return shape.requestLength;
}

size_t OneByte(std::span<uint8_t> out, uint8_t code) {
  if (out.empty()) return 0;
  out[0] = code;
  return 1;
}

size_t NvItem(std::span<uint8_t> out, uint8_t cmd, uint16_t item, std::span<const uint8_t> data) {
  if (data.size() > kNvDataMax || !Clear(out, kNvItem)) return 0;
  out[0] = cmd;
  bytes::PutU16LE(&out[kNvItemOffset], item);
  std::copy(data.begin(), data.end(), out.begin() + kNvDataOffset);
  return kNvItem.requestLength;
}

bool EndsText(uint8_t b) { return b == 0x0D || b == 0x0A || b == 0x00 || b == 0xFF; }

// The text of a version field: from offset, at most max bytes, up to the first byte that ends it.
std::string VersionText(std::span<const uint8_t> answer, size_t offset, size_t max) {
  const std::span<const uint8_t> field = answer.subspan(offset, std::min(max, answer.size() - offset));
  return TextFrom8Bit(
      std::span<const uint8_t>(field.begin(), std::find_if(field.begin(), field.end(), EndsText)));
}

}  // namespace

size_t BuildBoardVersionQuery(std::span<uint8_t> out) {
  return Subsystem(out, kBoardVersionQuery, kSubsysVersion, kSubBoardVersion);
}

size_t BuildIsoVersionQuery(std::span<uint8_t> out) {
  return Subsystem(out, kIsoVersionQuery, kSubsysVersion, kSubIsoVersion);
}

size_t BuildSwitchToDownloader(std::span<uint8_t> out) { return OneByte(out, kCmdSwitchToDownloader); }

size_t BuildNvBackupRestore(std::span<uint8_t> out, bool backup) {
  const size_t length = Subsystem(out, kNvBackupRestore, kSubsysNv, kSubBackupRestore);
  // a restore is asked for by 01 01 in the first two data bytes
  if (length != 0 && !backup) {
    out[4] = 0x01;
    out[5] = 0x01;
  }
  return length;
}

size_t BuildRestoreStatusQuery(std::span<uint8_t> out) {
  return Subsystem(out, kRestoreStatusQuery, kSubsysVersion, kSubRestoreStatus);
}

size_t BuildUnlockWake(std::span<uint8_t> out) { return OneByte(out, kDlWake); }

size_t BuildUnlock(std::span<uint8_t> out, std::span<const uint8_t, kUnlockCodeSize> code) {
  if (!Clear(out, kUnlock)) return 0;
  out[0] = kDlUnlock;
  std::copy(code.begin(), code.end(), out.begin() + 1);
  return kUnlock.requestLength;
}

size_t BuildHandShake(std::span<uint8_t> out) {
  if (!Clear(out, kHandShake)) return 0;
  out[0] = kCmdNvRead;  // item 0
  std::copy(kHandShakeSignature.begin(), kHandShakeSignature.end(), out.begin() + kNvDataOffset);
  return kHandShake.requestLength;
}

size_t BuildReset(std::span<uint8_t> out) { return OneByte(out, kDlReset); }

size_t BuildChangeMode(std::span<uint8_t> out, uint8_t mode) {
  if (!Clear(out, kChangeMode)) return 0;
  out[0] = kCmdChangeMode;
  bytes::PutU16LE(&out[1], mode);
  return kChangeMode.requestLength;
}

size_t BuildNvRead(std::span<uint8_t> out, uint16_t item) { return NvItem(out, kCmdNvRead, item, {}); }

size_t BuildNvWrite(std::span<uint8_t> out, uint16_t item, std::span<const uint8_t> data) {
  return NvItem(out, kCmdNvWrite, item, data);
}

size_t BuildWriteBlockFrame(std::span<uint8_t> out, uint32_t address, std::span<const uint8_t> data) {
  if (data.size() > kWriteBlockMax) return 0;
  uint8_t header[kWriteHeaderSize];
  header[0] = kDlWrite;
  bytes::PutU32BE(header + 1, address);
  bytes::PutU16BE(header + 5, static_cast<uint16_t>(data.size()));
  // a full block fits the link's 8210-byte write buffer however many bytes need escaping: 2 flags,
  // the command (never escaped), 2 x 4 address bytes, the length (10 00, never escaped), 2 x 4096
  // data bytes and 2 x 2 FCS bytes make 8209
  HdlcFrameWriter writer(out, true);
  if (!writer.Append(header)) return 0;
  if (!data.empty() && !writer.Append(data)) return 0;
  return writer.Finish();
}

std::array<uint8_t, kWriteAckKeySize> WriteAckKey(uint32_t address) {
  std::array<uint8_t, kWriteAckKeySize> key{kDlAck};
  bytes::PutU32BE(&key[1], address);
  return key;
}

AnswerKind ClassifyAnswer(std::span<const uint8_t> answer) {
  if (answer.empty()) return AnswerKind::Accepted;
  switch (answer[0]) {
    case kErrBadCommand:
    case kErrBadParameter:
    case kErrBadLength:
      return AnswerKind::Refused;
    case kErrNotInThisMode:
    case kDlNak:
      return AnswerKind::RetryLater;
    default:
      return AnswerKind::Accepted;
  }
}

std::optional<std::string> ParseBoardVersion(std::span<const uint8_t> answer) {
  if (answer.size() < kBoardVersionTextOffset) return std::nullopt;
  return VersionText(answer, kBoardVersionTextOffset, kBoardVersionTextMax);
}

std::optional<IsoVersion> ParseIsoVersion(std::span<const uint8_t> answer) {
  uint8_t noDashboard = 0;
  if (!bytes::ReadU8(answer, kIsoNoDashboardOffset, noDashboard)) return std::nullopt;
  IsoVersion version;
  if (noDashboard != 0) return version;
  version.hasDashboard = true;
  version.text = VersionText(answer, kIsoVersionTextOffset, kIsoVersionTextMax);
  return version;
}

std::optional<BackupResult> ParseNvBackupRestore(std::span<const uint8_t> answer) {
  uint8_t flag = 0;
  uint8_t reason = 0;
  if (!bytes::ReadU8(answer, kBackupFlagOffset, flag) ||
      !bytes::ReadU8(answer, kBackupReasonOffset, reason)) {
    return std::nullopt;
  }
  return BackupResult{flag == 0 && reason == 0, reason};
}

std::optional<RestoreStatus> ParseRestoreStatus(std::span<const uint8_t> answer) {
  uint8_t done = 0;
  uint8_t result = 0;
  if (!bytes::ReadU8(answer, kRestoreDoneOffset, done) ||
      !bytes::ReadU8(answer, kRestoreResultOffset, result)) {
    return std::nullopt;
  }
  if (done == 0) return RestoreStatus::NoBackup;
  return done == 1 && result == 0 ? RestoreStatus::Restored : RestoreStatus::Failed;
}

HandShakeAnswer ParseHandShake(std::span<const uint8_t> answer) {
  HandShakeAnswer parsed;
  if (answer.size() < kHandShakeMinLength) return parsed;
  if (!bytes::EqualAt(answer, kHandShakeFixedOffset, kHandShakeFixed)) {
    parsed.verdict = HandShakeAnswer::Verdict::BadFormat;
    return parsed;
  }
  parsed.status = answer[kHandShakeStatusOffset];
  if (parsed.status != 0) {
    parsed.verdict = HandShakeAnswer::Verdict::BadStatus;
    return parsed;
  }
  parsed.verdict = HandShakeAnswer::Verdict::Good;
  parsed.inDownloader = answer[kHandShakeDownloaderOffset] == 1;
  parsed.offline = answer[kHandShakeOfflineOffset] == 1;
  return parsed;
}

std::optional<NvItemAnswer> ParseNvItem(std::span<const uint8_t> answer) {
  NvItemAnswer parsed;
  if (!bytes::ReadU16LE(answer, kNvStatusOffset, parsed.status)) return std::nullopt;
  parsed.data = answer.subspan(kNvDataOffset, kNvDataMax);
  return parsed;
}

DownloadAck ParseDownloadAck(std::span<const uint8_t> answer) {
  if (answer.empty()) return DownloadAck::Unexpected;
  if (answer[0] == kDlAck) return DownloadAck::Acknowledged;
  return answer[0] == kDlNak ? DownloadAck::Refused : DownloadAck::Unexpected;
}

}  // namespace diag
