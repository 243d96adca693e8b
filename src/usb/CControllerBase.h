#pragma once
// The register-access interface of the USB controller, as the driver core and the sensor
// drivers see it. Every operation returns 1 for success and 0 for failure; the base answers 0
// to everything, so a partial stand-in only overrides what it serves.
#include <cstdint>

namespace lumora::usb {

class CControllerBase {
public:
    virtual ~CControllerBase() = default;

    virtual int ReservedOperation() { return 0; }
    // Closes the streaming handle and frees the staging buffer.
    virtual int Close() { return 0; }
    // Closes the streaming handle, checks that `row` is present and selects it.
    virtual int SelectDevice(int row) {
        (void)row;
        return 0;
    }
    // FPGA registers 0x10 (low byte) and 0x11 (high byte).
    virtual int ReadCapabilityWord(uint16_t* value) {
        (void)value;
        return 0;
    }
    // 1 once the camera has finished its start-up.
    virtual int ReadReadyFlag(uint8_t* flag) {
        (void)flag;
        return 0;
    }
    virtual int SendEndpointCommand() { return 0; }
    // I2C transfers of at most 64 bytes to `busAddress` (8-bit write form). The time-out is
    // accepted for the callers' sake; the request carries the bridge's fixed 3-second time-out.
    virtual int I2cWrite(uint8_t busAddress, const uint8_t* data, int count, uint32_t timeoutMs) {
        (void)busAddress, (void)data, (void)count, (void)timeoutMs;
        return 0;
    }
    virtual int I2cRead(uint8_t busAddress, uint8_t* data, int count, uint32_t timeoutMs) {
        (void)busAddress, (void)data, (void)count, (void)timeoutMs;
        return 0;
    }
    virtual int WriteWideRegister(uint16_t address, uint32_t value) {
        (void)address, (void)value;
        return 0;
    }
    // The register's low 16 bits; 0 (and success) when the bridge answers short.
    virtual int ReadWideRegister(uint16_t address, uint32_t* value) {
        (void)address, (void)value;
        return 0;
    }
    virtual int WriteWordPair(uint16_t first, uint16_t second) {
        (void)first, (void)second;
        return 0;
    }
    virtual int ReadSelectedWord(uint16_t selector, uint16_t* value) {
        (void)selector, (void)value;
        return 0;
    }
    virtual int WriteFpgaRegister(uint8_t reg, uint8_t value) {
        (void)reg, (void)value;
        return 0;
    }
    virtual int ReadFpgaRegister(uint8_t reg, uint8_t* value) {
        (void)reg, (void)value;
        return 0;
    }
    virtual int WriteAuxRegister(uint8_t reg, uint8_t value) {
        (void)reg, (void)value;
        return 0;
    }
    virtual int ReadAuxRegister(uint8_t reg, uint8_t* value) {
        (void)reg, (void)value;
        return 0;
    }
    virtual int WriteEepromByte(uint16_t address, uint8_t value) {
        (void)address, (void)value;
        return 0;
    }
    virtual int ReadEepromByte(uint16_t address, uint8_t* value) {
        (void)address, (void)value;
        return 0;
    }
    // Completes whatever is pending on endpoint 0x81 (used to stop the acquisition thread).
    virtual int AbortStreamEndpoint() { return 0; }
};

}  // namespace lumora::usb
