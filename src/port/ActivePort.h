#pragma once
// The port the transport uses.
#include "port/UsbPort.h"

namespace lumora::platform {

// Simulated cameras first, then real ones through libusb. A path is tried on the simulated bus
// and, when nothing answers there, on libusb.
UsbPort& ActivePort();

}  // namespace lumora::platform
