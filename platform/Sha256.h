#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256 (FIPS 180-4), for the digests of the images a run reports: an integrator compares them with
// the digests of the images it meant to send.
class CSha256 {
 public:
  CSha256();
  void Update(const uint8_t* data, size_t length);
  // The digest; the object is spent afterwards.
  std::array<uint8_t, 32> Finish();

  // The digest of data as 64 lower-case hexadecimal digits.
  static std::string HexDigest(const uint8_t* data, size_t length);

 private:
  void Block(const uint8_t* block);

  std::array<uint32_t, 8> m_State;
  std::array<uint8_t, 64> m_Buffer{};
  size_t m_Buffered = 0;
  uint64_t m_Length = 0;  // bytes so far
};
