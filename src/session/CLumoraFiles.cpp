// Files and masks: saving the current image, the configuration list, mask files and updating the
// mask references from the current raw frame.
#include "driver/CLumoraUSB3T2SimpleSdk.h"
#include "io/ConfigFile.h"
#include "io/ImageFileWriter.h"
#include "io/MaskFile.h"
#include "session/CLumora.h"

namespace lumora {

int CLumora::SaveImage(const char* fileName, int format) {
    if (driver_ == nullptr || imageAvailable_.load() == 0) {
        RecordError(ERR_NOT_READY);
        return 0;
    }
    if (!Given(fileName)) return 0;
    platform::CriticalSectionLock lock(captureLock_);
    ImageBuffer* output = CurrentOutputImage();
    if (output == nullptr || !output->IsValid()) {
        RecordError(ERR_NOT_READY);
        return 0;
    }
    return WriteImageFile(fileName, *output, format, 16);
}

int CLumora::LoadConfigFile(const char* path) {
    if (!Given(path)) return 0;
    ConfigList pairs;
    if (!ReadConfigFile(path, pairs)) return 0;
    platform::CriticalSectionLock lock(maskLock_);
    if (!pairs.empty()) configList_ = std::move(pairs);
    return 1;
}

int CLumora::LoadMaskFile(const char* path) {
    if (!HasDriver()) return 0;
    if (!Given(path)) return 0;
    // The maps are rebuilt from the new references inside the same lock.
    platform::CriticalSectionLock lock(maskLock_);
    if (!masks_.IsComplete() || !::lumora::LoadMaskFile(path, masks_)) {
        RecordError(ERR_MASK_FILE);
        return 0;
    }
    return 1;
}

int CLumora::SaveMaskFile(const char* path) {
    if (!HasDriver()) return 0;
    if (!Given(path)) return 0;
    platform::CriticalSectionLock lock(maskLock_);
    if (!masks_.IsComplete() || !::lumora::SaveMaskFile(path, masks_)) {
        RecordError(ERR_MASK_FILE);
        return 0;
    }
    return 1;
}

int CLumora::UpdateMaskData(int which) {
    if (!HasDriver()) return 0;
    maskUpdating_ = 1;
    MaskUpdate result;
    {
        platform::CriticalSectionLock lock(captureLock_);
        CatchUpImagesLocked();
        const ImageBuffer& raw = images_.RawSource(preparedColorMode_);
        result = UpdateMaskReference(masks_, maskLock_, raw, which);
    }
    maskUpdating_ = 0;
    switch (result) {
        case MaskUpdate::kStored:
        case MaskUpdate::kNotFullSize:
            return 1;
        case MaskUpdate::kBadSelector:
            RecordError(ERR_TEXT);
            return 0;
        case MaskUpdate::kNoMasks:
            RecordError(ERR_MEMORY);
            return 0;
    }
    return 0;
}

}  // namespace lumora
