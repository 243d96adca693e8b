// The real-time suite gets a shared device block of its own, so parallel test programs never see
// each other's device tables.
#include "usb/UsbTestSupport.h"

namespace {
[[maybe_unused]] ::testing::Environment* const kSharedBlock =
    ::testing::AddGlobalTestEnvironment(new lumora::testing::SharedBlockEnvironment);
}  // namespace
