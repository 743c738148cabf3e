// The router image's connection ends before its result, driven by the emulator: the port connects
// again by itself, but the new connection can never carry the result, so the run ends at once with
// 121 on the application module (whose limit is 300 s) and the log says what happened.

#include <gtest/gtest.h>

#include <cstdio>

#include "ProcedureFixture.h"

namespace upgrade_test {
namespace {

class LostStream : public ProcedureTest {};

TEST_F(LostStream, TheRunEndsAtOnceWith121AndTheLogSaysWhy) {
  struct Case {
    const char* fault;
    // every message of the log that contains this, after the stream began
    const char* mentions;
    bool wholeImage;  // the emulator received every byte
  };
  const Case cases[] = {
      {"reset-after-image", "The connection was reset by the remote host.", true},
      {"close-after-image", "The connection was closed by the remote host.", true},
      // mid-stream: the reset is met by a later block write or by the receiver, whichever comes first
      {"reset-after-bytes=15000", "The connection was reset by the remote host.", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    ResetModuleTable();
    m_List.DeleteAllItems();
    AddRouterImage(MODULE_APP, kAppImage, 7300 * 3 + 1);
    AddRouterImage(MODULE_CUSTOMIZATION, kCustomImage, 100);
    StartSim();
    ASSERT_TRUE(Check());
    ApplyFault(c.fault);
    const size_t logBefore = Log().size();

    const uint64_t start = TickMs();
    RunUpgrade(*m_Engine, m_Host);
    const uint64_t took = TickMs() - start;
    std::printf("[clock] run with %s: %llu ms\n", c.fault, static_cast<unsigned long long>(took));

    ExpectFinal(MODULE_APP, "Failed to transmit upgrading data of router module", kColourRed);
    EXPECT_EQ(m_Engine->GetModuleOutcome(MODULE_APP), 121);
    // the module after it was not started
    EXPECT_EQ(RowOf(MODULE_CUSTOMIZATION).text[COL_STATUS], "Waiting for the upgrade");
    EXPECT_EQ(m_Engine->GetLastRunFailure(),
              Name(MODULE_APP) + ": Failed to transmit upgrading data of router module");
    const std::vector<qorsim::RouterImageRecord> images = Sim().RouterImages();
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].complete, c.wholeImage);
    EXPECT_EQ(Sim().CountEvents("router.result"), 0u);

    const std::vector<std::string> log = Log();
    bool named = false;
    bool reconnectLogged = false;
    for (size_t i = logBefore; i < log.size(); ++i) {
      named = named || log[i].find(c.mentions) != std::string::npos;
      reconnectLogged = reconnectLogged || log[i].rfind("Router link ", 0) == 0;
    }
    EXPECT_TRUE(named) << "no log line says: " << c.mentions;
    EXPECT_TRUE(reconnectLogged) << "the link's own event is in the upgrade log, not only in a trace";
    // the begin packet's pause and the stream, then the end: not the 300 s of the result wait
    EXPECT_LT(took, 20000u) << took;
  }
}

}  // namespace
}  // namespace upgrade_test
