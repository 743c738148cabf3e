// The DIAG command set against a scripted module on loopback: request bytes as the module sees
// them, the response tests with their log lines, and the retry rules of Execute and DIAG_Write.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "ScriptedPeers.h"
#include "log/CDownloadLog.h"
#include "platform/Clock.h"
#include "protocol/CDiagCaller.h"
#include "protocol/CHdlcAdapter.h"

namespace {

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Zeros(size_t n) { return Bytes(n, 0); }

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// a response that starts with the request's first `echo` bytes and is padded with zeros to `length`
Bytes Echo(const Bytes& request, size_t echo, size_t length) {
  Bytes r(request.begin(), request.begin() + static_cast<long>(std::min(echo, request.size())));
  r.resize(length, 0);
  return r;
}

Bytes HandShakeAnswer(uint8_t status, uint8_t downloader, uint8_t offline, size_t length = 16) {
  Bytes r = {0x26, 0x00, 0x00, 0x25, 0xA7, 0x00, 0x06, 0x00, 0x00, status, 0, 0, 0, 0, downloader, offline};
  r.resize(length, 0);
  return r;
}

Bytes NvAnswer(const Bytes& request, uint16_t status, const Bytes& data = {}) {
  Bytes r = Echo(request, 3, 133);
  std::copy(data.begin(), data.end(), r.begin() + 3);
  r[131] = static_cast<uint8_t>(status);
  r[132] = static_cast<uint8_t>(status >> 8);
  return r;
}

// the scaled clock must outlive everything that waits on it
struct Rig {
  ScaledClock clock{20};
  ScopedClock use{clock};
  FramePeer peer;
  CHdlcAdapter adapter;
  CDownloadLog log{std::string()};
  CDiagCaller diag{&adapter, &log};

  explicit Rig(FramePeer::Responder responder) : peer(std::move(responder)) {
    EXPECT_TRUE(adapter.Open("127.0.0.1", peer.Port(), NetPortTcp));
    EXPECT_TRUE(adapter.StartReceiver());
  }
  std::vector<std::string> Log() const { return LogMessages(log.GetPending()); }
};

using Lines = std::vector<std::string>;

}  // namespace

