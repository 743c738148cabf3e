// The network pre-flight and the diagnosis of a Check that found no router, on interface lists and
// discovery outcomes given as values. The same code against real interfaces runs in network
// namespaces of its own in tests/cli/netns.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/INetPort.h"
#include "upgrade/Advice.h"
#include "upgrade/NetworkPreflight.h"

namespace upgrade_test {
namespace {

uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return (uint32_t{a} << 24) | (uint32_t{b} << 16) | (uint32_t{c} << 8) | d;
}
uint32_t Mask(int prefix) { return prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix); }

LocalIpv4Address Interface(const char* name, uint32_t address, int prefix, bool up = true) {
  LocalIpv4Address a;
  a.interfaceName = name;
  a.address = address;
  a.netmask = Mask(prefix);
  a.up = up;
  a.running = up;
  a.loopback = std::string(name) == "lo";
  return a;
}

const std::vector<std::string> kDefaults = {"192.168.1.255", "255.255.255.255"};

TEST(NetworkPreflight, FindsTheInterfacesInTheRoutersSubnet) {
  const LocalIpv4Address lo = Interface("lo", Ip(127, 0, 0, 1), 8);
  struct Case {
    const char* what;
    std::vector<LocalIpv4Address> interfaces;
    std::vector<std::string> expected;  // in 192.168.1.x
  };
  const Case cases[] = {
      {"only loopback", {lo}, {}},
      {"the router's LAN", {lo, Interface("eth0", Ip(192, 168, 1, 10), 24)}, {"eth0 192.168.1.10"}},
      {"another /24 of the same /16", {lo, Interface("eth0", Ip(192, 168, 2, 10), 24)}, {}},
      {"a wider network holding it", {Interface("eth0", Ip(192, 168, 7, 3), 16)}, {"eth0 192.168.7.3"}},
      {"a narrower network in its upper half",
       {Interface("eth0", Ip(192, 168, 1, 200), 25)},
       {"eth0 192.168.1.200"}},
      {"an interface that is down", {Interface("eth0", Ip(192, 168, 1, 10), 24, false)}, {}},
      {"two in the subnet",
       {Interface("eth0", Ip(192, 168, 1, 10), 24), Interface("wlan0", Ip(192, 168, 1, 11), 24)},
       {"eth0 192.168.1.10", "wlan0 192.168.1.11"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const NetworkPreflight p = RunNetworkPreflight(c.interfaces, true, kDefaults);
    // the limited broadcast belongs to no subnet
    ASSERT_EQ(p.subnets.size(), 1u);
    EXPECT_EQ(p.subnets[0].discoveryAddress, "192.168.1.255");
    EXPECT_EQ(p.subnets[0].subnetText, "192.168.1.x");
    EXPECT_EQ(p.subnets[0].interfaces, c.expected);
  }
  // loopback discovery (the tests, the demo) is matched like any subnet
  const NetworkPreflight loop = RunNetworkPreflight({lo}, true, {"127.0.0.255"});
  ASSERT_EQ(loop.subnets.size(), 1u);
  EXPECT_EQ(loop.subnets[0].interfaces, std::vector<std::string>{"lo 127.0.0.1"});
}

TEST(NetworkPreflight, TheLogNamesTheInterfacesAndWarnsOfTwo) {
  const NetworkPreflight none = RunNetworkPreflight({}, true, kDefaults);
  EXPECT_EQ(PreflightLogLines(none),
            std::vector<std::string>{"No interface is up with an address in 192.168.1.x"});
  const NetworkPreflight two = RunNetworkPreflight(
      {Interface("eth0", Ip(192, 168, 1, 10), 24), Interface("wlan0", Ip(192, 168, 1, 11), 24)}, true,
      kDefaults);
  const std::vector<std::string> lines = PreflightLogLines(two);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Interfaces in 192.168.1.x: eth0 192.168.1.10, wlan0 192.168.1.11");
  EXPECT_NE(lines[1].find("Two or more interfaces"), std::string::npos);
  NetworkPreflight unlisted = RunNetworkPreflight({}, false, kDefaults);
  unlisted.listError = "Operation not permitted";
  EXPECT_EQ(PreflightLogLines(unlisted),
            std::vector<std::string>{"The network interfaces could not be listed: Operation not permitted"});
}

TEST(NetworkPreflight, DiagnosesWhyNoRouterAnswered) {
  const NetworkPreflight inSubnet =
      RunNetworkPreflight({Interface("eth0", Ip(192, 168, 1, 10), 24)}, true, kDefaults);
  const NetworkPreflight outside =
      RunNetworkPreflight({Interface("eth0", Ip(10, 0, 0, 5), 8)}, true, kDefaults);
  const NetworkPreflight unlisted = RunNetworkPreflight({}, false, kDefaults);
  const NetworkPreflight two = RunNetworkPreflight(
      {Interface("eth0", Ip(192, 168, 1, 10), 24), Interface("wlan0", Ip(192, 168, 1, 11), 24)}, true,
      kDefaults);
  const std::vector<DiscoverySend> sent = {{"192.168.1.255", 0}, {"255.255.255.255", 0}};
  const std::vector<DiscoverySend> refused = {{"192.168.1.255", kErrAccess}, {"255.255.255.255", 0}};
  const std::vector<DiscoverySend> unreachable = {{"192.168.1.255", 101}, {"255.255.255.255", 101}};
  struct Case {
    const char* what;
    const NetworkPreflight& preflight;
    const std::vector<DiscoverySend>& sends;
    NoRouterCause cause;
    const char* code;
    std::vector<std::string> logged;  // parts the log line must hold
  };
  const Case cases[] = {
      {"no interface in the subnet comes first",
       outside,
       unreachable,
       NoRouterCause::NoInterfaceInSubnet,
       "no-interface-in-subnet",
       {"192.168.1.x", "Connect the PC to the router's LAN port, or give it an address in 192.168.1.x"}},
      {"a send refused by the system",
       inSubnet,
       refused,
       NoRouterCause::SendFailed,
       "discovery-send-failed",
       {"could not be sent to 192.168.1.255", "Permission denied", "(10013)", "UDP port 1280"}},
      {"interfaces not listed: the send decides",
       unlisted,
       unreachable,
       NoRouterCause::SendFailed,
       "discovery-send-failed",
       {"Network is unreachable (101)"}},
      {"sent, nothing answered",
       inSubnet,
       sent,
       NoRouterCause::NoAnswer,
       "no-answer",
       {"no router answered", "nft add rule inet filter input udp sport 1280 accept",
        "ufw allow proto udp from any port 1280", "firewall-cmd --add-source-port=1280/udp"}},
      {"two interfaces in the subnet",
       two,
       sent,
       NoRouterCause::NoAnswer,
       "no-answer",
       {"eth0 192.168.1.10, wlan0 192.168.1.11", "switch the others off"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const NoRouterDiagnosis d = DiagnoseNoRouter(c.preflight, c.sends, 1280);
    EXPECT_EQ(d.cause, c.cause);
    EXPECT_EQ(d.code, c.code);
    EXPECT_EQ(AdviceCode(d.adviceId), c.code);
    for (const std::string& part : c.logged) EXPECT_NE(d.logged.find(part), std::string::npos) << d.logged;
    // in English the user reads what the log says, the advice included
    EXPECT_NE(d.shown.find(d.advice), std::string::npos);
    EXPECT_FALSE(d.advice.empty());
  }
  // the router's port is the one configured
  EXPECT_NE(DiagnoseNoRouter(inSubnet, sent, 4321).advice.find("sport 4321"), std::string::npos);
}

}  // namespace
}  // namespace upgrade_test
