// One camera frame as the viewer keeps it: the SDK's output image copied out of the session
// (8-bit samples, or 16-bit words carrying the sensor's 12-bit values), immutable once
// published, with a pool that hands the same memory out again instead of allocating a full
// frame for every picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace lumora_viewer {

struct FrameGeometry {
    int width = 0;
    int height = 0;
    int bits = 8;  // 8 or 16

    // Rows are padded to 4 bytes, as the SDK's images are.
    int Stride() const { return (width * (bits / 8) + 3) & ~3; }
    size_t Bytes() const { return static_cast<size_t>(Stride()) * static_cast<size_t>(height); }
    bool Valid() const { return width > 0 && height > 0 && (bits == 8 || bits == 16); }
    bool operator==(const FrameGeometry&) const = default;
};

class Frame {
public:
    FrameGeometry geometry;
    // 16-bit words whose 12-bit value sits in the top bits (the flat-field correction writes
    // them so) are shifted down by 4; 0 otherwise.
    int valueShift = 0;
    uint64_t number = 0;  // the viewer's count of frames taken from the camera
    std::vector<uint8_t> pixels;

    // The largest value the camera delivers: 255 for 8-bit frames, 4095 for 12-bit values.
    int FullScale() const { return geometry.bits == 8 ? 255 : 4095; }
    const uint8_t* Row(int y) const {
        return pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(geometry.Stride());
    }
    // The camera's value at (x, y): the 8-bit sample or the 12-bit value. Unchecked: callers
    // clip to the geometry first.
    int Sample(int x, int y) const {
        if (geometry.bits == 8) return Row(y)[x];
        const uint8_t* p = Row(y) + 2 * static_cast<size_t>(x);
        return (p[0] | (p[1] << 8)) >> valueShift;
    }
    bool Contains(int x, int y) const {
        return x >= 0 && y >= 0 && x < geometry.width && y < geometry.height;
    }
};

// Frames for the feed. A frame handed out returns to the pool when its last user lets go, so a
// run at a steady geometry allocates only as many frames as are in use at once.
// Thread-safe: any thread may acquire frames and drop them.
class FramePool : public std::enable_shared_from_this<FramePool> {
public:
    static std::shared_ptr<FramePool> Create() {
        return std::shared_ptr<FramePool>(new FramePool());
    }
    // A frame sized for `geometry` (contents undefined); null when memory runs out.
    std::shared_ptr<Frame> Acquire(const FrameGeometry& geometry);
    size_t Idle() const;

private:
    FramePool() = default;
    void Return(Frame* frame);

    mutable std::mutex mutex_;  // guards idle_
    std::vector<std::unique_ptr<Frame>> idle_;
};

}  // namespace lumora_viewer
