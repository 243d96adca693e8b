#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ui/DialogFixture.h"
#include "ui/DialogText.h"
#include "ui/ImageDialogModel.h"

namespace lumora::testing {
namespace {

// Restores one environment variable when the test ends.
class EnvGuard {
public:
    EnvGuard(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~EnvGuard() {
        if (had_) {
            ::setenv(name_, old_.c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

using DialogWorldThreads = DialogWorld;

class DialogRunnerTest : public DialogWorld {
protected:
    void SetUp() override {
        DialogWorld::SetUp();
        ui::SetShowFunctionForTesting(nullptr);  // the real runner
    }
};

TEST_F(DialogRunnerTest, WithoutADisplayEachDialogEndsLikeCancel) {
    EnvGuard display("DISPLAY", nullptr);
    EnvGuard wayland("WAYLAND_DISPLAY", nullptr);
    ASSERT_EQ(Lumora_SetFilterValue(handle_, 1, 33), 1);
    const int gain = Driver().GetGlobalGain();
    EXPECT_EQ(Lumora_SetImageDlg(handle_, nullptr), 1);
    EXPECT_EQ(Lumora_SetAnalogDlg(handle_, nullptr), 1);
    EXPECT_EQ(Lumora_SetCameraDlg(handle_, nullptr), 1);
    EXPECT_EQ(Settings().filter.brightness, 33);
    EXPECT_EQ(Driver().GetGlobalGain(), gain);
    EXPECT_EQ(Lumora_GetLastError(handle_), 0);
}

TEST_F(DialogRunnerTest, ASecondDialogWhileOneIsOpenIsRefusedWithoutTouchingTheSession) {
    ASSERT_EQ(Lumora_StartPreview(handle_), 1);
    ui::DialogSlot open;  // as if another thread showed a dialog now
    ASSERT_TRUE(open.Held());
    EXPECT_EQ(Lumora_SetCameraDlg(handle_, nullptr), 0);
    EXPECT_EQ(Lumora_GetLastError(handle_), ERR_THREAD);
    EXPECT_EQ(session_->State(), kStatePreview);  // the run was not stopped for nothing
    EXPECT_EQ(Lumora_SetImageDlg(handle_, nullptr), 0);
    EXPECT_EQ(Lumora_SetAnalogDlg(handle_, nullptr), 0);
    EXPECT_EQ(Codes(handle_), (std::vector<int>{ERR_THREAD, ERR_THREAD}));
    ui::DialogSlot second;
    EXPECT_FALSE(second.Held());
    EXPECT_EQ(Lumora_StopPreview(handle_), 1);
}

TEST_F(DialogWorldThreads, ACallFromAnotherThreadWhileADialogIsOpenIsRefused) {
    std::atomic<int> otherResult{-1};
    std::vector<int> otherCodes;
    Script() = [&](ui::DialogModel& model) {
        // The dialog is open on this thread; another thread tries one meanwhile.
        std::thread other([&] {
            otherResult = Lumora_SetAnalogDlg(handle_, nullptr);
            otherCodes = Codes(handle_);
        });
        other.join();
        model.Scroll(2001, 77);
        model.Press(ui::kIdOk);
    };
    EXPECT_EQ(Lumora_SetImageDlg(handle_, nullptr), 1);
    EXPECT_EQ(otherResult.load(), 0);
    EXPECT_EQ(otherCodes, (std::vector<int>{ERR_THREAD}));
    EXPECT_EQ(Settings().filter.brightness, 77);
    // Once it closed, the next dialog opens.
    Script() = [](ui::DialogModel& model) { model.Press(ui::kIdOk); };
    EXPECT_EQ(Lumora_SetAnalogDlg(handle_, nullptr), 1);
}

TEST_F(DialogRunnerTest, AnUnknownHandleRecordsNothing) {
    EXPECT_EQ(Lumora_SetCameraDlg(handle_ + 1000, nullptr), 0);
    EXPECT_EQ(Lumora_SetImageDlg(0, nullptr), 0);
    EXPECT_EQ(Lumora_GetLastError(handle_), 0);
}

TEST(DialogText, JapaneseFollowsTheUsersEnvironment) {
    EnvGuard all("LC_ALL", nullptr);
    EnvGuard messages("LC_MESSAGES", nullptr);
    {
        EnvGuard lang("LANG", "ja_JP.UTF-8");
        EXPECT_EQ(ui::UserLanguage(), "ja");
        EXPECT_EQ(ui::Tr("Cancel"), "キャンセル");
        EXPECT_EQ(ui::Tr("no such text"), "no such text");
        EnvGuard over("LC_MESSAGES", "en_US.UTF-8");
        EXPECT_EQ(ui::UserLanguage(), "");
        EXPECT_EQ(ui::Tr("Cancel"), "Cancel");
    }
    EnvGuard lang("LANG", "C.UTF-8");
    EXPECT_EQ(ui::Tr("Cancel"), "Cancel");
}

TEST(DialogText, ADamagedCatalogueIsRefusedWhole) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("lumora-mo-" + std::to_string(::getpid()));
    const std::string good = ui::CatalogPath("ja");
    ASSERT_FALSE(good.empty()) << "the built catalogue is found";
    ui::MessageCatalog catalog;
    ASSERT_TRUE(catalog.Load(good));
    EXPECT_GT(catalog.Size(), 50u);
    // Cut short: the string tables point past the end.
    std::filesystem::copy_file(good, path, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
    EXPECT_FALSE(catalog.Load(path.string()));
    EXPECT_EQ(catalog.Size(), 0u);
    EXPECT_EQ(catalog.Find("Cancel"), nullptr);
    std::ofstream(path, std::ios::binary) << "not a catalogue at all, just text";
    EXPECT_FALSE(catalog.Load(path.string()));
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace lumora::testing
