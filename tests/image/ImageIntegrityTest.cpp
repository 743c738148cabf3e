// The bytes verified are the bytes kept: an image is read into memory of its own, which nothing the
// file does afterwards can change; the unit walk refuses wrapping address ranges and never fails by
// exception; the scan sees every image by its real full path.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "image/CBinFile.h"
#include "image/Catalogue.h"
#include "image/ImageSet.h"
#include "image/UnitWalk.h"
#include "log/CDownloadLog.h"
#include "platform/Warnings.h"
#include "support/RecordingSink.h"
#include "support/TempDir.h"
#include "tools/ImageBuilder.h"

namespace {

// The sanitizers' allocators end the program when operator new finds no memory, where the system's
// throws std::bad_alloc, and they reserve more address space than any limit allows.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerAllocator = true;
#else
constexpr bool kSanitizerAllocator = false;
#endif

std::vector<uint8_t> RouterApp(const std::string& version, size_t payload) {
  RouterImageSpec s;
  s.module = MODULE_APP;
  s.version = version;
  s.payload = GeneratePayload(payload, 7);
  return BuildRouterImage(s);
}

// A dashboard without its file type: two units make it one only when "ZRMP" is in its full path.
std::vector<uint8_t> TypelessDashboard() {
  WirelessImageSpec s;
  s.kind = MODULE_DASHBOARD;
  s.fileType = 0;
  s.units = {{0, GeneratePayload(1000, 1)}, {0x8000, GeneratePayload(500, 2)}};
  return BuildWirelessImage(s);
}

// The modification time is set well into the past, so any later write to the file moves it even
// within the file system's time-stamp granularity.
void WriteAged(const std::string& path, const std::vector<uint8_t>& bytes) {
  ASSERT_TRUE(WriteImageFile(path, bytes));
  const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Runs body in a child process whose address space may grow by only headroom bytes; the child's
// exit status (or 100 + signal).
int RunWithAddressSpaceHeadroom(uint64_t headroom, const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) {
    std::ifstream statm("/proc/self/statm");
    uint64_t pages = 0;
    statm >> pages;
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) + headroom;
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(90);
    _exit(body());
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(ImageCopy, TheBytesReadStayTheBytesWhateverHappensToTheFile) {
  struct Case {
    const char* name;
    std::function<void(const std::string& path)> change;
    bool changed;
  };
  const Case cases[] = {
      {"untouched", [](const std::string&) {}, false},
      {"replaced by another image",
       [](const std::string& path) { ASSERT_TRUE(WriteImageFile(path, RouterApp("other", 300000))); }, true},
      {"eight bytes overwritten in place",
       [](const std::string& path) {
         const int fd = open(path.c_str(), O_WRONLY);
         ASSERT_GE(fd, 0);
         const uint8_t junk[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
         ASSERT_EQ(pwrite(fd, junk, sizeof junk, 150000), 8);
         close(fd);
       },
       true},
      {"truncated", [](const std::string& path) { ASSERT_EQ(truncate(path.c_str(), 1000), 0); }, true},
      {"grown",
       [](const std::string& path) { std::ofstream(path, std::ios::app | std::ios::binary) << "tail"; },
       true},
      {"removed", [](const std::string& path) { ASSERT_EQ(unlink(path.c_str()), 0); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.File("app.bin");
    const std::vector<uint8_t> verifiedBytes = RouterApp("verified", 300000);
    WriteAged(path, verifiedBytes);
    CBinFile image;
    image.SetFilePath(path);
    ASSERT_TRUE(image.OpenFile(MODULE_NONE)) << image.GetRejectReason();
    EXPECT_FALSE(image.ChangedOnDisk());

    c.change(path);
    EXPECT_EQ(image.ChangedOnDisk(), c.changed);
    // every byte is still the verified one, and reading them all cannot fault (a mapped file that
    // was truncated would end the program here)
    ASSERT_EQ(image.GetImageSize(), verifiedBytes.size());
    EXPECT_EQ(std::memcmp(image.GetImageData(), verifiedBytes.data(), verifiedBytes.size()), 0);
    EXPECT_TRUE(image.IsValid());
    EXPECT_EQ(image.GetVersionText(), "verified");
  }
}

TEST(ImageCopy, TheCopyIsReadOnlyAndEmbeddedImagesNeverChange) {
  TempDir dir;
  const std::string path = dir.File("app.bin");
  WriteAged(path, RouterApp("sealed", 5000));
  CBinFile image;
  image.SetFilePath(path);
  ASSERT_TRUE(image.OpenFile(MODULE_NONE));
  volatile uint8_t* bytes = const_cast<uint8_t*>(image.GetImageData());
  EXPECT_DEATH(bytes[100] = static_cast<uint8_t>(bytes[100] + 1), "");

  // the copy moves with the image; the object it came from holds nothing any more
  CBinFile slot;
  slot.TakeFrom(image);
  EXPECT_TRUE(slot.IsValid());
  EXPECT_EQ(slot.GetVersionText(), "sealed");
  EXPECT_FALSE(image.IsValid());
  EXPECT_EQ(image.GetImageData(), nullptr);
  EXPECT_EQ(image.GetUnitCount(), 0u);
  ASSERT_EQ(truncate(path.c_str(), 0), 0);
  EXPECT_TRUE(slot.ChangedOnDisk());
  slot.Release();
  EXPECT_FALSE(slot.IsValid());
  EXPECT_EQ(slot.GetImageData(), nullptr);
  EXPECT_FALSE(slot.ChangedOnDisk()) << "nothing held, nothing to compare";
}

TEST(UnitWalk, AWirelessUnitThatPassesTheTopOfTheAddressSpaceIsRefused) {
  struct Case {
    std::vector<std::pair<uint32_t, size_t>> units;  // load address, data length
    bool router;
    std::string reason;  // "" when valid
  };
  const Case cases[] = {
      {{{0xFFFFF000u, 0x1000}}, false, ""},  // the last byte lands at 0xFFFFFFFF
      {{{0xFFFFF000u, 0x1001}}, false, "unit 0: address range wraps"},
      {{{0xFFFFFFFFu, 1}}, false, ""},
      {{{0xFFFFFFFFu, 2}}, false, "unit 0: address range wraps"},
      {{{0x1000, 100}, {0xFFFFFF00u, 0x200}}, false, "unit 1: address range wraps"},
      {{{0xFFFFFFFFu, 20000}}, true, ""},  // a router unit's load address is not used
  };
  for (const Case& c : cases) {
    ImageSpec spec;
    spec.fileType = c.router ? image_layout::kFileTypeRouter : image_layout::kFileTypeFirmware;
    for (const auto& [address, length] : c.units) {
      UnitSpec unit;
      if (c.router) unit.magic = image_layout::kRouterMagic;
      unit.loadAddress = address;
      unit.data = GeneratePayload(length, 3);
      spec.units.push_back(unit);
    }
    const std::vector<uint8_t> image = BuildImage(spec);
    ASSERT_FALSE(image.empty());
    for (bool verify : {true, false}) {
      std::vector<UnitHeader> units;
      std::vector<UnitExtent> extents;
      std::string reason;
      EXPECT_EQ(WalkUnits(image, verify, units, extents, &reason), c.reason.empty()) << c.reason;
      EXPECT_EQ(reason, c.reason) << "verify " << verify;
    }
  }
}

// Units of one byte each, back to back.
std::vector<uint8_t> TinyUnits(size_t count) {
  ImageSpec spec;
  UnitSpec unit;
  unit.data = {0x42};
  spec.units.assign(count, unit);
  return BuildImage(spec);
}

TEST(UnitWalk, ListsAreSizedOnceForTheUnitsTheBytesHold) {
  const std::vector<uint8_t> image = TinyUnits(3000);
  std::vector<UnitHeader> units;
  std::vector<UnitExtent> extents;
  ASSERT_TRUE(WalkUnits(image, true, units, extents));
  EXPECT_EQ(units.size(), 3000u);
  // asked for once: no doubling while the lists grow
  EXPECT_EQ(units.capacity(), 3000u);
  EXPECT_EQ(extents.capacity(), 3000u);

  // a damaged tail: the lists are sized for the whole units before it
  std::vector<uint8_t> damaged = image;
  damaged.resize(damaged.size() - 5);
  std::vector<UnitHeader> fresh;
  std::vector<UnitExtent> freshExtents;
  std::string reason;
  EXPECT_FALSE(WalkUnits(damaged, false, fresh, freshExtents, &reason));
  EXPECT_EQ(reason, "unit 2999: truncated");
  EXPECT_EQ(fresh.capacity(), 2999u);
}

// A file of a great many tiny units asks for lists about as large as itself; memory that is not there
// is a refusal with a reason, and so is a copy of a file that does not fit. Run in a child process
// whose address space is limited (the sanitizers reserve more address space than any limit allows).
TEST(UnitWalk, MemoryThatCannotBeHadIsARefusalNotAnEnd) {
  if (kSanitizerAllocator)
    GTEST_SKIP() << "needs the system's allocator: the sanitizers' cannot fail an allocation";
  ImageSpec spec;
  UnitSpec unit;  // data length 0: 100 bytes per unit, walked without CRCs as an embedded image is
  spec.units.assign(1, unit);
  std::vector<uint8_t> one = BuildImage(spec);
  ASSERT_EQ(one.size(), 92u + 100u);
  const size_t count = 300000;
  std::vector<uint8_t> image(92 + 100 * count);
  std::memcpy(image.data(), one.data(), 92);
  for (size_t i = 0; i < count; ++i) std::memcpy(image.data() + 92 + 100 * i, one.data() + 92, 100);

  const int walked = RunWithAddressSpaceHeadroom(16u << 20, [&image] {
    std::vector<UnitHeader> units;
    std::vector<UnitExtent> extents;
    std::string reason;
    if (WalkUnits(image, false, units, extents, &reason)) return 1;
    return reason == "not enough memory for 300000 units" ? 0 : 2;
  });
  EXPECT_EQ(walked, 0) << "1: walked anyway, 2: another reason, 100+: ended by a signal";
  // with the memory there, the same bytes walk
  std::vector<UnitHeader> units;
  std::vector<UnitExtent> extents;
  EXPECT_TRUE(WalkUnits(image, false, units, extents));
  EXPECT_EQ(units.size(), count);

  // a file (sparse, so it costs no disk) larger than the memory the process may still take
  TempDir dir;
  const std::string path = dir.File("huge.bin");
  {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 256 << 20), 0);
    close(fd);
  }
  const int opened = RunWithAddressSpaceHeadroom(16u << 20, [&path] {
    CBinFile file;
    file.SetFilePath(path);
    if (file.OpenFile(MODULE_NONE)) return 1;
    return file.GetRejectReason() == "not enough memory to read it" ? 0 : 2;
  });
  EXPECT_EQ(opened, 0) << "1: opened anyway, 2: another reason, 100+: ended by a signal";
}

// Changes the working directory for the scope.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir) {
    char buf[4096];
    if (getcwd(buf, sizeof buf) != nullptr) m_Old = buf;
    m_Ok = chdir(dir.c_str()) == 0;
  }
  ~ScopedCwd() {
    if (!m_Old.empty() && chdir(m_Old.c_str()) != 0) std::abort();
  }
  bool Ok() const { return m_Ok; }

 private:
  std::string m_Old;
  bool m_Ok = false;
};

class ScanFolder : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  void Clear() { m_Images.Clear(); }
  CImageSet m_Images;
  RecordingSink m_Sink;
  ScopedWarningSink m_UseSink{m_Sink};
  CDownloadLog m_Log{""};
};

