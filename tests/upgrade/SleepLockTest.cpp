// The sleep lock of the Upgrade run, against a private message bus started by the test with a
// stand-in login manager (login1_standin.py), which reports every lock asked for and the moment its
// descriptor is closed.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ProcedureFixture.h"
#include "cli/ChildProcess.h"
#include "support/TempDir.h"
#include "upgrade/SleepInhibitor.h"

using namespace upgrade_test;

namespace {

constexpr int kWaitMs = 10000;

const std::string kExpectedLock =
    "inhibit 1 sleep:idle:handle-lid-switch|QorOneClick|Upgrading the router's "
    "firmware|block";

// A private bus in a folder of its own; with the stand-in, a login manager on it.
class PrivateBus {
 public:
  explicit PrivateBus(bool withLoginManager) {
    m_Socket = m_Dir.File("bus");
    m_Address = "unix:path=" + m_Socket;
    if (!m_Daemon.Start(QOR_DBUS_DAEMON, {"--session", "--nofork", "--nopidfile", "--address=" + m_Address},
                        {}, "", true))
      return;
    // the daemon listens once its socket exists
    for (int i = 0; i < 500 && access(m_Socket.c_str(), F_OK) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (access(m_Socket.c_str(), F_OK) != 0) return;
    if (withLoginManager) {
      if (!m_Manager.Start(QOR_SYSTEM_PYTHON, {QOR_LOGIN1_STANDIN}, {{"DBUS_SYSTEM_BUS_ADDRESS", m_Address}},
                           "", true))
        return;
      if (!m_Manager.WaitForOutput("ready\n", kWaitMs)) return;
    }
    m_Ready = true;
  }
  bool Ready() const { return m_Ready; }
  const std::string& Address() const { return m_Address; }
  std::string Events() const { return m_Manager.Stdout(); }
  bool WaitFor(const std::string& line) const { return m_Manager.WaitForOutput(line + "\n", kWaitMs); }
  std::string ManagerErrors() const { return m_Manager.Stderr(); }

 private:
  TempDir m_Dir;
  std::string m_Socket;
  std::string m_Address;
  ChildProcess m_Daemon;
  ChildProcess m_Manager;
  bool m_Ready = false;
};

}  // namespace

// The lock carries what it blocks, who, why and its mode, and holds exactly until its descriptor
// is closed.
TEST(SleepLock, IsTakenWithItsTermsAndHeldUntilItsDescriptorIsClosed) {
  PrivateBus bus(true);
  ASSERT_TRUE(bus.Ready()) << bus.ManagerErrors();
  ScopedEnv address("DBUS_SYSTEM_BUS_ADDRESS", bus.Address());

  CLogindInhibitor inhibitor;
  std::string error;
  const int fd = inhibitor.Acquire(error);
  ASSERT_GE(fd, 0) << error;
  ASSERT_TRUE(bus.WaitFor(kExpectedLock)) << bus.Events();
  // still held a while later: the lock must not end with the call that took it
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(bus.Events().find("released"), std::string::npos) << bus.Events();
  close(fd);
  EXPECT_TRUE(bus.WaitFor("released 1")) << bus.Events();
}

// Without a bus, or with a bus that has no login manager, no lock is had, the reason is logged and
// the caller goes on.
TEST(SleepLock, WithoutABusOrLoginManagerTheReasonIsLogged) {
  struct Case {
    const char* name;
    bool daemon;
    const char* reasonPart;
  };
  const Case cases[] = {
      {"no bus", false, "no system bus"},
      {"no login manager", true, "the login manager refused the lock"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir state;
    std::unique_ptr<PrivateBus> bus;
    std::string address = "unix:path=" + state.File("no-bus-here");
    if (c.daemon) {
      bus = std::make_unique<PrivateBus>(false);
      ASSERT_TRUE(bus->Ready());
      address = bus->Address();
    }
    ScopedEnv env("DBUS_SYSTEM_BUS_ADDRESS", address);
    CLogindInhibitor inhibitor;
    CDownloadLog log(state.File("log.txt"));
    {
      CSleepBlock block(&inhibitor, log);
      EXPECT_FALSE(block.Held());
    }
    const std::vector<std::string> messages = LogMessages(log.GetPending());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind(kSleepNotBlockedLog, 0), 0u) << messages[0];
    EXPECT_NE(messages[0].find(c.reasonPart), std::string::npos) << messages[0];
  }
}

class SleepLockRun : public ProcedureTest {};

// The run takes the lock before it opens the link and closes it when it has closed the link, on a
// successful run and on one that fails at once.
TEST_F(SleepLockRun, HoldsTheLockFromTheStartToTheEndOfEveryRun) {
  struct Case {
    const char* name;
    const char* fault;  // "" for none
    bool succeeds;
    const char* marker;  // a line of the run that must fall inside the lock
  };
  const Case cases[] = {
      {"success", "", true, "Download successfully"},
      {"link refused", "link-closed", false, "Creating the TCP connection to 127.0.0.1:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PrivateBus bus(true);
    ASSERT_TRUE(bus.Ready()) << bus.ManagerErrors();
    ScopedEnv address("DBUS_SYSTEM_BUS_ADDRESS", bus.Address());
    CLogindInhibitor inhibitor;
    m_Engine->SetSleepInhibitor(&inhibitor);
    ResetModuleTable();
    m_List.DeleteAllItems();
    AddRouterImage(MODULE_APP, kAppImage, 2000);
    StartSim();
    ASSERT_TRUE(Check());
    // the Check takes no lock: it writes nothing
    EXPECT_EQ(bus.Events(), "ready\n");
    if (*c.fault) ApplyFault(c.fault);
    const size_t from = Log().size();
    Upgrade();
    EXPECT_EQ(UpgradeRunSucceeded(*m_Engine), c.succeeds);
    EXPECT_TRUE(bus.WaitFor(kExpectedLock)) << bus.Events();
    EXPECT_TRUE(bus.WaitFor("released 1")) << bus.Events();

    const std::vector<std::string> log = Log();
    const int blocked = FindMessage(log, kSleepBlockedLog, from);
    const int allowed = FindMessage(log, kSleepAllowedLog, from);
    int marker = -1;
    for (size_t i = from; i < log.size() && marker < 0; ++i)
      if (log[i].find(c.marker) != std::string::npos) marker = static_cast<int>(i);
    ASSERT_GE(blocked, 0);
    EXPECT_LT(blocked, marker);
    EXPECT_LT(marker, allowed);
    EXPECT_EQ(log.back(), std::string(50, '+'));
    m_Engine->SetSleepInhibitor(nullptr);
    m_Sim.reset();
  }
}

// A PC without a login manager is upgraded all the same, and the log says sleep was not blocked.
TEST_F(SleepLockRun, ARunWithoutABusGoesOnAndSaysSo) {
  ScopedEnv address("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + m_State.File("no-bus-here"));
  CLogindInhibitor inhibitor;
  m_Engine->SetSleepInhibitor(&inhibitor);
  AddRouterImage(MODULE_APP, kAppImage, 2000);
  StartSim();
  ASSERT_TRUE(Check());
  Upgrade();
  EXPECT_TRUE(UpgradeRunSucceeded(*m_Engine));
  EXPECT_EQ(MessagesStartingWith(Log(), kSleepNotBlockedLog).size(), 1u);
  EXPECT_LT(FindMessage(Log(), kSleepAllowedLog), 0);
}
