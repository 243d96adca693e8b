#pragma once
// Frames passed from the capture thread to the record thread. The capture thread copies the
// processed image, at its own depth, into a free slot and publishes it; the record thread takes
// the newest published frame and converts and writes it with no lock held. Three slots (one
// being filled, one published, one being converted) mean neither side ever waits for the
// other's work: a frame the recorder has not taken when the next one comes is replaced.
//
// Threads: Offer on one thread (the capture thread), Take on one other (the record thread);
// Prepare and Release when neither of them runs Offer or Take. mutex_ guards the slot indices
// and published_; each slot's pixels belong to whichever side holds its index.
#include <array>
#include <mutex>

#include "imaging/ImageBuffer.h"

namespace lumora {

class FrameHandOver {
public:
    // Allocates the slots for frames like `image`, so that Offer does not allocate while the
    // capture thread holds its lock. False when the memory cannot be had.
    bool Prepare(const ImageBuffer& image);
    // Frees the slots and forgets any published frame.
    void Release();

    // Copies `image` (pixels, palette, significant bits) into the free slot and publishes it.
    // Returns false when that replaced a published frame nobody took, or when the copy could
    // not be made (a size the slots were not prepared for and no memory for it).
    bool Offer(const ImageBuffer& image);
    // The newest frame published since the previous Take, or null. It stays valid and
    // unchanged until the next Take or Release.
    const ImageBuffer* Take();

private:
    std::array<ImageBuffer, 3> slots_;
    std::mutex mutex_;
    int filling_ = 0;    // the capture thread's slot
    int published_ = 1;  // handed over, not yet taken (when hasPublished_)
    int taken_ = 2;      // the record thread's slot
    bool hasPublished_ = false;
};

}  // namespace lumora
