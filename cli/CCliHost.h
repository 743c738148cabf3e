#pragma once

#include <atomic>
#include <deque>
#include <mutex>

#include "net/CWsaEvent.h"
#include "platform/NonCopyable.h"
#include "upgrade/WindowInterfaces.h"

class CLiveDisplay;

// "The window" of the terminal front end. The workers call it from their thread: button states are
// remembered (the CLI has no buttons; the Check's verdict comes from its result), notifications are
// queued and wake the main thread through an event, and a redraw request refreshes the display.
// The CLI has no loop-test mode: IsLoopTest is false and StartLoopTimer does nothing, so a
// loop-test request can never start a second worker.
class CCliHost final : public IDialogHost, public NonCopyable {
 public:
  explicit CCliHost(CLiveDisplay* display);
  ~CCliHost() override;

  void EnableCheckButton(bool enable) override { m_CheckEnabled = enable; }
  void EnableUpgradeButton(bool enable) override { m_UpgradeEnabled = enable; }
  void PostNotify(int code) override;
  void BringToForeground() override {}
  void UpdateWindow() override;
  void LayoutControls() override;
  bool IsLoopTest() override { return false; }
  void StartLoopTimer(int) override {}
  // under the live table
  void ShowCheckStep(const std::string& text) override;

  bool CheckEnabled() const { return m_CheckEnabled; }
  bool UpgradeEnabled() const { return m_UpgradeEnabled; }

  // Set while a notification waits.
  const CWsaEvent& WakeEvent() const { return m_Wake; }
  // Takes the oldest notification: true and its code, or false when none waits.
  bool TakeNotify(int& code);

 private:
  CLiveDisplay* m_Display;
  std::atomic<bool> m_CheckEnabled{true};
  std::atomic<bool> m_UpgradeEnabled{false};
  CWsaEvent m_Wake;
  std::mutex m_Mutex;
  std::deque<int> m_Notifications;
};
