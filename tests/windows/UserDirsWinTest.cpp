// The per-user folders and private files on Windows: under %LOCALAPPDATA%\QorOneClick, opened
// without sharing (the log's lock), and the test helpers the other Windows tests rely on.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "net/SocketOs.h"
#include "platform/UserDirs.h"
#include "support/FreePort.h"
#include "support/TempDir.h"

namespace {

bool IsFolder(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::is_directory(std::filesystem::u8path(path), ignored);
}

// A Windows path (drive letter, backslashes) of a test folder: Wine maps the Unix root as Z:.
std::string WindowsPath(const std::string& path) {
  const std::u8string text =
      std::filesystem::absolute(std::filesystem::u8path(path)).make_preferred().u8string();
  return std::string(text.begin(), text.end());
}

TEST(WindowsUserDirs, BothFoldersAreUnderLocalAppDataQorOneClick) {
  TempDir base;
  ASSERT_FALSE(base.Path().empty());
  const std::string appData = WindowsPath(base.Path()) + "\\Local";
  ScopedEnv env("LOCALAPPDATA", appData);

  std::string state;
  std::string error;
  ASSERT_TRUE(GetStateDirectory(state, &error)) << error;
  EXPECT_EQ(state, appData + "\\QorOneClick");
  EXPECT_TRUE(IsFolder(state)) << "made with its missing parents";

  std::string temp;
  ASSERT_TRUE(GetPrivateTempDirectory(temp, &error)) << error;
  EXPECT_EQ(temp, appData + "\\QorOneClick\\Temp");
  EXPECT_TRUE(IsFolder(temp));
}

TEST(WindowsUserDirs, WithoutAnAbsoluteLocalAppDataThereIsNoFolder) {
  for (const char* value : {"relative\\folder", "C:"}) {
    ScopedEnv env("LOCALAPPDATA", value);
    std::string path = "left over";
    std::string error;
    EXPECT_FALSE(GetStateDirectory(path, &error)) << value;
    EXPECT_TRUE(path.empty());
    EXPECT_NE(error.find("LOCALAPPDATA"), std::string::npos) << error;
    EXPECT_FALSE(GetPrivateTempDirectory(path, &error)) << value;
  }
}

TEST(WindowsUserDirs, APrivateFileIsSharedWithNobodyWhileOpen) {
  TempDir dir;
  const std::string folder = WindowsPath(dir.Path());
  const int first = OpenPrivateFile(folder, "qor.log", O_WRONLY | O_CREAT | O_APPEND, 0600);
  ASSERT_GE(first, 0) << errno;
  EXPECT_TRUE(TryLockFile(first));

  // a second open, by this program or another, is refused as a held lock
  errno = 0;
  EXPECT_EQ(OpenPrivateFile(folder, "qor.log", O_WRONLY | O_CREAT | O_APPEND, 0600), -1);
  EXPECT_EQ(errno, EWOULDBLOCK);
  std::ifstream reader(dir.File("qor.log"));
  EXPECT_FALSE(reader.is_open()) << "no other program may read it either";

  // bytes are written as they are: no CR before a LF
  const char text[] = "a\nb";
  ASSERT_EQ(_write(first, text, 3), 3);
  ASSERT_TRUE(SyncFileData(first));
  ASSERT_EQ(_close(first), 0);
  {
    std::ifstream written(dir.File("qor.log"), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, "a\nb");
    // and while another program reads it, the tool cannot have it
    EXPECT_EQ(OpenPrivateFile(folder, "qor.log", O_RDONLY, 0600), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
  }

  // free again once closed; a name with a separator or a folder's name is refused
  const int again = OpenPrivateFile(folder, "qor.log", O_RDONLY, 0600);
  EXPECT_GE(again, 0) << errno;
  if (again >= 0) _close(again);
  for (const char* name : {"..", "sub\\x.log", "sub/x.log", "c:x.log", ""}) {
    errno = 0;
    EXPECT_EQ(OpenPrivateFile(folder, name, O_RDONLY, 0600), -1) << name;
    EXPECT_EQ(errno, EINVAL) << name;
  }
}

TEST(WindowsTestHelpers, TempDirScopedEnvAndFreePortWorkHere) {
  std::string path;
  {
    TempDir dir;
    path = dir.Path();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(IsFolder(path));
    std::ofstream(dir.File("file.bin")) << "x";
    TempDir other;
    EXPECT_NE(other.Path(), path);
  }
  EXPECT_FALSE(IsFolder(path)) << "removed with what was in it";

  const char* name = "QOR_WINDOWS_TEST_VARIABLE";
  {
    ScopedEnv set(name, "one");
    ASSERT_NE(std::getenv(name), nullptr);
    EXPECT_STREQ(std::getenv(name), "one");
  }
  EXPECT_EQ(std::getenv(name), nullptr);

  const uint16_t port = FreeLoopbackPort();
  ASSERT_NE(port, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  for (int type : {SOCK_STREAM, SOCK_DGRAM}) {
    int error = 0;
    const int s = OpenSocket(type, 0, &error);
    ASSERT_NE(s, kNoSocket) << error;
    EXPECT_EQ(BindSocket(s, address), 0) << "port " << port << " type " << type;
    CloseSocket(s);
  }
}

}  // namespace
