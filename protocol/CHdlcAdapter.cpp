#include "protocol/CHdlcAdapter.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

#include "log/CDownloadLog.h"
#include "net/CTcpPort.h"
#include "net/CUdpPort.h"
#include "platform/Clock.h"
#include "platform/StopRequest.h"
#include "protocol/ErrorText.h"

CHdlcAdapter::CHdlcAdapter() : m_Pending(new (std::nothrow) uint8_t[kReceiveChunk]) {}

CHdlcAdapter::~CHdlcAdapter() {
  Close();
  // a receiver may still exist without a port (started on a closed adapter); it must not outlive us
  if (m_Receiver.joinable()) JoinReceiverForcibly();
}

int CHdlcAdapter::CreateNetPort(const std::string& address, uint16_t port, int kind) {
  try {
    if (kind == NetPortUdp) {
      m_Port = std::make_unique<CUdpPort>();
    } else if (kind == NetPortTcp) {
      m_Port = std::make_unique<CTcpPort>();
    }
    if (m_Port && m_PortWrapper) m_Port = m_PortWrapper(std::move(m_Port));
  } catch (const std::bad_alloc&) {
    m_Port.reset();
  }
  if (!m_Port) return 0;
  m_Port->SetConnectionObserver([this](const PortConnectionEvent& event) { OnConnectionEvent(event); });
  if (m_Port->SetConfig(address, port) && m_Port->Open()) {
    m_OpenError = 0;
    return 1;
  }
  // the port knows why; it goes now, so keep the reason (an invalid address leaves it in the
  // thread's socket error only)
  m_OpenError = m_Port->GetLastError() != 0 ? m_Port->GetLastError() : GetThreadSocketError();
  m_Port.reset();
  return 0;
}

void CHdlcAdapter::OnConnectionEvent(const PortConnectionEvent& event) {
  m_LastLossCause.store(event.cause);
  m_Generation.fetch_add(1);
  {
    std::lock_guard<std::mutex> guard(m_EventLock);
    if (m_Events.size() < kMaxPendingEvents) {
      m_Events.push_back(event);
    } else {
      ++m_EventsDropped;
    }
  }
  // whatever the worker waits for cannot come on the connection that ended
  m_Queue.Interrupt();
}

void CHdlcAdapter::WriteConnectionEventsToLog() {
  std::vector<PortConnectionEvent> events;
  size_t dropped = 0;
  {
    std::lock_guard<std::mutex> guard(m_EventLock);
    events.swap(m_Events);
    dropped = m_EventsDropped;
    m_EventsDropped = 0;
  }
  if (m_Log == nullptr) return;
  for (const PortConnectionEvent& e : events) {
    switch (e.kind) {
      case PortConnectionEvent::Reconnected:
        m_Log->Print("Router link lost (%s); connected again", GetErrorText(e.cause).c_str());
        break;
      case PortConnectionEvent::ReconnectFailed:
        m_Log->Print("Router link lost (%s); connecting again failed: %s", GetErrorText(e.cause).c_str(),
                     GetErrorText(e.openError).c_str());
        break;
      case PortConnectionEvent::PeerClosed:
        m_Log->PrintText("Router link closed by the router");
        break;
    }
  }
  if (dropped != 0) m_Log->Print("%zu more router link events were not logged", dropped);
}

bool CHdlcAdapter::IsConnected() const { return m_Port != nullptr && m_Port->IsConnected(); }

int CHdlcAdapter::Open(const std::string& address, uint16_t port, int kind) {
  if (m_Port) {
    Close();
    SleepMs(100);
  }
  if (!CreateNetPort(address, port, kind)) {
    m_State.store(LinkState::Closed);
    return 0;
  }
  m_Generation.fetch_add(1);
  m_State.store(LinkState::Open);
  return 1;
}

int CHdlcAdapter::Attach(std::unique_ptr<INetPort> port) {
  if (m_Port) {
    Close();
  }
  if (!port) {
    m_State.store(LinkState::Closed);
    return 0;
  }
  m_Port = std::move(port);
  m_Port->SetConnectionObserver([this](const PortConnectionEvent& event) { OnConnectionEvent(event); });
  m_OpenError = 0;
  m_Generation.fetch_add(1);
  m_State.store(LinkState::Open);
  return 1;
}

