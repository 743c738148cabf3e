// The network pre-flight against real interfaces: each case runs the CLI's Check with the unmodified
// discovery addresses in a network namespace that a forked child makes for itself (unshare), with
// the interfaces and routes the case needs, and no router at all. Nothing leaves the namespace.

#include <errno.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "CliTestSupport.h"
#include "NetnsChild.h"
#include "platform/JsonWriter.h"
#include "upgrade/Advice.h"

namespace {

// A dummy interface where the kernel has the type, else one end of a veth pair.
bool MakeInterface(const std::string& name) {
  return Shell("ip link add " + name + " type dummy") ||
         (Shell("ip link add " + name + " type veth peer name " + name + "p") &&
          Shell("ip link set " + name + "p up"));
}

struct Case {
  const char* what;
  std::vector<std::string> setup;  // ip commands after lo is up; interfaces are made by name first
  std::vector<std::string> interfaces;
  const char* diagnosis;
  const char* shownPart;  // a part of the warning after "No router is detected"
};

// In the child: "SKIP <reason>" or "RUN <exit status>\n<stdout>\n--stderr--\n<stderr>".
void ChildMain(int fd, const Case& c) {
  if (unshare(CLONE_NEWNET) != 0) {
    Report(fd, std::string("SKIP no private network namespace can be made here (unshare: ") +
                   std::strerror(errno) + ")");
    return;
  }
  if (!Shell("ip link set lo up")) {
    Report(fd, "SKIP the ip tool cannot configure the private namespace");
    return;
  }
  for (const std::string& name : c.interfaces) {
    if (!MakeInterface(name)) {
      Report(fd, "SKIP no interface can be made in the private namespace");
      return;
    }
  }
  for (const std::string& command : c.setup) {
    if (!Shell(command)) {
      Report(fd, "SKIP cannot set up the namespace: " + command);
      return;
    }
  }
  std::string temp = MakeTempDir("qor-preflight-");
  std::string error;
  DemoConfig demo;
  if (temp.empty() || !DemoSetup::WriteSampleImages(temp, demo, &error)) {
    Report(fd, "FAIL cannot write the sample images: " + error);
    return;
  }
  ChildProcess cli;
  int code = -1;
  // the unmodified endpoints, at real speed: nothing answers
  if (!cli.Start(QOR_CLI_PATH, {"check", "--json", "--images", temp, "--log", temp + "/log.txt"},
                 {{"XDG_STATE_HOME", temp + "/state"}, {"LANGUAGE", "en"}}) ||
      !cli.Wait(120000, &code)) {
    cli.Kill();
    code = -1;
  }
  std::string log;
  if (FILE* f = std::fopen((temp + "/log.txt").c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) log.append(buffer, n);
    std::fclose(f);
  }
  RemoveTree(temp);
  Report(fd, "RUN " + std::to_string(code) + "\n" + cli.Stdout() + "\n--stderr--\n" + cli.Stderr() +
                 "\n--log--\n" + log);
}

std::string RunInNamespace(const Case& c) {
  return RunInChild([&c](int fd) { ChildMain(fd, c); }).text;
}

TEST(PreflightNetns, EachCauseOfNoRouterGetsItsOwnDiagnosis) {
  const Case cases[] = {
      {"only the loopback interface",
       {},
       {},
       "no-interface-in-subnet",
       "No network interface of this PC is up with an address in 192.168.1.x.\nConnect the PC to the "
       "router's LAN "
       "port, or give it an address in 192.168.1.x"},
      {"an interface in another subnet",
       {"ip addr add 10.9.8.7/24 dev qor0", "ip link set qor0 up", "ip route add default dev qor0"},
       {"qor0"},
       "no-interface-in-subnet",
       "give it an address in 192.168.1.x"},
      // the system's own route for the subnet's broadcast replaced by one that refuses it
      {"a send the system refuses",
       {"ip addr add 192.168.1.20/24 broadcast 192.168.1.255 dev qor0", "ip link set qor0 up",
        "ip route del broadcast 192.168.1.255 dev qor0 table local", "ip route add prohibit 192.168.1.255/32",
        "ip route add 255.255.255.255/32 dev qor0"},
       {"qor0"},
       "discovery-send-failed",
       "The search for the router could not be sent to 192.168.1.255: Permission denied"},
      {"sent from two interfaces, nothing answers",
       {"ip addr add 192.168.1.20/24 broadcast 192.168.1.255 dev qor0", "ip link set qor0 up",
        "ip addr add 192.168.1.21/24 broadcast 192.168.1.255 dev qor1", "ip link set qor1 up",
        "ip route add 255.255.255.255/32 dev qor0"},
       {"qor0", "qor1"},
       "no-answer",
       "The search for the router was sent, but no router answered. Two or more interfaces have an address "
       "in "
       "192.168.1.x (qor0 192.168.1.20, qor1 192.168.1.21)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string report = RunInNamespace(c);
    if (report.rfind("SKIP ", 0) == 0) GTEST_SKIP() << report.substr(5);
    ASSERT_EQ(report.rfind("RUN 3\n", 0), 0u) << report;
    const std::string json = report.substr(6, report.find("\n--stderr--") - 6);
    const JsonValue result = JsonValue::parse(json, nullptr, false);
    ASSERT_TRUE(result.is_object()) << report;
    EXPECT_EQ(result["reasonCode"], "no-router");
    EXPECT_EQ(result["network"]["diagnosis"], c.diagnosis) << report;
    ASSERT_EQ(result["network"]["subnets"].size(), 1u) << report;
    EXPECT_EQ(result["network"]["subnets"][0]["subnet"], "192.168.1.x");
    EXPECT_EQ(result["network"]["subnets"][0]["interfaces"].size(),
              std::string(c.diagnosis) == "no-interface-in-subnet" ? 0u : c.interfaces.size())
        << report;
    // the warning: its own text first, the diagnosis after it
    const std::string err = report.substr(report.find("\n--stderr--\n"));
    EXPECT_NE(err.find("Warning: No router is detected\n\n"), std::string::npos) << err;
    EXPECT_NE(err.find(c.shownPart), std::string::npos) << err;
    // the log names the interfaces before the search and the cause after it
    const std::string log = report.substr(report.find("\n--log--\n"));
    EXPECT_NE(log.find(c.interfaces.empty() || std::string(c.diagnosis) == "no-interface-in-subnet"
                           ? "No interface is up with an address in 192.168.1.x"
                           : "Interfaces in 192.168.1.x: qor0 192.168.1.20"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("No router is detected: "), std::string::npos) << log;
  }
}

}  // namespace
