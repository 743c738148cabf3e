#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "log/CDownloadLog.h"
#include "platform/Clock.h"
#include "support/TempDir.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// Splits on CR LF; a message with its own line break stays inside one entry.
std::vector<std::string> Entries(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2)
    out.push_back(text.substr(start, pos - start));
  EXPECT_EQ(start, text.size()) << "the text ends with CR LF";
  return out;
}

const std::regex kStamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} )");

TEST(DownloadLogFormat, EntriesAreStampedAndEndWithCrLf) {
  TempDir dir;
  const std::string path = dir.File("QorUpgradeLog.txt");
  {
    CDownloadLog log(path);
    EXPECT_EQ(log.Print("Unit%d Block%d: Download Fail", 2, 17), 1);
    EXPECT_EQ(log.Print("Sending RUT Begin Pkt"), 1);
    log.Print("%s", "");
    log.Print("%02X-%02X", 0x0A, 0xFF);
    log.PrintText("system error text\n");
    log.PrintText("100% done, %s %d %n");  // a ready-made text with '%' in it
    log.PrintText("没有找到至少一个有效的BIN文件");
  }  // the destructor flushes
  const std::vector<std::string> entries = Entries(ReadFile(path));
  const std::vector<std::string> messages = {
      "Unit2 Block17: Download Fail", "Sending RUT Begin Pkt",        "", "0A-FF", "system error text\n",
      "100% done, %s %d %n",          "没有找到至少一个有效的BIN文件"};
  ASSERT_EQ(entries.size(), messages.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_TRUE(std::regex_search(entries[i], kStamp)) << entries[i];
    ASSERT_GE(entries[i].size(), 20u);
    EXPECT_EQ(entries[i].substr(20), messages[i]);
  }
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(DownloadLogFormat, LongMessagesAreCutInsideTheFormatBuffer) {
  CDownloadLog log("");
  const std::string longText(5000, 'x');
  log.Print("%s", longText.c_str());
  EXPECT_EQ(log.GetPending().size(), 20u + 1039 + 2);
  // a cut never splits a multi-byte character
  std::string chinese;
  for (int i = 0; i < 500; ++i) chinese += "文";  // 3 bytes each; 1039 is not a multiple of 3
  CDownloadLog log2("");
  log2.Print("%s", chinese.c_str());
  const std::string msg = log2.GetPending().substr(20, log2.GetPending().size() - 22);
  EXPECT_EQ(msg.size(), 1038u);
  EXPECT_EQ(msg, chinese.substr(0, 1038));
  // a ready-made text is not cut
  CDownloadLog log3("");
  log3.PrintText(longText);
  EXPECT_EQ(log3.GetPending().size(), 20u + 5000 + 2);
}

TEST(DownloadLogFile, NothingPendingCreatesNoFileAndNoPathNeverWrites) {
  TempDir dir;
  const std::string path = dir.File("QorUpgradeLog.txt");
  {
    CDownloadLog log(path);
    EXPECT_EQ(log.Flush(), 0);
  }
  EXPECT_FALSE(Exists(path));

  CDownloadLog noPath("");
  EXPECT_FALSE(noPath.IsPathValid());
  noPath.Print("kept %d", 1);
  EXPECT_EQ(noPath.Flush(), 0);
  EXPECT_NE(noPath.GetPending().find("kept 1\r\n"), std::string::npos);
}

TEST(DownloadLogFile, FlushesAppendAcrossObjectsAndNeverRewrite) {
  TempDir dir;
  const std::string path = dir.File("QorUpgradeLog.txt");
  {
    CDownloadLog check(path);
    check.Print("check %d", 1);
    CDownloadLog other(path);
    other.Print("first run");
    EXPECT_EQ(other.Flush(), 1);
    EXPECT_TRUE(other.GetPending().empty());
    EXPECT_EQ(other.Flush(), 0);
    check.Print("upgrade");
    check.Print("%s", std::string(50, '+').c_str());
    EXPECT_EQ(check.Flush(), 1);
  }
  {
    CDownloadLog second(path);
    second.Print("second run");
  }
  const std::vector<std::string> entries = Entries(ReadFile(path));
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0].substr(20), "first run");
  EXPECT_EQ(entries[1].substr(20), "check 1");
  EXPECT_EQ(entries[2].substr(20), "upgrade");
  EXPECT_EQ(entries[3].substr(20), std::string(50, '+'));
  EXPECT_EQ(entries[4].substr(20), "second run");
}