int CHdlcAdapter::Close() {
  std::lock_guard<std::mutex> guard(m_Lock);
  int result = 1;
  if (m_Port) {
    // A stream port is closed under its receiver: its Close is safe during the other thread's call
    // (the socket handle is shared) and ends a reconnect the receiver may be waiting in, so the join
    // is short. A datagram port closes its descriptor at once, so it waits for its receiver, which
    // reads with a short bound. The port object lives until the receiver has ended either way.
    const bool closeFirst = m_Port->GetPortType() == NetPortTcp;
    if (closeFirst) {
      if (m_Receiver.joinable()) {
        m_StopFlag.store(true);
        m_Port->Purge();
      }
      result = m_Port->Close();
    }
    if (!StopReceiver()) JoinReceiverForcibly();
    if (!closeFirst) result = m_Port->Close();
    m_Port.reset();
    m_Generation.fetch_add(1);
    // bytes of the old connection must not reach the reader of a new one
    m_PendingPos = 0;
    m_PendingLength = 0;
  } else if (m_Receiver.joinable()) {
    JoinReceiverForcibly();  // started without a port: it ends by itself at once
  }
  if (result != 0) m_State.store(LinkState::Closed);
  WriteConnectionEventsToLog();
  return result;
}

bool CHdlcAdapter::IsOpen() const { return m_State.load() == LinkState::Open && m_Port != nullptr; }

bool CHdlcAdapter::HasReceiver() const { return m_Receiver.joinable(); }

int CHdlcAdapter::StartReceiver() {
  if (m_Receiver.joinable()) {
    if (!m_ReceiverDone.load()) return 1;
    m_Receiver.join();  // it ended by itself (no port); start afresh
  }
  if (!m_Pending) return 0;
  // cleared here rather than in the thread: a stop asked before the thread got going must not be lost
  m_StopFlag.store(false);
  m_ReceiverDone.store(false);
  try {
    m_Receiver = std::thread(&CHdlcAdapter::ReceiverLoop, this);
  } catch (const std::system_error&) {
    m_ReceiverDone.store(true);
    return 0;
  }
  SleepMs(100);
  return 1;
}

bool CHdlcAdapter::WaitReceiverDone(uint32_t ms) {
  std::unique_lock<std::mutex> lock(m_DoneLock);
  return m_DoneSignal.wait_for(lock, Clock().RealWait(ms), [this] { return m_ReceiverDone.load(); });
}

int CHdlcAdapter::StopReceiver() {
  WriteConnectionEventsToLog();
  if (!m_Receiver.joinable()) return 1;
  m_StopFlag.store(true);
  if (m_Port) m_Port->Purge();
  if (!WaitReceiverDone(kStopWaitMs)) {
    if (m_Log != nullptr) m_Log->Print("Receiver thread did not end within %u ms", kStopWaitMs);
    return 0;
  }
  m_Receiver.join();
  m_StopFlag.store(false);
  return 1;
}

void CHdlcAdapter::JoinReceiverForcibly() {
  // the port must outlive the thread: keep asking until it has ended
  while (!m_ReceiverDone.load()) {
    m_StopFlag.store(true);
    if (m_Port) m_Port->Purge();
    WaitReceiverDone(1000);
  }
  m_Receiver.join();
  m_StopFlag.store(false);
}

