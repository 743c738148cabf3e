#pragma once

#include <cstdint>

#include "image/CBinFile.h"
#include "platform/NonCopyable.h"

// Hands out the data of one unit of an image in blocks of a chosen size, as pointers into the
// image's memory (the verified copy of a file, or an embedded image; no further copy). The image is
// not owned and must stay valid, holding its memory, while the reader lives.
class CAppFileReader : public NonCopyable {
 public:
  CAppFileReader(const CBinFile& image, uint32_t blockSize);

  void SelectUnit(uint32_t unit);
  uint32_t GetBlockCount(uint32_t unit) const;
  const UnitHeader& GetUnitHeader(uint32_t unit) const;
  // The next block of the selected unit and its length; length 0 (and no move) once used up.
  const uint8_t* NextBlock(uint32_t& length);

 private:
  const CBinFile& m_Image;
  uint32_t m_BlockSize;
  uint32_t m_Position = 0;
  uint32_t m_Remaining = 0;
};
