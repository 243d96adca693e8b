#include "session/ErrorHistory.h"

#include <algorithm>

namespace lumora {

void ErrorHistory::Push(int code) {
    std::lock_guard lock(mutex_);
    std::move_backward(codes_.begin(), codes_.end() - 1, codes_.end());
    codes_[0] = code;
}

int ErrorHistory::Pop() {
    std::lock_guard lock(mutex_);
    const int newest = codes_[0];
    std::move(codes_.begin() + 1, codes_.end(), codes_.begin());
    codes_[kDepth - 1] = 0;
    return newest;
}

int ErrorHistory::Peek(int index) const {
    std::lock_guard lock(mutex_);
    return index >= 0 && index < kDepth ? codes_[index] : 0;
}

}  // namespace lumora
