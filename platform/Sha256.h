#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256 (FIPS 180-4), to name an image by its content in a support report: the same file on the
// technician's PC and at the support desk has the same digest.
class CSha256 {
 public:
  CSha256();
  void Update(const void* data, size_t size);
  // The digest of everything given; the object must not be updated afterwards.
  std::array<uint8_t, 32> Finish();

  // The digest of data, as 64 lower-case hexadecimal digits.
  static std::string Hex(const void* data, size_t size);
  static std::string ToHex(const std::array<uint8_t, 32>& digest);

 private:
  void Block(const uint8_t* block);

  std::array<uint32_t, 8> m_State;
  std::array<uint8_t, 64> m_Pending{};
  size_t m_PendingSize = 0;
  uint64_t m_TotalBytes = 0;
};

// The SHA-256 of a file's contents as hexadecimal digits; "" with why in error when it cannot be read.
std::string Sha256OfFile(const std::string& path, std::string& error);
