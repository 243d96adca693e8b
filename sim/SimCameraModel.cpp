// The default behaviour: registers as plain storage, a deterministic picture, frames ready as
// soon as they are kicked.
#include "sim/SimCameraModel.h"

#include "platform/Clock.h"
#include "sim/SimCamera.h"
#include "usb/Fx3Protocol.h"

namespace lumora::sim {

void SimCameraModel::PowerOn(SimCamera& camera) {
    auto& fpga = camera.Fpga();
    fpga.Set16(usb::kFpgaWidthLow, usb::kFpgaWidthHigh, 2560);
    fpga.Set16(usb::kFpgaHeightLow, usb::kFpgaHeightHigh, 2048);
    fpga.Set(usb::kFpgaDepth, 1);
}

FrameGeometry SimCameraModel::Geometry(SimCamera& camera) {
    const auto& fpga = camera.Fpga();
    FrameGeometry geometry;
    geometry.width = fpga.Get16(usb::kFpgaWidthLow, usb::kFpgaWidthHigh);
    geometry.height = fpga.Get16(usb::kFpgaHeightLow, usb::kFpgaHeightHigh);
    geometry.bytesPerPixel = fpga.Get(usb::kFpgaDepth) == 2 ? 2 : 1;
    return geometry;
}

void SimCameraModel::RenderPayload(SimCamera& /*camera*/, const FrameGeometry& geometry,
                                   uint32_t counter, std::span<uint8_t> payload) {
    // A diagonal ramp shifted by the frame counter: every frame differs and any byte can be
    // predicted from its position.
    const uint32_t width = geometry.width ? geometry.width : 1;
    if (geometry.bytesPerPixel == 2) {
        for (size_t i = 0; i + 1 < payload.size(); i += 2) {
            const size_t pixel = i / 2;
            const uint32_t value = (pixel % width + pixel / width + counter) & 0xFFF;
            payload[i] = static_cast<uint8_t>(value);
            payload[i + 1] = static_cast<uint8_t>(value >> 8);
        }
        if (payload.size() % 2) payload.back() = 0;
    } else {
        for (size_t i = 0; i < payload.size(); ++i) {
            payload[i] = static_cast<uint8_t>(i % width + i / width + counter);
        }
    }
}

SimCameraModel::PayloadDrawing SimCameraModel::CapturePayload(SimCamera& camera,
                                                              const FrameGeometry& geometry,
                                                              uint32_t counter) {
    return [this, &camera, geometry, counter](std::span<uint8_t> payload) {
        RenderPayload(camera, geometry, counter, payload);
    };
}

void SimCameraModel::PictureDrawn(SimCamera& /*camera*/,
                                  std::chrono::steady_clock::duration /*took*/) {}

FrameHeaderWords SimCameraModel::HeaderWords(SimCamera& /*camera*/, uint32_t counter) {
    return {0x00005A5Au, counter, 0};
}

std::optional<uint32_t> SimCameraModel::FrameDelayMs(SimCamera& /*camera*/) {
    return 0;
}

uint32_t SimCameraModel::NowMs() {
    return platform::GetTickCount();
}

void SimCameraModel::OnStreamReset(SimCamera& /*camera*/) {}

bool SimCameraModel::SensorBusGranted(SimCamera& /*camera*/) {
    return true;
}

}  // namespace lumora::sim
