// The GTK view on a display: each dialog opened through its export on a simulated camera and
// driven through its widgets, found by their control ids. Without Xvfb (or under TSan, whose
// reports would be about GTK's own threads) these tests skip.
#if defined(LUMORA_HAVE_GTK_VIEW)
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ui/AnalogDialogModel.h"
#include "ui/CameraDialogModel.h"
#include "ui/DialogFixture.h"
#include "ui/ImageDialogModel.h"
#include "platform/Sanitizers.h"
#include "PrivateXServer.h"

#if defined(LUMORA_UNDER_ASAN)
// GTK, GLib, fontconfig and friends keep caches for the life of the process.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libgtk-3\nleak:libgdk-3\nleak:libglib-2.0\nleak:libgobject-2.0\n"
           "leak:libfontconfig\nleak:libpango\nleak:libcairo\nleak:libharfbuzz\n"
           "leak:libgio-2.0\nleak:libX11\nleak:libatk\nleak:libgdk_pixbuf\nleak:libpangoft2\n";
}
#endif

namespace lumora::testing {
namespace {

PrivateXServer gXServer;

GtkWidget* FindNamed(GtkWidget* widget, const std::string& name) {
    if (widget == nullptr) return nullptr;
    if (name == gtk_widget_get_name(widget)) return widget;
    if (!GTK_IS_CONTAINER(widget)) return nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    GtkWidget* found = nullptr;
    for (GList* l = children; l != nullptr && found == nullptr; l = l->next)
        found = FindNamed(GTK_WIDGET(l->data), name);
    g_list_free(children);
    return found;
}

GtkWidget* DialogWindow() {
    GList* windows = gtk_window_list_toplevels();
    GtkWidget* found = nullptr;
    for (GList* l = windows; l != nullptr; l = l->next) {
        GtkWidget* w = GTK_WIDGET(l->data);
        if (std::string("lumora-dialog") == gtk_widget_get_name(w) && gtk_widget_get_visible(w))
            found = w;
    }
    g_list_free(windows);
    return found;
}

// Steps run one by one inside the dialog's own loop, 150 ms apart, so each sees the last drawn.
class ViewScript {
public:
    using Step = std::function<void(GtkWidget* window)>;
    explicit ViewScript(std::vector<Step> steps) : steps_(std::move(steps)) {
        source_ = g_timeout_add(150, &ViewScript::Tick, this);
    }
    ~ViewScript() {
        if (source_ != 0) g_source_remove(source_);
    }
    bool Finished() const { return next_ == steps_.size(); }

private:
    static gboolean Tick(gpointer self) {
        auto* s = static_cast<ViewScript*>(self);
        GtkWidget* window = DialogWindow();
        if (window == nullptr || !gtk_widget_get_mapped(window)) {
            // A dialog that never shows (or stays open past the script) is closed after a while.
            if (++s->idle_ > 100) s->source_ = 0;
            return s->source_ != 0 ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
        }
        if (s->next_ < s->steps_.size()) {
            s->steps_[s->next_++](window);
            return G_SOURCE_CONTINUE;
        }
        if (++s->idle_ > 60) {  // the script forgot to close it
            gtk_button_clicked(GTK_BUTTON(FindNamed(window, "2")));
        }
        return G_SOURCE_CONTINUE;
    }
    std::vector<Step> steps_;
    size_t next_ = 0;
    int idle_ = 0;
    guint source_ = 0;
};

GtkWidget* Widget(GtkWidget* window, int id) {
    GtkWidget* w = FindNamed(window, std::to_string(id));
    EXPECT_NE(w, nullptr) << "no widget " << id;
    return w;
}

void Click(GtkWidget* window, int id) {
    if (GtkWidget* w = Widget(window, id)) gtk_button_clicked(GTK_BUTTON(w));
}

std::string Text(GtkWidget* widget) {
    if (GTK_IS_BUTTON(widget)) return gtk_button_get_label(GTK_BUTTON(widget));
    if (GTK_IS_LABEL(widget)) return gtk_label_get_text(GTK_LABEL(widget));
    return {};
}

// Saves the dialog as a PNG in LUMORA_SCREENSHOT_DIR (the README's pictures), if set.
void Screenshot(GtkWidget* window, const std::string& name) {
    const char* dir = std::getenv("LUMORA_SCREENSHOT_DIR");
    if (dir == nullptr || *dir == '\0') return;
    GdkWindow* w = gtk_widget_get_window(window);
    GdkPixbuf* pixels =
        gdk_pixbuf_get_from_window(w, 0, 0, gdk_window_get_width(w), gdk_window_get_height(w));
    ASSERT_NE(pixels, nullptr);
    const std::string path = std::string(dir) + "/" + name + ".png";
    EXPECT_TRUE(gdk_pixbuf_save(pixels, path.c_str(), "png", nullptr, nullptr)) << path;
    g_object_unref(pixels);
}

double MeanOfImage(int handle, std::vector<unsigned char>& buffer) {
    if (Lumora_GetImage(handle, buffer.data(), static_cast<int>(buffer.size()), 0) != 1)
        return -1.0;
    double sum = 0;
    for (size_t i = 0; i < buffer.size(); i += 97) sum += buffer[i];
    return sum / static_cast<double>((buffer.size() + 96) / 97);
}

// The picture's mean once `holds` says yes of it, or the last one seen (-1: no frame) after
// `timeoutMs`: frames come at the camera's pace, slower still on a loaded machine.
double MeanOnceItHolds(int handle, std::vector<unsigned char>& buffer,
                       const std::function<bool(double)>& holds, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    double mean = MeanOfImage(handle, buffer);
    while (!holds(mean) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        mean = MeanOfImage(handle, buffer);
    }
    return mean;
}

class DialogViewTest : public DialogWorld {
protected:
    static void SetUpTestSuite() {
        ::setenv("NO_AT_BRIDGE", "1", 1);
        ::setenv("GSETTINGS_BACKEND", "memory", 1);
    }
    static void TearDownTestSuite() {
        gXServer.Stop();
    }
    void SetUp() override {
#if defined(LUMORA_UNDER_TSAN)
        GTEST_SKIP() << "GTK's own threads are not instrumented";
#endif
        if (std::getenv("LUMORA_GTK_MODULE") == nullptr) GTEST_SKIP() << "no GTK view module";
        if (!gXServer.Ensure("1280x1024x24")) GTEST_SKIP() << "no display and no Xvfb";
        DialogWorld::SetUp();
        ui::SetShowFunctionForTesting(nullptr);
        ::setenv("LANG", "C.UTF-8", 1);
        ::unsetenv("LC_ALL");
        ::unsetenv("LC_MESSAGES");
    }
};

TEST_F(DialogViewTest, ImageDialogChangesBrightnessLiveWhileThePreviewRuns) {
    ASSERT_EQ(Lumora_SetColorMode(handle_, 8), 1);
    ASSERT_EQ(Lumora_StartPreview(handle_), 1);
    std::vector<unsigned char> buffer(static_cast<size_t>(session_->Width()) * session_->Height());
    // The picture before the change comes from a frame the preview has processed.
    const double before = MeanOnceItHolds(handle_, buffer, [](double mean) { return mean >= 0; });
    double after = -1;
    ViewScript script({
        [&](GtkWidget* w) {
            GtkWidget* tabs = Widget(w, ui::kIdTab);
            EXPECT_EQ(gtk_notebook_get_n_pages(GTK_NOTEBOOK(tabs)), 2);  // the gray page
            EXPECT_FALSE(gtk_widget_get_sensitive(Widget(w, 2021)));     // hue: colour only
            gtk_range_set_value(GTK_RANGE(Widget(w, 2001)), 120);
            EXPECT_EQ(Settings().filter.brightness, 120);
            EXPECT_EQ(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(Widget(w, 2002))), 120);
        },
        [&](GtkWidget* w) {
            // The first frames processed with the new brightness.
            after = MeanOnceItHolds(handle_, buffer,
                                    [&](double mean) { return mean > before + 30.0; });
            gtk_spin_button_set_value(GTK_SPIN_BUTTON(Widget(w, 2012)), -30);
            EXPECT_EQ(Settings().filter.contrast, -30);
            EXPECT_EQ(std::lround(gtk_range_get_value(GTK_RANGE(Widget(w, 2011)))), -30);
        },
        [&](GtkWidget* w) { Screenshot(w, "image-dialog-en"); },
        [&](GtkWidget* w) {
            Click(w, ui::kIdDefault);
            EXPECT_EQ(Settings().filter.contrast, 0);
            EXPECT_EQ(std::lround(gtk_range_get_value(GTK_RANGE(Widget(w, 2011)))), 0);
            gtk_range_set_value(GTK_RANGE(Widget(w, 2001)), 60);
        },
        [&](GtkWidget* w) { Click(w, ui::kIdOk); },
    });
    EXPECT_EQ(Lumora_SetImageDlg(handle_, nullptr), 1);
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(Lumora_StopPreview(handle_), 1);
    EXPECT_GE(before, 0.0);
    EXPECT_GT(after, before + 30.0) << "the frames after the change are brighter";
    EXPECT_EQ(Settings().filter.brightness, 60);
}

TEST_F(DialogViewTest, ImageDialogCancelPutsTheSettingsBack) {
    ASSERT_EQ(Lumora_SetFilterValue(handle_, 11, 150), 1);
    ViewScript script({
        [&](GtkWidget* w) { gtk_range_set_value(GTK_RANGE(Widget(w, 2081)), 40); },
        [&](GtkWidget* w) {
            EXPECT_EQ(Settings().filter.gamma, 40);
            Click(w, ui::kIdCancel);
        },
    });
    EXPECT_EQ(Lumora_SetImageDlg(handle_, nullptr), 1);
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(Settings().filter.gamma, 150);
}

TEST_F(DialogViewTest, AnalogDialogDrivesTheCamera) {
    CLumoraUSB3T2SimpleSdk& d = Driver();
    const int gain = (d.GetGlobalGainMin() + d.GetGlobalGainMax()) / 2;
    ViewScript script({
        [&](GtkWidget* w) {
            EXPECT_FALSE(gtk_widget_get_visible(Widget(w, ui::kIdGainR)));
            gtk_range_set_value(GTK_RANGE(Widget(w, ui::kIdGlobalGain)), gain);
            EXPECT_EQ(d.GetGlobalGain(), gain);
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Widget(w, ui::kIdMirrorV)), TRUE);
            EXPECT_EQ(d.GetMirrorV(), 1);
            if (d.IsExposureTimeExAvailable() != 0) {
                GtkWidget* unit = Widget(w, ui::kIdExposureUnit);
                GtkTreeModel* items = gtk_combo_box_get_model(GTK_COMBO_BOX(unit));
                int ms = -1;
                for (int i = 0; i < gtk_tree_model_iter_n_children(items, nullptr); ++i) {
                    gtk_combo_box_set_active(GTK_COMBO_BOX(unit), i);
                    gchar* text = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(unit));
                    if (std::string(text) == "ms") ms = i;
                    g_free(text);
                }
                ASSERT_GE(ms, 0);
                gtk_combo_box_set_active(GTK_COMBO_BOX(unit), ms);
                GtkWidget* value = Widget(w, ui::kIdExposureEx);
                gtk_entry_set_text(GTK_ENTRY(value), "5");
                g_signal_emit_by_name(value, "activate");
                EXPECT_NEAR(d.GetExposureTimeEx(), 0.005, 1e-4);
                EXPECT_EQ(std::string(gtk_entry_get_text(GTK_ENTRY(value))),
                          ui::FormatExposureValue(d.GetExposureTimeEx() * 1e3));
            }
        },
        [&](GtkWidget* w) { Screenshot(w, "analog-dialog-en"); },
        [&](GtkWidget* w) { Click(w, ui::kIdOk); },
    });
    EXPECT_EQ(Lumora_SetAnalogDlg(handle_, nullptr), 1);
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(d.GetGlobalGain(), gain);
    EXPECT_EQ(d.GetMirrorV(), 1);
    EXPECT_EQ(Settings().analog.mirrorV, 1);
}

