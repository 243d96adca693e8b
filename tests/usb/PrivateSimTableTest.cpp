#include <gtest/gtest.h>

#include <cstdlib>

#include "TestEnvironment.h"
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
    testing::RemoveEnvironment("LUMORA_SHM_NAME");
    LumoraSim_SetCameraCount(0);
    EXPECT_EQ(SharedBlockName(), kSharedBlockName);
    LumoraSim_SetCameraCount(2);
    EXPECT_EQ(SharedBlockName(), "");
    testing::SetEnvironment("LUMORA_SHM_NAME", "/lumora-chosen");
    EXPECT_EQ(SharedBlockName(), "/lumora-chosen");
    testing::RemoveEnvironment("LUMORA_SHM_NAME");
    LumoraSim_SetCameraCount(0);
    // The later tests of this program keep their own block, never the system's.
    SetSharedBlockNameForTesting(programBlock);
    if (!namedBlock.empty()) testing::SetEnvironment("LUMORA_SHM_NAME", namedBlock);
}

}  // namespace
}  // namespace lumora::usb
