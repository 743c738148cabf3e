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
// Which log of the state directory: the technician's, or the one of the demonstration (a demo run
// against the built-in emulator must never put its lines among those of real routers).
enum class LogKind { Technician, Demo };

class CDownloadLog : public NonCopyable {
 public:
  // The technician's log in the state directory.
  CDownloadLog();
  // The log of that kind in the state directory.
  explicit CDownloadLog(LogKind kind);
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

  // The file name of a log of the state directory ("QorUpgradeLog.txt", "QorUpgradeLog-demo.txt").
  static const char* FileName(LogKind kind);
  // Its full path; false with why in error when there is no state directory.
  static bool DefaultPath(LogKind kind, std::string& path, std::string& error);

  // Puts the run's header before every entry not yet flushed, so it is the run's first line:
  // "QorOneClick <version>, <frontEnd>, time zone <name> (UTC+hh:mm)". Call once, when the
  // front end has set the log up.
  void WriteRunHeader(const std::string& frontEnd);
  // The header's text (without the time stamp).
  static std::string RunHeaderText(const std::string& frontEnd);

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
