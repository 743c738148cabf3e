#include "upgrade/SupportReport.h"

#include <errno.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "image/Catalogue.h"
#include "image/ImageSet.h"
#include "platform/Sha256.h"
#include "platform/TarGz.h"
#include "platform/UserDirs.h"
#include "platform/Version.h"
#include "upgrade/SupportReportSystem.h"

namespace {

// The file's bytes, or its last `limit` bytes; false with why when it cannot be read.
bool ReadFileTail(const std::string& path, size_t limit, std::string& data, bool& cut, std::string& error) {
  cut = false;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = std::strerror(errno);
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  std::streamoff from = 0;
  if (size > static_cast<std::streamoff>(limit)) {
    from = size - static_cast<std::streamoff>(limit);
    cut = true;
  }
  in.seekg(from);
  data.assign(static_cast<size_t>(size - from), '\0');
  in.read(data.data(), static_cast<std::streamsize>(data.size()));
  if (!in) {
    error = "read failed";
    return false;
  }
  return true;
}

std::string VersionText(const std::string& frontEnd) {
  std::string text = std::string("QorOneClick ") + kProductVersion + "\n";
  text += "front end: " + frontEnd + "\n";
#if defined(__clang__)
  text += std::string("compiler: clang ") + __clang_version__ + "\n";
#elif defined(__GNUC__)
  text += std::string("compiler: GCC ") + __VERSION__ + "\n";
#endif
#if defined(NDEBUG)
  text += "build: optimised\n";
#else
  text += "build: with assertions\n";
#endif
#if defined(__SANITIZE_ADDRESS__)
  text += "sanitizers: address\n";
#endif
  return text + KernelText();
}

JsonValue ImageEntry(const std::string& path, const std::string& name, const CBinFile* verified) {
  JsonValue entry;
  entry["name"] = JsonText(name);
  entry["path"] = JsonText(path);
  if (verified) {
    entry["size"] = verified->GetImageSize();
    entry["moduleType"] = static_cast<int>(verified->GetModuleType());
    entry["version"] = JsonText(verified->GetVersionText());
    entry["sha256"] = CSha256::Hex(verified->GetImageData(), static_cast<size_t>(verified->GetImageSize()));
    entry["valid"] = true;
    return entry;
  }
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) entry["size"] = static_cast<uint64_t>(st.st_size);
  CBinFile probe;
  probe.SetFilePath(path);
  probe.OpenFile(MODULE_NONE);
  const bool valid = probe.IsValid() && probe.GetModuleType() != MODULE_NONE;
  if (valid) {
    entry["moduleType"] = static_cast<int>(probe.GetModuleType());
    entry["version"] = JsonText(probe.GetVersionText());
    // the digest of the copy that was read and verified, which is what a Check would send
    entry["sha256"] = CSha256::Hex(probe.GetImageData(), static_cast<size_t>(probe.GetImageSize()));
  } else {
    std::string error;
    const std::string digest = Sha256OfFile(path, error);
    entry["sha256"] = digest.empty() ? JsonValue() : JsonValue(digest);
  }
  entry["valid"] = valid;
  if (!valid)
    entry["reason"] = JsonText(probe.GetRejectReason().empty() ? "unknown type" : probe.GetRejectReason());
  return entry;
}

}  // namespace

std::string DefaultSupportReportName(std::time_t now) {
  tm local{};
  LocalTimeOf(now, &local);
  char name[64];
  std::strftime(name, sizeof name, "qor-support-%Y%m%d-%H%M%S.tar.gz", &local);
  return name;
}

