#include "platform/Event.h"

#include <chrono>
#include <map>

namespace lumora::platform {

Event::Event(bool manualReset, bool initiallySet)
    : manualReset_(manualReset), set_(initiallySet) {}

Event::~Event() = default;

void Event::Set() {
    // Notify under the lock: a waiter may destroy the event as soon as it sees it set.
    std::lock_guard lock(mutex_);
    set_ = true;
    if (manualReset_) {
        changed_.notify_all();
    } else {
        changed_.notify_one();
    }
}

void Event::Reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

bool Event::IsSet() const {
    std::lock_guard lock(mutex_);
    return set_;
}

bool Event::Wait(uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    if (timeoutMs == kInfinite) {
        changed_.wait(lock, [this] { return set_; });
    } else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [this] { return set_; })) {
        return false;
    }
    if (!manualReset_) set_ = false;
    return true;
}

std::shared_ptr<Event> OpenNamedEvent(const std::string& name, bool manualReset,
                                      bool initiallySet) {
    static std::mutex tableMutex;
    static std::map<std::string, std::weak_ptr<Event>> table;
    std::lock_guard lock(tableMutex);
    auto& slot = table[name];
    if (auto existing = slot.lock()) return existing;
    auto created = std::make_shared<Event>(manualReset, initiallySet);
    slot = created;
    return created;
}

}  // namespace lumora::platform
