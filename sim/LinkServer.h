#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "sim/FrameGatherer.h"
#include "sim/SimBytes.h"
#include "sim/SimContext.h"
#include "sim/SimSocket.h"
#include "sim/TcpServerThread.h"

namespace qorsim {

// The router link (TCP): one connection at a time (a new one replaces the old, as the tool opens
// the link once for Check and again for Upgrade). Incoming bytes are gathered into HDLC frames by
// the assembler rules (FrameGatherer, with room for write frames). A 40-byte frame starting 0xFF is
// an upgrade control packet; every other frame goes to the module, whose answers go back framed
// with a leading flag. After an RUT begin packet the next <value> bytes of the stream are the raw
// router image, counted exactly across reads (the begin frame and the first image bytes may share
// a read); once complete, the router "writes" it for SimConfig::routerWriteMs (clock ms) and then
// sends the 40-byte result record. One thread serves the listener and the connection.
class LinkServer : public TcpServerThread {
 public:
  static constexpr size_t kMaxImageBytes = 64u << 20;  // kept per image; later bytes are counted only
  static constexpr size_t kControlPacketSize = 40;

  explicit LinkServer(SimContext& ctx) : TcpServerThread(ctx) {}
  ~LinkServer() override { Stop(); }
  LinkServer(const LinkServer&) = delete;
  LinkServer& operator=(const LinkServer&) = delete;

  bool Start(const std::string& address, uint16_t port, std::string* error);
  void Stop();

 private:
  struct Pending {
    uint64_t due;
    Bytes frame;
    std::string what;
  };

  void Run() override;
  void Accept();
  void CloseConnection(const char* why, bool reset);
  void OnBytes(const uint8_t* data, size_t n);
  void OnFrame(ByteView payload);
  void OnControl(ByteView packet);
  void FinishImage(bool complete);
  void Send(const Bytes& payload);

  Fd m_Conn;

  // connection state, touched by the thread only
  FrameGatherer m_Assembler;
  bool m_Raw = false;
  uint32_t m_Announced = 0;
  uint64_t m_RawReceived = 0;
  Bytes m_RawData;
  std::vector<Pending> m_Pending;
};

}  // namespace qorsim
