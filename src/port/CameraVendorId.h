#pragma once
// The vendor id cameras answer with: real ones listed by libusb, and simulated ones when it is
// set (so a bench can present them under the id it expects).
#include <cstdint>
#include <optional>

namespace lumora::platform {

// From LUMORA_USB_VENDOR_ID (hex, with or without 0x); nothing when unset or bad.
std::optional<uint16_t> CameraVendorIdFromEnvironment();

}  // namespace lumora::platform
