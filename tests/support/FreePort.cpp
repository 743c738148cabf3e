#include "support/FreePort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "support/Fd.h"

uint16_t FreeLoopbackPort() {
  // the system picks a TCP port; the same number must be free for UDP too
  for (int attempt = 0; attempt < 20; ++attempt) {
    const Fd tcp(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!tcp.Valid() || bind(tcp.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(tcp.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      continue;
    }
    const Fd udp(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const bool free =
        udp.Valid() && bind(udp.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    const uint16_t port = ntohs(address.sin_port);
    if (free && port != 0) return port;
  }
  return 0;
}
