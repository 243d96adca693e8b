#pragma once
// A clean simulated world for each test: N cameras in fast mode, a private settings folder and a
// queue window that collects the session's messages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "api/CSdkChain.h"
#include "lumora/host.h"
#include "lumora/lumora.h"
#include "session/CLumora.h"

namespace lumora::testing {

class SimWorld : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        configDir_ = std::filesystem::temp_directory_path() /
                     ("lumora-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
        std::filesystem::remove_all(configDir_);
        std::filesystem::create_directories(configDir_);
        ::setenv("LUMORA_CONFIG_HOME", configDir_.c_str(), 1);
        LumoraSim_SetFastMode(1);
        LumoraSim_SetStaticScene(0);
        LumoraSim_SetCameraCount(Cameras());
        events_ = LumoraHost_CreateQueueWindow();
    }
    void TearDown() override {
        for (int handle : handles_) Lumora_Release(handle);
        LumoraHost_DestroyWindow(events_);
        LumoraSim_SetCameraCount(0);
        std::filesystem::remove_all(configDir_);
    }
    virtual int Cameras() const { return 1; }

    int Open(HWND window) {
        const int handle = Lumora_Initialize(window);
        EXPECT_NE(handle, 0);
        handles_.push_back(handle);
        return handle;
    }
    int Open() { return Open(events_); }
    void Release(int handle) {
        EXPECT_EQ(Lumora_Release(handle), 1);
        std::erase(handles_, handle);
    }
    // The device numbers of the cameras present, in order. A camera that came back on a new
    // port earlier in the process keeps its old row, so numbers need not be 0, 1, ...
    static std::vector<int> PresentDevices(int handle) {
        std::vector<int> devices;
        char name[64];
        for (int n = 0; n < 32; ++n) {
            if (Lumora_GetDeviceName(handle, n, name, sizeof name) == 1) devices.push_back(n);
        }
        while (Lumora_GetLastError(handle) != 0) {
        }
        return devices;
    }
    static std::shared_ptr<CLumora> Session(int handle) {
        return CSdkChain::Instance().Lookup(handle);
    }

    // Every code left in the history, newest first.
    static std::vector<int> Codes(int handle) {
        std::vector<int> codes;
        for (int code; (code = Lumora_GetLastError(handle)) != 0;) codes.push_back(code);
        return codes;
    }
    // The messages waiting in `window`.
    static std::vector<LumoraHostMessage> Messages(HWND window, int waitMs = 0) {
        std::vector<LumoraHostMessage> messages;
        LumoraHostMessage message{};
        while (LumoraHost_WaitMessage(window, messages.empty() ? waitMs : 0, &message) == 1) {
            messages.push_back(message);
        }
        return messages;
    }

    std::filesystem::path configDir_;
    HWND events_ = nullptr;
    std::vector<int> handles_;
};

class TwoCameraWorld : public SimWorld {
protected:
    int Cameras() const override { return 2; }
};

}  // namespace lumora::testing
