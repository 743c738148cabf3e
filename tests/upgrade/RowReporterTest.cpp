// The row reporter: the rows a plan lays out, and the record of what each row shows, which the
// front ends report instead of reading their display back. The writers' texts, colours and column
// widths are exercised in EngineUnitTest (EngineDisplay).

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "UpgradeFixtures.h"
#include "log/CDownloadLog.h"
#include "platform/Clock.h"
#include "platform/StringTable.h"
#include "upgrade/Advice.h"
#include "upgrade/CRowReporter.h"
#include "upgrade/ModulePlan.h"

namespace upgrade_test {
namespace {

class RowReporter : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_Dir.Path().empty());
    ASSERT_TRUE(FillImageSet(m_Dir.Path(), m_Images, Modules({1, 2, 7})));
    m_Plan = ModulePlan::ForImages(m_Images);
    m_Plan[MODULE_BOOT].currentVersion = "9.9.9.9";  // read, but the boot loader has no image
    m_Plan[MODULE_APP].currentVersion = "1.0.5.0";
    m_Plan[MODULE_CUSTOMIZATION].decision = UpgradeDecision::VersionConflict;
    m_Report.SetList(&m_List);
  }

  std::vector<std::string> Logged() { return LogMessages(m_Log.GetPending()); }

  TempDir m_Dir;
  CImageSet m_Images;
  ModulePlan m_Plan;
  CDownloadLog m_Log{""};  // collects entries, never writes
  FakeModuleList m_List;
  CRowReporter m_Report{m_Log};
};

TEST_F(RowReporter, APlanLaysOutOneRowPerShownModuleAndRecordsWhatEachShows) {
  m_Report.ShowPlan(m_Plan);
  struct Row {
    ModuleType module;
    std::string current;
    std::string upgrade;
    std::string status;
    uint32_t colour;
    RowColour recorded;
  };
  const Row expected[] = {
      {MODULE_BOOT, "", "", "Not found", FakeModuleList::kGray, RowColour::Grey},
      {MODULE_APP, "1.0.5.0", "1.0.0.0", "Waiting for the upgrade", kColourBlue, RowColour::Blue},
      {MODULE_CUSTOMIZATION, "", "1.0.0.0", "Version does not match", kColourRed, RowColour::Red},
      {MODULE_FIRMWARE, "", "1.0.0.0", "Waiting for the upgrade", kColourBlue, RowColour::Blue},
      {MODULE_DASHBOARD, "", "", "Not found", FakeModuleList::kGray, RowColour::Grey},
  };
  const std::vector<FakeRow> rows = m_List.Rows();
  const std::vector<RowRecord> records = m_Report.Rows();
  ASSERT_EQ(rows.size(), std::size(expected));
  ASSERT_EQ(records.size(), std::size(expected));
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    const Row& e = expected[i];
    EXPECT_EQ(rows[i].text[COL_TYPE], ModuleDisplayName(e.module));
    EXPECT_EQ(rows[i].text[COL_CURRENT], e.current);
    EXPECT_EQ(rows[i].text[COL_UPGRADE], e.upgrade);
    EXPECT_EQ(rows[i].text[COL_PERCENT], "");
    EXPECT_EQ(rows[i].text[COL_STATUS], e.status);
    EXPECT_EQ(rows[i].colour, e.colour);
    EXPECT_EQ(records[i].module, e.module);
    EXPECT_EQ(records[i].status, e.status);
    EXPECT_EQ(records[i].colour, e.recorded);
    EXPECT_FALSE(records[i].percent.has_value());
  }
  // laying the rows out is no step of a procedure: nothing is logged
  EXPECT_TRUE(Logged().empty());
}

