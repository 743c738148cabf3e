// A Check stops within 1 s of clock time of the stop request, wherever it waits: a discovery
// flooded with foreign datagrams, a console or link that never answers its connection attempt, a
// console that says nothing, a module that never answers its hand-shake. It shows nothing and logs
// no failure it did not have.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "ProcedureFixture.h"

namespace upgrade_test {
namespace {

class CheckStop : public ProcedureTest {};

TEST_F(CheckStop, AStoppedCheckEndsWithinASecondWhereverItWaits) {
  struct Case {
    const char* name;
    const char* fault;
    // the emulator's event once the fault is in force (a listener replaced), or nullptr
    const char* settled;
    bool routerImages;  // else wireless images only (no console)
    // the emulator event that shows the Check is in the step, and the clock ms to the stop after it
    const char* reached;
    uint32_t stopAfterMs;
  };
  const Case cases[] = {
      // foreign datagrams every 20 ms: each restarts the 3 s wait, for up to 30 s
      {"discovery flooded", "discovery-flood=20", nullptr, true, "udp.discover", 1500},
      // the connect would wait 21 s
      {"console connect unanswered", "telnet-unanswered", "telnet.listen", true, "udp.discover", 1500},
      // the console's first read waits 500 ms for the prompt
      {"console silent", "telnet-silent", nullptr, true, "telnet.connect", 200},
      {"link connect unanswered", "link-unanswered", "link.listen", false, "udp.discover", 1500},
      // five tries of 6 s each
      {"hand-shake unanswered", "handshake-fail=50", nullptr, false, "diag.handshake", 1500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetModuleTable();
    for (const auto& entry : std::filesystem::directory_iterator(m_Images.Path())) {
      std::filesystem::remove(entry.path());
    }
    m_Stop = false;
    if (c.routerImages) AddRouterImage(MODULE_APP, kAppImage, 100);
    AddWirelessImage(MODULE_FIRMWARE, kFirmwareImage, {{0x1000, 100}});
    StartSim();
    ApplyFault(c.fault);
    if (c.settled != nullptr) {
      ASSERT_TRUE(Sim().WaitForEvent(c.settled, 10000));
    }
    const size_t logBefore = Log().size();
    const size_t hostBefore = m_Host.Events().size();
    const size_t warningsBefore = m_Warnings.Texts().size();

    std::atomic<bool> ended{false};
    std::thread worker([&] {
      CheckThread();
      ended = true;
    });
    const bool reached = Sim().WaitForEvent(c.reached, 60000);
    SleepMs(c.stopAfterMs);
    if (!reached || ended.load()) {
      m_Stop = true;
      worker.join();
      ADD_FAILURE() << "the Check must still be waiting in its step";
      DumpDiagnostics();
      continue;
    }
    const uint64_t requested = TickMs();
    m_Stop = true;
    worker.join();
    const uint64_t took = TickMs() - requested;
    std::printf("[clock] Check stopped while %s: %llu ms after the request\n", c.name,
                static_cast<unsigned long long>(took));
    EXPECT_LE(took, 1000u) << "clock ms from the request to the worker's end";

    // no box, no buttons, no rows: the front end is going away
    EXPECT_EQ(m_Warnings.Texts().size(), warningsBefore);
    const std::vector<std::string> host = m_Host.Events();
    for (size_t i = hostBefore; i < host.size(); ++i) {
      EXPECT_TRUE(host[i] == "Update") << host[i];
    }
    EXPECT_EQ(m_List.GetItemCount(), 0);
    // the log says the Check was stopped, and no step failure that the stop caused
    const std::vector<std::string> log = Log();
    ASSERT_GT(log.size(), logBefore);
    EXPECT_EQ(log.back(), kCheckStoppedLog);
    for (size_t i = logBefore; i + 1 < log.size(); ++i) {
      EXPECT_EQ(log[i].find("Fail"), std::string::npos) << log[i];
      EXPECT_EQ(log[i].find("失败"), std::string::npos) << log[i];
      EXPECT_EQ(log[i].find("没有"), std::string::npos) << log[i];
    }
    EXPECT_FALSE(m_Engine->GetRouterLink().IsOpen());
    EXPECT_FALSE(m_Telnet.IsConnected());
  }
}

}  // namespace
}  // namespace upgrade_test