// However the folder is named, the type rule and the length rule see the image's real full path.
TEST_F(ScanFolder, ARelativeFolderIsMadeAbsoluteBeforeTheTypeRule) {
  TempDir root;
  const std::string images = root.File("ZRMP_imgs");
  ASSERT_EQ(mkdir(images.c_str(), 0700), 0);
  ASSERT_EQ(mkdir((images + "/sub").c_str(), 0700), 0);
  ASSERT_EQ(symlink(images.c_str(), root.File("plain").c_str()), 0);
  ASSERT_TRUE(WriteImageFile(images + "/dash.bin", TypelessDashboard()));
  ASSERT_TRUE(WriteImageFile(images + "/a.bin", RouterApp("A", 1000)));  // "./a.bin" is 7 characters
  char real[4096];
  ASSERT_NE(realpath(images.c_str(), real), nullptr);

  struct Case {
    std::string cwd;
    std::string folder;
  };
  const Case cases[] = {
      {images, "."},          {images, "./"}, {images + "/sub", ".."}, {root.Path(), "ZRMP_imgs/./sub/.."},
      {root.Path(), "plain"}, {"/", images},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cwd + " + " + c.folder);
    ScopedCwd cwd(c.cwd);
    ASSERT_TRUE(cwd.Ok());
    ImageScanReport report;
    ASSERT_TRUE(ScanImageFiles(m_Images, c.folder, m_Log, &report));
    EXPECT_EQ(report.folder, real);
    EXPECT_TRUE(report.skipped.empty());
    EXPECT_FALSE(m_Images[MODULE_FIRMWARE].IsValid()) << "the dashboard must not become firmware";
    ASSERT_TRUE(m_Images[MODULE_DASHBOARD].IsValid());
    EXPECT_EQ(m_Images[MODULE_DASHBOARD].GetFilePath(), std::string(real) + "/dash.bin");
    ASSERT_TRUE(m_Images[MODULE_APP].IsValid()) << "a short relative name is not refused";
    EXPECT_EQ(m_Images[MODULE_APP].GetFilePath(), std::string(real) + "/a.bin");
  }
  EXPECT_TRUE(m_Sink.Texts().empty());
}

