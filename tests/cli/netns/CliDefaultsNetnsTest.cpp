// The CLI with the tool's unmodified endpoints (discovery to 192.168.1.255 then 255.255.255.255,
// UDP and TCP 1280, Telnet 23), run where those defaults can do no harm: a network namespace that
// this test makes for itself. A forked child leaves the test's namespace with unshare(), so nothing
// it sends can reach a real network, gives an interface 192.168.1.1/24, starts the emulator there on
// the router's own ports, and runs the CLI without any endpoint option.

#include <errno.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "CliTestSupport.h"
#include "NetnsChild.h"
#include "platform/StringTable.h"

namespace {

// Real time: a faster clock is refused for check and upgrade outside loopback, as it would shrink
// every time-out against a real router.
constexpr double kSpeed = 1;

// In the child: "SKIP <reason>", or "RUN <exit status>\n<stdout>\n--stderr--\n<stderr>\n--events--\n...".
void ChildMain(int fd) {
  if (unshare(CLONE_NEWNET) != 0) {
    Report(fd, std::string("SKIP no private network namespace can be made here (unshare: ") +
                   std::strerror(errno) + "); the run with the unmodified defaults needs one");
    return;
  }
  if (!Shell("ip link set lo up")) {
    Report(fd, "SKIP the ip tool cannot configure the private namespace");
    return;
  }
  // a dummy interface where the kernel has the type, else one end of a veth pair
  std::string dev = "qor0";
  bool made = Shell("ip link add qor0 type dummy") ||
              (Shell("ip link add qor0 type veth peer name qor1") && Shell("ip link set qor1 up"));
  if (!made || !Shell("ip addr add 192.168.1.1/24 broadcast 192.168.1.255 dev qor0") ||
      !Shell("ip link set qor0 up") || !Shell("ip route add 255.255.255.255/32 dev qor0")) {
    Report(fd, "SKIP no interface for 192.168.1.1/24 can be made in the private namespace");
    return;
  }

  ScaledClock clock(kSpeed);
  ScopedClock use(clock);
  std::string temp = MakeTempDir("qor-cli-test-");
  std::string error;
  DemoConfig demo;
  if (temp.empty() || !DemoSetup::WriteSampleImages(temp, demo, &error)) {
    Report(fd, "FAIL cannot write the sample images: " + error);
    return;
  }
  qorsim::SimConfig config = DemoSetup::EmulatorConfig(demo);
  config.address = "192.168.1.1";
  config.udpPort = 1280;
  config.linkPort = 1280;
  config.telnetPort = 23;
  qorsim::RouterSim sim(config);
  if (!sim.Start(&error)) {
    Report(fd, "FAIL cannot start the emulator on 192.168.1.1: " + error);
    RemoveTree(temp);
    return;
  }

  ChildProcess cli;
  int code = -1;
  // no --discovery-address, --udp-port, --link-port or --telnet-port
  if (!cli.Start(QOR_CLI_PATH, {"upgrade", "--yes", "--json", "--images", temp, "--log", temp + "/log.txt"},
                 {{"XDG_STATE_HOME", temp + "/state"}}) ||
      !cli.Wait(300000, &code)) {
    cli.Kill();
    code = -1;
  }
  std::string report = "RUN " + std::to_string(code) + "\n" + cli.Stdout() + "\n--stderr--\n" + cli.Stderr() +
                       "\n--events--\n";
  for (const qorsim::SimEvent& e : sim.Events()) report += e.kind + " " + e.detail + "\n";
  sim.Stop();
  RemoveTree(temp);
  Report(fd, report);
}

TEST(CliDefaultsNetns, FindsChecksAndUpgradesTheRouterThroughTheDefaultEndpoints) {
  const ChildReport child = RunInChild(ChildMain);
  const std::string& report = child.text;
  ASSERT_TRUE(child.exitedCleanly) << report;

  if (report.rfind("SKIP ", 0) == 0) GTEST_SKIP() << report.substr(5);
  ASSERT_EQ(report.rfind("RUN 0\n", 0), 0u) << report;
  std::string json = report.substr(6, report.find("\n--stderr--") - 6);
  EXPECT_EQ(JsonField(json, "ip"), "192.168.1.1") << report;
  std::vector<std::string> modules = JsonModules(json);
  ASSERT_EQ(modules.size(), 5u) << report;
  for (const std::string& m : modules)
    EXPECT_EQ(JsonField(m, "status").rfind(LoadStringById(IDS_DOWNLOAD_SUCCESSFULLY) + " (", 0), 0u) << m;
  // found by the first default address, on the router's own ports
  std::string events = report.substr(report.find("--events--"));
  EXPECT_NE(events.find("udp.discover"), std::string::npos) << events;
  EXPECT_NE(events.find("telnet.login"), std::string::npos) << events;
  EXPECT_NE(events.find("link.rut-begin"), std::string::npos) << events;
}

}  // namespace
