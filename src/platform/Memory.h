#pragma once
// The process's allocator and memory traffic as the layers above need them.

#include <cstddef>

namespace lumora::platform {

// Hands the memory the allocator keeps free back to the system. A released session frees tens
// of megabytes of frame and image buffers at once; the C library keeps such memory in its
// arenas for reuse, so a process that opens and closes cameras again and again would grow its
// resident size by hundreds of megabytes per thousand sessions although nothing leaks.
void ReturnFreeMemory();

// Copies `bytes` from `source` to `target` (not overlapping) with stores that go around the
// caches. A full frame handed to a caller is megabytes that this thread will not read again;
// ordinary stores would first read every destination line from memory and push the frames the
// camera is filling out of the cache. All stores are visible to other threads on return.
void CopyBypassingCache(void* target, const void* source, size_t bytes);

// Copies `rows` rows of `rowBytes` each, from `source` (rows `sourceStride` apart, which may be
// negative to turn the image upside down) to `target` (rows back to back), as above.
void CopyRowsBypassingCache(unsigned char* target, const unsigned char* source,
                            ptrdiff_t sourceStride, size_t rowBytes, size_t rows);

}  // namespace lumora::platform
