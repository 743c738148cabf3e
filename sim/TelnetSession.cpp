#include "sim/TelnetSession.h"

namespace qorsim {
namespace {

constexpr uint8_t kIac = 255;
constexpr uint8_t kSb = 250;
constexpr uint8_t kSe = 240;
constexpr uint8_t kWill = 251;
constexpr uint8_t kDont = 254;
constexpr uint8_t kOptEcho = 1;
constexpr uint8_t kOptSuppressGoAhead = 3;

const char kUser[] = "admin";
const char kPassword[] = "korvx";

}  // namespace

TelnetSession::TelnetSession(SimConfig::Console console, Versions versions, std::function<Faults()> faults,
                             std::function<void(const std::string&, const std::string&)> record)
    : m_Console(console),
      m_Versions(std::move(versions)),
      m_Faults(std::move(faults)),
      m_Record(std::move(record)) {}

std::string TelnetSession::LoginPrompt() const { return m_Faults().telnetNoColon ? "login " : "login: "; }

std::string TelnetSession::Prompt() const { return m_Console == SimConfig::Console::Shell ? "# " : "<QVX>"; }

std::string TelnetSession::Greeting() {
  std::string g;
  for (uint8_t opt : {kOptEcho, kOptSuppressGoAhead}) {
    g.push_back(static_cast<char>(kIac));
    g.push_back(static_cast<char>(kWill));
    g.push_back(static_cast<char>(opt));
  }
  return g + "\r\n" + LoginPrompt();
}

std::string TelnetSession::Receive(const uint8_t* data, size_t n, bool* close) {
  *close = false;
  std::string out;
  for (size_t i = 0; i < n && !*close; ++i) {
    const uint8_t b = data[i];
    // the client's own option negotiation is read and not answered
    switch (m_Iac) {
      case 1:
        if (b == kIac) {  // IAC IAC: a data byte 255, not valid in a command line
          m_Iac = 0;
          continue;
        }
        m_Iac = (b >= kWill && b <= kDont) ? 2 : (b == kSb ? 3 : 0);
        continue;
      case 2:
        m_Iac = 0;
        continue;
      case 3:
        m_Iac = b == kIac ? 4 : 3;
        continue;
      case 4:
        m_Iac = b == kSe ? 0 : 3;
        continue;
      default:
        if (b == kIac) {
          m_Iac = 1;
          continue;
        }
    }
    m_Iac = 0;
    if (b == '\n' && m_LastCr) {
      m_LastCr = false;
      continue;
    }
    m_LastCr = b == '\r';
    if (b == '\r' || b == '\n') {
      if (m_State != State::Password) out += "\r\n";
      std::string line;
      line.swap(m_Line);
      out += OnLine(line, close);
      continue;
    }
    if (b == 0) continue;  // CR NUL
    if (m_Line.size() < kMaxLine) m_Line.push_back(static_cast<char>(b));
    if (m_State != State::Password) out.push_back(static_cast<char>(b));
  }
  return out;
}

std::string TelnetSession::OnLine(const std::string& line, bool* close) {
  const Faults f = m_Faults();
  switch (m_State) {
    case State::User:
      m_User = line;
      if (f.telnetBadUser) {
        m_Record("telnet.login", "user '" + line + "' not accepted (fault)");
        return "Login incorrect\r\n";
      }
      m_State = State::Password;
      return "Password: ";
    case State::Password: {
      const bool ok = m_User == kUser && line == kPassword && !f.telnetBadPassword;
      m_Record("telnet.login", ok ? "user " + m_User + " logged in" : "login of '" + m_User + "' refused");
      if (!ok) {
        m_State = State::User;
        return "\r\nLogin incorrect\r\n" + LoginPrompt();
      }
      m_State = State::Shell;
      return "\r\n" + Prompt();
    }
    case State::Shell:
      return Command(line, close);
    case State::Dead:
      break;
  }
  return {};
}

std::string TelnetSession::Command(const std::string& raw, bool* close) {
  const Faults f = m_Faults();
  std::string line = raw;
  while (!line.empty() && line.back() == ' ') line.pop_back();
  while (!line.empty() && line.front() == ' ') line.erase(line.begin());
  if (line.empty()) return Prompt();
  m_Record("telnet.command", line);
  if (line == "exit" || line == "quit" || line == "logout") {
    m_State = State::Dead;
    *close = true;
    return {};
  }
  if (m_Console == SimConfig::Console::Shell) {
    if (line == "nvram get cfe_version") {
      return m_Versions.cfe() + "\r\n" + (f.cfeFail ? std::string() : Prompt());
    }
    if (line == "nvram get app_version") {
      return m_Versions.app() + "\r\n" + (f.appFail ? std::string() : Prompt());
    }
    if (line.rfind("nvram get ", 0) == 0) return "\r\n" + Prompt();
    return "sh: " + line.substr(0, line.find(' ')) + ": not found\r\n" + Prompt();
  }
  if (line == "diag display version") {
    if (f.versionFail) return "error: command failed\r\n" + Prompt();
    return "software version: " + m_Versions.software() + "\r\nsuccess\r\n" + Prompt();
  }
  if (line == "diag display resversion") {
    if (f.resversionFail) return "error: command failed\r\n" + Prompt();
    return "Res version:" + m_Versions.res() + "\r\nsuccess\r\n" + Prompt();
  }
  return "error: unknown command\r\n" + Prompt();
}

}  // namespace qorsim
