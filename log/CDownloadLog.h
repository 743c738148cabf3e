#pragma once

#include <cstdarg>
#include <string>

#include "platform/NonCopyable.h"
#include "platform/PrintfFormat.h"

// The upgrade log: time-stamped entries ("%Y-%m-%d %H:%M:%S " + message + CR LF) collected in memory
// and appended to QorUpgradeLog.txt in the user's state directory (see platform/UserDirs.h) when
// flushed. UTF-8, mode 0600, never truncated. The procedures flush at every final status of a row,
// after each module, at the end of each Check and at the end of the Upgrade run (that one also
// syncs), so a program killed in the middle loses at most the text of the step in progress.
//
// Every message is written as PrintableText (platform/TextCodec.h) with its line breaks kept: text
// from a device or a file cannot put terminal controls into a log that someone will print.
//
// Used by one worker thread at a time (no lock); the owner must not destroy it while a worker writes.
class CDownloadLog : public NonCopyable {
 public:
  // Log in the state directory.
  CDownloadLog();
  // Log at an explicit path (tests, the CLI's --log option). An empty path makes every flush fail.
  // The folder part may be reached through symbolic links (a user's own folder often is); the
  // file itself must not be one.
  explicit CDownloadLog(const std::string& filePath);
  ~CDownloadLog() override;  // flushes

  // printf-style entry. The message is cut at 1039 characters. Always returns 1.
  int Print(const char* format, ...) QOR_PRINTF_FORMAT(2, 3);
  int PrintV(const char* format, va_list args);
  // A ready-made text, taken as it stands (a '%' in it is not a conversion).
  int PrintText(const std::string& text);

  // Appends the pending text to the file and clears it. Returns 1 when written, 0 when nothing was
  // written (nothing pending, no path, the file could not be opened or locked, or the write failed:
  // then the pending text is kept and the file is left as it was). With sync, the written text is
  // also forced to the disk (fdatasync) before the flush returns.
  int Flush(bool sync = false);

  const std::string& GetFilePath() const { return m_FilePath; }
  bool IsPathValid() const { return m_PathValid; }
  const std::string& GetPending() const { return m_Buffer; }
  // Why the last flush that had text to write did not write it, or why there is no path; "" when
  // the last such flush succeeded or none was tried.
  const std::string& GetLastError() const { return m_LastError; }
  // Whether any flush of this object wrote text to the file.
  bool HasWritten() const { return m_Written; }

 private:
  std::string m_Buffer;
  std::string m_FilePath;
  bool m_PathValid = false;
  bool m_FollowFolderLinks = false;
  bool m_Written = false;
  std::string m_LastError;
};
