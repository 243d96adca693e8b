// The GTK 3 view of the settings dialogs: it builds widgets from a dialog model, names each
// after its control id, forwards every user action to the model and shows the model's state
// again. It holds no rule of its own. Built as a module of its own, so the library needs GTK
// only when a dialog is shown.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ui/DialogModel.h"
#include "ui/ViewModule.h"

namespace lumora::ui {
namespace {

// The thread that initialised GTK through this module; GTK serves that thread only.
std::thread::id gGtkThread;
bool gInitialisedHere = false;

// "&Brightness" -> "_Brightness"; a literal '_' is doubled.
std::string Mnemonic(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '_') {
            out += "__";
        } else if (text[i] == '&' && i + 1 < text.size() && text[i + 1] != '&') {
            out += '_';
        } else if (text[i] == '&') {
            out += '&';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string Name(int id) {
    return std::to_string(id);
}

struct Bound {
    const Control* control = nullptr;  // refreshed after each action
    int id = 0;
    int page = 0;
    ControlKind kind = ControlKind::kLabel;
    GtkWidget* label = nullptr;   // the caption beside it
    GtkWidget* widget = nullptr;  // scale, combo, entry, check, radio, button, label
    GtkWidget* spin = nullptr;    // a slider's edit with its up-down
    std::vector<std::string> items;
};

class View {
public:
    explicit View(DialogModel& model) : model_(model) {}
    ~View() {
        if (timer_ != 0) g_source_remove(timer_);
        if (window_ != nullptr) gtk_widget_destroy(window_);
        if (loop_ != nullptr) g_main_loop_unref(loop_);
    }

    void Build(unsigned long ownerXid);
    void Run() {
        loop_ = g_main_loop_new(nullptr, FALSE);
        timer_ = g_timeout_add(150, &View::OnPoll, this);
        gtk_widget_show(window_);
        Refresh();
        if (model_.Outcome() == DialogOutcome::kOpen) g_main_loop_run(loop_);
    }

private:
    std::string Tr(const std::string& text) const { return model_.Translate(text); }
    GtkWidget* Caption(const Control& c, GtkWidget* target);
    void AddControl(const Control& c, GtkWidget* grid, int& row);
    GtkWidget* GridFor(const Control& c, std::vector<GtkWidget*>& pageGrids,
                       std::vector<int>& rows);
    void Connect(Bound& b);
    void Refresh();
    void AfterAction() {
        Refresh();
        if (model_.Outcome() != DialogOutcome::kOpen && loop_ != nullptr) g_main_loop_quit(loop_);
    }
    Bound* Find(GtkWidget* w) {
        for (auto& b : bound_) {
            if (b->widget == w || b->spin == w) return b.get();
        }
        return nullptr;
    }

    static gboolean OnPoll(gpointer self) {
        View* v = static_cast<View*>(self);
        if (v->model_.Poll()) v->Refresh();
        return G_SOURCE_CONTINUE;
    }
    static void OnScale(GtkRange* range, gpointer self);
    static void OnSpin(GtkSpinButton* spin, gpointer self);
    static void OnCombo(GtkComboBox* combo, gpointer self);
    static void OnEntryChanged(GtkEditable* entry, gpointer self);
    static void OnEntryCommit(GtkEntry* entry, gpointer self);
    static gboolean OnEntryFocusOut(GtkWidget* entry, GdkEvent*, gpointer self);
    static void OnToggle(GtkToggleButton* button, gpointer self);
    static void OnButton(GtkButton* button, gpointer self);
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer self);

    DialogModel& model_;
    GtkWidget* window_ = nullptr;
    GMainLoop* loop_ = nullptr;
    guint timer_ = 0;
    bool updating_ = false;
    std::vector<std::unique_ptr<Bound>> bound_;
    std::vector<std::unique_ptr<Bound>> buttons_;
    std::map<std::pair<int, int>, GtkWidget*> frames_;  // (page, group id) -> inner grid
    std::map<std::pair<int, int>, GSList*> radioGroups_;
};

GtkWidget* View::Caption(const Control& c, GtkWidget* target) {
    if (c.caption.empty()) return nullptr;
    GtkWidget* label = gtk_label_new_with_mnemonic(Mnemonic(Tr(c.caption)).c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    if (target != nullptr) gtk_label_set_mnemonic_widget(GTK_LABEL(label), target);
    return label;
}

void View::AddControl(const Control& c, GtkWidget* grid, int& row) {
    auto b = std::make_unique<Bound>();
    b->control = &c;
    b->id = c.id;
    b->page = c.page;
    b->kind = c.kind;
    GtkGrid* g = GTK_GRID(grid);
    switch (c.kind) {
        case ControlKind::kSlider: {
            GtkAdjustment* adj = gtk_adjustment_new(c.value, c.min, c.max, 1, c.pageStep, 0);
            b->widget = gtk_scale_new(GTK_ORIENTATION_HORIZONTAL, adj);
            gtk_scale_set_draw_value(GTK_SCALE(b->widget), FALSE);
            gtk_widget_set_hexpand(b->widget, TRUE);
            gtk_widget_set_size_request(b->widget, 220, -1);
            GtkAdjustment* spinAdj = gtk_adjustment_new(c.value, c.min, c.max, 1, c.pageStep, 0);
            b->spin = gtk_spin_button_new(spinAdj, 1, 0);
            gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(b->spin), TRUE);
            gtk_widget_set_name(b->spin, Name(c.editId).c_str());
            b->label = Caption(c, b->widget);
            if (b->label != nullptr) gtk_grid_attach(g, b->label, 0, row, 1, 1);
            gtk_grid_attach(g, b->widget, 1, row, 1, 1);
            gtk_grid_attach(g, b->spin, 2, row, 1, 1);
            break;
        }
        case ControlKind::kCombo:
            b->widget = gtk_combo_box_text_new();
            b->label = Caption(c, b->widget);
            if (b->label != nullptr) gtk_grid_attach(g, b->label, 0, row, 1, 1);
            gtk_grid_attach(g, b->widget, 1, row, 2, 1);
            break;
        case ControlKind::kEdit:
            b->widget = gtk_entry_new();
            gtk_entry_set_width_chars(GTK_ENTRY(b->widget), 10);
            b->label = Caption(c, b->widget);
            if (b->label != nullptr) gtk_grid_attach(g, b->label, 0, row, 1, 1);
            gtk_grid_attach(g, b->widget, 1, row, 2, 1);
            break;
        case ControlKind::kCheck:
            b->widget = gtk_check_button_new_with_mnemonic(Mnemonic(Tr(c.caption)).c_str());
            gtk_grid_attach(g, b->widget, 0, row, 3, 1);
            break;
        case ControlKind::kRadio: {
            GSList*& group = radioGroups_[{c.page, c.group}];
            b->widget = gtk_radio_button_new_with_mnemonic(group, Mnemonic(Tr(c.caption)).c_str());
            group = gtk_radio_button_get_group(GTK_RADIO_BUTTON(b->widget));
            gtk_grid_attach(g, b->widget, 0, row, 3, 1);
            break;
        }
        case ControlKind::kButton:
            b->widget = gtk_button_new_with_mnemonic(Mnemonic(Tr(c.caption)).c_str());
            gtk_widget_set_halign(b->widget, GTK_ALIGN_START);
            gtk_grid_attach(g, b->widget, 0, row, 3, 1);
            break;
        case ControlKind::kLabel:
            b->widget = gtk_label_new(Tr(c.text).c_str());
            gtk_label_set_xalign(GTK_LABEL(b->widget), 0.0f);
            gtk_label_set_line_wrap(GTK_LABEL(b->widget), TRUE);
            gtk_grid_attach(g, b->widget, c.caption.empty() ? 0 : 1, row, 3, 1);
            break;
        case ControlKind::kGroup:
            return;
    }
    gtk_widget_set_name(b->widget, Name(c.id).c_str());
    ++row;
    Connect(*b);
    bound_.push_back(std::move(b));
}

void View::Connect(Bound& b) {
    switch (b.kind) {
        case ControlKind::kSlider:
            g_signal_connect(b.widget, "value-changed", G_CALLBACK(&View::OnScale), this);
            g_signal_connect(b.spin, "value-changed", G_CALLBACK(&View::OnSpin), this);
            break;
        case ControlKind::kCombo:
            g_signal_connect(b.widget, "changed", G_CALLBACK(&View::OnCombo), this);
            break;
        case ControlKind::kEdit:
            if (b.control->commitOnEnter) {
                g_signal_connect(b.widget, "activate", G_CALLBACK(&View::OnEntryCommit), this);
                g_signal_connect(b.widget, "focus-out-event", G_CALLBACK(&View::OnEntryFocusOut),
                                 this);
            } else {
                g_signal_connect(b.widget, "changed", G_CALLBACK(&View::OnEntryChanged), this);
            }
            break;
        case ControlKind::kCheck:
        case ControlKind::kRadio:
            g_signal_connect(b.widget, "toggled", G_CALLBACK(&View::OnToggle), this);
            break;
        case ControlKind::kButton:
            g_signal_connect(b.widget, "clicked", G_CALLBACK(&View::OnButton), this);
            break;
        default:
            break;
    }
}

GtkWidget* View::GridFor(const Control& c, std::vector<GtkWidget*>& pageGrids,
                         std::vector<int>& rows) {
    GtkWidget* pageGrid = pageGrids[static_cast<size_t>(c.page)];
    if (c.frame == 0) return pageGrid;
    auto it = frames_.find({c.page, c.frame});
    if (it != frames_.end()) return it->second;
    // The frame goes where its first member would have gone.
    std::string caption;
    for (const Control& other : model_.Controls()) {
        if (other.kind == ControlKind::kGroup && other.id == c.frame && other.page == c.page)
            caption = Tr(other.caption);
    }
    GtkWidget* frame = gtk_frame_new(caption.c_str());
    gtk_widget_set_name(frame, Name(c.frame).c_str());
    GtkWidget* inner = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(inner), 4);
    gtk_grid_set_column_spacing(GTK_GRID(inner), 8);
    gtk_container_set_border_width(GTK_CONTAINER(inner), 6);
    gtk_container_add(GTK_CONTAINER(frame), inner);
    gtk_grid_attach(GTK_GRID(pageGrid), frame, 0, rows[static_cast<size_t>(c.page)]++, 3, 1);
    frames_[{c.page, c.frame}] = inner;
    return inner;
}

void View::Build(unsigned long ownerXid) {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window_), Tr(model_.Title()).c_str());
    gtk_window_set_modal(GTK_WINDOW(window_), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
    gtk_widget_set_name(window_, "lumora-dialog");
    g_signal_connect(window_, "delete-event", G_CALLBACK(&View::OnDelete), this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(&View::OnKey), this);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_container_set_border_width(GTK_CONTAINER(box), 10);
    gtk_container_add(GTK_CONTAINER(window_), box);
    GtkWidget* notebook = gtk_notebook_new();
    gtk_widget_set_name(notebook, Name(kIdTab).c_str());
    gtk_box_pack_start(GTK_BOX(box), notebook, TRUE, TRUE, 0);

    std::vector<GtkWidget*> grids;
    std::vector<int> rows;
    for (const std::string& page : model_.Pages()) {
        GtkWidget* grid = gtk_grid_new();
        gtk_grid_set_row_spacing(GTK_GRID(grid), 4);
        gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
        gtk_container_set_border_width(GTK_CONTAINER(grid), 10);
        gtk_notebook_append_page(GTK_NOTEBOOK(notebook), grid, gtk_label_new(Tr(page).c_str()));
        grids.push_back(grid);
        rows.push_back(0);
    }
    for (const Control& c : model_.Controls()) {
        if (c.kind == ControlKind::kGroup) continue;
        if (c.page < 0 || c.page >= static_cast<int>(grids.size())) continue;
        GtkWidget* grid = GridFor(c, grids, rows);
        if (grid == grids[static_cast<size_t>(c.page)]) {
            AddControl(c, grid, rows[static_cast<size_t>(c.page)]);
        } else {
            // Rows inside a frame are counted by the frame's own grid.
            int inner = 0;
            for (GList* l = gtk_container_get_children(GTK_CONTAINER(grid)); l != nullptr;
                 l = l->next) {
                int top = 0;
                gtk_container_child_get(GTK_CONTAINER(grid), GTK_WIDGET(l->data), "top-attach",
                                        &top, nullptr);
                inner = std::max(inner, top + 1);
            }
            AddControl(c, grid, inner);
        }
    }

    GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
    gtk_box_set_spacing(GTK_BOX(buttons), 6);
    gtk_box_pack_end(GTK_BOX(box), buttons, FALSE, FALSE, 0);
    for (const Control& c : model_.Buttons()) {
        auto b = std::make_unique<Bound>();
        b->id = c.id;
        b->kind = ControlKind::kButton;
        b->widget = gtk_button_new_with_mnemonic(Mnemonic(Tr(c.caption)).c_str());
        gtk_widget_set_name(b->widget, Name(c.id).c_str());
        gtk_container_add(GTK_CONTAINER(buttons), b->widget);
        g_signal_connect(b->widget, "clicked", G_CALLBACK(&View::OnButton), this);
        if (c.id == kIdOk) {
            gtk_widget_set_can_default(b->widget, TRUE);
            gtk_window_set_default(GTK_WINDOW(window_), b->widget);
        }
        buttons_.push_back(std::move(b));
    }
    gtk_widget_show_all(box);

    if (ownerXid != 0) {
        GdkDisplay* display = gdk_display_get_default();
        if (GDK_IS_X11_DISPLAY(display)) {
            gtk_widget_realize(window_);
            GdkWindow* owner = gdk_x11_window_foreign_new_for_display(display, ownerXid);
            if (owner != nullptr) {
                gdk_window_set_transient_for(gtk_widget_get_window(window_), owner);
                gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER_ON_PARENT);
                g_object_unref(owner);
            }
        }
    }
}

