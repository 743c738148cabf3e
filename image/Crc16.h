#pragma once

#include <cstddef>
#include <cstdint>

// CRC-16/X.25 (reflected polynomial 0x8408, register starts at 0xFFFF, result complemented, stored
// little-endian): the checksum of image headers and blocks and the HDLC frame check sequence.

// One step: register := (register >> 8) ^ T[(register ^ byte) & 0xFF].
void Crc16Update(uint16_t& reg, uint8_t byte);

// Runs the register from 0xFFFF over the bytes and returns its complement. "123456789" gives 0x906E.
uint16_t Crc16Compute(const void* data, size_t length);

// Runs the register over the bytes from any start value and returns the register (not complemented).
// Gives exactly what repeated Crc16Update calls give; may use a faster method.
uint16_t Crc16Run(uint16_t reg, const void* data, size_t length);

// The 256-entry table of the reflected polynomial.
extern const uint16_t kCrc16Table[256];

// The ways Crc16Run can compute; Crc16Run uses the fastest one this CPU has (checked at start-up).
// All give identical results; the explicit forms exist for tests and the benchmark.
// Clmul folds 128-bit lanes (PCLMULQDQ); Vpclmul512 folds 512-bit registers (VPCLMULQDQ with AVX-512).
enum class Crc16Method { Bytewise, Slice16, Clmul, Vpclmul512 };
bool Crc16MethodAvailable(Crc16Method method);
Crc16Method Crc16FastestMethod();
// Like Crc16Run with the given method. A method the CPU lacks falls back to the next slower one
// (Vpclmul512 to Clmul, Clmul to Slice16), so the result is always computed.
uint16_t Crc16RunWith(Crc16Method method, uint16_t reg, const void* data, size_t length);
