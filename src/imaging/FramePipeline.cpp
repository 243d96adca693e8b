#include "imaging/FramePipeline.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "imaging/AutoIris.h"

namespace lumora {

int SubsampleDivisor(int code) {
    switch (code) {
        case 1:
        case 17:
            return 2;
        case 2:
        case 18:
            return 4;
        case 3:
        case 19:
            return 8;
        default:
            return 1;
    }
}

ImageBuffer& PipelineImages::RawSource(int colorMode) {
    return colorMode == 1 || colorMode == 4 || colorMode == 5 ? rawImage16 : rawImage8;
}

ImageBuffer* PipelineImages::Output(int colorMode) {
    switch (colorMode) {
        case 0:
            return &rawImage8;
        case 1:
            return &rawImage16;
        case 2:
            return &colorImage24;
        case 3:
            return &colorImage32;
        case 4:
            return &colorImage48;
        case 5:
            return &colorImage64;
        default:
            return nullptr;
    }
}

namespace {

bool IsMono(int colorMode) {
    return colorMode == 0 || colorMode == 1;
}

// Settings feed integer arithmetic; the setters refuse out-of-range values, and this keeps a
// stray value from overflowing anything.
void LimitSettings(FrameSettings& s) {
    FilterSettings& f = s.filter;
    f.sharpness = std::clamp(f.sharpness, 0, 30);
    f.contrast = std::clamp(f.contrast, -127, 127);
    f.brightness = std::clamp(f.brightness, -255, 255);
    f.gamma = std::clamp(f.gamma, 0, 200);
    f.bayerGainR = std::clamp(f.bayerGainR, 0, kBayerGainMax);
    f.bayerGainG = std::clamp(f.bayerGainG, 0, kBayerGainMax);
    f.bayerGainB = std::clamp(f.bayerGainB, 0, kBayerGainMax);
    for (int i = 0; i < 4; ++i) {
        s.gray.gain[i] = std::clamp(s.gray.gain[i], 0, kGrayGainMax);
        s.gray.offset[i] = std::clamp(s.gray.offset[i], -255, 255);
    }
}

}  // namespace

void FramePipeline::ProcessFrame(PipelineImages& images, FramePipelineHost& host,
                                 const uint8_t* arrived) {
    FrameSettings s = host.CurrentSettings();
    LimitSettings(s);
    ImageBuffer& source = images.RawSource(s.colorMode);
    if (!source.IsValid()) return;
    // The camera's 16-bit samples arrive right-aligned; the flat field below left-aligns them.
    if (source.BitCount() == 16) source.SetSignificantBits(12);

    const bool irisEstimate = s.autoIris == 1 || s.autoIris == 2;
    // Only the flat field, as the first stage, reads a frame where it arrived (so below, a frame
    // still to land means the flat field is on).
    if (irisEstimate || !s.maskFilter) {
        CopyArrivedFrame(source, arrived);
        arrived = nullptr;
    }
    if (irisEstimate) {
        const double f = AutoIrisFactor(source);
        if (AutoIrisNeedsChange(f)) host.AdjustIris(s.autoIris, f);
    }
    if (s.maskFilter || s.dotFilter) Corrections(source, s, host, arrived);
    if (IsMono(s.colorMode)) GrayMode(images, source, s, host);
    MirrorOnHost(source, s.mirrors);

    ImageBuffer* output = images.Output(s.colorMode);
    if (output == nullptr || !output->IsValid()) return;
    if (!IsMono(s.colorMode)) {
        if (s.filter.bayerGainAuto != 0) WhiteBalance(source, s, host);
        const DemosaicParams params{
            CorrectedBayerPhase(s.filter.bayerMode, s.mirrors.horizontal, s.mirrors.vertical),
            s.filter.bayerGainR, s.filter.bayerGainG, s.filter.bayerGainB};
        ApplyConverter(*output, DemosaicBayer, source, nullptr, 0, 0, &params);
        output->SetSignificantBits(source.SignificantBits());
    }
    Filters(*output, s);
}

bool FramePipeline::LeavesFrameUnchanged(FrameSettings s) {
    LimitSettings(s);
    const FilterSettings& f = s.filter;
    const GraySettings& gray = s.gray;
    const bool grayIdle = gray.grayMode == 0 || (gray.grayMode == 1 && gray.autoGainCounter == 0 &&
                                                 GrayGainIsNeutral(gray));
    return IsMono(s.colorMode) && s.autoIris != 1 && s.autoIris != 2 && !s.maskFilter &&
           !s.dotFilter && grayIdle && !s.mirrors.HostHorizontal() && !s.mirrors.HostVertical() &&
           f.gamma == 100 && f.contrast == 0 && f.sharpness == 0 && f.brightness == 0;
}

void FramePipeline::Corrections(ImageBuffer& source, const FrameSettings& s,
                                FramePipelineHost& host, const uint8_t* arrived) {
    std::lock_guard<platform::CriticalSection> lock(host.MaskLock());
    MaskSet* masks = host.Masks();
    if (masks == nullptr || !masks->IsComplete()) {
        CopyArrivedFrame(source, arrived);
        return;
    }
    // The flat field leaves 16-bit samples filling all sixteen bits; the dot filter's threshold
    // follows the data to that scale.
    const int bitCount = source.BitCount();
    bool flattened = false;
    if (s.maskFilter && s.dotFilter) {
        flattened =
            FlatFieldAndDefectCorrect(source, *masks, s.geometry, DefectThresholdFor(bitCount, 16),
                                      DefectThresholdFor(bitCount, s.sampleWidth), arrived);
    } else if (s.maskFilter) {
        flattened = FlatFieldCorrect(source, *masks, s.geometry, &pool_, arrived);
    } else {
        DefectCorrect(source, *masks, s.geometry, DefectThresholdFor(bitCount, s.sampleWidth),
                      &pool_);
    }
    if (flattened && bitCount == 16) source.SetSignificantBits(16);
}

void FramePipeline::GrayMode(PipelineImages& images, ImageBuffer& source, FrameSettings& s,
                             FramePipelineHost& host) {
    GraySettings& gray = s.gray;
    if (gray.grayMode == 1) {
        if (gray.autoGainCounter != 0) {
            std::array<int, 4> gains{gray.gain[0], gray.gain[1], gray.gain[2], gray.gain[3]};
            gains = EstimateGrayGains(source, s.filter.bayerMode, gains);
            std::copy(gains.begin(), gains.end(), gray.gain);
            host.StoreGrayGains(gains);
            host.RefreshFilterDialog();
        }
        if (GrayGainIsNeutral(gray)) return;
        // Left-aligned samples use the whole word; limiting them to 12 bits would flatten them.
        const int sampleWidth = source.SignificantBits() == 16 ? 16 : s.sampleWidth;
        GrayGainParams params{s.filter.bayerMode, {}, {}, sampleWidth};
        std::copy(gray.gain, gray.gain + 4, params.gain);
        std::copy(gray.offset, gray.offset + 4, params.offset);
        ApplyInPlace(source, GrayGainOffset, &params);
    } else if (gray.grayMode == 2) {
        // Luminance through a demosaic: only an 8-bit source has the 24-bit image to go
        // through.
        if (source.BitCount() != 8 || !images.colorImage24.IsValid()) return;
        if (s.filter.bayerGainAuto != 0) WhiteBalance(source, s, host);
        const DemosaicParams params{
            CorrectedBayerPhase(s.filter.bayerMode, s.mirrors.horizontal, s.mirrors.vertical),
            s.filter.bayerGainR, s.filter.bayerGainG, s.filter.bayerGainB};
        ApplyConverter(images.colorImage24, DemosaicBayer, source, nullptr, 0, 0, &params);
        ApplyConverter(source, LumaFromColor, images.colorImage24, nullptr, 0, 0, nullptr);
    }
}

void FramePipeline::WhiteBalance(const ImageBuffer& source, FrameSettings& s,
                                 FramePipelineHost& host) {
    FilterSettings& f = s.filter;
    const int phase = CorrectedBayerPhase(f.bayerMode, s.mirrors.horizontal, s.mirrors.vertical);
    const BayerGains gains =
        EstimateWhiteBalance(source, phase, BayerGains{f.bayerGainR, f.bayerGainG, f.bayerGainB});
    f.bayerGainR = gains.r;
    f.bayerGainG = gains.g;
    f.bayerGainB = gains.b;
    const bool oneShotDone = f.oneShotMarker[0] != 0 && f.oneShotMarker[1] != 0;
    host.StoreWhiteBalance(gains, oneShotDone);
    host.RefreshFilterDialog();
}

const std::vector<uint16_t>& FramePipeline::Table(std::vector<uint16_t>& cache, int& cachedKey,
                                                  int& cachedMax, int key, int maxValue,
                                                  void (*build)(int, int, std::vector<uint16_t>&)) {
    if (cachedKey != key || cachedMax != maxValue || cache.empty()) {
        build(key, maxValue, cache);
        cachedKey = key;
        cachedMax = maxValue;
    }
    return cache;
}

void FramePipeline::Filters(ImageBuffer& output, const FrameSettings& s) {
    const FilterSettings& f = s.filter;
    const bool wide = output.BitCount() == 16 || output.BitCount() == 48 || output.BitCount() == 64;
    const int maxValue = wide ? 65535 : 255;

    if (!IsMono(s.colorMode) && (f.hue != 0 || f.saturation != 0)) {
        hueTables_.Prepare(f.hue, f.saturation);
        ApplyHueSaturation(output, hueTables_);
    }
    // Gamma, contrast and brightness are each a function of the sample alone, so adjacent ones
    // are composed into one table (same results as one pass per filter). Sharpness, which looks
    // at neighbours, sits between contrast and brightness: the tables before and after it run
    // in the same pass over the image. The composition is kept while its filters stay the same:
    // at 16 bits it walks 65536 entries, which costs more than a few rows of the frame.
    const bool sharpen = f.sharpness != 0;
    const std::vector<uint16_t>* brightness =
        f.brightness != 0 ? &Table(brightnessTable_, brightnessKey_, brightnessMax_, f.brightness,
                                   maxValue, BuildBrightnessTable)
                          : nullptr;
    const int composedBrightness = sharpen ? 0 : f.brightness;
    const bool composed = f.gamma != 100 || f.contrast != 0 || composedBrightness != 0;
    const std::array<int, 4> key{maxValue, f.gamma, f.contrast, composedBrightness};
    if (composed && (key != combinedKey_ || combined_.empty())) {
        bool any = false;
        auto compose = [&](const std::vector<uint16_t>& table) {
            if (!any) {
                combined_ = table;
            } else {
                for (uint16_t& v : combined_) v = table[v];
            }
            any = true;
        };
        if (f.gamma != 100) {
            compose(Table(gammaTable_, gammaKey_, gammaMax_, f.gamma, maxValue, BuildGammaTable));
        }
        if (f.contrast != 0) {
            compose(Table(contrastTable_, contrastKey_, contrastMax_, f.contrast, maxValue,
                          BuildContrastTable));
        }
        if (composedBrightness != 0) compose(*brightness);
        combinedKey_ = key;
    }
    if (sharpen) {
        const bool before = f.gamma != 100 || f.contrast != 0;
        ApplyTonesAndSharpness(output, before ? &combined_ : nullptr, f.sharpness, brightness,
                               &pool_);
        return;
    }
    if (composed) ApplyLookupTable(output, combined_, &pool_);
}

}  // namespace lumora
