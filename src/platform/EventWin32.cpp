// Events are kernel events; named ones are named kernel objects of this process.
#include "platform/Event.h"

#include <map>

#include "platform/Win32Api.h"

namespace lumora::platform {

Event::Event(bool manualReset, bool initiallySet) : Event(manualReset, initiallySet, nullptr) {}

Event::Event(bool manualReset, bool initiallySet, const char* kernelName)
    : manualReset_(manualReset),
      handle_(::CreateEventA(nullptr, manualReset, initiallySet, kernelName)) {}

Event::~Event() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
}

void Event::Set() {
    ::SetEvent(handle_);
}

void Event::Reset() {
    ::ResetEvent(handle_);
}

bool Event::Wait(uint32_t timeoutMs) {
    static_assert(kInfinite == INFINITE);
    return handle_ != nullptr && ::WaitForSingleObject(handle_, timeoutMs) == WAIT_OBJECT_0;
}

bool Event::IsSet() const {
    if (handle_ == nullptr || ::WaitForSingleObject(handle_, 0) != WAIT_OBJECT_0) return false;
    // Looking consumed an auto-reset event: give the signal back.
    if (!manualReset_) ::SetEvent(handle_);
    return true;
}

std::string NamedEventKernelName(const std::string& name) {
    return "Local\\LumoraSdk " + std::to_string(::GetCurrentProcessId()) + " " + name;
}

std::shared_ptr<Event> OpenNamedEvent(const std::string& name, bool manualReset,
                                      bool initiallySet) {
    static std::mutex tableMutex;
    static std::map<std::string, std::weak_ptr<Event>> table;  // guarded by tableMutex
    std::lock_guard lock(tableMutex);
    auto& slot = table[name];
    if (auto existing = slot.lock()) return existing;
    auto created =
        std::make_shared<Event>(manualReset, initiallySet, NamedEventKernelName(name).c_str());
    slot = created;
    return created;
}

}  // namespace lumora::platform