TEST_F(RowReporter, TheRecordFollowsEveryWriteTheListGets) {
  m_Report.ShowPlan(m_Plan);
  const int app = m_Plan.RowOf(MODULE_APP);
  m_Report.SetCurrentRow(app);
  // a value equal to the process's last one is not written, and so not recorded either
  const int first = CRowReporter::LastPercentShown() == 40 ? 41 : 40;
  m_Report.ShowPercent(first);
  m_Report.ShowStatus(116);
  m_Report.SetStepStart(0);
  m_Report.ShowFinalStatus(122);

  // a module the run did not get to
  const int firmware = m_Plan.RowOf(MODULE_FIRMWARE);
  m_Report.MarkSkipped(firmware, "Skipped: no reason at all");
  // writes to no row leave every record as it was
  m_Report.SetCurrentRow(CRowReporter::kNoRow);
  m_Report.ShowStatusText("nowhere", RowColour::Red);
  m_Report.ShowPercent(first + 1);

  const std::vector<RowRecord> records = m_Report.Rows();
  ASSERT_EQ(records.size(), 5u);
  const std::vector<FakeRow> rows = m_List.Rows();
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    // the record and the list agree, whatever was written
    EXPECT_EQ(records[i].status, rows[i].text[COL_STATUS]);
    EXPECT_EQ(records[i].percent ? std::to_string(*records[i].percent) + "%" : "", rows[i].text[COL_PERCENT]);
  }
  EXPECT_EQ(records[static_cast<size_t>(app)].percent, std::optional<int>(first));
  EXPECT_EQ(records[static_cast<size_t>(app)].colour, RowColour::Red);
  EXPECT_EQ(
      records[static_cast<size_t>(app)].status.rfind("Upgrading result of the router module is fail (", 0),
      0u);
  EXPECT_EQ(records[static_cast<size_t>(firmware)].status, "Skipped: no reason at all");
  EXPECT_EQ(records[static_cast<size_t>(firmware)].colour, RowColour::Black);
  EXPECT_EQ(records[0].status, "Not found");
  EXPECT_EQ(records[0].colour, RowColour::Grey);

  // the skipped mark is not logged; the status texts are
  const std::vector<std::string> logged = Logged();
  EXPECT_EQ(FindMessage(logged, "Skipped: no reason at all"), -1);
  EXPECT_GE(FindMessage(logged, "nowhere"), 0);

  // a new Check starts from no rows
  m_Report.ClearRows();
  EXPECT_TRUE(m_Report.Rows().empty());
  EXPECT_EQ(m_List.GetItemCount(), 0);
}

// What the JSON and the event stream report comes from the records: every write carries its status
// id, a final status its step's seconds and, for a failure, the advice as the row's tooltip.
class RecordingObserver : public IRowObserver {
 public:
  void OnStatus(const RowRecord& row, int index) override { events.push_back(Text("status", row, index)); }
  void OnPercent(const RowRecord& row, int index) override { events.push_back(Text("percent", row, index)); }
  void OnFinal(const RowRecord& row, int index) override { events.push_back(Text("final", row, index)); }
  static std::string Text(const char* kind, const RowRecord& row, int index) {
    return std::string(kind) + " " + std::to_string(index) + " " + std::to_string(row.statusId) + " " +
           (row.percent ? std::to_string(*row.percent) : "-") + " " +
           (row.elapsedSeconds ? std::to_string(*row.elapsedSeconds) : "-");
  }
  std::vector<std::string> events;
};

