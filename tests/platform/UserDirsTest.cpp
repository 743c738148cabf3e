#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/UserDirs.h"
#include "support/TempDir.h"

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(PrivateDirectory, CreatedWithMode0700AndParentsMadeAsNeeded) {
  TempDir t;
  const std::string dir = t.File("a/b/c");
  std::string error;
  ASSERT_TRUE(EnsurePrivateDirectory(dir, &error)) << error;
  EXPECT_EQ(ModeOf(dir), 0700u);
  EXPECT_EQ(ModeOf(t.File("a")), 0700u);
  EXPECT_TRUE(EnsurePrivateDirectory(dir + "/", &error)) << "an existing private directory is accepted";
  // our own folder opened up to others is closed again
  ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
  EXPECT_TRUE(EnsurePrivateDirectory(dir, &error)) << error;
  EXPECT_EQ(ModeOf(dir), 0700u);
}

TEST(PrivateDirectory, RefusesLinksFilesForeignOwnersAndRelativePaths) {
  TempDir t;
  ASSERT_EQ(mkdir(t.File("real").c_str(), 0700), 0);
  ASSERT_EQ(symlink(t.File("real").c_str(), t.File("link").c_str()), 0);
  { std::ofstream(t.File("file")) << "x"; }
  struct Case {
    std::string path;
    const char* why;
  };
  std::vector<Case> cases = {{t.File("link"), "symbolic link"},
                             {t.File("file"), "not a directory"},
                             {"relative/dir", "absolute"},
                             {"", "absolute"}};
  if (geteuid() == 0) {
    ASSERT_EQ(mkdir(t.File("theirs").c_str(), 0700), 0);
    ASSERT_EQ(chown(t.File("theirs").c_str(), 65534, 65534), 0);
    cases.push_back({t.File("theirs"), "another user"});
  }
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(EnsurePrivateDirectory(c.path, &error)) << c.path;
    EXPECT_NE(error.find(c.why), std::string::npos) << c.path << ": " << error;
  }
  EXPECT_EQ(ModeOf(t.File("real")), 0700u) << "the link target is untouched";
}

TEST(PrivateDirectory, StateAndTempDirectoriesFollowTheEnvironment) {
  TempDir t;
  std::string path;
  {
    ScopedEnv state("XDG_STATE_HOME", t.File("state"));
    ASSERT_TRUE(GetStateDirectory(path));
    EXPECT_EQ(path, t.File("state/qor-oneclick"));
    EXPECT_EQ(ModeOf(path), 0700u);
  }
  {
    ScopedEnv state("XDG_STATE_HOME", "relative");  // ignored: falls back to the home directory
    ScopedEnv home("HOME", t.File("home"));
    ASSERT_TRUE(GetStateDirectory(path));
    EXPECT_EQ(path, t.File("home/.local/state/qor-oneclick"));
  }
  {
    ScopedEnv runtime("XDG_RUNTIME_DIR", t.File("run"));
    ASSERT_TRUE(GetPrivateTempDirectory(path));
    EXPECT_EQ(path, t.File("run/qor-oneclick-" + std::to_string(geteuid())));
    EXPECT_EQ(ModeOf(path), 0700u);
  }
  {
    // a link planted where the temp directory goes is refused
    ScopedEnv runtime("XDG_RUNTIME_DIR", t.File("run2"));
    ASSERT_EQ(mkdir(t.File("run2").c_str(), 0777), 0);
    ASSERT_EQ(
        symlink(t.File("run").c_str(), t.File("run2/qor-oneclick-" + std::to_string(geteuid())).c_str()), 0);
    std::string error;
    EXPECT_FALSE(GetPrivateTempDirectory(path, &error));
    EXPECT_TRUE(path.empty());
  }
}

TEST(PrivateFile, OpensOnlyARegularFileOfOursWithOneLink) {
  TempDir t;
  const std::string dir = t.Path();
  { std::ofstream(t.File("mine")) << "x"; }
  { std::ofstream(t.File("target")) << "secret"; }
  ASSERT_EQ(symlink(t.File("target").c_str(), t.File("symlink").c_str()), 0);
  { std::ofstream(t.File("linked")) << "y"; }
  ASSERT_EQ(link(t.File("linked").c_str(), t.File("linked2").c_str()), 0);
  ASSERT_EQ(mkfifo(t.File("fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(t.File("sub").c_str(), 0700), 0);
  ASSERT_EQ(symlink(dir.c_str(), t.File("dirlink").c_str()), 0);

  struct Case {
    std::string dir, name;
    int flags;
    bool opens;
  };
  std::vector<Case> cases = {
      {dir, "mine", O_RDONLY, true},
      {dir, "new", O_WRONLY | O_CREAT | O_APPEND, true},
      {dir, "symlink", O_WRONLY | O_APPEND, false},
      {dir, "symlink", O_WRONLY | O_CREAT | O_APPEND, false},
      {dir, "linked", O_RDONLY, false},
      {dir, "fifo", O_WRONLY | O_CREAT, false},
      {dir, "sub", O_RDONLY, false},
      {dir, "../escape", O_WRONLY | O_CREAT, false},
      {dir, "", O_RDONLY, false},
      {t.File("dirlink"), "mine", O_RDONLY, false},
  };
  if (geteuid() == 0) {
    { std::ofstream(t.File("theirs")) << "z"; }
    ASSERT_EQ(chown(t.File("theirs").c_str(), 65534, 65534), 0);
    cases.push_back({dir, "theirs", O_WRONLY | O_APPEND, false});
  }
  for (const Case& c : cases) {
    const int fd = OpenPrivateFile(c.dir, c.name, c.flags, 0600);
    EXPECT_EQ(fd >= 0, c.opens) << c.dir << " / " << c.name;
    if (fd >= 0) {
      // the descriptor is usable as opened (no non-blocking mode left behind) and closes on exec
      EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
      EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
      close(fd);
    }
  }
  EXPECT_EQ(ModeOf(t.File("new")) & 0777, 0600u);
  std::ifstream in(t.File("target"));
  std::string content;
  in >> content;
  EXPECT_EQ(content, "secret");
  EXPECT_FALSE(std::ifstream(t.File("escape")).good());
}

}  // namespace
