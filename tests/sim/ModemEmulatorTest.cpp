#include <gtest/gtest.h>

#include <memory>

#include "SimTestUtil.h"
#include "image/ImageFormat.h"
#include "sim/ModemEmulator.h"

using namespace qorsim;
using simtest::Hex;
using simtest::Padded;

namespace {

// requests as the tool's command tables give them, written out by hand
const Bytes kHandShake = Padded({0x26, 0x00, 0x00, 0x25, 0xA7, 0x00, 0x06}, 126);
const Bytes kBoardVersion = {0x4B, 0xC9, 0x03, 0xFF};
const Bytes kIsoVersion = Padded({0x4B, 0xC9, 0x24, 0xFF}, 32);
const Bytes kBackup = {0x4B, 0xC8, 0x1E, 0xFF, 0x00, 0x00, 0x00, 0x00};
const Bytes kRestore = {0x4B, 0xC8, 0x1E, 0xFF, 0x01, 0x01, 0x00, 0x00};
const Bytes kRestoreStatus = Padded({0x4B, 0xC9, 0x21, 0xFF}, 32);
const Bytes kOffline = {0x29, 0x01, 0x00};
const Bytes kSwitch = {0x3A};
const Bytes kReset = {0x0A};
const Bytes kWakeUp = {0x26};
const std::array<uint8_t, 8> kCode = {'C', 'O', 'D', 'E', '1', '2', '3', '4'};

Bytes Unlock(const std::array<uint8_t, 8>& code) {
  Bytes b(9, 0x0B);
  std::copy(code.begin(), code.end(), b.begin() + 1);
  return b;
}

Bytes Write(uint32_t address, const Bytes& data) {
  Bytes b = {0x0F,
             static_cast<uint8_t>(address >> 24),
             static_cast<uint8_t>(address >> 16),
             static_cast<uint8_t>(address >> 8),
             static_cast<uint8_t>(address),
             static_cast<uint8_t>(data.size() >> 8),
             static_cast<uint8_t>(data.size())};
  return simtest::Cat(b, data);
}

// our version tag, byte by byte: "QORVTAG1", module type, 7 zero bytes, text zero-filled to 48
Bytes Tag(uint8_t module, const std::string& text) {
  Bytes b = {'Q', 'O', 'R', 'V', 'T', 'A', 'G', '1', module, 0, 0, 0, 0, 0, 0, 0};
  for (size_t i = 0; i < 48; ++i) b.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
  return b;
}

class ModemTest : public ::testing::Test {
 protected:
  ModemTest() : m_Use(m_Clock) {
    m_Config.unlockCode = kCode;
    m_Config.restartMs = 8000;
    m_Config.firmwareVersion = "11.1.20.6";
    m_Config.dashboardVersion = "4.2.0.1";
  }

  void Make() {
    m_Faults = std::make_unique<FaultStore>(m_Config.faults);
    m_Modem = std::make_unique<ModemEmulator>(m_Config, *m_Faults, m_Events);
  }
  void Fault(const std::string& spec) {
    Faults f = m_Faults->Get();
    std::string error;
    ASSERT_TRUE(ParseFaults(spec, f, &error)) << error;
    m_Faults->Set(f);
  }
  std::vector<Bytes> Send(const Bytes& req) { return m_Modem->Handle(req); }
  // the one answer to req ("" when there was none, "<n answers>" when there were more)
  std::string One(const Bytes& req) {
    auto r = Send(req);
    if (r.size() != 1) return "<" + std::to_string(r.size()) + " answers>";
    return Hex(r[0]);
  }
  void Restart() { m_Clock.Advance(m_Config.restartMs); }
  // normal software -> offline -> downloader, waiting out the restart
  void IntoDownloader() {
    ASSERT_EQ(One(kOffline), Hex(kOffline));
    ASSERT_EQ(One(kSwitch), "3A");
    Restart();
    ASSERT_EQ(m_Modem->Status().mode, ModuleMode::Downloader);
  }
  void Download(uint32_t address, const Bytes& data) {
    ASSERT_EQ(One(Unlock(kCode)), "02");
    for (size_t at = 0; at < data.size(); at += 4096) {
      Bytes block(data.begin() + static_cast<ptrdiff_t>(at),
                  data.begin() + static_cast<ptrdiff_t>(std::min(data.size(), at + 4096)));
      const uint32_t a = address + static_cast<uint32_t>(at);
      ASSERT_EQ(One(Write(a, block)), Hex({0x02, static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(a >> 16),
                                           static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a)}));
    }
  }

