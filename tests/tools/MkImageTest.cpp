#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "image/CBinFile.h"
#include "image/Crc16.h"
#include "platform/FileFaults.h"
#include "support/TempDir.h"
#include "tools/ImageBuilder.h"
#include "tools/ImageInspector.h"
#include "tools/MkImageCli.h"

namespace {

struct CliResult {
  int rc;
  std::string out, err;
};

CliResult Mk(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int rc = RunMkImage(args, out, err);
  return {rc, out.str(), err.str()};
}

// An image assembled by hand, byte by byte, independent of the builder: one router unit of module
// type 4 (A = 3, B = 3), 20 data bytes in blocks of 8.
std::vector<uint8_t> HandMadeRouterImage() {
  std::vector<uint8_t> img;
  auto u32 = [&img](uint32_t v) {
    for (int i = 0; i < 4; ++i) img.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  u32(2);
  u32(0);
  const std::string version = "V4.0";
  for (size_t i = 0; i < 84; ++i) img.push_back(i < version.size() ? static_cast<uint8_t>(version[i]) : 0);
  const size_t h = img.size();
  for (char c : std::string("HDR0")) img.push_back(static_cast<uint8_t>(c));
  u32(98 + 2 * 3);
  u32(1);
  for (char c : std::string("HWID0001")) img.push_back(static_cast<uint8_t>(c));
  u32(0);
  u32(20);
  for (int i = 0; i < 16 + 16 + 32; ++i) img.push_back(0);
  img.push_back(0);  // header CRC, filled in below
  img.push_back(0);
  u32(8);
  const uint16_t hc = Crc16Compute(&img[h], 98);
  img[h + 92] = static_cast<uint8_t>(hc);
  img[h + 93] = static_cast<uint8_t>(hc >> 8);
  std::vector<uint8_t> data = {'H', 'D', 'R', '0', 20,  0,   0,  0, 0, 0, 0, 0, (3 << 1) | (3 << 3),
                               0,   0,   0,   'a', 'b', 'c', 'd'};
  for (int b = 0; b < 3; ++b) {
    const size_t len = b < 2 ? 8 : 4;
    const uint16_t c = Crc16Compute(&data[static_cast<size_t>(b) * 8], len);
    img.push_back(static_cast<uint8_t>(c));
    img.push_back(static_cast<uint8_t>(c >> 8));
  }
  img.insert(img.end(), data.begin(), data.end());
  // 98 + 6 + 20 = 124 is a multiple of 4: no fill
  return img;
}

TEST(ImageBuilder, MatchesAnImageAssembledByHand) {
  RouterImageSpec spec;
  spec.module = MODULE_SPECIAL_HTML;
  spec.version = "V4.0";
  spec.blockSize = 8;
  spec.versionTag = false;
  spec.payload = {'a', 'b', 'c', 'd'};
  spec.unitName = "";
  std::vector<uint8_t> built = BuildRouterImage(spec);
  std::vector<uint8_t> hand = HandMadeRouterImage();
  // the builder stamps its own hardware id, date and time fields; those are not read by the tool,
  // so compare with them copied over and the header CRC recomputed
  ASSERT_EQ(built.size(), hand.size());
  for (size_t i = 92 + 12; i < 92 + 20; ++i) hand[i] = built[i];
  for (size_t i = 92 + 28; i < 92 + 92; ++i) hand[i] = built[i];
  hand[92 + 92] = hand[92 + 93] = 0;
  const uint16_t hc = Crc16Compute(&hand[92], 98);
  hand[92 + 92] = static_cast<uint8_t>(hc);
  hand[92 + 93] = static_cast<uint8_t>(hc >> 8);
  EXPECT_EQ(built, hand);
}

TEST(ImageBuilder, VersionTagRoundTripsAndRefusesOtherBytes) {
  for (ModuleType t : {MODULE_BOOT, MODULE_APP2, MODULE_FIRMWARE, MODULE_DASHBOARD}) {
    const auto tag = MakeVersionTag(t, "Ver " + std::to_string(t));
    ModuleType got = MODULE_NONE;
    std::string version;
    ASSERT_TRUE(ParseVersionTag(tag, got, version));
    EXPECT_EQ(got, t);
    EXPECT_EQ(version, "Ver " + std::to_string(t));
  }
  auto tag = MakeVersionTag(MODULE_APP, std::string(100, 'x'));
  ModuleType got;
  std::string version;
  ASSERT_TRUE(ParseVersionTag(tag, got, version));
  EXPECT_EQ(version, std::string(47, 'x'));
  EXPECT_FALSE(ParseVersionTag(std::span<const uint8_t>(tag.data(), 63), got, version));
  tag[0] = 'X';
  EXPECT_FALSE(ParseVersionTag(tag, got, version));

  // where the tag sits: after the TRX header of a router unit, first in a wireless image's data
  RouterImageSpec r;
  r.module = MODULE_CONFIG_FILE;
  r.version = "cfg-7";
  std::vector<UnitPlacement> pl;
  const std::vector<uint8_t> router = BuildRouterImage(r, &pl);
  ASSERT_TRUE(ParseVersionTag(std::span<const uint8_t>(router).subspan(pl[0].dataOffset + 16), got, version));
  EXPECT_EQ(got, MODULE_CONFIG_FILE);
  EXPECT_EQ(version, "cfg-7");
  WirelessImageSpec w;
  w.kind = MODULE_DASHBOARD;
  w.version = "db-2";
  w.units = {{0, {1, 2, 3}}};
  const std::vector<uint8_t> wireless = BuildWirelessImage(w, &pl);
  ASSERT_TRUE(ParseVersionTag(std::span<const uint8_t>(wireless).subspan(pl[0].dataOffset), got, version));
  EXPECT_EQ(got, MODULE_DASHBOARD);
  EXPECT_EQ(version, "db-2");
}

TEST(ImageBuilder, RefusesWhatCannotBeBuilt) {
  RouterImageSpec r;
  r.module = MODULE_FIRMWARE;
  EXPECT_TRUE(BuildRouterImage(r).empty());
  r.module = MODULE_APP;
  r.blockSize = 0;
  EXPECT_TRUE(BuildRouterImage(r).empty());
  WirelessImageSpec w;
  EXPECT_TRUE(BuildWirelessImage(w).empty()) << "no units";
  w.units = {{0, {1}}};
  w.kind = MODULE_APP;
  EXPECT_TRUE(BuildWirelessImage(w).empty());
  EXPECT_EQ(GeneratePayload(100, 3), GeneratePayload(100, 3));
  EXPECT_NE(GeneratePayload(100, 3), GeneratePayload(100, 4));
}

// Every module type through the command line, then back through info.
TEST(MkImageCli, BuildsEveryModuleTypeAndInfoClassifiesIt) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    int type;
    size_t units;
  };
  std::vector<Case> cases;
  for (int m = 0; m <= 6; ++m)
    cases.push_back({{"router", "--module", std::to_string(m), "--version", "R" + std::to_string(m),
                      "--payload", "gen:5000:" + std::to_string(m)},
                     m,
                     1});
  cases.push_back({{"wireless", "--kind", "firmware", "--version", "W7", "--hardware-id", "ABCDEFGH",
                    "--unit", "0x1000:gen:9000", "--unit", "0x40000:gen:10"},
                   7,
                   2});
  cases.push_back({{"wireless", "--kind", "dashboard", "--version", "W8", "--unit", "0:gen:300"}, 8, 1});
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string path = dir.File("img" + std::to_string(i) + ".bin");
    std::vector<std::string> args = cases[i].args;
    args.insert(args.end(), {"-o", path});
    const CliResult built = Mk(args);
    ASSERT_EQ(built.rc, 0) << built.err;
    const ImageInfo info = InspectImageFile(path);
    EXPECT_TRUE(info.valid) << info.reason;
    EXPECT_EQ(info.moduleType, cases[i].type);
    EXPECT_EQ(info.units.size(), cases[i].units);
    EXPECT_EQ(info.version,
              cases[i].type <= 6 ? "R" + std::to_string(cases[i].type) : "W" + std::to_string(cases[i].type));
  }
  const ImageInfo fw = InspectImageFile(dir.File("img7.bin"));
  ASSERT_EQ(fw.units.size(), 2u);
  EXPECT_EQ(fw.units[0].loadAddress, 0x1000u);
  EXPECT_EQ(fw.units[0].dataLength, 9000u + 64);
  EXPECT_EQ(fw.units[0].blocks, 3u);
  EXPECT_EQ(fw.units[1].loadAddress, 0x40000u);
  CBinFile f;
  f.SetFilePath(dir.File("img7.bin"));
  ASSERT_TRUE(f.OpenFile(MODULE_NONE));
  EXPECT_EQ(0, std::memcmp(f.GetUnitHeader(1).hardwareId, "ABCDEFGH", 8));
}