TEST_F(ScanFolder, AFolderThatCannotBeReadIsNamedWithItsReason) {
  TempDir root;
  ASSERT_TRUE(WriteImageFile(root.File("file.bin"), RouterApp("A", 1000)));
  struct Case {
    std::string folder;
    std::string reason;
  };
  std::vector<Case> cases = {{root.File("missing"), "No such file or directory"},
                             {root.File("file.bin"), "Not a directory"}};
  if (geteuid() != 0) {  // root reads any folder
    ASSERT_EQ(mkdir(root.File("closed").c_str(), 0), 0);
    cases.push_back({root.File("closed"), "Permission denied"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    std::string resolved, error;
    EXPECT_FALSE(ResolveImageFolder(c.folder, resolved, error));
    EXPECT_EQ(error, c.reason);
    CDownloadLog log("");
    m_Sink.Clear();
    ImageScanReport report;
    EXPECT_FALSE(ScanImageFiles(m_Images, c.folder, log, &report));
    EXPECT_EQ(report.folder, c.folder);
    EXPECT_EQ(report.folderError, c.reason);
    EXPECT_EQ(m_Sink.Texts(),
              std::vector<std::string>{"No valid .bin file is found in the current directory"});
    EXPECT_NE(log.GetPending().find("没有找到至少一个有效的BIN文件\r\n"), std::string::npos);
    EXPECT_NE(log.GetPending().find("Folder scanned: " + c.folder + " (" + c.reason + ")\r\n"),
              std::string::npos)
        << log.GetPending();
  }
  // a folder that is there but holds nothing valid is named without a reason
  TempDir empty;
  CDownloadLog log("");
  EXPECT_FALSE(ScanImageFiles(m_Images, empty.Path(), log));
  EXPECT_NE(log.GetPending().find("Folder scanned: " + empty.Path() + "\r\n"), std::string::npos)
      << log.GetPending();
}

// Anonymous mappings of exactly this many bytes (rounded to pages) in the process.
int MappingsOfSize(size_t bytes) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t rounded = (bytes + page - 1) / page * page;
  std::ifstream maps("/proc/self/maps");
  std::string line;
  int count = 0;
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    std::string range, perms, offset, device, inode, name;
    fields >> range >> perms >> offset >> device >> inode >> name;
    if (inode != "0" || !name.empty()) continue;
    const size_t dash = range.find('-');
    const size_t from = std::stoull(range.substr(0, dash), nullptr, 16);
    const size_t to = std::stoull(range.substr(dash + 1), nullptr, 16);
    if (to - from == rounded) ++count;
  }
  return count;
}