void CHdlcAdapter::ReceiverLoop() {
  HdlcAssembler assembler;
  INetPort* port = m_Port.get();
  const bool datagram = port != nullptr && port->GetPortType() == NetPortUdp;
  const uint32_t portTimeout = datagram ? kDatagramPollMs : IClock::kInfinite;
  uint8_t* pending = m_Pending.get();
  while (!m_StopFlag.load()) {
    if (port == nullptr) break;
    if (m_PendingPos == m_PendingLength) {
      uint32_t count = 0;
      port->Read(pending, kReceiveChunk, &count, portTimeout);
      if (count == 0) {
        // a datagram port fails at once before its first send; do not spin on it
        if (datagram) SleepMs(20);
        continue;
      }
      m_PendingPos = 0;
      m_PendingLength = std::min(count, kReceiveChunk);
    }
    // one byte at a time, looking at the stop request between bytes like between port reads
    while (m_PendingPos < m_PendingLength && !m_StopFlag.load(std::memory_order_relaxed)) {
      if (!assembler.Push(pending[m_PendingPos++])) continue;
      unsigned length = HdlcDecodeFrame(assembler.MutableData(), assembler.Size(), assembler.MutableData());
      if (length != 0) m_Queue.Push(assembler.Data(), length);
    }
  }
  {
    std::lock_guard<std::mutex> guard(m_DoneLock);
    m_ReceiverDone.store(true);
  }
  m_DoneSignal.notify_all();
}

int CHdlcAdapter::SyncRead(uint8_t* destination, unsigned size, unsigned* received, uint32_t timeout) {
  if (!m_Pending) return 0;
  HdlcAssembler assembler;
  uint8_t* pending = m_Pending.get();
  const uint64_t start = TickMs();
  for (;;) {
    if (TickMs() - start > timeout) return 0;
    // the port's waits end at once after a stop request: do not spin until the time-out
    if (StopRequestedHere()) return 0;
    if (m_PendingPos == m_PendingLength) {
      if (!m_Port) return 0;
      uint32_t count = 0;
      m_Port->Read(pending, kReceiveChunk, &count, kSyncPortTimeoutMs);
      if (count == 0) {
        SleepMs(kSyncIdlePauseMs);
        continue;
      }
      m_PendingPos = 0;
      m_PendingLength = std::min(count, kReceiveChunk);
    }
    while (m_PendingPos < m_PendingLength) {
      if (!assembler.Push(pending[m_PendingPos++])) continue;
      unsigned length = HdlcDecodeFrame(assembler.MutableData(), assembler.Size(), assembler.MutableData());
      if (length == 0) return 0;
      unsigned copied = std::min(length, size);
      if (copied != 0) std::memcpy(destination, assembler.Data(), copied);
      *received = copied;
      return 1;
    }
  }
}

int CHdlcAdapter::Write(bool raw, const uint8_t* data, int length, bool leadingFlag, uint32_t timeout) {
  WriteConnectionEventsToLog();
  if (!IsOpen()) return 0;
  if (length < 0 || (data == nullptr && length != 0)) return 0;
  int result = 0;
  if (raw) {
    result = m_Port->Write(data, static_cast<uint32_t>(length), timeout);
  } else {
    // a longer payload would not fit the write buffer in the worst case
    if (static_cast<size_t>(length) > kHdlcMaxPayload) return 0;
    uint8_t* buffer = GetWriteBuffer();
    if (buffer == nullptr) return 0;
    m_WriteLength = HdlcEncodeFrame(data, static_cast<size_t>(length), buffer, leadingFlag);
    result = m_Port->Write(buffer, static_cast<uint32_t>(m_WriteLength), timeout);
  }
  // a reconnect made by this write goes to the log before the caller's failure line
  WriteConnectionEventsToLog();
  return result;
}

int CHdlcAdapter::Read(uint8_t* destination, unsigned size, unsigned* received, uint32_t timeout) {
  if (!IsOpen()) return 0;
  if (received == nullptr) return 0;
  *received = 0;
  int result = 0;
  if (m_Receiver.joinable()) {
    result = m_Queue.ReadMatch(destination, size, received, timeout);
  } else {
    if (destination == nullptr && size != 0) return 0;
    result = SyncRead(destination, size, received, timeout);
  }
  WriteConnectionEventsToLog();
  return result;
}

void CHdlcAdapter::SetResponseKey(const uint8_t* key, unsigned length) {
  m_Queue.SetResponseKey(key, length);
}

uint8_t* CHdlcAdapter::GetWriteBuffer() {
  if (!m_WriteBuffer) m_WriteBuffer.reset(new (std::nothrow) uint8_t[kHdlcWriteBufferSize]);
  return m_WriteBuffer.get();
}

int CHdlcAdapter::GetLastError() const { return m_Port ? m_Port->GetLastError() : 0; }
