#include "platform/Clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace lumora::platform {
namespace {
std::atomic<uint32_t> gTickOffset{0};
}

uint32_t GetTickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    return static_cast<uint32_t>(static_cast<uint64_t>(ms)) + gTickOffset.load();
}

uint32_t TimeGetTime() {
    return GetTickCount();
}

void Sleep(uint32_t milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SetTickOffsetForTesting(uint32_t offset) {
    gTickOffset.store(offset);
}

TimerResolution::TimerResolution() : active_(true) {}

TimerResolution::~TimerResolution() = default;

}  // namespace lumora::platform
