#include <charconv>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "sim/RouterSim.h"

namespace qorsim {
namespace {

using FieldRef = std::variant<bool Faults::*, int Faults::*, int64_t Faults::*, uint32_t Faults::*>;

struct FaultName {
  const char* name;
  FieldRef field;
  bool needsValue;  // counters and codes must be given a value
};

const FaultName kFaultNames[] = {
    {"no-discovery", &Faults::noDiscovery, false},
    {"discovery-junk", &Faults::discoveryJunk, true},
    {"discovery-bad-fcs", &Faults::discoveryBadFcs, false},
    {"discovery-zero-mac", &Faults::discoveryZeroMac, false},
    {"discovery-flood", &Faults::discoveryFloodMs, true},
    {"no-presence", &Faults::noPresence, false},
    {"presence-drop", &Faults::presenceDrop, true},
    {"presence-late", &Faults::presenceLateMs, true},
    {"erase-refuse", &Faults::eraseRefuse, false},
    {"force-load-refuse", &Faults::forceLoadRefuse, false},
    {"control-corrupt", &Faults::controlCorrupt, false},
    {"telnet-closed", &Faults::telnetClosed, false},
    {"telnet-unanswered", &Faults::telnetUnanswered, false},
    {"telnet-refuse", &Faults::telnetRefuse, false},
    {"telnet-silent", &Faults::telnetSilent, false},
    {"telnet-no-colon", &Faults::telnetNoColon, false},
    {"telnet-bad-user", &Faults::telnetBadUser, false},
    {"telnet-bad-password", &Faults::telnetBadPassword, false},
    {"cfe-fail", &Faults::cfeFail, false},
    {"app-fail", &Faults::appFail, false},
    {"version-fail", &Faults::versionFail, false},
    {"resversion-fail", &Faults::resversionFail, false},
    {"link-closed", &Faults::linkClosed, false},
    {"link-unanswered", &Faults::linkUnanswered, false},
    {"link-drop", &Faults::linkDrop, false},
    {"reset-after-bytes", &Faults::resetAfterBytes, true},
    {"reset-after-blocks", &Faults::resetAfterBlocks, true},
    {"router-result", &Faults::routerResult, true},
    {"router-no-result", &Faults::routerNoResult, false},
    {"reset-after-image", &Faults::resetAfterImage, false},
    {"close-after-image", &Faults::closeAfterImage, false},
    {"handshake-fail", &Faults::handshakeFail, true},
    {"handshake-short", &Faults::handshakeShort, false},
    {"handshake-status", &Faults::handshakeStatus, true},
    {"handshake-downloader", &Faults::handshakeDownloader, false},
    {"handshake-offline", &Faults::handshakeOffline, false},
    {"board-version-fail", &Faults::boardVersionFail, false},
    {"iso-version-fail", &Faults::isoVersionFail, false},
    {"iso-no-version", &Faults::isoNoVersion, false},
    {"nv-backup-reason", &Faults::nvBackupReason, true},
    {"nv-restore-fail", &Faults::nvRestoreFail, false},
    {"mode-refuse", &Faults::modeRefuse, false},
    {"switch-refuse", &Faults::switchRefuse, false},
    {"unlock-refuse", &Faults::unlockRefuse, false},
    {"write-nak", &Faults::writeNak, true},
    {"write-silent", &Faults::writeSilent, false},
    {"reset-refuse", &Faults::resetRefuse, false},
    {"never-back", &Faults::neverBack, false},
    {"back-in-downloader", &Faults::backInDownloader, false},
};

bool ParseBool(const std::string& v, bool& out) {
  if (v == "1" || v == "on" || v == "true" || v == "yes") {
    out = true;
    return true;
  }
  if (v == "0" || v == "off" || v == "false" || v == "no") {
    out = false;
    return true;
  }
  return false;
}

bool ParseInt(const std::string& v, int64_t lo, int64_t hi, int64_t& out) {
  if (v.empty()) return false;
  const char* end = v.data() + v.size();
  auto [p, ec] = std::from_chars(v.data(), end, out);
  return ec == std::errc() && p == end && out >= lo && out <= hi;
}

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

}  // namespace

std::vector<std::string> FaultNames() {
  std::vector<std::string> names;
  for (const auto& f : kFaultNames) names.push_back(std::string(f.name) + (f.needsValue ? "=N" : ""));
  return names;
}

bool ParseFault(const std::string& spec, Faults& faults, std::string* error) {
  std::string name = spec;
  std::string value;
  bool hasValue = false;
  if (auto eq = spec.find('='); eq != std::string::npos) {
    name = spec.substr(0, eq);
    value = spec.substr(eq + 1);
    hasValue = true;
  }
  for (const auto& f : kFaultNames) {
    if (name != f.name) continue;
    if (f.needsValue && !hasValue) {
      SetError(error, "fault '" + name + "' needs a value (" + name + "=N)");
      return false;
    }
    bool ok = std::visit(
        [&](auto member) {
          using T = std::remove_reference_t<decltype(faults.*member)>;
          if constexpr (std::is_same_v<T, bool>) {
            bool b = true;
            if (hasValue && !ParseBool(value, b)) return false;
            faults.*member = b;
          } else {
            int64_t n = 0;
            int64_t lo = std::is_same_v<T, int64_t> ? -1 : 0;
            int64_t hi = std::is_same_v<T, int> ? 0x7FFFFFFF
                                                : (std::is_same_v<T, uint32_t> ? 0xFFFFFFFFLL : INT64_MAX);
            if (!ParseInt(value, lo, hi, n)) return false;
            faults.*member = static_cast<T>(n);
          }
          return true;
        },
        f.field);
    if (!ok) {
      SetError(error, "fault '" + name + "': bad value '" + value + "'");
      return false;
    }
    return true;
  }
  SetError(error, "unknown fault '" + name + "'");
  return false;
}

bool ParseFaults(const std::string& list, Faults& faults, std::string* error) {
  Faults work = faults;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string item = list.substr(start, comma - start);
    if (!item.empty() && !ParseFault(item, work, error)) return false;
    start = comma + 1;
  }
  faults = work;
  return true;
}

}  // namespace qorsim
