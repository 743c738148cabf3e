#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/INetPort.h"
#include "protocol/CFrameQueue.h"
#include "protocol/Hdlc.h"

class CDownloadLog;

// The router link: owns one port, frames outgoing data, gathers incoming frames either
// synchronously or on a receiver thread, and hands callers the response that matches their key.
//
// Calling order for a command exchange: Open, StartReceiver, then per command SetResponseKey, Write,
// Read; finally Close. All operations but the receiver run on the worker thread. Time-outs are
// milliseconds of the tool's clock (platform/Clock.h); 0xFFFFFFFF waits without limit.
//
// Bytes are taken from the port in pieces of up to kReceiveChunk and handed to the frame assembly one
// at a time; bytes read but not yet assembled wait in the adapter for whichever path reads next (the
// receiver thread or a synchronous Read), exactly as they would have waited in the socket.
//
// Connection events: the port tells the adapter when it reconnects (on either thread) or finds the
// connection closed by the router. The adapter then counts a new link generation (GetGeneration),
// ends a read waiting on the queue at once (no answer of the old connection can come any more), and
// writes a line for each event to the log on the worker thread, at its next Write, Read, Close or
// StopReceiver (the log is the worker's; the receiver thread never writes to it).
class CHdlcAdapter {
 public:
  CHdlcAdapter();
  ~CHdlcAdapter();  // runs Close
  CHdlcAdapter(const CHdlcAdapter&) = delete;
  CHdlcAdapter& operator=(const CHdlcAdapter&) = delete;

  // kind: NetPortUdp or NetPortTcp. Closes an open link first (then pauses 100 ms).
  int Open(const std::string& address, uint16_t port, int kind);
  int Close();
  // Starts the receiver thread (1 also when one runs already) and pauses 100 ms so that it is
  // reading when the first command goes out. 0 when the thread cannot be created.
  int StartReceiver();
  // Asks the receiver to end, purges the port so its pending read returns, and joins it (1). A
  // receiver that does not end within 10000 ms is reported to the log (when one is set) and left
  // registered (0, HasReceiver() stays true): a later StopReceiver, Close or the destructor joins
  // it; Close and the destructor keep purging until it has ended, so it never outlives the port.
  int StopReceiver();

  // raw: send the bytes as they are; else frame them first (at most kHdlcMaxPayload bytes, more
  // fails without sending). Either way the bytes leave in one port Write: a request split over two
  // sends stalls on the peer's delayed acknowledgement.
  int Write(bool raw, const uint8_t* data, int length, bool leadingFlag, uint32_t timeout);
  // One decoded frame (payload without FCS), cut to size. With a receiver: the newest queued frame
  // matching the response key, waiting up to timeout. Without: assembles from the port itself (500 ms
  // port reads, 100 ms pause after an empty one) and fails at once on a frame with a bad FCS.
  int Read(uint8_t* destination, unsigned size, unsigned* received, uint32_t timeout);
  void SetResponseKey(const uint8_t* key, unsigned length);
  // The 8210-byte write buffer (allocated on first use); nullptr if it cannot be allocated.
  uint8_t* GetWriteBuffer();
  // The port's last error code; 0 when the adapter holds no port (no port, no port error: a failed
  // Open has already destroyed the port that knew why).
  int GetLastError() const;
  // Why the last Open failed (the destroyed port's code), 0 after a successful Open.
  int GetOpenError() const { return m_OpenError; }
  // Counts the ends of the link's connections: Open, Close, and every reconnect of the port or close
  // by the peer. Any thread.
  uint32_t GetGeneration() const { return m_Generation.load(); }
  // The code that ended the last connection the port lost (10053, 10054, 10101), 0 before any.
  int GetLastLossCause() const { return m_LastLossCause.load(); }
  // Whether the port holds a connection now (false while it reconnects or after it failed to).
  bool IsConnected() const;
  // Writes the connection events collected since the last call to the log (worker thread).
  void WriteConnectionEventsToLog();

  bool IsOpen() const;
  bool HasReceiver() const;
  // Where the adapter reports a receiver that would not stop (optional, not owned).
  void SetLog(CDownloadLog* log) { m_Log = log; }

  // The factory of ports: stores a new port of the kind in m_Port, configures and opens it.
  int CreateNetPort(const std::string& address, uint16_t port, int kind);
  // Wraps every port the factory makes from now on before it is configured (tests put a port that
  // fails a chosen operation around the real one). Set while the adapter is closed.
  using PortWrapper = std::function<std::unique_ptr<INetPort>(std::unique_ptr<INetPort>)>;
  void SetPortWrapper(PortWrapper wrapper) { m_PortWrapper = std::move(wrapper); }
  // Takes a port made elsewhere (tests, another transport) as if CreateNetPort had opened it: the
  // adapter is open afterwards. Closes an open link first.
  int Attach(std::unique_ptr<INetPort> port);

  static constexpr uint32_t kReceiveChunk = 4096;
  static constexpr uint32_t kStopWaitMs = 10000;
  static constexpr uint32_t kSyncPortTimeoutMs = 500;
  static constexpr uint32_t kSyncIdlePauseMs = 100;
  // A datagram port cannot be purged, so its receiver reads with this bound and looks at the stop
  // request between reads.
  static constexpr uint32_t kDatagramPollMs = 200;

 private:
  void ReceiverLoop();
  void OnConnectionEvent(const PortConnectionEvent& event);
  int SyncRead(uint8_t* destination, unsigned size, unsigned* received, uint32_t timeout);
  bool WaitReceiverDone(uint32_t ms);
  void JoinReceiverForcibly();

  enum class LinkState { Open, Closed };
  std::atomic<LinkState> m_State{LinkState::Closed};
  std::thread m_Receiver;
  std::atomic<bool> m_StopFlag{false};
  std::atomic<bool> m_ReceiverDone{true};
  std::mutex m_Lock;  // held by Close for its whole run
  std::unique_ptr<INetPort> m_Port;
  PortWrapper m_PortWrapper;
  CFrameQueue m_Queue;
  std::unique_ptr<uint8_t[]> m_WriteBuffer;
  int m_WriteLength = 0;
  CDownloadLog* m_Log = nullptr;

  // bytes read from the port but not yet assembled; used by one path at a time
  std::unique_ptr<uint8_t[]> m_Pending;
  uint32_t m_PendingPos = 0;
  uint32_t m_PendingLength = 0;

  std::mutex m_DoneLock;
  std::condition_variable m_DoneSignal;

  int m_OpenError = 0;
  std::atomic<uint32_t> m_Generation{0};
  std::atomic<int> m_LastLossCause{0};
  // events heard on any thread, waiting for the worker to log them (at most kMaxPendingEvents)
  static constexpr size_t kMaxPendingEvents = 32;
  std::mutex m_EventLock;
  std::vector<PortConnectionEvent> m_Events;
  size_t m_EventsDropped = 0;
};
