#pragma once
// The process's allocator as the layers above need it.

namespace lumora::platform {

// Hands the memory the allocator keeps free back to the system. A released session frees tens
// of megabytes of frame and image buffers at once; the C library keeps such memory in its
// arenas for reuse, so a process that opens and closes cameras again and again would grow its
// resident size by hundreds of megabytes per thousand sessions although nothing leaks.
void ReturnFreeMemory();

}  // namespace lumora::platform
