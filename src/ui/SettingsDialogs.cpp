#include "ui/SettingsDialogs.h"

#include <atomic>

#include "ui/AnalogDialogModel.h"
#include "ui/CameraDialogModel.h"
#include "ui/ImageDialogModel.h"

namespace lumora::ui {
namespace {

std::atomic<ShowFunction> gShow{nullptr};

// Shows `model`; false (code recorded) when the call must be refused. A dialog that could not
// be shown, or was closed without OK, is cancelled through the model.
bool Run(CLumora& session, DialogModel& model, HWND owner) {
    const ShowFunction show = gShow.load();
    const ShowResult result = show != nullptr ? show(model, owner) : ShowModal(model, owner);
    if (result == ShowResult::kBusy || result == ShowResult::kWrongThread) {
        session.RecordError(ERR_THREAD);
        return false;
    }
    if (model.Outcome() == DialogOutcome::kOpen) model.Press(kIdCancel);
    return true;
}

bool Ready(CLumora& session) {
    if (session.Driver() != nullptr) return true;
    session.RecordError(ERR_NOT_READY);
    return false;
}

// The slot is taken before any preparation, so a refused call leaves the session alone.
bool Free(CLumora& session, const DialogSlot& slot) {
    if (slot.Held()) return true;
    session.RecordError(ERR_THREAD);
    return false;
}

}  // namespace

void SetShowFunctionForTesting(ShowFunction show) {
    gShow = show;
}

int SetCameraDlg(CLumora& session, HWND owner) {
    if (!Ready(session)) return 0;
    const DialogSlot slot;
    if (!Free(session, slot)) return 0;
    const int previous = session.SuspendCapture();
    CameraDialogInput input;
    input.device = session.SettingsDevice();
    input.caps = session.Capabilities();
    input.horizontalWindowing = kHorizontalWindowing;
    input.verticalWindowing = kVerticalWindowing;
    CameraDialogModel model(session.Store(), input);
    const bool ran = Run(session, model, owner);
    if (ran && model.Outcome() == DialogOutcome::kAccepted) session.ReloadFormatSettings();
    session.ResumeCapture(previous);
    return ran ? 1 : 0;
}

int SetImageDlg(CLumora& session, HWND owner) {
    if (!Ready(session)) return 0;
    const DialogSlot slot;
    if (!Free(session, slot)) return 0;
    const int bits = session.GetColorMode();
    int mode = 0;
    for (int m = 0; m < 6; ++m) {
        if (kColorModeBits[m] == bits) mode = m;
    }
    ImageDialogModel model(session, mode);
    return Run(session, model, owner) ? 1 : 0;
}

int SetAnalogDlg(CLumora& session, HWND owner) {
    if (!Ready(session)) return 0;
    const DialogSlot slot;
    if (!Free(session, slot)) return 0;
    AnalogDialogModel model(session);
    return Run(session, model, owner) ? 1 : 0;
}

}  // namespace lumora::ui
