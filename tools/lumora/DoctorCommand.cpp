// `lumora doctor`: what stands between this machine and a streaming camera, each finding with
// its fix on one line.
#include <libusb.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "Command.h"

namespace lumora_cli {
namespace {

// The largest single transfer the SDK makes (a camera-memory piece) with room for a frame in
// flight beside it; the kernel's default of 16 MiB is too little.
constexpr long kUsbfsNeededMb = 32;
constexpr const char* kUsbfsLimit = "/sys/module/usbcore/parameters/usbfs_memory_mb";

std::optional<unsigned> VendorFromEnvironment(bool* set) {
    const char* text = std::getenv("LUMORA_USB_VENDOR_ID");
    *set = text && *text;
    if (!*set) return std::nullopt;
    std::string digits = text;
    if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) digits = digits.substr(2);
    char* end = nullptr;
    const unsigned long value = std::strtoul(digits.c_str(), &end, 16);
    if (digits.empty() || *end != '\0' || value == 0 || value > 0xFFFF) return std::nullopt;
    return static_cast<unsigned>(value);
}

bool IsCameraProduct(unsigned product) {
    return product >= 0x3000 && product <= 0x33FF;
}

// The family's USB face, which needs no vendor id to be recognised: a product id of the family
// and a vendor-specific first interface with the bridge's three bulk endpoints (0x01 out, 0x81
// and 0x83 in).
bool LooksLikeThisFamily(libusb_device* device, const libusb_device_descriptor& d) {
    if (!IsCameraProduct(d.idProduct)) return false;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_config_descriptor(device, 0, &config) != 0 || config == nullptr) return false;
    bool found = false;
    if (config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0) {
        const libusb_interface_descriptor& i = config->interface[0].altsetting[0];
        int bulk = 0;
        for (int e = 0; e < i.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& ep = i.endpoint[e];
            const bool isBulk = (ep.bmAttributes & 0x03) == LIBUSB_TRANSFER_TYPE_BULK;
            if (isBulk && (ep.bEndpointAddress == 0x01 || ep.bEndpointAddress == 0x81 ||
                           ep.bEndpointAddress == 0x83)) {
                ++bulk;
            }
        }
        found = i.bInterfaceClass == LIBUSB_CLASS_VENDOR_SPEC && bulk == 3;
    }
    libusb_free_config_descriptor(config);
    return found;
}

void Finding(bool ok, const std::string& what, const std::string& fix = {}) {
    std::printf("[%s] %s\n", ok ? " ok " : "FAIL", what.c_str());
    if (!ok && !fix.empty()) std::printf("       fix: %s\n", fix.c_str());
}

int RunDoctor() {
    bool streamable = false;
    bool vendorSet = false;
    const auto vendor = VendorFromEnvironment(&vendorSet);
    char hex[16];
    if (vendor) {
        std::snprintf(hex, sizeof hex, "%04x", *vendor);
        Finding(true, std::string("LUMORA_USB_VENDOR_ID is set: real cameras of vendor ") + hex +
                          " are looked for");
    } else {
        // The cameras of the family on the bus tell which id to set.
        Finding(false,
                vendorSet ? "LUMORA_USB_VENDOR_ID is not four hexadecimal digits"
                          : "LUMORA_USB_VENDOR_ID is not set: the SDK looks for no real camera",
                "export LUMORA_USB_VENDOR_ID=<the vendor id of a camera listed below>");
    }

    long limitMb = -1;
    if (std::ifstream file(kUsbfsLimit); file >> limitMb) {
        const bool enough = limitMb == 0 || limitMb >= kUsbfsNeededMb;
        Finding(enough,
                "usbfs memory limit: " +
                    (limitMb == 0 ? std::string("unlimited") : std::to_string(limitMb) + " MiB") +
                    " (full-size streaming needs " + std::to_string(kUsbfsNeededMb) + " MiB)",
                "echo 0 | sudo tee " + std::string(kUsbfsLimit) +
                    "  (lasting: boot with usbcore.usbfs_memory_mb=0)");
    } else {
        Finding(true, "usbfs memory limit: not reported by this kernel");
    }
    const bool memoryOk = limitMb <= 0 || limitMb >= kUsbfsNeededMb;

    libusb_context* context = nullptr;
    int cameras = 0;
    if (libusb_init(&context) != 0) {
        Finding(false, "libusb could not start: the USB bus cannot be read",
                "check that /dev/bus/usb exists (a container may need it passed in)");
    } else {
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(context, &list);
        for (ssize_t i = 0; i < n; ++i) {
            libusb_device_descriptor d{};
            if (libusb_get_device_descriptor(list[i], &d) != 0 || !IsCameraProduct(d.idProduct))
                continue;
            const bool ours = vendor && d.idVendor == *vendor;
            if (!ours && !LooksLikeThisFamily(list[i], d)) continue;
            ++cameras;
            const int bus = libusb_get_bus_number(list[i]);
            const int address = libusb_get_device_address(list[i]);
            char node[64];
            std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", bus, address);
            char id[32];
            std::snprintf(id, sizeof id, "%04x:%04x", d.idVendor, d.idProduct);
            const bool super = libusb_get_device_speed(list[i]) >= LIBUSB_SPEED_SUPER;
            std::printf("camera %s on bus %d, device %d (%s)\n", id, bus, address, node);
            Finding(super, super ? "link: SuperSpeed" : "link: not SuperSpeed (too slow to stream)",
                    "plug the camera into a USB 3 port with a USB 3 cable");
            const bool writable = ::access(node, W_OK) == 0;
            std::snprintf(hex, sizeof hex, "%04x", d.idVendor);
            Finding(writable,
                    writable ? "device node writable by this user"
                             : "device node not writable by this user",
                    std::string("build with -DLUMORA_UDEV_VENDOR_ID=") + hex +
                        ", install 70-lumora-camera.rules, `udevadm control --reload && udevadm "
                        "trigger`, replug (or join group plugdev)");
            if (!ours) {
                Finding(false, "this camera is not looked for by the SDK",
                        std::string("export LUMORA_USB_VENDOR_ID=") + hex);
            }
            streamable = streamable || (ours && super && writable && memoryOk);
        }
        if (list) libusb_free_device_list(list, 1);
        libusb_exit(context);
    }
    if (cameras == 0) {
        Finding(false, "no camera found on the USB bus",
                "connect the camera (and check LUMORA_USB_VENDOR_ID), or use simulated cameras "
                "with --sim N or LUMORA_SIM_CAMERAS=N");
    }

    const int simulated = LumoraSim_GetCameraCount();
    if (simulated > 0) {
        Finding(true, std::to_string(simulated) + " simulated camera(s) configured");
        streamable = true;
    } else {
        std::printf("[info] no simulated cameras (--sim N or LUMORA_SIM_CAMERAS=N adds them)\n");
    }
    std::printf(streamable ? "Streaming can work.\n" : "Streaming cannot work yet.\n");
    return streamable ? 0 : 1;
}

}  // namespace

CommandEntry AddDoctorCommand(CLI::App& app, CommandContext& context) {
    auto* command = app.add_subcommand(
        "doctor", "check the USB bus, permissions and limits a real camera needs");
    return {command, [&context] {
                ApplySim(context.options);
                return RunDoctor();
            }};
}

}  // namespace lumora_cli
