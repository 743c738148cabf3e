#include "upgrade/CRowReporter.h"

#include <algorithm>
#include <cstdio>

#include "log/CDownloadLog.h"
#include "platform/Clock.h"
#include "platform/StringTable.h"
#include "platform/Translation.h"
#include "upgrade/Advice.h"
#include "upgrade/ModulePlan.h"

namespace {

// The last percentage written to any row, shared by every row, every reporter and every run of the
// process: a value equal to it is not written again, whichever row it is meant for.
std::atomic<int> g_LastPercent{-1};

constexpr int kStatusSuccess = IDS_DOWNLOAD_SUCCESSFULLY;

}  // namespace

uint32_t CRowReporter::ColourValue(RowColour colour, IModuleList& list) {
  switch (colour) {
    case RowColour::Blue:
      return kColourBlue;
    case RowColour::Red:
      return kColourRed;
    case RowColour::Grey:
      return list.GrayTextColour();
    case RowColour::Black:
      break;
  }
  return kColourBlack;
}

const char* CRowReporter::ColourName(RowColour colour) {
  switch (colour) {
    case RowColour::Blue:
      return "blue";
    case RowColour::Red:
      return "red";
    case RowColour::Grey:
      return "grey";
    case RowColour::Black:
      break;
  }
  return "black";
}

RowRecord* CRowReporter::RecordOf(int row) {
  if (row < 0 || static_cast<size_t>(row) >= m_Records.size()) return nullptr;
  return &m_Records[static_cast<size_t>(row)];
}

void CRowReporter::ClearRows() {
  {
    std::lock_guard<std::mutex> lock(m_RecordsLock);
    m_Records.clear();
  }
  if (m_pList != nullptr) m_pList->DeleteAllItems();
}

void CRowReporter::ShowPlan(const ModulePlan& plan) {
  const std::string notFound = LoadStringById(IDS_NOT_FOUND);
  const std::string mismatch = LoadStringById(IDS_VERSION_MISMATCH);
  const std::string waiting = LoadStringById(IDS_WAITING_UPGRADE);
  std::vector<RowRecord> records;
  for (ModuleType m : plan.Shown()) {
    const PlannedModule& entry = plan[m];
    RowRecord record;
    record.module = m;
    if (entry.HasImage()) {
      const bool conflict = entry.decision == UpgradeDecision::VersionConflict;
      record.colour = conflict ? RowColour::Red : RowColour::Blue;
      record.status = conflict ? mismatch : waiting;
      record.statusId = conflict ? IDS_VERSION_MISMATCH : IDS_WAITING_UPGRADE;
    } else {
      record.colour = RowColour::Grey;
      record.status = notFound;
      record.statusId = IDS_NOT_FOUND;
    }
    records.push_back(record);
    if (m_pList == nullptr) continue;
    const int row = entry.row;
    m_pList->InsertItem(row, ModuleDisplayName(m));
    if (entry.HasImage()) {
      m_pList->SetItemText(row, COL_CURRENT, ShownVersion(entry.currentVersion));
      m_pList->SetItemText(row, COL_UPGRADE, ShownVersion(entry.imageVersion));
    }
    m_pList->SetItemData(row, ColourValue(record.colour, *m_pList));
    m_pList->SetItemText(row, COL_STATUS, record.status);
    if (record.statusId == IDS_VERSION_MISMATCH)
      m_pList->SetItemToolTip(row, AdviceText(IDS_VERSION_MISMATCH));
  }
  std::lock_guard<std::mutex> lock(m_RecordsLock);
  m_Records = std::move(records);
}

void CRowReporter::WriteStatus(int row, const std::string& text, RowColour colour, int statusId,
                               std::optional<int64_t> elapsed, bool final) {
  std::optional<RowRecord> written;
  {
    std::lock_guard<std::mutex> lock(m_RecordsLock);
    if (RowRecord* record = RecordOf(row)) {
      record->status = text;
      record->colour = colour;
      record->statusId = statusId;
      record->elapsedSeconds = elapsed;
      record->final = final;
      written = *record;
    }
  }
  if (m_pObserver != nullptr && written) {
    if (final) {
      m_pObserver->OnFinal(*written, row);
    } else {
      m_pObserver->OnStatus(*written, row);
    }
  }
  if (m_pList == nullptr) return;
  // a failure's row tells what to do next (a success has no advice, which clears an earlier one)
  if (final) m_pList->SetItemToolTip(row, AdviceText(statusId));
  m_pList->SetItemData(row, ColourValue(colour, *m_pList));
  m_pList->SetItemText(row, COL_STATUS, text);
  // widen the Status column for a longer text, never narrow it
  const int needed = m_pList->GetStringWidth(text + "...");
  if (needed > m_pList->GetColumnWidth(COL_STATUS)) {
    m_pList->SetColumnWidth(COL_STATUS, needed);
  }
}

