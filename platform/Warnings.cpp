#include "platform/Warnings.h"

#include <atomic>
#include <cstdio>

#include "platform/StringTable.h"

namespace {
std::atomic<IWarningSink*> g_Sink{nullptr};
}

void SetWarningSink(IWarningSink* sink) { g_Sink.store(sink, std::memory_order_release); }

int ShowWarningText(const std::string& text) {
  if (IWarningSink* sink = g_Sink.load(std::memory_order_acquire)) return sink->ShowWarning(text);
  std::fprintf(stderr, "Warning: %s\n", text.c_str());
  return 1;
}

int ShowMessage(int stringId) { return ShowWarningText(LoadStringById(stringId)); }

ScopedWarningSink::ScopedWarningSink(IWarningSink& sink) : m_Previous(g_Sink.load()) {
  SetWarningSink(&sink);
}
ScopedWarningSink::~ScopedWarningSink() { SetWarningSink(m_Previous); }
