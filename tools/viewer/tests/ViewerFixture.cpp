#include "ViewerFixture.h"

#include <cmath>
#include <cstdlib>

#include "PrivateXServer.h"
#include "Text.h"
#include "Widgets.h"

namespace lumora_viewer::testing {
namespace {

lumora::testing::PrivateXServer gXServer;

}  // namespace

GtkWidget* ShownToplevel(const std::function<bool(GtkWidget*)>& match) {
    GList* windows = gtk_window_list_toplevels();
    GtkWidget* found = nullptr;
    for (GList* l = windows; l != nullptr; l = l->next) {
        GtkWidget* w = GTK_WIDGET(l->data);
        if (gtk_widget_get_visible(w) && match(w)) found = w;
    }
    g_list_free(windows);
    return found;
}

void ViewerTest::TearDownTestSuite() {
    gXServer.Stop();
}

void ViewerTest::SetUp() {
    if (!gXServer.Ensure("1400x900x24")) GTEST_SKIP() << "no display and no Xvfb";
    ::setenv("NO_AT_BRIDGE", "1", 1);
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    gdk_set_allowed_backends("x11");
    if (!gtk_init_check(nullptr, nullptr)) GTEST_SKIP() << "GTK cannot open the display";
    SimCameraWorld::SetUp();
    ::setenv("LANG", "C.UTF-8", 1);
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    LoadTranslations("");
    // Wakes the loop often, so waits see their condition soon after it comes true; below every
    // source of the viewer's, so on a slow machine it never keeps them from running.
    pulse_ = g_timeout_add_full(
        G_PRIORITY_LOW, 10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr,
        nullptr);
}

void ViewerTest::TearDown() {
    if (pulse_ == 0) return;  // skipped
    viewer_.reset();
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    g_source_remove(pulse_);
    SimCameraWorld::TearDown();
}

void ViewerTest::OpenViewer(int cameras, int device) {
    LumoraSim_SetCameraCount(cameras);
    ViewerOptions options;
    options.device = device;
    viewer_ = std::make_unique<ViewerWindow>(options);
    gtk_window_move(GTK_WINDOW(viewer_->Window()), 0, 0);
    gtk_widget_show(viewer_->Window());
    ASSERT_TRUE(PumpUntil([&] { return gtk_widget_get_mapped(viewer_->Window()) != FALSE; }));
}

GtkWidget* ViewerTest::W(const char* name) {
    GtkWidget* w = FindNamed(viewer_->Window(), name);
    EXPECT_NE(w, nullptr) << "no widget named " << name;
    return w;
}

bool ViewerTest::PumpUntil(const std::function<bool()>& done, double seconds) {
    return WaitFor(done, seconds, [] { g_main_context_iteration(nullptr, TRUE); });
}

uint64_t ViewerTest::Shown() {
    return viewer_->Camera().Feed().Figures().shown;
}

bool ViewerTest::WaitFrames(int n, double seconds) {
    const uint64_t target = Shown() + static_cast<uint64_t>(n);
    return PumpUntil([&] { return Shown() >= target; }, seconds);
}

void ViewerTest::Click(const char* name) {
    if (GtkWidget* w = W(name)) gtk_button_clicked(GTK_BUTTON(w));
}

void ViewerTest::Toggle(const char* name, bool on) {
    if (GtkWidget* w = W(name)) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), on);
}

void ViewerTest::Select(const char* name, int index) {
    if (GtkWidget* w = W(name)) gtk_combo_box_set_active(GTK_COMBO_BOX(w), index);
}

void ViewerTest::SetSpin(const char* name, double value) {
    if (GtkWidget* w = W(name)) gtk_spin_button_set_value(GTK_SPIN_BUTTON(w), value);
}

void ViewerTest::SetEntry(const char* name, const std::string& text) {
    if (GtkWidget* w = W(name)) gtk_entry_set_text(GTK_ENTRY(w), text.c_str());
}

void ViewerTest::ActivateMenu(const char* name) {
    if (GtkWidget* w = W(name)) gtk_menu_item_activate(GTK_MENU_ITEM(w));
}

