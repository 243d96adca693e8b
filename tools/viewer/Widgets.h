// Small helpers for building the viewer's GTK widgets: every widget a user acts on or reads
// is named, so tests and accessibility tools find it, and signal handlers are plain lambdas.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

namespace lumora_viewer {

inline GtkWidget* Named(GtkWidget* widget, const char* name) {
    gtk_widget_set_name(widget, name);
    return widget;
}

GtkWidget* NamedLabel(const char* name, const std::string& text);
GtkWidget* Caption(const std::string& text);
GtkWidget* NamedButton(const char* name, const std::string& text);
GtkWidget* NamedCheck(const char* name, const std::string& text);
GtkWidget* NamedSpin(const char* name, double min, double max, double step, int digits);
GtkWidget* NamedScale(const char* name, double min, double max, double step, int digits);
GtkWidget* NamedCombo(const char* name, const std::vector<std::string>& items);
GtkWidget* NamedEntry(const char* name, const std::string& text, int widthChars);
GtkWidget* Framed(const std::string& caption, GtkWidget* child);
GtkWidget* Grid();

// Sets a label's text only when it changes: a new text makes GTK lay out the window again, which
// labels updated with every frame would otherwise cost every frame.
void SetText(GtkWidget* label, const std::string& text);

// Calls `handler` on `signal`, for signals whose handlers take only the widget (clicked,
// toggled, value-changed, changed, activate).
void Connect(GtkWidget* widget, const char* signal, std::function<void()> handler);

// The widget named `name` in the tree below `root` (inclusive), or null.
GtkWidget* FindNamed(GtkWidget* root, const std::string& name);

}  // namespace lumora_viewer
