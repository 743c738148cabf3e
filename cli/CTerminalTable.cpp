#include "cli/CTerminalTable.h"

#include <algorithm>
#include <cstdio>

#include "platform/StringTable.h"
#include "platform/TextCodec.h"
#include "platform/Translation.h"

namespace {

constexpr int kHeadingIds[5] = {IDS_COL_TYPE, IDS_COL_CURRENT, IDS_COL_UPGRADE, IDS_COL_PERCENT,
                                IDS_COL_STATUS};
constexpr int kBarCells = 20;

std::string PadRight(const std::string& text, int width) {
  int pad = width - CTerminalTable::TextWidth(text);
  return pad > 0 ? text + std::string(static_cast<size_t>(pad), ' ') : text;
}

const char* AnsiFor(uint32_t colour) {
  switch (colour) {
    case kColourBlue:
      return "\033[1;34m";
    case kColourRed:
      return "\033[1;31m";
    case CTerminalTable::kGreyText:
      return "\033[90m";
    default:
      return nullptr;
  }
}

// The "mm:ss" inside the " (mm:ss)" that ends a final status, "" when there is none.
std::string FinalElapsedOf(const std::string& status) {
  const size_t n = status.size();
  if (n < 8 || status.compare(n - 8, 2, " (") != 0 || status[n - 1] != ')' || status[n - 4] != ':') return "";
  for (size_t i : {n - 6, n - 5, n - 3, n - 2}) {
    if (status[i] < '0' || status[i] > '9') return "";
  }
  return status.substr(n - 6, 5);
}

// The bar of a failed step: never drawn full, whatever percentage the step ended with.
std::string FailedBar() {
  // the word in the user's language, centred by the terminal cells it takes
  const std::string word = " " + Tr("failed") + " ";
  const int cells = std::min(CTerminalTable::TextWidth(word), kBarCells);
  const int left = (kBarCells - cells) / 2;
  return std::string(static_cast<size_t>(left), '-') + word +
         std::string(static_cast<size_t>(kBarCells - cells - left), '-');
}

}  // namespace

CTerminalTable::CTerminalTable() {
  for (int c = 0; c < 5; ++c)
    m_ColumnWidths[static_cast<size_t>(c)] = TextWidth(LoadStringById(kHeadingIds[c]));
}

void CTerminalTable::DeleteAllItems() {
  std::lock_guard lock(m_Mutex);
  m_Rows.clear();
  ++m_Changes;
}

int CTerminalTable::InsertItem(int index, const std::string& text) {
  std::lock_guard lock(m_Mutex);
  if (index < 0) return -1;
  size_t at = std::min(static_cast<size_t>(index), m_Rows.size());
  Row row;
  row.text[COL_TYPE] = text;
  m_Rows.insert(m_Rows.begin() + static_cast<std::ptrdiff_t>(at), row);
  ++m_Changes;
  return static_cast<int>(at);
}

bool CTerminalTable::DeleteItem(int index) {
  std::lock_guard lock(m_Mutex);
  if (!ValidItem(index)) return false;
  m_Rows.erase(m_Rows.begin() + index);
  ++m_Changes;
  return true;
}

int CTerminalTable::GetItemCount() {
  std::lock_guard lock(m_Mutex);
  return static_cast<int>(m_Rows.size());
}

bool CTerminalTable::SetItemText(int item, int column, const std::string& text) {
  std::lock_guard lock(m_Mutex);
  if (!ValidItem(item) || column < 0 || column > COL_STATUS) return false;
  Row& row = m_Rows[static_cast<size_t>(item)];
  row.text[static_cast<size_t>(column)] = text;
  if (column == COL_STATUS && m_Record) m_StatusChanges.push_back(row.text[COL_TYPE] + ": " + text);
  ++m_Changes;
  return true;
}

bool CTerminalTable::SetItemData(int item, uint32_t colour) {
  std::lock_guard lock(m_Mutex);
  if (!ValidItem(item)) return false;
  m_Rows[static_cast<size_t>(item)].colour = colour;
  ++m_Changes;
  return true;
}

