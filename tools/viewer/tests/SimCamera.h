#pragma once
// A fresh simulated camera for each test: its own settings folder, one camera at the real
// frame pace, and helpers that wait for events with generous deadlines.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "lumora/host.h"

namespace lumora_viewer::testing {

class SimCameraWorld : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        configDir_ =
            std::filesystem::temp_directory_path() /
            ("lumora-viewer-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
        std::filesystem::remove_all(configDir_);
        std::filesystem::create_directories(configDir_);
        ::setenv("LUMORA_CONFIG_HOME", configDir_.c_str(), 1);
        LumoraSim_SetFastMode(0);
        LumoraSim_SetStaticScene(0);
        LumoraSim_SetCameraCount(1);
    }
    void TearDown() override {
        LumoraSim_Replug(0);
        LumoraSim_SetCameraCount(0);
        LumoraSim_SetStaticScene(0);
        std::filesystem::remove_all(configDir_);
    }
    // A folder for the test's files, emptied at the end.
    std::filesystem::path Folder() const { return configDir_ / "files"; }

    std::filesystem::path configDir_;
};

// Polls `done` until it holds or `seconds` pass; `between` runs between looks (it waits).
inline bool WaitFor(const std::function<bool()>& done, double seconds,
                    const std::function<void()>& between) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return done();
        between();
    }
    return true;
}

}  // namespace lumora_viewer::testing
