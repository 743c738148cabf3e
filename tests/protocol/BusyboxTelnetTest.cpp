// Interoperability with a Telnet server written elsewhere: BusyBox's telnetd on a loopback port,
// running a small console script that behaves like the router's (prompts without line ends, the
// "#" prompt, the two nvram commands). The server negotiates options of its own and echoes input
// through a terminal, so the client sees IAC sequences, echoed commands and, where the console
// itself writes CR LF, CR CR LF line ends.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "log/CDownloadLog.h"
#include "protocol/CTelnetClient.h"
#include "support/FreePort.h"
#include "support/TempDir.h"

extern char** environ;

namespace {

const char* const kBusyboxPaths[] = {"/bin/busybox", "/usr/bin/busybox", "/sbin/busybox"};

const char* const kConsoleScript = R"(#!/bin/sh
# the router's console, as far as the upgrade tool relies on it
printf 'router login: '
read user
user=$(printf '%s' "$user" | tr -d '\r')
printf 'Password: '
read pass
pass=$(printf '%s' "$pass" | tr -d '\r')
if [ "$user" != admin ] || [ "$pass" != korvx ]; then
  echo 'Login incorrect'
  exit 1
fi
echo
while :; do
  printf '# '
  read cmd || exit 0
  cmd=$(printf '%s' "$cmd" | tr -d '\r')
  case "$cmd" in
    'nvram get cfe_version') printf '1.0.2.3\r\n' ;;
    'nvram get app_version') echo 2.1.10.6 ;;
    '') ;;
    *) echo "sh: $cmd: not found" ;;
  esac
done
)";

std::string FindBusybox() {
  for (const char* path : kBusyboxPaths) {
    if (::access(path, X_OK) == 0) return path;
  }
  return "";
}

bool HasTelnetd(const std::string& busybox) {
  // the plain Debian busybox is built without the telnetd applet
  return std::system((busybox + " --list 2>/dev/null | grep -qx telnetd").c_str()) == 0;
}

bool Accepting(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

// busybox telnetd in the foreground on 127.0.0.1; stopped (by its own pid) and reaped on destruction
class Telnetd {
 public:
  Telnetd(const std::string& busybox, const std::string& script) {
    for (int attempt = 0; attempt < 5 && m_Pid <= 0; ++attempt) {
      m_Port = FreeLoopbackPort();
      const std::string port = std::to_string(m_Port);
      const char* argv[] = {busybox.c_str(), "telnetd", "-F",        "-p", port.c_str(),   "-b",
                            "127.0.0.1",     "-f",      "/dev/null", "-l", script.c_str(), nullptr};
      pid_t pid = -1;
      if (::posix_spawn(&pid, busybox.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return;
      // bounded wait for the listener
      for (int i = 0; i < 100 && !Accepting(m_Port); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
          pid = -1;  // it exited (port taken?): try another port
          break;
        }
      }
      if (pid > 0 && Accepting(m_Port)) {
        m_Pid = pid;
      } else if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
      }
    }
  }
  ~Telnetd() {
    if (m_Pid > 0) {
      ::kill(m_Pid, SIGTERM);
      ::waitpid(m_Pid, nullptr, 0);
    }
  }
  bool Running() const { return m_Pid > 0; }
  uint16_t Port() const { return m_Port; }

 private:
  pid_t m_Pid = -1;
  uint16_t m_Port = 0;
};

std::string Dump(const CTelnetClient& client) {
  std::string s;
  for (const std::string& line : client.Lines()) s += "[" + line + "]\n";
  return s;
}

}  // namespace

TEST(BusyboxTelnetd, ShellLoginAndBothVersionCommands) {
  const std::string busybox = FindBusybox();
  if (busybox.empty() || !HasTelnetd(busybox)) {
    GTEST_SKIP() << "busybox telnetd is not available (install Debian's busybox-static package)";
  }
  TempDir dir;
  ASSERT_FALSE(dir.Path().empty());
  const std::string script = dir.File("console.sh");
  {
    std::ofstream out(script);
    out << kConsoleScript;
  }
  ASSERT_EQ(::chmod(script.c_str(), 0755), 0);

  {
    Telnetd server(busybox, script);
    ASSERT_TRUE(server.Running()) << "busybox telnetd did not start";

    // real time: the console is a separate process behind a terminal
    CTelnetClient client;
    client.SetPort(server.Port());
    CDownloadLog log{std::string()};
    ASSERT_TRUE(LoginShell(client, "127.0.0.1", log)) << log.GetPending() << Dump(client);

    std::string cfe;
    ASSERT_TRUE(client.Command("nvram get cfe_version\r\n", "#", 500)) << Dump(client);
    ASSERT_TRUE(TakeLastVersionLine(client, cfe)) << Dump(client);
    std::string app;
    ASSERT_TRUE(client.Command("nvram get app_version\r\n", "#", 500)) << Dump(client);
    ASSERT_TRUE(TakeLastVersionLine(client, app)) << Dump(client);
    // the terminal turns the script's CR LF into CR CR LF: the line keeps one CR, which the
    // version rule (three dotted numbers at the start) does not mind
    EXPECT_EQ(cfe, "1.0.2.3\r") << Dump(client);
    EXPECT_TRUE(IsVersionText(cfe));
    EXPECT_EQ(app, "2.1.10.6") << Dump(client);
    EXPECT_TRUE(log.GetPending().empty());
    client.Close();

    // the same client object is closed cleanly; a new connection gets a fresh console
    CTelnetClient second;
    second.SetPort(server.Port());
    EXPECT_TRUE(second.Connect("127.0.0.1"));
    EXPECT_TRUE(second.ReadLines(500));
    EXPECT_GE(second.FindLine(":"), 0) << Dump(second);
    second.Close();
  }
}
