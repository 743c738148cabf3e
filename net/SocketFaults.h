#pragma once

#include <cstddef>
#include <cstdint>

#include "net/SocketOs.h"

// A seam for tests: the socket calls of the tool's own ports (the console's and the link's TCP
// connects, sends and receives; the datagrams' sends and receives) go through here, so a test can
// make the N-th call to one remote port meet what a network does to a router's traffic: a reset, a
// signal's interruption, a short transfer, the peer's close, a lost datagram. The ports then take
// their own paths (reconnect, retry, time-out) as they would on a real network. Nothing is armed in a
// program that does not arm it: the question is then one relaxed atomic load.
enum class SocketKind { Stream, Datagram };

enum class SocketFault {
  Reset,        // the peer resets: a connect is refused; sends and receives fail with 10054 (the
                // connection is shut, so later calls fail too); a datagram port hears of an ICMP refusal
  Interrupted,  // a signal interrupts the call: it is made again (a connect goes on in the background)
  Short,        // a stream send takes half, a receive gives one byte; a datagram arrives cut short
  PeerClose,    // the peer closes: a stream receive reads the end (later sends meet a reset); a
                // connect is refused; datagrams are lost
  Lost,         // a datagram is lost on the way (sent but never delivered, or dropped on arrival); a
                // stream call is interrupted instead, since a stream loses nothing
};
constexpr int kSocketFaultKinds = 5;
const char* SocketFaultName(SocketFault fault);

// Fails the failAt-th call (1 = the next one) made by a port of that kind to remotePort with the
// fault; resets the count. failAt 0 only counts.
void ArmSocketFault(SocketKind kind, uint16_t remotePort, uint64_t failAt, SocketFault fault);
// Stops failing and counting.
void DisarmSocketFaults();
// The calls of the armed kind and port counted since the arming.
uint64_t SocketCallsCounted();
// Whether the armed fault has been given out.
bool SocketFaultFired();

// The socket calls of net/SocketOs.h, for a port whose remote port (host order) is remotePort,
// unless the armed fault is due: then they fail as the fault says.
int StartConnectOrFault(uint16_t remotePort, int fd, const sockaddr_in& address);
long SendSomeOrFault(uint16_t remotePort, int fd, const uint8_t* data, size_t length, int* error);
long ReceiveSomeOrFault(uint16_t remotePort, int fd, uint8_t* buffer, size_t length, int* error);
long SendDatagramOrFault(uint16_t remotePort, int fd, const uint8_t* data, size_t length,
                         const sockaddr_in& to, int* error);
long ReceiveDatagramOrFault(uint16_t remotePort, int fd, uint8_t* buffer, size_t length, bool* truncated,
                            int* error);
