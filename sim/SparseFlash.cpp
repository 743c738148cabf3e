#include "sim/SparseFlash.h"

#include <algorithm>
#include <cstring>

namespace qorsim {

bool SparseFlash::Write(uint32_t address, const uint8_t* data, size_t length) {
  if (length == 0) return true;
  const uint64_t begin = address;
  const uint64_t end = begin + length;  // exclusive
  if (end > 0x100000000ull) return false;

  // runs that overlap or touch [begin, end)
  auto first = m_Runs.upper_bound(address);
  if (first != m_Runs.begin()) {
    auto prev = std::prev(first);
    if (prev->first + static_cast<uint64_t>(prev->second.size()) >= begin) first = prev;
  }
  auto last = first;
  uint64_t newBegin = begin;
  uint64_t newEnd = end;
  size_t removed = 0;
  while (last != m_Runs.end() && last->first <= end) {
    newBegin = std::min<uint64_t>(newBegin, last->first);
    newEnd = std::max<uint64_t>(newEnd, last->first + static_cast<uint64_t>(last->second.size()));
    removed += last->second.size();
    ++last;
  }
  const size_t newSize = static_cast<size_t>(newEnd - newBegin);
  if (m_Size - removed + newSize > m_Capacity) return false;

  // a download writes block after block: grow the run in place instead of copying it every time
  if (first != m_Runs.end() && std::next(first) == last && first->first == newBegin) {
    first->second.resize(newSize);
    std::memcpy(first->second.data() + (begin - newBegin), data, length);
    m_Size = m_Size - removed + newSize;
    return true;
  }

  std::vector<uint8_t> merged(newSize);
  for (auto it = first; it != last; ++it) {
    std::memcpy(merged.data() + (it->first - newBegin), it->second.data(), it->second.size());
  }
  std::memcpy(merged.data() + (begin - newBegin), data, length);
  m_Runs.erase(first, last);
  m_Runs.emplace(static_cast<uint32_t>(newBegin), std::move(merged));
  m_Size = m_Size - removed + newSize;
  return true;
}

bool SparseFlash::Read(uint32_t address, size_t length, std::vector<uint8_t>* out) const {
  auto it = m_Runs.upper_bound(address);
  if (it == m_Runs.begin()) return false;
  --it;
  const uint64_t offset = address - it->first;
  if (offset + length > it->second.size()) return false;
  if (out)
    out->assign(it->second.begin() + static_cast<ptrdiff_t>(offset),
                it->second.begin() + static_cast<ptrdiff_t>(offset + length));
  return true;
}

}  // namespace qorsim
