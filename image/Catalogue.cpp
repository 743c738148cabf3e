#include "image/Catalogue.h"

#include <dirent.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "image/ModuleTable.h"
#include "log/CDownloadLog.h"
#include "platform/StringTable.h"
#include "platform/Warnings.h"

namespace {
struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

// "*.bin" as the original file search understood it: the suffix in any letter case.
bool HasBinSuffix(const std::string& name) {
  if (name.size() < 4) return false;
  const std::string tail = name.substr(name.size() - 4);
  return tail[0] == '.' && (tail[1] | 0x20) == 'b' && (tail[2] | 0x20) == 'i' && (tail[3] | 0x20) == 'n';
}

// The names in the order the file system lists them.
std::vector<std::string> ListBinFiles(const std::string& folder) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) return names;
  while (const dirent* e = readdir(dir.get())) {
    const std::string name = e->d_name;
    if (HasBinSuffix(name)) names.push_back(name);
  }
  return names;
}
}  // namespace

bool LoadEmbeddedImages() {
  bool any = false;
  for (int t = 0; t < kModuleCount; ++t) {
    if (g_ModuleRows[t].m_Image.LoadFromResource(kModuleResourceIds[t])) any = true;
  }
  return any;
}

bool ScanImageFiles(const std::string& folder, CDownloadLog& log) {
  for (ModuleRow& row : g_ModuleRows) row.m_Image.SetFilePath("");

  std::string dir = folder.empty() ? GetExecutableFolder() : folder;
  if (!dir.empty() && dir.back() == '/') dir.pop_back();

  int count = 0;
  for (const std::string& name : ListBinFiles(dir.empty() ? std::string("/") : dir)) {
    const std::string path = dir + "/" + name;
    ModuleType t;
    {
      CBinFile probe;
      probe.SetFilePath(path);
      probe.OpenFile(MODULE_NONE);
      t = probe.GetModuleType();
    }
    if (t == MODULE_NONE) continue;
    CBinFile& slot = g_ModuleRows[t].m_Image;
    if (slot.IsValid()) {
      ShowMessage(IDS_DUPLICATE_IMAGES);
      return false;
    }
    slot.SetFilePath(path);
    // the file can change between the two opens; only a file that is still valid is counted
    if (slot.OpenFile(t)) ++count;
  }

  if (count == 0) {
    ShowMessage(IDS_NO_VALID_IMAGE);
    log.PrintText("没有找到至少一个有效的BIN文件");
    return false;
  }
  return true;
}

std::string GetExecutableFolder() {
  std::vector<char> buf(4096);
  const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return {};
  std::string path(buf.data(), static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}
