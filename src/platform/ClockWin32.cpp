// Tick counts, sleeps and the multimedia timer's resolution from the system itself.
#include "platform/Clock.h"

#include <atomic>

#include "platform/Win32Api.h"

#include <mmsystem.h>

namespace lumora::platform {
namespace {
std::atomic<uint32_t> gTickOffset{0};
}

uint32_t GetTickCount() {
    return static_cast<uint32_t>(::GetTickCount()) + gTickOffset.load();
}

uint32_t TimeGetTime() {
    return static_cast<uint32_t>(::timeGetTime()) + gTickOffset.load();
}

void Sleep(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

void SetTickOffsetForTesting(uint32_t offset) {
    gTickOffset.store(offset);
}

TimerResolution::TimerResolution() : active_(::timeBeginPeriod(1) == TIMERR_NOERROR) {}

TimerResolution::~TimerResolution() {
    if (active_) ::timeEndPeriod(1);
}

}  // namespace lumora::platform