  simtest::ManualClock m_Clock;
  ScopedClock m_Use;
  SimConfig m_Config;
  EventLog m_Events;
  std::unique_ptr<FaultStore> m_Faults;
  std::unique_ptr<ModemEmulator> m_Modem;
};

TEST_F(ModemTest, NormalSoftwareAnswersWithTheLayoutsTheToolReads) {
  Make();
  Bytes handShake(133, 0);
  handShake[0] = 0x26;
  handShake[3] = 0x25, handShake[4] = 0xA7, handShake[5] = 0x00, handShake[6] = 0x06;
  handShake[10] = 0x01;  // revision byte, not examined by the tool
  Bytes board(66, 0);
  board[0] = 0x4B, board[1] = 0xC9, board[2] = 0x03, board[3] = 0xFF;
  const std::string fw = "11.1.20.6";
  std::copy(fw.begin(), fw.end(), board.begin() + 4);
  Bytes iso(260, 0);
  iso[0] = 0x4B, iso[1] = 0xC9, iso[2] = 0x24, iso[3] = 0xFF;
  const std::string db = "4.2.0.1";
  std::copy(db.begin(), db.end(), iso.begin() + 5);
  Bytes status(36, 0);
  status[0] = 0x4B, status[1] = 0xC9, status[2] = 0x21, status[3] = 0xFF;

  struct Case {
    const char* what;
    Bytes request;
    Bytes answer;
  } cases[] = {
      {"hand-shake", kHandShake, handShake},
      {"board version", kBoardVersion, board},
      {"dashboard version", kIsoVersion, iso},
      {"restore status without backup", kRestoreStatus, status},
      {"restore without backup: refused, no valid backup",
       kRestore,
       {0x4B, 0xC8, 0x1E, 0xFF, 0x01, 0x01, 0x02, 0x00}},
      {"backup", kBackup, {0x4B, 0xC8, 0x1E, 0xFF, 0x00, 0x00, 0x00, 0x00}},
      {"restore after a backup", kRestore, {0x4B, 0xC8, 0x1E, 0xFF, 0x01, 0x00, 0x00, 0x00}},
      {"offline mode", kOffline, kOffline},
  };
  for (const auto& c : cases) EXPECT_EQ(One(c.request), Hex(c.answer)) << c.what;
  EXPECT_EQ(m_Modem->Status().mode, ModuleMode::Offline);
  // the hand-shake now reports offline (byte 15)
  auto r = Send(kHandShake);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0][14], 0);
  EXPECT_EQ(r[0][15], 1);
}

TEST_F(ModemTest, RejectedRequestsGetTheErrorCodeAndTheEcho) {
  Make();
  struct Case {
    const char* what;
    Bytes request;
    uint8_t code;
  } cases[] = {
      {"unknown command", {0x7F, 0x01}, 0x13},
      {"unknown subsystem command", {0x4B, 0xC9, 0x55, 0xFF}, 0x13},
      {"unknown subsystem", {0x4B, 0x12, 0x03, 0xFF}, 0x13},
      {"subsystem request too short", {0x4B, 0xC9, 0x03}, 0x15},
      {"board version with a stray byte", {0x4B, 0xC9, 0x03, 0xFF, 0x00}, 0x15},
      {"dashboard version one byte short", Padded({0x4B, 0xC9, 0x24, 0xFF}, 31), 0x15},
      {"dashboard version with a non-zero tail", Padded({0x4B, 0xC9, 0x24, 0xFF, 0x01}, 31), 0x14},
      {"backup with a bad operation", {0x4B, 0xC8, 0x1E, 0xFF, 0x01, 0x00, 0x00, 0x00}, 0x14},
      {"NV read of 132 bytes", Padded({0x26, 0x00, 0x00}, 129), 0x15},
      {"change mode to an unknown mode", {0x29, 0x07, 0x00}, 0x14},
      {"change mode with a high byte", {0x29, 0x01, 0x01}, 0x14},
      {"switch while online", kSwitch, 0x18},
      {"unlock is no DIAG command", Unlock(kCode), 0x13},
      {"reset is no DIAG command", kReset, 0x13},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(One(c.request), Hex(simtest::Cat({c.code}, c.request))) << c.what;
  }
  EXPECT_EQ(m_Modem->Status().mode, ModuleMode::Normal);
}

