#include "tools/ImageInspector.h"

#include <cstdio>

#include "image/CBinFile.h"
#include "platform/JsonWriter.h"
#include "platform/StringTable.h"
#include "platform/TextCodec.h"

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
    u.blocks =
        h.blockSize ? static_cast<uint32_t>((uint64_t{h.dataLength} + h.blockSize - 1) / h.blockSize) : 0;
    info.units.push_back(u);
  }
  return info;
}

std::string FormatImageInfoJson(const std::vector<ImageInfo>& infos) {
  JsonValue list = JsonValue::array();
  for (const ImageInfo& f : infos) {
    JsonValue file = JsonValue::object();
    file["path"] = JsonText(f.path);
    file["valid"] = f.valid;
    file["moduleType"] = f.moduleType;
    file["version"] = JsonText(f.version);
    JsonValue units = JsonValue::array();
    for (const UnitInfo& x : f.units) {
      JsonValue unit = JsonValue::object();
      unit["loadAddress"] = x.loadAddress;
      unit["dataLength"] = x.dataLength;
      unit["blockSize"] = x.blockSize;
      unit["blocks"] = x.blocks;
      units.push_back(std::move(unit));
    }
    file["units"] = std::move(units);
    if (!f.valid) file["reason"] = JsonText(f.reason);
    list.push_back(std::move(file));
  }
  return JsonDump(list, 2) + "\n";
}

std::string FormatImageInfoText(const std::vector<ImageInfo>& infos) {
  std::string out;
  char buf[160];
  for (const ImageInfo& f : infos) {
    // the name and the version come from the file: shown, never obeyed by the terminal
    out += PrintableText(f.path) + ": ";
    if (f.valid) {
      out += "valid, module type " + std::to_string(f.moduleType);
      if (f.moduleType >= 0 && f.moduleType < kModuleCount)
        out += " (" + LoadStringById(kModuleNameIds[f.moduleType]) + ")";
      out += ", version \"" + PrintableText(f.version) + "\"\n";
    } else {
      out += "invalid (" + PrintableText(f.reason) + ")\n";
    }
    for (size_t u = 0; u < f.units.size(); ++u) {
      const UnitInfo& x = f.units[u];
      std::snprintf(buf, sizeof buf,
                    "  unit %zu: load address 0x%08X, data length %u, block size %u, blocks %u\n", u,
                    x.loadAddress, x.dataLength, x.blockSize, x.blocks);
      out += buf;
    }
  }
  return out;
}
