#include "platform/ProcessExit.h"

namespace lumora::platform {

bool ProcessIsExiting() {
    return false;
}

}  // namespace lumora::platform
