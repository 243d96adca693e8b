#pragma once
// The bench's world: two emulated cameras on root ports 1 and 2 of bus 1, plugged in before the
// tests run and kept for the whole program (tests that unplug one plug it back), plus the
// helpers the tests share.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "port/UsbPort.h"
#include "tests/usbdevfs/EmulatedUsb.h"

namespace lumora::testing {

inline constexpr int kBenchCameras = 2;

class BenchWorld {
public:
    static void Start();
    static std::shared_ptr<EmulatedCamera> Camera(int index);
    // The interface path the port lists for camera `index` (empty when it does not list it).
    static std::string PathOf(int index);
    static void Unplug(int index);
    static void Replug(int index);
};

// A helper process (a second program on the same emulated bus) runs one role and exits.
bool IsHelperProcess();
int RunHelperProcess();

// Runs `body` on a thread of its own and waits up to `limit`. A body that does not finish is a
// hang: the test fails and the program ends at once, so a hang costs seconds, not the CI's
// time-out.
void FinishesWithin(std::chrono::milliseconds limit, const char* what, std::function<void()> body);

// Waits until `condition` holds or `limit` passes; the last answer of `condition`.
bool WaitUntil(std::chrono::milliseconds limit, const std::function<bool()>& condition);

// Hot-plug events the port announced, collected from the moment of construction.
class HotplugRecorder {
public:
    HotplugRecorder();
    ~HotplugRecorder();
    bool WaitFor(platform::HotplugEvent event, const std::string& path,
                 std::chrono::milliseconds limit);
    int Count(platform::HotplugEvent event, const std::string& path);

private:
    int token_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<platform::HotplugEvent, std::string>> events_;
};

}  // namespace lumora::testing
