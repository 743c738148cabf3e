#include "cli/CliResult.h"

#include "platform/JsonWriter.h"

std::string JsonString(const std::string& text) { return JsonDump(JsonText(text)); }

namespace {
JsonValue OptionalText(const std::optional<std::string>& text) {
  return text ? JsonText(*text) : JsonValue(nullptr);
}
}  // namespace

std::string CliResultToJson(const CliResult& r) {
  JsonValue out = JsonValue::object();
  out["command"] = JsonText(r.command);
  out["result"] = JsonText(r.result);
  out["exitStatus"] = r.exitStatus;
  out["reason"] = OptionalText(r.reason);
  if (r.routerFound) {
    JsonValue router = JsonValue::object();
    router["ip"] = JsonText(r.routerIp);
    router["mac"] = JsonText(r.routerMac);
    router["text"] = OptionalText(r.routerText);
    out["router"] = std::move(router);
  } else {
    out["router"] = nullptr;
  }
  out["imageFolder"] = OptionalText(r.imageFolder);
  JsonValue skipped = JsonValue::array();
  for (const CliResult::Skipped& s : r.skipped) {
    JsonValue entry = JsonValue::object();
    entry["path"] = JsonText(s.path);
    entry["reason"] = JsonText(s.reason);
    skipped.push_back(std::move(entry));
  }
  out["skipped"] = std::move(skipped);
  JsonValue modules = JsonValue::array();
  for (const CliModuleResult& m : r.modules) {
    JsonValue entry = JsonValue::object();
    entry["type"] = m.type;
    entry["name"] = JsonText(m.name);
    entry["currentVersion"] = JsonText(m.currentVersion);
    entry["upgradeVersion"] = JsonText(m.upgradeVersion);
    entry["percent"] = m.percent ? JsonValue(*m.percent) : JsonValue(nullptr);
    entry["status"] = JsonText(m.status);
    entry["colour"] = JsonText(m.colour);
    modules.push_back(std::move(entry));
  }
  out["modules"] = std::move(modules);
  out["log"] = OptionalText(r.logPath);
  out["logError"] = OptionalText(r.logError);
  return JsonDump(out);
}
