#include "cli/CEventStream.h"

#include <time.h>

#include "upgrade/Advice.h"

namespace {

JsonValue Event(const char* name) {
  JsonValue event = JsonValue::object();
  event["event"] = name;
  event["schemaVersion"] = kCliSchemaVersion;
  event["time"] = CEventStream::MonotonicSeconds();
  return event;
}

JsonValue RowEvent(const char* name, const RowRecord& row, int rowIndex) {
  JsonValue event = Event(name);
  event["row"] = rowIndex;
  event["type"] = static_cast<int>(row.module);
  return event;
}

JsonValue OptionalText(const std::string& text) { return text.empty() ? JsonValue(nullptr) : JsonText(text); }

}  // namespace

double CEventStream::MonotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  // whole microseconds, so the number prints short
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec / 1000) / 1e6;
}

void CEventStream::Write(JsonValue event) {
  const std::string line = JsonDump(event);
  std::lock_guard<std::mutex> lock(m_Mutex);
  std::fprintf(m_Out, "%s\n", line.c_str());
  std::fflush(m_Out);
}

void CEventStream::OnStatus(const RowRecord& row, int rowIndex) {
  JsonValue event = RowEvent("status", row, rowIndex);
  event["status"] = JsonText(row.status);
  event["statusId"] = row.statusId;
  Write(std::move(event));
}

void CEventStream::OnPercent(const RowRecord& row, int rowIndex) {
  JsonValue event = RowEvent("progress", row, rowIndex);
  event["percent"] = row.percent.value_or(0);
  Write(std::move(event));
}

void CEventStream::OnFinal(const RowRecord& row, int rowIndex) {
  JsonValue event = RowEvent("final", row, rowIndex);
  event["status"] = JsonText(row.status);
  event["statusId"] = row.statusId;
  event["colour"] = CRowReporter::ColourName(row.colour);
  event["elapsedSeconds"] = row.elapsedSeconds ? JsonValue(*row.elapsedSeconds) : JsonValue(nullptr);
  event["advice"] = OptionalText(AdviceText(row.statusId));
  event["adviceCode"] = OptionalText(AdviceCode(row.statusId));
  Write(std::move(event));
}

int CEventStream::ShowWarning(const std::string& text) {
  JsonValue event = Event("warning");
  event["text"] = JsonText(text);
  Write(std::move(event));
  return m_Next != nullptr ? m_Next->ShowWarning(text) : 1;
}

void CEventStream::Check(const std::vector<CliModuleResult>& modules) {
  JsonValue event = Event("check");
  JsonValue rows = JsonValue::array();
  for (const CliModuleResult& m : modules) rows.push_back(ModuleResultToJson(m));
  event["modules"] = std::move(rows);
  Write(std::move(event));
}

void CEventStream::End(const CliResult& r) {
  JsonValue event = Event("end");
  event["command"] = JsonText(r.command);
  event["result"] = JsonText(r.result);
  event["exitStatus"] = r.exitStatus;
  event["reason"] = r.reason ? JsonText(*r.reason) : JsonValue(nullptr);
  event["reasonCode"] = r.reasonCode ? JsonText(*r.reasonCode) : JsonValue(nullptr);
  event["advice"] = r.advice ? JsonText(*r.advice) : JsonValue(nullptr);
  Write(std::move(event));
}
