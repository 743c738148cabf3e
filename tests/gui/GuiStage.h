#pragma once

// The dialog tests' stage: the demo's images and the in-process router emulator on loopback, with
// the scaled clock in use for the stage's life, and a wait for the dialog's worker to end.
#include <QElapsedTimer>
#include <QTest>
#include <string>

#include "GuiTestSupport.h"
#include "demo/DemoSetup.h"
#include "platform/Clock.h"

// Real milliseconds the emulator-driven waits allow (runs take a few seconds at this clock scale).
constexpr int kRunTimeoutMs = 120000;
constexpr double kClockScale = 20;

class Stage {
 public:
  explicit Stage(DemoConfig config = {}) : m_Use(m_Clock), m_Demo(std::move(config)) {}
  bool Start() {
    std::string error;
    if (!m_Demo.Start(&error)) {
      qWarning("demo setup failed: %s", error.c_str());
      return false;
    }
    return true;
  }
  DialogOptions Options(const TestArea& area, BoxRecorder& boxes) {
    DialogOptions options = area.Options(boxes);
    options.endpoints = m_Demo.GetEndpoints();
    options.imageFolder = m_Demo.ImageFolder();
    return options;
  }
  qorsim::RouterSim& Sim() { return *m_Demo.Sim(); }

 private:
  ScaledClock m_Clock{kClockScale};
  ScopedClock m_Use;
  DemoSetup m_Demo;
};

// Waits for the worker to finish and its posted notification to be handled.
inline bool WaitIdle(CQorOneClickDlg& dlg) {
  QElapsedTimer timer;
  timer.start();
  while (dlg.IsWorkerRunning() && timer.elapsed() < kRunTimeoutMs) QTest::qWait(20);
  QTest::qWait(50);
  return !dlg.IsWorkerRunning();
}
