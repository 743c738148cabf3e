#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "sim/RouterSim.h"
#include "sim/SimBytes.h"

namespace qorsim {

// The router's own side: its versions (read over the console) and the router images it received.
// The link thread adds images, the console thread reads versions; one lock guards both.
class RouterStore {
 public:
  static constexpr size_t kMaxImages = 32;          // older records are dropped
  static constexpr uint32_t kResultSuccess = 4;     // result record code for a written image
  static constexpr uint32_t kResultBadImage = 3;    // the TRX header did not check out
  static constexpr uint32_t kResultIncomplete = 5;  // the stream ended early (never sent)

  explicit RouterStore(const SimConfig& config);

  // Checks a completed (or broken-off) image: the TRX header gives the module type, our version
  // tag after it the new version. A good, complete image updates the router's versions.
  RouterImageRecord Examine(uint32_t announced, Bytes data, bool complete);
  void Add(RouterImageRecord record);

  std::vector<RouterImageRecord> Images() const;
  Bytes LastImage(int moduleType) const;

  std::string Cfe() const;
  std::string App() const;
  std::string Software() const;
  std::string Res() const;

  // module type from the flag word of a TRX header, 9 when the bytes are no TRX header
  static int ModuleTypeOf(ByteView data);

 private:
  mutable std::mutex m_Lock;
  std::string m_Cfe, m_App, m_Software, m_Res;
  std::vector<RouterImageRecord> m_Images;
};

}  // namespace qorsim
