// The settings reader takes whatever is on disk: any text either parses into a tree that
// survives its own text form unchanged, or is refused with nothing kept.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/SettingsKey.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace lumora::platform;
    const std::string text(reinterpret_cast<const char*>(data), size);
    SettingsKey root;
    std::string error;
    if (!ParseSettingsText(text, root, error)) {
        if (!root.IsEmpty() || error.empty()) std::abort();
        return 0;
    }
    SettingsKey again;
    if (!ParseSettingsText(FormatSettingsText(root), again, error) || !(again == root)) {
        std::abort();
    }
    return 0;
}
