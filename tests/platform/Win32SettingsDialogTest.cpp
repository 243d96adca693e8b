// The settings dialogs on Windows: each export shows its dialog from the templates linked into
// the program, owned by the application's window, and a user on another thread edits controls
// through their ids, then presses OK or Cancel (or closes the window). What reached the camera
// and the session is read back through the exports, in English and in Japanese.
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "lumora/host.h"
#include "lumora/lumora.h"
#include "platform/Win32Api.h"

#include <commctrl.h>

#include "ui/win32/DialogResources.h"

namespace lumora {
namespace {

constexpr ULONGLONG kDeadlineMs = 60000;  // the machine may be loaded; waits are for events
constexpr int kFilterBrightness = 1;
constexpr int kFilterContrast = 2;
constexpr int kFilterGrayMode = 19;

std::wstring TextOf(HWND window) {
    wchar_t text[512] = {};
    ::GetWindowTextW(window, text, 512);
    return text;
}

// This process's dialog on the screen (class "#32770"), or null.
HWND FindShownDialog() {
    HWND found = nullptr;
    ::EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            DWORD process = 0;
            ::GetWindowThreadProcessId(window, &process);
            wchar_t name[64] = {};
            ::GetClassNameW(window, name, 64);
            if (process != ::GetCurrentProcessId() || std::wstring(name) != L"#32770" ||
                !::IsWindowVisible(window)) {
                return TRUE;
            }
            *reinterpret_cast<HWND*>(data) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// The user's side: the dialog's controls by page and id, changed as the mouse and keyboard
// would change them. Every call is a message to the dialog's thread, handled there.
class User {
public:
    explicit User(HWND sheet) : sheet_(sheet) {}
    HWND Sheet() const { return sheet_; }
    HWND Page(int page) const { return ::GetDlgItem(sheet_, LUMORA_PAGE_ID + page); }
    HWND Control(int page, int id) const { return ::GetDlgItem(Page(page), id); }
    void Type(int page, int id, const std::wstring& text) const {
        ::SetDlgItemTextW(Page(page), id, text.c_str());
    }
    void Click(int page, int id) const {
        ::SendMessageW(Control(page, id), BM_CLICK, 0, 0);
    }
    void Press(int button) const { ::SendMessageW(::GetDlgItem(sheet_, button), BM_CLICK, 0, 0); }
    std::wstring Tab(int index) const {
        wchar_t text[128] = {};
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = 128;
        ::SendMessageW(::GetDlgItem(sheet_, IDC_TAB), TCM_GETITEMW, index,
                       reinterpret_cast<LPARAM>(&item));
        return text;
    }
    std::wstring ComboItem(int page, int id, int index) const {
        HWND combo = Control(page, id);
        std::wstring text(static_cast<size_t>(::SendMessageW(combo, CB_GETLBTEXTLEN, index, 0)) + 1,
                          L'\0');
        ::SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
        text.resize(text.size() - 1);
        return text;
    }

private:
    HWND sheet_;
};

// Runs `open` (an export showing a dialog) on this thread and `act` on a thread of its own once
// the dialog is on the screen. A user who leaves the dialog open has it closed, which cancels;
// `act` reports through its captures and the test checks them after the export returned.
int WithUser(const std::function<int()>& open, const std::function<void(const User&)>& act) {
    std::atomic<bool> returned{false};
    std::thread user([&] {
        HWND sheet = nullptr;
        const ULONGLONG end = ::GetTickCount64() + kDeadlineMs;
        while (!returned && (sheet = FindShownDialog()) == nullptr && ::GetTickCount64() < end)
            ::Sleep(10);
        if (sheet == nullptr) return;
        act(User(sheet));
        if (::IsWindow(sheet)) ::PostMessageW(sheet, WM_CLOSE, 0, 0);
    });
    const int result = open();
    returned = true;
    user.join();
    return result;
}

// The language the dialogs follow, as the user's environment names it.
struct Language {
    const char* locale;
    const wchar_t* title;
    const wchar_t* globalGain;
    const wchar_t* analogTab;
    const wchar_t* brightness;
    const wchar_t* skip;
};
const Language kEnglish{"en_US.UTF-8", L"Property", L"&Global Gain", L"Analog Gain",
                        L"&Brightness", L"1/2 Skip"};
const Language kJapanese{"ja_JP.UTF-8", L"プロパティ", L"グローバルゲイン(&G)", L"アナログゲイン",
                         L"明るさ(&B)", L"1/2 間引き"};

class Win32SettingsDialog : public ::testing::TestWithParam<Language> {
protected:
    void SetUp() override {
        ::_putenv((std::string("LC_ALL=") + GetParam().locale).c_str());
        LumoraSim_SetFastMode(1);
        ASSERT_EQ(LumoraSim_SetCameraCount(1), 1);
        handle_ = Lumora_Initialize(nullptr);
        ASSERT_NE(handle_, 0);
        owner_ = ::CreateWindowExW(0, L"STATIC", L"Lumora dialog owner", WS_OVERLAPPEDWINDOW, 10,
                                   10, 200, 100, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(owner_, nullptr);
    }
    void TearDown() override {
        if (owner_ != nullptr) ::DestroyWindow(owner_);
        if (handle_ != 0) Lumora_Release(handle_);
        ::_putenv("LC_ALL=");
    }

    int handle_ = 0;
    HWND owner_ = nullptr;
};

TEST_P(Win32SettingsDialog, AnalogDialogSendsTypedGainAndMirrorOnOkAndTakesThemBackOnCancel) {
    // A gain with room above it: the session starts from the one it stored last, and the case
    // itself leaves a higher one behind.
    ASSERT_EQ(Lumora_SetGlobalGain(handle_, 200), 1);
    const int gain = Lumora_GetGlobalGain(handle_, nullptr);
    const int mirror = Lumora_GetMirrorV(handle_);
    std::wstring title;
    std::wstring caption;
    std::wstring tab;
    HWND owner = nullptr;
    const int accepted = WithUser([&] { return Lumora_SetAnalogDlg(handle_, owner_); },
                                  [&](const User& user) {
                                      title = TextOf(user.Sheet());
                                      caption = TextOf(user.Control(
                                          0, LUMORA_CAPTION_ID + IDC_GLOBAL_GAIN));
                                      tab = user.Tab(0);
                                      owner = ::GetWindow(user.Sheet(), GW_OWNER);
                                      user.Type(0, IDC_GLOBAL_GAIN_EDIT,
                                                std::to_wstring(gain + 37));
                                      user.Click(0, IDC_MIRROR_V);
                                      user.Press(IDOK);
                                  });
    EXPECT_EQ(accepted, 1);
    EXPECT_EQ(title, GetParam().title);
    EXPECT_EQ(caption, GetParam().globalGain);
    EXPECT_EQ(tab, GetParam().analogTab);
    EXPECT_EQ(owner, owner_);
    EXPECT_EQ(Lumora_GetGlobalGain(handle_, nullptr), gain + 37);
    EXPECT_EQ(Lumora_GetMirrorV(handle_), mirror != 0 ? 0 : 1);

    int during = -1;
    const int cancelled = WithUser([&] { return Lumora_SetAnalogDlg(handle_, owner_); },
                                   [&](const User& user) {
                                       user.Type(0, IDC_GLOBAL_GAIN_EDIT,
                                                 std::to_wstring(gain + 80));
                                       user.Click(0, IDC_MIRROR_V);
                                       during = Lumora_GetGlobalGain(handle_, nullptr);
                                       user.Press(IDCANCEL);
                                   });
    EXPECT_EQ(cancelled, 1);
    EXPECT_EQ(during, gain + 80);  // live while the dialog is open
    EXPECT_EQ(Lumora_GetGlobalGain(handle_, nullptr), gain + 37);
    EXPECT_EQ(Lumora_GetMirrorV(handle_), mirror != 0 ? 0 : 1);
}

TEST_P(Win32SettingsDialog, ImageDialogKeepsFiltersOfBothPagesOnOkAndClosingItPutsThemBack) {
    ASSERT_EQ(Lumora_SetColorMode(handle_, 8), 1);  // monochrome: the gray page is there
    ASSERT_EQ(Lumora_SetFilterValue(handle_, kFilterBrightness, 0), 1);
    std::wstring caption;
    RECT channel{};
    RECT thumb{};
    const int accepted = WithUser([&] { return Lumora_SetImageDlg(handle_, owner_); },
                                  [&](const User& user) {
                                      caption = TextOf(user.Control(
                                          0, LUMORA_CAPTION_ID + IDC_BRIGHTNESS));
                                      HWND brightness = user.Control(0, IDC_BRIGHTNESS);
                                      ::SendMessageW(brightness, TBM_GETCHANNELRECT, 0,
                                                     reinterpret_cast<LPARAM>(&channel));
                                      ::SendMessageW(brightness, TBM_GETTHUMBRECT, 0,
                                                     reinterpret_cast<LPARAM>(&thumb));
                                      user.Type(0, IDC_BRIGHTNESS_EDIT, L"40");
                                      user.Click(1, IDC_GRAY_MODE_GRAYSCALE);
                                      user.Press(IDOK);
                                  });
    EXPECT_EQ(accepted, 1);
    EXPECT_EQ(caption, GetParam().brightness);
    // Brightness 0 of -255..255 is drawn in the middle of its channel, not where 0 of the
    // trackbar's initial range would be.
    const int middle = (channel.left + channel.right) / 2;
    EXPECT_NEAR((thumb.left + thumb.right) / 2, middle, (channel.right - channel.left) / 8);
    EXPECT_EQ(Lumora_GetFilterValue(handle_, kFilterBrightness, nullptr), 40);
    EXPECT_EQ(Lumora_GetFilterValue(handle_, kFilterGrayMode, nullptr), 2);

    const int contrast = Lumora_GetFilterValue(handle_, kFilterContrast, nullptr);
    int during = 0;
    const int closed = WithUser([&] { return Lumora_SetImageDlg(handle_, owner_); },
                                [&](const User& user) {
                                    user.Type(0, IDC_CONTRAST_EDIT, L"-20");
                                    user.Type(0, IDC_BRIGHTNESS_EDIT, L"-7");
                                    user.Click(1, IDC_GRAY_MODE_BAYER);
                                    during = Lumora_GetFilterValue(handle_, kFilterContrast, nullptr);
                                    // Left open: the window is closed, as with its close box.
                                });
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(during, -20);
    EXPECT_EQ(Lumora_GetFilterValue(handle_, kFilterContrast, nullptr), contrast);
    EXPECT_EQ(Lumora_GetFilterValue(handle_, kFilterBrightness, nullptr), 40);
    EXPECT_EQ(Lumora_GetFilterValue(handle_, kFilterGrayMode, nullptr), 2);
}

TEST_P(Win32SettingsDialog, CameraDialogTakesAnEditedWindowOnOkOnlyAndEnablesApplyOnAChange) {
    int applyBefore = -1;
    int applyAfter = -1;
    std::wstring skip;
    const int accepted = WithUser([&] { return Lumora_SetCameraDlg(handle_, owner_); },
                                  [&](const User& user) {
                                      HWND apply = ::GetDlgItem(user.Sheet(), IDC_APPLY);
                                      applyBefore = ::IsWindowEnabled(apply);
                                      skip = user.ComboItem(0, IDC_SUB_SAMPLE, 1);
                                      user.Type(0, IDC_H_EFFECTIVE, L"1280");
                                      applyAfter = ::IsWindowEnabled(apply);
                                      user.Press(IDOK);
                                  });
    EXPECT_EQ(accepted, 1);
    EXPECT_EQ(applyBefore, 0);
    EXPECT_NE(applyAfter, 0);
    EXPECT_EQ(skip, GetParam().skip);
    int width = 0;
    ASSERT_EQ(Lumora_GetCaptureWindowEx(handle_, nullptr, nullptr, &width, nullptr, nullptr,
                                        nullptr),
              1);
    EXPECT_EQ(width, 1280);

    const int cancelled = WithUser([&] { return Lumora_SetCameraDlg(handle_, owner_); },
                                   [&](const User& user) {
                                       user.Type(0, IDC_H_EFFECTIVE, L"640");
                                       user.Press(IDCANCEL);
                                   });
    EXPECT_EQ(cancelled, 1);
    ASSERT_EQ(Lumora_GetCaptureWindowEx(handle_, nullptr, nullptr, &width, nullptr, nullptr,
                                        nullptr),
              1);
    EXPECT_EQ(width, 1280);
}

INSTANTIATE_TEST_SUITE_P(Languages, Win32SettingsDialog, ::testing::Values(kEnglish, kJapanese),
                         [](const ::testing::TestParamInfo<Language>& language) {
                             return language.index == 0 ? "English" : "Japanese";
                         });

}  // namespace
}  // namespace lumora

#endif  // _WIN32