void View::Refresh() {
    updating_ = true;
    const std::vector<Control>& controls = model_.Controls();
    for (auto& b : bound_) {
        const Control* c = nullptr;
        for (const Control& candidate : controls) {
            if (candidate.id == b->id && candidate.page == b->page) c = &candidate;
        }
        if (c == nullptr) continue;
        b->control = c;
        for (GtkWidget* w : {b->label, b->widget, b->spin}) {
            if (w == nullptr) continue;
            gtk_widget_set_sensitive(w, c->enabled);
            gtk_widget_set_visible(w, c->visible);
        }
        switch (b->kind) {
            case ControlKind::kSlider:
                if (std::lround(gtk_range_get_value(GTK_RANGE(b->widget))) != c->value)
                    gtk_range_set_value(GTK_RANGE(b->widget), c->value);
                if (gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(b->spin)) != c->value)
                    gtk_spin_button_set_value(GTK_SPIN_BUTTON(b->spin), c->value);
                break;
            case ControlKind::kCombo:
                if (b->items != c->items) {
                    gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(b->widget));
                    for (const std::string& item : c->items)
                        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(b->widget),
                                                       Tr(item).c_str());
                    b->items = c->items;
                }
                if (gtk_combo_box_get_active(GTK_COMBO_BOX(b->widget)) != c->value)
                    gtk_combo_box_set_active(GTK_COMBO_BOX(b->widget), c->value);
                break;
            case ControlKind::kEdit:
                if (c->text != gtk_entry_get_text(GTK_ENTRY(b->widget)))
                    gtk_entry_set_text(GTK_ENTRY(b->widget), c->text.c_str());
                break;
            case ControlKind::kCheck:
            case ControlKind::kRadio:
                if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(b->widget)) != (c->value != 0))
                    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(b->widget), c->value != 0);
                break;
            case ControlKind::kLabel:
                gtk_label_set_text(GTK_LABEL(b->widget), Tr(c->text).c_str());
                break;
            default:
                break;
        }
    }
    const std::vector<Control> buttons = model_.Buttons();
    for (auto& b : buttons_) {
        for (const Control& c : buttons) {
            if (c.id == b->id) gtk_widget_set_sensitive(b->widget, c.enabled);
        }
    }
    updating_ = false;
}

