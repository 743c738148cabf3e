#include "cli/CliResult.h"

#include <cstdio>

#include "platform/TextCodec.h"

std::string JsonString(const std::string& raw) {
  // texts from the device are 8-bit; make sure the document stays valid UTF-8
  const std::string text = IsValidUtf8(raw) ? raw : TextFrom8Bit(raw);
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string CliResultToJson(const CliResult& r) {
  std::string out = "{";
  out += "\"command\":" + JsonString(r.command);
  out += ",\"result\":" + JsonString(r.result);
  out += ",\"exitStatus\":" + std::to_string(r.exitStatus);
  out += ",\"reason\":" + (r.reason ? JsonString(*r.reason) : std::string("null"));
  out += ",\"router\":";
  if (r.routerFound) {
    out += "{\"ip\":" + JsonString(r.routerIp) + ",\"mac\":" + JsonString(r.routerMac) +
           ",\"text\":" + (r.routerText ? JsonString(*r.routerText) : std::string("null")) + "}";
  } else {
    out += "null";
  }
  out += ",\"modules\":[";
  for (size_t i = 0; i < r.modules.size(); ++i) {
    const CliModuleResult& m = r.modules[i];
    if (i) out += ",";
    out += "{\"type\":" + std::to_string(m.type);
    out += ",\"name\":" + JsonString(m.name);
    out += ",\"currentVersion\":" + JsonString(m.currentVersion);
    out += ",\"upgradeVersion\":" + JsonString(m.upgradeVersion);
    out += ",\"percent\":" + (m.percent ? std::to_string(*m.percent) : std::string("null"));
    out += ",\"status\":" + JsonString(m.status);
    out += ",\"colour\":" + JsonString(m.colour) + "}";
  }
  out += "],\"log\":" + JsonString(r.logPath) + "}";
  return out;
}
