#pragma once

#include <cstdarg>
#include <string>

#include "platform/NonCopyable.h"

// The upgrade log: time-stamped entries ("%Y-%m-%d %H:%M:%S " + message + CR LF) collected in memory
// and appended to QorUpgradeLog.txt in the user's state directory (see platform/UserDirs.h) only when
// flushed. UTF-8, mode 0600, never truncated.
//
// Used by one worker thread at a time (no lock); the owner must not destroy it while a worker writes.
class CDownloadLog : public NonCopyable {
 public:
  // Log in the state directory.
  CDownloadLog();
  // Log at an explicit path (tests, the CLI's --log option). An empty path makes every flush fail.
  explicit CDownloadLog(const std::string& filePath);
  ~CDownloadLog() override;  // flushes

  // printf-style entry. The message is cut at 1039 characters. Always returns 1.
  int Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int PrintV(const char* format, va_list args);
  // A ready-made text, taken as it stands (a '%' in it is not a conversion).
  int PrintText(const std::string& text);

  // Appends the pending text to the file and clears it. Returns 1 when written, 0 when nothing was
  // written (nothing pending, no path, the file could not be opened or locked, or the write failed:
  // then the pending text is kept and the file is left as it was).
  int Flush();

  const std::string& GetFilePath() const { return m_FilePath; }
  bool IsPathValid() const { return m_PathValid; }
  const std::string& GetPending() const { return m_Buffer; }

 private:
  std::string m_Buffer;
  std::string m_FilePath;
  bool m_PathValid = false;
};
