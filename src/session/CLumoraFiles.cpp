// Files and masks: saving the current image, the configuration list, mask files and updating the
// mask references from the current raw frame.
#include "driver/CLumoraUSB3T2SimpleSdk.h"
#include "io/ConfigFile.h"
#include "io/ImageFileWriter.h"
#include "io/MaskFile.h"
#include "platform/CriticalSection.h"
#include "platform/RegularFile.h"
#include "session/CLumora.h"

namespace lumora {

int CLumora::SaveImage(const char* fileName, int format) {
    if (driver_ == nullptr || imageAvailable_.load() == 0) {
        RecordError(ERR_NOT_READY);
        return 0;
    }
    if (!Given(fileName)) return 0;
    if (format < kSaveBmp || format > kSaveTiff) return 0;
    if (!platform::RegularFile::MayHoldAFile(fileName)) return 0;  // before copying the picture
    // The picture is copied under the capture lock and written after it: a slow disk never
    // holds up the frames of a run.
    ImageBuffer picture;
    {
        platform::CriticalSectionLock lock(captureLock_);
        ImageBuffer* output = CurrentOutputImage();
        if (output == nullptr || !output->IsValid()) {
            RecordError(ERR_NOT_READY);
            return 0;
        }
        if (!picture.CopyFrom(*output)) return 0;
    }
    return WriteImageFile(fileName, picture, format, 16);
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
    // The file is read before the lock is taken, so the frames of a run never wait for the
    // disk; the references and the maps rebuilt from them change inside the lock.
    MaskFileContent content;
    bool ok = ReadMaskFile(path, content);
    if (ok) {
        platform::CriticalSectionLock lock(maskLock_);
        ok = EnsureMasksLocked() && ApplyMaskFile(content, masks_);
    }
    if (!ok) {
        RecordError(ERR_MASK_FILE);
        return 0;
    }
    return 1;
}

int CLumora::SaveMaskFile(const char* path) {
    if (!HasDriver()) return 0;
    if (!Given(path)) return 0;
    // Encoded under the lock, written after it (see LoadMaskFile). Making and encoding the
    // planes is costly: a target that can never be a file is refused before.
    MaskFileContent content;
    bool ok = platform::RegularFile::MayHoldAFile(path);
    if (ok) {
        platform::CriticalSectionLock lock(maskLock_);
        ok = EnsureMasksLocked() && EncodeMaskFile(masks_, content);
    }
    ok = ok && WriteMaskFile(path, content);
    if (!ok) {
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
        platform::CriticalSectionLock masks(maskLock_);
        result = EnsureMasksLocked() ? UpdateMaskReference(masks_, maskLock_, raw, which)
                                     : MaskUpdate::kNoMasks;
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
