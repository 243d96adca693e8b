// The host interface: message targets a Linux application creates in place of windows.
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "lumora/host.h"
#include "platform/MessageQueue.h"
#include "platform/MessageTarget.h"
#include "platform/WindowX11.h"

namespace lumora::platform {
bool WaitThreadMessage(int timeoutMs, LumoraHostMessage& message);

namespace {

class QueueWindow final : public MessageTarget {
public:
    bool Post(const LumoraHostMessage& message) override { return queue_.Push(message); }
    void Close() override { queue_.Close(); }
    bool Wait(int timeoutMs, LumoraHostMessage& message) { return queue_.Pop(timeoutMs, message); }

private:
    MessageQueue queue_{kMaxQueuedMessages};
};

// Delivers on its own thread so a slow callback delays only its own messages, never a poster.
class CallbackWindow final : public MessageTarget,
                             public std::enable_shared_from_this<CallbackWindow> {
public:
    using Callback = void (*)(const LumoraHostMessage*, void*);
    CallbackWindow(Callback callback, void* user) : callback_(callback), user_(user) {}
    ~CallbackWindow() override {
        if (dispatcher_.joinable()) dispatcher_.detach();
    }

    void Start() {
        // The thread keeps the window alive until it has seen the close.
        dispatcher_ = std::thread([self = shared_from_this()] { self->Run(); });
    }
    bool Post(const LumoraHostMessage& message) override {
        {
            std::lock_guard lock(handMutex_);
            ++inHand_[message.message];
        }
        if (queue_.Push(message)) return true;
        Handled(message.message);
        return false;
    }
    bool InHand(unsigned int message) override {
        std::lock_guard lock(handMutex_);
        const auto it = inHand_.find(message);
        return it != inHand_.end() && it->second > 0;
    }
    void Close() override {
        queue_.Close();
        if (!dispatcher_.joinable()) return;
        if (dispatcher_.get_id() == std::this_thread::get_id()) {
            dispatcher_.detach();  // destroyed from its own callback
        } else {
            dispatcher_.join();
        }
    }

private:
    void Run() {
        LumoraHostMessage message{};
        while (queue_.Pop(-1, message)) {
            callback_(&message, user_);
            Handled(message.message);
        }
    }
    void Handled(unsigned int message) {
        std::lock_guard lock(handMutex_);
        --inHand_[message];
    }

    const Callback callback_;
    void* const user_;
    MessageQueue queue_{kMaxQueuedMessages};
    std::thread dispatcher_;
    // Messages posted and not yet handled to the end of their callback, by kind.
    std::mutex handMutex_;
    std::map<unsigned int, int> inHand_;
};

}  // namespace
}  // namespace lumora::platform

using namespace lumora::platform;

extern "C" {

LUMORA_API HWND LumoraHost_CreateQueueWindow(void) {
    return RegisterTarget(std::make_shared<QueueWindow>());
}

LUMORA_API HWND LumoraHost_CreateCallbackWindow(void (*callback)(const LumoraHostMessage* message,
                                                                 void* user),
                                                void* user) {
    if (callback == nullptr) return nullptr;
    auto window = std::make_shared<CallbackWindow>(callback, user);
    try {
        window->Start();
    } catch (const std::system_error&) {
        return nullptr;
    }
    return RegisterTarget(window);
}

LUMORA_API int LumoraHost_WaitMessage(HWND window, int timeoutMs, LumoraHostMessage* message) {
    auto queue = std::dynamic_pointer_cast<QueueWindow>(FindTarget(window));
    if (queue == nullptr) return 0;
    LumoraHostMessage taken{};
    if (!queue->Wait(timeoutMs, taken)) return 0;
    if (message != nullptr) *message = taken;
    return 1;
}

LUMORA_API int LumoraHost_WaitThreadMessage(int timeoutMs, LumoraHostMessage* message) {
    LumoraHostMessage taken{};
    if (!WaitThreadMessage(timeoutMs, taken)) return 0;
    if (message != nullptr) *message = taken;
    return 1;
}

LUMORA_API void LumoraHost_DestroyWindow(HWND window) {
    UnregisterTarget(window);
}

}  // extern "C"

extern "C" {

LUMORA_API HWND LumoraHost_WrapX11Window(unsigned long window) {
    return WrapX11Window(window);
}

LUMORA_API unsigned long LumoraHost_GetX11Window(HWND window) {
    return X11WindowOf(window);
}

}  // extern "C"