TEST(MkImageCli, InfoJsonHasTheAgreedFieldsAndReasons) {
  TempDir dir;
  const std::string hand = dir.File("hand.bin");
  ASSERT_TRUE(WriteImageFile(hand, HandMadeRouterImage()));
  const std::string bad = dir.File("bad.bin");
  ASSERT_EQ(
      Mk({"router", "--module", "1", "--payload", "gen:9000", "--corrupt-block-crc", "0:2", "-o", bad}).rc,
      0);
  const std::string quoted = dir.File("a\"b.bin");
  ASSERT_TRUE(WriteImageFile(quoted, std::vector<uint8_t>(10, 0)));

  // a file name that is not UTF-8 (a Latin-1 e-acute) must still give a document that parses
  const std::string latin1 = dir.File("caf\xe9.bin");
  ASSERT_TRUE(WriteImageFile(latin1, HandMadeRouterImage()));

  const CliResult r = Mk({"info", "--json", hand, bad, quoted, latin1});
  EXPECT_EQ(r.rc, 1) << "an invalid file makes the exit status 1";
  ASSERT_TRUE(nlohmann::json::accept(r.out)) << r.out;
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  ASSERT_TRUE(doc.is_array());
  ASSERT_EQ(doc.size(), 4u);
  const std::string q = dir.Path();
  EXPECT_EQ(doc[0], nlohmann::json::parse(R"({"path": ")" + q + R"(/hand.bin", "valid": true, "moduleType": 4,
      "version": "V4.0", "units": [{"loadAddress": 0, "dataLength": 20, "blockSize": 8, "blocks": 3}]})"));
  EXPECT_EQ(doc[1], nlohmann::json::parse(R"({"path": ")" + q + R"(/bad.bin", "valid": false, "moduleType": 9,
      "version": "", "units": [], "reason": "unit 0: block 2 CRC"})"));
  EXPECT_EQ(doc[2]["path"], q + "/a\"b.bin");
  EXPECT_EQ(doc[2]["reason"], "too short");
  EXPECT_EQ(doc[3]["path"], q + "/caf\xc3\xa9.bin");
  EXPECT_EQ(doc[3]["valid"], true);
  // one key style: every key of every object is lowerCamelCase
  for (const auto& file : doc)
    for (const auto& [key, value] : file.items()) EXPECT_EQ(key.find('_'), std::string::npos) << key;

  const CliResult text = Mk({"info", hand});
  EXPECT_EQ(text.rc, 0);
  EXPECT_NE(text.out.find("valid, module type 4 (Special Html Code of router module), version \"V4.0\""),
            std::string::npos)
      << text.out;
}

