#pragma once

// Small loopback peers that play the router's side byte by byte, for exchanges where the exact bytes
// matter. Every wait is bounded in real time; every socket is on 127.0.0.1 with a port the system
// chose.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

std::string Hex(const Bytes& bytes);
Bytes Framed(const Bytes& payload, bool leadingFlag = false);

// A TCP peer of the router link: accepts one connection, gathers HDLC frames, records each decoded
// request and answers it with whatever the responder returns (each element one framed payload, or
// raw bytes when the element starts with 0x7E).
class FramePeer {
 public:
  using Responder = std::function<std::vector<Bytes>(const Bytes& request, int index)>;

  explicit FramePeer(Responder responder);
  ~FramePeer();
  uint16_t Port() const { return m_Port; }
  std::vector<Bytes> Requests() const;
  // Every byte received, as it arrived (flags and escapes included).
  Bytes RawReceived() const;
  // Waits until at least n requests arrived (bounded, real ms).
  bool WaitRequests(size_t n, int realMs = 5000) const;

 private:
  void Run();

  Responder m_Responder;
  int m_Listen = -1;
  uint16_t m_Port = 0;
  std::atomic<bool> m_Stop{false};
  mutable std::mutex m_Lock;
  mutable std::condition_variable m_Changed;
  std::vector<Bytes> m_Requests;
  Bytes m_Raw;
  std::thread m_Thread;
};

// A UDP peer on 127.0.0.1: records each datagram (raw) and answers the sender with the datagrams
// the responder returns, as they are (the responder frames them itself).
class UdpPeer {
 public:
  using Responder = std::function<std::vector<Bytes>(const Bytes& datagram, int index)>;

  explicit UdpPeer(Responder responder);
  ~UdpPeer();
  uint16_t Port() const { return m_Port; }
  std::vector<Bytes> Received() const;
  // From the first datagram on, also sends `datagram` to its sender every `everyRealMs`.
  void Spray(Bytes datagram, int everyRealMs);
  int Sprayed() const { return m_Sprayed.load(); }

 private:
  void Run();

  Responder m_Responder;
  Bytes m_Spray;
  int m_SprayEveryMs = 0;
  std::atomic<int> m_Sprayed{0};
  int m_Socket = -1;
  uint16_t m_Port = 0;
  std::atomic<bool> m_Stop{false};
  mutable std::mutex m_Lock;
  std::vector<Bytes> m_Received;
  std::thread m_Thread;
};

// A Telnet console played from a script: on connect it sends `greeting`; then, step by step, it
// waits until what it received (since the previous step) contains `expect`, and sends `reply`.
// An empty reply sends nothing. closeAtEnd closes the connection after the last step.
struct ConsoleStep {
  std::string expect;
  std::string reply;
};

class ConsolePeer {
 public:
  ConsolePeer(std::string greeting, std::vector<ConsoleStep> steps, bool closeAtEnd = false);
  ~ConsolePeer();
  uint16_t Port() const { return m_Port; }
  std::string Received() const;
  int Connections() const { return m_Connections.load(); }
  // Sends more bytes on the current connection (for tests that keep the peer talking).
  void Send(const std::string& bytes);

 private:
  void Run();

  std::string m_Greeting;
  std::vector<ConsoleStep> m_Steps;
  bool m_CloseAtEnd;
  int m_Listen = -1;
  std::atomic<int> m_Conn{-1};
  uint16_t m_Port = 0;
  std::atomic<bool> m_Stop{false};
  std::atomic<int> m_Connections{0};
  mutable std::mutex m_Lock;
  std::string m_Received;
  std::thread m_Thread;
};

// The messages of a log's pending text, without their time stamps and line ends.
std::vector<std::string> LogMessages(const std::string& pending);