TEST(DiagCommands, EachCommandSendsItsBytesAndAcceptsItsAnswer) {
  const uint8_t code[8] = {'Q', 'O', 'R', 'M', 'O', 'D', 'M', '1'};
  struct Case {
    const char* name;
    std::function<int(CDiagCaller&)> run;
    std::vector<Bytes> requests;  // what the module must see, in order
    bool leadingFlag;
    std::function<std::vector<Bytes>(const Bytes&)> answer;
    Lines log;
  };
  const Case cases[] = {
      {"board version",
       [](CDiagCaller& d) { return d.DIAG_QueryBoardVersion(nullptr); },
       {{0x4B, 0xC9, 0x03, 0xFF}},
       false,
       [](const Bytes& r) {
         return std::vector<Bytes>{Concat(Echo(r, 4, 4), Concat(Text("11.1.20.6"), Zeros(53)))};
       },
       {"Firmware Version: 11.1.20.6"}},
      {"dashboard version",
       [](CDiagCaller& d) { return d.DIAG_QueryISOVersion(nullptr); },
       {Concat({0x4B, 0xC9, 0x24, 0xFF}, Zeros(32))},
       false,
       [](const Bytes& r) {
         return std::vector<Bytes>{Concat(Echo(r, 4, 5), Concat(Text("4.2.0.1"), Zeros(248)))};
       },
       {"Dashboard Version: 4.2.0.1"}},
      {"switch",
       [](CDiagCaller& d) { return d.DIAG_SwitchToDownloader(); },
       {{0x3A}},
       false,
       [](const Bytes&) { return std::vector<Bytes>{{0x3A}}; },
       {}},
      {"backup",
       [](CDiagCaller& d) { return d.DIAG_NV_BackupRestore(true); },
       {{0x4B, 0xC8, 0x1E, 0xFF, 0x00, 0x00, 0x00, 0x00}},
       false,
       [](const Bytes& r) { return std::vector<Bytes>{Echo(r, 4, 8)}; },
       {}},
      {"restore",
       [](CDiagCaller& d) { return d.DIAG_NV_BackupRestore(false); },
       {{0x4B, 0xC8, 0x1E, 0xFF, 0x01, 0x01, 0x00, 0x00}},
       false,
       [](const Bytes& r) { return std::vector<Bytes>{Echo(r, 4, 8)}; },
       {}},
      {"restore status",
       [](CDiagCaller& d) { return d.DIAG_NV_QueryRestoreStatus(); },
       {Concat({0x4B, 0xC9, 0x21, 0xFF}, Zeros(32))},
       false,
       [](const Bytes& r) {
         Bytes a = Echo(r, 4, 36);
         a[5] = 1;
         return std::vector<Bytes>{a};
       },
       {"DIAG_NV_QueryRestoreStatus: Restore Success"}},
      {"unlock",
       [&code](CDiagCaller& d) { return d.DIAG_Unlock(code); },
       {{0x26}, {0x0B, 'Q', 'O', 'R', 'M', 'O', 'D', 'M', '1'}},
       true,
       [](const Bytes& r) { return r[0] == 0x0B ? std::vector<Bytes>{{0x02}} : std::vector<Bytes>{}; },
       {}},
      {"hand-shake",
       [](CDiagCaller& d) { return d.DIAG_HandShake(false, nullptr, nullptr); },
       {Concat({0x26, 0x00, 0x00, 0x25, 0xA7, 0x00, 0x06}, Zeros(126))},
       false,
       [](const Bytes&) { return std::vector<Bytes>{HandShakeAnswer(0, 0, 1)}; },
       {"DIAG_HandShake: (0,1)"}},
      {"reset",
       [](CDiagCaller& d) { return d.DIAG_Reset(); },
       {{0x0A}},
       true,
       [](const Bytes&) { return std::vector<Bytes>{{0x02}}; },
       {}},
      {"change mode",
       [](CDiagCaller& d) { return d.DIAG_ChangeMode(1); },
       {{0x29, 0x01, 0x00}},
       false,
       [](const Bytes& r) { return std::vector<Bytes>{r}; },
       {}},
      {"read nv",
       [](CDiagCaller& d) {
         uint8_t out[4];
         return d.DIAG_Read_NV(0x1234, out, sizeof out, nullptr);
       },
       {Concat({0x26, 0x34, 0x12}, Zeros(130))},
       false,
       [](const Bytes& r) { return std::vector<Bytes>{NvAnswer(r, 0)}; },
       {}},
      {"write nv",
       [](CDiagCaller& d) {
         const uint8_t in[4] = {1, 2, 3, 4};
         return d.DIAG_Write_NV(0x0102, in, sizeof in, nullptr);
       },
       {Concat({0x27, 0x02, 0x01, 1, 2, 3, 4}, Zeros(126))},
       false,
       [](const Bytes& r) { return std::vector<Bytes>{NvAnswer(r, 0)}; },
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig([&](const Bytes& request, int) { return c.answer(request); });
    EXPECT_EQ(c.run(rig.diag), 1);
    ASSERT_TRUE(rig.peer.WaitRequests(c.requests.size()));
    const std::vector<Bytes> seen = rig.peer.Requests();
    ASSERT_EQ(seen.size(), c.requests.size());
    for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(Hex(seen[i]), Hex(c.requests[i])) << "request " << i;
    const Bytes raw = rig.peer.RawReceived();
    ASSERT_FALSE(raw.empty());
    EXPECT_EQ(raw[0] == 0x7E, c.leadingFlag);
    EXPECT_EQ(rig.Log(), c.log);
  }
}

TEST(DiagCommands, VersionTextsAreCutAtTheirEnds) {
  struct Case {
    const char* name;
    bool board;
    Bytes text;  // the bytes from the text's offset on, before padding
    uint8_t isoFlag;
    std::string expected;
    Lines log;
  };
  const std::string thirtyFive(35, '7');
  const std::string full128(128, 'd');
  const Case cases[] = {
      {"board text fills its field",
       true,
       Text(thirtyFive),
       0,
       std::string(31, '7'),
       {"Firmware Version: " + std::string(31, '7')}},
      {"board text empty at FF", true, {0xFF, '1', '2'}, 0, "", {"Firmware Version: "}},
      {"board text ends at CR", true, {'1', '.', '2', 0x0D, '9'}, 0, "1.2", {"Firmware Version: 1.2"}},
      {"board text ends at LF", true, {'1', 0x0A, '9'}, 0, "1", {"Firmware Version: 1"}},
      {"dashboard without version", false, Text("4.2"), 1, "No version", {}},
      {"dashboard text fills its field",
       false,
       Text(full128 + "xyz"),
       0,
       full128,
       {"Dashboard Version: " + full128}},
      {"dashboard text ends at NUL", false, {'4', '.', '2', 0x00, '7'}, 0, "4.2", {"Dashboard Version: 4.2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig([&](const Bytes& request, int) {
      Bytes a = Echo(request, 4, 4);
      if (!c.board) a.push_back(c.isoFlag);
      a = Concat(a, c.text);
      a.resize(c.board ? 66 : 260, 0);
      return std::vector<Bytes>{a};
    });
    std::string version = "untouched";
    EXPECT_EQ(c.board ? rig.diag.DIAG_QueryBoardVersion(&version) : rig.diag.DIAG_QueryISOVersion(&version),
              1);
    EXPECT_EQ(version, c.expected);
    EXPECT_EQ(rig.Log(), c.log);
  }
}

TEST(DiagExecute, HardErrorsEndAtOnceSoftOnesAreRetried) {
  struct Case {
    const char* name;
    std::vector<Bytes> answers;  // answer to try n (the last one repeats)
    int result;
    size_t tries;
    Lines log;
  };
  const Bytes request = {0x4B, 0xC9, 0x03, 0xFF};
  const Bytes good = Concat(request, Zeros(62));
  const Case cases[] = {
      {"bad command",
       {Concat({0x13}, request)},
       0,
       1,
       {"Execute#1> 13", "DIAG_QueryBoardVersion: Write or Read Fail"}},
      {"bad parameter",
       {Concat({0x14}, request)},
       0,
       1,
       {"Execute#1> 14", "DIAG_QueryBoardVersion: Write or Read Fail"}},
      {"bad length",
       {Concat({0x15}, request)},
       0,
       1,
       {"Execute#1> 15", "DIAG_QueryBoardVersion: Write or Read Fail"}},
      {"not in this mode, then good",
       {Concat({0x18}, request), good},
       1,
       2,
       {"Execute#1> (18 4B C9)", "Firmware Version: "}},
      {"wrong length every time",
       {Concat(request, Zeros(61))},
       0,
       5,
       {"CDiagCaller::Execute> Response's Length Error(Expect:66 Actual:65)",
        "CDiagCaller::Execute> Response's Length Error(Expect:66 Actual:65)",
        "CDiagCaller::Execute> Response's Length Error(Expect:66 Actual:65)",
        "CDiagCaller::Execute> Response's Length Error(Expect:66 Actual:65)",
        "CDiagCaller::Execute> Response's Length Error(Expect:66 Actual:65)",
        "DIAG_QueryBoardVersion: Write or Read Fail"}},
      {"one byte too long, then good",
       {Concat(request, Zeros(63)), good},
       1,
       2,
       {"CDiagCaller::Execute> Response's Length Error(Expect:66 Actual:67)", "Firmware Version: "}},
      {"silent module",
       {},
       0,
       5,
       {"Execute#1> Read Fail", "Execute#2> Read Fail", "Execute#3> Read Fail", "Execute#4> Read Fail",
        "Execute#5> Read Fail", "DIAG_QueryBoardVersion: Write or Read Fail"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig([&](const Bytes&, int index) {
      if (c.answers.empty()) return std::vector<Bytes>{};
      return std::vector<Bytes>{
          c.answers[std::min<size_t>(static_cast<size_t>(index), c.answers.size() - 1)]};
    });
    std::string version;
    EXPECT_EQ(rig.diag.DIAG_QueryBoardVersion(&version), c.result);
    EXPECT_EQ(rig.peer.Requests().size(), c.tries);
    EXPECT_EQ(rig.Log(), c.log);
    if (c.result == 0) {
      EXPECT_EQ(version, "Failed to read");
    }
  }
}

TEST(DiagExecute, DownloadNakIsRetriedAndShortAnswersLeaveTheFill) {
  auto nakThenAck = [](const Bytes&, int index) {
    return index == 0 ? std::vector<Bytes>{{0x03, 0x00, 0x07}} : std::vector<Bytes>{{0x02}};
  };
  {
    Rig rig(nakThenAck);
    EXPECT_EQ(rig.diag.DIAG_Reset(), 1);
    EXPECT_EQ(rig.peer.Requests().size(), 2u);
    EXPECT_EQ(rig.Log(), (Lines{"Execute#1> (03 00 07)"}));
  }
  // the same exchange, with the answer it kept
  Rig rig(nakThenAck);
  const uint8_t key[1] = {0x02};
  rig.diag.SetResponseKey(key, 1);
  const uint8_t reset[1] = {0x0A};
  DiagAnswer answer;
  EXPECT_EQ(rig.diag.Execute(reset, 1, true, 3000, answer), 1);
  EXPECT_EQ(rig.peer.Requests().size(), 2u);
  EXPECT_EQ(rig.Log(), (Lines{"Execute#1> (03 00 07)"}));
  ASSERT_EQ(answer.Bytes().size(), 1u);
  EXPECT_EQ(answer.Bytes()[0], 0x02);
  for (size_t i = 1; i < DiagAnswer::kCapacity; ++i) EXPECT_EQ(answer.At(i), 0xCD) << "byte " << i;
}

TEST(DiagExecute, ClosedLinkFailsEveryWrite) {
  ScaledClock clock(50);
  ScopedClock use(clock);
  CHdlcAdapter adapter;  // never opened
  CDownloadLog log{std::string()};
  CDiagCaller diag(&adapter, &log);
  EXPECT_EQ(diag.DIAG_SwitchToDownloader(), 0);
  EXPECT_EQ(LogMessages(log.GetPending()),
            (Lines{"Execute#1> Write Fail", "Execute#2> Write Fail", "Execute#3> Write Fail",
                   "Execute#4> Write Fail", "Execute#5> Write Fail",
                   "DIAG_SwitchToDownloader: Write or Read Fail"}));
}

TEST(DiagHandShake, ResponseRulesAndFlags) {
  struct Case {
    const char* name;
    Bytes answer;
    int result;
    int downloader;
    int offline;
    Lines log;
  };
  Bytes badFormat = HandShakeAnswer(0, 0, 0);
  badFormat[6] = 0x07;
  Bytes badTail = HandShakeAnswer(0, 0, 0);
  badTail[8] = 0x01;
  const Case cases[] = {
      {"normal software, online", HandShakeAnswer(0, 0, 0), 1, 0, 0, {"DIAG_HandShake: (0,0)"}},
      {"downloader", HandShakeAnswer(0, 1, 0, 40), 1, 1, 0, {"DIAG_HandShake: (1,0)"}},
      {"offline", HandShakeAnswer(0, 0, 1), 1, 0, 1, {"DIAG_HandShake: (0,1)"}},
      {"flag values other than 1 are off", HandShakeAnswer(0, 2, 0xFF), 1, 0, 0, {"DIAG_HandShake: (0,0)"}},
      {"too short",
       HandShakeAnswer(0, 0, 0, 15),
       0,
       1,
       1,
       {"DIAG_HandShake: Response Length = 15 (too short)"}},
      {"status", HandShakeAnswer(2, 0, 0), 0, 1, 1, {"DIAG_HandShake: status = 2"}},
      {"format", badFormat, 0, 1, 1, {"DIAG_HandShake: Response's format error"}},
      {"format at offset 8", badTail, 0, 1, 1, {"DIAG_HandShake: Response's format error"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig([&](const Bytes&, int) { return std::vector<Bytes>{c.answer}; });
    int downloader = -1;
    int offline = -1;
    EXPECT_EQ(rig.diag.DIAG_HandShake(true, &downloader, &offline), c.result);
    EXPECT_EQ(downloader, c.downloader);
    EXPECT_EQ(offline, c.offline);
    EXPECT_EQ(rig.Log(), c.log);
    const Bytes raw = rig.peer.RawReceived();
    ASSERT_FALSE(raw.empty());
    EXPECT_EQ(raw[0], 0x7E) << "the caller asked for a leading flag";
  }
}

TEST(DiagNv, BackupRestoreAndRestoreStatusTexts) {
  struct Case {
    const char* name;
    bool restoreStatus;  // else backup/restore
    bool backup;
    uint8_t b5;
    uint8_t b6;
    int result;
    Lines log;
  };
  const Case cases[] = {
      {"backup board state", false, true, 0, 1, 0, {"Backup NV: 单板状态不正确"}},
      {"restore no backup", false, false, 0, 2, 0, {"Restore NV: 不存在有效的备份"}},
      {"backup crc", false, true, 0, 3, 0, {"Backup NV: CRC校验失败"}},
      {"restore nv failed", false, false, 0, 4, 0, {"Restore NV: NV操作失败"}},
      {"other reason fails silently", false, true, 0, 9, 0, {}},
      {"byte 5 alone fails silently", false, true, 1, 0, 0, {}},
      {"status: no backup", true, false, 0, 7, 1, {"DIAG_NV_QueryRestoreStatus: No Backup to Restore"}},
      {"status: success", true, false, 1, 0, 1, {"DIAG_NV_QueryRestoreStatus: Restore Success"}},
      {"status: failed", true, false, 1, 1, 0, {"DIAG_NV_QueryRestoreStatus: Restore Fail"}},
      {"status: unknown", true, false, 2, 0, 0, {"DIAG_NV_QueryRestoreStatus: Restore Fail"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig([&](const Bytes& request, int) {
      Bytes a = Echo(request, 4, c.restoreStatus ? 36 : 8);
      a[5] = c.b5;
      a[6] = c.b6;
      return std::vector<Bytes>{a};
    });
    EXPECT_EQ(
        c.restoreStatus ? rig.diag.DIAG_NV_QueryRestoreStatus() : rig.diag.DIAG_NV_BackupRestore(c.backup),
        c.result);
    EXPECT_EQ(rig.Log(), c.log);
  }
}

TEST(DiagNv, ItemStatusRules) {
  const char* texts[] = {"",
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
                         "Unknown status"};
  const Bytes stored = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
  for (uint16_t status : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0x1234}) {
    for (bool read : {true, false}) {
      SCOPED_TRACE(std::string(read ? "read" : "write") + " status " + std::to_string(status));
      Rig rig(
          [&](const Bytes& request, int) { return std::vector<Bytes>{NvAnswer(request, status, stored)}; });
      uint8_t data[5] = {9, 9, 9, 9, 9};
      uint16_t got = 0xFFFF;
      const int result = read ? rig.diag.DIAG_Read_NV(7, data, sizeof data, &got)
                              : rig.diag.DIAG_Write_NV(7, data, sizeof data, &got);
      EXPECT_EQ(got, status);
      const bool success = status == 0 || (read && status == 5);
      EXPECT_EQ(result, success ? 1 : 0);
      const std::string prefix = read ? "DIAG_Read_NV: " : "DIAG_Write_NV: ";
      EXPECT_EQ(rig.Log(), status == 0 ? Lines{} : Lines{prefix + texts[std::min<int>(status, 11)]});
      if (read && status == 0) {
        EXPECT_EQ(Bytes(data, data + 5), stored);
      }
      if (read && status == 5) {
        EXPECT_EQ(Bytes(data, data + 5), Zeros(5));
      }
    }
  }
}

TEST(DiagNv, OversizedItemsAreRefusedBeforeSending) {
  Rig rig([](const Bytes& request, int) { return std::vector<Bytes>{NvAnswer(request, 0)}; });
  uint8_t data[129] = {};
  EXPECT_EQ(rig.diag.DIAG_Read_NV(1, data, 129, nullptr), 0);
  EXPECT_EQ(rig.diag.DIAG_Write_NV(1, data, 129, nullptr), 0);
  EXPECT_EQ(rig.diag.DIAG_Read_NV(1, data, 128, nullptr), 1);
  ASSERT_TRUE(rig.peer.WaitRequests(1));
  EXPECT_EQ(rig.peer.Requests().size(), 1u);
}

TEST(DiagWrite, NaksAreRetriedWithTheSameFrame) {
  struct Case {
    const char* name;
    int naks;  // answers 03 xx yy this many times, then 02; -1: never answers
    int result;
    size_t frames;
    Lines log;
  };
  const Case cases[] = {
      {"acknowledged at once", 0, 1, 1, {}},
      {"three refusals",
       3,
       1,
       4,
       {"DIAG_Write#1> Exec Fail", "DIAG_Write#2> Exec Fail", "DIAG_Write#3> Exec Fail"}},
      {"five refusals",
       5,
       0,
       5,
       {"DIAG_Write#1> Exec Fail", "DIAG_Write#2> Exec Fail", "DIAG_Write#3> Exec Fail",
        "DIAG_Write#4> Exec Fail", "DIAG_Write#5> Exec Fail"}},
      {"no answer",
       -1,
       0,
       5,
       {"DIAG_Write#1> Read Fail", "DIAG_Write#2> Read Fail", "DIAG_Write#3> Read Fail",
        "DIAG_Write#4> Read Fail", "DIAG_Write#5> Read Fail"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig([&](const Bytes&, int index) {
      if (c.naks < 0) return std::vector<Bytes>{};
      return index < c.naks ? std::vector<Bytes>{{0x03, 0x00, 0x01}} : std::vector<Bytes>{{0x02}};
    });
    const Bytes payload = {0x0F, 0x00, 0x10, 0x7E, 0x7D, 0x55};
    uint8_t* buffer = rig.adapter.GetWriteBuffer();
    ASSERT_NE(buffer, nullptr);
    const int length = HdlcEncodeFrame(payload.data(), payload.size(), buffer, true);
    const uint8_t key[1] = {0x02};
    rig.diag.SetResponseKey(key, 1);
    EXPECT_EQ(rig.diag.DIAG_Write(static_cast<uint32_t>(length)), c.result);
    ASSERT_TRUE(rig.peer.WaitRequests(c.frames));
    const std::vector<Bytes> seen = rig.peer.Requests();
    EXPECT_EQ(seen.size(), c.frames);
    for (const Bytes& frame : seen) EXPECT_EQ(Hex(frame), Hex(payload));
    EXPECT_EQ(rig.Log(), c.log);
  }
}

TEST(DiagWrite, OnlyAnAcknowledgementCountsAsWritten) {
  // without a key any frame reaches the write; one that is neither 02 nor 03 must not pass for a
  // written block
  Rig rig([](const Bytes&, int) { return std::vector<Bytes>{{0x4B, 0xC9, 0x03, 0xFF}}; });
  const Bytes payload = {0x0F, 0x00, 0x00, 0x10, 0x00, 0x00, 0x01, 0x55};
  uint8_t* buffer = rig.adapter.GetWriteBuffer();
  ASSERT_NE(buffer, nullptr);
  const int length = HdlcEncodeFrame(payload.data(), payload.size(), buffer, true);
  rig.diag.SetResponseKey(nullptr, 0);
  EXPECT_EQ(rig.diag.DIAG_Write(static_cast<uint32_t>(length)), 0);
  EXPECT_EQ(rig.peer.Requests().size(), 5u);
  EXPECT_EQ(rig.Log(), (Lines{"DIAG_Write#1> Unexpected answer", "DIAG_Write#2> Unexpected answer",
                              "DIAG_Write#3> Unexpected answer", "DIAG_Write#4> Unexpected answer",
                              "DIAG_Write#5> Unexpected answer"}));
}