JsonValue ImagesSummary(const std::string& folder, const CImageSet* embeddedImages) {
  JsonValue summary;
  summary["images"] = JsonValue::array();
  if (embeddedImages) {
    summary["source"] = "embedded";
    for (ModuleType m : kAllModules) {
      const CBinFile& image = (*embeddedImages)[m];
      if (!image.IsValid()) continue;
      const std::string name = "resource " + std::to_string(image.GetResourceId());
      summary["images"].push_back(ImageEntry(name, name, &image));
    }
    return summary;
  }
  summary["source"] = "folder";
  summary["folder"] = JsonText(folder);
  if (folder.empty()) return summary;
  std::string resolved;
  std::string error;
  if (!ResolveImageFolder(folder, resolved, error)) {
    summary["folderError"] = JsonText(error);
    return summary;
  }
  summary["folder"] = JsonText(resolved);
  const std::string prefix = resolved == "/" ? resolved : resolved + "/";
  for (const std::string& name : ListImageFiles(resolved))
    summary["images"].push_back(ImageEntry(prefix + name, name, nullptr));
  return summary;
}

std::string LastCheckPathFor(const std::string& logPath) { return FolderOf(logPath) + "/QorLastCheck.json"; }

bool SaveLastCheck(const std::string& logPath, const std::string& document, std::string& error) {
  if (logPath.empty()) {
    error = "no log folder";
    return false;
  }
  return WriteFileAtomically(LastCheckPathFor(logPath), document + "\n", error);
}

bool WriteSupportReport(const SupportReportInput& input, const std::string& outputPath, std::string& error) {
  std::string top = BaseName(outputPath);
  for (const char* suffix : {".tar.gz", ".tgz"}) {
    const std::string s = suffix;
    if (top.size() > s.size() && top.compare(top.size() - s.size(), s.size(), s) == 0) {
      top.erase(top.size() - s.size());
      break;
    }
  }
  if (top.empty() || top.size() > 60) top = "qor-support";
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  std::vector<TarEntry> entries;
  std::string manifest = "QorOneClick support report\n";
  auto add = [&](const std::string& name, const std::string& data, const std::string& what) {
    entries.push_back({top + "/" + name, data, now});
    manifest += name + ": " + what + "\n";
  };

  add("version.txt", VersionText(input.frontEnd), "the tool's version and build");
  {
    std::string data;
    bool cut = false;
    std::string why;
    if (ReadFileTail("/etc/os-release", 1 << 16, data, cut, why) ||
        ReadFileTail("/usr/lib/os-release", 1 << 16, data, cut, why))
      add("os-release.txt", data, "the OS release");
    else
      manifest += "os-release.txt: missing, the OS release cannot be read (" + why + ")\n";
  }
  add("network.txt", NetworkSummary(), kNetworkSummaryWhat);
  {
    std::string data;
    bool cut = false;
    std::string why;
    if (!input.logPath.empty() && ReadFileTail(input.logPath, kLogTailBytes, data, cut, why))
      add(BaseName(input.logPath), data,
          cut ? "the log's last " + std::to_string(kLogTailBytes >> 20) + " MiB (" + input.logPath + ")"
              : "the log (" + input.logPath + ")");
    else
      manifest += "log: missing, " +
                  (input.logPath.empty() ? std::string("no log file") : input.logPath + ": " + why) + "\n";
  }
  {
    std::string data;
    bool cut = false;
    std::string why;
    if (!input.lastCheckPath.empty() && ReadFileTail(input.lastCheckPath, 1 << 20, data, cut, why))
      add("last-check.json", data, "the last Check's result (" + input.lastCheckPath + ")");
    else
      manifest += "last-check.json: missing, no Check was saved\n";
  }
  add("images.json", JsonDump(ImagesSummary(input.imageFolder, input.embeddedImages), 2) + "\n",
      "the images' names, sizes, versions and SHA-256 (not the images)");
  entries.insert(entries.begin(), TarEntry{top + "/manifest.txt", manifest, now});

  std::string tar;
  std::string compressed;
  if (!BuildTar(entries, tar, error) || !GzipCompress(tar, compressed, error)) return false;
  return WriteFileAtomically(outputPath, compressed, error);
}
