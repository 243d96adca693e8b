#pragma once
// Vendor request 0xB0 (the bridge's 64-byte information block) issued straight on a port's
// device file, as the controller would: the request the bench's port tests and its second
// process share.
#include <algorithm>
#include <array>
#include <cstdint>

#include "port/UsbIoctl.h"
#include "port/UsbPort.h"

namespace lumora::testing {

// The request's error (kErrorSuccess when it went through; 0xFFFF when it did but came back with
// another length than a whole request); the block goes to `info` when given.
inline uint32_t ReadBridgeInfo(platform::DeviceFile& file,
                               std::array<uint8_t, 64>* info = nullptr) {
    std::array<uint8_t, platform::kControlRequestSize> request{};
    platform::SingleTransfer header;
    header.requestType = 0xC0;
    header.request = 0xB0;
    header.length = 102;
    header.timeoutSeconds = 3;
    header.bufferOffset = 38;
    header.bufferLength = 64;
    header.Write(request.data());
    uint32_t returned = 0;
    const uint32_t error =
        file.IoControl(platform::kIoctlControlTransfer, request.data(), request.size(),
                       request.data(), request.size(), &returned, nullptr);
    if (error == platform::kErrorSuccess && returned != platform::kControlRequestSize)
        return 0xFFFF;
    if (info) std::copy(request.begin() + 38, request.end(), info->begin());
    return error;
}

}  // namespace lumora::testing