TEST_F(DialogViewTest, CameraDialogAppliesACustomSizeAndTheSessionReloadsIt) {
    ViewScript script({
        [&](GtkWidget* w) {
            EXPECT_FALSE(gtk_widget_get_sensitive(Widget(w, ui::kIdApply)));
            EXPECT_FALSE(gtk_widget_get_sensitive(Widget(w, ui::kIdClock)));
            GtkWidget* size = Widget(w, ui::kIdSize);
            GtkTreeModel* items = gtk_combo_box_get_model(GTK_COMBO_BOX(size));
            gtk_combo_box_set_active(GTK_COMBO_BOX(size),
                                     gtk_tree_model_iter_n_children(items, nullptr) - 1);
            gtk_entry_set_text(GTK_ENTRY(Widget(w, ui::kIdHEffective)), "1280");
            gtk_entry_set_text(GTK_ENTRY(Widget(w, ui::kIdVEffective)), "1024");
            EXPECT_TRUE(gtk_widget_get_sensitive(Widget(w, ui::kIdApply)));
        },
        [&](GtkWidget* w) { Screenshot(w, "camera-dialog-en"); },
        [&](GtkWidget* w) {
            Click(w, ui::kIdApply);
            EXPECT_FALSE(gtk_widget_get_sensitive(Widget(w, ui::kIdApply)));
            Click(w, ui::kIdOk);
        },
    });
    EXPECT_EQ(Lumora_SetCameraDlg(handle_, nullptr), 1);
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(session_->Width(), 1280);
    EXPECT_EQ(session_->Height(), 1024);
}

