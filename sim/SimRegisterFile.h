#pragma once
// A register file of 8-bit values with per-register hooks, the building block of the simulated
// FPGA (8-bit addresses) and sensor (16-bit addresses). The bus side (Write/Read) runs hooks;
// the model side (Get/Set) does not. Not locked itself: the owning camera's lock guards it, and
// hooks run with that lock held.
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

namespace lumora::sim {

class SimRegisterFile {
public:
    // Runs after the value is stored; `previous` is the value before the write.
    using WriteHook = std::function<void(uint32_t reg, uint8_t value, uint8_t previous)>;
    // Supplies the value a bus read returns; `stored` is what the file holds.
    using ReadHook = std::function<uint8_t(uint32_t reg, uint8_t stored)>;

    explicit SimRegisterFile(uint32_t size) : values_(size, 0) {}

    uint32_t Size() const { return static_cast<uint32_t>(values_.size()); }
    bool Contains(uint32_t reg) const { return reg < values_.size(); }

    // Model side: no hooks.
    uint8_t Get(uint32_t reg) const { return Contains(reg) ? values_[reg] : 0; }
    void Set(uint32_t reg, uint8_t value) {
        if (Contains(reg)) values_[reg] = value;
    }
    // Two registers holding a little-endian 16-bit value (low byte at `lowReg`).
    uint16_t Get16(uint32_t lowReg, uint32_t highReg) const {
        return static_cast<uint16_t>(Get(lowReg) | (Get(highReg) << 8));
    }
    void Set16(uint32_t lowReg, uint32_t highReg, uint16_t value) {
        Set(lowReg, static_cast<uint8_t>(value));
        Set(highReg, static_cast<uint8_t>(value >> 8));
    }
    void Clear() { std::fill(values_.begin(), values_.end(), 0); }
    // The values alone, without hooks: a still picture of the file.
    SimRegisterFile ValuesCopy() const {
        SimRegisterFile copy(0);
        copy.values_ = values_;
        return copy;
    }

    // Bus side: stores and runs the hooks of `reg`, then the any-write hooks.
    bool Write(uint32_t reg, uint8_t value);
    uint8_t Read(uint32_t reg) const;

    // Hooks; a later hook for the same register replaces the earlier one.
    void OnWrite(uint32_t reg, WriteHook hook) { writeHooks_[reg] = std::move(hook); }
    void OnRead(uint32_t reg, ReadHook hook) { readHooks_[reg] = std::move(hook); }
    void OnAnyWrite(WriteHook hook) { anyWriteHooks_.push_back(std::move(hook)); }
    void ClearHooks() {
        writeHooks_.clear();
        readHooks_.clear();
        anyWriteHooks_.clear();
    }

private:
    std::vector<uint8_t> values_;
    std::unordered_map<uint32_t, WriteHook> writeHooks_;
    std::unordered_map<uint32_t, ReadHook> readHooks_;
    std::vector<WriteHook> anyWriteHooks_;
};

}  // namespace lumora::sim
