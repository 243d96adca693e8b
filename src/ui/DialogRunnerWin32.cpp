// The Windows view of the settings dialogs: a modal dialog from the templates in the module's
// own resources, in English or Japanese, with the model's pages as child dialogs inside its tab
// control. Like the GTK view it holds no rule of its own: it fills the controls from the model,
// forwards every user action to it and shows the model's state again.
#include "platform/Win32Api.h"

#include <commctrl.h>

#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ui/AnalogDialogModel.h"
#include "ui/CameraDialogModel.h"
#include "ui/DialogRunner.h"
#include "ui/DialogText.h"
#include "ui/ImageDialogModel.h"
#include "ui/win32/DialogResources.h"

namespace lumora::ui {
namespace {

// The templates carry the models' control ids.
static_assert(kIdOk == IDOK && kIdCancel == IDCANCEL && kIdDefault == IDC_DEFAULT);
static_assert(kIdApply == IDC_APPLY && kIdTab == IDC_TAB);
static_assert(kIdColorMode == IDC_COLOR_MODE && kIdSize == IDC_CAPTURE_SIZE &&
              kIdSubSample == IDC_SUB_SAMPLE && kIdClock == IDC_CLOCK);
static_assert(kIdHTotal == IDC_H_TOTAL && kIdVTotal == IDC_V_TOTAL &&
              kIdHEffective == IDC_H_EFFECTIVE && kIdVEffective == IDC_V_EFFECTIVE &&
              kIdHStart == IDC_H_START && kIdVStart == IDC_V_START &&
              kIdWaitTime == IDC_WAIT_TIME);
static_assert(kIdOnce == IDC_ONCE && kIdAllFrames == IDC_ALL_FRAMES &&
              kIdBayerMode0 == IDC_BAYER_MODE_0 && kIdGrayModeBayer == IDC_GRAY_MODE_BAYER &&
              kIdGrayModeConvert == IDC_GRAY_MODE_CONVERT &&
              kIdGrayModeGrayscale == IDC_GRAY_MODE_GRAYSCALE);
static_assert(kIdGlobalGain == IDC_GLOBAL_GAIN && kIdGainG1 == IDC_GAIN_G1 &&
              kIdGainR == IDC_GAIN_R && kIdGainB == IDC_GAIN_B && kIdGainG2 == IDC_GAIN_G2);
static_assert(kIdExposure == IDC_EXPOSURE && kIdExposureEdit == IDC_EXPOSURE_EDIT &&
              kIdExposureLabel == IDC_EXPOSURE_LABEL && kIdExposureEx == IDC_EXPOSURE_EX &&
              kIdExposureUnit == IDC_EXPOSURE_UNIT && kIdExposureRange == IDC_EXPOSURE_RANGE);
static_assert(kIdAutoIrisGain == IDC_AUTO_IRIS_GAIN &&
              kIdAutoIrisExposure == IDC_AUTO_IRIS_EXPOSURE && kIdMirrorV == IDC_MIRROR_V &&
              kIdMirrorH == IDC_MIRROR_H && kIdBlackLevel == IDC_BLACK_LEVEL &&
              kIdPeltier == IDC_PELTIER && kIdShortExposure == IDC_SHORT_EXPOSURE &&
              kIdGainMode == IDC_GAIN_MODE);

constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);  // 1041
const LPCWSTR kDialogType = MAKEINTRESOURCEW(5);                           // RT_DIALOG
const LPCWSTR kStringType = MAKEINTRESOURCEW(6);                           // RT_STRING
constexpr UINT_PTR kPollTimer = 1;
constexpr UINT kPollMs = 150;  // how often estimates made behind the dialog are shown
constexpr INT_PTR kClosed = 1;
constexpr INT_PTR kFailed = 2;

// The texts the view puts into controls, by their English source; the rest is shown as is.
struct Text {
    int id;
    const char* english;
};
constexpr Text kTexts[] = {
    {IDS_STREAM_FORMAT, "Stream Format"},
    {IDS_IMAGE_FILTER, "Image Filter"},
    {IDS_GRAY_FILTER, "Gray Filter"},
    {IDS_ANALOG_GAIN, "Analog Gain"},
    {IDS_MONOCHROME_8, "Monochrome 8bit"},
    {IDS_MONOCHROME_12, "Monochrome 12bit *"},
    {IDS_COLOR_24, "Color 24bit"},
    {IDS_COLOR_32, "Color 32bit"},
    {IDS_COLOR_48, "Color 48bit *"},
    {IDS_COLOR_64, "Color 64bit *"},
    {IDS_CUSTOM, "Custom"},
    {IDS_SUB_SAMPLE_1, "1/1"},
    {IDS_SUB_SAMPLE_2, "1/2 Skip"},
    {IDS_CLOCK_NORMAL, "Nomal(24MHz)"},
    {IDS_CLOCK_HALF, "Half(12MHz)"},
    {IDS_CLOCK_HIGH, "High(54MHz)"},
    {IDS_CLOCK_NOTE, "* In the WORD forwarding mode, please set the clock to the half."},
    {IDS_HIGH_GAIN, "High Gain"},
    {IDS_LOW_GAIN, "Low Gain"},
    {IDS_UNIT_SECONDS, "sec"},
};

std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The module this code is linked into (the DLL, or a program that links the library in): the
// templates are linked in beside it.
HMODULE OwnModule() {
    static const int kAnchor = 0;
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&kAnchor), &module);
    return module;
}

