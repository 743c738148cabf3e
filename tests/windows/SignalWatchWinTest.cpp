// The CLI's interrupts on Windows: console control events, queued by the handler and taken by the
// main thread, each once.

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <csignal>

#include "cli/CSignalWatch.h"
#include "net/CWsaEvent.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(WindowsSignalWatch, TheOtherEventEndsAWaitWithNothingPending) {
  CSignalWatch watch;
  ASSERT_TRUE(watch.IsValid());
  EXPECT_EQ(watch.TakePending(), 0);
  EXPECT_FALSE(watch.TakeResized());
  EXPECT_TRUE(watch.WaitForInput(0)) << "with nothing pending, the read goes ahead";

  CWsaEvent other;
  auto start = Clock::now();
  watch.Wait(other, 100);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90)) << "a wait with nothing set runs its time";
  ASSERT_TRUE(other.Set());
  start = Clock::now();
  watch.Wait(other, 10000);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(watch.TakePending(), 0);
}

TEST(WindowsSignalWatch, AConsoleInterruptIsTakenOnceAndEndsTheWait) {
  // a console of the test's own, whatever the runner gave it: control events go to a console's
  // processes (the output stays where the runner reads it)
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  ::FreeConsole();
  const bool console = ::AllocConsole();
  ::SetStdHandle(STD_OUTPUT_HANDLE, out);
  ::SetStdHandle(STD_ERROR_HANDLE, err);
  CSignalWatch watch;
  ASSERT_TRUE(watch.IsValid());
  CWsaEvent other;
  // Wine sends no console control events: the case runs on Windows only
  if (!console || !::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0))
    GTEST_SKIP() << "no console control event can be sent here (console " << console << ", error "
                 << ::GetLastError() << ")";
  const auto start = Clock::now();
  watch.Wait(other, 10000);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << "the interrupt did not end the wait";
  EXPECT_FALSE(watch.WaitForInput(0)) << "a pending interrupt comes before a read";
  EXPECT_EQ(watch.TakePending(), SIGINT) << "Ctrl+Break is the interrupt";
  EXPECT_EQ(watch.TakePending(), 0) << "taken once";
  EXPECT_TRUE(watch.WaitForInput(0));
}

}  // namespace
