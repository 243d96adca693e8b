// Roles a second process on the same emulated bus plays.
#include <cstdlib>
#include <cstring>

#include "tests/usbdevfs/BenchWorld.h"

namespace lumora::testing {

int RunHelperProcess() {
    return 2;
}

}  // namespace lumora::testing
