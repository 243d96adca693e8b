// The mask reader on a file of any content: the header check and the loader must refuse
// anything but a whole, well-formed file without touching memory they do not own. Inputs are
// small, so the loader mostly meets short and malformed files; the first 40 bytes also go
// through the header decoder alone.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "imaging/MaskSet.h"
#include "io/MaskFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= lumora::kMaskHeaderSize) {
        const lumora::MaskFileHeader header = lumora::DecodeMaskHeader(data);
        (void)lumora::IsValidMaskHeader(header);
    }
    static const std::string path = "/tmp/lumora-fuzz-mask-" + std::to_string(::getpid());
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    lumora::MaskSet masks;
    if (lumora::LoadMaskFile(path.c_str(), masks)) std::abort();  // never a whole 31 MB file
    return 0;
}