TEST_F(ScanFolder, EachAcceptedImageIsHeldOnceUntilTheNextScan) {
  TempDir dir;
  // an unusual size, so no other mapping of the process has it (the bytes built here, which the
  // allocator may map on their own, are gone before the count)
  std::vector<uint8_t> bytes = RouterApp("A", (3u << 20) + 12345);
  ASSERT_TRUE(WriteImageFile(dir.File("app.bin"), bytes));
  ASSERT_TRUE(WriteImageFile(dir.File("app2.tmp"), bytes));
  const size_t size = bytes.size();
  std::vector<uint8_t>().swap(bytes);
  ASSERT_EQ(MappingsOfSize(size), 0);
  ASSERT_TRUE(ScanImageFiles(m_Images, dir.Path(), m_Log));
  EXPECT_EQ(MappingsOfSize(size), 1) << "read once: the scan keeps the copy it verified";
  ASSERT_TRUE(ScanImageFiles(m_Images, dir.Path(), m_Log));
  EXPECT_EQ(MappingsOfSize(size), 1) << "the copy of the earlier Check is freed";

  // a second file of the type stops the scan; its copy does not stay
  ASSERT_EQ(rename(dir.File("app2.tmp").c_str(), dir.File("app2.bin").c_str()), 0);
  EXPECT_FALSE(ScanImageFiles(m_Images, dir.Path(), m_Log));
  EXPECT_EQ(MappingsOfSize(size), 1);

  TempDir empty;
  EXPECT_FALSE(ScanImageFiles(m_Images, empty.Path(), m_Log));
  EXPECT_EQ(MappingsOfSize(size), 0) << "the catalogue's reset frees every copy";
}

}  // namespace
