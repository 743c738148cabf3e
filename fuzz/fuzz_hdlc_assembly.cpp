// The byte-wise frame assembly of the router link, fed an arbitrary stream: the first bytes choose a
// response key, the rest go through the assembly, the in-place decoder and the receive queue, and
// the queue is read now and then. Nothing may run outside a buffer, and every frame handed out must
// be one that was pushed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "protocol/CFrameQueue.h"
#include "protocol/Hdlc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  CFrameQueue queue;
  size_t keyLength = data[0] % 18;
  if (keyLength > size - 1) keyLength = size - 1;
  queue.SetResponseKey(data + 1, static_cast<unsigned>(keyLength));
  size_t i = 1 + keyLength;

  HdlcAssembler assembler;
  uint8_t out[kHdlcAssemblySize];
  unsigned frames = 0;
  for (; i < size; ++i) {
    if (assembler.Gathered() > kHdlcAssemblySize) std::abort();
    if (!assembler.Push(data[i])) continue;
    if (assembler.Size() < 3 || assembler.Size() > kHdlcAssemblySize) std::abort();
    unsigned n = HdlcDecodeFrame(assembler.MutableData(), assembler.Size(), assembler.MutableData());
    if (n == 0) continue;
    if (n + 2 > assembler.Size()) std::abort();
    queue.Push(assembler.Data(), n);
    if (queue.Count() > CFrameQueue::kMaxFrames) std::abort();
    if (++frames % 7 == 0) {
      unsigned received = 0;
      unsigned cap = 1 + (data[i - 1] % sizeof out);
      if (queue.ReadMatch(out, cap, &received, 0)) {
        if (received == 0 || received > cap) std::abort();
        // a frame handed out whole is one that matches the key
        if (received < cap && !queue.Match(out, received)) std::abort();
      }
      if (queue.Count() != 0) std::abort();
    }
  }
  return 0;
}
