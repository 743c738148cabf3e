#include "support/FreePort.h"

#include "net/SocketOs.h"

namespace {

// A socket of the ports' own calls (non-blocking, not inherited), closed at the end of its scope.
class TestSocket {
 public:
  explicit TestSocket(int type) {
    int error = 0;
    m_Fd = OpenSocket(type, 0, &error);
  }
  ~TestSocket() {
    if (m_Fd != kNoSocket) CloseSocket(m_Fd);
  }
  TestSocket(const TestSocket&) = delete;
  TestSocket& operator=(const TestSocket&) = delete;
  int Get() const { return m_Fd; }
  bool Valid() const { return m_Fd != kNoSocket; }

 private:
  int m_Fd = kNoSocket;
};

}  // namespace

uint16_t FreeLoopbackPort() {
  // the system picks a TCP port; the same number must be free for UDP too
  for (int attempt = 0; attempt < 20; ++attempt) {
    const TestSocket tcp(SOCK_STREAM);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    uint16_t port = 0;
    if (!tcp.Valid() || BindSocket(tcp.Get(), address) != 0 || LocalPort(tcp.Get(), &port) != 0 ||
        port == 0) {
      continue;
    }
    address.sin_port = htons(port);
    const TestSocket udp(SOCK_DGRAM);
    if (udp.Valid() && BindSocket(udp.Get(), address) == 0) return port;
  }
  return 0;
}
