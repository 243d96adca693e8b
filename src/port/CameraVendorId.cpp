#include "port/CameraVendorId.h"

#include <cstdlib>

namespace lumora::platform {

std::optional<uint16_t> CameraVendorIdFromEnvironment() {
    const char* text = std::getenv("LUMORA_USB_VENDOR_ID");
    if (!text || !*text) return std::nullopt;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 16);
    if (end == text || *end != '\0' || value == 0 || value > 0xFFFF) return std::nullopt;
    return static_cast<uint16_t>(value);
}

}  // namespace lumora::platform
