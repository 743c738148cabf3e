#pragma once

#include <string>

class CDownloadLog;

// Fills the nine image slots of g_ModuleRows from the embedded images (type "BINARY", ids 148, 144,
// 147, 160, 161, 162, 163, 146, 145 for types 0 to 8). True when at least one was loaded.
bool LoadEmbeddedImages();

// Empties the nine slots and fills them from the files ending in ".bin" in folder. Shows warning 134
// (two files of one type) or 135 (none valid, and logs "没有找到至少一个有效的BIN文件") through the
// warning sink and returns false; true when at least one valid file was taken.
bool ScanImageFiles(const std::string& folder, CDownloadLog& log);

// The folder that holds the running executable ("" if it cannot be found): the default scan folder.
std::string GetExecutableFolder();
