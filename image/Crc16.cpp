#include "image/Crc16.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QOR_CRC_HAVE_CLMUL 1
#else
#define QOR_CRC_HAVE_CLMUL 0
#endif

namespace {
constexpr uint16_t kPoly = 0x8408;  // reflected 0x1021

constexpr uint16_t MakeEntry(unsigned i) {
  uint16_t r = static_cast<uint16_t>(i);
  for (int k = 0; k < 8; ++k)
    r = (r & 1) ? static_cast<uint16_t>((r >> 1) ^ kPoly) : static_cast<uint16_t>(r >> 1);
  return r;
}

// S[k][v]: the register after byte v followed by k zero bytes, from register 0. S[0] is the
// one-byte table. Sixteen bytes are then folded in with sixteen look-ups.
struct SliceTables {
  uint16_t s[16][256];
  constexpr SliceTables() : s() {
    for (unsigned i = 0; i < 256; ++i) s[0][i] = MakeEntry(i);
    for (int k = 1; k < 16; ++k)
      for (unsigned i = 0; i < 256; ++i)
        s[k][i] = static_cast<uint16_t>((s[k - 1][i] >> 8) ^ s[0][s[k - 1][i] & 0xFF]);
  }
};
constexpr SliceTables kSlice{};

uint16_t RunBytewise(uint16_t reg, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) reg = static_cast<uint16_t>((reg >> 8) ^ kSlice.s[0][(reg ^ p[i]) & 0xFF]);
  return reg;
}

uint16_t RunSlice16(uint16_t reg, const uint8_t* p, size_t n) {
  const auto& s = kSlice.s;
  while (n >= 16) {
    // the register overlays the first two bytes of the block
    const unsigned b0 = p[0] ^ (reg & 0xFF);
    const unsigned b1 = p[1] ^ (reg >> 8);
    reg =
        static_cast<uint16_t>(s[15][b0] ^ s[14][b1] ^ s[13][p[2]] ^ s[12][p[3]] ^ s[11][p[4]] ^ s[10][p[5]] ^
                              s[9][p[6]] ^ s[8][p[7]] ^ s[7][p[8]] ^ s[6][p[9]] ^ s[5][p[10]] ^ s[4][p[11]] ^
                              s[3][p[12]] ^ s[2][p[13]] ^ s[1][p[14]] ^ s[0][p[15]]);
    p += 16;
    n -= 16;
  }
  return RunBytewise(reg, p, n);
}

#if QOR_CRC_HAVE_CLMUL
// Carry-less multiply folding. Sixteen bytes loaded little-endian into a 128-bit lane form, in the
// reflected bit order of this CRC, a polynomial whose bit k is the coefficient of x^(127-k). Folding
// a lane forward by n bits multiplies it by x^n; split into its low qword L (the high-degree half) and
// high qword H, that is L*x^(n+64) + H*x^n, and modulo the CRC polynomial P each product shrinks to
// at most 80 bits, so the sum fits a lane again and can be xor-ed onto the data n bits further on.
// A carry-less multiply of two reflected operands carries one extra factor x, hence the constants
// x^(n+63) mod P and x^(n-1) mod P. The lane left at the end is congruent to everything folded
// before it, so running the plain CRC from register 0 over its 16 bytes and then over the tail gives
// the exact result. The start value is xor-ed into the first two bytes (equivalent for a reflected
// CRC once at least two bytes follow).

// x^n mod P, in the reflected form of a 64-bit operand (bit 63 - d for the term x^d).
constexpr uint64_t XPowModReflected(unsigned n) {
  uint32_t r = 1;  // normal order: bit d is x^d
  for (unsigned i = 0; i < n; ++i) {
    r <<= 1;
    if (r & 0x10000) r ^= 0x11021;
  }
  uint64_t out = 0;
  for (unsigned d = 0; d < 16; ++d)
    if (r & (1u << d)) out |= uint64_t{1} << (63 - d);
  return out;
}

constexpr uint64_t kFold512Lo = XPowModReflected(512 + 63);
constexpr uint64_t kFold512Hi = XPowModReflected(512 - 1);
constexpr uint64_t kFold128Lo = XPowModReflected(128 + 63);
constexpr uint64_t kFold128Hi = XPowModReflected(128 - 1);

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i x, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

