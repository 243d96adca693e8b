#include "platform/MessageTarget.h"

#include <map>
#include <mutex>
#include <thread>

#include "platform/MessageQueue.h"

namespace lumora::platform {
namespace {

struct TargetTable {
    std::mutex mutex;
    std::map<uintptr_t, std::shared_ptr<MessageTarget>> targets;
#if defined(_WIN32)
    // Above 32 bits: a window handle of the system always fits in 32 (sign-extended), so the
    // two kinds of HWND never meet.
    uintptr_t next = (uintptr_t{1} << 40) | 0x1000;
#else
    uintptr_t next = 0x1000;
#endif
};

TargetTable& Table() {
    static TargetTable* table = new TargetTable;  // outlives every static destructor
    return *table;
}

MessageQueue& ThreadQueue() {
    thread_local MessageQueue queue(kMaxQueuedMessages);
    return queue;
}

uintptr_t Key(HWND window) {
    return reinterpret_cast<uintptr_t>(window);
}

}  // namespace

HWND RegisterTarget(std::shared_ptr<MessageTarget> target) {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    // Odd steps keep the values from looking like small integers or aligned pointers.
    const uintptr_t key = table.next;
    table.next += 0x10;
    table.targets.emplace(key, std::move(target));
    return reinterpret_cast<HWND>(key);
}

std::shared_ptr<MessageTarget> FindTarget(HWND window) {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    auto it = table.targets.find(Key(window));
    return it == table.targets.end() ? nullptr : it->second;
}

void UnregisterTarget(HWND window) {
    std::shared_ptr<MessageTarget> target;
    {
        auto& table = Table();
        std::lock_guard lock(table.mutex);
        auto it = table.targets.find(Key(window));
        if (it == table.targets.end()) return;
        target = std::move(it->second);
        table.targets.erase(it);
    }
    target->Close();
}

bool PostMessage(HWND window, unsigned int message, uintptr_t wParam, intptr_t lParam) {
    const LumoraHostMessage copy{window, message, wParam, lParam};
    if (window == nullptr) return ThreadQueue().Push(copy);
    auto target = FindTarget(window);
#if defined(_WIN32)
    if (target == nullptr) return PostToSystemWindow(window, message, wParam, lParam);
#endif
    return target != nullptr && target->Post(copy);
}

bool MessageInHand(HWND window, unsigned int message) {
    if (window == nullptr) return false;
    auto target = FindTarget(window);
    return target != nullptr && target->InHand(message);
}

bool WaitThreadMessage(int timeoutMs, LumoraHostMessage& message) {
    return ThreadQueue().Pop(timeoutMs, message);
}

}  // namespace lumora::platform
