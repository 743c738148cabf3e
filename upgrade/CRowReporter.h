#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "image/ModuleType.h"
#include "upgrade/WindowInterfaces.h"

class CDownloadLog;
class ModulePlan;

// The colour a row's status is drawn in.
enum class RowColour { Black, Blue, Red, Grey };

// What one row of the module list shows, as the reporter last wrote it.
struct RowRecord {
  ModuleType module = MODULE_NONE;
  std::optional<int> percent;  // absent until a percentage was written to the row
  std::string status;          // the Status column, elapsed time included
  RowColour colour = RowColour::Black;
  // The id of the status text: a string-table id (155, 153, 158 from the Check, a step's text, the
  // final 103 or failure id), an advice id for a row skipped for a reason of its own
  // (ADVICE_NVRAM_ERASE_FAILED), 0 for a text that has none (a device's words).
  int statusId = 0;
  // The seconds the row's step took, once its final status was shown.
  std::optional<int64_t> elapsedSeconds;
  // Whether the status is the row's final one (a step's end, or a skip).
  bool final = false;
};

// What a front end hears of the rows as they change (the CLI's event stream). Called on the worker
// thread that writes the row, with no lock of the reporter held; it must not call back into it.
class IRowObserver {
 public:
  virtual ~IRowObserver() = default;
  virtual void OnStatus(const RowRecord& row, int rowIndex) = 0;
  virtual void OnPercent(const RowRecord& row, int rowIndex) = 0;
  virtual void OnFinal(const RowRecord& row, int rowIndex) = 0;
};

// Everything the procedures show in the module list goes through here: the rows the Check lays
// out, the status texts (which are logged as they are shown), the percentages, the final status of
// each step with the time the step took, and the marks of skipped modules. Writes go to the current
// row; the row of no module (kNoRow) exists in no list, so a write to it changes nothing but the log.
//
// The reporter keeps a record of what each row of the plan shows, so a front end can report the
// rows as values instead of reading them back from its display.
//
// Threads: written by one worker at a time. The current row and the step start are atomic (the
// terminal tool's display thread reads them for its Time column while the worker runs); the
// records are read under a lock. The list must outlive every write.
class CRowReporter {
 public:
  // The current row of steps that belong to no row.
  static constexpr int kNoRow = 9;

  explicit CRowReporter(CDownloadLog& log) : m_Log(log) {}
  CRowReporter(const CRowReporter&) = delete;
  CRowReporter& operator=(const CRowReporter&) = delete;

  // The list written to (not owned; null writes nothing but the log).
  void SetList(IModuleList* list) { m_pList = list; }
  IModuleList* GetList() const { return m_pList; }

  // --- the Check's rows ---
  // Empties the list and the records.
  void ClearRows();
  // One row per module the plan shows, in its order: the row name, and for a module with an image
  // its current and image versions (ShownVersion), blue "Waiting for the upgrade" or red "Version does not
  // match"; without an image grey "Not found".
  void ShowPlan(const ModulePlan& plan);

  // --- the current row ---
  void SetCurrentRow(int row) { m_CurrentRow.store(row); }
  int GetCurrentRow() const { return m_CurrentRow.load(); }

  // --- writes to the current row ---
  // shown in the Status column in a colour (the user's language), then logged (English, the
  // language support reads the log in); the Status column widens for a longer text, never narrows.
  void ShowStatusText(const std::string& shown, const std::string& logged, RowColour colour);
  // A text that is the same in the list and the log (a device's or a file's words).
  void ShowStatusText(const std::string& text, RowColour colour) { ShowStatusText(text, text, colour); }
  // The string table's text of stringId in black; an unknown id writes nothing.
  void ShowStatus(int stringId);
  // The text of statusId with " (%M:%S)" since the step start, blue for 103 and red otherwise; the
  // next step's time counts from here, and the log is flushed, so a finished step is in the file
  // whatever happens next. A failure's row gets the advice of the failure (upgrade/Advice.h) as its
  // tooltip.
  void ShowFinalStatus(int statusId);
  // Writes "%d%%" to the "%" column unless percent equals the last value shown (process-wide).
  void ShowPercent(int percent);
  // Writes text in black to a row without logging it (a module the run did not get to, with the
  // reason); the Status column widens for it as for any status. reasonId (an advice id) is recorded
  // as the row's status id, and its advice becomes the row's tooltip.
  void MarkSkipped(int row, const std::string& text, int reasonId = 0);

  // Where row changes are reported besides the list (not owned; null for none). Set before a worker
  // starts.
  void SetObserver(IRowObserver* observer) { m_pObserver = observer; }

  // --- the step clock (seconds of the tool's clock) ---
  void StartStep();
  void SetStepStart(int64_t seconds) { m_StepStart.store(seconds); }
  int64_t GetStepStart() const { return m_StepStart.load(); }

  // What the rows of the last ShowPlan show now, in row order.
  std::vector<RowRecord> Rows() const;

  // The process-wide last percent shown (-1 before the first write).
  static int LastPercentShown();
  // Integer part of done x 100 / total in 128-bit arithmetic, clamped to 0..100; 100 for total 0.
  static int PercentOf(uint64_t done, uint64_t total);
  // " (%M:%S)" for a span of seconds; whole hours are not shown, a negative span shows 00:00.
  static std::string FormatElapsed(int64_t seconds);
  // The colour value a list draws a row colour in (grey is the list's own grey-text colour).
  static uint32_t ColourValue(RowColour colour, IModuleList& list);
  // black, blue, red, grey.
  static const char* ColourName(RowColour colour);

 private:
  // Writes the status and reports it to the observer; returns the row's record as written.
  void WriteStatus(int row, const std::string& text, RowColour colour, int statusId,
                   std::optional<int64_t> elapsed = std::nullopt, bool final = false);
  void WriteRowColour(int row, RowColour colour);
  // The record of a row, or null when the row is not one of the plan's.
  RowRecord* RecordOf(int row);

  CDownloadLog& m_Log;
  IModuleList* m_pList = nullptr;
  IRowObserver* m_pObserver = nullptr;
  std::atomic<int> m_CurrentRow{kNoRow};
  std::atomic<int64_t> m_StepStart{0};
  mutable std::mutex m_RecordsLock;
  std::vector<RowRecord> m_Records;
};

// A current or image version as a row shows it: the placeholder texts of the plan (kForceLoadText,
// kVersionReadFailedText, kNoVersionText) in the user's language, any other text as it stands.
std::string ShownVersion(const std::string& version);

// Fits the five columns: each gets the largest of the width of (n + 2) "1" characters (n = 16, 15,
// 15, 4, 20), its width after -1 and its width after -2; redraw is suspended meanwhile.
void FitModuleColumns(IModuleList& list);