// Another holder of the lock makes a flush give up after a short wait, keeping its text; the next
// flush writes the entries of both periods in order.
TEST(DownloadLogFile, ALockedFileKeepsTheTextForTheNextFlush) {
  ScaledClock fast(20);
  ScopedClock useFast(fast);
  TempDir dir;
  const std::string path = dir.File("QorUpgradeLog.txt");
  const int holder = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);

  CDownloadLog log(path);
  log.Print("before");
  EXPECT_EQ(log.Flush(), 0);
  EXPECT_EQ(ReadFile(path), "");
  log.Print("during");
  EXPECT_EQ(log.Flush(), 0);

  ASSERT_EQ(flock(holder, LOCK_UN), 0);
  close(holder);
  log.Print("after");
  EXPECT_EQ(log.Flush(), 1);
  const std::vector<std::string> entries = Entries(ReadFile(path));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].substr(20), "before");
  EXPECT_EQ(entries[1].substr(20), "during");
  EXPECT_EQ(entries[2].substr(20), "after");
}

// A write cut short (here by a file size limit, as a full disk would) leaves the file as it was and
// keeps everything pending. Run in a child process so the limit does not touch the test runner.
TEST(DownloadLogFile, AShortWriteIsTakenBackAndTheTextKept) {
  TempDir dir;
  const std::string path = dir.File("QorUpgradeLog.txt");
  {
    CDownloadLog log(path);
    log.Print("earlier entry");
  }
  const std::string before = ReadFile(path);
  ASSERT_FALSE(before.empty());

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit lim{};
    lim.rlim_cur = lim.rlim_max = before.size() + 100;
    if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(10);
    CDownloadLog log(path);
    log.PrintText(std::string(5000, 'y'));
    const std::string pending = log.GetPending();
    if (log.Flush() != 0) _exit(11);
    if (log.GetPending() != pending) _exit(12);
    if (ReadFile(path) != before) _exit(13);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "10 setrlimit, 11 flush reported success, 12 text lost, 13 file changed";
  EXPECT_EQ(ReadFile(path), before);
}

TEST(DownloadLogFile, APlantedLinkOrForeignFileIsNotWrittenThrough) {
  TempDir dir;
  const std::string target = dir.File("victim.txt");
  { std::ofstream(target) << "precious"; }
  const std::string link = dir.File("QorUpgradeLog.txt");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  {
    CDownloadLog log(link);
    log.Print("entry");
    EXPECT_EQ(log.Flush(), 0);
    EXPECT_FALSE(log.GetPending().empty());
    // a hard link to another file of ours is refused too
    ASSERT_EQ(unlink(link.c_str()), 0);
    ASSERT_EQ(::link(target.c_str(), link.c_str()), 0);
    EXPECT_EQ(log.Flush(), 0);
    ASSERT_EQ(unlink(link.c_str()), 0);
    if (geteuid() == 0) {
      // a file of another owner (only root can make one here)
      { std::ofstream(link) << "theirs"; }
      ASSERT_EQ(chown(link.c_str(), 65534, 65534), 0);
      EXPECT_EQ(log.Flush(), 0);
      EXPECT_EQ(ReadFile(link), "theirs");
      ASSERT_EQ(unlink(link.c_str()), 0);
    }
    EXPECT_EQ(log.Flush(), 1);  // once the name is free, a file of our own is made
  }
  EXPECT_EQ(ReadFile(target), "precious");
  EXPECT_NE(ReadFile(link).find("entry\r\n"), std::string::npos);
}

