#include "image/ImageSearch.h"

#include <memory>
#include <vector>

#include "image/CImageCopy.h"
#include "platform/Translation.h"

namespace {

constexpr const char* kImagesSubfolder = "/qor-oneclick/images";

bool EndsWithBin(const std::string& name) {
  if (name.size() < 4) return false;
  const char* tail = name.c_str() + name.size() - 4;
  return tail[0] == '.' && (tail[1] | 0x20) == 'b' && (tail[2] | 0x20) == 'i' && (tail[3] | 0x20) == 'n';
}

std::string Env(const std::function<const char*(const char*)>& getenv, const char* name) {
  const char* value = getenv ? getenv(name) : nullptr;
  return value != nullptr ? std::string(value) : std::string();
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string Text(const char* english, bool translated) {
  return translated ? Tr(english) : std::string(english);
}

}  // namespace

bool FolderHasBinFile(const std::string& folder) {
  if (folder.empty()) return false;
  std::vector<std::string> names;
  if (!ListFolder(folder, &names)) return false;
  for (const std::string& name : names) {
    if (!EndsWithBin(name)) continue;
    FileIdentity file;
    // a folder named "x.bin" is no image; a link to a file is
    if (FileIdentity::OfPath(folder + "/" + name, &file) && file.regular) return true;
  }
  return false;
}

namespace {

struct DataFolder {
  std::string folder;
  ImageSourceKind kind;
};

std::vector<DataFolder> DataFolders(const std::function<const char*(const char*)>& getenv) {
  std::vector<DataFolder> folders;
  std::string home = Env(getenv, "XDG_DATA_HOME");
  if (home.empty() || home[0] != '/') {
    const std::string user = Env(getenv, "HOME");
    home = !user.empty() && user[0] == '/' ? WithoutTrailingSlash(user) + "/.local/share" : std::string();
  }
  if (!home.empty())
    folders.push_back({WithoutTrailingSlash(home) + kImagesSubfolder, ImageSourceKind::DataHome});

  std::string dirs = Env(getenv, "XDG_DATA_DIRS");
  if (dirs.empty()) dirs = "/usr/local/share/:/usr/share/";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string entry = dirs.substr(start, end - start);
    if (!entry.empty() && entry[0] == '/') {
      const std::string folder = WithoutTrailingSlash(entry) + kImagesSubfolder;
      bool seen = false;
      for (const DataFolder& f : folders) seen = seen || f.folder == folder;
      if (!seen) folders.push_back({folder, ImageSourceKind::DataDirs});
    }
    start = end + 1;
  }
  return folders;
}

}  // namespace

std::vector<std::string> ImageDataFolders(const std::function<const char*(const char*)>& getenv) {
  std::vector<std::string> out;
  for (const DataFolder& f : DataFolders(getenv)) out.push_back(f.folder);
  return out;
}

ImageSource FindImageSource(const ImageSearchInput& input) {
  ImageSource source;
  if (input.chosenFolder) {
    source.kind = input.chosenKind;
    source.folder = WithoutTrailingSlash(*input.chosenFolder);
    source.searched.push_back(source.folder);
    return source;
  }
  if (input.loadEmbedded && input.loadEmbedded()) {
    source.kind = ImageSourceKind::Embedded;
    return source;
  }
  std::vector<DataFolder> candidates;
  if (!input.executableFolder.empty())
    candidates.push_back({input.executableFolder, ImageSourceKind::ExecutableFolder});
  for (DataFolder& f : DataFolders(input.getenv)) candidates.push_back(std::move(f));
  for (const DataFolder& c : candidates) {
    source.searched.push_back(c.folder);
    if (FolderHasBinFile(c.folder)) {
      source.kind = c.kind;
      source.folder = c.folder;
      return source;
    }
  }
  source.kind = ImageSourceKind::NotFound;
  source.folder = input.executableFolder;
  return source;
}

std::string DescribeImageSource(const ImageSource& source, bool translated) {
  switch (source.kind) {
    case ImageSourceKind::Option:
      return FormatText(Text(N_("Images: %1 (given with --images)"), translated), {source.folder});
    case ImageSourceKind::Dropped:
      return FormatText(Text(N_("Images: %1 (dropped onto the window)"), translated), {source.folder});
    case ImageSourceKind::Demo:
      return FormatText(Text(N_("Images: %1 (the demo's sample images)"), translated), {source.folder});
    case ImageSourceKind::Embedded:
      return Text(N_("Images: embedded in the program"), translated);
    case ImageSourceKind::ExecutableFolder:
      return FormatText(Text(N_("Images: %1 (the program's folder)"), translated), {source.folder});
    case ImageSourceKind::DataHome:
      return FormatText(Text(N_("Images: %1 ($XDG_DATA_HOME)"), translated), {source.folder});
    case ImageSourceKind::DataDirs:
      return FormatText(Text(N_("Images: %1 ($XDG_DATA_DIRS)"), translated), {source.folder});
    case ImageSourceKind::NotFound:
      break;
  }
  std::string list;
  for (const std::string& folder : source.searched) list += (list.empty() ? "" : ", ") + folder;
  return FormatText(Text(N_("Images: no .bin file in %1"), translated), {list});
}
