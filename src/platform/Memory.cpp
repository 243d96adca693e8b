#include "platform/Memory.h"

#include <cstdlib>  // brings in the C library's identification

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace lumora::platform {

void ReturnFreeMemory() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

}  // namespace lumora::platform
