// Constants and small helpers shared by the driver object's source files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace lumora::driver_detail {

constexpr int kTypeSideChannel = 0x3042;
constexpr int kTypeLargeRing = 0x32D0;
constexpr uint8_t kStreamEndpoint = 0x81;
constexpr uint16_t kFirmwareWithPipeReset = 0x1100;
constexpr size_t kOffsetFirmwareVersion = 24;
constexpr size_t kOffsetGpio25 = 52;
constexpr int kReadyRounds = 400;
constexpr uint32_t kReadyPauseMs = 500;
constexpr uint32_t kReadyPulseEveryMs = 25000;
constexpr uint16_t kSromIdAddress = 0x1080;

inline bool IsHeaderlessType(int type) {
    return type == 0x3310 || type == 0x3320 || type == 0x3330 || type == 0x3340;
}

// Runs `f` when the scope ends, however it ends.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ~ScopeExit() { f_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F f_;
};

}  // namespace lumora::driver_detail
