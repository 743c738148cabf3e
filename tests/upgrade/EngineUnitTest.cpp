// The pieces that need no peer: the reporter's percentages, elapsed times and display writers, the
// plan's module choice and rows, the download-mode write frame and the column fitting.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "UpgradeFixtures.h"
#include "image/Catalogue.h"
#include "image/Crc16.h"
#include "image/ImageSet.h"
#include "platform/Clock.h"
#include "platform/StringTable.h"
#include "protocol/Hdlc.h"
#include "upgrade/CUpgradeEngine.h"
#include "upgrade/CheckProcedure.h"

namespace upgrade_test {
namespace {

TEST(EngineUnit, PercentOfNeverOverflowsAndStaysWithinRange) {
  struct Case {
    uint64_t done;
    uint64_t total;
    int expected;
  };
  const Case cases[] = {
      {0, 100, 0},
      {50, 100, 50},
      {99, 100, 99},
      {100, 100, 100},
      {1, 3, 33},
      {2, 3, 66},
      {0, 0, 100},  // an empty image is complete at once, no division by zero
      {5, 0, 100},
      {3000000000ull, 4000000000ull, 75},  // done x 100 exceeds 32 bits
      {4294967294ull, 4294967295ull, 99},
      {1ull << 62, 1ull << 63, 50},  // done x 100 exceeds 64 bits
      {UINT64_MAX - 1, UINT64_MAX, 99},
      {UINT64_MAX, UINT64_MAX, 100},
      {7, 5, 100},  // more than the total never shows above 100
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.done) + "/" + std::to_string(c.total));
    EXPECT_EQ(CRowReporter::PercentOf(c.done, c.total), c.expected);
  }
}

TEST(EngineUnit, ElapsedTimeShowsMinutesAndSecondsWithoutHours) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, " (00:00)"},    {9, " (00:09)"},    {59, " (00:59)"},
      {61, " (01:01)"},   {3599, " (59:59)"}, {3660, " (01:00)"},  // 61 minutes
      {7322, " (02:02)"}, {-5, " (00:00)"},
  };
  for (const auto& [seconds, text] : cases) {
    EXPECT_EQ(CRowReporter::FormatElapsed(seconds), text) << seconds;
  }
}

class EngineDisplay : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_Dir.Path().empty());
    m_Engine = std::make_unique<CUpgradeEngine>(m_Dir.File("log.txt"));
    m_Engine->Reporter().SetList(&m_List);
    m_List.InsertItem(0, "first");
    m_List.InsertItem(1, "second");
  }

  std::vector<std::string> Logged() { return LogMessages(m_Engine->GetLog().GetPending()); }
  CRowReporter& Report() { return m_Engine->Reporter(); }

  TempDir m_Dir;
  FakeModuleList m_List;
  std::unique_ptr<CUpgradeEngine> m_Engine;
};

TEST_F(EngineDisplay, StatusTextGoesToTheCurrentRowAndTheLogAndOnlyWidensTheColumn) {
  m_List.SetWidth(COL_STATUS, 100);
  Report().SetCurrentRow(1);

  Report().ShowStatusText("short", RowColour::Black);  // 8 characters with "..." = 56 px
  EXPECT_EQ(m_List.Row(1).text[COL_STATUS], "short");
  EXPECT_EQ(m_List.Row(1).colour, kColourBlack);
  EXPECT_EQ(m_List.GetColumnWidth(COL_STATUS), 100);

  const std::string wide = "a status text far wider than the column";
  Report().ShowStatusText(wide, RowColour::Red);
  EXPECT_EQ(m_List.Row(1).colour, kColourRed);
  EXPECT_EQ(m_List.GetColumnWidth(COL_STATUS),
            static_cast<int>(wide.size() + 3) * FakeModuleList::kCharWidth);

  const int widened = m_List.GetColumnWidth(COL_STATUS);
  Report().ShowStatusText("tiny", RowColour::Blue);
  EXPECT_EQ(m_List.GetColumnWidth(COL_STATUS), widened);
  EXPECT_EQ(m_List.Row(0).text[COL_STATUS], "");  // the other row is untouched

  const std::vector<std::string> logged = Logged();
  EXPECT_EQ(logged, (std::vector<std::string>{"short", wide, "tiny"}));
}

