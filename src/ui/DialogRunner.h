#pragma once
// Shows a dialog model modally, one dialog at a time: through the GTK view module on Linux, from
// the dialog templates in the library's own resources on Windows.
//
// Threads: one dialog may be open in the process. A call while one is open (from another thread,
// or re-entered from the dialog's own loop) is refused with kBusy. GTK serves one thread: the
// GTK thread of a GTK application, or the first thread of the process that opened a dialog
// (kWrongThread for any other). A Windows dialog runs on whichever thread asks for it.
#include <string>

#include "lumora/lumora.h"
#include "ui/DialogModel.h"

namespace lumora::ui {

enum class ShowResult {
    kShown,        // the model's outcome says OK or Cancel
    kUnavailable,  // no display, no GTK or no template: the caller treats it as Cancel
    kBusy,         // another dialog is open
    kWrongThread,  // GTK runs on another thread
};

// The caller holds the DialogSlot while the dialog is shown.
ShowResult ShowModal(DialogModel& model, HWND owner);

#if !defined(_WIN32)
// The X11 window behind an owner handle, 0 for none; the window layer will provide it.
unsigned long OwnerX11Window(HWND owner);
#endif

// Holds the process's one dialog slot for its lifetime.
class DialogSlot {
public:
    DialogSlot();
    ~DialogSlot();
    DialogSlot(const DialogSlot&) = delete;
    DialogSlot& operator=(const DialogSlot&) = delete;
    bool Held() const { return held_; }
    static bool Open();  // a dialog is open now

private:
    bool held_;
};

// Writes the reason a dialog could not be shown to standard error under LUMORA_DEBUG, once per
// process.
void ReportUnavailable(const std::string& reason);

}  // namespace lumora::ui