// A version text or a file name with terminal controls in it is shown, never obeyed: no ESC, CSI or
// BEL byte reaches the output of info, in text or JSON.
TEST(MkImageCli, InfoNeverPrintsTheControlsOfAVersionOrAName) {
  TempDir dir;
  const std::string hostile =
      "2.1.10.\x1b]0;owned\x07\x1b[2J\xc2\x9b"
      "32m";
  const std::string path = dir.File("esc\x1b[31m.bin");
  ASSERT_EQ(Mk({"router", "--module", "1", "--version", hostile, "-o", path}).rc, 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"info", path}, std::vector<std::string>{"info", "--json", path}}) {
    const CliResult r = Mk(args);
    EXPECT_EQ(r.rc, 0) << r.err;
    for (const char control : {'\x1b', '\x07'}) EXPECT_EQ(r.out.find(control), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\xc2\x9b"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("owned"), std::string::npos) << "the rest of the text is still shown: " << r.out;
  }
  EXPECT_NE(Mk({"info", path}).out.find("2.1.10.\\x1b]0;owned\\x07\\x1b[2J\\x9b32m"), std::string::npos);
  // JSON keeps the text itself, escaped
  const nlohmann::json doc = nlohmann::json::parse(Mk({"info", "--json", path}).out);
  EXPECT_EQ(doc[0]["version"], hostile);
}

// -o writes a new file and renames it into place: a reader of the old image keeps the old bytes
// whole, no temporary file stays behind, and a failed write leaves the name as it was.
TEST(MkImageCli, OutputReplacesTheImageAtOnceOrNotAtAll) {
  TempDir dir;
  const std::string path = dir.File("app.bin");
  ASSERT_EQ(Mk({"router", "--module", "1", "--version", "old", "-o", path}).rc, 0);
  std::vector<uint8_t> oldBytes;
  ASSERT_TRUE(ReadWholeFile(path, oldBytes));
  std::ifstream oldReader(path, std::ios::binary);
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);

  ASSERT_EQ(Mk({"router", "--module", "1", "--version", "new", "--payload", "gen:300000", "-o", path}).rc, 0);
  struct stat after {};
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino) << "the name now refers to a new file";
  const std::vector<char> kept((std::istreambuf_iterator<char>(oldReader)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(std::vector<uint8_t>(kept.begin(), kept.end()) == oldBytes)
      << "a reader of the old image sees it whole";
  EXPECT_EQ(InspectImageFile(path).version, "new");

  // a name that is a folder cannot be replaced: the build fails and nothing is left behind
  ASSERT_EQ(mkdir(dir.File("taken.bin").c_str(), 0700), 0);
  EXPECT_EQ(Mk({"router", "--module", "1", "-o", dir.File("taken.bin")}).rc, 1);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"app.bin", "taken.bin"}));
}

