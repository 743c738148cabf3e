#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The wireless module's command set as bytes: what each request looks like, how its answer is
// matched and what an answer says. Pure functions over spans: no I/O, no log, no state.
//
// The module speaks two languages over the router link. Its normal software takes DIAG requests: a
// one-byte command code, and for the subsystem commands (0x4B) a subsystem id and a 16-bit
// subsystem command, little-endian. It refuses a request with an error code followed by the
// request echoed. Once switched to its downloader it takes one-byte download commands and answers
// each with 0x02 (acknowledged) or 0x03 and a two-byte reason (refused).
//
// Builders write a whole request into out and return its length, or 0 when out is too small (out
// is then left as it was). Parsers read only the answer's own bytes (the span is what arrived, not
// the receive buffer) and say what they read; an answer too short for what a parser needs is
// nullopt, never read as zeros, so a short answer can never pass for a success.
namespace diag {

// --- command codes (first byte of a request) ---
inline constexpr uint8_t kCmdNvRead = 0x26;
inline constexpr uint8_t kCmdNvWrite = 0x27;
inline constexpr uint8_t kCmdChangeMode = 0x29;
inline constexpr uint8_t kCmdSwitchToDownloader = 0x3A;
inline constexpr uint8_t kCmdSubsystem = 0x4B;

// --- subsystem ids and commands ---
inline constexpr uint8_t kSubsysNv = 0xC8;
inline constexpr uint8_t kSubsysVersion = 0xC9;
inline constexpr uint16_t kSubBoardVersion = 0xFF03;
inline constexpr uint16_t kSubBackupRestore = 0xFF1E;
inline constexpr uint16_t kSubRestoreStatus = 0xFF21;
inline constexpr uint16_t kSubIsoVersion = 0xFF24;

// --- the normal software's refusals: the code, then the request echoed ---
inline constexpr uint8_t kErrBadCommand = 0x13;
inline constexpr uint8_t kErrBadParameter = 0x14;
inline constexpr uint8_t kErrBadLength = 0x15;
inline constexpr uint8_t kErrNotInThisMode = 0x18;

// --- download mode ---
inline constexpr uint8_t kDlAck = 0x02;
inline constexpr uint8_t kDlNak = 0x03;  // then the reason, two bytes
inline constexpr size_t kDlNakLength = 3;
inline constexpr uint8_t kDlReset = 0x0A;
inline constexpr uint8_t kDlUnlock = 0x0B;
inline constexpr uint8_t kDlWrite = 0x0F;
// The downloader wants a lone 0x26 before the unlock; it is not answered.
inline constexpr uint8_t kDlWake = 0x26;
inline constexpr size_t kUnlockCodeSize = 8;
// A write block carries at most this many data bytes after its 7-byte header: command, address
// (4, big-endian), data length (2, big-endian).
inline constexpr size_t kWriteBlockMax = 4096;
inline constexpr size_t kWriteHeaderSize = 7;
// The acknowledgement a write block waits for: 0x02 and the block's address (4, big-endian).
inline constexpr size_t kWriteAckKeySize = 5;

// --- how each request travels ---
// requestLength: bytes the builder writes. keyLength: the request's first bytes that the answer
// repeats, which the router link's queue matches it by (0: the answer is matched by kDlAck
// instead). answerLength: the only answer length taken (0: any). leadingFlag: the frame starts
// with a flag (download mode wants one; the hand-shake lets its caller choose).
struct CommandShape {
  uint32_t requestLength;
  uint32_t keyLength;
  uint32_t answerLength;
  bool leadingFlag;
};
inline constexpr CommandShape kBoardVersionQuery{4, 4, 66, false};
inline constexpr CommandShape kIsoVersionQuery{36, 4, 260, false};
inline constexpr CommandShape kSwitchToDownloader{1, 1, 1, false};
inline constexpr CommandShape kNvBackupRestore{8, 4, 8, false};
inline constexpr CommandShape kRestoreStatusQuery{36, 4, 36, false};
inline constexpr CommandShape kUnlock{1 + kUnlockCodeSize, 0, 1, true};
inline constexpr CommandShape kHandShake{133, 4, 0, false};
inline constexpr CommandShape kReset{1, 0, 1, true};
inline constexpr CommandShape kChangeMode{3, 3, 3, false};
inline constexpr CommandShape kNvItem{133, 3, 133, false};

// --- answer layouts ---
// Board version: the text from offset 4, at most 31 characters.
inline constexpr size_t kBoardVersionTextOffset = 4;
inline constexpr size_t kBoardVersionTextMax = 31;
// Dashboard version: byte 4 non-zero means the module carries no dashboard software; else the text
// from offset 5, at most 128 characters.
inline constexpr size_t kIsoNoDashboardOffset = 4;
inline constexpr size_t kIsoVersionTextOffset = 5;
inline constexpr size_t kIsoVersionTextMax = 128;
// NV backup or restore: bytes 5 and 6 both zero is success; byte 6 then says why not.
inline constexpr size_t kBackupFlagOffset = 5;
inline constexpr size_t kBackupReasonOffset = 6;
// Restore status: byte 5 says whether a backup was restored, byte 6 whether that went well.
inline constexpr size_t kRestoreDoneOffset = 5;
inline constexpr size_t kRestoreResultOffset = 6;
// NV items (requests and answers): command, item (2, little-endian), 128 data bytes, status (2,
// little-endian). The hand-shake is an NV read of item 0 carrying its signature at offset 3.
inline constexpr size_t kNvItemOffset = 1;
inline constexpr size_t kNvDataOffset = 3;
inline constexpr size_t kNvDataMax = 128;
inline constexpr size_t kNvStatusOffset = 131;
inline constexpr uint16_t kNvStatusOk = 0;
inline constexpr uint16_t kNvStatusInactive = 5;  // never written
inline constexpr std::array<uint8_t, 4> kHandShakeSignature = {0x25, 0xA7, 0x00, 0x06};
// Hand-shake answer: offsets 1 to 8 as below, the status at 9 (0 is good), 10 to 13 not examined,
// then the two mode flags (1 means set).
inline constexpr size_t kHandShakeFixedOffset = 1;
inline constexpr std::array<uint8_t, 8> kHandShakeFixed = {0x00, 0x00, 0x25, 0xA7, 0x00, 0x06, 0x00, 0x00};
inline constexpr size_t kHandShakeStatusOffset = 9;
inline constexpr size_t kHandShakeDownloaderOffset = 14;
inline constexpr size_t kHandShakeOfflineOffset = 15;
inline constexpr size_t kHandShakeMinLength = 16;

// --- builders ---
size_t BuildBoardVersionQuery(std::span<uint8_t> out);
size_t BuildIsoVersionQuery(std::span<uint8_t> out);
size_t BuildSwitchToDownloader(std::span<uint8_t> out);
size_t BuildNvBackupRestore(std::span<uint8_t> out, bool backup);  // false restores
size_t BuildRestoreStatusQuery(std::span<uint8_t> out);
size_t BuildUnlockWake(std::span<uint8_t> out);
size_t BuildUnlock(std::span<uint8_t> out, std::span<const uint8_t, kUnlockCodeSize> code);
size_t BuildHandShake(std::span<uint8_t> out);
size_t BuildReset(std::span<uint8_t> out);
// The mode travels as a 16-bit little-endian value; the modes in use fit its low byte. The download
// asks for kModeOffline.
inline constexpr uint8_t kModeOffline = 1;
size_t BuildChangeMode(std::span<uint8_t> out, uint8_t mode);
size_t BuildNvRead(std::span<uint8_t> out, uint16_t item);
// 0 as well when data holds more than 128 bytes.
size_t BuildNvWrite(std::span<uint8_t> out, uint16_t item, std::span<const uint8_t> data);
// A write block as the link sends it: the whole frame, with both flags, escaped, with its FCS. 0
// when data holds more than 4096 bytes or the frame might not fit out.
size_t BuildWriteBlockFrame(std::span<uint8_t> out, uint32_t address, std::span<const uint8_t> data);
// The key the link's queue matches the block's acknowledgement by.
std::array<uint8_t, kWriteAckKeySize> WriteAckKey(uint32_t address);

// --- parsers ---
// What a module's answer means to the exchange that waits for it.
enum class AnswerKind {
  Accepted,    // anything else: the command's own parser takes it from here
  Refused,     // 0x13, 0x14 or 0x15: bad command, bad parameter or bad length
  RetryLater,  // 0x18 (not in this mode) or 0x03 (a download-mode refusal): may pass once settled
};
// An empty answer carries no code and is Accepted (its length decides).
AnswerKind ClassifyAnswer(std::span<const uint8_t> answer);

// The text up to the first CR, LF, NUL or 0xFF, or to the end of its field or of the answer;
// 8-bit text as it arrived (TextFrom8Bit makes it UTF-8). nullopt when the answer does not reach
// the text's offset.
std::optional<std::string> ParseBoardVersion(std::span<const uint8_t> answer);
struct IsoVersion {
  bool hasDashboard = false;
  std::string text;  // empty without a dashboard
};
std::optional<IsoVersion> ParseIsoVersion(std::span<const uint8_t> answer);

struct BackupResult {
  bool succeeded = false;
  uint8_t reason = 0;  // byte 6, which names the failure (0 on success)
};
std::optional<BackupResult> ParseNvBackupRestore(std::span<const uint8_t> answer);

enum class RestoreStatus { NoBackup, Restored, Failed };
std::optional<RestoreStatus> ParseRestoreStatus(std::span<const uint8_t> answer);

struct HandShakeAnswer {
  enum class Verdict { Good, TooShort, BadFormat, BadStatus };
  Verdict verdict = Verdict::TooShort;
  uint8_t status = 0;         // read once the fixed bytes matched
  bool inDownloader = false;  // Good only: the module runs its downloader (force-load mode)
  bool offline = false;       // Good only: the module is in offline mode
};
HandShakeAnswer ParseHandShake(std::span<const uint8_t> answer);

struct NvItemAnswer {
  uint16_t status = 0;
  std::span<const uint8_t> data;  // the 128 data bytes, inside the answer
};
std::optional<NvItemAnswer> ParseNvItem(std::span<const uint8_t> answer);

// The downloader's answer to a command (unlock, write block, reset): acknowledged only by 0x02.
// 0x03 is its refusal; anything else was never meant for the command (with the acknowledgement as
// its key, the link's queue lets only these two through).
enum class DownloadAck { Acknowledged, Refused, Unexpected };
DownloadAck ParseDownloadAck(std::span<const uint8_t> answer);

}  // namespace diag
