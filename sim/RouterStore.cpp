#include "sim/RouterStore.h"

#include "image/ImageFormat.h"

namespace qorsim {

RouterStore::RouterStore(const SimConfig& config)
    : m_Cfe(config.cfeVersion),
      m_App(config.appVersion),
      m_Software(config.softwareVersion),
      m_Res(config.resVersion) {}

int RouterStore::ModuleTypeOf(ByteView data) {
  using namespace image_layout;
  uint32_t flags = 0;
  if (data.size() < kTrxHeaderSize || !EqualAt(data, 0, kRouterMagic) ||
      !ReadU32LE(data, kTrxFlagOffset, flags)) {
    return 9;
  }
  // A = (F >> 1) & 3 and B = (F >> 3) & 3 name the part of the router module
  const uint32_t a = (flags >> 1) & 3;
  const uint32_t b = (flags >> 3) & 3;
  if (a == 1) return 0;
  if (a == 0) return 1;
  if (a == 2) return 2;
  static const int kByB[4] = {5, 6, 3, 4};
  return kByB[b];
}

RouterImageRecord RouterStore::Examine(uint32_t announced, Bytes data, bool complete) {
  using namespace image_layout;
  RouterImageRecord r;
  r.announced = announced;
  r.complete = complete;
  r.moduleType = ModuleTypeOf(data);
  if (EqualAt(data, kTrxHeaderSize, kVersionTagMagic)) {
    r.tagVersion = ReadText(data, kTrxHeaderSize + kVersionTagTextOffset, kVersionTagTextSize);
  }
  r.resultCode = !complete ? kResultIncomplete : (r.moduleType == 9 ? kResultBadImage : kResultSuccess);
  r.data = std::move(data);
  return r;
}

void RouterStore::Add(RouterImageRecord record) {
  std::lock_guard<std::mutex> lock(m_Lock);
  if (record.resultCode == kResultSuccess) {
    const std::string v = record.tagVersion.empty() ? "untagged image" : record.tagVersion;
    // the console reports these versions: boot loader, application, HTML resources
    switch (record.moduleType) {
      case 0:
        m_Cfe = v;
        break;
      case 1:
        m_App = v;
        break;
      case 5:
        m_Software = v;
        break;
      case 3:
        m_Res = v;
        break;
      default:
        break;
    }
  }
  m_Images.push_back(std::move(record));
  if (m_Images.size() > kMaxImages) m_Images.erase(m_Images.begin());
}

std::vector<RouterImageRecord> RouterStore::Images() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Images;
}

Bytes RouterStore::LastImage(int moduleType) const {
  std::lock_guard<std::mutex> lock(m_Lock);
  for (auto it = m_Images.rbegin(); it != m_Images.rend(); ++it) {
    if (it->moduleType == moduleType) return it->data;
  }
  return {};
}

std::string RouterStore::Cfe() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Cfe;
}
std::string RouterStore::App() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_App;
}
std::string RouterStore::Software() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Software;
}
std::string RouterStore::Res() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Res;
}

}  // namespace qorsim
