// Every DIAG command, router datagram and Telnet step against the router emulator on loopback, and
// the module's refusals as the emulator makes them. (The failure paths of each step, byte by byte,
// are tested against scripted peers in tests/protocol.)

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "log/CDownloadLog.h"
#include "platform/Clock.h"
#include "protocol/CDiagCaller.h"
#include "protocol/CHdlcAdapter.h"
#include "protocol/CTelnetClient.h"
#include "protocol/CUdpHdlc.h"
#include "sim/RouterSim.h"

namespace {

using Lines = std::vector<std::string>;

Lines Messages(const CDownloadLog& log) {
  Lines out;
  const std::string& text = log.GetPending();
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(pos + 20, end - pos - 20));  // after "%Y-%m-%d %H:%M:%S "
    pos = end + 2;
  }
  return out;
}

// the scaled clock is installed before the emulator starts and outlives it
class Emulator : public ::testing::Test {
 protected:
  void StartSim(qorsim::SimConfig config = {}) {
    config.address = "127.0.0.1";
    config.udpPort = 0;
    config.linkPort = 0;
    config.telnetPort = 0;
    config.restartMs = 2000;
    m_Config = config;
    m_Sim = std::make_unique<qorsim::RouterSim>(config);
    std::string error;
    ASSERT_TRUE(m_Sim->Start(&error)) << error;
  }
  void SetFault(const std::string& spec) {
    std::string error;
    ASSERT_TRUE(m_Sim->ApplyFault(spec, &error)) << error;
  }
  MacAddress Mac() const {
    MacAddress mac;
    std::memcpy(mac.b, m_Config.mac.data(), 6);
    return mac;
  }
  static IpAddress Loopback() { return IpAddress{{127, 0, 0, 1}}; }

  ScaledClock m_Clock{10};
  ScopedClock m_Use{m_Clock};
  qorsim::SimConfig m_Config;
  std::unique_ptr<qorsim::RouterSim> m_Sim;
};

class EmulatorDiag : public Emulator {
 protected:
  void SetUp() override {
    StartSim();
    ASSERT_TRUE(m_Adapter.Open("127.0.0.1", m_Sim->LinkPort(), NetPortTcp));
    ASSERT_TRUE(m_Adapter.StartReceiver());
  }
  void TearDown() override { m_Adapter.Close(); }

  CHdlcAdapter m_Adapter;
  CDownloadLog m_Log{std::string()};
  CDiagCaller m_Diag{&m_Adapter, &m_Log};
};

}  // namespace

TEST_F(Emulator, DiscoveryFindsTheRouterByUnicastAndLoopbackBroadcast) {
  StartSim();
  for (const std::string& address : {std::string("127.0.0.1"), m_Sim->BroadcastAddress()}) {
    SCOPED_TRACE(address);
    CUdpHdlc udp(address, m_Sim->UdpPort());
    ASSERT_TRUE(udp.IsOpen());
    MacAddress mac;
    IpAddress ip;
    std::string text;
    ASSERT_EQ(udp.Discover(mac, ip, text), 1);
    EXPECT_EQ(mac, Mac());
    EXPECT_EQ(ip.ToString(), "127.0.0.1");
    EXPECT_EQ(text, m_Config.discoveryText);
  }
}

TEST_F(Emulator, ControlDatagramsAreEchoedAndActedOn) {
  StartSim();
  {
    CUdpHdlc udp(Loopback(), m_Sim->UdpPort());
    EXPECT_EQ(udp.CheckPresence(Loopback(), Mac()), 1);
    EXPECT_EQ(udp.EnterForceLoad(Loopback(), Mac()), 1);
  }
  EXPECT_TRUE(m_Sim->Module().forceLoad);
  {
    CUdpHdlc udp(Loopback(), m_Sim->UdpPort());
    EXPECT_EQ(udp.LeaveForceLoad(Loopback(), Mac()), 1);
    EXPECT_EQ(udp.EraseRouterNvram(Loopback(), Mac()), 1);
  }
  EXPECT_FALSE(m_Sim->Module().forceLoad);
  EXPECT_EQ(m_Sim->CountEvents("udp.presence"), 1u);
  EXPECT_EQ(m_Sim->CountEvents("udp.force-load"), 1u);
  EXPECT_EQ(m_Sim->CountEvents("udp.leave-force-load"), 1u);
  EXPECT_EQ(m_Sim->CountEvents("udp.erase-nvram"), 1u);

  // a datagram for another router (wrong MAC) is not confirmed
  MacAddress other = Mac();
  other.b[5] ^= 1;
  CUdpHdlc udp(Loopback(), m_Sim->UdpPort());
  EXPECT_EQ(udp.CheckPresence(Loopback(), other), 0);
}

