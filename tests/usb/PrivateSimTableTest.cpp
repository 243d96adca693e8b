#include <gtest/gtest.h>

#include <cstdlib>

#include "lumora/host.h"
#include "usb/DeviceTable.h"

namespace lumora::usb {
namespace {

// Simulated cameras exist in one process only; their table must not be published to others.
TEST(SharedBlockName, SimulatedCamerasKeepTheTablePrivateUnlessANameIsGiven) {
    const std::string programBlock = SharedBlockName();
    const char* named = std::getenv("LUMORA_SHM_NAME");
    const std::string namedBlock = named ? named : "";
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
    // The later tests of this program keep their own block, never the system's.
    SetSharedBlockNameForTesting(programBlock);
    if (!namedBlock.empty()) ::setenv("LUMORA_SHM_NAME", namedBlock.c_str(), 1);
}

}  // namespace
}  // namespace lumora::usb
