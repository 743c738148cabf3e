#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "net/INetPort.h"
#include "protocol/CFrameQueue.h"
#include "protocol/Hdlc.h"

class CDownloadLog;

// The router link: owns one port, frames outgoing data, gathers incoming frames either
// synchronously or on a receiver thread, and hands callers the response that matches their key.
//
// Calling order for a command exchange: Open, StartReceiver, then per command SetResponseKey, Write,
// Read; finally Close. All operations but the receiver run on the worker thread.
class CHdlcAdapter {
 public:
  CHdlcAdapter();
  ~CHdlcAdapter();  // runs Close
  CHdlcAdapter(const CHdlcAdapter&) = delete;
  CHdlcAdapter& operator=(const CHdlcAdapter&) = delete;

  // kind: NetPortUdp or NetPortTcp. Closes an open link first (then pauses 100 ms).
  int Open(const std::string& address, uint16_t port, int kind);
  int Close();
  int StartReceiver();
  // Asks the receiver to end, purges the port so its pending read returns, and joins it. A receiver
  // that does not end within 10000 ms is reported to the log (when one is set) and joined later.
  int StopReceiver();

  // raw: send the bytes as they are; else frame them first (at most kHdlcMaxPayload bytes).
  int Write(bool raw, const uint8_t* data, int length, bool leadingFlag, uint32_t timeout);
  // One decoded frame (payload without FCS), cut to size.
  int Read(uint8_t* destination, unsigned size, unsigned* received, uint32_t timeout);
  void SetResponseKey(const uint8_t* key, unsigned length);
  // The 8210-byte write buffer (allocated on first use); nullptr if it cannot be allocated.
  uint8_t* GetWriteBuffer();
  // The port's last error code; 0 when the adapter holds no port.
  int GetLastError() const;

  bool IsOpen() const;
  bool HasReceiver() const;
  // Where the adapter reports a receiver that would not stop (optional, not owned).
  void SetLog(CDownloadLog* log) { m_Log = log; }

  // The factory of ports: stores a new port of the kind in m_Port, configures and opens it.
  int CreateNetPort(const std::string& address, uint16_t port, int kind);

 private:
  void ReceiverLoop();
  int SyncRead(uint8_t* destination, unsigned size, unsigned* received, uint32_t timeout);

  std::atomic<int> m_State{2};  // 2 closed, 0 open
  std::thread m_Receiver;
  std::atomic<int> m_StopFlag{0};
  std::atomic<bool> m_ReceiverDone{true};
  std::mutex m_Lock;  // held by Close for its whole run
  std::unique_ptr<INetPort> m_Port;
  CFrameQueue m_Queue;
  std::unique_ptr<uint8_t[]> m_WriteBuffer;
  int m_WriteLength = 0;
  CDownloadLog* m_Log = nullptr;
};
