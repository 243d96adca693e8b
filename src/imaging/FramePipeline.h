#pragma once
// The per-frame post-processing: auto iris, flat-field and defect correction, gray mode, host
// mirroring, conversion to the output format and the filters, in that order. The session owns
// the images, the settings, the mask planes and their lock; it hands them in through
// FramePipelineHost, which keeps the pipeline testable without a session or a camera.
//
// Threads: ProcessFrame runs on the thread completing a capture, under the session's capture
// lock; it takes the mask lock (after the capture lock) around the corrections. A
// FramePipeline's table caches belong to that one caller at a time.
#include <array>
#include <cstdint>
#include <vector>

#include "imaging/DefectCorrection.h"
#include "imaging/Demosaic.h"
#include "imaging/FilterSettings.h"
#include "imaging/Filters.h"
#include "imaging/FlatField.h"
#include "imaging/ImageBuffer.h"
#include "imaging/MaskSet.h"
#include "imaging/RawFrame.h"
#include "imaging/RowBands.h"
#include "platform/CriticalSection.h"

namespace lumora {

// ColorMode: 0 mono 8, 1 mono 16, 2 colour 24, 3 colour 32, 4 colour 48, 5 colour 64.
constexpr int kColorModeCount = 6;

// Sub-sampling codes 1/17 → 2, 2/18 → 4, 3/19 → 8, anything else → 1.
int SubsampleDivisor(int code);

// The images the pipeline works on; the session creates the ones its colour mode needs.
struct PipelineImages {
    ImageBuffer rawImage8;
    ImageBuffer rawImage16;
    ImageBuffer colorImage24;
    ImageBuffer colorImage32;
    ImageBuffer colorImage48;
    ImageBuffer colorImage64;
    ImageBuffer workImage;  // kept for the session's image set; sharpness works in place

    // RawImage16 for modes 1, 4, 5, RawImage8 otherwise.
    ImageBuffer& RawSource(int colorMode);
    // The output image of a mode (the raw image itself for 0 and 1); null outside 0..5.
    ImageBuffer* Output(int colorMode);
};

// What one frame is processed with; the session takes the snapshot when the frame starts, so
// settings changed meanwhile by other threads apply from the next frame.
struct FrameSettings {
    int colorMode = 0;
    int autoIris = 0;  // 0 off, 1 exposure, 2 gain
    bool maskFilter = false;
    bool dotFilter = false;
    int sampleWidth = 12;  // bits per 16-bit sample, limits the gray gain step
    FilterSettings filter;
    GraySettings gray;
    MirrorState mirrors;
    MaskGeometry geometry;  // the geometry the run was prepared with
};

class FramePipelineHost {
public:
    virtual ~FramePipelineHost() = default;

    virtual FrameSettings CurrentSettings() = 0;
    // The mask planes (null or incomplete: corrections are skipped) and the lock guarding them.
    virtual MaskSet* Masks() = 0;
    virtual platform::CriticalSection& MaskLock() = 0;

    // Auto iris asks to scale exposure (mode 1) or gain (mode 2) by `factor`.
    virtual void AdjustIris(int mode, double factor) = 0;
    // An automatic gray-gain estimate: store the four gains (R, G1, G2, B) and count the
    // automatic gray-gain counter down by one.
    virtual void StoreGrayGains(const std::array<int, 4>& gains) = 0;
    // A white-balance estimate: store the Bayer gains; when `oneShotDone`, also clear the
    // Bayer-gain-auto flag and both one-shot marker words.
    virtual void StoreWhiteBalance(const BayerGains& gains, bool oneShotDone) = 0;
    // An open filter dialog shows the new estimates.
    virtual void RefreshFilterDialog() = 0;
};

class FramePipeline {
public:
    // `bands` row bands per stage (1: everything on the calling thread); the worker threads
    // belong to the pipeline and so to the session that owns it.
    explicit FramePipeline(int bands = RowBandPool::DefaultBands()) : pool_(bands) {}

    // Runs the whole pipeline on the frame already placed in the raw source image, or on one that
    // arrived in a buffer of its own (`arrived`: the raw image's size and layout): the flat field
    // then reads it from there, which spares copying it in first; otherwise it is copied in.
    // Either way the raw source image holds the frame (processed) afterwards.
    void ProcessFrame(PipelineImages& images, FramePipelineHost& host,
                      const uint8_t* arrived = nullptr);
    // True when ProcessFrame would deliver the raw frame as it came and learn nothing from it:
    // a mono output, which is the raw image itself, and no stage with work to do. Such a frame
    // can go to its reader without passing through the images.
    static bool LeavesFrameUnchanged(FrameSettings s);

private:
    void Corrections(ImageBuffer& source, const FrameSettings& s, FramePipelineHost& host,
                     const uint8_t* arrived);
    void GrayMode(PipelineImages& images, ImageBuffer& source, FrameSettings& s,
                  FramePipelineHost& host);
    void WhiteBalance(const ImageBuffer& source, FrameSettings& s, FramePipelineHost& host);
    void Filters(ImageBuffer& output, const FrameSettings& s);

    const std::vector<uint16_t>& Table(std::vector<uint16_t>& cache, int& cachedKey, int& cachedMax,
                                       int key, int maxValue,
                                       void (*build)(int, int, std::vector<uint16_t>&));

    // Tables kept while their setting stays the same (identical to rebuilding per frame).
    std::vector<uint16_t> gammaTable_;
    int gammaKey_ = -1;
    int gammaMax_ = -1;
    std::vector<uint16_t> contrastTable_;
    int contrastKey_ = 0x7FFFFFFF;
    int contrastMax_ = -1;
    std::vector<uint16_t> brightnessTable_;
    int brightnessKey_ = 0;
    int brightnessMax_ = -1;
    std::vector<uint16_t> combined_;  // the composition of adjacent table filters
    // What combined_ composes: the range, gamma, contrast and the brightness it took in (0: none).
    std::array<int, 4> combinedKey_{-1, -1, -1, -1};
    HueSaturationTables hueTables_;
    RowBandPool pool_;
};

}  // namespace lumora
