#include <gtest/gtest.h>

#include "cli/CliOptions.h"

namespace {

struct GoodCase {
  const char* name;
  std::vector<std::string> args;
  CliCommand command;
  std::vector<std::string> addresses;
  uint16_t udp, link, telnet;
};

TEST(CliOptions, AcceptedCommandLines) {
  const std::vector<std::string> defaults = {"192.168.1.255", "255.255.255.255"};
  const GoodCase cases[] = {
      {"bare check keeps the router's defaults", {"check"}, CliCommand::Check, defaults, 1280, 1280, 23},
      {"options after the command",
       {"upgrade", "--udp-port", "4000", "--link-port", "4001", "--telnet-port", "4002"},
       CliCommand::Upgrade,
       defaults,
       4000,
       4001,
       4002},
      {"options before the command",
       {"--telnet-port=2323", "--udp-port=9", "demo"},
       CliCommand::Demo,
       defaults,
       9,
       1280,
       2323},
      {"the first address replaces the defaults, later ones add",
       {"--discovery-address", "127.0.0.1", "check", "--discovery-address=10.1.2.255"},
       CliCommand::Check,
       {"127.0.0.1", "10.1.2.255"},
       1280,
       1280,
       23},
      {"highest port", {"check", "--link-port", "65535"}, CliCommand::Check, defaults, 1280, 65535, 23},
  };
  for (const GoodCase& c : cases) {
    SCOPED_TRACE(c.name);
    CliOptions options;
    std::string error;
    ASSERT_TRUE(ParseCliOptions(c.args, options, error)) << error;
    EXPECT_EQ(options.command, c.command);
    EXPECT_EQ(options.endpoints.discoveryAddresses, c.addresses);
    EXPECT_EQ(options.endpoints.udpPort, c.udp);
    EXPECT_EQ(options.endpoints.linkPort, c.link);
    EXPECT_EQ(options.endpoints.telnetPort, c.telnet);
  }
}

TEST(CliOptions, FlagsAndValues) {
  CliOptions options;
  std::string error;
  ASSERT_TRUE(ParseCliOptions(
      {"--json", "upgrade", "--yes", "--quiet", "--images", "/srv/img", "--log=/tmp/x.log"}, options, error))
      << error;
  EXPECT_TRUE(options.json);
  EXPECT_TRUE(options.yes);
  EXPECT_TRUE(options.quiet);
  ASSERT_TRUE(options.imagesDir.has_value());
  EXPECT_EQ(*options.imagesDir, "/srv/img");
  ASSERT_TRUE(options.logPath.has_value());
  EXPECT_EQ(*options.logPath, "/tmp/x.log");
  EXPECT_FALSE(options.speedGiven);
  ASSERT_TRUE(ParseCliOptions({"--speed", "12.5", "demo"}, options, error)) << error;
  EXPECT_DOUBLE_EQ(options.speed, 12.5);

  // a second parse starts from nothing: no option leaks from the previous one
  ASSERT_TRUE(ParseCliOptions({"check"}, options, error));
  EXPECT_FALSE(options.json);
  EXPECT_FALSE(options.imagesDir.has_value());
  EXPECT_DOUBLE_EQ(options.speed, 1.0);

  ASSERT_TRUE(ParseCliOptions({"--help"}, options, error));
  EXPECT_TRUE(options.help);
}

TEST(CliOptions, RefusedCommandLines) {
  struct BadCase {
    std::vector<std::string> args;
    const char* reasonPart;
  };
  const BadCase cases[] = {
      {{}, "no command"},
      {{"--json"}, "no command"},
      {{"check", "upgrade"}, "only one command"},
      {{"flash"}, "unknown command"},
      {{"check", "--force"}, "unknown option"},
      {{"check", "--udp-port"}, "needs a value"},
      {{"check", "--udp-port", "0"}, "not a port"},
      {{"check", "--udp-port", "65536"}, "not a port"},
      {{"check", "--link-port", "12ab"}, "not a port"},
      {{"check", "--telnet-port", "-1"}, "not a port"},
      {{"check", "--telnet-port="}, "not a port"},
      {{"check", "--discovery-address", "192.168.1"}, "not an IPv4"},
      {{"check", "--discovery-address", "router.local"}, "not an IPv4"},
      {{"check", "--discovery-address", "256.1.1.1"}, "not an IPv4"},
      {{"demo", "--speed", "0"}, "not a speed"},
      {{"demo", "--speed", "0.5"}, "not a speed"},
      {{"demo", "--speed", "5000"}, "not a speed"},
      {{"demo", "--speed", "nan"}, "not a speed"},
      {{"demo", "--speed", "3x"}, "not a speed"},
      // against a real router a faster clock would cut every time-out short
      {{"check", "--speed", "5"}, "--speed applies only to demo"},
      {{"--speed=20", "upgrade", "--yes"}, "--speed applies only to demo"},
      {{"check", "--json=1"}, "takes no value"},
      {{"check", "--images", ""}, "needs a folder"},
      {{"check", "--log="}, "needs a file"},
  };
  for (const BadCase& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    CliOptions options;
    std::string error;
    EXPECT_FALSE(ParseCliOptions(c.args, options, error));
    EXPECT_NE(error.find(c.reasonPart), std::string::npos) << error;
  }
}

// --speed drives demo; the test variable drives check and upgrade, and only where no router can be.
TEST(CliOptions, ClockScaleComesFromSpeedForDemoAndFromTheTestVariableOnLoopbackOnly) {
  struct Case {
    std::vector<std::string> args;
    const char* variable;  // nullptr: unset
    bool accepted;
    double scale;
    const char* reasonPart;
  };
  const Case cases[] = {
      {{"demo", "--speed", "20"}, nullptr, true, 20, ""},
      {{"demo", "--speed", "20"}, "5", true, 20, ""},  // demo's own option wins
      {{"demo"}, nullptr, true, 1, ""},
      {{"check"}, nullptr, true, 1, ""},
      {{"check"}, "", true, 1, ""},
      {{"check", "--discovery-address", "127.255.255.255"}, "5", true, 5, ""},
      {{"upgrade", "--discovery-address", "127.0.0.1", "--discovery-address", "127.9.9.255"},
       "40",
       true,
       40,
       ""},
      // the router's defaults, or any address off this host: refused
      {{"check"}, "5", false, 1, "only when every discovery address is a loopback address"},
      {{"upgrade", "--discovery-address", "127.255.255.255", "--discovery-address", "192.168.1.255"},
       "5",
       false,
       1,
       "loopback"},
      {{"check", "--discovery-address", "128.0.0.1"}, "5", false, 1, "loopback"},
      {{"check", "--discovery-address", "127.0.0.1"}, "fast", false, 1, "not a speed"},
      {{"check", "--discovery-address", "127.0.0.1"}, "0.5", false, 1, "not a speed"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined + (c.variable ? std::string("with ") + c.variable : std::string("unset")));
    CliOptions options;
    std::string error;
    ASSERT_TRUE(ParseCliOptions(c.args, options, error)) << error;
    double scale = -1;
    EXPECT_EQ(ResolveClockScale(options, c.variable, scale, error), c.accepted);
    if (c.accepted) {
      EXPECT_DOUBLE_EQ(scale, c.scale);
    } else {
      EXPECT_NE(error.find(c.reasonPart), std::string::npos) << error;
    }
  }
}

TEST(CliOptions, UsageNamesEveryOptionAndExitStatus) {
  std::string usage = CliUsage();
  for (const char* part : {"check", "upgrade", "demo", "--images", "--discovery-address", "--udp-port",
                           "--link-port", "--telnet-port", "--json", "--quiet", "--yes", "--speed",
                           "demo only", "--log", "128+N", "\"Time\"", "(mm:ss)", "failed"})
    EXPECT_NE(usage.find(part), std::string::npos) << part;
}

}  // namespace
