#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "cli/CliOptions.h"
#include "demo/DemoSetup.h"
#include "platform/Clock.h"

// The emulator in this process on the scaled clock, and the CLI run as a separate process on a
// clock of the same scale, pointed at it with every endpoint option.
class CliRun {
 public:
  // The console is read after fixed 500 ms waits: at five times real speed the emulator's thread
  // has 100 ms to answer, enough on a loaded machine under the sanitizers (at 20 it was not).
  static constexpr int kFastSpeed = 5;

  // speed 1 runs both at real time.
  explicit CliRun(DemoConfig config = DemoConfig{}, int speed = kFastSpeed);
  ~CliRun();

  bool Ready() const { return m_Ready; }
  DemoSetup& Stage() { return *m_Stage; }
  qorsim::RouterSim& Sim() { return *m_Stage->Sim(); }
  const std::string& LogPath() const { return m_LogPath; }
  const std::string& TempDir() const { return m_Temp; }

  // The options that aim the CLI at the emulator, the images and the log.
  std::vector<std::string> TargetArgs(bool withImages = true) const;
  // The CLI's environment: its own state folder and the clock (kTestClockScaleVariable).
  std::map<std::string, std::string> Env() const;
  // Starts the CLI with the command and extra arguments (after TargetArgs).
  bool Start(const std::vector<std::string>& args, const std::string& stdinText = "",
             const std::map<std::string, std::string>& env = {});
  // Waits for the end (real ms); the exit status, or -1 when it did not end in time (then killed).
  int Finish(int timeoutMs = 240000);

  ChildProcess& Child() { return m_Child; }
  std::string Out() const { return m_Child.Stdout(); }
  std::string Err() const { return m_Child.Stderr(); }
  // What to print when an assertion fails: the CLI's output and the emulator's events.
  std::string Diagnostics();

 private:
  int m_Speed;
  ScaledClock m_Clock;
  ScopedClock m_UseClock;
  std::string m_Temp;
  std::string m_LogPath;
  std::unique_ptr<DemoSetup> m_Stage;
  bool m_Ready = false;
  ChildProcess m_Child;
};

// Minimal reading of the CLI's JSON object, enough for the tests: the text of a string field at its
// first occurrence after from, or the raw token of a number/null.
std::string JsonField(const std::string& json, const std::string& key, size_t from = 0);
// The objects of the "modules" array, each as raw text.
std::vector<std::string> JsonModules(const std::string& json);
