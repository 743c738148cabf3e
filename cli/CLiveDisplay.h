#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "cli/CTerminalTable.h"
#include "platform/Warnings.h"

// Draws the module table on the terminal and prints the program's messages, from the main thread;
// also the warning sink of the core, called from whatever thread raised the warning.
//
// On a terminal the table is redrawn in place (cursor moved up over the lines drawn last time),
// fitted to the terminal's width (read again on SIGWINCH), so no line is broken by the terminal;
// otherwise, during the upgrade run, each new status text is printed as one line, and the whole
// table is printed when a command ends. Warnings go to stderr as "Warning: <text>"; when stderr is
// the same terminal, the live table is cleared first so the warning is not overdrawn. Every text is
// printed as PrintableText (line breaks kept in notes and warnings), so text that came from the
// router or a file cannot drive the terminal.
class CLiveDisplay final : public IWarningSink {
 public:
  struct Mode {
    bool quiet = false;  // no table, no progress
    bool json = false;   // stdout is kept for the JSON object: the table goes nowhere
  };

  // out: where the table goes (stdout); err: warnings and notes (stderr). Neither is owned.
  CLiveDisplay(CTerminalTable& table, FILE* out, FILE* err, Mode mode);

  // Decided from the streams: a terminal gets colours (unless NO_COLOR is set or TERM is "dumb").
  bool IsLive() const { return m_Live; }
  bool UsesColour() const { return m_Colour; }

  // Where the Time column learns which step runs and since when (the engine during the upgrade run);
  // unset, no row shows a running time. Called from the main thread; must be thread-safe.
  void SetRunningStepSource(std::function<CTerminalTable::RunningStep()> source);
  // Starts and ends in-place drawing (for the run of one procedure). Outside, Refresh does nothing.
  // traceStatus: when the output is not a terminal, print each new status text as a line.
  void BeginLive(bool traceStatus);
  void EndLive();
  // Redraws when the table changed or a second of clock time passed (the elapsed column).
  void Refresh();
  // The terminal's size changed: read its width again and draw the table anew.
  void TerminalResized();
  // What the running procedure is doing (the Check's steps), shown under the live table; "" for
  // nothing. Any thread.
  void SetActivity(const std::string& text);
  // The width the table is fitted to: the terminal's columns, 0 when stdout is no terminal.
  int Width() const { return m_Width; }
  // Prints the whole table once (the end of a command).
  void PrintTable();
  // A note for the user: stdout normally, stderr with --json; suppressed by --quiet unless important.
  void Note(const std::string& text, bool important = false);
  // A line on stderr that --quiet does not suppress (skipped images, a log that was not written).
  void Report(const std::string& text);

  int ShowWarning(const std::string& text) override;

 private:
  void ClearLiveLocked(bool forStderr);
  void ReadWidth();
  void DrawLocked();
  CTerminalTable::RunningStep RunningStepLocked() const;

  CTerminalTable& m_Table;
  FILE* m_Out;
  FILE* m_Err;
  Mode m_Mode;
  bool m_Live = false;
  bool m_Colour = false;
  bool m_ErrIsTerminal = false;

  std::mutex m_Mutex;  // one writer on the terminal at a time
  bool m_Drawing = false;
  int m_LinesDrawn = 0;
  uint64_t m_DrawnChanges = ~uint64_t{0};
  uint64_t m_DrawnSecond = 0;
  std::function<CTerminalTable::RunningStep()> m_RunningStep;
  int m_Width = 0;
  std::string m_Activity;
  uint64_t m_ActivityChanges = 0;
  uint64_t m_DrawnActivity = 0;
};
