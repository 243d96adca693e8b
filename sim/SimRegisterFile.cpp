#include "sim/SimRegisterFile.h"

namespace lumora::sim {

bool SimRegisterFile::Write(uint32_t reg, uint8_t value) {
    if (!Contains(reg)) return false;
    const uint8_t previous = values_[reg];
    values_[reg] = value;
    if (auto it = writeHooks_.find(reg); it != writeHooks_.end()) it->second(reg, value, previous);
    for (const auto& hook : anyWriteHooks_) hook(reg, value, previous);
    return true;
}

uint8_t SimRegisterFile::Read(uint32_t reg) const {
    if (!Contains(reg)) return 0;
    if (auto it = readHooks_.find(reg); it != readHooks_.end()) return it->second(reg, values_[reg]);
    return values_[reg];
}

}  // namespace lumora::sim
