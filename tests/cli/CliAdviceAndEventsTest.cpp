// What the CLI tells a technician and an integrator after a failure and while a run goes: the advice
// under the table and in the JSON, the numeric status ids and times, the digests of the images sent,
// and the --events stream of a whole demo.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CliTestSupport.h"
#include "image/ModuleType.h"
#include "platform/JsonWriter.h"
#include "platform/StringTable.h"
#include "upgrade/Advice.h"

namespace {

std::string Text(int id) { return LoadStringById(id); }

JsonValue Parse(const std::string& line) { return JsonValue::parse(line, nullptr, false); }

// The system's own sha256sum of a file, so the digest is not checked by the code that made it.
std::string Sha256Sum(const std::string& path) {
  std::string command = "sha256sum '" + path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return std::string();
  char digest[65] = {};
  const size_t n = std::fread(digest, 1, 64, pipe);
  pclose(pipe);
  return std::string(digest, n);
}

TEST(CliAdvice, AFailedRowCarriesItsIdTimeAndAdviceInTheJsonAndUnderTheTable) {
  DemoConfig config;
  config.faults.routerResult = 3;  // the router refuses its application image
  CliRun run(config);
  ASSERT_TRUE(run.Ready());
  ASSERT_TRUE(run.Start({"upgrade", "--yes", "--json"}));
  ASSERT_EQ(run.Finish(), 1) << run.Diagnostics();
  const JsonValue result = Parse(run.Out());
  ASSERT_TRUE(result.is_object()) << run.Out();
  EXPECT_EQ(result["schemaVersion"], 1);
  EXPECT_FALSE(result["toolVersion"].get<std::string>().empty());
  EXPECT_EQ(result["reasonCode"], "router-result-fail");
  EXPECT_EQ(result["advice"], AdviceText(IDS_ROUTER_RESULT_FAIL));
  const JsonValue& modules = result["modules"];
  ASSERT_EQ(modules.size(), 5u);
  const JsonValue& failed = modules[0];
  EXPECT_EQ(failed["statusId"], IDS_ROUTER_RESULT_FAIL);
  ASSERT_TRUE(failed["elapsedSeconds"].is_number_integer()) << failed.dump();
  EXPECT_GE(failed["elapsedSeconds"].get<int>(), 0);
  EXPECT_EQ(failed["advice"], AdviceText(IDS_ROUTER_RESULT_FAIL));
  EXPECT_EQ(failed["adviceCode"], "router-result-fail");
  // the rows the run did not get to: waiting, no time, no advice
  for (size_t i = 1; i < modules.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(modules[i]["statusId"], IDS_WAITING_UPGRADE);
    EXPECT_TRUE(modules[i]["elapsedSeconds"].is_null());
    EXPECT_TRUE(modules[i]["advice"].is_null());
  }
  // every row with an image names it and its digest, as the system's own tool computes it
  for (const JsonValue& m : modules) {
    SCOPED_TRACE(m.dump());
    ASSERT_TRUE(m["image"].is_object());
    const std::string path = m["image"]["path"];
    EXPECT_EQ(path.rfind(run.Stage().ImageFolder(), 0), 0u);
    EXPECT_EQ(m["image"]["sha256"], Sha256Sum(path));
  }

  // without --json the advice stands under the table, per failed row
  CliRun plain(config);
  ASSERT_TRUE(plain.Ready());
  ASSERT_TRUE(plain.Start({"upgrade", "--yes"}));
  ASSERT_EQ(plain.Finish(), 1) << plain.Diagnostics();
  const std::string out = plain.Out();
  const std::string line = "What to do next (" + ModuleDisplayName(MODULE_BOOT) +
                           "): " + AdviceText(IDS_ROUTER_RESULT_FAIL) + "\n";
  const size_t advice = out.find(line);
  ASSERT_NE(advice, std::string::npos) << out;
  EXPECT_LT(out.find(Text(IDS_ROUTER_RESULT_FAIL)), advice) << "the advice follows the table";
  EXPECT_EQ(out.find("What to do next (", advice + 1), std::string::npos) << "one failed row, one advice";
}

TEST(CliAdvice, NoRouterIsDiagnosedInTheJson) {
  DemoConfig config;
  config.faults.noDiscovery = true;
  CliRun run(config);
  ASSERT_TRUE(run.Ready());
  ASSERT_TRUE(run.Start({"check", "--json"}));
  ASSERT_EQ(run.Finish(), 3) << run.Diagnostics();
  const JsonValue result = Parse(run.Out());
  ASSERT_TRUE(result.is_object()) << run.Out();
  EXPECT_EQ(result["reason"], LoadStringById(IDS_NO_ROUTER));
  EXPECT_EQ(result["reasonCode"], "no-router");
  // the emulator drops the search: sent from the loopback interface, which holds the subnet
  EXPECT_EQ(result["network"]["diagnosis"], "no-answer");
  ASSERT_FALSE(result["network"]["subnets"].empty());
  EXPECT_EQ(result["network"]["subnets"][0]["interfaces"], JsonValue::array({"lo 127.0.0.1"}));
  EXPECT_NE(result["advice"].get<std::string>().find("udp sport"), std::string::npos);
  EXPECT_NE(run.Err().find("Warning: " + LoadStringById(IDS_NO_ROUTER) + "\n\n"), std::string::npos)
      << run.Err();
}

TEST(CliEvents, AWholeDemoStreamsOneLinePerChangeEndingWithTheResult) {
  CliRun run;
  ASSERT_TRUE(run.Ready());
  ASSERT_TRUE(run.Start({"upgrade", "--yes", "--events", "--json"}));
  ASSERT_EQ(run.Finish(), 0) << run.Diagnostics();
  std::vector<JsonValue> lines;
  const std::string out = run.Out();
  for (size_t at = 0; at < out.size();) {
    const size_t end = out.find('\n', at);
    lines.push_back(Parse(out.substr(at, end - at)));
    ASSERT_TRUE(lines.back().is_object()) << out.substr(at, end - at);
    at = end == std::string::npos ? out.size() : end + 1;
  }
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines.front()["event"], "check");
  const size_t rows = lines.front()["modules"].size();
  ASSERT_EQ(rows, 5u);
  // the result object comes last, after the end event
  EXPECT_FALSE(lines.back().contains("event"));
  EXPECT_EQ(lines.back()["result"], "upgraded");
  const JsonValue& end = lines[lines.size() - 2];
  EXPECT_EQ(end["event"], "end");
  EXPECT_EQ(end["result"], "upgraded");
  EXPECT_EQ(end["exitStatus"], 0);

