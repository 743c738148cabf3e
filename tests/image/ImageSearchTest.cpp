// Where the images come from: the search order over the chosen folder, the embedded images, the
// program's folder and the data folders, and the line that names the source.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "TempDir.h"
#include "image/ImageSearch.h"

namespace {

// A program folder, a data home and two data folders, each with or without a ".bin" file.
class SearchTree {
 public:
  SearchTree() {
    for (const char* sub : {"/bin", "/home", "/home/.local", "/home/.local/share", "/data-home", "/dirs-a",
                            "/dirs-b", "/chosen"})
      mkdir((m_Dir.Path() + sub).c_str(), 0700);
    for (const char* sub : {"/home/.local/share", "/data-home", "/dirs-a", "/dirs-b"}) {
      mkdir((m_Dir.Path() + sub + "/qor-oneclick").c_str(), 0700);
      mkdir((m_Dir.Path() + sub + "/qor-oneclick/images").c_str(), 0700);
    }
  }
  std::string Path(const std::string& sub) const { return m_Dir.Path() + sub; }
  std::string Images(const std::string& base) const { return Path(base) + "/qor-oneclick/images"; }
  void Put(const std::string& folder, const std::string& name) const {
    std::ofstream(folder + "/" + name) << "x";
  }

 private:
  TempDir m_Dir;
};

struct Layout {
  const char* name;
  std::vector<std::string> filled;  // folders (relative to the tree) that get an "a.bin"
  bool embedded = false;
  std::optional<std::string> chosen;
  std::map<std::string, std::string> env;  // values may name tree folders as "@/sub"
  ImageSourceKind kind;
  std::string folder;  // expected, "@/sub" relative to the tree
  size_t searched;     // how many folders were looked at
};

TEST(ImageSearch, FirstFolderWithAnImageWinsInTheFixedOrder) {
  const std::map<std::string, std::string> xdg = {
      {"HOME", "@/home"}, {"XDG_DATA_HOME", "@/data-home"}, {"XDG_DATA_DIRS", "@/dirs-a:@/dirs-b"}};
  const std::string dataHome = "/data-home/qor-oneclick/images";
  const std::string dirsA = "/dirs-a/qor-oneclick/images";
  const std::string dirsB = "/dirs-b/qor-oneclick/images";
  const std::vector<Layout> layouts = {
      {"chosen folder even when empty",
       {"/bin", dataHome},
       true,
       "@/chosen",
       xdg,
       ImageSourceKind::Option,
       "@/chosen",
       1},
      {"embedded before the program's folder",
       {"/bin"},
       true,
       std::nullopt,
       xdg,
       ImageSourceKind::Embedded,
       "",
       0},
      {"program's folder",
       {"/bin", dataHome, dirsA},
       false,
       std::nullopt,
       xdg,
       ImageSourceKind::ExecutableFolder,
       "@/bin",
       1},
      {"data home",
       {dataHome, dirsA},
       false,
       std::nullopt,
       xdg,
       ImageSourceKind::DataHome,
       "@" + dataHome,
       2},
      {"first data folder",
       {dirsA, dirsB},
       false,
       std::nullopt,
       xdg,
       ImageSourceKind::DataDirs,
       "@" + dirsA,
       3},
      {"second data folder", {dirsB}, false, std::nullopt, xdg, ImageSourceKind::DataDirs, "@" + dirsB, 4},
      {"data home from HOME",
       {"/home/.local/share/qor-oneclick/images"},
       false,
       std::nullopt,
       {{"HOME", "@/home"}, {"XDG_DATA_DIRS", "@/dirs-a"}},
       ImageSourceKind::DataHome,
       "@/home/.local/share/qor-oneclick/images",
       2},
      {"relative entries are ignored",
       {dirsB},
       false,
       std::nullopt,
       {{"XDG_DATA_HOME", "relative"}, {"XDG_DATA_DIRS", "also/relative:@/dirs-b/"}},
       ImageSourceKind::DataDirs,
       "@" + dirsB,
       2},
      {"nothing anywhere", {}, false, std::nullopt, xdg, ImageSourceKind::NotFound, "@/bin", 4},
  };
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.name);
    SearchTree tree;
    auto resolve = [&](const std::string& v) {
      std::string out;
      size_t start = 0;
      // "@" stands for the tree in every colon-separated part
      for (;;) {
        const size_t end = v.find(':', start);
        std::string part = v.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty() && part[0] == '@') part = tree.Path(part.substr(1));
        out += (start == 0 ? "" : ":") + part;
        if (end == std::string::npos) break;
        start = end + 1;
      }
      return out;
    };
    for (const std::string& f : l.filled) tree.Put(tree.Path(f), "a.bin");
    std::map<std::string, std::string> env;
    for (const auto& [k, v] : l.env) env[k] = resolve(v);
    int embeddedCalls = 0;
    ImageSearchInput input;
    if (l.chosen) input.chosenFolder = resolve(*l.chosen);
    input.loadEmbedded = [&] {
      ++embeddedCalls;
      return l.embedded;
    };
    input.executableFolder = tree.Path("/bin");
    input.getenv = [&env](const char* name) -> const char* {
      auto it = env.find(name);
      return it == env.end() ? nullptr : it->second.c_str();
    };
    const ImageSource source = FindImageSource(input);
    EXPECT_EQ(source.kind, l.kind);
    EXPECT_EQ(source.folder, l.folder.empty() ? "" : resolve(l.folder));
    EXPECT_EQ(source.searched.size(), l.searched);
    // the embedded images are loaded only when the search reaches them
    EXPECT_EQ(embeddedCalls, l.chosen ? 0 : 1);
  }
}