int CTerminalTable::GetStringWidth(const std::string& text) { return TextWidth(text); }

int CTerminalTable::GetColumnWidth(int column) {
  std::lock_guard lock(m_Mutex);
  if (column < 0 || column > COL_STATUS) return 0;
  return m_ColumnWidths[static_cast<size_t>(column)];
}

bool CTerminalTable::SetColumnWidth(int column, int width) {
  std::lock_guard lock(m_Mutex);
  if (column < 0 || column > COL_STATUS) return false;
  if (width == -1 || width == -2) {
    int fit = width == -2 ? TextWidth(LoadStringById(kHeadingIds[column])) : 0;
    for (const Row& row : m_Rows) fit = std::max(fit, TextWidth(row.text[static_cast<size_t>(column)]));
    width = fit;
  }
  if (width < 0) return false;
  m_ColumnWidths[static_cast<size_t>(column)] = width;
  return true;
}

void CTerminalTable::SetRedraw(bool) {}

std::vector<CTerminalTable::Row> CTerminalTable::Snapshot() const {
  std::lock_guard lock(m_Mutex);
  return m_Rows;
}

uint64_t CTerminalTable::ChangeCount() const {
  std::lock_guard lock(m_Mutex);
  return m_Changes;
}

void CTerminalTable::SetRecordStatusChanges(bool record) {
  std::lock_guard lock(m_Mutex);
  m_Record = record;
}

std::vector<std::string> CTerminalTable::TakeStatusChanges() {
  std::lock_guard lock(m_Mutex);
  std::vector<std::string> out;
  out.swap(m_StatusChanges);
  return out;
}

std::vector<CTerminalTable::Row> CTerminalTable::PrintableRows(const std::vector<Row>& rows) {
  std::vector<Row> out = rows;
  for (Row& row : out)
    for (std::string& text : row.text) text = PrintableText(text);
  return out;
}

int CTerminalTable::TextWidth(const std::string& text) {
  int cells = 0;
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80           ? 1
                          : (lead >> 5) == 0x6  ? 2
                          : (lead >> 4) == 0xE  ? 3
                          : (lead >> 3) == 0x1E ? 4
                                                : 1;
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    size_t k = 1;
    for (; k < length && i + k < text.size(); ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) break;
      code = (code << 6) | (next & 0x3F);
    }
    // a broken sequence counts its lead byte as one cell and goes on with the next byte
    if (k < length) {
      code = lead;
      k = 1;
    }
    cells += IsWideCharacter(code) ? 2 : 1;
    i += k;
  }
  return cells;
}

