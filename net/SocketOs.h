#pragma once

// The socket calls the ports make, in one form on every platform: net/posix/SocketOs.cpp over POSIX
// sockets, net/win32/SocketOs.cpp over Windows Sockets 2. The build picks one.
//
// A socket is an int everywhere. A Windows SOCKET is a kernel handle, and handles carry 32
// significant bits (which is what lets 32- and 64-bit programs share them), so it fits an int and
// INVALID_SOCKET becomes -1.
//
// Every failure is told as the ports' code (net/INetPort.h): a Windows Sockets error number, the
// number itself on Windows, the mapped errno on POSIX (MapSocketErrno). A call that would have to
// wait fails with kErrIoPending; one that a signal interrupted with kSocketRetry, to be made again.

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#endif

constexpr int kNoSocket = -1;
constexpr int kSocketRetry = -1;

// Opens a non-blocking socket that child processes do not inherit; kNoSocket on failure, with the
// code in *error.
int OpenSocket(int type, int protocol, int* error);
// 0 or the code; the socket is released either way and never closed twice.
int CloseSocket(int fd);
// Shuts both directions down (wakes a wait on the socket); 0 or the code.
int ShutdownSocket(int fd);

// Starts a connect; 0 when connected at once, kErrIoPending while it goes on, else the code.
int StartConnect(int fd, const sockaddr_in& address);
// The outcome of a finished connect (the socket's pending error): 0 or the code.
int ConnectOutcome(int fd);

// One call each, never waiting, never raising a signal. The count, or -1 with the code in *error.
long SendSome(int fd, const uint8_t* data, size_t length, int* error);
long ReceiveSome(int fd, uint8_t* buffer, size_t length, int* error);
long SendDatagram(int fd, const uint8_t* data, size_t length, const sockaddr_in& to, int* error);
// Receives one datagram; *truncated tells that it was longer than the buffer (its rest is lost).
long ReceiveDatagram(int fd, uint8_t* buffer, size_t length, bool* truncated, int* error);

// Serving sockets (the emulator's): bind, listen and accept (the accepted socket non-blocking and
// not inherited; kNoSocket with *error on failure). 0 or the code.
int BindSocket(int fd, const sockaddr_in& address);
int ListenSocket(int fd, int backlog);
int AcceptSocket(int fd, sockaddr_in* from, int* error);
// Lets a datagram socket share its address with others (SO_REUSEADDR), or a listening socket take
// a port whose old connections still wait out their time (Linux; Windows allows that by itself, and
// its SO_REUSEADDR would let another program take the port over, so it is not set there).
int SetReuseAddress(int fd, bool stream);
// Makes the next close reset the connection (RST) instead of closing it in order.
int SetAbortiveClose(int fd);
// Receives one datagram and its sender; -1 with *error when none is there.
long ReceiveDatagramFrom(int fd, uint8_t* buffer, size_t length, sockaddr_in* from, int* error);

// One socket of a wait over several (poll on POSIX, WSAPoll on Windows).
struct SocketPollEntry {
  int fd = kNoSocket;
  short events = 0;
  short revents = 0;
};
// Waits at most timeoutMs real milliseconds (-1: without limit) until one of the sockets is ready;
// the count of ready entries, 0 on time-out, -1 on failure (a signal included).
int PollSockets(SocketPollEntry* entries, size_t count, int timeoutMs);

// The system's own text for a code the ports do not name themselves (an errno value on POSIX, a
// Windows Sockets or system error number on Windows); empty when the system has none.
std::string SystemErrorText(int code);

// Socket options; 0 or the code.
int SetNoDelay(int fd);
int SetBroadcast(int fd);
// The socket's bound port in host order (0 when it is not bound yet); 0 or the code.
int LocalPort(int fd, uint16_t* port);