  std::vector<int> statuses(rows), progress(rows), finals(rows);
  double last = 0;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    const JsonValue& e = lines[i];
    SCOPED_TRACE(e.dump());
    EXPECT_EQ(e["schemaVersion"], 1);
    const double time = e["time"];
    EXPECT_GE(time, last) << "the time stamps never go back";
    last = time;
    if (!e.contains("row")) continue;
    const size_t row = e["row"];
    ASSERT_LT(row, rows);
    EXPECT_EQ(e["type"], lines.front()["modules"][row]["type"]);
    EXPECT_EQ(finals[row], 0) << "nothing follows a row's final status";
    if (e["event"] == "status") ++statuses[row];
    if (e["event"] == "progress") ++progress[row];
    if (e["event"] == "final") {
      ++finals[row];
      EXPECT_EQ(e["statusId"], IDS_DOWNLOAD_SUCCESSFULLY);
      EXPECT_EQ(e["colour"], "blue");
      EXPECT_TRUE(e["elapsedSeconds"].is_number_integer());
      EXPECT_TRUE(e["advice"].is_null());
    }
  }
  for (size_t row = 0; row < rows; ++row) {
    SCOPED_TRACE(row);
    EXPECT_GE(statuses[row], 1);
    EXPECT_GE(progress[row], 1);
    EXPECT_EQ(finals[row], 1);
  }
}

}  // namespace
