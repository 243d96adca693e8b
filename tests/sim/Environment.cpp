#include "usb/UsbTestSupport.h"

namespace {
[[maybe_unused]] auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new lumora::testing::SharedBlockEnvironment);
}