__attribute__((target("pclmul,sse2"))) uint16_t RunClmul(uint16_t reg, const uint8_t* p, size_t n) {
  if (n < 64) return RunSlice16(reg, p, n);
  const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512Hi), static_cast<long long>(kFold512Lo));
  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128Hi), static_cast<long long>(kFold128Lo));
  const auto load = [](const uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };

  __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(reg));
  __m128i x1 = load(p + 16);
  __m128i x2 = load(p + 32);
  __m128i x3 = load(p + 48);
  p += 64;
  n -= 64;
  while (n >= 64) {
    x0 = _mm_xor_si128(Fold(x0, k512), load(p));
    x1 = _mm_xor_si128(Fold(x1, k512), load(p + 16));
    x2 = _mm_xor_si128(Fold(x2, k512), load(p + 32));
    x3 = _mm_xor_si128(Fold(x3, k512), load(p + 48));
    p += 64;
    n -= 64;
  }
  __m128i x = _mm_xor_si128(Fold(x0, k128), x1);
  x = _mm_xor_si128(Fold(x, k128), x2);
  x = _mm_xor_si128(Fold(x, k128), x3);
  while (n >= 16) {
    x = _mm_xor_si128(Fold(x, k128), load(p));
    p += 16;
    n -= 16;
  }
  alignas(16) uint8_t lane[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(lane), x);
  return RunBytewise(RunSlice16(0, lane, 16), p, n);
}

// The same fold over 512-bit registers: each holds four 16-byte lanes, four registers take 256 bytes a
// round, so every lane moves 2048 bits forward. The registers are then folded into one (512 bits at a
// time), its four lanes into one (128 bits at a time), and the end is the 128-bit method's end.
// Compiled for these instructions only here; the rest of the program stays baseline x86-64 and this
// runs only when the CPU check finds them.
constexpr uint64_t kFold2048Lo = XPowModReflected(2048 + 63);
constexpr uint64_t kFold2048Hi = XPowModReflected(2048 - 1);

#define QOR_CRC_WIDE_TARGET __attribute__((target("avx512f,vpclmulqdq,pclmul,sse2")))

QOR_CRC_WIDE_TARGET inline __m512i Fold512(__m512i x, __m512i k, __m512i next) {
  // 0x96: three-way exclusive or
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00), _mm512_clmulepi64_epi128(x, k, 0x11),
                                   next, 0x96);
}

QOR_CRC_WIDE_TARGET inline __m512i Load512(const uint8_t* q) { return _mm512_loadu_si512(q); }

QOR_CRC_WIDE_TARGET uint16_t RunVpclmul512(uint16_t reg, const uint8_t* p, size_t n) {
  if (n < 256) return RunClmul(reg, p, n);
  // (set element by element: the broadcast and widening intrinsics trip GCC 12's uninitialised-value
  // warning inside their own headers)
  const auto hi2048 = static_cast<long long>(kFold2048Hi), lo2048 = static_cast<long long>(kFold2048Lo);
  const auto hi512 = static_cast<long long>(kFold512Hi), lo512 = static_cast<long long>(kFold512Lo);
  const __m512i k2048 = _mm512_set_epi64(hi2048, lo2048, hi2048, lo2048, hi2048, lo2048, hi2048, lo2048);
  const __m512i k512 = _mm512_set_epi64(hi512, lo512, hi512, lo512, hi512, lo512, hi512, lo512);

  __m512i x0 = _mm512_xor_si512(Load512(p), _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, reg));
  __m512i x1 = Load512(p + 64);
  __m512i x2 = Load512(p + 128);
  __m512i x3 = Load512(p + 192);
  p += 256;
  n -= 256;
  while (n >= 256) {
    // ask for the data 1 KiB ahead: the fold does enough work per byte that the CPU alone keeps too
    // few reads in flight to run at the memory's speed (harmless past the end: a prefetch never faults)
    _mm_prefetch(reinterpret_cast<const char*>(p + 1024), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(p + 1088), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(p + 1152), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(p + 1216), _MM_HINT_T0);
    x0 = Fold512(x0, k2048, Load512(p));
    x1 = Fold512(x1, k2048, Load512(p + 64));
    x2 = Fold512(x2, k2048, Load512(p + 128));
    x3 = Fold512(x3, k2048, Load512(p + 192));
    p += 256;
    n -= 256;
  }
  __m512i x = Fold512(x0, k512, x1);
  x = Fold512(x, k512, x2);
  x = Fold512(x, k512, x3);
  while (n >= 64) {
    x = Fold512(x, k512, Load512(p));
    p += 64;
    n -= 64;
  }
  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128Hi), static_cast<long long>(kFold128Lo));
  // the four lanes through memory (the extract intrinsic trips the same warning)
  alignas(64) uint8_t lanes[64];
  _mm512_store_si512(lanes, x);
  const auto lane128 = [&lanes](int i) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(lanes + 16 * i));
  };
  __m128i y = _mm_xor_si128(Fold(lane128(0), k128), lane128(1));
  y = _mm_xor_si128(Fold(y, k128), lane128(2));
  y = _mm_xor_si128(Fold(y, k128), lane128(3));
  while (n >= 16) {
    y = _mm_xor_si128(Fold(y, k128), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    p += 16;
    n -= 16;
  }
  alignas(16) uint8_t lane[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(lane), y);
  return RunBytewise(RunSlice16(0, lane, 16), p, n);
}
#undef QOR_CRC_WIDE_TARGET