TEST_F(EmulatorDiag, CheckCommands) {
  int downloader = -1;
  int offline = -1;
  ASSERT_EQ(m_Diag.DIAG_HandShake(false, &downloader, &offline), 1);
  EXPECT_EQ(downloader, 0);
  EXPECT_EQ(offline, 0);
  std::string firmware;
  std::string dashboard;
  ASSERT_EQ(m_Diag.DIAG_QueryBoardVersion(&firmware), 1);
  ASSERT_EQ(m_Diag.DIAG_QueryISOVersion(&dashboard), 1);
  EXPECT_EQ(firmware, m_Config.firmwareVersion);
  EXPECT_EQ(dashboard, m_Config.dashboardVersion);
  EXPECT_EQ(Messages(m_Log), (Lines{"DIAG_HandShake: (0,0)", "Firmware Version: " + m_Config.firmwareVersion,
                                    "Dashboard Version: " + m_Config.dashboardVersion}));
}

TEST_F(EmulatorDiag, DownloadPreparationAndDownloaderCommands) {
  ASSERT_EQ(m_Diag.DIAG_NV_BackupRestore(true), 1);
  EXPECT_TRUE(m_Sim->Module().nvBackedUp);
  ASSERT_EQ(m_Diag.DIAG_ChangeMode(1), 1);
  EXPECT_EQ(m_Sim->Module().mode, qorsim::ModuleMode::Offline);
  int downloader = -1;
  int offline = -1;
  ASSERT_EQ(m_Diag.DIAG_HandShake(false, &downloader, &offline), 1);
  EXPECT_EQ(offline, 1);
  ASSERT_EQ(m_Diag.DIAG_SwitchToDownloader(), 1);
  // the module restarts into its downloader; hand-shakes go unanswered meanwhile
  bool inDownloader = false;
  for (int i = 0; i < 10 && !inDownloader; ++i) {
    inDownloader = m_Diag.DIAG_HandShake(true, &downloader, &offline) == 1 && downloader == 1;
  }
  ASSERT_TRUE(inDownloader);
  uint8_t wrong[8] = {};
  EXPECT_EQ(m_Diag.DIAG_Unlock(wrong), 0);
  EXPECT_EQ(m_Diag.DIAG_Unlock(m_Config.unlockCode.data()), 1);
  EXPECT_TRUE(m_Sim->Module().unlocked);
  EXPECT_EQ(m_Sim->CountEvents("dl.wakeup"), 2u) << "a lone 26 before each unlock";
  EXPECT_EQ(m_Diag.DIAG_Reset(), 1);
  EXPECT_GE(m_Sim->CountEvents("module.restart"), 2u);
}