TEST_F(EngineDisplay, AStatusTextWithAPercentSignIsLoggedAsItStands) {
  Report().SetCurrentRow(0);
  Report().ShowStatusText("100% %s %d done", RowColour::Black);
  EXPECT_EQ(Logged().back(), "100% %s %d done");
}

TEST_F(EngineDisplay, StatusByIdIsBlackAndAnUnknownIdWritesNothing) {
  Report().SetCurrentRow(0);
  Report().ShowStatus(116);
  EXPECT_EQ(m_List.Row(0).text[COL_STATUS], "Transmitting the upgrade data of the router module");
  EXPECT_EQ(m_List.Row(0).colour, kColourBlack);

  const size_t before = m_List.StatusWrites().size();
  Report().ShowStatus(99999);
  EXPECT_EQ(m_List.StatusWrites().size(), before);
  EXPECT_EQ(Logged().size(), 1u);
}

TEST_F(EngineDisplay, FinalStatusShowsTheRecordedTextWithElapsedTimeInBlueOrRed) {
  struct Case {
    int statusId;
    int64_t elapsed;
    std::string text;
    uint32_t colour;
  };
  const Case cases[] = {
      {103, 5, "Download successfully (00:05)", kColourBlue},
      {122, 75, "Upgrading result of the router module is fail (01:15)", kColourRed},
      {124, 3660, "Handshake failed (01:00)", kColourRed},  // whole hours are not shown
  };
  Report().SetCurrentRow(0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const int64_t now = Clock().NowSeconds();
    Report().SetStepStart(now - c.elapsed);
    Report().ShowFinalStatus(c.statusId);
    const FakeRow row = m_List.Row(0);
    // the calendar second may tick between setting the start and showing the status
    const std::string text = LoadStringById(c.statusId);
    EXPECT_TRUE(row.text[COL_STATUS] == text + CRowReporter::FormatElapsed(c.elapsed) ||
                row.text[COL_STATUS] == text + CRowReporter::FormatElapsed(c.elapsed + 1))
        << row.text[COL_STATUS];
    EXPECT_EQ(row.text[COL_STATUS].substr(0, c.text.size() - 2), c.text.substr(0, c.text.size() - 2));
    EXPECT_EQ(row.colour, c.colour);
    // the next module's time counts from here
    EXPECT_GE(Report().GetStepStart(), now);
  }
}

TEST_F(EngineDisplay, PercentIsWrittenOnlyWhenItDiffersFromTheLastValueOfTheProcess) {
  Report().SetCurrentRow(1);
  const int first = CRowReporter::LastPercentShown() == 42 ? 43 : 42;
  const int second = first + 1;

  Report().ShowPercent(first);
  Report().ShowPercent(first);
  EXPECT_EQ(m_List.Row(1).text[COL_PERCENT], std::to_string(first) + "%");
  EXPECT_EQ(m_List.PercentWrites().size(), 1u);

  // a second engine and another item share the last value
  CUpgradeEngine other(m_Dir.File("other.txt"));
  other.Reporter().SetList(&m_List);
  other.Reporter().SetCurrentRow(0);
  other.Reporter().ShowPercent(first);
  EXPECT_EQ(m_List.Row(0).text[COL_PERCENT], "");
  other.Reporter().ShowPercent(second);
  EXPECT_EQ(m_List.Row(0).text[COL_PERCENT], std::to_string(second) + "%");
  EXPECT_EQ(CRowReporter::LastPercentShown(), second);
  EXPECT_EQ(m_List.PercentWrites().size(), 2u);
}

TEST_F(EngineDisplay, WritesToNoItemChangeNoRowButStillLog) {
  Report().SetCurrentRow(CRowReporter::kNoRow);
  Report().ShowStatus(111);
  EXPECT_EQ(m_List.Row(0).text[COL_STATUS], "");
  EXPECT_EQ(m_List.Row(1).text[COL_STATUS], "");
  EXPECT_EQ(Logged().back(), "Erasing the NVRAM of the router module");
}

TEST_F(EngineDisplay, ClosingALinkThatWasNeverOpenedSucceeds) { EXPECT_TRUE(m_Engine->CloseRouterLink()); }