bool CTerminalTable::IsWideCharacter(char32_t code) {
  // East Asian wide and full-width characters take two cells of a terminal
  return (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0x303E) ||
         (code >= 0x3041 && code <= 0x33FF) || (code >= 0x3400 && code <= 0x4DBF) ||
         (code >= 0x4E00 && code <= 0x9FFF) || (code >= 0xA000 && code <= 0xA4CF) ||
         (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
         (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
         (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x20000 && code <= 0x3FFFD);
}

int CTerminalTable::ParsePercent(const std::string& text) {
  if (text.size() < 2 || text.size() > 4 || text.back() != '%') return -1;
  int value = 0;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value <= 100 ? value : -1;
}

std::string CTerminalTable::ColourName(uint32_t colour) {
  switch (colour) {
    case kColourBlack:
      return "black";
    case kColourBlue:
      return "blue";
    case kColourRed:
      return "red";
    case kGreyText:
      return "grey";
    default:
      break;
  }
  char text[16];
  // stored as 0x00BBGGRR
  std::snprintf(text, sizeof text, "#%02X%02X%02X", colour & 0xFF, (colour >> 8) & 0xFF,
                (colour >> 16) & 0xFF);
  return text;
}

std::string CTerminalTable::MinutesSeconds(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>((seconds / 60) % 60),
                static_cast<int>(seconds % 60));
  return text;
}

std::string CTerminalTable::TimeOf(const Row& row, int index, const RunningStep& running) {
  if (row.colour == kColourBlue || row.colour == kColourRed) return FinalElapsedOf(row.text[COL_STATUS]);
  // only the step in progress shows a running time; rows it skipped or has not reached show none
  if (row.colour == kColourBlack && index == running.item) return MinutesSeconds(running.seconds);
  return "";
}

std::string CTerminalTable::FitText(const std::string& text, int cells) {
  if (TextWidth(text) <= cells) return text;
  if (cells <= 0) return "";
  // whole characters up to one cell short of the width, then the mark of a shortened text
  std::string out;
  int used = 0;
  size_t i = 0;
  while (i < text.size()) {
    size_t next = i + 1;
    while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
    const std::string piece = text.substr(i, next - i);
    const int w = TextWidth(piece);
    if (used + w > cells - 1) break;
    out += piece;
    used += w;
    i = next;
  }
  return out + "~";
}

std::vector<std::string> CTerminalTable::WrapText(const std::string& text, int cells) {
  std::vector<std::string> lines;
  if (cells <= 0) return {text};
  std::string rest = text;
  while (TextWidth(rest) > cells) {
    // the longest head that fits, broken after a blank where there is one
    size_t cut = 0;
    size_t lastBlank = std::string::npos;
    int used = 0;
    size_t i = 0;
    while (i < rest.size()) {
      size_t next = i + 1;
      while (next < rest.size() && (static_cast<unsigned char>(rest[next]) & 0xC0) == 0x80) ++next;
      const int w = TextWidth(rest.substr(i, next - i));
      if (used + w > cells) break;
      used += w;
      if (rest[i] == ' ') lastBlank = i;
      i = next;
      cut = i;
    }
    if (cut == 0) cut = 1;  // one character wider than the column: it goes alone
    if (lastBlank != std::string::npos && lastBlank > 0 && cut < rest.size() && rest[cut] != ' ') {
      lines.push_back(rest.substr(0, lastBlank));
      rest.erase(0, lastBlank + 1);
    } else {
      lines.push_back(rest.substr(0, cut));
      rest.erase(0, cut);
      while (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    }
  }
  lines.push_back(rest);
  return lines;
}

CTerminalTable::Layout CTerminalTable::LayoutFor(const std::vector<Row>& rows, int terminalWidth) {
  Layout layout;
  for (int c = 0; c < 3; ++c) {
    layout.names[c] = TextWidth(LoadStringById(kHeadingIds[c]));
    for (const Row& row : rows)
      layout.names[c] = std::max(layout.names[c], TextWidth(row.text[static_cast<size_t>(c)]));
  }
  int statusWidth = TextWidth(LoadStringById(IDS_COL_STATUS));
  for (const Row& row : rows) statusWidth = std::max(statusWidth, TextWidth(row.text[COL_STATUS]));
  if (terminalWidth <= 0) return layout;

  // what stands before the status, and what the status keeps at least beside it
  constexpr int kGap = 2;
  constexpr int kStatusBeside = 24;
  constexpr int kNameMinimum = 6;
  auto fixed = [&layout] {
    return layout.names[0] + layout.names[1] + layout.names[2] + 3 * kGap + (layout.bar ? kBarCells + 7 : 4) +
           kGap + (layout.time ? 5 + kGap : 0);
  };
  auto fits = [&] { return fixed() + std::min(statusWidth, kStatusBeside) <= terminalWidth; };
  // first the bar goes, then the longest of the names is shortened, one cell at a time
  if (!fits()) layout.bar = false;
  while (!fits()) {
    int* widest = std::max_element(layout.names, layout.names + 3);
    if (*widest <= kNameMinimum) break;
    --*widest;
  }
  if (!fits()) layout.time = false;
  layout.statusColumn = fixed();
  layout.statusCells = terminalWidth - layout.statusColumn;
  if (layout.statusCells < kStatusBeside) {
    // too narrow to stand beside the row: the status goes on lines of its own below it, and the
    // names may shrink further so that the percentage still fits
    layout.statusBelow = true;
    while (fixed() - kGap > terminalWidth) {
      int* widest = std::max_element(layout.names, layout.names + 3);
      if (*widest <= 3) break;
      --*widest;
    }
    layout.statusColumn = 4;
    layout.statusCells = std::max(1, terminalWidth - layout.statusColumn);
  }
  layout.width = terminalWidth;
  return layout;
}

std::vector<std::string> CTerminalTable::RenderLines(const std::vector<Row>& rawRows, bool colour,
                                                     const RunningStep& running, int terminalWidth) {
  // versions come from the router and the image files: shown, never obeyed by the terminal
  const std::vector<Row> rows = PrintableRows(rawRows);
  const Layout layout = LayoutFor(rows, terminalWidth);
  const std::string gap = "  ";
  auto cell = [](const std::string& text, int cells) { return PadRight(FitText(text, cells), cells); };
  // a line never runs past the terminal's last column, where the terminal would break it and the
  // redraw's count of lines would be wrong
  auto clip = [&layout](const std::string& line) {
    return layout.width > 0 && TextWidth(line) > layout.width ? FitText(line, layout.width) : line;
  };
  std::vector<std::string> lines;
  std::string heading;
  for (int c = 0; c < 3; ++c) heading += cell(LoadStringById(kHeadingIds[c]), layout.names[c]) + gap;
  heading += cell(LoadStringById(IDS_COL_PERCENT), layout.bar ? kBarCells + 7 : 4) + gap;
  if (layout.time) heading += cell(Tr("Time"), 5) + gap;
  if (layout.width <= 0)
    heading += LoadStringById(IDS_COL_STATUS);
  else if (!layout.statusBelow)
    heading += FitText(LoadStringById(IDS_COL_STATUS), layout.statusCells);
  while (!heading.empty() && heading.back() == ' ') heading.pop_back();
  lines.push_back(clip(heading));

  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    std::string line;
    for (int c = 0; c < 3; ++c) line += cell(row.text[static_cast<size_t>(c)], layout.names[c]) + gap;
    int percent = ParsePercent(row.text[COL_PERCENT]);
    if (layout.bar) {
      std::string bar = "[";
      if (row.colour == kColourRed && percent >= 0) {
        bar += FailedBar();
      } else {
        int filled = percent < 0 ? 0 : percent * kBarCells / 100;
        bar += std::string(static_cast<size_t>(filled), '#') +
               std::string(static_cast<size_t>(kBarCells - filled), '.');
      }
      line += bar + "] ";
    }
    char pct[8];
    std::snprintf(pct, sizeof pct, "%4s", percent < 0 ? "" : row.text[COL_PERCENT].c_str());
    line += pct + gap;
    if (layout.time) line += PadRight(TimeOf(row, static_cast<int>(i), running), 5) + gap;
    const char* ansi = colour ? AnsiFor(row.colour) : nullptr;
    auto paint = [ansi](const std::string& text) { return ansi ? ansi + text + "\033[0m" : text; };
    const std::string& status = row.text[COL_STATUS];
    if (layout.width <= 0) {
      lines.push_back(line + paint(status));
      continue;
    }
    const std::vector<std::string> parts = WrapText(status, layout.statusCells);
    const std::string indent(static_cast<size_t>(layout.statusColumn), ' ');
    if (layout.statusBelow) {
      while (!line.empty() && line.back() == ' ') line.pop_back();
      lines.push_back(clip(line));
      if (status.empty()) continue;
      for (const std::string& part : parts) lines.push_back(indent + paint(part));
      continue;
    }
    lines.push_back(line + paint(parts[0]));
    for (size_t k = 1; k < parts.size(); ++k) lines.push_back(indent + paint(parts[k]));
  }
  return lines;
}
