#pragma once
// Shared set-up of the transport and simulated-camera suites: a shared device block of the test
// program's own (so parallel test programs never see each other's tables) and a clean set of
// simulated cameras around each test.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <process.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <string>

#include "sim/SimCameraSet.h"
#include "sim/SimSensorModel.h"
#include "usb/DeviceTable.h"

namespace lumora::testing {

inline std::string TestBlockName() {
#if defined(_WIN32)
    return "/V3U2-MemMap-test-" + std::to_string(::_getpid());
#else
    return "/V3U2-MemMap-test-" + std::to_string(::getpid());
#endif
}

// A named block outlives its holders on POSIX systems until it is unlinked; a Windows mapping
// goes with its last handle.
inline void RemoveTestBlock([[maybe_unused]] const std::string& name) {
#if !defined(_WIN32)
    shm_unlink(name.c_str());
#endif
}

// Installed once per test program (see the registration in each suite's support file).
class SharedBlockEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        name_ = TestBlockName();
        usb::SetSharedBlockNameForTesting(name_);
        RemoveTestBlock(name_);
    }
    void TearDown() override { RemoveTestBlock(name_); }

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
