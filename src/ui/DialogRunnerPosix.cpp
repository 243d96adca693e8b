// Shows dialogs through the GTK view module, loaded on first use.
#include <cstdlib>
#include <mutex>

#include "lumora/host.h"
#include "platform/DynamicModule.h"
#include "platform/ModulePath.h"
#include "ui/DialogRunner.h"
#include "ui/ViewModule.h"

namespace lumora::ui {
namespace {

struct ViewModule {
    LumoraRunDialogFn run = nullptr;
    std::string error;
};

// LUMORA_GTK_MODULE, else the module beside the library, else the loader's search path. The
// module stays loaded: GTK cannot be unloaded once initialised.
const ViewModule& LoadViewModule() {
    static ViewModule module;
    static std::once_flag once;
    std::call_once(once, [] {
        std::string candidates[3];
        if (const char* path = std::getenv("LUMORA_GTK_MODULE"); path != nullptr && *path != '\0')
            candidates[0] = path;
        candidates[1] = platform::LibraryFolder() + kLumoraViewModuleName;
        candidates[2] = kLumoraViewModuleName;
        for (const std::string& candidate : candidates) {
            if (candidate.empty()) continue;
            std::string why;
            const auto loaded = platform::DynamicModule::Load(candidate, &why);
            if (!loaded) {
                if (module.error.empty()) module.error = why;
                continue;
            }
            module.run =
                reinterpret_cast<LumoraRunDialogFn>(loaded->Symbol(kLumoraRunDialogSymbol));
            if (module.run != nullptr) return;
            module.error = "the view module has no entry point";
        }
    });
    return module;
}

bool DisplayNamed() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

}  // namespace

unsigned long OwnerX11Window(HWND owner) {
    // A wrapped application window or a preview window of ours; 0 for queue and callback
    // targets, which centres the dialog on the screen.
    return owner != nullptr ? LumoraHost_GetX11Window(owner) : 0;
}

ShowResult ShowModal(DialogModel& model, HWND owner) {
    if (!DisplayNamed()) {
        ReportUnavailable("no display");
        return ShowResult::kUnavailable;
    }
    const ViewModule& module = LoadViewModule();
    if (module.run == nullptr) {
        ReportUnavailable("the GTK view could not be loaded: " + module.error);
        return ShowResult::kUnavailable;
    }
    char reason[256] = {};
    const int result = module.run(&model, OwnerX11Window(owner), reason, sizeof reason);
    switch (result) {
        case kLumoraViewClosed:
            return ShowResult::kShown;
        case kLumoraViewWrongThread:
            return ShowResult::kWrongThread;
        default:
            ReportUnavailable(reason[0] != '\0' ? reason : "GTK could not start");
            return ShowResult::kUnavailable;
    }
}

}  // namespace lumora::ui
