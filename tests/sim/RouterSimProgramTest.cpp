#ifdef QOR_ROUTER_SIM_PATH

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "SimPeers.h"
#include "SimTestUtil.h"

extern char** environ;

namespace {

// qor-router-sim started with arguments; stdout and stderr gathered through pipes.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    args.insert(args.begin(), QOR_ROUTER_SIM_PATH);
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    posix_spawn_file_actions_addclose(&fa, err[0]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&m_Pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) m_Pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(err[1]);
    m_Out = out[0];
    m_Err = err[0];
  }
  ~SimProcess() {
    if (m_Pid > 0 && !m_Exited) {
      kill(m_Pid, SIGKILL);
      waitpid(m_Pid, nullptr, 0);
    }
    if (m_Out >= 0) close(m_Out);
    if (m_Err >= 0) close(m_Err);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool Started() const { return m_Pid > 0; }
  // reads stdout until it matches pattern or realMs passed
  bool WaitOutput(const std::regex& pattern, int realMs, std::smatch* match) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
    for (;;) {
      if (std::regex_search(m_StdOut, *match, pattern)) return true;
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{m_Out, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[1024];
      ssize_t n = read(m_Out, buf, sizeof buf);
      if (n <= 0) return std::regex_search(m_StdOut, *match, pattern);
      m_StdOut.append(buf, static_cast<size_t>(n));
    }
  }
  // exit status (or -1 when it did not end within realMs); stderr is gathered meanwhile
  int Wait(int realMs) {
    for (int waited = 0; waited <= realMs; waited += 20) {
      int status = 0;
      if (waitpid(m_Pid, &status, WNOHANG) == m_Pid) {
        m_Exited = true;
        char buf[4096];
        ssize_t n;
        while ((n = read(m_Err, buf, sizeof buf)) > 0) m_StdErr.append(buf, static_cast<size_t>(n));
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  void Signal(int sig) { kill(m_Pid, sig); }
  const std::string& StdErr() const { return m_StdErr; }

 private:
  pid_t m_Pid = -1;
  int m_Out = -1;
  int m_Err = -1;
  bool m_Exited = false;
  std::string m_StdOut;
  std::string m_StdErr;
};

const std::regex kBanner(R"(UDP (\d+), link (\d+), telnet (\d+))");

TEST(RouterSimProgram, ServesUntilSignalledAndPrintsItsEvents) {
  for (int sig : {SIGTERM, SIGINT}) {
    SimProcess sim({"--udp-port", "0", "--link-port", "0", "--telnet-port", "0", "--router-text", "9.8.7.6"});
    ASSERT_TRUE(sim.Started());
    std::smatch m;
    ASSERT_TRUE(sim.WaitOutput(kBanner, 10000, &m));
    const auto udp = static_cast<uint16_t>(std::stoi(m[1]));
    simtest::UdpPeer peer;
    peer.Send("127.0.0.1", udp, simtest::Padded({1}, 31));
    auto answer = peer.Receive(5000);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(std::string(answer->begin() + 11, answer->begin() + 18), "9.8.7.6");
    ASSERT_TRUE(sim.WaitOutput(std::regex("udp\\.discover"), 10000, &m)) << "the event is printed";
    sim.Signal(sig);
    EXPECT_EQ(sim.Wait(10000), 0) << sig;
  }
}

TEST(RouterSimProgram, ExitsWithAClearMessageOnABadStart) {
  SimProcess first({"--udp-port", "0", "--link-port", "0", "--telnet-port", "0", "--quiet"});
  std::smatch m;
  ASSERT_TRUE(first.WaitOutput(kBanner, 10000, &m));
  const std::string udp = m[1], link = m[2];

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      {{"--udp-port", udp, "--link-port", "0", "--telnet-port", "0"}, 1, "cannot bind UDP 127.0.0.1:" + udp},
      {{"--udp-port", "0", "--link-port", link, "--telnet-port", "0"},
       1,
       "cannot bind TCP 127.0.0.1:" + link},
      {{"--address", "127.0.0.300"}, 1, "bad IPv4 address"},
      {{"--udp-port", "70000"}, 2, "bad port"},
      {{"--fault", "no-such-fault"}, 2, "unknown fault"},
      {{"--mac", "00-11-22"}, 2, "bad MAC"},
      {{"--console", "gui"}, 2, "shell or cli"},
      {{"--frobnicate"}, 2, "unknown option --frobnicate"},
      {{"--restart-ms"}, 2, "needs a value"},
  };
  for (const auto& c : cases) {
    SimProcess sim(c.args);
    EXPECT_EQ(sim.Wait(10000), c.status) << c.message;
    EXPECT_NE(sim.StdErr().find(c.message), std::string::npos) << sim.StdErr();
  }
}

}  // namespace

#endif