TEST_F(EngineDisplay, ALinkThatCannotConnectRecords119) {
  ScaledClock clock(20);
  ScopedClock use(clock);
  Endpoints endpoints;
  endpoints.linkPort = UnusedTcpPort();
  ASSERT_NE(endpoints.linkPort, 0);
  m_Engine->SetEndpoints(endpoints);
  RouterInfo router;
  router.found = true;
  router.ip = IpAddress{{127, 0, 0, 1}};
  m_Engine->SetRouter(router);
  Report().SetCurrentRow(0);
  EXPECT_FALSE(m_Engine->OpenRouterLink());
  EXPECT_EQ(m_Engine->GetStatusId(), 119);
  EXPECT_EQ(Report().GetCurrentRow(), CRowReporter::kNoRow);
  EXPECT_FALSE(m_Engine->GetRouterLink().IsOpen());
}

// Decodes a frame independently of the builder: strips the flags, unescapes, checks the FCS.
bool DecodeWriteFrame(const uint8_t* frame, int length, std::vector<uint8_t>& payload) {
  if (length < 4 || frame[0] != 0x7E || frame[length - 1] != 0x7E) {
    return false;
  }
  std::vector<uint8_t> raw;
  for (int i = 1; i < length - 1; ++i) {
    if (frame[i] == 0x7E) {
      return false;  // a flag inside the frame
    }
    if (frame[i] == 0x7D) {
      if (i + 1 >= length - 1) {
        return false;
      }
      raw.push_back(static_cast<uint8_t>(frame[++i] ^ 0x20));
    } else {
      raw.push_back(frame[i]);
    }
  }
  if (raw.size() < 2) {
    return false;
  }
  const uint16_t fcs = static_cast<uint16_t>(raw[raw.size() - 2] | (raw[raw.size() - 1] << 8));
  payload.assign(raw.begin(), raw.end() - 2);
  return Crc16Compute(payload.data(), payload.size()) == fcs;
}

TEST_F(EngineDisplay, WriteFrameCarriesCommandAddressLengthAndDataEscapedWithItsFcs) {
  struct Case {
    const char* name;
    uint32_t address;
    std::vector<uint8_t> data;
  };
  std::vector<Case> cases = {
      {"plain", 0x00100000, {1, 2, 3, 4}},
      {"flag and escape bytes in the address", 0x7E7D7E7D, {0x55}},
      {"flag and escape bytes in the data", 0x2000, {0x7E, 0x7D, 0x7E, 0x20, 0x5E}},
      {"length whose low byte is a flag", 0x3000, std::vector<uint8_t>(0x7E, 0xAB)},
      {"length whose low byte is an escape", 0x3000, std::vector<uint8_t>(0x17D, 0x11)},
      {"full block, every byte escaped", 0x7E7E7E7E, std::vector<uint8_t>(4096, 0x7E)},
      {"empty block", 0x10, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int length =
        m_Engine->BuildWriteFrame(c.address, static_cast<uint32_t>(c.data.size()), c.data.data());
    ASSERT_GT(length, 0);
    ASSERT_LE(static_cast<size_t>(length), kHdlcWriteBufferSize);
    std::vector<uint8_t> payload;
    ASSERT_TRUE(DecodeWriteFrame(m_Engine->GetRouterLink().GetWriteBuffer(), length, payload));
    std::vector<uint8_t> expected = {0x0F,
                                     static_cast<uint8_t>(c.address >> 24),
                                     static_cast<uint8_t>(c.address >> 16),
                                     static_cast<uint8_t>(c.address >> 8),
                                     static_cast<uint8_t>(c.address),
                                     static_cast<uint8_t>(c.data.size() >> 8),
                                     static_cast<uint8_t>(c.data.size())};
    for (uint8_t b : c.data) {
      expected.push_back(b);
    }
    EXPECT_EQ(payload, expected);
  }
}

TEST_F(EngineDisplay, WriteFrameRefusesABlockLargerThan4096Bytes) {
  std::vector<uint8_t> data(4097, 0x7E);
  EXPECT_EQ(m_Engine->BuildWriteFrame(0, 4097, data.data()), 0);
  EXPECT_EQ(m_Engine->BuildWriteFrame(0, 4, nullptr), 0);
}

TEST(EngineUnit, ColumnsTakeTheWidestOfCharacterRuleContentsAndHeading) {
  FakeModuleList list;
  list.InsertItem(0, std::string(30, 'x'));  // wider than the 16-character rule
  list.SetItemText(0, COL_STATUS, std::string(40, 's'));
  FitModuleColumns(list);

  const int w = FakeModuleList::kCharWidth;
  EXPECT_EQ(list.GetColumnWidth(0), 30 * w + 12);  // contents
  EXPECT_EQ(list.GetColumnWidth(1), 17 * w);       // rule: 15 + 2 characters
  EXPECT_EQ(list.GetColumnWidth(2), 17 * w);
  EXPECT_EQ(list.GetColumnWidth(3), 6 * w);  // rule: 4 + 2 characters
  EXPECT_EQ(list.GetColumnWidth(4), 40 * w + 12);

  const std::vector<std::string> calls = list.Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[1], "SetRedraw(0)");  // calls[0] is the insert
  EXPECT_EQ(calls.back(), "SetRedraw(1)");
  // each column: fit the contents, fit with the heading, then the chosen width
  EXPECT_EQ(calls[2], "SetColumnWidth(0,-1)");
  EXPECT_EQ(calls[3], "SetColumnWidth(0,-2)");
  EXPECT_EQ(calls[4], "SetColumnWidth(0," + std::to_string(30 * w + 12) + ")");
}

