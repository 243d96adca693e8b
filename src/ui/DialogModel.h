#pragma once
// The toolkit-free half of a settings dialog: its controls by id with their captions, ranges,
// values, enables and visibility, and the effect of every user action on the session and the
// driver. A view (the GTK module, or a test) only shows the controls and forwards actions.
//
// Threads: a model is used by the one thread that runs its dialog. Poll() may read settings the
// capture thread stores meanwhile; that goes through the session's settings lock.
//
// The view reaches the model across a module boundary, so everything it calls is virtual or
// inline.
#include <string>
#include <utility>
#include <vector>

namespace lumora::ui {

// Buttons every dialog shares.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdDefault = 3;
inline constexpr int kIdApply = 1002;
inline constexpr int kIdTab = 1001;

enum class ControlKind {
    kSlider,  // trackbar `id`, edit `editId` and up-down `spinId` showing one setting
    kCombo,
    kEdit,
    kCheck,
    kRadio,  // radios with the same `group` on a page are exclusive
    kButton,
    kLabel,
    kGroup,  // a frame around the controls that name it in `frame`
};

struct Control {
    Control() = default;
    Control(int id_, ControlKind kind_, int page_, std::string caption_)
        : id(id_), kind(kind_), page(page_), caption(std::move(caption_)) {}

    int id = 0;
    ControlKind kind = ControlKind::kLabel;
    int page = 0;
    std::string caption;  // English source text; '&' marks the mnemonic
    int editId = 0;
    int spinId = 0;
    int min = 0;
    int max = 0;
    int pageStep = 0;
    int value = 0;     // slider position, check or radio state, combo selection (-1 none)
    std::string text;  // edit content, label text
    std::vector<std::string> items;  // combo items as shown (translated by the view)
    int group = 0;
    int frame = 0;  // id of the kGroup control this one sits in, 0 for none
    bool enabled = true;
    bool visible = true;
    bool commitOnEnter = false;  // an edit whose text is taken on Enter or leaving it, not per key
};

enum class DialogOutcome { kOpen, kAccepted, kCancelled };

class DialogModel {
public:
    virtual ~DialogModel() = default;

    virtual std::string Title() const { return "Property"; }
    // Tab captions; page `i` holds the controls with page == i.
    virtual std::vector<std::string> Pages() const = 0;
    // The buttons under the pages, in order.
    virtual std::vector<Control> Buttons() const = 0;
    virtual const std::vector<Control>& Controls() const { return controls_; }
    // The view's texts in the user's language.
    virtual std::string Translate(const std::string& english) const = 0;

    // User actions. `page` picks the page when an id exists on several (-1: the first match).
    // A slider reports through any of its three ids; Scroll sets a position, EditText the edit's
    // content (for slider edits too), Select a combo item, Toggle a check or radio, Press a
    // button (OK, Cancel, Default, Apply and the dialog's own).
    virtual void Scroll(int id, int value, int page = -1) = 0;
    virtual void EditText(int id, const std::string& text, int page = -1) = 0;
    virtual void Select(int id, int index, int page = -1) = 0;
    virtual void Toggle(int id, bool on, int page = -1) = 0;
    virtual void Press(int id, int page = -1) = 0;
    // Re-reads what may change behind the dialog (automatic estimates); true when the controls
    // changed. The view calls it a few times a second.
    virtual bool Poll() { return false; }
    // Closing the window without a button counts as Cancel.
    virtual void Close() { Press(kIdCancel); }

    virtual DialogOutcome Outcome() const { return outcome_; }
    // Bumped on every change of the controls, so a view refreshes only when needed.
    virtual unsigned Revision() const { return revision_; }

    // For code inside the library and tests.
    const Control* Find(int id, int page = -1) const;

protected:
    Control* FindMutable(int id, int page = -1);
    Control& Add(Control control);
    void Changed() { ++revision_; }
    void Finish(bool accepted) {
        outcome_ = accepted ? DialogOutcome::kAccepted : DialogOutcome::kCancelled;
        Changed();
    }
    void SetEnabled(int id, bool on, int page = -1);
    void SetVisible(int id, bool on, int page = -1);
    void SetValue(int id, int value, int page = -1);
    void SetText(int id, const std::string& text, int page = -1);

    std::vector<Control> controls_;
    DialogOutcome outcome_ = DialogOutcome::kOpen;
    unsigned revision_ = 0;
};

// Whole number in `text` (spaces around allowed); false for anything else.
bool ParseInt(const std::string& text, int& value);
// Number in `text` in the C locale's notation; false for anything else or a non-finite value.
bool ParseDouble(const std::string& text, double& value);

}  // namespace lumora::ui
