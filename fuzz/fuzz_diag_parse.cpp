// Any bytes as a module's answer, through every DIAG parser; and the same bytes as a download block
// through the write-frame builder and back through the frame decoder. Checks: each parser reads
// only the bytes it promises (garbage appended past its fields changes nothing, a too-short answer
// is refused rather than read as zeros), a success says what the bytes say, version texts stop at
// their ends and stay valid UTF-8, and every block of up to 4096 bytes frames into the link's
// buffer and decodes back to the command, its address, its length and its data.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "platform/TextCodec.h"
#include "protocol/DiagCodec.h"
#include "protocol/Hdlc.h"

namespace {

using Span = std::span<const uint8_t>;

bool SameBoard(const std::optional<std::string>& a, const std::optional<std::string>& b) { return a == b; }

bool SameIso(const std::optional<diag::IsoVersion>& a, const std::optional<diag::IsoVersion>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (a->hasDashboard == b->hasDashboard && a->text == b->text);
}

void CheckText(const std::string& text, size_t max) {
  // 8-bit text read as Latin-1 takes at most two UTF-8 bytes a character
  if (text.size() > 2 * max || !IsValidUtf8(text)) std::abort();
  for (char ch : text) {
    if (ch == '\r' || ch == '\n' || ch == '\0') std::abort();
  }
}

void CheckParsers(Span answer) {
  const size_t n = answer.size();

  const diag::AnswerKind kind = diag::ClassifyAnswer(answer);
  const int first = n == 0 ? -1 : answer[0];
  const bool refused = first == 0x13 || first == 0x14 || first == 0x15;
  const bool retry = first == 0x18 || first == 0x03;
  if ((kind == diag::AnswerKind::Refused) != refused || (kind == diag::AnswerKind::RetryLater) != retry) {
    std::abort();
  }

  const std::optional<std::string> board = diag::ParseBoardVersion(answer);
  if (board.has_value() != (n >= diag::kBoardVersionTextOffset)) std::abort();
  if (board) CheckText(*board, diag::kBoardVersionTextMax);

  const std::optional<diag::IsoVersion> iso = diag::ParseIsoVersion(answer);
  if (iso.has_value() != (n > diag::kIsoNoDashboardOffset)) std::abort();
  if (iso) {
    if (iso->hasDashboard != (answer[diag::kIsoNoDashboardOffset] == 0)) std::abort();
    if (!iso->hasDashboard && !iso->text.empty()) std::abort();
    CheckText(iso->text, diag::kIsoVersionTextMax);
  }

  const std::optional<diag::BackupResult> backup = diag::ParseNvBackupRestore(answer);
  if (backup.has_value() != (n > diag::kBackupReasonOffset)) std::abort();
  if (backup && backup->succeeded != (answer[5] == 0 && answer[6] == 0)) std::abort();

  const std::optional<diag::RestoreStatus> restore = diag::ParseRestoreStatus(answer);
  if (restore.has_value() != (n > diag::kRestoreResultOffset)) std::abort();
  if (restore == diag::RestoreStatus::Restored && (answer[5] != 1 || answer[6] != 0)) std::abort();
  if (restore == diag::RestoreStatus::NoBackup && answer[5] != 0) std::abort();

  const diag::HandShakeAnswer shake = diag::ParseHandShake(answer);
  if ((shake.verdict == diag::HandShakeAnswer::Verdict::TooShort) != (n < diag::kHandShakeMinLength))
    std::abort();
  if (shake.verdict == diag::HandShakeAnswer::Verdict::Good) {
    if (!std::equal(diag::kHandShakeFixed.begin(), diag::kHandShakeFixed.end(), answer.begin() + 1))
      std::abort();
    if (answer[9] != 0 || shake.inDownloader != (answer[14] == 1) || shake.offline != (answer[15] == 1)) {
      std::abort();
    }
  } else if (shake.inDownloader || shake.offline) {
    std::abort();
  }

  const std::optional<diag::NvItemAnswer> item = diag::ParseNvItem(answer);
  if (item.has_value() != (n >= diag::kNvItem.answerLength)) std::abort();
  if (item) {
    if (item->data.data() != answer.data() + diag::kNvDataOffset || item->data.size() != diag::kNvDataMax) {
      std::abort();
    }
    if (item->status != (answer[131] | (answer[132] << 8))) std::abort();
  }

  const diag::DownloadAck ack = diag::ParseDownloadAck(answer);
  if ((ack == diag::DownloadAck::Acknowledged) != (first == 0x02)) std::abort();
  if ((ack == diag::DownloadAck::Refused) != (first == 0x03)) std::abort();
}

// The answer followed by other bytes must parse alike wherever the parser promised to stop.
void CheckBounds(Span answer) {
  std::vector<uint8_t> longer(answer.begin(), answer.end());
  for (int garbage : {0x00, 0x0D, 0xFF, 0x41}) {
    longer.resize(answer.size());
    longer.resize(answer.size() + 200, static_cast<uint8_t>(garbage));
    const Span more(longer);
    const size_t boardEnd = diag::kBoardVersionTextOffset + diag::kBoardVersionTextMax;
    if (answer.size() >= boardEnd &&
        !SameBoard(diag::ParseBoardVersion(answer), diag::ParseBoardVersion(more))) {
      std::abort();
    }
    const size_t isoEnd = diag::kIsoVersionTextOffset + diag::kIsoVersionTextMax;
    if (answer.size() >= isoEnd && !SameIso(diag::ParseIsoVersion(answer), diag::ParseIsoVersion(more))) {
      std::abort();
    }
    if (answer.size() >= diag::kHandShakeMinLength) {
      const diag::HandShakeAnswer a = diag::ParseHandShake(answer);
      const diag::HandShakeAnswer b = diag::ParseHandShake(more);
      if (a.verdict != b.verdict || a.status != b.status || a.inDownloader != b.inDownloader ||
          a.offline != b.offline) {
        std::abort();
      }
    }
    if (answer.size() >= diag::kNvItem.answerLength &&
        diag::ParseNvItem(answer)->status != diag::ParseNvItem(more)->status) {
      std::abort();
    }
  }
}

void CheckWriteFrame(Span input) {
  if (input.size() < 4) return;
  const uint32_t address = (static_cast<uint32_t>(input[0]) << 24) | (static_cast<uint32_t>(input[1]) << 16) |
                           (static_cast<uint32_t>(input[2]) << 8) | input[3];
  const Span data = input.subspan(4, std::min<size_t>(input.size() - 4, diag::kWriteBlockMax + 1));
  std::vector<uint8_t> frame(kHdlcWriteBufferSize);
  const size_t length = diag::BuildWriteBlockFrame(frame, address, data);
  if (data.size() > diag::kWriteBlockMax) {
    if (length != 0) std::abort();
    return;
  }
  if (length == 0 || length > frame.size() || frame[0] != kHdlcFlag || frame[length - 1] != kHdlcFlag)
    std::abort();
  std::vector<uint8_t> payload(length);
  const unsigned decoded = HdlcDecodeFrame(frame.data(), length, payload.data());
  if (decoded != diag::kWriteHeaderSize + data.size()) std::abort();
  const uint8_t header[diag::kWriteHeaderSize] = {diag::kDlWrite,
                                                  static_cast<uint8_t>(address >> 24),
                                                  static_cast<uint8_t>(address >> 16),
                                                  static_cast<uint8_t>(address >> 8),
                                                  static_cast<uint8_t>(address),
                                                  static_cast<uint8_t>(data.size() >> 8),
                                                  static_cast<uint8_t>(data.size())};
  if (!std::equal(header, header + sizeof header, payload.begin()) ||
      !std::equal(data.begin(), data.end(), payload.begin() + diag::kWriteHeaderSize)) {
    std::abort();
  }
}

}  // namespace