// As on Linux, the user's environment decides when it names a language (LC_ALL, then
// LC_MESSAGES, then LANG); where none is set, as on a plain Windows system, Japanese is shown
// when the system default language is Japanese.
LANGID DialogLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return UserLanguage() == "ja" ? kJapanese : kEnglish;
    }
    return ::GetSystemDefaultLangID() == kJapanese ? kJapanese : kEnglish;
}

// A dialog template in `language`, else the English one.
const DLGTEMPLATE* FindTemplate(HMODULE module, int id, LANGID language) {
    HRSRC found = ::FindResourceExW(module, kDialogType, MAKEINTRESOURCEW(id), language);
    if (found == nullptr) found = ::FindResourceExW(module, kDialogType, MAKEINTRESOURCEW(id), kEnglish);
    HGLOBAL loaded = found != nullptr ? ::LoadResource(module, found) : nullptr;
    return loaded != nullptr ? static_cast<const DLGTEMPLATE*>(::LockResource(loaded)) : nullptr;
}

// String `id` of the string table in `language`; empty when there is none. Strings are stored
// 16 a block, each a length followed by its UTF-16 units.
std::wstring LoadText(HMODULE module, int id, LANGID language) {
    HRSRC found = ::FindResourceExW(module, kStringType, MAKEINTRESOURCEW(id / 16 + 1), language);
    HGLOBAL loaded = found != nullptr ? ::LoadResource(module, found) : nullptr;
    if (loaded == nullptr) return {};
    const auto* unit = static_cast<const WCHAR*>(::LockResource(loaded));
    const WCHAR* end = unit + ::SizeofResource(module, found) / sizeof(WCHAR);
    for (int i = 0; i < id % 16 && unit < end; ++i) unit += 1 + *unit;
    if (unit >= end || unit + 1 + *unit > end) return {};
    return std::wstring(unit + 1, *unit);
}

// The top-level template and one page template per model page.
struct Layout {
    int sheet = 0;
    std::vector<int> pages;
};

bool LayoutFor(DialogModel& model, Layout& layout) {
    if (dynamic_cast<CameraDialogModel*>(&model) != nullptr) {
        layout = {IDD_CAMERA_SHEET, {IDD_PAGE_STREAM_FORMAT}};
    } else if (auto* image = dynamic_cast<ImageDialogModel*>(&model)) {
        layout = {IDD_IMAGE_SHEET, {IDD_PAGE_IMAGE_FILTER}};
        if (image->HasGrayPage()) layout.pages.push_back(IDD_PAGE_GRAY_FILTER);
    } else if (dynamic_cast<AnalogDialogModel*>(&model) != nullptr) {
        // The colour camera's template has the colour gains, the monochrome one the cooling
        // and black-level controls.
        const Control* colorGain = model.Find(kIdGainG1);
        const bool color = colorGain != nullptr && colorGain->visible;
        layout = {IDD_ANALOG_SHEET, {color ? IDD_PAGE_ANALOG_COLOR : IDD_PAGE_ANALOG_MONO}};
    } else {
        return false;
    }
    return layout.pages.size() == model.Pages().size();
}

class View {
public:
    View(DialogModel& model, HMODULE module, LANGID language, Layout layout)
        : model_(model), module_(module), language_(language), layout_(std::move(layout)) {}

