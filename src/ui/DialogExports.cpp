// The settings dialogs' exports. The dialogs sit above the export layer, which knows nothing of
// them.
#include "api/Dispatch.h"
#include "lumora/lumora.h"
#include "ui/SettingsDialogs.h"

using lumora::CLumora;
using lumora::WithSession;

extern "C" {

LUMORA_API int Lumora_SetCameraDlg(int handle, HWND owner) {
    return WithSession(handle, 0, [&](CLumora& s) { return lumora::ui::SetCameraDlg(s, owner); });
}
LUMORA_API int Lumora_SetImageDlg(int handle, HWND owner) {
    return WithSession(handle, 0, [&](CLumora& s) { return lumora::ui::SetImageDlg(s, owner); });
}
LUMORA_API int Lumora_SetAnalogDlg(int handle, HWND owner) {
    return WithSession(handle, 0, [&](CLumora& s) { return lumora::ui::SetAnalogDlg(s, owner); });
}

}  // extern "C"
