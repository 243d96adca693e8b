#pragma once
// A simulated camera with an open session, and a scripted user in place of the GTK view.
#include <functional>

#include "driver/CLumoraUSB3T2SimpleSdk.h"
#include "e2e/SimFixture.h"
#include "ui/SettingsDialogs.h"

namespace lumora::testing {

// What the scripted user does with the dialog the export opened.
inline std::function<void(ui::DialogModel&)>& Script() {
    static std::function<void(ui::DialogModel&)> script;
    return script;
}

inline ui::ShowResult ScriptedShow(ui::DialogModel& model, HWND) {
    if (Script()) Script()(model);
    return ui::ShowResult::kShown;
}

class DialogWorld : public SimWorld {
protected:
    void SetUp() override {
        SimWorld::SetUp();
        handle_ = Open();
        session_ = Session(handle_);
        ASSERT_NE(session_, nullptr);
        ASSERT_NE(session_->Driver(), nullptr);
        ui::SetShowFunctionForTesting(&ScriptedShow);
    }
    void TearDown() override {
        ui::SetShowFunctionForTesting(nullptr);
        Script() = nullptr;
        session_.reset();
        SimWorld::TearDown();
    }
    CLumoraUSB3T2SimpleSdk& Driver() { return *session_->Driver(); }
    CLumora::SettingsGroups Settings() { return session_->SettingsSnapshot(); }

    int handle_ = 0;
    std::shared_ptr<CLumora> session_;
};

}  // namespace lumora::testing