    // True when the dialog ran until the user closed it; otherwise `why` says what failed.
    bool Run(HWND owner, std::string& why) {
        const DLGTEMPLATE* sheet = FindTemplate(module_, layout_.sheet, language_);
        if (sheet == nullptr) {
            why = "the dialog template is missing from the module";
            return false;
        }
        const INT_PTR result = ::DialogBoxIndirectParamW(module_, sheet, owner, &View::SheetProc,
                                                         reinterpret_cast<LPARAM>(this));
        if (result == kClosed) return true;
        why = !failure_.empty() ? failure_
                                : "the dialog could not be created (error " +
                                      std::to_string(::GetLastError()) + ")";
        return false;
    }

private:
    static INT_PTR CALLBACK SheetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    bool Build(HWND sheet);
    void ShowPage(int index);
    void Refresh();
    void RefreshControl(const Control& c);
    void OnCommand(int page, int id, int code);
    void OnScroll(int page, HWND control, int code);
    bool CommitFocusedEdit();
    void AfterAction() {
        Refresh();
        if (model_.Outcome() != DialogOutcome::kOpen) ::EndDialog(sheet_, kClosed);
    }
    bool Open() const { return model_.Outcome() == DialogOutcome::kOpen; }
    HWND Item(int page, int id) const {
        if (page < 0) return ::GetDlgItem(sheet_, id);
        if (page >= static_cast<int>(pages_.size())) return nullptr;
        return ::GetDlgItem(pages_[static_cast<size_t>(page)], id);
    }
    std::wstring Tr(const std::string& english) const {
        for (const Text& text : kTexts) {
            if (english != text.english) continue;
            std::wstring shown = LoadText(module_, text.id, language_);
            if (!shown.empty()) return shown;
        }
        return Wide(english);
    }

    DialogModel& model_;
    HMODULE module_;
    LANGID language_;
    Layout layout_;
    HWND sheet_ = nullptr;
    std::vector<HWND> pages_;
    bool updating_ = false;  // set while the view itself changes controls
    std::string failure_;
    std::map<std::pair<int, int>, std::vector<std::string>> shownItems_;  // (page, id) -> items
};

INT_PTR CALLBACK View::SheetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* view = reinterpret_cast<View*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        view->sheet_ = window;
        if (!view->Build(window)) {
            ::EndDialog(window, kFailed);
            return TRUE;
        }
        ::SetTimer(window, kPollTimer, kPollMs, nullptr);
        return TRUE;
    }
    auto* view = reinterpret_cast<View*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (view == nullptr) return FALSE;
    switch (message) {
        case WM_COMMAND:
            view->OnCommand(-1, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == IDC_TAB && header->code == TCN_SELCHANGE)
                view->ShowPage(static_cast<int>(::SendMessageW(header->hwndFrom, TCM_GETCURSEL, 0, 0)));
            return TRUE;
        }
        case WM_TIMER:
            if (wParam == kPollTimer && view->Open() && view->model_.Poll()) view->Refresh();
            return TRUE;
        case WM_CLOSE:
            if (view->Open()) {
                view->model_.Close();
                view->AfterAction();
            }
            return TRUE;
        case WM_DESTROY:
            ::KillTimer(window, kPollTimer);
            return FALSE;
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK View::PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        return FALSE;
    }
    auto* view = reinterpret_cast<View*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (view == nullptr) return FALSE;
    const int page = ::GetDlgCtrlID(window) - LUMORA_PAGE_ID;
    switch (message) {
        case WM_COMMAND:
            view->OnCommand(page, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_HSCROLL:
            if (lParam != 0) view->OnScroll(page, reinterpret_cast<HWND>(lParam), LOWORD(wParam));
            return TRUE;
        default:
            return FALSE;
    }
}

