#pragma once
// Shared set-up of the transport and simulated-camera suites: a shared device block of the test
// program's own (so parallel test programs never see each other's tables) and a clean set of
// simulated cameras around each test.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "sim/SimCameraSet.h"
#include "sim/SimSensorModel.h"
#include "usb/DeviceTable.h"

namespace lumora::testing {

inline std::string TestBlockName() {
    return "/V3U2-MemMap-test-" + std::to_string(::getpid());
}

// Installed once per test program (see the registration in each suite's support file).
class SharedBlockEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        name_ = TestBlockName();
        usb::SetSharedBlockNameForTesting(name_);
        shm_unlink(name_.c_str());
    }
    void TearDown() override { shm_unlink(name_.c_str()); }

private:
    std::string name_;
};

// Each test starts with `count` fresh simulated cameras and ends with none.
class SimCamerasTest : public ::testing::Test {
protected:
    void UseCameras(int count) {
        auto& set = sim::SimCameraSet::Instance();
        sim::UsePlainCameraModel(true);  // every payload byte predictable
        set.SetCount(0);
        set.SetCount(count);
        for (int i = 0; i < count; ++i) set.Camera(i)->SetStartupTimeMs(0);
    }
    std::shared_ptr<sim::SimCamera> Camera(int index) {
        return sim::SimCameraSet::Instance().Camera(index);
    }
    void TearDown() override { sim::SimCameraSet::Instance().SetCount(0); }
};

}  // namespace lumora::testing
