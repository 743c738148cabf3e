#include "protocol/CFrameQueue.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "platform/Clock.h"
#include "platform/StopRequest.h"
#include "protocol/DiagCodec.h"

namespace {

// How long a reader looks for its answer before it goes to sleep. A block of the modem download is
// answered within tens of microseconds on a fast link; a sleep and its wake-up cost about as much
// again, once per block. Real time, not the tool's clock: this only trades a little processor time
// for the wake-up, it never changes how long anything waits.
constexpr auto kSpinLimit = std::chrono::microseconds(60);

// On one processor the spin would only hold off the receiver thread that brings the answer.
bool SpinHelps() {
  static const bool helps = std::thread::hardware_concurrency() >= 2;
  return helps;
}

inline void PauseProcessor() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#endif
}

}  // namespace

CFrameQueue::CFrameQueue() = default;
CFrameQueue::~CFrameQueue() = default;

void CFrameQueue::SetResponseKey(const uint8_t* key, unsigned length) {
  std::lock_guard<std::mutex> guard(m_Lock);
  m_KeyLength = (key == nullptr) ? 0 : std::min(length, kMaxKey);
  if (m_KeyLength != 0) std::memcpy(m_Key, key, m_KeyLength);
  m_Event = false;
  m_Interrupted = false;
  m_Posted.store(false, std::memory_order_relaxed);
}

void CFrameQueue::Interrupt() {
  {
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Interrupted = true;
    m_Posted.store(true, std::memory_order_release);
  }
  m_Signal.notify_all();
}

int CFrameQueue::Push(const uint8_t* frame, unsigned length) {
  if (frame == nullptr && length != 0) return 0;
  bool signal = false;
  {
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_Count >= kMaxFrames) return 0;
    size_t capacity = m_Data.size();
    if (capacity - m_Used < length) {
      uint64_t needed = static_cast<uint64_t>(m_Used) + length;
      if (needed > 0xFFFFFFFFull) return 0;
      // grow to exactly what is needed; the block is reused after every emptying
      std::vector<uint8_t> grown;
      try {
        grown.resize(static_cast<size_t>(needed));
      } catch (const std::bad_alloc&) {
        return 0;
      }
      if (m_Used != 0) std::memcpy(grown.data(), m_Data.data(), m_Used);
      m_Data.swap(grown);
    }
    if (length != 0) std::memcpy(m_Data.data() + m_Used, frame, length);
    m_Entries[m_Count] = Entry{m_Used, length};
    ++m_Count;
    m_Used += length;
    if (Match(frame, length)) {
      m_Event = true;
      m_Posted.store(true, std::memory_order_release);
      signal = true;
    }
  }
  if (signal) m_Signal.notify_one();
  return 1;
}

bool CFrameQueue::Match(const uint8_t* frame, unsigned length) const {
  const unsigned n = m_KeyLength;
  if (n == 0) return true;
  if (m_Key[0] == diag::kDlAck) {
    // a download-mode acknowledgement is expected; its negative form is 03 plus two bytes
    if (length == diag::kDlNakLength && frame[0] == diag::kDlNak) return true;
    unsigned m = std::min(n, length);
    return std::memcmp(frame, m_Key, m) == 0;
  }
  if (length != 0) {
    const uint8_t first = frame[0];
    if (first == diag::kErrBadCommand || first == diag::kErrBadParameter || first == diag::kErrBadLength ||
        first == diag::kErrNotInThisMode) {
      // DIAG refusals echo the request after their first byte
      return length >= n + 1 && std::memcmp(frame + 1, m_Key, n) == 0;
    }
  }
  return length >= n && std::memcmp(frame, m_Key, n) == 0;
}

int CFrameQueue::ReadMatch(uint8_t* destination, unsigned size, unsigned* received, uint32_t timeout) {
  if (destination == nullptr || size == 0) return 0;
  std::unique_lock<std::mutex> lock(m_Lock);
  // the mutex is released while waiting; only the event and the queue are touched under it
  const std::atomic<bool>* stop = CurrentStopRequest();
  auto ready = [this, stop] { return m_Event || m_Interrupted || (stop != nullptr && stop->load()); };
  if (SpinHelps() && !ready()) {
    // look for the answer without the lock for a few microseconds first: most acknowledgements
    // come that soon, and then the reader never sleeps
    const auto limit = std::min<std::chrono::steady_clock::duration>(kSpinLimit, Clock().RealWait(timeout));
    lock.unlock();
    const auto spinEnd = std::chrono::steady_clock::now() + limit;
    for (unsigned i = 1; !m_Posted.load(std::memory_order_acquire); ++i) {
      PauseProcessor();
      if (i % 64 == 0 && std::chrono::steady_clock::now() >= spinEnd) break;
    }
    lock.lock();
  }
  if (stop == nullptr) {
    m_Signal.wait_for(lock, Clock().RealWait(timeout), ready);
  } else {
    // in slices, so the stop request is seen while no frame comes
    const auto end = std::chrono::steady_clock::now() + Clock().RealWait(timeout);
    const auto slice = Clock().RealWait(kStopPollMs);
    while (!ready()) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= end) break;
      m_Signal.wait_for(lock, std::min<std::chrono::steady_clock::duration>(slice, end - now), ready);
    }
  }
  const bool signalled = m_Event;
  m_Interrupted = false;
  int result = 0;
  if (signalled) {
    m_Event = false;  // auto-reset: this wait consumed the signal
    if (!m_Data.empty() && m_Count != 0) {
      for (int i = m_Count - 1; i >= 0; --i) {
        const uint8_t* frame = m_Data.data() + m_Entries[i].offset;
        unsigned length = m_Entries[i].length;
        if (!Match(frame, length)) continue;
        unsigned copied = std::min(length, size);
        std::memcpy(destination, frame, copied);
        if (received != nullptr) *received = copied;
        result = 1;
        break;
      }
    }
  }
  // every frame queued so far is dropped, answered or not; with them goes any signal they raised,
  // so the next read waits for a frame that is actually there
  m_Count = 0;
  m_Used = 0;
  m_Event = false;
  m_Posted.store(false, std::memory_order_relaxed);
  return result;
}

int CFrameQueue::Count() const {
  std::lock_guard<std::mutex> guard(m_Lock);
  return m_Count;
}

uint32_t CFrameQueue::Capacity() const {
  std::lock_guard<std::mutex> guard(m_Lock);
  return static_cast<uint32_t>(m_Data.size());
}
