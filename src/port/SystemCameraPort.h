#pragma once
// The backend of real cameras on this system: libusb on POSIX systems (LibusbPort), the
// camera's kernel driver on Windows (DriverPortWin32.cpp). Its hot-plug notices reach the hub.
#include "port/UsbPort.h"

namespace lumora::platform {

UsbPort& SystemCameraPort();

}  // namespace lumora::platform
