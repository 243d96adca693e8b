#pragma once
// A register-level stand-in for the camera's bus, for checking exactly which sensor and FPGA
// registers a sensor driver writes and in what order.
#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

#include "usb/CControllerBase.h"

namespace lumora::test {

struct BusWrite {
    bool fpga;
    uint32_t reg;
    uint8_t value;
    bool operator==(const BusWrite&) const = default;
};

class FakeBus : public usb::CControllerBase {
public:
    static constexpr uint8_t kSensorAddress = 0x48;

    int I2cWrite(uint8_t busAddress, const uint8_t* data, int count, uint32_t) override {
        std::lock_guard lock(mutex);
        if (busAddress != kSensorAddress || count < 2 || refuseSensor) return 0;
        pointer = static_cast<uint16_t>((data[0] << 8) | data[1]);
        if (count == 3) {
            if (refusedSensorRegs.count(pointer)) return 0;
            sensor[pointer] = data[2];
            log.push_back({false, pointer, data[2]});
        }
        return 1;
    }
    int I2cRead(uint8_t busAddress, uint8_t* data, int count, uint32_t) override {
        std::lock_guard lock(mutex);
        if (busAddress != kSensorAddress || count != 1 || refuseSensor) return 0;
        if (refusedSensorReads.count(pointer)) return 0;
        data[0] = sensor[pointer];
        return 1;
    }
    int WriteFpgaRegister(uint8_t reg, uint8_t value) override {
        std::lock_guard lock(mutex);
        if (refuseFpga) return 0;
        fpga[reg] = value;
        log.push_back({true, reg, value});
        return 1;
    }
    int ReadFpgaRegister(uint8_t reg, uint8_t* value) override {
        std::lock_guard lock(mutex);
        if (refuseFpga || refusedFpgaReads.count(reg)) return 0;
        ++fpgaReads[reg];
        *value = reg == 0x02 ? status : fpga[reg];
        return 1;
    }
    int ReadCapabilityWord(uint16_t* value) override {
        std::lock_guard lock(mutex);
        if (refuseFpga) return 0;
        *value = static_cast<uint16_t>(fpga[0x10] | (fpga[0x11] << 8));
        return 1;
    }

    // Sensor writes to `reg` in the log, in order.
    std::vector<uint8_t> SensorWrites(uint32_t reg) {
        std::lock_guard lock(mutex);
        std::vector<uint8_t> values;
        for (const BusWrite& w : log)
            if (!w.fpga && w.reg == reg) values.push_back(w.value);
        return values;
    }
    std::vector<uint8_t> FpgaWrites(uint32_t reg) {
        std::lock_guard lock(mutex);
        std::vector<uint8_t> values;
        for (const BusWrite& w : log)
            if (w.fpga && w.reg == reg) values.push_back(w.value);
        return values;
    }
    uint32_t Sensor24(uint16_t reg) {
        std::lock_guard lock(mutex);
        return sensor[reg] | (sensor[reg + 1] << 8) | (sensor[reg + 2] << 16);
    }
    uint32_t Sensor16(uint16_t reg) {
        std::lock_guard lock(mutex);
        return sensor[reg] | (sensor[reg + 1] << 8);
    }
    void ClearLog() {
        std::lock_guard lock(mutex);
        log.clear();
    }

    std::mutex mutex;
    std::vector<uint8_t> sensor = std::vector<uint8_t>(0x10000, 0);
    std::vector<uint8_t> fpga = std::vector<uint8_t>(256, 0);
    std::vector<int> fpgaReads = std::vector<int>(256, 0);
    std::vector<BusWrite> log;
    std::set<uint32_t> refusedSensorRegs;
    std::set<uint32_t> refusedSensorReads;
    std::set<uint32_t> refusedFpgaReads;
    uint8_t status = 0;
    uint16_t pointer = 0;
    bool refuseSensor = false;
    bool refuseFpga = false;
};

}  // namespace lumora::test
