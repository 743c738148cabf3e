#include "cli/CLiveDisplay.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "cli/TerminalColumns.h"
#include "platform/Clock.h"
#include "platform/TextCodec.h"
#include "platform/Translation.h"

namespace {

bool IsTerminal(FILE* stream) { return stream && isatty(fileno(stream)) == 1; }

bool ColoursWanted() {
  const char* term = std::getenv("TERM");
  const char* noColour = std::getenv("NO_COLOR");
  if (noColour && *noColour) return false;
  return !(term && std::strcmp(term, "dumb") == 0);
}

}  // namespace

CLiveDisplay::CLiveDisplay(CTerminalTable& table, FILE* out, FILE* err, Mode mode)
    : m_Table(table), m_Out(out), m_Err(err), m_Mode(mode) {
  bool tableShown = !m_Mode.quiet && !m_Mode.json;
  m_Live = tableShown && IsTerminal(m_Out);
  m_Colour = m_Live && ColoursWanted();
  m_ErrIsTerminal = IsTerminal(m_Err);
  ReadWidth();
}

void CLiveDisplay::ReadWidth() {
  m_Width = 0;
  if (!m_Live) return;
  m_Width = TerminalColumns(m_Out);
}

void CLiveDisplay::TerminalResized() {
  std::lock_guard lock(m_Mutex);
  ReadWidth();
  if (!m_Drawing || !m_Live) return;
  // the lines drawn for the old width may have been rewrapped by the terminal: clear what is
  // below the table's first line and draw it again
  DrawLocked();
}

void CLiveDisplay::SetActivity(const std::string& text) {
  std::lock_guard lock(m_Mutex);
  if (text == m_Activity) return;
  m_Activity = text;
  ++m_ActivityChanges;
}

void CLiveDisplay::BeginLive(bool traceStatus) {
  std::lock_guard lock(m_Mutex);
  m_Drawing = true;
  m_LinesDrawn = 0;
  m_DrawnChanges = ~uint64_t{0};
  m_Table.TakeStatusChanges();
  m_Table.SetRecordStatusChanges(traceStatus && !m_Live && !m_Mode.quiet && !m_Mode.json);
}

void CLiveDisplay::EndLive() {
  Refresh();
  std::lock_guard lock(m_Mutex);
  m_Table.SetRecordStatusChanges(false);
  // what a procedure was doing ends with it; the last frame is drawn again without it
  if (!m_Activity.empty()) {
    m_Activity.clear();
    ++m_ActivityChanges;
    if (m_Live && m_LinesDrawn > 0) DrawLocked();
  }
  // the live table stays on screen as the final one
  m_Drawing = false;
  m_LinesDrawn = 0;
}

void CLiveDisplay::Refresh() {
  std::lock_guard lock(m_Mutex);
  if (!m_Drawing) return;
  if (!m_Live) {
    for (const std::string& line : m_Table.TakeStatusChanges())
      std::fprintf(m_Out, "%s\n", PrintableText(line).c_str());
    std::fflush(m_Out);
    return;
  }
  uint64_t changes = m_Table.ChangeCount();
  uint64_t second = Clock().TickMs() / 1000;
  if (changes == m_DrawnChanges && second == m_DrawnSecond && m_ActivityChanges == m_DrawnActivity) return;
  DrawLocked();
}

void CLiveDisplay::SetRunningStepSource(std::function<CTerminalTable::RunningStep()> source) {
  std::lock_guard lock(m_Mutex);
  m_RunningStep = std::move(source);
}

CTerminalTable::RunningStep CLiveDisplay::RunningStepLocked() const {
  return m_RunningStep ? m_RunningStep() : CTerminalTable::RunningStep{};
}

void CLiveDisplay::DrawLocked() {
  std::vector<CTerminalTable::Row> rows = m_Table.Snapshot();
  std::vector<std::string> lines = CTerminalTable::RenderLines(rows, m_Colour, RunningStepLocked(), m_Width);
  if (!m_Activity.empty()) {
    for (const std::string& part : CTerminalTable::WrapText(PrintableText(m_Activity), m_Width))
      lines.push_back(part);
  }
  std::string frame;
  if (m_LinesDrawn > 0) frame += "\033[" + std::to_string(m_LinesDrawn) + "A";
  for (const std::string& line : lines) frame += "\r\033[2K" + line + "\n";
  frame += "\033[J";
  std::fputs(frame.c_str(), m_Out);
  std::fflush(m_Out);
  m_LinesDrawn = static_cast<int>(lines.size());
  m_DrawnChanges = m_Table.ChangeCount();
  m_DrawnSecond = Clock().TickMs() / 1000;
  m_DrawnActivity = m_ActivityChanges;
}

void CLiveDisplay::ClearLiveLocked(bool forStderr) {
  if (!m_Live || !m_Drawing || m_LinesDrawn == 0) return;
  // stderr redirected elsewhere does not disturb the table on the terminal
  if (forStderr && !m_ErrIsTerminal) return;
  std::fprintf(m_Out, "\033[%dA\r\033[J", m_LinesDrawn);
  std::fflush(m_Out);
  m_LinesDrawn = 0;
  m_DrawnChanges = ~uint64_t{0};
}

void CLiveDisplay::PrintTable() {
  std::lock_guard lock(m_Mutex);
  if (m_Mode.quiet || m_Mode.json) return;
  for (const std::string& line :
       CTerminalTable::RenderLines(m_Table.Snapshot(), m_Colour, RunningStepLocked(), m_Width))
    std::fprintf(m_Out, "%s\n", line.c_str());
  std::fflush(m_Out);
}

void CLiveDisplay::Note(const std::string& text, bool important) {
  std::lock_guard lock(m_Mutex);
  if (m_Mode.quiet && !important) return;
  FILE* stream = m_Mode.json ? m_Err : m_Out;
  ClearLiveLocked(stream == m_Err);
  std::fprintf(stream, "%s\n", PrintableText(text, true).c_str());
  std::fflush(stream);
}

void CLiveDisplay::Report(const std::string& text) {
  std::lock_guard lock(m_Mutex);
  ClearLiveLocked(true);
  std::fprintf(m_Err, "%s\n", PrintableText(text, true).c_str());
  std::fflush(m_Err);
}

int CLiveDisplay::ShowWarning(const std::string& text) {
  std::lock_guard lock(m_Mutex);
  ClearLiveLocked(true);
  std::fprintf(m_Err, "%s\n", FormatText(Tr("Warning: %1"), {PrintableText(text, true)}).c_str());
  std::fflush(m_Err);
  return 1;
}
