#include "ui/DialogRunner.h"

#include <atomic>

#include "platform/Log.h"

namespace lumora::ui {
namespace {

std::atomic<bool> gDialogOpen{false};

}  // namespace

DialogSlot::DialogSlot() {
    bool expected = false;
    held_ = gDialogOpen.compare_exchange_strong(expected, true);
}

DialogSlot::~DialogSlot() {
    if (held_) gDialogOpen = false;
}

bool DialogSlot::Open() {
    return gDialogOpen.load();
}

void ReportUnavailable(const std::string& reason) {
    static std::atomic<bool> reported{false};
    if (reported.exchange(true)) return;
    const std::string line = "lumora: settings dialog not shown: " + reason + "\n";
    platform::LogText(platform::LogCategory::kDialog, 1, line.c_str());
}

}  // namespace lumora::ui
