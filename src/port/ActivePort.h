#pragma once
// The port the transport uses.
#include "port/UsbPort.h"

namespace lumora::platform {

// Simulated cameras first, then real ones (libusb on POSIX systems, the kernel driver on
// Windows). A path is tried on the simulated bus and, when nothing answers there, on the
// system's.
UsbPort& ActivePort();

}  // namespace lumora::platform