TEST_F(RowReporter, RecordsCarryStatusIdsElapsedSecondsAndTheFailuresAdvice) {
  RecordingObserver observer;
  m_Report.SetObserver(&observer);
  m_Report.ShowPlan(m_Plan);
  const int app = m_Plan.RowOf(MODULE_APP);
  const int custom = m_Plan.RowOf(MODULE_CUSTOMIZATION);
  const int firmware = m_Plan.RowOf(MODULE_FIRMWARE);
  // the plan's own texts carry their ids; a version conflict tells what to do at once
  EXPECT_EQ(m_Report.Rows()[0].statusId, IDS_NOT_FOUND);
  EXPECT_EQ(m_Report.Rows()[static_cast<size_t>(app)].statusId, IDS_WAITING_UPGRADE);
  EXPECT_EQ(m_Report.Rows()[static_cast<size_t>(custom)].statusId, IDS_VERSION_MISMATCH);
  EXPECT_EQ(m_List.Row(custom).toolTip, AdviceText(IDS_VERSION_MISMATCH));
  EXPECT_TRUE(observer.events.empty());  // laying out is no change of a row

  const int pct = CRowReporter::LastPercentShown() == 55 ? 56 : 55;
  m_Report.SetCurrentRow(app);
  m_Report.SetStepStart(Clock().NowSeconds() - 75);
  m_Report.ShowStatus(IDS_TRANSMITTING_ROUTER);
  m_Report.ShowPercent(pct);
  m_Report.ShowFinalStatus(IDS_ROUTER_RESULT_TIMEOUT);
  m_Report.SetCurrentRow(firmware);
  m_Report.ShowStatusText("a device's words", RowColour::Black);
  m_Report.ShowFinalStatus(IDS_DOWNLOAD_SUCCESSFULLY);
  m_Report.MarkSkipped(m_Plan.RowOf(MODULE_DASHBOARD), "Skipped", ADVICE_NVRAM_ERASE_FAILED);

  const std::vector<RowRecord> rows = m_Report.Rows();
  const RowRecord& failed = rows[static_cast<size_t>(app)];
  EXPECT_EQ(failed.statusId, IDS_ROUTER_RESULT_TIMEOUT);
  EXPECT_TRUE(failed.final);
  ASSERT_TRUE(failed.elapsedSeconds.has_value());
  EXPECT_GE(*failed.elapsedSeconds, 75);
  EXPECT_LE(*failed.elapsedSeconds, 80);
  EXPECT_EQ(m_List.Row(app).toolTip, AdviceText(IDS_ROUTER_RESULT_TIMEOUT));
  EXPECT_FALSE(AdviceText(IDS_ROUTER_RESULT_TIMEOUT).empty());
  // a success has no advice
  EXPECT_EQ(rows[static_cast<size_t>(firmware)].statusId, IDS_DOWNLOAD_SUCCESSFULLY);
  EXPECT_EQ(m_List.Row(firmware).toolTip, "");
  const size_t dashboard = static_cast<size_t>(m_Plan.RowOf(MODULE_DASHBOARD));
  EXPECT_EQ(rows[dashboard].statusId, ADVICE_NVRAM_ERASE_FAILED);
  EXPECT_EQ(m_List.Row(static_cast<int>(dashboard)).toolTip, AdviceText(ADVICE_NVRAM_ERASE_FAILED));

  const std::string a = std::to_string(app);
  const std::string f = std::to_string(firmware);
  ASSERT_EQ(observer.events.size(), 6u);
  EXPECT_EQ(observer.events[0], "status " + a + " 116 - -");
  EXPECT_EQ(observer.events[1], "percent " + a + " 116 " + std::to_string(pct) + " -");
  EXPECT_EQ(observer.events[2].rfind("final " + a + " 123 " + std::to_string(pct) + " 7", 0), 0u);
  EXPECT_EQ(observer.events[3], "status " + f + " 0 - -");
  EXPECT_EQ(observer.events[4].rfind("final " + f + " 103 - ", 0), 0u);
  EXPECT_EQ(observer.events[5], "final " + std::to_string(dashboard) + " 1001 - -");
  m_Report.SetObserver(nullptr);
}

TEST(RowColours, EachColourHasOneValueAndOneName) {
  FakeModuleList list;
  const std::pair<RowColour, const char*> names[] = {{RowColour::Black, "black"},
                                                     {RowColour::Blue, "blue"},
                                                     {RowColour::Red, "red"},
                                                     {RowColour::Grey, "grey"}};
  for (const auto& [colour, name] : names) {
    EXPECT_STREQ(CRowReporter::ColourName(colour), name);
  }
  EXPECT_EQ(CRowReporter::ColourValue(RowColour::Black, list), kColourBlack);
  EXPECT_EQ(CRowReporter::ColourValue(RowColour::Blue, list), kColourBlue);
  EXPECT_EQ(CRowReporter::ColourValue(RowColour::Red, list), kColourRed);
  // grey is the list's own colour of disabled text
  EXPECT_EQ(CRowReporter::ColourValue(RowColour::Grey, list), FakeModuleList::kGray);
}

}  // namespace
}  // namespace upgrade_test
