// The DIAG codec against bytes written out by hand: every request as the module must receive it,
// the write-block frame with its escapes and FCS (worked out separately, bit by bit), and every
// answer parser on good, refused, short and odd answers.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "protocol/DiagCodec.h"
#include "protocol/Hdlc.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Zeros(size_t n) { return Bytes(n, 0); }

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string Hex(const Bytes& b) {
  std::string s;
  char t[4];
  for (size_t i = 0; i < b.size(); ++i) {
    std::snprintf(t, sizeof t, i == 0 ? "%02X" : " %02X", b[i]);
    s += t;
  }
  return s;
}

using Builder = std::function<size_t(std::span<uint8_t>)>;

struct BuildCase {
  const char* name;
  Builder build;
  Bytes expected;
};

const std::vector<BuildCase>& BuildCases() {
  static const uint8_t code[8] = {'Q', 'O', 'R', 'M', 'O', 'D', 'M', '1'};
  static const std::vector<BuildCase> cases = {
      {"board version", diag::BuildBoardVersionQuery, {0x4B, 0xC9, 0x03, 0xFF}},
      {"dashboard version", diag::BuildIsoVersionQuery, Concat({0x4B, 0xC9, 0x24, 0xFF}, Zeros(32))},
      {"switch to downloader", diag::BuildSwitchToDownloader, {0x3A}},
      {"NV backup",
       [](std::span<uint8_t> o) { return diag::BuildNvBackupRestore(o, true); },
       {0x4B, 0xC8, 0x1E, 0xFF, 0x00, 0x00, 0x00, 0x00}},
      {"NV restore",
       [](std::span<uint8_t> o) { return diag::BuildNvBackupRestore(o, false); },
       {0x4B, 0xC8, 0x1E, 0xFF, 0x01, 0x01, 0x00, 0x00}},
      {"restore status", diag::BuildRestoreStatusQuery, Concat({0x4B, 0xC9, 0x21, 0xFF}, Zeros(32))},
      {"unlock wake", diag::BuildUnlockWake, {0x26}},
      {"unlock",
       [](std::span<uint8_t> o) { return diag::BuildUnlock(o, std::span<const uint8_t, 8>(code)); },
       {0x0B, 0x51, 0x4F, 0x52, 0x4D, 0x4F, 0x44, 0x4D, 0x31}},
      {"hand-shake", diag::BuildHandShake, Concat({0x26, 0x00, 0x00, 0x25, 0xA7, 0x00, 0x06}, Zeros(126))},
      {"reset", diag::BuildReset, {0x0A}},
      {"offline mode",
       [](std::span<uint8_t> o) { return diag::BuildChangeMode(o, diag::kModeOffline); },
       {0x29, 0x01, 0x00}},
      {"mode FE", [](std::span<uint8_t> o) { return diag::BuildChangeMode(o, 0xFE); }, {0x29, 0xFE, 0x00}},
      {"NV read", [](std::span<uint8_t> o) { return diag::BuildNvRead(o, 0x1234); },
       Concat({0x26, 0x34, 0x12}, Zeros(130))},
      {"NV write",
       [](std::span<uint8_t> o) {
         const uint8_t data[4] = {1, 2, 3, 4};
         return diag::BuildNvWrite(o, 0x0102, data);
       },
       Concat({0x27, 0x02, 0x01, 0x01, 0x02, 0x03, 0x04}, Zeros(126))},
      {"NV write of a whole item",
       [](std::span<uint8_t> o) { return diag::BuildNvWrite(o, 0xFFFF, Bytes(128, 0xAA)); },
       Concat(Concat({0x27, 0xFF, 0xFF}, Bytes(128, 0xAA)), {0x00, 0x00})},
  };
  return cases;
}

}  // namespace

TEST(DiagCodecBuild, EveryRequestIsItsBytes) {
  for (const BuildCase& c : BuildCases()) {
    SCOPED_TRACE(c.name);
    Bytes out(200, 0x5A);  // a used buffer: nothing of it may leak into the request
    const size_t length = c.build(out);
    ASSERT_EQ(length, c.expected.size());
    EXPECT_EQ(Hex(Bytes(out.begin(), out.begin() + static_cast<long>(length))), Hex(c.expected));
    EXPECT_EQ(out[length], 0x5A) << "written past the request";
  }
}

