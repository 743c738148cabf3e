#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "cli/CliResult.h"
#include "platform/Warnings.h"
#include "upgrade/CRowReporter.h"

// The --events stream: one JSON object per line on stdout while a command runs, so a wrapper can
// draw its own progress. Every line has "event", "schemaVersion" and "time" (seconds of the system's
// monotonic clock, CLOCK_MONOTONIC, which no change of the wall clock moves):
//   check     the rows the Check laid out (modules as in the result object), after the Check
//   status    a row's status text changed (row, type, status, statusId)
//   progress  a row's percentage changed (row, type, percent)
//   warning   a warning was shown (text)
//   final     a row reached its final status (row, type, status, statusId, colour, elapsedSeconds,
//             advice, adviceCode)
//   end       the command ended (command, result, exitStatus, reason, reasonCode, advice)
// Rows report from the worker thread, warnings from whichever thread raised them; lines never mix.
// As a warning sink it passes every warning on to the display after writing its line.
class CEventStream final : public IRowObserver, public IWarningSink {
 public:
  // out is stdout (not owned); next receives the warnings afterwards (not owned, may be null).
  CEventStream(FILE* out, IWarningSink* next) : m_Out(out), m_Next(next) {}

  void OnStatus(const RowRecord& row, int rowIndex) override;
  void OnPercent(const RowRecord& row, int rowIndex) override;
  void OnFinal(const RowRecord& row, int rowIndex) override;
  int ShowWarning(const std::string& text) override;

  void Check(const std::vector<CliModuleResult>& modules);
  void End(const CliResult& result);

  // Seconds of CLOCK_MONOTONIC, to the microsecond.
  static double MonotonicSeconds();

 private:
  void Write(JsonValue event);

  FILE* m_Out;
  IWarningSink* m_Next;
  std::mutex m_Mutex;
};
