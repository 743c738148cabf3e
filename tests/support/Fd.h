#pragma once

#include <unistd.h>

// A descriptor closed at the end of its scope; movable, not copyable.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : m_Fd(fd) {}
  Fd(Fd&& other) noexcept : m_Fd(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Reset(); }

  int Get() const { return m_Fd; }
  bool Valid() const { return m_Fd >= 0; }
  // Gives the descriptor up without closing it.
  int Release() {
    const int fd = m_Fd;
    m_Fd = -1;
    return fd;
  }
  // Closes the descriptor held, then holds fd.
  void Reset(int fd = -1) {
    if (m_Fd >= 0) ::close(m_Fd);
    m_Fd = fd;
  }

 private:
  int m_Fd = -1;
};
