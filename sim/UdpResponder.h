#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimBytes.h"
#include "sim/SimContext.h"
#include "sim/SimSocket.h"

namespace qorsim {

// The router's UDP side: discovery answers and control datagram echoes. Two sockets (unicast and
// broadcast address, same port, see RouterSim.h); one thread serves both and sends every answer
// from the unicast socket. Late answers (presence-late) wait in a queue ordered by clock time.
class UdpResponder {
 public:
  explicit UdpResponder(SimContext& ctx) : m_Ctx(ctx) {}
  ~UdpResponder() { Stop(); }
  UdpResponder(const UdpResponder&) = delete;
  UdpResponder& operator=(const UdpResponder&) = delete;

  bool Start(const std::string& address, const std::string& broadcast, uint16_t port, std::string* error);
  void Stop();
  uint16_t Port() const { return m_Port; }

  // What the router sends back for one received payload (decoded, FCS removed): whole frames, in
  // order. *delayMs is set when they are to go out later. Acts on the module (force-load) and
  // records events; touches no socket.
  std::vector<Bytes> Answer(ByteView payload, uint32_t* delayMs);

 private:
  struct Pending {
    uint64_t due;
    sockaddr_in to;
    Bytes frame;
  };
  // a sender that the discovery-flood fault floods with foreign datagrams
  struct FloodTarget {
    sockaddr_in to;
    uint64_t due;
    uint32_t sent;
  };
  static constexpr size_t kMaxFloodTargets = 8;
  static constexpr uint32_t kMaxFloodDatagrams = 20000;

  void Run();
  void Receive(int fd);
  void SendFrame(const sockaddr_in& to, const Bytes& frame);
  // Sends the flood datagrams that are due; the real ms until the next one (-1: none).
  int Flood();

  SimContext& m_Ctx;
  Fd m_Unicast;
  Fd m_Broadcast;
  WakePipe m_Wake;
  uint16_t m_Port = 0;
  std::atomic<bool> m_Stop{false};
  std::thread m_Thread;
  std::vector<Pending> m_Pending;    // touched by the thread only
  std::vector<FloodTarget> m_Flood;  // touched by the thread only
  sockaddr_in m_LastSender{};        // the sender of the payload being answered (thread only)
};

}  // namespace qorsim
