#pragma once

#include <array>

#include "image/CBinFile.h"
#include "image/ModuleType.h"
#include "platform/NonCopyable.h"

// The image slots of one catalogue: at most one verified image per module. A front end owns one set
// for its whole life; the Check fills it (a scan, or the embedded images) and the plan it produces
// points into it, so the set must not be refilled while an Upgrade that uses the plan runs.
//
// Threads: used by one worker at a time (the front end starts at most one), so it has no lock.
class CImageSet : public NonCopyable {
 public:
  CImageSet() = default;

  // The slot of module m (m must not be MODULE_NONE).
  CBinFile& operator[](ModuleType m) { return m_Slots[ModuleIndex(m)]; }
  const CBinFile& operator[](ModuleType m) const { return m_Slots[ModuleIndex(m)]; }

  // Whether module m has a valid image (false for MODULE_NONE).
  bool HasImage(ModuleType m) const { return m != MODULE_NONE && (*this)[m].IsValid(); }
  // Whether any slot holds a valid image.
  bool Any() const;
  // Empties every slot: paths cleared, copies freed.
  void Clear();

 private:
  std::array<CBinFile, kModuleCount> m_Slots;
};
