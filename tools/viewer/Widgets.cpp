#include "Widgets.h"

#include <string>

namespace lumora_viewer {

GtkWidget* NamedLabel(const char* name, const std::string& text) {
    GtkWidget* label = gtk_label_new(text.c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_selectable(GTK_LABEL(label), FALSE);
    return Named(label, name);
}

GtkWidget* Caption(const std::string& text) {
    GtkWidget* label = gtk_label_new(text.c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    return label;
}

GtkWidget* NamedButton(const char* name, const std::string& text) {
    return Named(gtk_button_new_with_label(text.c_str()), name);
}

GtkWidget* NamedCheck(const char* name, const std::string& text) {
    return Named(gtk_check_button_new_with_label(text.c_str()), name);
}

GtkWidget* NamedSpin(const char* name, double min, double max, double step, int digits) {
    GtkWidget* spin = gtk_spin_button_new_with_range(min, max, step);
    gtk_spin_button_set_digits(GTK_SPIN_BUTTON(spin), static_cast<guint>(digits));
    gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(spin), TRUE);
    return Named(spin, name);
}

GtkWidget* NamedScale(const char* name, double min, double max, double step, int digits) {
    GtkWidget* scale = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, min, max, step);
    gtk_scale_set_digits(GTK_SCALE(scale), digits);
    gtk_scale_set_value_pos(GTK_SCALE(scale), GTK_POS_RIGHT);
    gtk_widget_set_hexpand(scale, TRUE);
    return Named(scale, name);
}

GtkWidget* NamedCombo(const char* name, const std::vector<std::string>& items) {
    GtkWidget* combo = gtk_combo_box_text_new();
    for (const std::string& item : items)
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), item.c_str());
    return Named(combo, name);
}

GtkWidget* NamedEntry(const char* name, const std::string& text, int widthChars) {
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), text.c_str());
    gtk_entry_set_width_chars(GTK_ENTRY(entry), widthChars);
    return Named(entry, name);
}

GtkWidget* Framed(const std::string& caption, GtkWidget* child) {
    GtkWidget* frame = gtk_frame_new(caption.c_str());
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_set_border_width(GTK_CONTAINER(box), 6);
    gtk_box_pack_start(GTK_BOX(box), child, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(frame), box);
    return frame;
}

GtkWidget* Grid() {
    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 4);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
    return grid;
}

void SetText(GtkWidget* label, const std::string& text) {
    if (label == nullptr || text == gtk_label_get_text(GTK_LABEL(label))) return;
    gtk_label_set_text(GTK_LABEL(label), text.c_str());
}

void Connect(GtkWidget* widget, const char* signal, std::function<void()> handler) {
    auto* stored = new std::function<void()>(std::move(handler));
    g_signal_connect_data(
        widget, signal, G_CALLBACK(+[](GtkWidget*, gpointer data) {
            (*static_cast<std::function<void()>*>(data))();
        }),
        stored, +[](gpointer data, GClosure*) { delete static_cast<std::function<void()>*>(data); },
        static_cast<GConnectFlags>(0));
}

GtkWidget* FindNamed(GtkWidget* root, const std::string& name) {
    if (root == nullptr) return nullptr;
    if (name == gtk_widget_get_name(root)) return root;
    GtkWidget* found = nullptr;
    if (GTK_IS_MENU_ITEM(root)) {
        GtkWidget* submenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(root));
        if (submenu != nullptr) found = FindNamed(submenu, name);
        if (found != nullptr) return found;
    }
    if (!GTK_IS_CONTAINER(root)) return nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(root));
    for (GList* l = children; l != nullptr && found == nullptr; l = l->next)
        found = FindNamed(GTK_WIDGET(l->data), name);
    g_list_free(children);
    return found;
}

}  // namespace lumora_viewer