TEST(DiagCodecBuild, ABufferOneByteShortIsLeftAlone) {
  for (const BuildCase& c : BuildCases()) {
    SCOPED_TRACE(c.name);
    Bytes out(c.expected.size() - 1, 0x5A);
    EXPECT_EQ(c.build(out), 0u);
    EXPECT_EQ(out, Bytes(c.expected.size() - 1, 0x5A));
  }
}

TEST(DiagCodecBuild, AnNvItemOfMoreThan128BytesIsRefused) {
  Bytes out(200, 0x5A);
  EXPECT_EQ(diag::BuildNvWrite(out, 1, Bytes(129, 1)), 0u);
  EXPECT_EQ(out, Bytes(200, 0x5A));
}

TEST(DiagCodecWriteFrame, FramesAreTheirBytes) {
  struct Case {
    const char* name;
    uint32_t address;
    Bytes data;
    Bytes frame;  // flag, 0F, address and length big-endian, data, FCS low byte first, flag; escaped
  };
  const Case cases[] = {
      {"plain",
       0x00100000,
       {0x01, 0x02, 0x03, 0x04},
       {0x7E, 0x0F, 0x00, 0x10, 0x00, 0x00, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04, 0x53, 0x04, 0x7E}},
      {"flag and escape in the address and the data",
       0x7E7D0000,
       {0x7E},
       {0x7E, 0x0F, 0x7D, 0x5E, 0x7D, 0x5D, 0x00, 0x00, 0x00, 0x01, 0x7D, 0x5E, 0x53, 0xD6, 0x7E}},
      {"empty block", 0x10, {}, {0x7E, 0x0F, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x11, 0x10, 0x7E}},
      {"escapes next to plain bytes",
       0x2000,
       {0x7E, 0x7D, 0x7E, 0x20, 0x5E},
       {0x7E, 0x0F, 0x00, 0x00, 0x20, 0x00, 0x00, 0x05, 0x7D, 0x5E, 0x7D, 0x5D, 0x7D, 0x5E, 0x20, 0x5E, 0x9E,
        0xA6, 0x7E}},
      {"an FCS byte that needs escaping",
       0x3000,
       {0x36},
       {0x7E, 0x0F, 0x00, 0x00, 0x30, 0x00, 0x00, 0x01, 0x36, 0x7D, 0x5D, 0xAB, 0x7E}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out(kHdlcWriteBufferSize, 0x5A);
    const size_t length = diag::BuildWriteBlockFrame(out, c.address, c.data);
    ASSERT_EQ(length, c.frame.size());
    EXPECT_EQ(Hex(Bytes(out.begin(), out.begin() + static_cast<long>(length))), Hex(c.frame));
  }
}

TEST(DiagCodecWriteFrame, LongBlocksCarryTheirLengthAndFcs) {
  struct Case {
    const char* name;
    uint32_t address;
    size_t count;
    uint8_t fill;
    Bytes head;  // the frame's first bytes
    Bytes tail;  // its last bytes
    size_t length;
  };
  const Case cases[] = {
      {"length whose low byte is a flag",
       0x3000,
       0x7E,
       0xAB,
       {0x7E, 0x0F, 0x00, 0x00, 0x30, 0x00, 0x00, 0x7D, 0x5E, 0xAB},
       {0xAB, 0xFC, 0x27, 0x7E},
       138},
      {"length whose low byte is an escape",
       0x3000,
       0x17D,
       0x11,
       {0x7E, 0x0F, 0x00, 0x00, 0x30, 0x00, 0x01, 0x7D, 0x5D, 0x11},
       {0x11, 0x8D, 0x9D, 0x7E},
       393},
      {"a full block with every byte escaped",
       0x7E7E7E7E,
       4096,
       0x7E,
       {0x7E, 0x0F, 0x7D, 0x5E, 0x7D, 0x5E, 0x7D, 0x5E, 0x7D, 0x5E, 0x10, 0x00, 0x7D, 0x5E},
       {0x7D, 0x5E, 0xCA, 0x16, 0x7E},
       8207},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out(kHdlcWriteBufferSize, 0x5A);
    const size_t length = diag::BuildWriteBlockFrame(out, c.address, Bytes(c.count, c.fill));
    ASSERT_EQ(length, c.length);
    EXPECT_EQ(Hex(Bytes(out.begin(), out.begin() + static_cast<long>(c.head.size()))), Hex(c.head));
    EXPECT_EQ(Hex(Bytes(out.begin() + static_cast<long>(length - c.tail.size()),
                        out.begin() + static_cast<long>(length))),
              Hex(c.tail));
  }
}

TEST(DiagCodecWriteFrame, RefusesWhatMightNotFit) {
  Bytes out(kHdlcWriteBufferSize, 0x5A);
  EXPECT_EQ(diag::BuildWriteBlockFrame(out, 0, Bytes(4097, 0x01)), 0u) << "more than a block";
  // the worst full block needs 8209 bytes: one fewer is refused, not overrun
  Bytes tight(8208, 0x5A);
  EXPECT_EQ(diag::BuildWriteBlockFrame(tight, 0x7E7E7E7E, Bytes(4096, 0x7E)), 0u);
  Bytes exact(8209, 0x5A);
  EXPECT_EQ(diag::BuildWriteBlockFrame(exact, 0x7E7E7E7E, Bytes(4096, 0x7E)), 8207u);
  Bytes none;
  EXPECT_EQ(diag::BuildWriteBlockFrame(none, 0, {}), 0u);
}

TEST(DiagCodecWriteFrame, AcknowledgementKeyIsAckAndAddressBigEndian) {
  struct Case {
    uint32_t address;
    const char* key;
  };
  const Case cases[] = {
      {0x12345678, "02 12 34 56 78"}, {0x7E, "02 00 00 00 7E"}, {0xFF000000, "02 FF 00 00 00"}};
  for (const Case& c : cases) {
    const auto key = diag::WriteAckKey(c.address);
    EXPECT_EQ(Hex(Bytes(key.begin(), key.end())), c.key);
  }
}

TEST(DiagCodecParse, AnswersAreClassifiedByTheirFirstByte) {
  struct Case {
    Bytes answer;
    diag::AnswerKind kind;
  };
  using K = diag::AnswerKind;
  const Case cases[] = {
      {{}, K::Accepted},
      {{0x13, 0x4B}, K::Refused},
      {{0x14}, K::Refused},
      {{0x15, 0x3A}, K::Refused},
      {{0x18, 0x4B, 0xC9}, K::RetryLater},
      {{0x03, 0x00, 0x07}, K::RetryLater},
      {{0x02}, K::Accepted},
      {{0x4B, 0xC9}, K::Accepted},
      {{0x12}, K::Accepted},
      {{0x16}, K::Accepted},
      {{0x17}, K::Accepted},
      {{0x19}, K::Accepted},
      {{0x04}, K::Accepted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Hex(c.answer));
    EXPECT_EQ(diag::ClassifyAnswer(c.answer), c.kind);
  }
}

TEST(DiagCodecParse, VersionTexts) {
  struct Case {
    const char* name;
    bool board;
    Bytes answer;
    bool parsed;
    bool hasDashboard;
    std::string text;
  };
  const Bytes board = {0x4B, 0xC9, 0x03, 0xFF};
  const Bytes iso = {0x4B, 0xC9, 0x24, 0xFF};
  const Case cases[] = {
      {"board", true, Concat(Concat(board, Text("11.1.20.6")), Zeros(53)), true, true, "11.1.20.6"},
      {"board answer without its text field", true, {0x4B, 0xC9, 0x03}, false, false, ""},
      {"board answer that ends at the field", true, board, true, true, ""},
      {"board text cut by the answer's end", true, Concat(board, Text("12")), true, true, "12"},
      {"board text fills its field", true, Concat(board, Text(std::string(40, '7'))), true, true,
       std::string(31, '7')},
      {"board text ends at CR", true, Concat(board, {'1', 0x0D, '2'}), true, true, "1"},
      {"board text ends at LF", true, Concat(board, {'1', 0x0A, '2'}), true, true, "1"},
      {"board text ends at NUL", true, Concat(board, {'1', 0x00, '2'}), true, true, "1"},
      {"board text ends at FF", true, Concat(board, {0xFF, '1', '2'}), true, true, ""},
      {"board text is 8-bit", true, Concat(board, {'v', 0xE9}), true, true, "v\xC3\xA9"},
      {"dashboard", false, Concat(Concat(iso, {0x00}), Text("4.2.0.1")), true, true, "4.2.0.1"},
      {"no dashboard", false, Concat(Concat(iso, {0x01}), Text("4.2.0.1")), true, false, ""},
      {"no dashboard, any non-zero flag", false, Concat(iso, {0x80}), true, false, ""},
      {"dashboard answer without its flag", false, iso, false, false, ""},
      {"dashboard text fills its field", false, Concat(Concat(iso, {0x00}), Text(std::string(130, 'd'))),
       true, true, std::string(128, 'd')},
      {"dashboard text ends at CR", false, Concat(Concat(iso, {0x00}), {'4', 0x0D}), true, true, "4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.board) {
      const std::optional<std::string> text = diag::ParseBoardVersion(c.answer);
      ASSERT_EQ(text.has_value(), c.parsed);
      if (text) {
        EXPECT_EQ(*text, c.text);
      }
    } else {
      const std::optional<diag::IsoVersion> version = diag::ParseIsoVersion(c.answer);
      ASSERT_EQ(version.has_value(), c.parsed);
      if (!version) continue;
      EXPECT_EQ(version->hasDashboard, c.hasDashboard);
      EXPECT_EQ(version->text, c.text);
    }
  }
}

TEST(DiagCodecParse, NvBackupAndRestoreStatus) {
  struct Case {
    const char* name;
    Bytes answer;
    std::optional<diag::BackupResult> backup;
    std::optional<diag::RestoreStatus> restore;
  };
  using R = diag::RestoreStatus;
  const Bytes head = {0x4B, 0xC8, 0x1E, 0xFF, 0x00};
  const Case cases[] = {
      {"both zero", Concat(head, {0x00, 0x00, 0x00}), diag::BackupResult{true, 0}, R::NoBackup},
      {"reason 1", Concat(head, {0x00, 0x01, 0x00}), diag::BackupResult{false, 1}, R::NoBackup},
      {"reason 4", Concat(head, {0x00, 0x04}), diag::BackupResult{false, 4}, R::NoBackup},
      {"byte 5 alone", Concat(head, {0x01, 0x00}), diag::BackupResult{false, 0}, R::Restored},
      {"restore failed", Concat(head, {0x01, 0x01}), diag::BackupResult{false, 1}, R::Failed},
      {"restore state unknown", Concat(head, {0x02, 0x00}), diag::BackupResult{false, 0}, R::Failed},
      {"no backup whatever byte 6", Concat(head, {0x00, 0x07}), diag::BackupResult{false, 7}, R::NoBackup},
      {"too short for byte 6", Concat(head, {0x00}), std::nullopt, std::nullopt},
      {"empty", {}, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<diag::BackupResult> backup = diag::ParseNvBackupRestore(c.answer);
    ASSERT_EQ(backup.has_value(), c.backup.has_value());
    if (backup) {
      EXPECT_EQ(backup->succeeded, c.backup->succeeded);
      EXPECT_EQ(backup->reason, c.backup->reason);
    }
    EXPECT_EQ(diag::ParseRestoreStatus(c.answer), c.restore);
  }
}

TEST(DiagCodecParse, HandShake) {
  struct Case {
    const char* name;
    Bytes answer;
    diag::HandShakeAnswer::Verdict verdict;
    uint8_t status;
    bool inDownloader;
    bool offline;
  };
  using V = diag::HandShakeAnswer::Verdict;
  const Bytes good = {0x26, 0x00, 0x00, 0x25, 0xA7, 0x00, 0x06, 0x00,
                      0x00, 0x00, 0x11, 0x22, 0x33, 0x44, 0x00, 0x00};
  auto with = [&good](size_t at, uint8_t value) {
    Bytes b = good;
    b[at] = value;
    return b;
  };
  const Case cases[] = {
      {"normal software, online", good, V::Good, 0, false, false},
      {"downloader", with(14, 0x01), V::Good, 0, true, false},
      {"offline", with(15, 0x01), V::Good, 0, false, true},
      {"flags other than 1 are off", with(15, 0xFF), V::Good, 0, false, false},
      {"flag 2 is off", with(14, 0x02), V::Good, 0, false, false},
      {"longer answers", Concat(with(14, 0x01), Zeros(24)), V::Good, 0, true, false},
      {"first byte is the key's business", with(0, 0x99), V::Good, 0, false, false},
      {"15 bytes", Bytes(good.begin(), good.end() - 1), V::TooShort, 0, false, false},
      {"empty", {}, V::TooShort, 0, false, false},
      {"status 2", with(9, 0x02), V::BadStatus, 2, false, false},
      {"offset 1", with(1, 0x01), V::BadFormat, 0, false, false},
      {"offset 3", with(3, 0x24), V::BadFormat, 0, false, false},
      {"offset 6", with(6, 0x07), V::BadFormat, 0, false, false},
      {"offset 8", with(8, 0x01), V::BadFormat, 0, false, false},
      {"bytes 10 to 13 are not examined", with(13, 0xFF), V::Good, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const diag::HandShakeAnswer parsed = diag::ParseHandShake(c.answer);
    EXPECT_EQ(parsed.verdict, c.verdict);
    EXPECT_EQ(parsed.status, c.status);
    EXPECT_EQ(parsed.inDownloader, c.inDownloader);
    EXPECT_EQ(parsed.offline, c.offline);
  }
}

TEST(DiagCodecParse, NvItemStatusAndData) {
  Bytes answer = Concat({0x26, 0x07, 0x00}, Zeros(130));
  for (size_t i = 0; i < 128; ++i) answer[3 + i] = static_cast<uint8_t>(i + 1);
  struct Case {
    const char* name;
    uint8_t low;
    uint8_t high;
    size_t length;
    std::optional<uint16_t> status;
  };
  const Case cases[] = {
      {"good", 0x00, 0x00, 133, 0},
      {"never written", 0x05, 0x00, 133, 5},
      {"little-endian", 0x34, 0x12, 133, 0x1234},
      {"too short for the status", 0x00, 0x00, 132, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    answer[131] = c.low;
    answer[132] = c.high;
    const std::optional<diag::NvItemAnswer> parsed =
        diag::ParseNvItem(std::span<const uint8_t>(answer.data(), c.length));
    ASSERT_EQ(parsed.has_value(), c.status.has_value());
    if (!parsed) continue;
    EXPECT_EQ(parsed->status, *c.status);
    ASSERT_EQ(parsed->data.size(), 128u);
    EXPECT_EQ(parsed->data.data(), answer.data() + 3);
    EXPECT_EQ(parsed->data[0], 1);
    EXPECT_EQ(parsed->data[127], 128);
  }
}

TEST(DiagCodecParse, WriteAcknowledgements) {
  struct Case {
    Bytes answer;
    diag::DownloadAck ack;
  };
  using A = diag::DownloadAck;
  const Case cases[] = {
      {{0x02}, A::Acknowledged},
      {{0x02, 0x00, 0x10, 0x00, 0x00}, A::Acknowledged},
      {{0x03, 0x00, 0x01}, A::Refused},
      {{0x03}, A::Refused},
      {{}, A::Unexpected},
      {{0x13, 0x0F}, A::Unexpected},
      {{0x00}, A::Unexpected},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Hex(c.answer));
    EXPECT_EQ(diag::ParseDownloadAck(c.answer), c.ack);
  }
}
