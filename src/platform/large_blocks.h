#pragma once
// The C library's allocator keeps freed blocks for reuse; once a large block
// has been freed it raises its threshold for mapping blocks of their own, and
// the decodes' large blocks (coefficient buffers, pixel memory) then stay in
// the threads' heaps after they are freed. A fixed threshold gives every
// large block back to the system when it is freed, so a run's resident
// memory follows what its decodes hold. Called once at program start.
void ReturnLargeBlocksWhenFreed();
