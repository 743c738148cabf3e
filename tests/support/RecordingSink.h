#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/Warnings.h"

// A warning sink that answers every warning at once and keeps its text, for tests that install it
// with ScopedWarningSink. Warnings may come from any thread.
class RecordingSink : public IWarningSink {
 public:
  int ShowWarning(const std::string& text) override;
  // The texts so far, in the order they came.
  std::vector<std::string> Texts() const;
  // Forgets the texts so far.
  void Clear();

 private:
  mutable std::mutex m_Lock;
  std::vector<std::string> m_Texts;
};
