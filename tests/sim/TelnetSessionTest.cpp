#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/TelnetSession.h"

using namespace qorsim;

namespace {

// the client's option negotiation: IAC WILL ECHO, IAC WONT 33, IAC DO ECHO, IAC DO SUPPRESS-GO-AHEAD
const std::string kClientOptions = "\xFF\xFB\x01\xFF\xFC\x21\xFF\xFD\x01\xFF\xFD\x03";

class Console {
 public:
  explicit Console(SimConfig::Console flavour, Faults faults = {})
      : m_Faults(faults),
        m_Session(
            flavour,
            {[] { return std::string("1.0.2.3"); }, [] { return std::string("2.1.10.6"); },
             [] { return std::string("7.7.7.7"); }, [] { return std::string("3.0.4.1"); }},
            [this] { return m_Faults; },
            [this](const std::string& kind, const std::string& detail) {
              m_Events.push_back(kind + ": " + detail);
            }) {}

  std::string Greeting() { return m_Session.Greeting(); }
  std::string Type(const std::string& text) {
    bool close = false;
    std::string out = m_Session.Receive(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &close);
    m_Closed = m_Closed || close;
    return out;
  }
  // logs in as the tool does and returns what the password produced
  std::string Login() {
    Greeting();
    Type(kClientOptions);
    Type("admin\r\n");
    return Type("korvx\r\n");
  }
  bool Closed() const { return m_Closed; }
  const std::vector<std::string>& Events() const { return m_Events; }

