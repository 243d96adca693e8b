#pragma once
// The three dialog exports' bodies: what happens around each dialog in the session.
#include "lumora/lumora.h"
#include "session/CLumora.h"
#include "ui/DialogRunner.h"

namespace lumora::ui {

// Each returns 1 once the dialog closed (or could not be shown, which counts as Cancel); 0 with
// code 1 without a driver, 0 with code 3 while another dialog is open or GTK belongs to another
// thread.
int SetCameraDlg(CLumora& session, HWND owner);
int SetImageDlg(CLumora& session, HWND owner);
int SetAnalogDlg(CLumora& session, HWND owner);

// Tests replace the way a model is shown (a scripted user instead of the GTK view); null goes
// back to ShowModal.
using ShowFunction = ShowResult (*)(DialogModel& model, HWND owner);
void SetShowFunctionForTesting(ShowFunction show);

}  // namespace lumora::ui