// A disk that fills up, fails or refuses at any step of -o (the write, the sync, the rename): the
// build fails with the system's reason, the name keeps the old image and no temporary file stays.
TEST(MkImageCli, AFailedWriteSyncOrRenameKeepsTheOldImageAndSaysWhy) {
  struct Case {
    FileOp op;
    int error;
  };
  const Case cases[] = {{FileOp::Write, ENOSPC}, {FileOp::Write, EIO},     {FileOp::Sync, EIO},
                        {FileOp::Sync, ENOSPC},  {FileOp::Rename, EACCES}, {FileOp::Rename, EIO}};
  TempDir dir;
  const std::string path = dir.File("app.bin");
  ASSERT_EQ(Mk({"router", "--module", "1", "--version", "old", "-o", path}).rc, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(FileOpName(c.op)) + ": " + std::strerror(c.error));
    ArmFileFault(c.op, 1, c.error);
    const CliResult r = Mk({"router", "--module", "1", "--version", "new", "-o", path});
    const bool fired = FileFaultFired();
    DisarmFileFaults();
    EXPECT_TRUE(fired);
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find(std::strerror(c.error)), std::string::npos) << r.err;
    EXPECT_EQ(InspectImageFile(path).version, "old");
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
      entries += entry.exists() ? 1 : 0;
    EXPECT_EQ(entries, 1u) << "a temporary file stayed behind";
  }
}

TEST(MkImageCli, DamageOptionsMakeTheInvalidImagesTestsNeed) {
  TempDir dir;
  struct Case {
    std::vector<std::string> extra;
    bool valid;
    std::string reason;
  };
  const Case cases[] = {
      {{"--corrupt-header-crc", "0"}, false, "unit 0: header CRC"},
      {{"--corrupt-block-crc", "0"}, false, "unit 0: block 0 CRC"},
      {{"--omit-last-fill"}, true, ""},
      {{"--block-size", "1000", "--no-tag"}, true, ""},
  };
  for (const Case& c : cases) {
    const std::string path = dir.File("x.bin");
    std::vector<std::string> args = {"router", "--module", "2", "--payload", "gen:2001", "-o", path};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    ASSERT_EQ(Mk(args).rc, 0);
    const ImageInfo info = InspectImageFile(path);
    EXPECT_EQ(info.valid, c.valid) << c.extra[0];
    EXPECT_EQ(info.reason, c.reason) << c.extra[0];
  }
}

TEST(MkImageCli, BadUsageIsRefusedWithStatus2) {
  TempDir dir;
  const std::string out = dir.File("o.bin");
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate"},
      {"router", "-o", out},
      {"router", "--module", "7", "-o", out},
      {"router", "--module", "-1", "-o", out},
      {"router", "--module", "1"},
      {"router", "--module", "1", "--block-size", "0", "-o", out},
      {"router", "--module", "1", "--bogus", "-o", out},
      {"router", "--module"},
      {"wireless", "--kind", "modem", "--unit", "0:gen:1", "-o", out},
      {"wireless", "--kind", "firmware", "-o", out},
      {"wireless", "--kind", "firmware", "--unit", "zz:gen:1", "-o", out},
      {"wireless", "--kind", "firmware", "--unit", "0:gen:1", "--hardware-id", "SHORT", "-o", out},
      {"info"},
      {"info", "--yaml", out},
  };
  for (const auto& args : bad) {
    const CliResult r = Mk(args);
    EXPECT_EQ(r.rc, 2) << (args.empty() ? "(none)" : args[0]) << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_FALSE(r.err.empty());
  }
  std::ifstream probe(out);
  EXPECT_FALSE(probe.good()) << "nothing is written on bad usage";

  const CliResult help = Mk({"--help"});
  EXPECT_EQ(help.rc, 0);
  EXPECT_NE(help.out.find("qor-mkimage info [--json] FILE..."), std::string::npos);
  EXPECT_EQ(Mk({"router", "--help"}).rc, 0);
  // a missing payload file is a failure, not a usage error
  EXPECT_EQ(Mk({"router", "--module", "1", "--payload", dir.File("none"), "-o", out}).rc, 1);
  EXPECT_EQ(Mk({"router", "--module", "1", "-o", dir.File("no/such/dir/x.bin")}).rc, 1);
}

}  // namespace
