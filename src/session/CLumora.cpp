#include "session/CLumora.h"

#include "platform/MessageTarget.h"

namespace lumora {

int CLumora::Initialize(HWND notifyWindow) {
    notifyWindow_ = notifyWindow;
    return 1;
}

void CLumora::RecordError(int code) {
    history_.Push(code);
    if (notifyWindow_ != nullptr) platform::PostMessage(notifyWindow_, LUMORA_MSG_ERROR, 0, code);
}

void CLumora::PostErrorOnly(int code) {
    platform::PostMessage(notifyWindow_, LUMORA_MSG_ERROR, 0, code);
}

}  // namespace lumora
