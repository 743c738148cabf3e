#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// Kinds of port, the values of CreateNetPort's kind argument and of GetPortType().
enum NetPortKind : int { NetPortUdp = 1, NetPortTcp = 2 };

// Error codes are Windows Sockets error numbers, which the log lines, the error texts
// (protocol/ErrorText) and the callers' tests use.
// POSIX errors map onto them: ECONNABORTED -> 10053, ECONNRESET/EPIPE -> 10054, EINVAL -> 10022,
// an operation still in progress -> 997, EMSGSIZE -> 10040, EPERM/EACCES -> 10013. Other errno
// values are stored as they are.
constexpr int kErrPurged = 1;     // a Read ended by Purge
constexpr int kErrTimeout = 258;  // a wait ran out
constexpr int kErrAborted = 995;  // the port closed the socket under a pending call (a reconnect)
constexpr int kErrIoPending = 997;
constexpr int kErrInterrupted = 10004;  // WSAEINTR: a wait ended by the thread's stop request
// WSAEACCES: the system refused the operation (a firewall rule refusing a send, a broadcast without
// permission). EPERM is 1 as an errno value, which the ports use for a purged read.
constexpr int kErrAccess = 10013;
constexpr int kErrInvalid = 10022;       // WSAEINVAL
constexpr int kErrMsgSize = 10040;       // WSAEMSGSIZE: datagram too long for the buffer or the link
constexpr int kErrAddrNotAvail = 10049;  // WSAEADDRNOTAVAIL: the destination 0.0.0.0
constexpr int kErrConnAborted = 10053;   // WSAECONNABORTED
constexpr int kErrConnReset = 10054;     // WSAECONNRESET
constexpr int kErrShutdown = 10058;      // WSAESHUTDOWN: a send after the port's own Shutdown()
constexpr int kErrTimedOut = 10060;      // WSAETIMEDOUT: a connect that got no answer within its limit
constexpr int kErrDisconnected = 10101;  // WSAEDISCON: the peer closed the connection in order

// Maps the system's socket error number (errno on POSIX, a Windows Sockets number on Windows, kept
// as it is there but for "would block" and "in progress", 997) to the codes above.
int MapSocketErrno(int err);

// The calling thread's last socket error, one of the codes above: kept per thread, as errno is, so
// a caller reads the code of its own last call.
int GetThreadSocketError();
void SetThreadSocketError(int code);

// What happened to a stream port's connection, as the port's owner hears of it. cause is the code
// that ended the connection: 10053 or 10054 for a loss that made the port reconnect, 10101 when the
// peer closed it in an orderly way (the port does not reconnect then).
struct PortConnectionEvent {
  enum Kind { Reconnected, ReconnectFailed, PeerClosed };
  Kind kind = Reconnected;
  int cause = 0;
  int openError = 0;  // ReconnectFailed: why the new connection could not be made
};
// Called on whichever thread met the event (a reading or a writing thread), with no lock of the
// port held; it must not call back into the port.
using PortConnectionObserver = std::function<void(const PortConnectionEvent&)>;

// A port owns one socket, knows one remote IPv4 address and port, and blocks the calling thread
// until data has gone or come or the time-out passed. One thread may read while another writes.
//
// Time-outs are milliseconds of the tool's clock (platform/Clock.h); 0xFFFFFFFF waits without limit.
// Results: 1 success, 0 failure (reason in GetLastError()). No call keeps or touches the caller's
// buffer after it returned.
class INetPort {
 public:
  // Sends length bytes; 1 when all were sent.
  virtual int Write(const uint8_t* data, uint32_t length, uint32_t timeout) = 0;
  // Receives up to length bytes into buffer; 1 when at least one byte arrived. *received is set by a
  // receive that completes; callers that judge by the count set it to 0 before each call.
  virtual int Read(uint8_t* buffer, uint32_t length, uint32_t* received, uint32_t timeout) = 0;
  virtual int Close() = 0;
  // Remembers the remote address (dotted text, at most 24 characters) and port (host order);
  // touches no socket. An invalid text fails with the thread's socket error 10022.
  virtual int SetConfig(const std::string& address, uint16_t port) = 0;
  virtual int Open() = 0;
  virtual int GetPortType() = 0;
  // Makes a Read that waits in another thread return at once (only the TCP port does something).
  virtual int Purge() { return 1; }
  virtual ~INetPort() = default;

  // The connection's generation: grows by one whenever the port reconnects, closes its connection
  // or finds it closed by the peer. Bytes written while the generation stayed the same travelled on
  // one connection; once it changed, nothing that connection carried can still be answered.
  // Datagram ports have no connection and stay at 0.
  virtual uint32_t GetGeneration() const { return 0; }
  // Where the port reports reconnects and the peer's close (optional). Set before other threads use
  // the port.
  virtual void SetConnectionObserver(PortConnectionObserver observer) { (void)observer; }
  // Whether the port holds a connection now (a stream port that lost it and is reconnecting does not).
  virtual bool IsConnected() const { return true; }

  int GetLastError() const { return m_LastError.load(std::memory_order_relaxed); }

 protected:
  // Stores code as the port's last error and as the thread's socket error.
  void SetError(int code) {
    m_LastError.store(code, std::memory_order_relaxed);
    SetThreadSocketError(code);
  }

  // Written by the reading and the writing thread; atomic so both may.
  std::atomic<int> m_LastError{0};
};

// Parses a dotted IPv4 text with inet_addr, after copying it into a 25-byte field: texts of more
// than 24 characters, or holding a zero byte, are invalid, and inet_addr also takes the short and
// hexadecimal forms ("10.1", "0x7f.1"). Returns false for an invalid text; *out is in network order.
bool ParseIpv4Text(const std::string& address, uint32_t* out);