TEST_F(DialogViewTest, JapaneseLocaleShowsJapaneseCaptions) {
    ::setenv("LANG", "ja_JP.UTF-8", 1);
    const struct {
        int (*open)(int, HWND);
        const char* name;
        const char* tab;
    } kDialogs[] = {{&Lumora_SetCameraDlg, "camera-dialog-ja", "ストリーム形式"},
                    {&Lumora_SetImageDlg, "image-dialog-ja", "画像フィルタ"},
                    {&Lumora_SetAnalogDlg, "analog-dialog-ja", "アナログゲイン"}};
    for (const auto& dialog : kDialogs) {
        ViewScript script({
            [&](GtkWidget* w) {
                EXPECT_EQ(Text(Widget(w, ui::kIdCancel)), "キャンセル");
                GtkWidget* tabs = Widget(w, ui::kIdTab);
                GtkWidget* first = gtk_notebook_get_nth_page(GTK_NOTEBOOK(tabs), 0);
                EXPECT_EQ(std::string(gtk_notebook_get_tab_label_text(GTK_NOTEBOOK(tabs), first)),
                          dialog.tab);
                EXPECT_EQ(std::string(gtk_window_get_title(GTK_WINDOW(w))), "プロパティ");
            },
            [&](GtkWidget* w) { Screenshot(w, dialog.name); },
            [&](GtkWidget* w) { Click(w, ui::kIdCancel); },
        });
        EXPECT_EQ(dialog.open(handle_, nullptr), 1) << dialog.name;
        EXPECT_TRUE(script.Finished()) << dialog.name;
    }
    ::setenv("LANG", "C.UTF-8", 1);
}

}  // namespace
}  // namespace lumora::testing
#endif
