#include "image/ImageSet.h"

bool CImageSet::Any() const {
  for (const CBinFile& slot : m_Slots) {
    if (slot.IsValid()) return true;
  }
  return false;
}

void CImageSet::Clear() {
  for (CBinFile& slot : m_Slots) {
    slot.SetFilePath("");
    slot.Release();
  }
}
