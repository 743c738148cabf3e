#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

// The router link's receive queue: up to 50 decoded frames, and an auto-reset event that wakes a
// waiting reader when a frame matching the expected response key is queued. Every read empties it,
// and with the frames goes any signal they raised. Time-outs are milliseconds of the tool's clock.
// Thread-safe: the receiver thread pushes, the worker thread sets keys and reads; the lock is never
// held while a reader waits. A reader whose thread has a stop request (platform/StopRequest.h) looks
// at it every kStopPollMs and ends its wait like a time-out.
class CFrameQueue {
 public:
  static constexpr int kMaxFrames = 50;
  static constexpr unsigned kMaxKey = 16;

  CFrameQueue();
  ~CFrameQueue();
  CFrameQueue(const CFrameQueue&) = delete;
  CFrameQueue& operator=(const CFrameQueue&) = delete;

  // Keeps the first min(length, 16) bytes as the key and resets the event and an interruption;
  // queued frames stay.
  void SetResponseKey(const uint8_t* key, unsigned length);
  // The connection the frames came on has ended: the waiting read (or the next one) ends at once
  // without a frame, unless a matching frame is already there. Any thread.
  void Interrupt();
  // Queues a frame (0 when 50 are queued or it cannot be stored); signals when it matches.
  int Push(const uint8_t* frame, unsigned length);
  // Waits up to timeout ms (clock time) for a matching frame; copies the newest match, cut to size.
  // Empties the queue afterwards, also on time-out.
  int ReadMatch(uint8_t* destination, unsigned size, unsigned* received, uint32_t timeout);
  // The key rules: 02-keys also accept a 3-byte 03 frame; DIAG error responses (13/14/15/18) match
  // on the echoed request after their first byte; no key matches everything.
  bool Match(const uint8_t* frame, unsigned length) const;  // caller holds the lock or owns the queue

  int Count() const;
  // Size of the data block: grows to exactly what the frames need, kept across emptying.
  uint32_t Capacity() const;

 private:
  struct Entry {
    uint32_t offset;
    uint32_t length;
  };
  Entry m_Entries[kMaxFrames] = {};
  int m_Count = 0;
  std::vector<uint8_t> m_Data;  // capacity = m_Data.size()
  uint32_t m_Used = 0;
  uint8_t m_Key[kMaxKey] = {};
  unsigned m_KeyLength = 0;
  bool m_Event = false;  // auto-reset event
  bool m_Interrupted = false;
  // Set with m_Event or m_Interrupted, cleared with them: read without the lock by a reader that
  // spins briefly before it sleeps (see ReadMatch).
  std::atomic<bool> m_Posted{false};
  mutable std::mutex m_Lock;
  std::condition_variable m_Signal;
};
