// The shared test helpers: each one must do what the tests that use it rely on.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "platform/Warnings.h"
#include "support/Fd.h"
#include "support/FreePort.h"
#include "support/RecordingSink.h"
#include "support/TempDir.h"

namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

TEST(TestSupport, ATempDirIsPrivateAndGoesWithEverythingInIt) {
  std::string path;
  {
    TempDir dir;
    path = dir.Path();
    ASSERT_FALSE(path.empty());
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "only the user may look inside";
    ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0700), 0);
    std::ofstream(dir.File("sub/file.txt")) << "x";
    ASSERT_TRUE(Exists(dir.File("sub/file.txt")));
    TempDir other;
    EXPECT_NE(other.Path(), path);
  }
  EXPECT_FALSE(Exists(path));
}

TEST(TestSupport, ScopedEnvRestoresAValueOrItsAbsence) {
  const char* name = "QOR_SUPPORT_TEST_VARIABLE";
  unsetenv(name);
  {
    ScopedEnv set(name, "one");
    EXPECT_STREQ(std::getenv(name), "one");
    {
      ScopedEnv inner(name, "two");
      EXPECT_STREQ(std::getenv(name), "two");
    }
    EXPECT_STREQ(std::getenv(name), "one");
  }
  EXPECT_EQ(std::getenv(name), nullptr);
}

TEST(TestSupport, AnFdClosesWhatItHoldsAndMovesOwnership) {
  int raw = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(raw, 0);
  {
    Fd first(raw);
    Fd second(std::move(first));
    EXPECT_FALSE(first.Valid());
    EXPECT_EQ(second.Get(), raw);
    EXPECT_NE(fcntl(raw, F_GETFD), -1) << "a move does not close";
  }
  EXPECT_EQ(fcntl(raw, F_GETFD), -1) << "closed at the end of the scope";
  Fd released(open("/dev/null", O_RDONLY | O_CLOEXEC));
  const int kept = released.Release();
  EXPECT_NE(fcntl(kept, F_GETFD), -1);
  close(kept);
}

TEST(TestSupport, AFreePortTakesBothATcpListenerAndAUdpSocket) {
  std::set<uint16_t> seen;
  for (int i = 0; i < 3; ++i) {
    const uint16_t port = FreeLoopbackPort();
    ASSERT_NE(port, 0);
    seen.insert(port);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const Fd tcp(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const Fd udp(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    EXPECT_EQ(bind(tcp.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << port;
    EXPECT_EQ(bind(udp.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << port;
    // nothing listens there: a connection is refused
    const Fd client(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    EXPECT_NE(connect(client.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
}

TEST(TestSupport, TheRecordingSinkKeepsEveryWarningFromEveryThread) {
  RecordingSink sink;
  ScopedWarningSink use(sink);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 50; ++i) ShowWarningText("w");
    });
  }
  for (std::thread& t : threads) t.join();
  ShowWarningText("last");
  const std::vector<std::string> texts = sink.Texts();
  ASSERT_EQ(texts.size(), 201u);
  EXPECT_EQ(texts.back(), "last");
}

}  // namespace
