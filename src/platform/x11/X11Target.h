#pragma once
// The message target an HWND names when it stands for an X11 window: a wrapped window of the
// application, or one of our preview windows. Nothing can be posted to it.
#include "platform/MessageTarget.h"

namespace lumora::platform {

class X11Target final : public MessageTarget {
public:
    explicit X11Target(unsigned long window) : window_(window) {}
    bool Post(const LumoraHostMessage&) override { return false; }
    void Close() override {}
    unsigned long Window() const { return window_; }

private:
    const unsigned long window_;
};

}  // namespace lumora::platform
