#include "platform/large_blocks.h"

#include <malloc.h>

namespace {

// Blocks from this size up get mappings of their own: far above a decode's
// rows, below its whole-image buffers.
constexpr int kLargeBlockBytes = 4 << 20;

}  // namespace

void ReturnLargeBlocksWhenFreed() {
#ifdef M_MMAP_THRESHOLD
  mallopt(M_MMAP_THRESHOLD, kLargeBlockBytes);
#endif
}