TEST(ImageSearch, OnlyEntriesNamedBinThatAreNoFoldersCount) {
  struct Case {
    const char* name;
    bool folder;
    bool counts;
  };
  const Case cases[] = {
      {"app.bin", false, true},       {"APP.BIN", false, true},  {"x.Bin", false, true},
      {"app.bin.part", false, false}, {"bin", false, false},     {".bin", false, true},
      {"dir.bin", true, false},       {"app.img", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.folder)
      mkdir(dir.File(c.name).c_str(), 0700);
    else
      std::ofstream(dir.File(c.name)) << "x";
    EXPECT_EQ(FolderHasBinFile(dir.Path()), c.counts);
  }
  EXPECT_FALSE(FolderHasBinFile(""));
  EXPECT_FALSE(FolderHasBinFile("/nonexistent/qor-oneclick"));
}

TEST(ImageSearch, DataFoldersFollowTheBaseDirectoryDefaults) {
  struct Case {
    std::map<std::string, std::string> env;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {{{"HOME", "/home/t"}},
       {"/home/t/.local/share/qor-oneclick/images", "/usr/local/share/qor-oneclick/images",
        "/usr/share/qor-oneclick/images"}},
      {{{"HOME", "/home/t/"}, {"XDG_DATA_HOME", "/d/"}, {"XDG_DATA_DIRS", "/x::/y/"}},
       {"/d/qor-oneclick/images", "/x/qor-oneclick/images", "/y/qor-oneclick/images"}},
      {{}, {"/usr/local/share/qor-oneclick/images", "/usr/share/qor-oneclick/images"}},
      {{{"XDG_DATA_HOME", "/usr/share"}, {"XDG_DATA_DIRS", "/usr/share"}},
       {"/usr/share/qor-oneclick/images"}},
  };
  for (const Case& c : cases) {
    auto getenv = [&c](const char* name) -> const char* {
      auto it = c.env.find(name);
      return it == c.env.end() ? nullptr : it->second.c_str();
    };
    EXPECT_EQ(ImageDataFolders(getenv), c.expected);
  }
}

TEST(ImageSearch, TheLineNamesTheSourceAndWhereNothingWasFound) {
  const std::pair<ImageSource, const char*> cases[] = {
      {{ImageSourceKind::Option, "/srv/img", {"/srv/img"}}, "Images: /srv/img (given with --images)"},
      {{ImageSourceKind::Dropped, "/media/usb", {}}, "Images: /media/usb (dropped onto the window)"},
      {{ImageSourceKind::Demo, "/tmp/demo", {}}, "Images: /tmp/demo (the demo's sample images)"},
      {{ImageSourceKind::Embedded, "", {}}, "Images: embedded in the program"},
      {{ImageSourceKind::ExecutableFolder, "/opt/q", {"/opt/q"}}, "Images: /opt/q (the program's folder)"},
      {{ImageSourceKind::DataHome, "/h/i", {}}, "Images: /h/i ($XDG_DATA_HOME)"},
      {{ImageSourceKind::DataDirs, "/usr/share/qor-oneclick/images", {}},
       "Images: /usr/share/qor-oneclick/images ($XDG_DATA_DIRS)"},
      {{ImageSourceKind::NotFound, "/opt/q", {"/opt/q", "/h/i"}}, "Images: no .bin file in /opt/q, /h/i"},
  };
  for (const auto& [source, line] : cases) {
    EXPECT_EQ(DescribeImageSource(source, false), line);
    // without a catalogue the shown line is the same
    EXPECT_EQ(DescribeImageSource(source, true), line);
  }
}

}  // namespace
