#pragma once

#include <sys/types.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/FreePort.h"
#include "support/TempDir.h"

// Runs a program as a child process with its stdout and stderr captured (and stdin fed from a
// text), for the end-to-end tests of the real binaries. Everything the child needs is prepared
// before fork(), and the child calls only dup2, close, execve and _exit, so it is safe to start
// from a test process whose other threads (an emulator) are running.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills and reaps a child that is still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // A child started before by this object is reaped first and its output dropped.
  // env entries are added to (or replace those of) the test's environment. stdinText is written
  // to the child's stdin, which is then closed (EOF) unless keepStdinOpen asks to leave it open
  // until the child ends.
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const std::map<std::string, std::string>& env = {}, const std::string& stdinText = "",
             bool keepStdinOpen = false);
  // Before Start: give the child a pseudo-terminal as stdout (what a user's terminal looks like to
  // it); stderr stays a pipe.
  void UseTerminalForStdout(bool use) { m_TerminalStdout = use; }
  // Before Start: the child runs with no stdin at all (descriptor 0 closed).
  void CloseChildStdin(bool close) { m_NoStdin = close; }
  // Before Start: the child's working directory ("" = the test's own).
  void SetWorkingDirectory(const std::string& dir) { m_WorkingDirectory = dir; }
  // After a Start with keepStdinOpen: writes text to the child's stdin (a typed answer).
  bool WriteStdin(const std::string& text);
  // After the child ended: the most memory it held at once (its peak resident set), in KiB.
  long PeakResidentKiB() const { return m_PeakResidentKiB; }
  // Waits up to timeoutMs real milliseconds. True when the child ended; exitCode is its status, or
  // 128 + signal when a signal ended it.
  bool Wait(int timeoutMs, int* exitCode);
  // Kills (SIGKILL) and reaps; used when a test gives up.
  void Kill();
  bool Signal(int signo);
  pid_t Pid() const { return m_Pid; }

  std::string Stdout() const;
  std::string Stderr() const;
  // Waits until stdout or stderr contains text (real milliseconds); true when it appeared.
  bool WaitForOutput(const std::string& text, int timeoutMs) const;

 private:
  void ReadLoop(int outFd, int errFd);
  // A JSON-producing run of the CLI (--json or --events) keeps its stdout for the schema check
  // (tests/cli/ValidateJsonOutputs.py), in the folder the build names (QOR_CLI_JSON_DIR).
  void KeepJsonOutput() const;

  void CloseStdin();

  pid_t m_Pid = -1;
  std::string m_Program;
  std::vector<std::string> m_Args;
  bool m_ExitedNormally = false;
  int m_StdinFd = -1;
  bool m_TerminalStdout = false;
  bool m_NoStdin = false;
  bool m_Reaped = false;
  int m_ExitCode = -1;
  std::string m_WorkingDirectory;
  long m_PeakResidentKiB = -1;
  std::thread m_Reader;
  mutable std::mutex m_Mutex;
  std::string m_Out;
  std::string m_Err;
};

// Free ports and private folders: tests/support.
std::string ReadTextFile(const std::string& path);