bool View::Build(HWND sheet) {
    HWND tab = ::GetDlgItem(sheet, IDC_TAB);
    if (tab == nullptr) {
        failure_ = "the dialog template has no tab control";
        return false;
    }
    const std::vector<std::string> names = model_.Pages();
    for (size_t i = 0; i < names.size(); ++i) {
        std::wstring caption = Tr(names[i]);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = caption.data();
        ::SendMessageW(tab, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    // The pages fill the tab control's display area.
    RECT area;
    ::GetWindowRect(tab, &area);
    ::MapWindowPoints(nullptr, sheet, reinterpret_cast<POINT*>(&area), 2);
    ::SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    for (size_t i = 0; i < layout_.pages.size(); ++i) {
        const DLGTEMPLATE* page = FindTemplate(module_, layout_.pages[i], language_);
        HWND window = page != nullptr ? ::CreateDialogIndirectParamW(module_, page, sheet,
                                                                     &View::PageProc,
                                                                     reinterpret_cast<LPARAM>(this))
                                      : nullptr;
        if (window == nullptr) {
            failure_ = "page " + std::to_string(layout_.pages[i]) + " could not be created";
            return false;
        }
        ::SetWindowLongPtrW(window, GWLP_ID, LUMORA_PAGE_ID + static_cast<LONG_PTR>(i));
        ::SetWindowPos(window, HWND_TOP, area.left, area.top, area.right - area.left,
                       area.bottom - area.top, SWP_NOACTIVATE);
        pages_.push_back(window);
    }
    // A control the model shows but the template lacks would silently be missing; such a
    // template is refused instead, and the dialog ends like Cancel. A trackbar may report the
    // position its new range clamps: that is not the user's move.
    updating_ = true;
    for (const Control& c : model_.Controls()) {
        if (!c.visible) continue;
        const bool slider = c.kind == ControlKind::kSlider;
        for (int id : {c.id, slider ? c.editId : c.id, slider ? c.spinId : c.id}) {
            if (Item(c.page, id) != nullptr) continue;
            failure_ = "template " + std::to_string(layout_.pages[static_cast<size_t>(c.page)]) +
                       " lacks control " + std::to_string(id);
            return false;
        }
        if (slider) {
            HWND trackbar = Item(c.page, c.id);
            ::SendMessageW(trackbar, TBM_SETRANGEMIN, FALSE, c.min);
            ::SendMessageW(trackbar, TBM_SETRANGEMAX, FALSE, c.max);
            ::SendMessageW(trackbar, TBM_SETPAGESIZE, 0, c.pageStep);
            // A new range moves the thumb, but some trackbars draw it anew only when the
            // position changes: it goes to the other end first, unseen.
            ::SendMessageW(trackbar, TBM_SETPOS, FALSE, c.value != c.min ? c.min : c.max);
            ::SendMessageW(trackbar, TBM_SETPOS, TRUE, c.value);
            ::SendMessageW(Item(c.page, c.spinId), UDM_SETRANGE32, static_cast<WPARAM>(c.min),
                           c.max);
        }
    }
    updating_ = false;
    Refresh();
    ShowPage(0);
    return true;
}

void View::ShowPage(int index) {
    for (size_t i = 0; i < pages_.size(); ++i)
        ::ShowWindow(pages_[i], static_cast<int>(i) == index ? SW_SHOW : SW_HIDE);
}

void View::Refresh() {
    updating_ = true;
    for (const Control& c : model_.Controls()) RefreshControl(c);
    for (const Control& button : model_.Buttons()) {
        HWND window = Item(-1, button.id);
        if (window != nullptr && (::IsWindowEnabled(window) != FALSE) != button.enabled)
            ::EnableWindow(window, button.enabled);
    }
    updating_ = false;
}

void View::RefreshControl(const Control& c) {
    HWND window = Item(c.page, c.id);
    if (window == nullptr) return;  // a control this camera's template leaves out
    const bool slider = c.kind == ControlKind::kSlider;
    const HWND parts[] = {window, Item(c.page, LUMORA_CAPTION_ID + c.id),
                          slider ? Item(c.page, c.editId) : nullptr,
                          slider ? Item(c.page, c.spinId) : nullptr};
    for (HWND part : parts) {
        if (part == nullptr) continue;
        const bool visible = (::GetWindowLongW(part, GWL_STYLE) & WS_VISIBLE) != 0;
        if (visible != c.visible) ::ShowWindow(part, c.visible ? SW_SHOWNA : SW_HIDE);
        if ((::IsWindowEnabled(part) != FALSE) != c.enabled) ::EnableWindow(part, c.enabled);
    }
    switch (c.kind) {
        case ControlKind::kSlider: {
            if (static_cast<int>(::SendMessageW(window, TBM_GETPOS, 0, 0)) != c.value)
                ::SendMessageW(window, TBM_SETPOS, TRUE, c.value);
            HWND spin = Item(c.page, c.spinId);
            if (static_cast<int>(::SendMessageW(spin, UDM_GETPOS32, 0, 0)) != c.value)
                ::SendMessageW(spin, UDM_SETPOS32, 0, c.value);
            HWND edit = Item(c.page, c.editId);
            const std::wstring text = Wide(c.text);
            if (WindowText(edit) != text) ::SetWindowTextW(edit, text.c_str());
            break;
        }
        case ControlKind::kCombo: {
            std::vector<std::string>& shown = shownItems_[{c.page, c.id}];
            if (shown != c.items) {
                ::SendMessageW(window, CB_RESETCONTENT, 0, 0);
                for (const std::string& item : c.items) {
                    const std::wstring text = Tr(item);
                    ::SendMessageW(window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
                }
                shown = c.items;
            }
            if (static_cast<int>(::SendMessageW(window, CB_GETCURSEL, 0, 0)) != c.value)
                ::SendMessageW(window, CB_SETCURSEL, static_cast<WPARAM>(c.value), 0);
            break;
        }
        case ControlKind::kEdit: {
            const std::wstring text = Wide(c.text);
            if (WindowText(window) != text) ::SetWindowTextW(window, text.c_str());
            break;
        }
        case ControlKind::kCheck:
        case ControlKind::kRadio: {
            const WPARAM state = c.value != 0 ? BST_CHECKED : BST_UNCHECKED;
            if (static_cast<WPARAM>(::SendMessageW(window, BM_GETCHECK, 0, 0)) != state)
                ::SendMessageW(window, BM_SETCHECK, state, 0);
            break;
        }
        case ControlKind::kLabel: {
            const std::wstring text = Tr(c.text);
            if (WindowText(window) != text) ::SetWindowTextW(window, text.c_str());
            break;
        }
        default:
            break;
    }
}

void View::OnCommand(int page, int id, int code) {
    // Notifications of the view's own changes, and those of a dialog already decided (an edit
    // losing the focus as the dialog goes), are not the user's.
    if (updating_ || !Open()) return;
    if (page < 0) {
        if (code != BN_CLICKED) return;
        if (id == IDOK && CommitFocusedEdit()) return;
        model_.Press(id);
        AfterAction();
        return;
    }
    const Control* c = model_.Find(id, page);
    HWND window = Item(page, id);
    if (c == nullptr || window == nullptr) return;
    switch (c->kind) {
        case ControlKind::kSlider:
            // The up-down writes its buddy edit, which reports here.
            if (id != c->editId || code != EN_CHANGE) return;
            model_.EditText(id, Utf8(WindowText(window)), page);
            break;
        case ControlKind::kEdit:
            if (code != (c->commitOnEnter ? EN_KILLFOCUS : EN_CHANGE)) return;
            model_.EditText(id, Utf8(WindowText(window)), page);
            break;
        case ControlKind::kCombo:
            if (code != CBN_SELCHANGE) return;
            model_.Select(id, static_cast<int>(::SendMessageW(window, CB_GETCURSEL, 0, 0)), page);
            break;
        case ControlKind::kCheck:
            if (code != BN_CLICKED) return;
            model_.Toggle(id, ::SendMessageW(window, BM_GETCHECK, 0, 0) == BST_CHECKED, page);
            break;
        case ControlKind::kRadio:
            // The newly chosen one reports; the one it unchecks does not.
            if (code != BN_CLICKED || ::SendMessageW(window, BM_GETCHECK, 0, 0) != BST_CHECKED)
                return;
            model_.Toggle(id, true, page);
            break;
        case ControlKind::kButton:
            if (code != BN_CLICKED) return;
            model_.Press(id, page);
            break;
        default:
            return;
    }
    AfterAction();
}

void View::OnScroll(int page, HWND control, int code) {
    if (updating_ || !Open() || code == TB_ENDTRACK) return;
    const int id = ::GetDlgCtrlID(control);
    const Control* c = model_.Find(id, page);
    if (c == nullptr || c->kind != ControlKind::kSlider || c->id != id) return;
    model_.Scroll(id, static_cast<int>(::SendMessageW(control, TBM_GETPOS, 0, 0)), page);
    AfterAction();
}

// Enter in an edit that takes its text on Enter commits it rather than closing the dialog.
bool View::CommitFocusedEdit() {
    HWND focus = ::GetFocus();
    for (size_t i = 0; i < pages_.size(); ++i) {
        if (focus == nullptr || ::GetParent(focus) != pages_[i]) continue;
        const int page = static_cast<int>(i);
        const Control* c = model_.Find(::GetDlgCtrlID(focus), page);
        if (c == nullptr || c->kind != ControlKind::kEdit || !c->commitOnEnter) return false;
        model_.EditText(c->id, Utf8(WindowText(focus)), page);
        AfterAction();
        return true;
    }
    return false;
}

}  // namespace

ShowResult ShowModal(DialogModel& model, HWND owner) {
    Layout layout;
    if (!LayoutFor(model, layout)) {
        ReportUnavailable("no dialog template fits this dialog");
        return ShowResult::kUnavailable;
    }
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES;
    ::InitCommonControlsEx(&classes);
    View view(model, OwnModule(), DialogLanguage(), std::move(layout));
    std::string why;
    if (!view.Run(owner, why)) {
        ReportUnavailable(why);
        return ShowResult::kUnavailable;
    }
    return ShowResult::kShown;
}

}  // namespace lumora::ui