// Module choice and list rows for each set of images the catalogue can hold.
class EngineChoice : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(m_Dir.Path().empty()); }

  // Scans a folder holding images of the modules into images, as a Check would. The plan of a set
  // of images (no version read) chooses every one of them, as a successful Check does.
  static void Load(const TempDir& dir, CImageSet& images, const std::vector<ModuleType>& modules) {
    ASSERT_TRUE(FillImageSet(dir.Path(), images, modules));
  }

  TempDir m_Dir;
};

TEST_F(EngineChoice, ItemsNameExactlyTheRowsTheCheckShows) {
  struct Case {
    const char* name;
    std::vector<ModuleType> images;
    std::vector<int> chosenItems;  // per module 0..8: its item, or -1 when not chosen
  };
  const Case cases[] = {
      {"first family and wireless", Modules({0, 1, 2, 7, 8}), {0, 1, 2, -1, -1, -1, -1, 3, 4}},
      {"second family and wireless", Modules({3, 4, 5, 6, 7, 8}), {-1, -1, -1, 0, 1, 2, 3, 4, 5}},
      {"both families: the second is left out",
       Modules({0, 1, 3, 5, 6, 7, 8}),
       {0, 1, -1, -1, -1, -1, -1, 3, 4}},
      {"wireless only", Modules({7, 8}), {-1, -1, -1, -1, -1, -1, -1, 4, 5}},
      {"application alone", Modules({1}), {-1, 1, -1, -1, -1, -1, -1, -1, -1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir folder;
    CImageSet images;
    Load(folder, images, c.images);
    const ModulePlan plan = ModulePlan::ForImages(images);
    for (ModuleType m : kAllModules) {
      SCOPED_TRACE(m);
      const int expected = c.chosenItems[ModuleIndex(m)];
      EXPECT_EQ(plan.IsChosen(m), expected >= 0);
      if (expected >= 0) {
        EXPECT_EQ(plan.RowOf(m), expected);
      }
    }
  }
}

TEST_F(EngineChoice, AModuleTheCheckDidNotAcceptIsNotChosen) {
  CImageSet images;
  Load(m_Dir, images, Modules({1, 7}));
  ModulePlan plan = ModulePlan::ForImages(images);
  plan[MODULE_APP].decision = UpgradeDecision::VersionConflict;
  EXPECT_FALSE(plan.IsChosen(MODULE_APP));
  EXPECT_TRUE(plan.IsChosen(MODULE_FIRMWARE));
  EXPECT_FALSE(plan.IsChosen(MODULE_NONE));
  EXPECT_FALSE(plan.IsChosen(static_cast<ModuleType>(-1)));
}

}  // namespace
}  // namespace upgrade_test
