#include "cli/CliResult.h"

#include "image/CBinFile.h"
#include "platform/Sha256.h"
#include "platform/Version.h"
#include "upgrade/Advice.h"

std::string JsonString(const std::string& text) { return JsonDump(JsonText(text)); }

ImageDigests DigestsOf(const ModulePlan& plan) {
  ImageDigests digests;
  for (ModuleType m : kAllModules) {
    const CBinFile* image = plan[m].image;
    if (image == nullptr || image->GetImageData() == nullptr) continue;
    digests[static_cast<size_t>(m)] =
        ImageDigest{image->GetFilePath(),
                    CSha256::Hex(image->GetImageData(), static_cast<size_t>(image->GetImageSize()))};
  }
  return digests;
}

std::vector<CliModuleResult> ModuleResultsOf(const CheckResult& check, const std::vector<RowRecord>& rows,
                                             const ImageDigests* digests) {
  std::vector<CliModuleResult> modules;
  if (!check.listed) return modules;
  for (const RowRecord& row : rows) {
    if (row.module == MODULE_NONE) continue;
    const PlannedModule& entry = check.plan[row.module];
    CliModuleResult m;
    m.type = row.module;
    m.name = ModuleDisplayName(row.module);
    if (entry.HasImage()) {
      m.currentVersion = entry.currentVersion;
      m.upgradeVersion = entry.imageVersion;
    }
    m.percent = row.percent;
    m.status = row.status;
    m.colour = CRowReporter::ColourName(row.colour);
    m.statusId = row.statusId;
    m.elapsedSeconds = row.elapsedSeconds;
    // a failure's row (red, or skipped for a reason) tells what to do next; a row still running has
    // no advice even when its step's text has one
    const bool failed = row.colour == RowColour::Red || (row.final && row.statusId != 0);
    const std::string advice = failed ? AdviceText(row.statusId) : std::string();
    if (!advice.empty()) {
      m.advice = advice;
      m.adviceCode = AdviceCode(row.statusId);
    }
    if (digests != nullptr) {
      if (const std::optional<ImageDigest>& digest = (*digests)[static_cast<size_t>(row.module)]) {
        m.imagePath = digest->path;
        m.imageSha256 = digest->sha256;
      }
    }
    modules.push_back(m);
  }
  return modules;
}

namespace {
JsonValue OptionalText(const std::optional<std::string>& text) {
  return text ? JsonText(*text) : JsonValue(nullptr);
}
}  // namespace

JsonValue ModuleResultToJson(const CliModuleResult& m) {
  JsonValue entry = JsonValue::object();
  entry["type"] = m.type;
  entry["name"] = JsonText(m.name);
  entry["currentVersion"] = JsonText(m.currentVersion);
  entry["upgradeVersion"] = JsonText(m.upgradeVersion);
  entry["percent"] = m.percent ? JsonValue(*m.percent) : JsonValue(nullptr);
  entry["status"] = JsonText(m.status);
  entry["statusId"] = m.statusId;
  entry["colour"] = JsonText(m.colour);
  entry["elapsedSeconds"] = m.elapsedSeconds ? JsonValue(*m.elapsedSeconds) : JsonValue(nullptr);
  entry["advice"] = OptionalText(m.advice);
  entry["adviceCode"] = OptionalText(m.adviceCode);
  if (m.imagePath) {
    JsonValue image = JsonValue::object();
    image["path"] = JsonText(*m.imagePath);
    image["sha256"] = JsonText(m.imageSha256.value_or(std::string()));
    entry["image"] = std::move(image);
  } else {
    entry["image"] = nullptr;
  }
  return entry;
}

std::string CliResultToJson(const CliResult& r) {
  JsonValue out = JsonValue::object();
  out["schemaVersion"] = kCliSchemaVersion;
  out["toolVersion"] = JsonText(QOR_PRODUCT_VERSION);
  out["command"] = JsonText(r.command);
  out["result"] = JsonText(r.result);
  out["exitStatus"] = r.exitStatus;
  out["reason"] = OptionalText(r.reason);
  out["reasonCode"] = OptionalText(r.reasonCode);
  out["advice"] = OptionalText(r.advice);
  if (r.routerFound) {
    JsonValue router = JsonValue::object();
    router["ip"] = JsonText(r.routerIp);
    router["mac"] = JsonText(r.routerMac);
    router["text"] = OptionalText(r.routerText);
    out["router"] = std::move(router);
  } else {
    out["router"] = nullptr;
  }
  JsonValue network = JsonValue::object();
  JsonValue subnets = JsonValue::array();
  for (const CliResult::Subnet& s : r.subnets) {
    JsonValue entry = JsonValue::object();
    entry["discoveryAddress"] = JsonText(s.discoveryAddress);
    entry["subnet"] = JsonText(s.subnet);
    JsonValue interfaces = JsonValue::array();
    for (const std::string& name : s.interfaces) interfaces.push_back(JsonText(name));
    entry["interfaces"] = std::move(interfaces);
    subnets.push_back(std::move(entry));
  }
  network["subnets"] = std::move(subnets);
  network["diagnosis"] = OptionalText(r.networkDiagnosis);
  network["diagnosisText"] = OptionalText(r.networkDiagnosisText);
  out["network"] = std::move(network);
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
  for (const CliModuleResult& m : r.modules) modules.push_back(ModuleResultToJson(m));
  out["modules"] = std::move(modules);
  out["log"] = OptionalText(r.logPath);
  out["logError"] = OptionalText(r.logError);
  return JsonDump(out);
}