TEST_F(EmulatorDiag, NvItemsAndRestoreStatus) {
  uint8_t data[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  uint16_t status = 0xFFFF;
  EXPECT_EQ(m_Diag.DIAG_Read_NV(4321, data, sizeof data, &status), 1) << "never written reads as zeros";
  EXPECT_EQ(status, 5);
  EXPECT_EQ(std::count(data, data + 8, 0), 8);
  const uint8_t stored[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(m_Diag.DIAG_Write_NV(4321, stored, sizeof stored, &status), 1);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(m_Diag.DIAG_Read_NV(4321, data, sizeof data, &status), 1);
  EXPECT_EQ(0, std::memcmp(data, stored, sizeof data));
  EXPECT_EQ(m_Diag.DIAG_NV_QueryRestoreStatus(), 1);
  EXPECT_EQ(Messages(m_Log), (Lines{"DIAG_Read_NV: Variable was not active (never written)",
                                    "DIAG_NV_QueryRestoreStatus: No Backup to Restore"}));
}

TEST_F(EmulatorDiag, ModuleFaultsAndTheirLogLines) {
  struct Case {
    const char* fault;
    std::function<int(CDiagCaller&)> run;
    int result;
    Lines log;
  };
  const auto handShake = [](CDiagCaller& d) { return d.DIAG_HandShake(false, nullptr, nullptr); };
  const Case cases[] = {
      {"handshake-short", handShake, 0, {"DIAG_HandShake: Response Length = 15 (too short)"}},
      {"handshake-status=2", handShake, 0, {"DIAG_HandShake: status = 2"}},
      {"handshake-downloader", handShake, 1, {"DIAG_HandShake: (1,0)"}},
      {"board-version-fail",
       [](CDiagCaller& d) { return d.DIAG_QueryBoardVersion(nullptr); },
       0,
       {"Execute#1> 13", "DIAG_QueryBoardVersion: Write or Read Fail"}},
      {"iso-no-version", [](CDiagCaller& d) { return d.DIAG_QueryISOVersion(nullptr); }, 1, {}},
      {"nv-backup-reason=2",
       [](CDiagCaller& d) { return d.DIAG_NV_BackupRestore(true); },
       0,
       {"Backup NV: 不存在有效的备份"}},
      {"switch-refuse",
       [](CDiagCaller& d) { return d.DIAG_SwitchToDownloader(); },
       0,
       {"Execute#1> 13", "DIAG_SwitchToDownloader: Write or Read Fail"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    m_Sim->SetFaults({});
    SetFault(c.fault);
    CDownloadLog log{std::string()};
    CDiagCaller diag(&m_Adapter, &log);
    EXPECT_EQ(c.run(diag), c.result);
    EXPECT_EQ(Messages(log), c.log);
  }
  m_Sim->SetFaults({});
  SetFault("handshake-fail=1");
  CDownloadLog log{std::string()};
  CDiagCaller diag(&m_Adapter, &log);
  EXPECT_EQ(diag.DIAG_HandShake(false, nullptr, nullptr), 1) << "one lost answer is retried";
  EXPECT_EQ(Messages(log), (Lines{"Execute#1> Read Fail", "DIAG_HandShake: (0,0)"}));
}

TEST_F(Emulator, ShellConsoleLoginAndVersions) {
  StartSim();
  CTelnetClient client;
  client.SetPort(m_Sim->TelnetPort());
  CDownloadLog log{std::string()};
  ASSERT_TRUE(LoginShell(client, "127.0.0.1", log)) << log.GetPending();
  std::string cfe;
  std::string app;
  ASSERT_TRUE(client.Command("nvram get cfe_version\r\n", "#", 500));
  ASSERT_TRUE(TakeLastVersionLine(client, cfe));
  ASSERT_TRUE(client.Command("nvram get app_version\r\n", "#", 500));
  ASSERT_TRUE(TakeLastVersionLine(client, app));
  EXPECT_EQ(cfe, m_Config.cfeVersion);
  EXPECT_EQ(app, m_Config.appVersion);
  client.Close();
  EXPECT_TRUE(log.GetPending().empty());
}

TEST_F(Emulator, CommandInterfaceLoginAndVersions) {
  qorsim::SimConfig config;
  config.console = qorsim::SimConfig::Console::Cli;
  StartSim(config);
  CTelnetClient client;
  client.SetPort(m_Sim->TelnetPort());
  CDownloadLog log{std::string()};
  ASSERT_TRUE(LoginCli(client, "127.0.0.1", log)) << log.GetPending();
  std::string software;
  std::string res;
  ASSERT_TRUE(client.Command("diag display version\r\n", "success", 500));
  ASSERT_TRUE(TakeValueAfterLabel(client, "software version: ", software));
  ASSERT_TRUE(client.Command("diag display resversion\r\n", "success", 500));
  ASSERT_TRUE(TakeValueAfterLabel(client, "Res version:", res));
  EXPECT_EQ(software, m_Config.softwareVersion);
  EXPECT_EQ(res, m_Config.resVersion);
  client.Close();
}
