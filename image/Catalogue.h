#pragma once

#include <string>
#include <vector>

class CDownloadLog;
class CImageSet;

// Fills the nine image slots of images from the embedded images (type "BINARY", ids 148, 144, 147,
// 160, 161, 162, 163, 146, 145 for types 0 to 8). True when at least one was loaded.
bool LoadEmbeddedImages(CImageSet& images);

// One file ending in ".bin" that a scan passed over, and why ("unit 0: block 7 CRC", "too short",
// "cannot open: Permission denied", "path refused", "unknown type", ...).
struct SkippedImage {
  std::string path;
  std::string reason;
};

// What a scan looked at, for the front ends and the log.
struct ImageScanReport {
  std::string folder;       // the folder scanned: absolute and canonical when it could be resolved
  std::string folderError;  // why the folder could not be read ("" when it could)
  std::vector<SkippedImage> skipped;
};

// The folder as a scan uses it: absolute and canonical (symbolic links, "." and ".." resolved), so
// the type rule (which looks for "ZRMP" in the full path) and the path-length rule see the image's
// real full path whichever way a front end named the folder. "" stands for the executable's folder.
// false when the folder does not exist, is not a folder or cannot be read: error is then the system's
// reason ("No such file or directory") and resolved the folder made absolute as far as it could be.
bool ResolveImageFolder(const std::string& folder, std::string& resolved, std::string& error);

// Frees every slot's image of images (the catalogue's reset), then fills the slots from the files
// ending in ".bin" in folder (see ResolveImageFolder). Each file is read and verified once; a valid file is
// moved into the slot of its type, so each accepted image is held in memory exactly once. Files
// that are not valid are skipped, each logged as "Skipped <path>: <reason>" and listed in the
// report. Shows warning 134 (two files of one type) or 135 (none valid: then also logs
// "没有找到至少一个有效的BIN文件" and "Folder scanned: <folder>", with the reason when the folder could not
// be read) through the warning sink and returns false; true when at least one valid file was taken.
bool ScanImageFiles(CImageSet& images, const std::string& folder, CDownloadLog& log,
                    ImageScanReport* report = nullptr);

// The names of the files of folder that end in ".bin" (any letter case), in the order the file
// system lists them.
std::vector<std::string> ListImageFiles(const std::string& folder);

// The folder that holds the running executable ("" if it cannot be found): the default scan folder.
std::string GetExecutableFolder();