 private:
  Faults m_Faults;
  std::vector<std::string> m_Events;
  TelnetSession m_Session;
  bool m_Closed = false;
};

TEST(TelnetConsole, GreetsWithItsOwnOptionsThenALoginPromptWithoutLineEnd) {
  Console c(SimConfig::Console::Shell);
  const std::string g = c.Greeting();
  ASSERT_GE(g.size(), 6u);
  EXPECT_EQ(g.substr(0, 6), "\xFF\xFB\x01\xFF\xFB\x03");
  EXPECT_EQ(g.substr(g.size() - 7), "login: ");
  EXPECT_EQ(g.find('\0'), std::string::npos) << "a zero byte would end the tool's text";
}

TEST(TelnetConsole, LoginDialogueForBothFlavours) {
  struct Case {
    SimConfig::Console flavour;
    const char* prompt;
  } cases[] = {{SimConfig::Console::Shell, "# "}, {SimConfig::Console::Cli, "<QVX>"}};
  for (const auto& k : cases) {
    Console c(k.flavour);
    c.Greeting();
    EXPECT_EQ(c.Type(kClientOptions), "") << "client options are swallowed, not echoed";
    EXPECT_EQ(c.Type("admin\r\n"), "admin\r\nPassword: ");
    EXPECT_EQ(c.Type("korvx\r\n"), std::string("\r\n") + k.prompt) << "the password is not echoed";
  }
}

TEST(TelnetConsole, InputSplitAcrossReadsAndBareLineEnds) {
  Console c(SimConfig::Console::Shell);
  c.Greeting();
  std::string out;
  for (char ch : std::string("adm")) out += c.Type(std::string(1, ch));
  out += c.Type("in\r");
  out += c.Type("\n");  // the LF of a split CR LF does not make an empty line
  EXPECT_EQ(out, "admin\r\nPassword: ");
  EXPECT_EQ(c.Type("korvx\n"), "\r\n# ") << "LF alone ends a line too";
  EXPECT_EQ(c.Type("\xFF\xFA\x18\x01\xFF\xF0\r\n"), "\r\n# ")
      << "subnegotiation skipped, empty line re-prompts";
}

TEST(TelnetConsole, VersionCommands) {
  struct Case {
    SimConfig::Console flavour;
    const char* command;
    const char* reply;
  } cases[] = {
      {SimConfig::Console::Shell, "nvram get cfe_version\r\n", "nvram get cfe_version\r\n1.0.2.3\r\n# "},
      {SimConfig::Console::Shell, "nvram get app_version\r\n", "nvram get app_version\r\n2.1.10.6\r\n# "},
      {SimConfig::Console::Shell, "nvram get other\r\n", "nvram get other\r\n\r\n# "},
      {SimConfig::Console::Shell, "reboot\r\n", "reboot\r\nsh: reboot: not found\r\n# "},
      {SimConfig::Console::Cli, "diag display version\r\n",
       "diag display version\r\nsoftware version: 7.7.7.7\r\nsuccess\r\n<QVX>"},
      {SimConfig::Console::Cli, "diag display resversion\r\n",
       "diag display resversion\r\nRes version:3.0.4.1\r\nsuccess\r\n<QVX>"},
      {SimConfig::Console::Cli, "nvram get cfe_version\r\n",
       "nvram get cfe_version\r\nerror: unknown command\r\n<QVX>"},
  };
  for (const auto& k : cases) {
    Console c(k.flavour);
    c.Login();
    EXPECT_EQ(c.Type(k.command), k.reply);
  }
}

TEST(TelnetConsole, WrongCredentialsAreRefusedAndLoginStartsAgain) {
  struct Case {
    const char* user;
    const char* password;
  } cases[] = {{"admin", "korvy"}, {"root", "korvx"}, {"admin", "KORVX"}};
  for (const auto& k : cases) {
    Console c(SimConfig::Console::Shell);
    c.Greeting();
    c.Type(std::string(k.user) + "\r\n");
    EXPECT_EQ(c.Type(std::string(k.password) + "\r\n"), "\r\nLogin incorrect\r\nlogin: ")
        << k.user << "/" << k.password;
    EXPECT_EQ(c.Type("nvram get cfe_version\r\n"), "nvram get cfe_version\r\nPassword: ")
        << "taken as a user name";
  }
}

TEST(TelnetConsole, Faults) {
  auto with = [](const char* spec) {
    Faults f;
    std::string error;
    EXPECT_TRUE(ParseFault(spec, f, &error)) << error;
    return f;
  };
  {
    Console c(SimConfig::Console::Shell, with("telnet-no-colon"));
    EXPECT_EQ(c.Greeting().find(':'), std::string::npos);
  }
  {
    Console c(SimConfig::Console::Shell, with("telnet-bad-user"));
    c.Greeting();
    const std::string out = c.Type("admin\r\n");
    EXPECT_EQ(out.find("Password"), std::string::npos);
    EXPECT_EQ(out.substr(out.find("\r\n") + 2).find(':'), std::string::npos) << out;
  }
  {
    Console c(SimConfig::Console::Cli, with("telnet-bad-password"));
    EXPECT_EQ(c.Login().find("QVX"), std::string::npos);
  }
  struct Case {
    const char* fault;
    SimConfig::Console flavour;
    const char* command;
    const char* reply;
  } cases[] = {
      {"cfe-fail", SimConfig::Console::Shell, "nvram get cfe_version\r\n",
       "nvram get cfe_version\r\n1.0.2.3\r\n"},
      {"app-fail", SimConfig::Console::Shell, "nvram get app_version\r\n",
       "nvram get app_version\r\n2.1.10.6\r\n"},
      {"version-fail", SimConfig::Console::Cli, "diag display version\r\n",
       "diag display version\r\nerror: command failed\r\n<QVX>"},
      {"resversion-fail", SimConfig::Console::Cli, "diag display resversion\r\n",
       "diag display resversion\r\nerror: command failed\r\n<QVX>"},
  };
  for (const auto& k : cases) {
    Console c(k.flavour, with(k.fault));
    c.Login();
    EXPECT_EQ(c.Type(k.command), k.reply) << k.fault;
  }
}

TEST(TelnetConsole, OverlongLinesAreCutAndExitCloses) {
  Console c(SimConfig::Console::Shell);
  c.Login();
  std::string junk(10000, 'x');
  const std::string out = c.Type(junk + "\r\n");
  EXPECT_NE(out.find("sh: " + std::string(TelnetSession::kMaxLine, 'x') + ": not found"), std::string::npos);
  EXPECT_EQ(out.find(std::string(TelnetSession::kMaxLine + 1, 'x') + ":"), std::string::npos);
  EXPECT_FALSE(c.Closed());
  c.Type("exit\r\n");
  EXPECT_TRUE(c.Closed());
}

}  // namespace
