#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "SimTestUtil.h"
#include "sim/FrameGatherer.h"
#include "sim/RouterSim.h"
#include "sim/SparseFlash.h"

using namespace qorsim;
using simtest::Hex;

namespace {

TEST(SparseFlash, WritesMergeIntoRunsAndNewerBytesWin) {
  struct Write {
    uint32_t address;
    std::vector<uint8_t> data;
  };
  struct Case {
    const char* what;
    std::vector<Write> writes;
    std::map<uint32_t, std::string> runs;  // start -> hex
  } cases[] = {
      {"blocks back to back", {{0x100, {1, 2}}, {0x102, {3}}, {0x103, {4, 5}}}, {{0x100, "01 02 03 04 05"}}},
      {"a gap keeps two runs", {{0x100, {1}}, {0x102, {2}}}, {{0x100, "01"}, {0x102, "02"}}},
      {"filling the gap joins them", {{0x100, {1}}, {0x102, {3}}, {0x101, {2}}}, {{0x100, "01 02 03"}}},
      {"overwrite inside a run", {{0x10, {1, 2, 3, 4}}, {0x11, {9, 9}}}, {{0x10, "01 09 09 04"}}},
      {"a write covering several runs",
       {{0x10, {1}}, {0x12, {2}}, {0x14, {3}}, {0x0F, {7, 7, 7, 7, 7, 7, 7}}},
       {{0x0F, "07 07 07 07 07 07 07"}}},
      {"a write before a run that touches it", {{0x10, {2}}, {0x0F, {1}}}, {{0x0F, "01 02"}}},
      {"the top of the address space", {{0xFFFFFFFE, {1, 2}}}, {{0xFFFFFFFE, "01 02"}}},
  };
  for (const auto& c : cases) {
    SparseFlash flash;
    for (const auto& w : c.writes)
      ASSERT_TRUE(flash.Write(w.address, w.data.data(), w.data.size())) << c.what;
    std::map<uint32_t, std::string> got;
    size_t total = 0;
    for (const auto& [start, bytes] : flash.Runs()) {
      got[start] = Hex(bytes);
      total += bytes.size();
    }
    EXPECT_EQ(got, c.runs) << c.what;
    EXPECT_EQ(flash.Size(), total) << c.what;
  }
}

TEST(SparseFlash, RefusesWrapsAndGrowthBeyondItsCapacity) {
  SparseFlash flash(8);
  const uint8_t five[5] = {1, 2, 3, 4, 5};
  EXPECT_FALSE(flash.Write(0xFFFFFFFE, five, 3)) << "wraps past the top";
  EXPECT_TRUE(flash.Write(0, five, 5));
  EXPECT_TRUE(flash.Write(2, five, 5)) << "overlap grows to 7 bytes";
  EXPECT_FALSE(flash.Write(100, five, 2)) << "9 bytes would exceed 8";
  EXPECT_EQ(flash.Size(), 7u);
  std::vector<uint8_t> out;
  EXPECT_TRUE(flash.Read(1, 6, &out));
  EXPECT_EQ(Hex(out), "02 01 02 03 04 05");
  EXPECT_FALSE(flash.Read(5, 3, &out)) << "reads past the written bytes fail";
  EXPECT_FALSE(flash.Read(100, 1, &out));
}

// The emulator takes the link's bytes in runs; whatever the pieces, the frames and overflows must be
// those of the byte-by-byte rule (short frames ignored at their flag, a full buffer discarded).
TEST(FrameGatherer, RunsGiveTheFramesOfTheByteByByteRule) {
  const auto bytes = [](std::initializer_list<std::pair<size_t, uint8_t>> parts) {
    std::vector<uint8_t> v;
    for (const auto& [count, value] : parts) v.insert(v.end(), count, value);
    return v;
  };
  const size_t cap = FrameGatherer::kCapacity;
  struct Case {
    const char* what;
    std::vector<uint8_t> stream;
  } cases[] = {
      {"two frames", bytes({{1, 0x7E}, {5, 0x11}, {1, 0x7E}, {4, 0x22}, {1, 0x7E}})},
      {"short frames are ignored at their flag",
       bytes({{2, 0x33}, {1, 0x7E}, {1, 0x44}, {1, 0x7E}, {1, 0x7E}})},
      {"flags back to back", bytes({{4, 0x7E}, {3, 0x55}, {3, 0x7E}})},
      {"no flag at all", bytes({{100, 0x66}})},
      {"a frame of exactly the capacity", bytes({{1, 0x7E}, {cap, 0x01}, {1, 0x7E}})},
      {"one byte over the capacity", bytes({{1, 0x7E}, {cap + 1, 0x02}, {1, 0x7E}, {3, 0x03}, {1, 0x7E}})},
      {"far over the capacity", bytes({{2 * cap + 17, 0x04}, {1, 0x7E}, {5, 0x05}, {1, 0x7E}})},
  };
  struct Result {
    std::vector<std::vector<uint8_t>> frames;
    size_t overflows = 0;
  };
  for (const auto& c : cases) {
    Result expected;
    {
      FrameGatherer g;
      for (uint8_t b : c.stream)
        if (g.Push(b)) expected.frames.push_back(g.Frame());
      expected.overflows = g.Overflows();
    }
    for (size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{4096}, c.stream.size() + 1}) {
      Result got;
      FrameGatherer g;
      for (size_t at = 0; at < c.stream.size(); at += piece) {
        const size_t n = std::min(piece, c.stream.size() - at);
        size_t done = 0;
        while (done < n) {
          size_t used = 0;
          const bool closed = g.PushRun(c.stream.data() + at + done, n - done, used);
          ASSERT_GT(used, 0u) << c.what;
          done += used;
          if (closed) got.frames.push_back(g.Frame());
        }
      }
      got.overflows = g.Overflows();
      EXPECT_EQ(got.frames, expected.frames) << c.what << ", pieces of " << piece;
      EXPECT_EQ(got.overflows, expected.overflows) << c.what << ", pieces of " << piece;
    }
  }
  // the cases above do exercise frames and overflows
  FrameGatherer g;
  for (uint8_t b : cases[5].stream) g.Push(b);
  EXPECT_EQ(g.Overflows(), 1u);
}

