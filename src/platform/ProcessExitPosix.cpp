#include "platform/ProcessExit.h"

namespace lumora::platform {

bool ProcessIsExiting() {
    return false;
}

bool ModuleIsUnloading() {
    return false;
}

}  // namespace lumora::platform
