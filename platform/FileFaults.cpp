#include "platform/FileFaults.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace {

std::atomic<bool> g_Armed{false};
std::atomic<int> g_Op{0};
std::atomic<uint64_t> g_FailAt{0};
std::atomic<int> g_Error{0};
std::atomic<bool> g_Fired{false};
std::atomic<uint64_t> g_Counts[kFileOpKinds];
std::mutex g_ActionLock;
std::function<void()> g_Action;  // guarded by g_ActionLock; run instead of failing when set

}  // namespace

int TakeFileFault(FileOp op) {
  if (!g_Armed.load(std::memory_order_relaxed)) return 0;
  const int kind = static_cast<int>(op);
  const uint64_t n = g_Counts[kind].fetch_add(1) + 1;
  if (kind != g_Op.load() || n != g_FailAt.load()) return 0;
  g_Fired.store(true);
  std::function<void()> action;
  {
    std::lock_guard<std::mutex> lock(g_ActionLock);
    action = std::move(g_Action);
    g_Action = nullptr;
  }
  if (action) {
    action();
    return 0;
  }
  return g_Error.load();
}

void ArmFileFault(FileOp op, uint64_t failAt, int error) {
  g_Armed.store(false);
  {
    std::lock_guard<std::mutex> lock(g_ActionLock);
    g_Action = nullptr;
  }
  for (auto& count : g_Counts) count.store(0);
  g_Op.store(static_cast<int>(op));
  g_FailAt.store(failAt);
  g_Error.store(error);
  g_Fired.store(false);
  g_Armed.store(true);
}

void ArmFileAction(FileOp op, uint64_t at, std::function<void()> action) {
  ArmFileFault(op, at, 0);
  std::lock_guard<std::mutex> lock(g_ActionLock);
  g_Action = std::move(action);
}

void DisarmFileFaults() {
  g_Armed.store(false);
  g_FailAt.store(0);
  std::lock_guard<std::mutex> lock(g_ActionLock);
  g_Action = nullptr;
}

uint64_t FileOpsCounted(FileOp op) { return g_Counts[static_cast<int>(op)].load(); }

bool FileFaultFired() { return g_Fired.load(); }

const char* FileOpName(FileOp op) {
  switch (op) {
    case FileOp::Read:
      return "read";
    case FileOp::Write:
      return "write";
    case FileOp::Rename:
      return "rename";
    case FileOp::Sync:
      return "sync";
  }
  return "?";
}
