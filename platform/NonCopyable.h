#pragma once

// Base of every class that owns a handle (a mapping, a socket, an event, a thread): such objects are
// never copied, so the handle has exactly one owner.
class NonCopyable {
 public:
  NonCopyable() = default;
  virtual ~NonCopyable() = default;
  NonCopyable(const NonCopyable&) = delete;
  NonCopyable& operator=(const NonCopyable&) = delete;
};
