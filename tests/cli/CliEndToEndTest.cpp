// The real qor-oneclick-cli against the emulator in this process, on a clock 20 times faster.

#include <signal.h>

#include <gtest/gtest.h>

#include "CliTestSupport.h"
#include "platform/StringTable.h"

namespace {

std::string Success() { return LoadStringById(IDS_DOWNLOAD_SUCCESSFULLY); }

TEST(CliUpgrade, FullRunEndsWithEveryRowDownloadSuccessfully) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  ASSERT_TRUE(run.Start({"upgrade", "--yes", "--json"}));
  int code = run.Finish();
  std::string json = run.Out();
  EXPECT_EQ(code, 0) << run.Diagnostics();
  EXPECT_EQ(JsonField(json, "result"), "upgraded") << json;
  EXPECT_EQ(JsonField(json, "exitStatus"), "0");
  std::vector<std::string> modules = JsonModules(json);
  ASSERT_EQ(modules.size(), 5u) << json;
  const char* types[] = {"0", "1", "2", "7", "8"};
  for (size_t i = 0; i < modules.size(); ++i) {
    SCOPED_TRACE(modules[i]);
    EXPECT_EQ(JsonField(modules[i], "type"), types[i]);
    EXPECT_EQ(JsonField(modules[i], "status").rfind(Success() + " (", 0), 0u);
    EXPECT_EQ(JsonField(modules[i], "colour"), "blue");
  }
}

}  // namespace
