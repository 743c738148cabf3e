#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Where the upgrade images come from. The first source that holds at least one ".bin" file wins:
//   1. a folder the technician chose (--images DIR, or a folder dropped onto the window's list; the
//      demos choose their sample folder); it is used even when it holds no image, so the Check says
//      so instead of quietly taking images from elsewhere
//   2. the images embedded in the program, when the build carries them
//   3. the program's own folder (a portable copy with its images beside it)
//   4. $XDG_DATA_HOME/qor-oneclick/images (default ~/.local/share/qor-oneclick/images)
//   5. each $XDG_DATA_DIRS entry + /qor-oneclick/images (default /usr/local/share, /usr/share), so a
//      package of images can install into /usr/share/qor-oneclick/images
// When none holds an image the program's folder is scanned, and the Check reports that no valid
// image was found.

enum class ImageSourceKind {
  Option,            // --images DIR
  Dropped,           // a folder dropped onto the window's list
  Demo,              // the demo's sample images
  Embedded,          // compiled into the program
  ExecutableFolder,  // beside the program
  DataHome,          // $XDG_DATA_HOME/qor-oneclick/images
  DataDirs,          // an $XDG_DATA_DIRS entry
  NotFound,          // no folder holds a ".bin" file
};

struct ImageSource {
  ImageSourceKind kind = ImageSourceKind::NotFound;
  // The folder the Check scans; "" for the embedded images.
  std::string folder;
  // The folders looked at, in order (what a NotFound line lists).
  std::vector<std::string> searched;
};

struct ImageSearchInput {
  // A folder the technician chose, and how (Option, Dropped or Demo).
  std::optional<std::string> chosenFolder;
  ImageSourceKind chosenKind = ImageSourceKind::Option;
  // Loads the embedded images into the module table; true when the build carries at least one.
  // Called only when the search reaches that step; absent means the build carries none.
  std::function<bool()> loadEmbedded;
  std::string executableFolder;
  // getenv, replaceable for tests.
  std::function<const char*(const char*)> getenv;
};

ImageSource FindImageSource(const ImageSearchInput& input);

// The data folders of step 4 and 5, in order, from XDG_DATA_HOME (or HOME), and XDG_DATA_DIRS.
// Relative entries are ignored, as the base-directory rules ask.
std::vector<std::string> ImageDataFolders(const std::function<const char*(const char*)>& getenv);

// True when folder holds an entry named "*.bin" (any letter case) that is not a folder.
bool FolderHasBinFile(const std::string& folder);

// One line naming the source, for the log (English) and for the user (translated):
// "Images: /usr/share/qor-oneclick/images ($XDG_DATA_DIRS)".
std::string DescribeImageSource(const ImageSource& source, bool translated);
