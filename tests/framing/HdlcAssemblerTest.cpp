#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "protocol/Hdlc.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Feeds a stream byte by byte and collects the frames it closes (escaped bytes, no flags).
std::vector<Bytes> Frames(HdlcAssembler& a, const Bytes& stream) {
  std::vector<Bytes> out;
  for (uint8_t b : stream) {
    if (a.Push(b)) out.emplace_back(a.Data(), a.Data() + a.Size());
  }
  return out;
}

TEST(HdlcAssembly, FlagRules) {
  const struct {
    const char* name;
    Bytes stream;
    std::vector<Bytes> frames;
    size_t gatheredAfter;
  } cases[] = {
      {"flag after nothing", {0x7E}, {}, 0},
      {"two flags in a row", {0x7E, 0x7E}, {}, 0},
      {"flag after one byte keeps it", {0x11, 0x7E}, {}, 1},
      {"flag after two bytes keeps them", {0x11, 0x22, 0x7E}, {}, 2},
      {"kept bytes join the next ones", {0x11, 0x7E, 0x22, 0x7E, 0x33, 0x7E}, {{0x11, 0x22, 0x33}}, 0},
      {"three bytes close a frame", {0x11, 0x22, 0x33, 0x7E}, {{0x11, 0x22, 0x33}}, 0},
      {"escapes stay escaped", {0x7D, 0x5E, 0x44, 0x7E}, {{0x7D, 0x5E, 0x44}}, 0},
      {"opening flag then frame", {0x7E, 0x01, 0x02, 0x03, 0x7E}, {{0x01, 0x02, 0x03}}, 0},
      {"back to back frames share a flag",
       {0x7E, 0x01, 0x02, 0x03, 0x7E, 0x04, 0x05, 0x06, 0x07, 0x7E},
       {{0x01, 0x02, 0x03}, {0x04, 0x05, 0x06, 0x07}},
       0},
      {"tail without flag stays gathered", {0x01, 0x02, 0x03, 0x7E, 0x09, 0x08}, {{0x01, 0x02, 0x03}}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HdlcAssembler a;
    EXPECT_EQ(Frames(a, c.stream), c.frames);
    EXPECT_EQ(a.Gathered(), c.gatheredAfter);
  }
}

TEST(HdlcAssembly, FullBufferDiscardsEverythingWithTheNextByte) {
  HdlcAssembler a;
  Bytes stream(kHdlcAssemblySize, 0x41);
  EXPECT_TRUE(Frames(a, stream).empty());
  EXPECT_EQ(a.Gathered(), kHdlcAssemblySize);
  // the 1025th byte finds the buffer full: all gathered bytes and itself are dropped
  EXPECT_FALSE(a.Push(0x42));
  EXPECT_EQ(a.Gathered(), 0u);
  // gathering starts again; what follows forms a frame of its own
  auto frames = Frames(a, {0x01, 0x02, 0x03, 0x7E});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], (Bytes{0x01, 0x02, 0x03}));
}

TEST(HdlcAssembly, ExactlyFullBufferStillClosesAsAFrame) {
  HdlcAssembler a;
  Bytes stream(kHdlcAssemblySize, 0x41);
  stream.push_back(0x7E);
  auto frames = Frames(a, stream);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].size(), kHdlcAssemblySize);
}

}  // namespace