bool DetectClmul() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
}

// The CPU's answer also covers the system: the check reports AVX-512 only where the system saves the
// wide registers.
bool DetectVpclmul512() {
  __builtin_cpu_init();
  return DetectClmul() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq");
}
#endif

using RunFn = uint16_t (*)(uint16_t, const uint8_t*, size_t);

RunFn ChooseFastest() {
#if QOR_CRC_HAVE_CLMUL
  if (DetectVpclmul512()) return RunVpclmul512;
  if (DetectClmul()) return RunClmul;
#endif
  return RunSlice16;
}

// chosen on first use (the CPU does not change under the program); safe during static initialisation
RunFn FastestRun() {
  static const RunFn fn = ChooseFastest();
  return fn;
}
}  // namespace

const uint16_t kCrc16Table[256] = {
#define E(i) kSlice.s[0][i]
#define R8(b) E(b), E(b + 1), E(b + 2), E(b + 3), E(b + 4), E(b + 5), E(b + 6), E(b + 7)
#define R64(b) R8(b), R8(b + 8), R8(b + 16), R8(b + 24), R8(b + 32), R8(b + 40), R8(b + 48), R8(b + 56)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R8
#undef E
};

void Crc16Update(uint16_t& reg, uint8_t byte) {
  reg = static_cast<uint16_t>((reg >> 8) ^ kCrc16Table[(reg ^ byte) & 0xFF]);
}

uint16_t Crc16Run(uint16_t reg, const void* data, size_t length) {
  if (length == 0) return reg;
  return FastestRun()(reg, static_cast<const uint8_t*>(data), length);
}

uint16_t Crc16Compute(const void* data, size_t length) {
  return static_cast<uint16_t>(~Crc16Run(0xFFFF, data, length));
}

bool Crc16MethodAvailable(Crc16Method method) {
  switch (method) {
    case Crc16Method::Bytewise:
    case Crc16Method::Slice16:
      return true;
    case Crc16Method::Clmul:
#if QOR_CRC_HAVE_CLMUL
      return DetectClmul();
#else
      return false;
#endif
    case Crc16Method::Vpclmul512:
#if QOR_CRC_HAVE_CLMUL
      return DetectVpclmul512();
#else
      return false;
#endif
  }
  return false;
}

uint16_t Crc16RunWith(Crc16Method method, uint16_t reg, const void* data, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  if (length == 0) return reg;
  switch (method) {
    case Crc16Method::Bytewise:
      return RunBytewise(reg, p, length);
    case Crc16Method::Slice16:
      return RunSlice16(reg, p, length);
    case Crc16Method::Clmul:
#if QOR_CRC_HAVE_CLMUL
      if (DetectClmul()) return RunClmul(reg, p, length);
#endif
      return RunSlice16(reg, p, length);
    case Crc16Method::Vpclmul512:
#if QOR_CRC_HAVE_CLMUL
      if (DetectVpclmul512()) return RunVpclmul512(reg, p, length);
      if (DetectClmul()) return RunClmul(reg, p, length);
#endif
      return RunSlice16(reg, p, length);
  }
  return RunBytewise(reg, p, length);
}

Crc16Method Crc16FastestMethod() {
#if QOR_CRC_HAVE_CLMUL
  if (DetectVpclmul512()) return Crc16Method::Vpclmul512;
  if (DetectClmul()) return Crc16Method::Clmul;
#endif
  return Crc16Method::Slice16;
}
