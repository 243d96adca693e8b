#pragma once
// Drives a real driver object against simulated cameras.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "driver/CLumoraUSB3T2SimpleSdk.h"
#include "lumora/host.h"
#include "sensor/CSensorBase.h"
#include "sim/SimCamera.h"
#include "sim/SimCameraSet.h"
#include "sim/SimSensorModel.h"

namespace lumora::test {

class SimCameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(LumoraSim_SetCameraCount(cameras_), cameras_);
        for (int i = 0; i < cameras_; ++i) LumoraSim_SetStartupTime(i, 0);
        LumoraSim_SetFastMode(1);
        LumoraSim_SetStaticScene(0);
        SetSensorPausesForTesting(false);
    }
    void TearDown() override {
        drivers_.clear();
        LumoraSim_SetCameraCount(0);
        LumoraSim_SetFastMode(0);
        LumoraSim_SetStaticScene(0);
        SetSensorPausesForTesting(true);
    }

    // A driver with camera `index` open.
    CLumoraV3U2Base& Open(int index = 0) {
        auto driver = std::make_unique<CLumoraUSB3T2SimpleSdk>();
        driver->SetCameraType(0x3380);
        driver->CreateController(nullptr, nullptr);
        EXPECT_EQ(driver->OpenDevice(index), 1);
        drivers_.push_back(std::move(driver));
        return *drivers_.back();
    }
    static std::shared_ptr<sim::SimCamera> Camera(int index = 0) {
        return sim::SimCameraSet::Instance().Camera(index);
    }
    static sim::SimSensorModel& Model(sim::SimCamera& camera) {
        return dynamic_cast<sim::SimSensorModel&>(camera.Model());
    }
    // Starts a capture in `mode` and takes one frame.
    static std::vector<uint8_t> Snap(CLumoraV3U2Base& driver) {
        std::vector<uint8_t> frame(driver.FrameSize() ? driver.FrameSize() : 16u << 20);
        EXPECT_EQ(driver.StartCapture(kCaptureSingleFrame), 1);
        EXPECT_EQ(driver.WaitFrame(5000), 3);
        frame.resize(driver.FrameSize());
        EXPECT_EQ(driver.GetLatestFrame(frame.data(), static_cast<uint32_t>(frame.size()), 1), 0);
        driver.StopCapture(1);
        return frame;
    }

    int cameras_ = 1;
    std::vector<std::unique_ptr<CLumoraV3U2Base>> drivers_;
};

}  // namespace lumora::test
