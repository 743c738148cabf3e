#include "tools/ImageInspector.h"

#include <cstdio>

#include "image/CBinFile.h"
#include "platform/StringTable.h"

ImageInfo InspectImageFile(const std::string& path) {
  ImageInfo info;
  info.path = path;
  CBinFile file;
  file.SetFilePath(path);
  info.valid = file.OpenFile(MODULE_NONE);
  info.moduleType = file.GetModuleType();
  info.version = file.GetVersionText();
  info.reason = file.GetRejectReason();
  for (uint32_t i = 0; i < file.GetUnitCount(); ++i) {
    const UnitHeader& h = file.GetUnitHeader(i);
    UnitInfo u;
    u.loadAddress = h.loadAddress;
    u.dataLength = h.dataLength;
    u.blockSize = h.blockSize;
    u.blocks = h.blockSize ? static_cast<uint32_t>((uint64_t{h.dataLength} + h.blockSize - 1) / h.blockSize) : 0;
    info.units.push_back(u);
  }
  return info;
}

std::string JsonQuote(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += ch;  // UTF-8 passes as it stands
        }
    }
  }
  return out + "\"";
}

std::string FormatImageInfoJson(const std::vector<ImageInfo>& infos) {
  std::string out = "[";
  for (size_t i = 0; i < infos.size(); ++i) {
    const ImageInfo& f = infos[i];
    out += i ? ",\n " : "\n ";
    out += "{\"path\": " + JsonQuote(f.path) + ", \"valid\": " + (f.valid ? "true" : "false") +
           ", \"module_type\": " + std::to_string(f.moduleType) + ", \"version\": " + JsonQuote(f.version) +
           ", \"units\": [";
    for (size_t u = 0; u < f.units.size(); ++u) {
      const UnitInfo& x = f.units[u];
      out += u ? ", " : "";
      out += "{\"load_address\": " + std::to_string(x.loadAddress) + ", \"data_length\": " +
             std::to_string(x.dataLength) + ", \"block_size\": " + std::to_string(x.blockSize) +
             ", \"blocks\": " + std::to_string(x.blocks) + "}";
    }
    out += "]";
    if (!f.valid) out += ", \"reason\": " + JsonQuote(f.reason);
    out += "}";
  }
  out += infos.empty() ? "]\n" : "\n]\n";
  return out;
}

std::string FormatImageInfoText(const std::vector<ImageInfo>& infos) {
  std::string out;
  char buf[160];
  for (const ImageInfo& f : infos) {
    out += f.path + ": ";
    if (f.valid) {
      out += "valid, module type " + std::to_string(f.moduleType);
      if (f.moduleType >= 0 && f.moduleType < kModuleCount)
        out += " (" + LoadStringById(kModuleNameIds[f.moduleType]) + ")";
      out += ", version \"" + f.version + "\"\n";
    } else {
      out += "invalid (" + f.reason + ")\n";
    }
    for (size_t u = 0; u < f.units.size(); ++u) {
      const UnitInfo& x = f.units[u];
      std::snprintf(buf, sizeof buf, "  unit %zu: load address 0x%08X, data length %u, block size %u, blocks %u\n", u,
                    x.loadAddress, x.dataLength, x.blockSize, x.blocks);
      out += buf;
    }
  }
  return out;
}
