#include <gtest/gtest.h>

#include <cstdlib>

#include "lumora/host.h"
#include "usb/DeviceTable.h"

namespace lumora::usb {
namespace {

// Simulated cameras exist in one process only; their table must not be published to others.
TEST(SharedBlockName, SimulatedCamerasKeepTheTablePrivateUnlessANameIsGiven) {
    SetSharedBlockNameForTesting("");
    ::unsetenv("LUMORA_SHM_NAME");
    LumoraSim_SetCameraCount(0);
    EXPECT_EQ(SharedBlockName(), kSharedBlockName);
    LumoraSim_SetCameraCount(2);
    EXPECT_EQ(SharedBlockName(), "");
    ::setenv("LUMORA_SHM_NAME", "/lumora-chosen", 1);
    EXPECT_EQ(SharedBlockName(), "/lumora-chosen");
    ::unsetenv("LUMORA_SHM_NAME");
    LumoraSim_SetCameraCount(0);
}

}  // namespace
}  // namespace lumora::usb