TEST_F(ModemTest, NvItemsReadBackWhatWasWrittenAndReportNeverWrittenItems) {
  Make();
  Bytes read = Padded({0x26, 0x34, 0x12}, 130);
  auto r = Send(read);
  ASSERT_EQ(r.size(), 1u);
  ASSERT_EQ(r[0].size(), 133u);
  EXPECT_EQ(r[0][131] | (r[0][132] << 8), 5) << "never written";

  Bytes write = Padded({0x27, 0x34, 0x12}, 130);
  for (int i = 0; i < 128; ++i) write[3 + static_cast<size_t>(i)] = static_cast<uint8_t>(i * 3);
  r = Send(write);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0][131] | (r[0][132] << 8), 0);
  r = Send(read);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0][131] | (r[0][132] << 8), 0);
  EXPECT_TRUE(std::equal(r[0].begin() + 3, r[0].begin() + 131, write.begin() + 3));
}

TEST_F(ModemTest, SwitchRestartsIntoTheDownloaderAfterTheRestartTime) {
  Make();
  ASSERT_EQ(One(kOffline), Hex(kOffline));
  ASSERT_EQ(One(kSwitch), "3A");
  EXPECT_TRUE(m_Modem->Silent());
  EXPECT_TRUE(Send(kHandShake).empty()) << "silent while restarting";
  m_Clock.Advance(m_Config.restartMs - 1);
  EXPECT_TRUE(m_Modem->Silent());
  m_Clock.Advance(1);
  EXPECT_FALSE(m_Modem->Silent());
  auto r = Send(kHandShake);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0][14], 1) << "downloader flag";
  EXPECT_EQ(r[0][9], 0) << "status";
}

TEST_F(ModemTest, DownloaderCommands) {
  Make();
  IntoDownloader();
  const std::array<uint8_t, 8> wrong = {'C', 'O', 'D', 'E', '1', '2', '3', '5'};
  struct Case {
    const char* what;
    Bytes request;
    std::string answer;
  } cases[] = {
      {"wake-up byte is ignored", kWakeUp, "<0 answers>"},
      {"write before unlock", Write(0x1000, {1, 2, 3}), "03 00 01"},
      {"wrong code", Unlock(wrong), "03 00 07"},
      {"unlock too short", Bytes{0x0B, 'C', 'O'}, "03 00 02"},
      {"right code", Unlock(kCode), "02"},
      {"write", Write(0x00A0F000, {0x7E, 0x7D, 0x00}), "02 00 A0 F0 00"},
      {"write whose length field is one too many", simtest::Cat({0x0F, 0, 0, 0, 0, 0x00, 0x04}, {1, 2, 3}),
       "03 00 02"},
      {"write past the end of the address space", Write(0xFFFFFFFE, {1, 2, 3}), "03 00 03"},
      {"DIAG request not allowed here", kBoardVersion, "18 4B C9 03 FF"},
      {"unknown download command", Bytes{0x55}, "03 00 05"},
  };
  for (const auto& c : cases) EXPECT_EQ(One(c.request), c.answer) << c.what;
  std::vector<uint8_t> stored;
  ASSERT_TRUE(m_Modem->ReadFlash(0x00A0F000, 3, &stored));
  EXPECT_EQ(Hex(stored), "7E 7D 00");
  EXPECT_FALSE(m_Modem->ReadFlash(0, 1, nullptr)) << "rejected writes store nothing";
}

