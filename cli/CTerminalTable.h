#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "upgrade/WindowInterfaces.h"

// The step that runs now: the index of its row (-1: none) and the seconds since the step began.
struct TableRunningStep {
  int item = -1;
  int64_t seconds = 0;
};

// The module list of the terminal front end. The Check and Upgrade workers write to it through
// IModuleList from their own thread; the main thread takes snapshots and draws them. Every member
// locks one mutex, so the two threads never see half a row.
//
// The Time column tells one truth with the final status: a finished row (blue or red, ending in
// "(mm:ss)") shows the minutes and seconds of its status; the row of the step that runs shows the
// time elapsed by the same rule (from the engine's step start, whole hours not shown), which the
// display passes in as RunningStep; every other row shows none.
class CTerminalTable final : public IModuleList {
 public:
  static constexpr uint32_t kGreyText = 0x006D6D6D;

  struct Row {
    std::array<std::string, 5> text;
    uint32_t colour = kColourBlack;
  };

  using RunningStep = TableRunningStep;

  CTerminalTable();

  // IModuleList, called by the workers.
  void DeleteAllItems() override;
  int InsertItem(int index, const std::string& text) override;
  bool DeleteItem(int index) override;
  int GetItemCount() override;
  bool SetItemText(int item, int column, const std::string& text) override;
  bool SetItemData(int item, uint32_t colour) override;
  int GetStringWidth(const std::string& text) override;
  int GetColumnWidth(int column) override;
  bool SetColumnWidth(int column, int width) override;
  void SetRedraw(bool redraw) override;
  uint32_t GrayTextColour() override { return kGreyText; }

  // For the main thread.
  std::vector<Row> Snapshot() const;
  // Grows with every change; the display redraws when it moved.
  uint64_t ChangeCount() const;
  // While recording, every new text in the Status column is kept as "<type>: <status>" lines for
  // output that is not a terminal (a log-like trace instead of a redrawn table).
  void SetRecordStatusChanges(bool record);
  std::vector<std::string> TakeStatusChanges();

  // The table as text lines: a heading line and one line per row with a progress bar of the "%"
  // column (a red row with a percentage draws its bar as failed, never full) and the elapsed time.
  // With colour, the status texts carry ANSI colours of their rows. Every cell is drawn as
  // PrintableText: control characters in a version never reach the terminal.
  //
  // terminalWidth > 0 fits every line into that many cells: first the bar goes (the percentage
  // stays), then the longest of the type and version columns is shortened (a shortened text ends
  // in "~"), then the Time column goes; the status wraps onto lines of its own under its column,
  // or, when fewer than 24 cells are left beside the row, onto lines below the row. 0 draws every
  // column at full width on one line per row.
  static std::vector<std::string> RenderLines(const std::vector<Row>& rows, bool colour,
                                              const RunningStep& running = RunningStep{},
                                              int terminalWidth = 0);
  // text cut to cells terminal cells, ending in "~" when it was cut.
  static std::string FitText(const std::string& text, int cells);
  // text in lines of at most cells terminal cells, broken after blanks where it can be.
  static std::vector<std::string> WrapText(const std::string& text, int cells);
  // "mm:ss" of the Time column for the row at index, "" when it shows none.
  static std::string TimeOf(const Row& row, int index, const RunningStep& running);
  // "mm:ss" of a span of seconds, as the final status shows it (whole hours not shown).
  static std::string MinutesSeconds(int64_t seconds);
  // The rows with every text made printable (platform/TextCodec.h).
  static std::vector<Row> PrintableRows(const std::vector<Row>& rows);
  // Terminal cells of a UTF-8 text: two for an East Asian wide character, one for any other.
  static int TextWidth(const std::string& text);
  static bool IsWideCharacter(char32_t code);
  // "42%" -> 42; anything else -> -1.
  static int ParsePercent(const std::string& text);
  // black, blue, red, grey, else "#RRGGBB".
  static std::string ColourName(uint32_t colour);

 private:
  struct Layout {
    int names[3] = {0, 0, 0};
    bool bar = true;
    bool time = true;
    bool statusBelow = false;
    int statusColumn = 0;
    int statusCells = 0;
    int width = 0;  // 0: unlimited
  };
  static Layout LayoutFor(const std::vector<Row>& rows, int terminalWidth);

  bool ValidItem(int item) const { return item >= 0 && static_cast<size_t>(item) < m_Rows.size(); }

  mutable std::mutex m_Mutex;
  std::vector<Row> m_Rows;
  std::array<int, 5> m_ColumnWidths{};
  uint64_t m_Changes = 0;
  bool m_Record = false;
  std::vector<std::string> m_StatusChanges;
};
