// The Telnet client: its buffer, line cutting and version-text rules, and the client and both
// logins against a scripted console on loopback.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "ScriptedPeers.h"
#include "log/CDownloadLog.h"
#include "platform/Clock.h"
#include "protocol/CTelnetClient.h"
#include "support/FreePort.h"

namespace {

using Lines = std::vector<std::string>;

Lines Cut(const std::string& text) {
  return CutTelnetLines(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

const std::string kOptions = "\xFF\xFB\x01\xFF\xFC\x21\xFF\xFD\x01\xFF\xFD\x03";

}  // namespace

TEST(TelnetBuffer, GrowsByWholeMultiplesOfItsCapacity) {
  struct Case {
    int requested;
    int held;
    int added;
    int capacity;
  };
  const Case cases[] = {
      {0, 10, 40, 64},                                                         // k = 4, not 50
      {0, 10, 6, 16},                                                          // fits exactly
      {0, 10, 7, 32},                                                          // k = 2 is the least growth
      {-3, 0, 16, 16},                                                         // raised to 16
      {15, 0, 17, 32}, {20, 0, 20, 20}, {20, 20, 1, 40}, {16, 1, 1000, 1008},  // 63 x 16 - 1 >= 1000
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.requested << "/" << c.held << "+" << c.added);
    CTelnetBuffer buffer(c.requested);
    std::vector<uint8_t> bytes(static_cast<size_t>(c.held + c.added));
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    if (c.held > 0) {
      ASSERT_TRUE(buffer.Append(bytes.data(), c.held));
    }
    ASSERT_TRUE(buffer.Append(bytes.data() + c.held, c.added));
    EXPECT_EQ(buffer.Capacity(), c.capacity);
    EXPECT_EQ(buffer.Length(), c.held + c.added);
    std::vector<uint8_t> out(bytes.size());
    EXPECT_EQ(buffer.TakeOut(out.data(), static_cast<int>(out.size())), c.held + c.added);
    EXPECT_EQ(out, bytes) << "held bytes survive the growth in order";
  }
}

TEST(TelnetBuffer, TakeOutEmptiesAndDropsThePastMost) {
  CTelnetBuffer buffer(0);
  const uint8_t bytes[] = "0123456789";
  EXPECT_FALSE(buffer.Append(nullptr, 3));
  EXPECT_FALSE(buffer.Append(bytes, 0));
  EXPECT_FALSE(buffer.Append(bytes, -1));
  ASSERT_TRUE(buffer.Append(bytes, 10));
  uint8_t out[4] = {};
  EXPECT_EQ(buffer.TakeOut(out, 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "0123");
  EXPECT_EQ(buffer.Length(), 0);
  EXPECT_EQ(buffer.TakeOut(out, 4), 0);
  EXPECT_EQ(buffer.Capacity(), 16) << "the capacity stays";
}

TEST(TelnetBuffer, KeepsAtMostOneMebibyte) {
  CTelnetBuffer buffer(0);
  std::vector<uint8_t> chunk(1460);
  int sent = 0;
  for (int i = 0; sent < CTelnetBuffer::kMaxHeld + 100000; ++i) {
    std::fill(chunk.begin(), chunk.end(), static_cast<uint8_t>(i));
    ASSERT_TRUE(buffer.Append(chunk.data(), static_cast<int>(chunk.size())));
    sent += static_cast<int>(chunk.size());
  }
  EXPECT_EQ(buffer.Length(), CTelnetBuffer::kMaxHeld);
  EXPECT_LE(buffer.Capacity(), CTelnetBuffer::kMaxHeld);
  uint8_t out[2045];
  EXPECT_EQ(buffer.TakeOut(out, sizeof out), 2045);
  EXPECT_EQ(out[0], 0) << "the oldest bytes are the ones kept";
  EXPECT_EQ(out[1460], 1);
  ASSERT_TRUE(buffer.Append(chunk.data(), 5));
  EXPECT_EQ(buffer.Length(), 5) << "room again after a read";
}

TEST(TelnetLines, CutAtCrLf) {
  struct Case {
    const char* name;
    std::string text;
    Lines lines;
  };
  const Case cases[] = {
      {"prompt without line end", "login: ", {"login: "}},
      {"empty line kept", "abc\r\n\r\n#", {"abc", "", "#"}},
      {"final line end", "a\r\nb\r\n", {"a", "b"}},
      {"only a line end", "\r\n", {""}},
      {"lone CR and LF stay inside", "a\rb\nc", {"a\rb\nc"}},
      {"CR CR LF keeps a CR", "1.2.3.4\r\r\n# ", {"1.2.3.4\r", "# "}},
      {"zero byte ends the text", std::string("abc\0def\r\n", 9), {"abc"}},
      {"zero byte first", std::string("\0abc", 4), {}},
      {"trailing CR", "x\r", {"x\r"}},
      {"IAC bytes stay in the text", "\xFF\xFD\x01login: ", {"\xC3\xBF\xC3\xBD\x01login: "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Cut(c.text), c.lines);
  }
}

TEST(TelnetVersions, VersionTextRule) {
  struct Case {
    const char* text;
    bool version;
  };
  const Case cases[] = {
      {"11.1.20.6", true}, {"1.22.333.", true}, {"1.2.3.x", true},   {"0.0.0.0", true},   {"1.2.3.4\r", true},
      {"11..1.2", false},  {".1.2.3", false},   {"1.2", false},      {"1.2.3", false},    {"V1.2.3.4", false},
      {"", false},         {"1.2.3 .4", false}, {"1.2.3a.4", false}, {" 1.2.3.4", false}, {"...", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsVersionText(c.text), c.version) << c.text;
}

TEST(TelnetVersions, LastVersionLineAndValueAfterLabel) {
  std::string out = "unchanged";
  EXPECT_TRUE(TakeLastVersionLine(Lines{"nvram get app_version", "1.0.0.1", "2.1.10.6", "# "}, out));
  EXPECT_EQ(out, "2.1.10.6");
  out = "unchanged";
  EXPECT_FALSE(TakeLastVersionLine(Lines{"nvram get app_version", "1.2.3", "# "}, out));
  EXPECT_EQ(out, "unchanged");

  struct Case {
    const char* name;
    Lines lines;
    std::string label;
    bool found;
    std::string value;
  };
  const Case cases[] = {
      {"label at the start",
       {"x", "software version: 3.4.5.6", "success"},
       "software version: ",
       true,
       "3.4.5.6"},
      {"label one further in", {"Asoftware version: 3.4.5.6"}, "software version: ", true, " 3.4.5.6"},
      {"first line wins", {"Res version:1.1.1.1", "Res version:2.2.2.2"}, "Res version:", true, "1.1.1.1"},
      {"label is the whole line", {"Res version:"}, "Res version:", true, ""},
      // two characters (three bytes) in front: the value starts two characters early
      {"counted in characters", {"é Res version:9.9.9.9"}, "Res version:", true, "n:9.9.9.9"},
      {"absent", {"software version 3.4.5.6"}, "software version: ", false, "unchanged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    out = "unchanged";
    EXPECT_EQ(TakeValueAfterLabel(c.lines, c.label, out), c.found);
    EXPECT_EQ(out, c.value);
  }
  out = "x";
  ASSERT_TRUE(TakeValueAfterLabel(Lines{"Asoftware version: 3.4.5.6"}, "software version: ", out));
  EXPECT_FALSE(IsVersionText(out)) << "the quirk of a label further in";
}

class TelnetClientTest : public ::testing::Test {
 protected:
  ScaledClock m_Clock{5};
  ScopedClock m_Use{m_Clock};
};

TEST_F(TelnetClientTest, ConnectAnnouncesTheFourOptions) {
  ConsolePeer peer("", {{kOptions, ""}});
  CTelnetClient client;
  client.SetPort(peer.Port());
  ASSERT_TRUE(client.Connect("127.0.0.1"));
  ASSERT_TRUE(client.SendText("x", 1000));
  for (int i = 0; i < 200 && peer.Received().size() < kOptions.size() + 1; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(peer.Received(), kOptions + "x");
  client.Close();
}

TEST_F(TelnetClientTest, ReadLinesWaitsAtLeast500AndCutsWhatArrived) {
  ConsolePeer peer("Welcome\r\nlogin: ", {});
  CTelnetClient client;
  client.SetPort(peer.Port());
  ASSERT_TRUE(client.Connect("127.0.0.1"));
  const uint64_t start = TickMs();
  ASSERT_TRUE(client.ReadLines(100));
  EXPECT_GE(TickMs() - start, 500u);
  ASSERT_EQ(client.GetLineCount(), 2);
  EXPECT_EQ(client.GetLine(0), "Welcome");
  EXPECT_EQ(client.GetLine(1), "login: ");
  EXPECT_EQ(client.FindLine(":"), 1);
  EXPECT_FALSE(client.ReadLines(500)) << "nothing more arrived";
  EXPECT_EQ(client.GetLineCount(), 0);
  client.Close();
  EXPECT_EQ(client.GetLineCount(), 0);
  EXPECT_FALSE(client.IsConnected());
}

TEST_F(TelnetClientTest, FindLineLooksForTheShellPromptOnlyInTheLastLine) {
  struct Case {
    const char* name;
    std::string text;
    std::string expected;
    int index;
  };
  const Case cases[] = {
      {"# only earlier", "a#\r\nb\r\n", "#", -1},
      {"# in the last line", "a\r\nb# ", "#", 1},
      {"other texts anywhere, last first", "x:1\r\ny\r\nz:2\r\nw", ":", 2},
      {"case-sensitive", "Success\r\n", "success", -1},
      {"earlier line found", "success\r\nQVX>", "success", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConsolePeer peer(c.text, {});
    CTelnetClient client;
    client.SetPort(peer.Port());
    ASSERT_TRUE(client.Connect("127.0.0.1"));
    ASSERT_TRUE(client.ReadLines(500));
    EXPECT_EQ(client.FindLine(c.expected), c.index);
  }
}

TEST_F(TelnetClientTest, OneReadTakesAtMost2045Bytes) {
  ConsolePeer peer(std::string(3000, 'a'), {});
  CTelnetClient client;
  client.SetPort(peer.Port());
  ASSERT_TRUE(client.Connect("127.0.0.1"));
  ASSERT_TRUE(client.ReadLines(1000));
  ASSERT_EQ(client.GetLineCount(), 1);
  EXPECT_EQ(client.GetLine(0), std::string(2045, 'a'));
  EXPECT_FALSE(client.ReadLines(500)) << "the rest was dropped";
}

TEST_F(TelnetClientTest, ConnectFailsWithoutAListenerOrAValidAddress) {
  CTelnetClient client;
  client.SetPort(FreeLoopbackPort());
  EXPECT_FALSE(client.Connect("127.0.0.1"));
  EXPECT_FALSE(client.Connect("no.such.address"));
  client.Close();
  client.Close();
}

TEST_F(TelnetClientTest, CloseEndsTheReceiverAndTheClientConnectsAgain) {
  ConsolePeer peer("hello\r\n", {});
  CTelnetClient client;
  client.SetPort(peer.Port());
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(client.Connect("127.0.0.1"));
    ASSERT_TRUE(client.ReadLines(500));
    EXPECT_EQ(client.FindLine("hello"), 0);
    const auto start = std::chrono::steady_clock::now();
    client.Close();  // the receiver waits in a read without limit
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(client.IsConnected());
  }
  EXPECT_EQ(peer.Connections(), 3);
  // a second Connect without Close replaces the receiver instead of abandoning it
  ASSERT_TRUE(client.Connect("127.0.0.1"));
  ASSERT_TRUE(client.Connect("127.0.0.1"));
  ASSERT_TRUE(client.ReadLines(500));
  EXPECT_GE(client.FindLine("hello"), 0);
}

TEST_F(TelnetClientTest, CloseAfterThePeerHungUp) {
  // the peer takes the four options before it hangs up: a close with unread bytes would answer
  // them with a reset, and the client's write would then reconnect instead of seeing the end
  ConsolePeer peer("bye\r\n", {{kOptions, ""}}, true);
  CTelnetClient client;
  client.SetPort(peer.Port());
  ASSERT_TRUE(client.Connect("127.0.0.1"));
  ASSERT_TRUE(client.ReadLines(500));
  client.Close();
  EXPECT_FALSE(client.IsConnected());
}

TEST_F(TelnetClientTest, DestroyingAConnectedClientJoinsItsReceiver) {
  ConsolePeer peer("", {});
  for (int i = 0; i < 3; ++i) {
    auto client = std::make_unique<CTelnetClient>();
    client->SetPort(peer.Port());
    ASSERT_TRUE(client->Connect("127.0.0.1"));
    peer.Send("late bytes\r\n");
    client.reset();  // a receiver still running would touch freed memory (caught under ASan)
  }
}

namespace {

struct LoginCase {
  const char* name;
  bool shell;
  std::string greeting;
  std::vector<ConsoleStep> steps;
  bool result;
  Lines log;
};

}  // namespace

TEST_F(TelnetClientTest, LoginStepsAndTheirFailureLines) {
  const LoginCase cases[] = {
      {"shell",
       true,
       "\r\nrouter login: ",
       {{"admin\r\n", "admin\r\nPassword: "}, {"korvx\r\n", "\r\n# "}},
       true,
       {}},
      {"command interface",
       false,
       "Username:",
       {{"admin\r\n", "Password:"}, {"korvx\r\n", "\r\nQVX>"}},
       true,
       {}},
      {"silent console", true, "", {}, false, {"没有收到Telnet的登录提示信息"}},
      {"prompt without colon", true, "login> ", {}, false, {"Telnet的登录提示中没有':'"}},
      {"user name not taken", true, "login: ", {{"admin\r\n", "Sorry\r\n"}}, false, {"输入用户名admin失败"}},
      {"user name not answered", true, "login: ", {}, false, {"输入用户名admin失败"}},
      {"password refused",
       true,
       "login: ",
       {{"admin\r\n", "Password: "}, {"korvx\r\n", "Login incorrect\r\nlogin: "}},
       false,
       {"输入密码korvx失败"}},
      {"shell prompt not in the last line",
       true,
       "login: ",
       {{"admin\r\n", "Password: "}, {"korvx\r\n", "# \r\nwelcome\r\n"}},
       false,
       {"输入密码korvx失败"}},
      {"shell prompt where QVX was due",
       false,
       "login: ",
       {{"admin\r\n", "Password: "}, {"korvx\r\n", "\r\n# "}},
       false,
       {"输入密码korvx失败"}},
  };
  for (const LoginCase& c : cases) {
    SCOPED_TRACE(c.name);
    ConsolePeer peer(c.greeting, c.steps);
    CTelnetClient client;
    client.SetPort(peer.Port());
    CDownloadLog log{std::string()};
    EXPECT_EQ(c.shell ? LoginShell(client, "127.0.0.1", log) : LoginCli(client, "127.0.0.1", log), c.result);
    EXPECT_EQ(LogMessages(log.GetPending()), c.log);
    if (c.result) {
      EXPECT_TRUE(client.IsConnected()) << "the login leaves closing to its caller";
      EXPECT_EQ(peer.Received(), kOptions + "admin\r\nkorvx\r\n");
    }
    client.Close();
  }
  CTelnetClient client;
  client.SetPort(FreeLoopbackPort());
  CDownloadLog log{std::string()};
  EXPECT_FALSE(LoginShell(client, "127.0.0.1", log));
  EXPECT_EQ(LogMessages(log.GetPending()), Lines{"创建TCP连接失败"});
}

TEST_F(TelnetClientTest, VersionCommandsAfterLogin) {
  ConsolePeer shell("login: ", {{"admin\r\n", "Password: "},
                                {"korvx\r\n", "\r\n# "},
                                {"nvram get cfe_version\r\n", "nvram get cfe_version\r\n1.0.2.3\r\n# "},
                                {"nvram get app_version\r\n", "nvram get app_version\r\n2.1.10.6\r\n# "}});
  CTelnetClient client;
  client.SetPort(shell.Port());
  CDownloadLog log{std::string()};
  ASSERT_TRUE(LoginShell(client, "127.0.0.1", log));
  std::string cfe;
  std::string app;
  ASSERT_TRUE(client.Command("nvram get cfe_version\r\n", "#", 500));
  EXPECT_TRUE(TakeLastVersionLine(client, cfe));
  ASSERT_TRUE(client.Command("nvram get app_version\r\n", "#", 500));
  EXPECT_TRUE(TakeLastVersionLine(client, app));
  EXPECT_EQ(cfe, "1.0.2.3");
  EXPECT_EQ(app, "2.1.10.6");
  client.Close();

  ConsolePeer cli("login: ", {{"admin\r\n", "Password: "},
                              {"korvx\r\n", "\r\nQVX>"},
                              {"diag display version\r\n", "software version: 2.1.10.6\r\nsuccess\r\nQVX>"},
                              {"diag display resversion\r\n", "Res version:3.0.4.1\r\nsuccess\r\nQVX>"}});
  client.SetPort(cli.Port());
  ASSERT_TRUE(LoginCli(client, "127.0.0.1", log));
  std::string software;
  std::string res;
  ASSERT_TRUE(client.Command("diag display version\r\n", "success", 500));
  EXPECT_TRUE(TakeValueAfterLabel(client, "software version: ", software));
  ASSERT_TRUE(client.Command("diag display resversion\r\n", "success", 500));
  EXPECT_TRUE(TakeValueAfterLabel(client, "Res version:", res));
  EXPECT_EQ(software, "2.1.10.6");
  EXPECT_EQ(res, "3.0.4.1");
  EXPECT_FALSE(client.Command("diag display nothing\r\n", "success", 500)) << "no answer, no success";
  EXPECT_TRUE(log.GetPending().empty());
}
