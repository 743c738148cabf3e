#include "platform/Resources.h"

#include <atomic>

namespace {
std::atomic<const EmbeddedResourceEntry*> g_Override{nullptr};

const unsigned char* Serve(const EmbeddedResourceEntry& e, size_t* size) {
  size_t n = static_cast<size_t>(e.end - e.begin);
  // A resource of 0 or 1 byte stands for "none": the build puts a single byte where an image is
  // deliberately left out.
  if (e.begin == nullptr || n <= 1) return nullptr;
  if (size) *size = n;
  return e.begin;
}

const EmbeddedResourceEntry* Table() {
  const EmbeddedResourceEntry* t = g_Override.load(std::memory_order_acquire);
  return t ? t : EmbeddedResourceTable();
}
}  // namespace

const unsigned char* LoadRawResource(int id, std::string_view type, size_t* size) {
  for (const EmbeddedResourceEntry* e = Table(); e->type != nullptr; ++e) {
    if (e->id == id && type == e->type && (e->name == nullptr || e->name[0] == '\0')) return Serve(*e, size);
  }
  return nullptr;
}

const unsigned char* LoadRawResource(std::string_view name, std::string_view type, size_t* size) {
  for (const EmbeddedResourceEntry* e = Table(); e->type != nullptr; ++e) {
    if (e->name != nullptr && name == e->name && type == e->type) return Serve(*e, size);
  }
  return nullptr;
}

void SetResourceTableOverride(const EmbeddedResourceEntry* table) {
  g_Override.store(table, std::memory_order_release);
}