// Shapes random bytes rarely reach: answers that pass each parser's fixed bytes.
std::vector<std::vector<uint8_t>> FuzzSeedInputs() {
  std::vector<uint8_t> shake = {0x26, 0x00, 0x00, 0x25, 0xA7, 0x00, 0x06, 0x00,
                                0x00, 0x00, 0,    0,    0,    0,    0x01, 0x01};
  std::vector<uint8_t> board = {0x4B, 0xC9, 0x03, 0xFF, '1', '1', '.', '1', 0x0D};
  board.resize(66, 0x00);
  std::vector<uint8_t> iso = {0x4B, 0xC9, 0x24, 0xFF, 0x00, '4', '.', '2', 0xE9, 0xFF};
  iso.resize(260, 0x7E);
  std::vector<uint8_t> nv(133, 0x7D);
  nv[0] = 0x26;
  nv[131] = 0x05;
  nv[132] = 0x00;
  std::vector<uint8_t> full(4 + 4096, 0x7E);
  return {shake, board, iso, nv, {0x4B, 0xC8, 0x1E, 0xFF, 0x00, 0x00, 0x00, 0x00}, {0x02}, {0x03, 0x00, 0x01},
          full};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 70000) return 0;
  const Span input(data, size);
  CheckParsers(input);
  CheckBounds(input);
  CheckWriteFrame(input);
  return 0;
}