TEST_F(ModemTest, CompletedDownloadsChangeTheReportedVersions) {
  struct Case {
    const char* what;
    Bytes firstUnit;
    std::string firmware;
    std::string dashboard;
    bool restored;
  } cases[] = {
      {"firmware tag", simtest::Cat(Tag(7, "12.0.1.2"), Bytes(5000, 0x11)), "12.0.1.2", "4.2.0.1", true},
      {"dashboard tag", simtest::Cat(Tag(8, "5.0.0.9"), Bytes(100, 0x22)), "11.1.20.6", "5.0.0.9", false},
      {"no tag", Bytes(300, 0x33), ModemEmulator::kUntaggedVersion, "4.2.0.1", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Make();
    ASSERT_EQ(One(kBackup), Hex(kBackup));
    IntoDownloader();
    Download(0x20000, c.firstUnit);
    Download(0x90000, Bytes(10, 0x44));  // a second unit elsewhere: the tag is read at the first
    ASSERT_EQ(One(kReset), "02");
    EXPECT_TRUE(Send(kBoardVersion).empty()) << "silent while restarting";
    Restart();
    EXPECT_EQ(m_Modem->Status().mode, ModuleMode::Normal);
    EXPECT_EQ(m_Modem->Status().firmwareVersion, c.firmware);
    EXPECT_EQ(m_Modem->Status().dashboardVersion, c.dashboard);
    auto r = Send(kRestoreStatus);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0][5], c.restored ? 1 : 0);
    EXPECT_EQ(r[0][6], 0);
    std::vector<uint8_t> flash;
    ASSERT_TRUE(m_Modem->ReadFlash(0x20000, c.firstUnit.size(), &flash));
    EXPECT_TRUE(flash == c.firstUnit);
  }
}

TEST_F(ModemTest, ForceLoadHoldsTheModuleInItsDownloaderUntilReleased) {
  Make();
  m_Modem->EnterForceLoad();
  EXPECT_FALSE(m_Modem->Silent()) << "the downloader is up at once";
  EXPECT_EQ(m_Modem->Status().mode, ModuleMode::Downloader);
  ASSERT_EQ(One(Unlock(kCode)), "02");
  ASSERT_EQ(One(kReset), "02");
  Restart();
  EXPECT_EQ(m_Modem->Status().mode, ModuleMode::Downloader) << "still held";
  EXPECT_FALSE(m_Modem->Status().unlocked) << "a restart locks the downloader again";
  m_Modem->LeaveForceLoad();
  EXPECT_EQ(m_Modem->Status().mode, ModuleMode::Downloader) << "leaving does not interrupt the downloader";
  ASSERT_EQ(One(kReset), "02");
  Restart();
  EXPECT_EQ(m_Modem->Status().mode, ModuleMode::Normal);
}

TEST_F(ModemTest, FwtForcePacketMakesTheNextResetBootTheDownloader) {
  m_Config.startInDownloader = true;
  Make();
  m_Modem->FwtForce();
  ASSERT_EQ(One(kReset), "02");
  Restart();
  EXPECT_EQ(m_Modem->Status().mode, ModuleMode::Downloader);
}

TEST_F(ModemTest, NormalModeFaults) {
  struct Case {
    const char* fault;
    Bytes request;
    std::string answer;
  } cases[] = {
      {"board-version-fail", kBoardVersion, "13 4B C9 03 FF"},
      {"switch-refuse", kSwitch, "13 3A"},
      {"mode-refuse", kOffline, "14 29 01 00"},
      {"nv-backup-reason=1", kBackup, "4B C8 1E FF 00 01 01 00"},
      {"nv-backup-reason=2", kBackup, "4B C8 1E FF 00 01 02 00"},
      {"nv-backup-reason=3", kBackup, "4B C8 1E FF 00 01 03 00"},
      {"nv-backup-reason=4", kBackup, "4B C8 1E FF 00 01 04 00"},
      {"nv-restore-fail", kRestore, "4B C8 1E FF 01 01 04 00"},
  };
  for (const auto& c : cases) {
    Make();
    Fault(c.fault);
    EXPECT_EQ(One(c.request), c.answer) << c.fault;
  }

  Make();
  Fault("iso-no-version");
  auto r = Send(kIsoVersion);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].size(), 260u);
  EXPECT_EQ(r[0][4], 1);
}

