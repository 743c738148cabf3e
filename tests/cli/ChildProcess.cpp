#include "ChildProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

ChildProcess::~ChildProcess() {
  Kill();
  CloseStdin();
  if (m_Reader.joinable()) m_Reader.join();
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, const std::string& stdinText,
                         bool keepStdinOpen) {
  // a child started before is reaped first: one object may run the program several times in a row
  Kill();
  CloseStdin();
  m_Program = program;
  m_Args = args;
  m_ExitedNormally = false;
  if (m_Reader.joinable()) m_Reader.join();
  {
    std::lock_guard lock(m_Mutex);
    m_Out.clear();
    m_Err.clear();
  }
  m_Pid = -1;
  m_Reaped = false;
  m_ExitCode = -1;
  m_PeakResidentKiB = -1;
  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::map<std::string, std::string> merged;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    size_t eq = entry.find('=');
    if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [key, value] : env) merged[key] = value;
  std::vector<std::string> envStore;
  for (const auto& [key, value] : merged) envStore.push_back(key + "=" + value);
  std::vector<char*> argv, envp;
  for (std::string& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0) return false;
  if (m_TerminalStdout) {
    // the master end is read like the pipe; the child writes to the slave end
    out[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (out[0] < 0 || grantpt(out[0]) != 0 || unlockpt(out[0]) != 0) return false;
    const char* name = ptsname(out[0]);
    out[1] = name ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (out[1] < 0) return false;
  } else if (pipe2(out, O_CLOEXEC) != 0) {
    return false;
  }
  if (pipe2(err, O_CLOEXEC) != 0) return false;
  const char* workingDirectory = m_WorkingDirectory.empty() ? nullptr : m_WorkingDirectory.c_str();
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    if (workingDirectory != nullptr && chdir(workingDirectory) != 0) _exit(126);
    if (m_NoStdin)
      close(0);
    else
      dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  m_Pid = pid;
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // the text is small; a pipe holds 64 KiB
  if (!stdinText.empty()) (void)!write(in[1], stdinText.data(), stdinText.size());
  m_StdinFd = in[1];
  if (!keepStdinOpen) CloseStdin();
  m_Reader = std::thread([this, o = out[0], e = err[0]] { ReadLoop(o, e); });
  return true;
}

bool ChildProcess::WriteStdin(const std::string& text) {
  if (m_StdinFd < 0) return false;
  // a child that already ended must fail the write, not end the test process
  signal(SIGPIPE, SIG_IGN);
  return write(m_StdinFd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void ChildProcess::CloseStdin() {
  if (m_StdinFd >= 0) close(m_StdinFd);
  m_StdinFd = -1;
}

void ChildProcess::ReadLoop(int outFd, int errFd) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  int open = 2;
  char buffer[4096];
  while (open > 0) {
    if (poll(fds, 2, 1000) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      std::lock_guard lock(m_Mutex);
      (i == 0 ? m_Out : m_Err).append(buffer, static_cast<size_t>(n));
    }
  }
}

bool ChildProcess::Wait(int timeoutMs, int* exitCode) {
  if (m_Pid < 0) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!m_Reaped) {
    int status = 0;
    rusage usage{};
    pid_t r = wait4(m_Pid, &status, WNOHANG, &usage);
    if (r == m_Pid) {
      m_Reaped = true;
      m_PeakResidentKiB = usage.ru_maxrss;
      m_ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      m_ExitedNormally = WIFEXITED(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    usleep(10000);
  }
  CloseStdin();
  if (m_Reader.joinable()) m_Reader.join();
  KeepJsonOutput();
  if (exitCode) *exitCode = m_ExitCode;
  return true;
}

void ChildProcess::KeepJsonOutput() const {
#ifdef QOR_CLI_JSON_DIR
  // a run ended by a signal may have been cut in the middle of a line
  if (!m_ExitedNormally) return;
  const size_t slash = m_Program.rfind('/');
  if (m_Program.substr(slash == std::string::npos ? 0 : slash + 1) != "qor-oneclick-cli") return;
  bool json = false;
  bool events = false;
  for (const std::string& arg : m_Args) {
    json = json || arg == "--json";
    events = events || arg == "--events";
  }
  if (!json && !events) return;
  static std::atomic<int> counter{0};
  ::mkdir(QOR_CLI_JSON_DIR, 0700);
  const std::string path = std::string(QOR_CLI_JSON_DIR) + "/" + std::to_string(getpid()) + "-" +
                           std::to_string(counter++) + (events ? ".jsonl" : ".json");
  if (FILE* file = std::fopen(path.c_str(), "w")) {
    const std::string out = Stdout();
    std::fwrite(out.data(), 1, out.size(), file);
    std::fclose(file);
  }
#endif
}

void ChildProcess::Kill() {
  if (m_Pid < 0 || m_Reaped) return;
  kill(m_Pid, SIGKILL);
  int status = 0;
  waitpid(m_Pid, &status, 0);
  m_Reaped = true;
  m_ExitCode = 128 + SIGKILL;
  CloseStdin();
}

bool ChildProcess::Signal(int signo) { return m_Pid > 0 && !m_Reaped && kill(m_Pid, signo) == 0; }

std::string ChildProcess::Stdout() const {
  std::lock_guard lock(m_Mutex);
  return m_Out;
}

std::string ChildProcess::Stderr() const {
  std::lock_guard lock(m_Mutex);
  return m_Err;
}

bool ChildProcess::WaitForOutput(const std::string& text, int timeoutMs) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    {
      std::lock_guard lock(m_Mutex);
      if (m_Out.find(text) != std::string::npos || m_Err.find(text) != std::string::npos) return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    usleep(10000);
  }
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
