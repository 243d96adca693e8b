#pragma once
// The entry point of the GTK view module. The library loads the module on first use, so that
// it loads and works on a machine without GTK; both sides include this header.
namespace lumora::ui {
class DialogModel;
}

// Result of one dialog.
enum LumoraViewResult {
    kLumoraViewClosed = 0,      // the model's outcome tells OK from Cancel
    kLumoraViewNoDisplay = 1,   // GTK could not start; `reason` says why
    kLumoraViewWrongThread = 2  // GTK belongs to another thread
};

// Runs `model` as a modal dialog on the calling thread, transient for the X11 window
// `ownerXid` (0: centred on the screen). `reason` receives a line when the result is not 0.
extern "C" typedef int (*LumoraRunDialogFn)(lumora::ui::DialogModel* model, unsigned long ownerXid,
                                            char* reason, int reasonSize);
inline constexpr const char* kLumoraRunDialogSymbol = "LumoraView_RunDialog";
inline constexpr const char* kLumoraViewModuleName = "libLumoraSdk_M5XIR_TEC-gtk.so";