TEST_F(ModemTest, HandShakeFaults) {
  Make();
  Fault("handshake-fail=2");
  EXPECT_TRUE(Send(kHandShake).empty());
  EXPECT_TRUE(Send(kHandShake).empty());
  EXPECT_EQ(Send(kHandShake).size(), 1u) << "the third is answered";

  struct Case {
    const char* fault;
    size_t length;
    uint8_t status, downloader, offline;
  } cases[] = {
      {"handshake-short", 15, 0, 0, 0},
      {"handshake-status=3", 133, 3, 0, 0},
      {"handshake-downloader", 133, 0, 1, 0},
      {"handshake-offline", 133, 0, 0, 1},
  };
  for (const auto& c : cases) {
    Make();
    Fault(c.fault);
    auto a = Send(kHandShake);
    ASSERT_EQ(a.size(), 1u) << c.fault;
    ASSERT_EQ(a[0].size(), c.length) << c.fault;
    EXPECT_EQ(a[0][9], c.status) << c.fault;
    if (c.length > 15) {
      EXPECT_EQ(a[0][14], c.downloader) << c.fault;
      EXPECT_EQ(a[0][15], c.offline) << c.fault;
    }
  }
}

TEST_F(ModemTest, DownloaderFaults) {
  Make();
  IntoDownloader();
  Fault("unlock-refuse");
  EXPECT_EQ(One(Unlock(kCode)), "03 00 06");
  Fault("unlock-refuse=0");
  EXPECT_EQ(One(Unlock(kCode)), "02");

  Fault("write-nak=2");
  EXPECT_EQ(One(Write(0x100, {9})), "03 00 04");
  EXPECT_EQ(One(Write(0x100, {9})), "03 00 04");
  EXPECT_FALSE(m_Modem->ReadFlash(0x100, 1, nullptr)) << "a rejected block is not stored";
  EXPECT_EQ(One(Write(0x100, {9})), "02 00 00 01 00");

  Fault("write-silent");
  EXPECT_TRUE(Send(Write(0x200, {9})).empty());
  EXPECT_FALSE(m_Modem->ReadFlash(0x200, 1, nullptr));
  Fault("write-silent=0");

  Fault("reset-refuse");
  EXPECT_EQ(One(kReset), "03 00 06");
  EXPECT_FALSE(m_Modem->Silent());
  Fault("reset-refuse=0,back-in-downloader");
  EXPECT_EQ(One(kReset), "02");
  Restart();
  EXPECT_EQ(m_Modem->Status().mode, ModuleMode::Downloader);

  Fault("back-in-downloader=0,never-back");
  EXPECT_EQ(One(kReset), "02");
  m_Clock.Advance(10 * m_Config.restartMs);
  EXPECT_TRUE(m_Modem->Silent()) << "never comes back";
  Fault("never-back=0");
  EXPECT_FALSE(m_Modem->Silent()) << "comes back once the fault is cleared";
  EXPECT_EQ(m_Modem->Status().mode, ModuleMode::Normal);
}

TEST_F(ModemTest, FailedAutomaticRestoreIsReported) {
  Make();
  ASSERT_EQ(One(kBackup), Hex(kBackup));
  Fault("nv-restore-fail");
  IntoDownloader();
  Download(0x0, simtest::Cat(Tag(7, "12.0.0.0"), Bytes(10, 1)));
  ASSERT_EQ(One(kReset), "02");
  Restart();
  EXPECT_EQ(One(kRestoreStatus), Hex(Padded({0x4B, 0xC9, 0x21, 0xFF, 0x00, 0x01, 0x01}, 29)));
}

}  // namespace