TEST(DownloadLogFile, DefaultLogLivesInThePrivateStateDirectory) {
  TempDir dir;
  ScopedEnv state("XDG_STATE_HOME", dir.File("state"));
  {
    CDownloadLog log;
    ASSERT_TRUE(log.IsPathValid());
    EXPECT_EQ(log.GetFilePath(), dir.File("state/qor-oneclick/QorUpgradeLog.txt"));
    log.Print("hello");
  }
  struct stat st {};
  ASSERT_EQ(stat(dir.File("state/qor-oneclick").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_NE(ReadFile(dir.File("state/qor-oneclick/QorUpgradeLog.txt")).find("hello\r\n"), std::string::npos);

  // a state directory that is a link: no path, entries stay in memory
  ASSERT_EQ(mkdir(dir.File("base").c_str(), 0700), 0);
  ASSERT_EQ(symlink(dir.File("state/qor-oneclick").c_str(), dir.File("base/qor-oneclick").c_str()), 0);
  ScopedEnv linked("XDG_STATE_HOME", dir.File("base"));
  CDownloadLog refused;
  EXPECT_FALSE(refused.IsPathValid());
  refused.Print("stays");
  EXPECT_EQ(refused.Flush(), 0);
}

// Text that came from a router or an image file is logged with its controls made visible, so a log
// printed on a terminal cannot be driven by it; the line breaks of a message stay.
TEST(DownloadLogFormat, ControlCharactersNeverReachTheFile) {
  TempDir dir;
  const std::string path = dir.File("QorUpgradeLog.txt");
  {
    CDownloadLog log(path);
    log.PrintText("Version 2.1.10.\x1b]0;owned\x07\x1b[2J\x1b[32mDownload successfully");
    log.Print("Firmware %s",
              "11.1\xc2\x9b"
              "31m\x7f");
    log.PrintText("error text\r\twith its own break\n");
  }
  const std::string text = ReadFile(path);
  for (const char control : {'\x1b', '\x07', '\x7f'}) EXPECT_EQ(text.find(control), std::string::npos);
  EXPECT_EQ(text.find("\xc2\x9b"), std::string::npos);
  const std::vector<std::string> entries = Entries(text);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].substr(20), "Version 2.1.10.\\x1b]0;owned\\x07\\x1b[2J\\x1b[32mDownload successfully");
  EXPECT_EQ(entries[1].substr(20), "Firmware 11.1\\x9b31m\\x7f");
  EXPECT_EQ(entries[2].substr(20), "error text\r\twith its own break\n");
}

// A flush that cannot write says why; a folder reached through a symbolic link is a folder like any
// other, while the file itself must not be a link.
TEST(DownloadLogFile, AFailedFlushSaysWhyAndALinkedFolderIsWritten) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.File("real").c_str(), 0700), 0);
  ASSERT_EQ(symlink(dir.File("real").c_str(), dir.File("linked").c_str()), 0);
  ASSERT_EQ(mkdir(dir.File("real/taken.txt").c_str(), 0700), 0);
  { std::ofstream(dir.File("real/target.txt")) << "precious"; }
  ASSERT_EQ(symlink(dir.File("real/target.txt").c_str(), dir.File("real/link.txt").c_str()), 0);
  { std::ofstream(dir.File("real/twice.txt")) << ""; }
  ASSERT_EQ(link(dir.File("real/twice.txt").c_str(), dir.File("real/twice2.txt").c_str()), 0);

  struct Case {
    std::string path;
    std::string error;  // "" when the flush writes
  };
  const Case cases[] = {
      {dir.File("linked/QorUpgradeLog.txt"), ""},
      {dir.File("missing/QorUpgradeLog.txt"),
       "cannot open " + dir.File("missing/QorUpgradeLog.txt") + ": No such file or directory"},
      {dir.File("real/taken.txt"), "cannot open " + dir.File("real/taken.txt") + ": Is a directory"},
      {dir.File("linked/link.txt"), dir.File("linked/link.txt") + " is a symbolic link"},
      {dir.File("real/twice.txt"), dir.File("real/twice.txt") + " has more than one link"},
      {"", "no log file named"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    CDownloadLog log(c.path);
    EXPECT_EQ(log.GetLastError(), c.path.empty() ? c.error : "");
    log.Print("entry");
    EXPECT_EQ(log.Flush(true), c.error.empty() ? 1 : 0);
    EXPECT_EQ(log.GetLastError(), c.error);
    EXPECT_EQ(log.HasWritten(), c.error.empty());
    EXPECT_EQ(log.GetPending().empty(), c.error.empty());
  }
  EXPECT_NE(ReadFile(dir.File("real/QorUpgradeLog.txt")).find("entry\r\n"), std::string::npos);
  EXPECT_EQ(ReadFile(dir.File("real/target.txt")), "precious");

  // a failure is forgotten once the text got through
  CDownloadLog log(dir.File("later/QorUpgradeLog.txt"));
  log.Print("kept");
  EXPECT_EQ(log.Flush(), 0);
  EXPECT_FALSE(log.GetLastError().empty());
  ASSERT_EQ(mkdir(dir.File("later").c_str(), 0700), 0);
  EXPECT_EQ(log.Flush(), 1);
  EXPECT_EQ(log.GetLastError(), "");
  EXPECT_NE(ReadFile(dir.File("later/QorUpgradeLog.txt")).find("kept\r\n"), std::string::npos);
}

}  // namespace
