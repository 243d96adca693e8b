#pragma once
// The newest-first history of error codes a session keeps for Lumora_GetLastError. Pushes come
// from application and capture threads alike; one small lock keeps them from interleaving.
#include <array>
#include <mutex>

namespace lumora {

class ErrorHistory {
public:
    static constexpr int kDepth = 20;

    // Entry 0 becomes `code`; the oldest entry falls off.
    void Push(int code);
    // Returns entry 0 and shifts the rest up; 0 when empty.
    int Pop();
    // Entry `index` (0 = newest), for inspection only.
    int Peek(int index) const;

private:
    mutable std::mutex mutex_;
    std::array<int, kDepth> codes_{};
};

}  // namespace lumora
