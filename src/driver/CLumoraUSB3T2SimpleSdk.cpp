#include "driver/CLumoraUSB3T2SimpleSdk.h"

namespace lumora {

// The camera is closed (and the acquisition thread, which calls virtual operations, joined)
// before this object's part of the operation table is torn down; the base destructor's close
// then finds nothing left to do.
CLumoraUSB3T2SimpleSdk::~CLumoraUSB3T2SimpleSdk() { CloseCamera(); }

}  // namespace lumora
