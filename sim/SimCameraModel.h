#pragma once
// The behaviour of a simulated camera beyond its bus: what its sensor and FPGA do with their
// registers, the picture each frame carries, and when frames become ready. The bus (SimCamera)
// asks the model; the default model keeps the registers as plain storage, sends a deterministic
// pattern and makes every kicked frame ready at once.
//
// Every call runs with the camera's lock held (SimCamera::Lock()), except a frame's drawing (the
// one CapturePayload returns, and RenderPayload when the default drawing calls it): that runs
// without it, on the reader's thread, and works only from what it was given. A model that works
// on its own threads takes that lock before touching the camera.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

namespace lumora::sim {

class SimCamera;
struct SimCameraIdentity;

struct FrameGeometry {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bytesPerPixel = 1;  // 1: 8-bit samples, 2: 16-bit little-endian
    uint64_t PayloadLength() const { return uint64_t{width} * height * bytesPerPixel; }
};

struct FrameHeaderWords {
    uint32_t wordA = 0;
    uint32_t wordC = 0;
    uint32_t wordD = 0;
};

class SimCameraModel {
public:
    virtual ~SimCameraModel() = default;

    // After the camera powers on (creation and every replug), registers freshly reset: set
    // power-on register values and install register hooks (SimRegisterFile::OnWrite/OnRead).
    virtual void PowerOn(SimCamera& camera);
    // The geometry of the frame being started. Default: FPGA registers 0x44/0x45 (width),
    // 0x40/0x41 (height) and 0x3C (1 = 8-bit, 2 = 16-bit).
    virtual FrameGeometry Geometry(SimCamera& camera);
    // Fills one frame's payload. `counter` is the header's frame counter.
    virtual void RenderPayload(SimCamera& camera, const FrameGeometry& geometry, uint32_t counter,
                               std::span<uint8_t> payload);
    // The frame is taken now, with the settings in effect now; the returned drawing of its
    // picture runs later, when the payload is first read. A camera sends the header as soon as
    // the frame is read out; the simulator's own drawing time must not hold it up. Default:
    // RenderPayload when the payload is read.
    using PayloadDrawing = std::function<void(std::span<uint8_t> payload)>;
    virtual PayloadDrawing CapturePayload(SimCamera& camera, const FrameGeometry& geometry,
                                          uint32_t counter);
    // A frame's picture took `took` to draw (called under the camera's lock, after the drawing,
    // which runs without it). Default: nothing.
    virtual void PictureDrawn(SimCamera& camera, std::chrono::steady_clock::duration took);
    virtual FrameHeaderWords HeaderWords(SimCamera& camera, uint32_t counter);
    // Pacing: milliseconds from now until the frame armed by a kick is ready to be sent; nothing
    // when it waits for an event (a trigger), which then calls SimCamera::ReleaseFrame().
    virtual std::optional<uint32_t> FrameDelayMs(SimCamera& camera);
    // The camera's clock in milliseconds (start-up timing). Default: the tick count.
    virtual uint32_t NowMs();
    // A stream reset or port reset dropped whatever frame was under way (a restart pulse on
    // FPGA 0x6C only drops a partly sent frame and does not come here).
    virtual void OnStreamReset(SimCamera& camera);
    // Whether a transfer on the sensor's bus may go through now. Default: always (the plain model
    // has no FPGA of its own on that bus).
    virtual bool SensorBusGranted(SimCamera& camera);
};

// The model each new simulated camera gets. This is the one place to plug in a fuller model.
std::unique_ptr<SimCameraModel> MakeCameraModel(const SimCameraIdentity& identity);

}  // namespace lumora::sim