void View::OnScale(GtkRange* range, gpointer self) {
    View* v = static_cast<View*>(self);
    Bound* b = v->Find(GTK_WIDGET(range));
    if (v->updating_ || b == nullptr) return;
    v->model_.Scroll(b->id, static_cast<int>(std::lround(gtk_range_get_value(range))), b->page);
    v->AfterAction();
}

void View::OnSpin(GtkSpinButton* spin, gpointer self) {
    View* v = static_cast<View*>(self);
    Bound* b = v->Find(GTK_WIDGET(spin));
    if (v->updating_ || b == nullptr) return;
    v->model_.EditText(b->control->editId, std::to_string(gtk_spin_button_get_value_as_int(spin)),
                       b->page);
    v->AfterAction();
}

void View::OnCombo(GtkComboBox* combo, gpointer self) {
    View* v = static_cast<View*>(self);
    Bound* b = v->Find(GTK_WIDGET(combo));
    if (v->updating_ || b == nullptr) return;
    v->model_.Select(b->id, gtk_combo_box_get_active(combo), b->page);
    v->AfterAction();
}

void View::OnEntryChanged(GtkEditable* entry, gpointer self) {
    View* v = static_cast<View*>(self);
    Bound* b = v->Find(GTK_WIDGET(entry));
    if (v->updating_ || b == nullptr) return;
    v->model_.EditText(b->id, gtk_entry_get_text(GTK_ENTRY(entry)), b->page);
    v->AfterAction();
}

