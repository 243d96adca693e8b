// The usbdevfs bench's entry: the emulated bus comes up before anything else asks umockdev
// whether it runs in a mock environment (the answer is cached), and before libusb starts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "tests/usbdevfs/BenchWorld.h"

int main(int argc, char** argv) {
    ::setenv("LUMORA_USB_VENDOR_ID", "1d50", 1);
    ::unsetenv("LUMORA_SIM_CAMERAS");
    if (!lumora::testing::IsHelperProcess()) lumora::testing::BenchWorld::Start();
    ::testing::InitGoogleTest(&argc, argv);
    if (lumora::testing::IsHelperProcess()) return lumora::testing::RunHelperProcess();
    return RUN_ALL_TESTS();
}
