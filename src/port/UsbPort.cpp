// Overlapped completion and hot-plug subscriptions, shared by every backend.
#include "port/UsbPort.h"

#include <cstdio>

namespace lumora::platform {

std::string MakeInterfacePath(uint16_t vendorId, uint16_t productId, const std::string& instance,
                              const std::string& guid) {
    char head[32];
    std::snprintf(head, sizeof head, "\\\\?\\usb#vid_%04x&pid_%04x#", vendorId, productId);
    return std::string(head) + instance + "#" + guid;
}

Overlapped::~Overlapped() {
    std::unique_lock lock(mutex_);
    if (!pending_) return;
    auto cancel = cancel_;
    lock.unlock();
    if (cancel) cancel();
    lock.lock();
    done_.wait(lock, [&] { return !pending_; });
}

bool Overlapped::IsPending() const {
    std::lock_guard lock(mutex_);
    return pending_;
}

bool Overlapped::GetResult(uint32_t* bytes, uint32_t* error) const {
    std::lock_guard lock(mutex_);
    if (pending_) {
        if (error) *error = kErrorIoIncomplete;
        return false;
    }
    if (bytes) *bytes = bytes_;
    if (error) *error = error_;
    return error_ == kErrorSuccess;
}

void Overlapped::WaitUntilDone() const {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return !pending_; });
}

uint32_t Overlapped::WaitForResult(uint32_t* returned) const {
    WaitUntilDone();
    uint32_t bytes = 0;
    uint32_t error = kErrorSuccess;
    GetResult(&bytes, &error);
    if (returned) *returned = bytes;
    return error;
}

void Overlapped::Begin(std::function<void()> cancel) {
    std::lock_guard lock(mutex_);
    pending_ = true;
    error_ = kErrorIoIncomplete;
    bytes_ = 0;
    cancel_ = std::move(cancel);
    event_.Reset();
}

void Overlapped::Complete(uint32_t error, uint32_t bytes) {
    // The event is set before the record stops being pending, all under the lock, so a waiter
    // that wakes and then reads the result (or destroys the record) always finds the backend
    // finished with it.
    std::lock_guard lock(mutex_);
    error_ = error;
    bytes_ = bytes;
    cancel_ = nullptr;
    event_.Set();
    pending_ = false;
    done_.notify_all();
}

uint32_t Overlapped::FinishAtOnce(uint32_t error, uint32_t* returned, Overlapped* overlapped) {
    if (overlapped) {
        overlapped->Begin(nullptr);
        overlapped->Complete(error, returned ? *returned : 0);
    }
    return error;
}

HotplugHub& HotplugHub::Instance() {
    static HotplugHub hub;
    return hub;
}

int HotplugHub::Subscribe(HotplugCallback callback) {
    std::lock_guard lock(listMutex_);
    const int token = nextToken_++;
    callbacks_.emplace_back(token, std::make_shared<HotplugCallback>(std::move(callback)));
    return token;
}

void HotplugHub::Unsubscribe(int token) {
    // Waiting for the dispatch lock means no delivery is under way when we return.
    std::lock_guard dispatch(dispatchMutex_);
    std::lock_guard lock(listMutex_);
    std::erase_if(callbacks_, [&](const auto& entry) { return entry.first == token; });
}

void HotplugHub::Notify(HotplugEvent event, const std::string& path) {
    std::lock_guard dispatch(dispatchMutex_);
    std::vector<std::shared_ptr<HotplugCallback>> targets;
    {
        std::lock_guard lock(listMutex_);
        for (const auto& entry : callbacks_) targets.push_back(entry.second);
    }
    for (const auto& callback : targets) (*callback)(event, path);
}

}  // namespace lumora::platform