void View::OnEntryCommit(GtkEntry* entry, gpointer self) {
    OnEntryChanged(GTK_EDITABLE(entry), self);
}

gboolean View::OnEntryFocusOut(GtkWidget* entry, GdkEvent*, gpointer self) {
    OnEntryChanged(GTK_EDITABLE(entry), self);
    return FALSE;
}

void View::OnToggle(GtkToggleButton* button, gpointer self) {
    View* v = static_cast<View*>(self);
    Bound* b = v->Find(GTK_WIDGET(button));
    if (v->updating_ || b == nullptr) return;
    const bool on = gtk_toggle_button_get_active(button) != FALSE;
    if (b->kind == ControlKind::kRadio && !on) return;  // the newly chosen one reports
    v->model_.Toggle(b->id, on, b->page);
    v->AfterAction();
}

void View::OnButton(GtkButton* button, gpointer self) {
    View* v = static_cast<View*>(self);
    if (v->updating_) return;
    for (auto& b : v->buttons_) {
        if (b->widget == GTK_WIDGET(button)) {
            v->model_.Press(b->id);
            v->AfterAction();
            return;
        }
    }
    if (Bound* b = v->Find(GTK_WIDGET(button))) {
        v->model_.Press(b->id, b->page);
        v->AfterAction();
    }
}

