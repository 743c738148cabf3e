#include "image/Catalogue.h"

#include <errno.h>

#include <cstring>
#include <vector>

#include "image/CImageCopy.h"
#include "image/ImageSet.h"
#include "log/CDownloadLog.h"
#include "platform/StringTable.h"
#include "platform/Warnings.h"

namespace {
// "*.bin" with the suffix in any letter case, as a search on a case-insensitive file system matches it.
bool HasBinSuffix(const std::string& name) {
  if (name.size() < 4) return false;
  const std::string tail = name.substr(name.size() - 4);
  return tail[0] == '.' && (tail[1] | 0x20) == 'b' && (tail[2] | 0x20) == 'i' && (tail[3] | 0x20) == 'n';
}

}  // namespace

std::vector<std::string> ListImageFiles(const std::string& folder) {
  std::vector<std::string> names;
  std::vector<std::string> all;
  if (!ListFolder(folder, &all)) return names;
  for (const std::string& name : all)
    if (HasBinSuffix(name)) names.push_back(name);
  return names;
}

bool LoadEmbeddedImages(CImageSet& images) {
  bool any = false;
  for (ModuleType t : kAllModules) {
    if (images[t].LoadFromResource(kModuleResourceIds[ModuleIndex(t)])) any = true;
  }
  return any;
}

bool ResolveImageFolder(const std::string& folder, std::string& resolved, std::string& error) {
  error.clear();
  std::string given = folder.empty() ? GetExecutableFolder() : folder;
  if (given.empty()) {
    resolved.clear();
    error = "the program's folder cannot be found";
    return false;
  }
  if (!IsAbsolutePath(given)) {
    // absolute as far as it goes, for the message when the folder cannot be resolved
    const std::string cwd = CurrentFolder();
    if (!cwd.empty()) given = cwd + "/" + given;
  }
  resolved = given;
  std::string real;
  if (!ResolveFolderPath(given, &real)) {
    error = std::strerror(errno);
    return false;
  }
  resolved = real;
  return true;
}

bool ScanImageFiles(CImageSet& images, const std::string& folder, CDownloadLog& log,
                    ImageScanReport* report) {
  // the catalogue's reset: no copy of an earlier Check stays in memory beside the new ones
  images.Clear();
  ImageScanReport local;
  ImageScanReport& scan = report != nullptr ? *report : local;
  scan = ImageScanReport{};

  std::string dir;
  int count = 0;
  if (ResolveImageFolder(folder, dir, scan.folderError)) {
    const std::string prefix = dir == "/" ? dir : dir + "/";
    for (const std::string& name : ListImageFiles(dir)) {
      const std::string path = prefix + name;
      CBinFile probe;
      probe.SetFilePath(path);
      probe.OpenFile(MODULE_NONE);
      const ModuleType t = probe.GetModuleType();
      if (!probe.IsValid() || t == MODULE_NONE) {
        const std::string reason = probe.GetRejectReason().empty() ? "unknown type" : probe.GetRejectReason();
        log.PrintText("Skipped " + path + ": " + reason);
        scan.skipped.push_back({path, reason});
        continue;
      }
      CBinFile& slot = images[t];
      if (slot.IsValid()) {
        ShowMessage(IDS_DUPLICATE_IMAGES);
        scan.folder = dir;
        return false;
      }
      // read and verified once: the slot takes this copy rather than reading the file again
      slot.TakeFrom(probe);
      ++count;
    }
  }
  scan.folder = dir;

  if (count == 0) {
    ShowMessage(IDS_NO_VALID_IMAGE);
    log.PrintText("没有找到至少一个有效的BIN文件");  // not one valid BIN file was found
    log.PrintText("Folder scanned: " + dir + (scan.folderError.empty() ? "" : " (" + scan.folderError + ")"));
    return false;
  }
  return true;
}

std::string GetExecutableFolder() {
  const std::string path = ExecutablePath();
#ifdef _WIN32
  const size_t slash = path.find_last_of("\\/");
  // "C:\qor-oneclick-cli.exe": the drive's root keeps its separator
  if (slash == 2 && path[1] == ':') return path.substr(0, 3);
#else
  const size_t slash = path.rfind('/');
#endif
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}
