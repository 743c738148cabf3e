#include "image/CAppFileReader.h"

#include <algorithm>

CAppFileReader::CAppFileReader(const CBinFile& image, uint32_t blockSize)
    : m_Image(image), m_BlockSize(blockSize == 0 ? 1 : blockSize) {}

// Unit indexes at or past the unit count select nothing rather than read outside the lists.
void CAppFileReader::SelectUnit(uint32_t unit) {
  if (unit >= m_Image.GetUnitCount()) {
    m_Position = 0;
    m_Remaining = 0;
    return;
  }
  const UnitExtent& e = m_Image.GetUnitExtent(unit);
  m_Position = e.offset;
  m_Remaining = e.length;
}

uint32_t CAppFileReader::GetBlockCount(uint32_t unit) const {
  // 64-bit: length + block size - 1 overflows 32 bits for lengths near 4 GiB
  if (unit >= m_Image.GetUnitCount()) return 0;
  const uint64_t length = m_Image.GetUnitExtent(unit).length;
  return static_cast<uint32_t>((length + m_BlockSize - 1) / m_BlockSize);
}

const UnitHeader& CAppFileReader::GetUnitHeader(uint32_t unit) const {
  static const UnitHeader kNone{};
  return unit < m_Image.GetUnitCount() ? m_Image.GetUnitHeader(unit) : kNone;
}

const uint8_t* CAppFileReader::NextBlock(uint32_t& length) {
  length = std::min(m_BlockSize, m_Remaining);
  if (m_Image.GetImageData() == nullptr) return nullptr;
  const uint8_t* block = m_Image.GetImageData() + m_Position;
  m_Position += length;
  m_Remaining -= length;
  return block;
}
