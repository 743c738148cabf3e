#include "net/SocketFaults.h"

#include <atomic>
#include <cerrno>
#include <optional>

#include "net/INetPort.h"

namespace {

std::atomic<bool> g_Armed{false};
std::atomic<int> g_Kind{0};
std::atomic<uint16_t> g_RemotePort{0};
std::atomic<uint64_t> g_FailAt{0};
std::atomic<int> g_Fault{0};
std::atomic<bool> g_Fired{false};
std::atomic<uint64_t> g_Count{0};

// A connect the router's side refuses, in the ports' codes.
#ifdef _WIN32
constexpr int kRefused = 10061;  // WSAECONNREFUSED
#else
const int kRefused = MapSocketErrno(ECONNREFUSED);
#endif

// The fault due for this call, if any; counts the call when it is of the armed kind and port.
std::optional<SocketFault> Take(SocketKind kind, uint16_t remotePort) {
  if (!g_Armed.load(std::memory_order_relaxed)) return std::nullopt;
  if (static_cast<int>(kind) != g_Kind.load() || remotePort != g_RemotePort.load()) return std::nullopt;
  if (g_Count.fetch_add(1) + 1 != g_FailAt.load()) return std::nullopt;
  g_Fired.store(true);
  return static_cast<SocketFault>(g_Fault.load());
}

// A stream's fault, where a stream has no lost data: an interruption instead.
SocketFault OnStream(SocketFault fault) {
  return fault == SocketFault::Lost ? SocketFault::Interrupted : fault;
}

}  // namespace

const char* SocketFaultName(SocketFault fault) {
  switch (fault) {
    case SocketFault::Reset:
      return "reset";
    case SocketFault::Interrupted:
      return "interrupted";
    case SocketFault::Short:
      return "short";
    case SocketFault::PeerClose:
      return "peer close";
    case SocketFault::Lost:
      return "lost";
  }
  return "?";
}

void ArmSocketFault(SocketKind kind, uint16_t remotePort, uint64_t failAt, SocketFault fault) {
  g_Armed.store(false);
  g_Count.store(0);
  g_Kind.store(static_cast<int>(kind));
  g_RemotePort.store(remotePort);
  g_FailAt.store(failAt);
  g_Fault.store(static_cast<int>(fault));
  g_Fired.store(false);
  g_Armed.store(true);
}

void DisarmSocketFaults() {
  g_Armed.store(false);
  g_FailAt.store(0);
}

uint64_t SocketCallsCounted() { return g_Count.load(); }

bool SocketFaultFired() { return g_Fired.load(); }

int StartConnectOrFault(uint16_t remotePort, int fd, const sockaddr_in& address) {
  const std::optional<SocketFault> fault = Take(SocketKind::Stream, remotePort);
  if (!fault) return StartConnect(fd, address);
  switch (OnStream(*fault)) {
    case SocketFault::Reset:
    case SocketFault::PeerClose:
      return kRefused;
    case SocketFault::Interrupted: {
      // interrupted, the attempt goes on in the background: the port waits for its outcome
      const int started = StartConnect(fd, address);
      return started == 0 ? kErrIoPending : started;
    }
    case SocketFault::Short:
    case SocketFault::Lost:
      break;  // a connect moves no data
  }
  return StartConnect(fd, address);
}

long SendSomeOrFault(uint16_t remotePort, int fd, const uint8_t* data, size_t length, int* error) {
  const std::optional<SocketFault> fault = Take(SocketKind::Stream, remotePort);
  if (!fault) return SendSome(fd, data, length, error);
  switch (OnStream(*fault)) {
    case SocketFault::Reset:
    case SocketFault::PeerClose:  // the peer's end answers what it no longer reads with a reset
      ShutdownSocket(fd);
      *error = kErrConnReset;
      return -1;
    case SocketFault::Interrupted:
    case SocketFault::Lost:
      *error = kSocketRetry;
      return -1;
    case SocketFault::Short:
      return SendSome(fd, data, length > 1 ? length / 2 : length, error);
  }
  return SendSome(fd, data, length, error);
}

long ReceiveSomeOrFault(uint16_t remotePort, int fd, uint8_t* buffer, size_t length, int* error) {
  const std::optional<SocketFault> fault = Take(SocketKind::Stream, remotePort);
  if (!fault) return ReceiveSome(fd, buffer, length, error);
  switch (OnStream(*fault)) {
    case SocketFault::Reset:
      ShutdownSocket(fd);
      *error = kErrConnReset;
      return -1;
    case SocketFault::PeerClose:
      // the end of the stream, now and on every later receive
      ShutdownSocket(fd);
      return 0;
    case SocketFault::Interrupted:
    case SocketFault::Lost:
      *error = kSocketRetry;
      return -1;
    case SocketFault::Short:
      return ReceiveSome(fd, buffer, length > 1 ? 1 : length, error);
  }
  return ReceiveSome(fd, buffer, length, error);
}

long SendDatagramOrFault(uint16_t remotePort, int fd, const uint8_t* data, size_t length,
                         const sockaddr_in& to, int* error) {
  const std::optional<SocketFault> fault = Take(SocketKind::Datagram, remotePort);
  if (!fault) return SendDatagram(fd, data, length, to, error);
  switch (*fault) {
    case SocketFault::Reset:
      *error = kErrConnReset;
      return -1;
    case SocketFault::Interrupted:
      *error = kSocketRetry;
      return -1;
    case SocketFault::Short: {
      // the datagram arrives without its last byte; the sender saw it go whole
      const long sent = SendDatagram(fd, data, length > 1 ? length - 1 : length, to, error);
      return sent < 0 ? sent : static_cast<long>(length);
    }
    case SocketFault::PeerClose:
    case SocketFault::Lost: {
      // lost on the way: the sender saw it go. A socket's first send also gives it its local port,
      // where the answers would come: that one goes to the loopback's discard port instead.
      uint16_t localPort = 0;
      if (LocalPort(fd, &localPort) == 0 && localPort != 0) return static_cast<long>(length);
      sockaddr_in nowhere = to;
      nowhere.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      nowhere.sin_port = htons(9);
      const long sent = SendDatagram(fd, data, length, nowhere, error);
      return sent < 0 ? sent : static_cast<long>(length);
    }
  }
  return SendDatagram(fd, data, length, to, error);
}

long ReceiveDatagramOrFault(uint16_t remotePort, int fd, uint8_t* buffer, size_t length, bool* truncated,
                            int* error) {
  const std::optional<SocketFault> fault = Take(SocketKind::Datagram, remotePort);
  if (!fault) return ReceiveDatagram(fd, buffer, length, truncated, error);
  switch (*fault) {
    case SocketFault::Reset:
      // an ICMP refusal of an earlier datagram, which Windows reports on the next receive
      *error = kErrConnReset;
      return -1;
    case SocketFault::Interrupted:
      *error = kSocketRetry;
      return -1;
    case SocketFault::Short: {
      const long n = ReceiveDatagram(fd, buffer, length, truncated, error);
      if (n > 0) *truncated = true;
      return n;
    }
    case SocketFault::PeerClose:
    case SocketFault::Lost: {
      // the datagram that was there is dropped: the receiver waits on for another
      const long n = ReceiveDatagram(fd, buffer, length, truncated, error);
      if (n < 0) return n;
      *error = kErrIoPending;
      return -1;
    }
  }
  return ReceiveDatagram(fd, buffer, length, truncated, error);
}
