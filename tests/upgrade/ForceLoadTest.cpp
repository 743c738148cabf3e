// Force-load mode and the waits after a restart, against the emulator, measured in clock time.

#include <gtest/gtest.h>

#include "ProcedureFixture.h"

namespace upgrade_test {
namespace {

using Strings = std::vector<std::string>;

class ForceLoad : public ProcedureTest {
 protected:
  // The engine as a Check leaves it: the router found, the current item a wireless row.
  void Prime(qorsim::SimConfig config = {}) {
    StartSim(std::move(config));
    RouterInfo router;
    router.found = true;
    router.ip = IpAddress{{127, 0, 0, 1}};
    for (size_t i = 0; i < 6; ++i) {
      router.mac.b[i] = m_Sim->Config().mac[i];
    }
    m_Engine->SetRouter(router);
    for (int i = 0; i < 5; ++i) {
      m_List.InsertItem(i, "row");
    }
    m_Engine->Reporter().SetCurrentRow(3);
  }
  Strings PercentsOfItem(int item) {
    Strings out;
    for (const auto& [written, text] : m_List.PercentWrites()) {
      if (written == item) {
        out.push_back(text);
      }
    }
    return out;
  }
};

TEST_F(ForceLoad, ARestartWaitTakesAtLeastTenSecondsEvenWhenTheRouterAnswersAtOnce) {
  Prime();
  ASSERT_TRUE(m_Engine->OpenRouterLink());
  m_Engine->Reporter().SetCurrentRow(3);
  if (CRowReporter::LastPercentShown() == 0) {
    m_Engine->Reporter().ShowPercent(1);  // so that the wait's 0 is written
  }
  const size_t before = m_List.PercentWrites().size();
  const uint64_t start = TickMs();
  EXPECT_TRUE(m_Engine->WaitModuleRestart());
  // 2 s before the first probe, 6 s between the checks, 2 s before the second probe
  EXPECT_GE(TickMs() - start, 10000u);
  const auto writes = m_List.PercentWrites();
  Strings percents;
  for (size_t i = before; i < writes.size(); ++i) {
    percents.push_back(writes[i].second);
  }
  EXPECT_EQ(percents, (Strings{"0%", "30%", "50%", "70%", "100%"}));
  EXPECT_EQ(m_List.Row(3).text[COL_STATUS], "Preparing for the upgrade of the wireless module");
  EXPECT_EQ(Sim().CountEvents("udp.presence"), 2u);
}

TEST_F(ForceLoad, TheModuleAnsweringOnlyTheThirdHandshakeStillEndsTheWait) {
  Prime();
  ASSERT_TRUE(m_Engine->OpenRouterLink());
  m_Engine->Reporter().SetCurrentRow(3);
  ApplyFault("handshake-fail=10");  // two hand-shakes of five tries each
  EXPECT_TRUE(m_Engine->WaitModuleRestart());
  EXPECT_EQ(m_List.Row(3).text[COL_PERCENT], "100%");
  EXPECT_EQ(m_Engine->GetStatusId(), 103);
  EXPECT_EQ(m_Engine->GetInDownloader(), 0);
}

TEST_F(ForceLoad, AnUnansweredRouterIsGivenUpAfterThreeProbes) {
  qorsim::SimConfig config;
  config.faults.noPresence = true;
  Prime(config);
  const uint64_t start = TickMs();
  EXPECT_FALSE(m_Engine->WaitRouterReachable(10000));
  const uint64_t elapsed = TickMs() - start;
  // probes at 2, 6 and 10 s, each unanswered for 2 s: about 12 s, never before the limit
  EXPECT_GT(elapsed, 10000u);
  EXPECT_LT(elapsed, 30000u);
  EXPECT_EQ(Sim().CountEvents("udp.ignored"), 3u);
  EXPECT_EQ(m_Engine->GetStatusId(), 103);  // records nothing
}

TEST_F(ForceLoad, EnteringShowsItsTextInBlackAndSetsTheFlag) {
  Prime();
  EXPECT_TRUE(m_Engine->EnterForceLoadMode());
  EXPECT_EQ(m_Engine->GetForceLoadFlag(), 1);
  EXPECT_EQ(m_List.Row(3).text[COL_STATUS], "Enter Forcing Download Mode ...");
  EXPECT_EQ(m_List.Row(3).colour, kColourBlack);
  EXPECT_TRUE(Sim().Module().forceLoad);

  EXPECT_TRUE(m_Engine->LeaveForceLoadMode());
  EXPECT_FALSE(Sim().Module().forceLoad);
  EXPECT_TRUE(Logged("Leave Forcing Download Mode ..."));
  // leaving writes no row
  EXPECT_EQ(m_List.Row(3).text[COL_STATUS], "Enter Forcing Download Mode ...");
}

TEST_F(ForceLoad, ARefusedEntryLeavesTheFlagClear) {
  qorsim::SimConfig config;
  config.faults.forceLoadRefuse = true;
  Prime(config);
  EXPECT_FALSE(m_Engine->EnterForceLoadMode());
  EXPECT_EQ(m_Engine->GetForceLoadFlag(), 0);
  EXPECT_EQ(m_Engine->GetStatusId(), 103);  // the caller records its own failure
}

}  // namespace
}  // namespace upgrade_test
