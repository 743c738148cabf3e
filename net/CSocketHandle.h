#pragma once

#include <atomic>

#include "platform/NonCopyable.h"

// One open socket, shared (through std::shared_ptr) by the port and by every call that is using it.
//
// A reconnect in one thread replaces the port's socket while a call of the other thread may still be
// about to send, receive or poll on the old one. If the old descriptor were closed at once, its
// number could be handed to the new socket (or to any file) and the late call would act on that.
// So the port only retires the old socket: Retire() shuts it down in both directions, which wakes
// a poll() waiting on it, and the descriptor is closed when the last user lets go of the handle.
class CSocketHandle : public NonCopyable {
 public:
  explicit CSocketHandle(int fd) : m_Fd(fd) {}
  ~CSocketHandle() override;

  int Fd() const { return m_Fd.load(std::memory_order_acquire); }
  // Marks the socket as taken away by the port and wakes its waiters.
  void Retire();
  bool IsRetired() const { return m_Retired.load(std::memory_order_acquire); }
  // Set before the owner shuts the connection down itself, so a failing send can tell that from
  // the peer's reset (both are EPIPE on Linux).
  void MarkShutDown() { m_ShutDown.store(true, std::memory_order_release); }
  bool IsShutDown() const { return m_ShutDown.load(std::memory_order_acquire); }
  // True the first time only: the peer's orderly close of this connection is reported once.
  bool MarkPeerClosed() { return !m_PeerClosed.exchange(true, std::memory_order_acq_rel); }

 private:
  // Read by every call that holds the handle; closed by the destructor of the last holder.
  std::atomic<int> m_Fd;
  std::atomic<bool> m_Retired{false};
  std::atomic<bool> m_ShutDown{false};
  std::atomic<bool> m_PeerClosed{false};
};
