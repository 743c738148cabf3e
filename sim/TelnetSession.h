#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "sim/RouterSim.h"

namespace qorsim {

// One login session on the router console, as a byte-in/bytes-out state machine (no sockets).
// Like a real Telnet server it opens with its own option negotiation (IAC WILL ECHO, IAC WILL
// SUPPRESS-GO-AHEAD), strips the client's IAC sequences from the input, echoes what is typed
// (not the password) and ends its lines with CR LF. Dialogue:
//   "login: " -> user name -> "Password: " -> password -> "# " (shell) or "<QVX>" (command interface)
// User "admin", password "korvx". Shell commands: "nvram get cfe_version", "nvram get app_version"
// (value line, then the prompt). Command interface: "diag display version" -> "software version: V",
// "success"; "diag display resversion" -> "Res version:V", "success"; each then the prompt.
class TelnetSession {
 public:
  static constexpr size_t kMaxLine = 256;  // longer input lines are cut

  struct Versions {
    std::function<std::string()> cfe, app, software, res;
  };

  TelnetSession(SimConfig::Console console, Versions versions, std::function<Faults()> faults,
                std::function<void(const std::string&, const std::string&)> record);

  // Bytes to send right after the connection was accepted.
  std::string Greeting();
  // Feeds received bytes; returns what to send back. *close is set when the session ends.
  std::string Receive(const uint8_t* data, size_t n, bool* close);

 private:
  enum class State { User, Password, Shell, Dead };

  std::string OnLine(const std::string& line, bool* close);
  std::string Prompt() const;
  std::string LoginPrompt() const;
  std::string Command(const std::string& line, bool* close);

  SimConfig::Console m_Console;
  Versions m_Versions;
  std::function<Faults()> m_Faults;
  std::function<void(const std::string&, const std::string&)> m_Record;
  State m_State = State::User;
  std::string m_Line;
  std::string m_User;
  // IAC parser: 0 data, 1 after IAC, 2 after IAC + WILL/WONT/DO/DONT, 3 in a subnegotiation,
  // 4 after IAC in a subnegotiation
  int m_Iac = 0;
  bool m_LastCr = false;
};

}  // namespace qorsim