gboolean View::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
    View* v = static_cast<View*>(self);
    v->model_.Close();
    v->AfterAction();
    return TRUE;  // the view destroys its window itself
}

gboolean View::OnKey(GtkWidget*, GdkEventKey* event, gpointer self) {
    if (event->keyval != GDK_KEY_Escape) return FALSE;
    return OnDelete(nullptr, nullptr, self);
}

void SetReason(char* reason, int size, const char* text) {
    if (reason != nullptr && size > 0) std::snprintf(reason, static_cast<size_t>(size), "%s", text);
}

}  // namespace
}  // namespace lumora::ui

extern "C" __attribute__((visibility("default"))) int LumoraView_RunDialog(
    lumora::ui::DialogModel* model, unsigned long ownerXid, char* reason, int reasonSize) {
    using namespace lumora::ui;
    if (model == nullptr) return kLumoraViewNoDisplay;
    if (gInitialisedHere && std::this_thread::get_id() != gGtkThread) {
        SetReason(reason, reasonSize, "GTK was started on another thread");
        return kLumoraViewWrongThread;
    }
    if (!gInitialisedHere && gdk_display_get_default() == nullptr) {
        // The application's locale stays as the application set it.
        gtk_disable_setlocale();
        if (!gtk_init_check(nullptr, nullptr)) {
            SetReason(reason, reasonSize, "GTK could not open the display");
            return kLumoraViewNoDisplay;
        }
        gInitialisedHere = true;
        gGtkThread = std::this_thread::get_id();
    }
    // In a GTK application the thread running its main loop owns the default context.
    if (!g_main_context_acquire(nullptr)) {
        SetReason(reason, reasonSize, "the GTK main loop runs on another thread");
        return kLumoraViewWrongThread;
    }
    {
        View view(*model);
        view.Build(ownerXid);
        view.Run();
    }
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    g_main_context_release(nullptr);
    return kLumoraViewClosed;
}