std::string ViewerTest::Text(const char* name) {
    GtkWidget* w = W(name);
    if (w == nullptr) return {};
    if (GTK_IS_LABEL(w)) return gtk_label_get_text(GTK_LABEL(w));
    if (GTK_IS_BUTTON(w)) return gtk_button_get_label(GTK_BUTTON(w));
    if (GTK_IS_ENTRY(w)) return gtk_entry_get_text(GTK_ENTRY(w));
    return {};
}

void ViewerTest::Configure(int bits, int width, int height, double exposureMs, int x, int y) {
    Select("bit-depth", bits == 16 ? 1 : 0);
    SetSpin("window-x", x);
    SetSpin("window-y", y);
    SetSpin("window-width", width);
    SetSpin("window-height", height);
    Click("window-apply");
    SetSpin("exposure", exposureMs);
    // A frame of the new shape on the picture.
    ASSERT_TRUE(PumpUntil([&] {
        const auto a = viewer_->Current();
        return a != nullptr && a->frame->geometry == FrameGeometry{width, height, bits};
    }));
}

void ViewerTest::DragOnPicture(int x0, int y0, int x1, int y1) {
    GtkWidget* picture = W("picture");
    const auto a = viewer_->Current();
    ASSERT_NE(a, nullptr);
    // Where a person sees those pixels: the picture fitted to the area and centred.
    const double w = gtk_widget_get_allocated_width(picture);
    const double h = gtk_widget_get_allocated_height(picture);
    const double iw = a->frame->geometry.width;
    const double ih = a->frame->geometry.height;
    const double scale = std::min(w / iw, h / ih);
    const double ox = (w - iw * scale) / 2;
    const double oy = (h - ih * scale) / 2;
    const auto areaX = [&](int x) { return ox + (x + 0.5) * scale; };
    const auto areaY = [&](int y) { return oy + (y + 0.5) * scale; };
    GdkWindow* window = gtk_widget_get_window(picture);
    GdkDevice* pointer =
        gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_window_get_display(window)));
    const auto send = [&](GdkEventType type, double x, double y) {
        GdkEvent* e = gdk_event_new(type);
        e->any.window = GDK_WINDOW(g_object_ref(window));
        if (type == GDK_MOTION_NOTIFY) {
            e->motion.x = x;
            e->motion.y = y;
            e->motion.state = GDK_BUTTON1_MASK;
        } else {
            e->button.x = x;
            e->button.y = y;
            e->button.button = 1;
        }
        gdk_event_set_device(e, pointer);
        gtk_widget_event(picture, e);
        gdk_event_free(e);
    };
    send(GDK_BUTTON_PRESS, areaX(x0), areaY(y0));
    for (int i = 1; i <= 4; ++i)
        send(GDK_MOTION_NOTIFY, areaX(x0 + (x1 - x0) * i / 4), areaY(y0 + (y1 - y0) * i / 4));
    send(GDK_BUTTON_RELEASE, areaX(x1), areaY(y1));
}

void ViewerTest::Screenshot(const std::string& name) {
    const char* dir = std::getenv("LUMORA_SCREENSHOT_DIR");
    if (dir == nullptr || *dir == '\0') return;
    // Everything drawn before the picture is taken.
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    GdkWindow* w = gtk_widget_get_window(viewer_->Window());
    gdk_display_sync(gdk_window_get_display(w));
    GdkPixbuf* pixels =
        gdk_pixbuf_get_from_window(w, 0, 0, gdk_window_get_width(w), gdk_window_get_height(w));
    ASSERT_NE(pixels, nullptr);
    const std::string path = std::string(dir) + "/" + name + ".png";
    EXPECT_TRUE(gdk_pixbuf_save(pixels, path.c_str(), "png", nullptr, nullptr)) << path;
    g_object_unref(pixels);
}

void ViewerTest::WhileModal(std::function<bool()> step) {
    auto* stored = new std::function<bool()>(std::move(step));
    g_timeout_add_full(
        G_PRIORITY_DEFAULT, 150,
        [](gpointer data) -> gboolean {
            return (*static_cast<std::function<bool()>*>(data))() ? G_SOURCE_REMOVE
                                                                  : G_SOURCE_CONTINUE;
        },
        stored, [](gpointer data) { delete static_cast<std::function<bool()>*>(data); });
}

}  // namespace lumora_viewer::testing