void CRowReporter::ShowStatusText(const std::string& shown, const std::string& logged, RowColour colour) {
  WriteStatus(m_CurrentRow.load(), shown, colour, 0);
  m_Log.PrintText(logged);
}

void CRowReporter::ShowStatus(int stringId) {
  std::string text;
  if (LoadStringById(stringId, text)) {
    WriteStatus(m_CurrentRow.load(), text, RowColour::Black, stringId);
    m_Log.PrintText(LoadEnglishStringById(stringId));
  }
}

void CRowReporter::ShowFinalStatus(int statusId) {
  const int64_t now = Clock().NowSeconds();
  const int64_t seconds = std::max<int64_t>(0, now - m_StepStart.load());
  const std::string elapsed = FormatElapsed(seconds);
  WriteStatus(m_CurrentRow.load(), LoadStringById(statusId) + elapsed,
              statusId == kStatusSuccess ? RowColour::Blue : RowColour::Red, statusId, seconds, true);
  m_Log.PrintText(LoadEnglishStringById(statusId) + elapsed);
  m_StepStart.store(now);
  m_Log.Flush();
}

void CRowReporter::ShowPercent(int percent) {
  if (g_LastPercent.exchange(percent) == percent) {
    return;
  }
  const int row = m_CurrentRow.load();
  std::optional<RowRecord> written;
  {
    std::lock_guard<std::mutex> lock(m_RecordsLock);
    if (RowRecord* record = RecordOf(row)) {
      record->percent = percent;
      written = *record;
    }
  }
  if (m_pObserver != nullptr && written) m_pObserver->OnPercent(*written, row);
  if (m_pList != nullptr) {
    m_pList->SetItemText(row, COL_PERCENT, std::to_string(percent) + "%");
  }
}

void CRowReporter::MarkSkipped(int row, const std::string& text, int reasonId) {
  m_CurrentRow.store(row);
  WriteStatus(row, text, RowColour::Black, reasonId, std::nullopt, true);
}

void CRowReporter::StartStep() { m_StepStart.store(Clock().NowSeconds()); }

std::vector<RowRecord> CRowReporter::Rows() const {
  std::lock_guard<std::mutex> lock(m_RecordsLock);
  return m_Records;
}

int CRowReporter::LastPercentShown() { return g_LastPercent.load(); }

int CRowReporter::PercentOf(uint64_t done, uint64_t total) {
  if (total == 0 || done >= total) {
    return 100;
  }
  // done x 100 needs up to 71 bits
  const unsigned __int128 scaled = static_cast<unsigned __int128>(done) * 100u;
  return static_cast<int>(scaled / total);
}

std::string CRowReporter::FormatElapsed(int64_t seconds) {
  if (seconds < 0) {
    seconds = 0;
  }
  const int minutes = static_cast<int>((seconds / 60) % 60);
  const int secs = static_cast<int>(seconds % 60);
  char text[16];
  std::snprintf(text, sizeof text, " (%02d:%02d)", minutes, secs);
  return text;
}

std::string ShownVersion(const std::string& version) {
  for (const char* placeholder : {kForceLoadText, kVersionReadFailedText, kNoVersionText}) {
    if (version == placeholder) return Tr(placeholder);
  }
  return version;
}

void FitModuleColumns(IModuleList& list) {
  static constexpr int kColumnChars[5] = {16, 15, 15, 4, 20};
  list.SetRedraw(false);
  for (int column = 0; column < 5; ++column) {
    const int t = list.GetStringWidth(std::string(static_cast<size_t>(kColumnChars[column] + 2), '1'));
    list.SetColumnWidth(column, -1);
    const int w1 = list.GetColumnWidth(column);
    list.SetColumnWidth(column, -2);
    const int w2 = list.GetColumnWidth(column);
    list.SetColumnWidth(column, std::max({t, w1, w2}));
  }
  list.SetRedraw(true);
}