TEST(FaultNamesParse, EveryNameSetsItsSwitch) {
  struct Case {
    const char* spec;
    std::function<bool(const Faults&)> check;
  } cases[] = {
      {"no-discovery", [](const Faults& f) { return f.noDiscovery; }},
      {"discovery-junk=3", [](const Faults& f) { return f.discoveryJunk == 3; }},
      {"presence-late=2500", [](const Faults& f) { return f.presenceLateMs == 2500u; }},
      {"reset-after-bytes=0", [](const Faults& f) { return f.resetAfterBytes == 0; }},
      {"router-result=3", [](const Faults& f) { return f.routerResult == 3; }},
      {"handshake-fail=5", [](const Faults& f) { return f.handshakeFail == 5; }},
      {"nv-backup-reason=2", [](const Faults& f) { return f.nvBackupReason == 2; }},
      {"write-nak=4", [](const Faults& f) { return f.writeNak == 4; }},
      {"never-back=on", [](const Faults& f) { return f.neverBack; }},
      {"back-in-downloader=1", [](const Faults& f) { return f.backInDownloader; }},
      {"discovery-flood=20", [](const Faults& f) { return f.discoveryFloodMs == 20u; }},
      {"link-unanswered", [](const Faults& f) { return f.linkUnanswered && !f.telnetUnanswered; }},
      {"telnet-unanswered", [](const Faults& f) { return f.telnetUnanswered && !f.linkUnanswered; }},
      {"reset-after-image", [](const Faults& f) { return f.resetAfterImage && !f.closeAfterImage; }},
      {"close-after-image", [](const Faults& f) { return f.closeAfterImage && !f.resetAfterImage; }},
  };
  for (const auto& c : cases) {
    Faults f;
    std::string error;
    ASSERT_TRUE(ParseFault(c.spec, f, &error)) << c.spec << ": " << error;
    EXPECT_TRUE(c.check(f)) << c.spec;
  }
  // every listed name is accepted, with a value where it needs one
  for (std::string name : FaultNames()) {
    if (name.size() > 2 && name.substr(name.size() - 2) == "=N") name = name.substr(0, name.size() - 1) + "1";
    Faults f;
    std::string error;
    ASSERT_TRUE(ParseFault(name, f, &error)) << name << ": " << error;
  }
}

TEST(FaultNamesParse, BadSpecsAreRefusedAndChangeNothing) {
  const char* bad[] = {
      "no-such-fault", "handshake-fail",     "handshake-fail=x",          "handshake-fail=-1",
      "write-nak=3x",  "no-discovery=maybe", "presence-late=99999999999", ""};
  for (const char* spec : bad) {
    Faults f;
    f.writeNak = 9;
    std::string error;
    EXPECT_FALSE(ParseFault(spec, f, &error)) << spec;
    EXPECT_FALSE(error.empty()) << spec;
    EXPECT_EQ(f.writeNak, 9) << spec;
  }
  Faults f;
  std::string error;
  EXPECT_FALSE(ParseFaults("write-silent,bogus", f, &error));
  EXPECT_FALSE(f.writeSilent) << "a list with a bad item applies nothing";
  EXPECT_TRUE(ParseFaults("write-silent,,handshake-fail=2", f, &error)) << error;
  EXPECT_TRUE(f.writeSilent);
  EXPECT_EQ(f.handshakeFail, 2);
  EXPECT_TRUE(ParseFaults("write-silent=0", f, &error));
  EXPECT_FALSE(f.writeSilent) << "=0 clears a switch";
}

}  // namespace
