// The support report on a disk that fills up, fails or refuses: the bundle is written whole or not
// at all, and the technician is told the system's reason.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/FileFaults.h"
#include "support/TempDir.h"
#include "upgrade/SupportReport.h"

namespace {

TEST(SupportReportFaults, AFailedWriteSyncOrRenameLeavesNothingAndSaysWhy) {
  struct Case {
    FileOp op;
    int error;
  };
  const Case cases[] = {
      {FileOp::Write, ENOSPC}, {FileOp::Write, EIO}, {FileOp::Sync, EIO}, {FileOp::Rename, EACCES}};
  TempDir dir;
  SupportReportInput input;
  input.frontEnd = "qor-oneclick-cli";
  input.logPath = dir.File("QorUpgradeLog.txt");
  const std::string bundle = dir.File("report.tar.gz");
  const auto entries = [&dir] {
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) n += entry.exists() ? 1 : 0;
    return n;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(FileOpName(c.op)) + ": " + std::strerror(c.error));
    ArmFileFault(c.op, 1, c.error);
    std::string error;
    const bool written = WriteSupportReport(input, bundle, error);
    const bool fired = FileFaultFired();
    DisarmFileFaults();
    EXPECT_TRUE(fired);
    EXPECT_FALSE(written);
    EXPECT_NE(error.find(std::strerror(c.error)), std::string::npos) << error;
    EXPECT_EQ(entries(), 0u) << "a part of the bundle stayed behind";
  }
  // the same disk without the fault takes the bundle
  std::string error;
  EXPECT_TRUE(WriteSupportReport(input, bundle, error)) << error;
  EXPECT_EQ(entries(), 1u);
}

}  // namespace
