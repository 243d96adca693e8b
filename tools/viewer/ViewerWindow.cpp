#include "ViewerWindow.h"

#include <gdk/gdkx.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "Text.h"
#include "Widgets.h"

namespace lumora_viewer {

struct WakeTarget {
    ViewerWindow* window = nullptr;  // GTK's thread only; null once the window is gone
    std::atomic<bool> framePending{false};
    std::atomic<int> endedCode{0};
};

namespace {

// Device change notices posted to the notification window.
constexpr unsigned kDeviceChange = 0x0219;

constexpr guint kTickMs = 200;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

}  // namespace

// Runs on GTK's thread for each wake from the feed's thread; at most one is pending.
static gboolean OnWake(gpointer data) {
    auto& target = *static_cast<std::shared_ptr<WakeTarget>*>(data);
    target->framePending.store(false);
    if (target->window != nullptr) target->window->Woken(target->endedCode.exchange(0));
    return G_SOURCE_REMOVE;
}

static void Wake(const std::shared_ptr<WakeTarget>& target) {
    if (target->framePending.exchange(true)) return;
    // Below GTK's redraw and input: frames come all the time, drawing and the user go first.
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, &OnWake, new std::shared_ptr<WakeTarget>(target),
                    [](gpointer data) { delete static_cast<std::shared_ptr<WakeTarget>*>(data); });
}

ViewerWindow::ViewerWindow(const ViewerOptions& options) : options_(options) {
    wake_ = std::make_shared<WakeTarget>();
    wake_->window = this;
    if (options_.sim >= 0) LumoraSim_SetCameraCount(options_.sim);
    notifications_ = LumoraHost_CreateQueueWindow();
    std::weak_ptr<WakeTarget> weak = wake_;
    FrameFeed::Events events;
    events.frameReady = [weak] {
        if (auto target = weak.lock()) Wake(target);
    };
    events.runEnded = [weak](int code) {
        if (auto target = weak.lock()) {
            target->endedCode.store(code);
            Wake(target);
        }
    };
    const bool made = camera_.Initialize(notifications_, options_.device, std::move(events));

    window_ = Named(gtk_window_new(GTK_WINDOW_TOPLEVEL), "lumora-viewer");
    gtk_window_set_title(GTK_WINDOW(window_), T("Lumora Viewer"));
    gtk_window_set_default_size(GTK_WINDOW(window_), 1280, 800);
    g_signal_connect(window_, "delete-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                         auto* v = static_cast<ViewerWindow*>(self);
                         if (v->closed_) v->closed_();
                         return TRUE;  // the owner of this object destroys the window
                     }),
                     this);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(window_), box);
    gtk_box_pack_start(GTK_BOX(box), BuildMenu(), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), BuildToolbar(), FALSE, FALSE, 0);

    GtkWidget* message = Named(gtk_info_bar_new(), "message");
    GtkWidget* messageText = NamedLabel("message-text", "");
    gtk_label_set_line_wrap(GTK_LABEL(messageText), TRUE);
    gtk_container_add(GTK_CONTAINER(gtk_info_bar_get_content_area(GTK_INFO_BAR(message))),
                      messageText);
    gtk_info_bar_set_show_close_button(GTK_INFO_BAR(message), TRUE);
    g_signal_connect(message, "response", G_CALLBACK(+[](GtkInfoBar* bar, gint, gpointer) {
                         gtk_widget_hide(GTK_WIDGET(bar));
                     }),
                     nullptr);
    gtk_widget_set_no_show_all(message, TRUE);
    gtk_box_pack_start(GTK_BOX(box), message, FALSE, FALSE, 0);

    GtkWidget* paned = gtk_paned_new(GTK_ORIENTATION_HORIZONTAL);
    BuildPicture();
    gtk_paned_pack1(GTK_PANED(paned), picture_, TRUE, FALSE);
    GtkWidget* panel = Named(gtk_notebook_new(), "panel");
    gtk_notebook_set_scrollable(GTK_NOTEBOOK(panel), TRUE);
    const struct {
        GtkWidget* page;
        const char* title;
    } pages[] = {
        {BuildMeasurePage(), N_("Measure")},      {BuildCameraPage(), N_("Camera")},
        {BuildCoolerPage(), N_("Cooler")},        {BuildFilterPage(), N_("Filters")},
        {BuildFlatFieldPage(), N_("Flat field")}, {BuildSavePage(), N_("Save")},
    };
    for (const auto& p : pages) {
        GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER,
                                       GTK_POLICY_AUTOMATIC);
        gtk_container_set_border_width(GTK_CONTAINER(p.page), 8);
        gtk_container_add(GTK_CONTAINER(scroller), p.page);
        gtk_notebook_append_page(GTK_NOTEBOOK(panel), scroller, gtk_label_new(T(p.title)));
    }
    gtk_widget_set_size_request(panel, 380, -1);
    gtk_paned_pack2(GTK_PANED(paned), panel, FALSE, FALSE);
    gtk_box_pack_start(GTK_BOX(box), paned, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), BuildStatusBar(), FALSE, FALSE, 0);

    tickSource_ = g_timeout_add(
        kTickMs,
        +[](gpointer self) -> gboolean {
            static_cast<ViewerWindow*>(self)->Tick();
            return G_SOURCE_CONTINUE;
        },
        this);
    secondSource_ = g_timeout_add(
        1000,
        +[](gpointer self) -> gboolean {
            static_cast<ViewerWindow*>(self)->TickSecond();
            return G_SOURCE_CONTINUE;
        },
        this);

    gtk_widget_show_all(box);
    if (!made) {
        ShowMessage(T("The camera SDK could not start a session."), GTK_MESSAGE_ERROR);
        SetControlsSensitive();
        return;
    }
    FillCameraList();
    if (camera_.IsOpen()) {
        CameraOpened();
    } else if (camera_.MissingDevice() >= 0) {
        SetControlsSensitive();
        ShowMessage(Format("%s: %d. %s", T("No camera with this number is connected"),
                           camera_.MissingDevice(),
                           T("It opens as soon as it arrives; another camera can be chosen "
                             "from the list.")),
                    GTK_MESSAGE_WARNING);
    } else if (!devices_.empty()) {
        SetControlsSensitive();
        ShowError(camera_.LastError());  // a camera is there, but it could not be opened
    } else {
        SetControlsSensitive();
        ShowMessage(T("No camera found. Connect a camera: it opens as soon as it arrives. To "
                      "try the viewer without one, start it with --sim 1."),
                    GTK_MESSAGE_WARNING);
    }
    TickSecond();
}

ViewerWindow::~ViewerWindow() {
    if (tickSource_ != 0) g_source_remove(tickSource_);
    if (secondSource_ != 0) g_source_remove(secondSource_);
    wake_->window = nullptr;
    // The run and the session end before the windows they post to and draw for.
    camera_.Shutdown();
    if (owner_ != nullptr) LumoraHost_DestroyWindow(owner_);
    LumoraHost_DestroyWindow(notifications_);
    if (surface_ != nullptr) cairo_surface_destroy(surface_);
    gtk_widget_destroy(window_);
}

GtkWidget* ViewerWindow::W(const char* name) {
    const auto it = widgets_.find(name);
    if (it != widgets_.end()) return it->second;
    GtkWidget* found = lumora_viewer::FindNamed(window_, name);
    if (found != nullptr) widgets_.emplace(name, found);
    return found;
}

std::string ViewerWindow::Message() const {
    GtkWidget* bar = lumora_viewer::FindNamed(window_, "message");
    if (bar == nullptr || !gtk_widget_get_visible(bar)) return {};
    return gtk_label_get_text(GTK_LABEL(lumora_viewer::FindNamed(window_, "message-text")));
}

HWND ViewerWindow::Owner() {
    if (owner_ != nullptr) return owner_;
    GdkWindow* gdkWindow = gtk_widget_get_window(window_);
    if (gdkWindow == nullptr || !GDK_IS_X11_WINDOW(gdkWindow)) return nullptr;
    // The SDK looks the window up on its own connection: the server must know it first.
    gdk_display_sync(gtk_widget_get_display(window_));
    owner_ = LumoraHost_WrapX11Window(gdk_x11_window_get_xid(gdkWindow));
    return owner_;
}

// ---- building -------------------------------------------------------------------------------

GtkWidget* ViewerWindow::BuildMenu() {
    GtkWidget* bar = Named(gtk_menu_bar_new(), "menu");
    const auto menu = [bar](const char* name, const char* title) {
        GtkWidget* item = Named(gtk_menu_item_new_with_mnemonic(T(title)), name);
        GtkWidget* sub = gtk_menu_new();
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), sub);
        gtk_menu_shell_append(GTK_MENU_SHELL(bar), item);
        return sub;
    };
    const auto entry = [](GtkWidget* sub, const char* name, const char* title,
                          std::function<void()> action) {
        GtkWidget* item = Named(gtk_menu_item_new_with_mnemonic(T(title)), name);
        Connect(item, "activate", std::move(action));
        gtk_menu_shell_append(GTK_MENU_SHELL(sub), item);
    };
    const auto separator = [](GtkWidget* sub) {
        gtk_menu_shell_append(GTK_MENU_SHELL(sub), gtk_separator_menu_item_new());
    };
    GtkWidget* file = menu("menu-file", N_("_File"));
    entry(file, "menu-snapshot", N_("Save _snapshot"), [this] { Snapshot(); });
    entry(file, "menu-load-profile", N_("_Load settings profile…"), [this] { LoadProfile(); });
    entry(file, "menu-save-profile", N_("Save settings _profile…"), [this] { SaveProfile(); });
    separator(file);
    entry(file, "menu-quit", N_("_Quit"), [this] {
        if (closed_) closed_();
    });
    GtkWidget* camera = menu("menu-camera", N_("_Camera"));
    entry(camera, "menu-camera-dialog", N_("Capture _format…"), [this] { OpenDialog(0); });
    entry(camera, "menu-image-dialog", N_("_Image filters…"), [this] { OpenDialog(1); });
    entry(camera, "menu-analog-dialog", N_("_Analog settings…"), [this] { OpenDialog(2); });
    separator(camera);
    entry(camera, "menu-refresh", N_("_Look for cameras"), [this] { FillCameraList(); });
    GtkWidget* view = menu("menu-view", N_("_View"));
    entry(view, "menu-fit", N_("_Fit to window"), [this] { ZoomFit(); });
    entry(view, "menu-actual-size", N_("_Actual size (1:1)"), [this] { ZoomActual(); });
    entry(view, "menu-zoom-in", N_("Zoom _in"), [this] { ZoomBy(2.0); });
    entry(view, "menu-zoom-out", N_("Zoom _out"), [this] { ZoomBy(0.5); });
    GtkWidget* help = menu("menu-help", N_("_Help"));
    entry(help, "menu-about", N_("_About"), [this] {
        gtk_show_about_dialog(GTK_WINDOW(window_), "program-name", T("Lumora Viewer"), "comments",
                              T("Live picture, measurements and recording for Lumora cameras."),
                              "version", Format("%d", Lumora_GetDllVersion()).c_str(), nullptr);
    });
    return bar;
}

GtkWidget* ViewerWindow::BuildToolbar() {
    GtkWidget* bar = Named(gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6), "toolbar");
    gtk_container_set_border_width(GTK_CONTAINER(bar), 4);
    gtk_box_pack_start(GTK_BOX(bar), Caption(T("Camera:")), FALSE, FALSE, 0);
    GtkWidget* chooser = NamedCombo("camera", {});
    gtk_widget_set_size_request(chooser, 220, -1);
    Connect(chooser, "changed", [this, chooser] {
        if (updating_) return;
        const int i = gtk_combo_box_get_active(GTK_COMBO_BOX(chooser));
        if (i >= 0 && i < static_cast<int>(devices_.size())) ChooseCamera(devices_[i].number);
    });
    gtk_box_pack_start(GTK_BOX(bar), chooser, FALSE, FALSE, 0);

    GtkWidget* live = Named(gtk_toggle_button_new_with_label(T("Live")), "live");
    Connect(live, "toggled", [this, live] {
        if (!updating_) SetLive(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(live)));
    });
    gtk_box_pack_start(GTK_BOX(bar), live, FALSE, FALSE, 0);
    GtkWidget* snapshot = NamedButton("snapshot", T("Snapshot"));
    Connect(snapshot, "clicked", [this] { Snapshot(); });
    gtk_box_pack_start(GTK_BOX(bar), snapshot, FALSE, FALSE, 0);
    GtkWidget* record = Named(gtk_toggle_button_new_with_label(T("Record")), "record");
    Connect(record, "toggled", [this] {
        if (!updating_) RecordToggled();
    });
    gtk_box_pack_start(GTK_BOX(bar), record, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(bar), gtk_separator_new(GTK_ORIENTATION_VERTICAL), FALSE, FALSE, 2);

    const struct {
        const char* name;
        const char* title;
        const char* tip;
        PictureTool tool;
    } tools[] = {
        {"tool-probe", N_("Probe"), N_("Read values under the pointer; drag to pan"),
         PictureTool::kProbe},
        {"tool-rectangle", N_("Rectangle"), N_("Drag a rectangle to measure its statistics"),
         PictureTool::kRectangle},
        {"tool-line", N_("Line"), N_("Drag a line to see its profile"), PictureTool::kLine},
        {"tool-window", N_("Capture window"),
         N_("Drag the capture window on the picture (on the camera's 8-pixel grid)"),
         PictureTool::kWindow},
    };
    GSList* group = nullptr;
    for (const auto& t : tools) {
        GtkWidget* button = Named(gtk_radio_button_new_with_label(group, T(t.title)), t.name);
        gtk_toggle_button_set_mode(GTK_TOGGLE_BUTTON(button), FALSE);
        gtk_widget_set_tooltip_text(button, T(t.tip));
        group = gtk_radio_button_get_group(GTK_RADIO_BUTTON(button));
        const PictureTool tool = t.tool;
        Connect(button, "toggled", [this, button, tool] {
            if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button))) tool_ = tool;
        });
        gtk_box_pack_start(GTK_BOX(bar), button, FALSE, FALSE, 0);
    }
    gtk_box_pack_start(GTK_BOX(bar), gtk_separator_new(GTK_ORIENTATION_VERTICAL), FALSE, FALSE, 2);
    GtkWidget* fit = NamedButton("zoom-fit", T("Fit"));
    Connect(fit, "clicked", [this] { ZoomFit(); });
    gtk_box_pack_start(GTK_BOX(bar), fit, FALSE, FALSE, 0);
    GtkWidget* actual = NamedButton("zoom-actual", "1:1");
    Connect(actual, "clicked", [this] { ZoomActual(); });
    gtk_box_pack_start(GTK_BOX(bar), actual, FALSE, FALSE, 0);
    return bar;
}

GtkWidget* ViewerWindow::BuildStatusBar() {
    GtkWidget* bar = Named(gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 18), "status");
    gtk_container_set_border_width(GTK_CONTAINER(bar), 4);
    for (const char* name :
         {"status-fps", "status-frames", "status-exposure", "status-gain", "status-temperature"}) {
        gtk_box_pack_start(GTK_BOX(bar), NamedLabel(name, ""), FALSE, FALSE, 0);
    }
    return bar;
}

// ---- camera and run -------------------------------------------------------------------------

void ViewerWindow::FillCameraList() {
    devices_ = camera_.Devices();
    updating_ = true;
    GtkComboBoxText* chooser = GTK_COMBO_BOX_TEXT(W("camera"));
    gtk_combo_box_text_remove_all(chooser);
    int active = -1;
    const std::string serial = camera_.IsOpen() ? camera_.Serial() : std::string();
    for (size_t i = 0; i < devices_.size(); ++i) {
        std::string text = devices_[i].name;
        if (devices_[i].number == camera_.Current()) {
            active = static_cast<int>(i);
            if (!serial.empty()) text += " (" + serial + ")";
        }
        gtk_combo_box_text_append_text(chooser, text.c_str());
    }
    if (devices_.empty()) gtk_combo_box_text_append_text(chooser, T("no camera"));
    gtk_combo_box_set_active(GTK_COMBO_BOX(chooser), devices_.empty() ? 0 : active);
    updating_ = false;
}

void ViewerWindow::ChooseCamera(int number) {
    if (number == camera_.Current() && !lost_) return;
    if (!camera_.Open(number)) {
        ShowError(camera_.LastError());
        FillCameraList();
        SetControlsSensitive();
        return;
    }
    CameraOpened();
}

void ViewerWindow::CameraOpened() {
    lost_ = false;
    HideMessage();
    temperatures_.Clear();
    beforeCorrection_.reset();
    takenDark_ = takenBright_ = false;
    FillCameraList();
    const std::string serial = camera_.Serial();
    gtk_window_set_title(
        GTK_WINDOW(window_),
        (std::string(T("Lumora Viewer")) + (serial.empty() ? "" : " — " + serial)).c_str());
    LoadControls();
    if (options_.startLive) StartLive();
}

void ViewerWindow::StartLive() {
    SetLive(true);
}

void ViewerWindow::SetLive(bool on) {
    bool ok = true;
    if (on) {
        const bool trigger =
            gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(W("trigger-mode"))) != FALSE;
        ok = camera_.Start(trigger ? RunMode::kTriggered : RunMode::kFreeRunning);
        if (!ok) ShowError(camera_.LastError());
        // A started run has set the camera up for its bit depth: the exposure range with it.
        LoadControls();
    } else {
        camera_.Stop();
    }
    SyncLiveButton();
}

void ViewerWindow::SyncLiveButton() {
    updating_ = true;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W("live")), camera_.Mode() != RunMode::kStopped);
    updating_ = false;
    SetControlsSensitive();
}

void ViewerWindow::ShowMessage(const std::string& text, GtkMessageType type) {
    GtkWidget* bar = W("message");
    gtk_info_bar_set_message_type(GTK_INFO_BAR(bar), type);
    SetText(W("message-text"), text);
    gtk_widget_set_no_show_all(bar, FALSE);
    gtk_widget_show_all(bar);
}

void ViewerWindow::HideMessage() {
    gtk_widget_hide(W("message"));
}

void ViewerWindow::ShowError(const CameraSession::Error& error) {
    std::string text = T(error.what);
    if (error.code != 0)
        text += Format(" (%s, %s %d)", T(ErrorMeaning(error.code)), T("error"), error.code);
    ShowMessage(text, GTK_MESSAGE_ERROR);
}

void ViewerWindow::PollNotifications() {
    // Device notices only: a run's end is the feed's news, and errors are answered where the
    // call that failed was made (an old code read here could close a camera opened since).
    LumoraHostMessage m{};
    bool devicesChanged = false;
    while (LumoraHost_WaitMessage(notifications_, 0, &m) == 1) {
        if (m.message == kDeviceChange) devicesChanged = true;
    }
    if (!devicesChanged) return;
    FillCameraList();
    bool present = false;
    for (const DeviceEntry& d : devices_) present = present || d.number == camera_.Current();
    if (camera_.IsOpen() && !present) {
        CameraLost();
    } else if (!camera_.IsOpen() && !devices_.empty()) {
        CameraArrived();
    }
}

void ViewerWindow::CameraLost() {
    if (lost_ && !camera_.IsOpen()) return;
    lost_ = true;
    recording_ = false;
    pendingReference_ = -1;
    camera_.Lost();
    updating_ = true;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W("live")), FALSE);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W("record")), FALSE);
    updating_ = false;
    FillCameraList();
    SetControlsSensitive();
    ShowMessage(T("The camera was lost: it was unplugged or stopped answering. It opens again "
                  "as soon as it is back."),
                GTK_MESSAGE_ERROR);
}

void ViewerWindow::CameraArrived() {
    if (devices_.empty()) return;
    int number = devices_.front().number;
    if (const int awaited = camera_.MissingDevice(); awaited >= 0) {
        // The camera asked for by number is awaited; another is not opened in its place.
        if (std::none_of(devices_.begin(), devices_.end(),
                         [awaited](const DeviceEntry& d) { return d.number == awaited; })) {
            return;
        }
        number = awaited;
    }
    if (!camera_.Open(number)) {
        // While a lost camera is awaited its message stays; it is tried again each second.
        if (!lost_) ShowError(camera_.LastError());
        return;
    }
    const bool wasLost = lost_;
    CameraOpened();
    ShowMessage(wasLost ? T("The camera is back.") : T("A camera arrived and was opened."),
                GTK_MESSAGE_INFO);
}

// Called on GTK's thread when the feed has news.
void ViewerWindow::Woken(int endedCode) {
    if (endedCode == ERR_DEVICE_LOST) {
        CameraLost();
        return;
    }
    TakeFrame();
}

// ---- frames ---------------------------------------------------------------------------------

void ViewerWindow::TakeFrame() {
    std::shared_ptr<const Analysis> analysis = camera_.Feed().Take();
    if (analysis == nullptr) return;
    current_ = std::move(analysis);
    const FrameGeometry& g = current_->frame->geometry;
    view_.SetImage(g.width, g.height);
    ShowMeasurements();
    PictureChanged();
    if (pendingReference_ >= 0 && current_->frame->number >= referenceAfterFrame_)
        FinishReference();
}

DisplayLevels ViewerWindow::Levels() {
    DisplayLevels levels;
    const int full = current_ != nullptr ? current_->frame->FullScale() : 255;
    levels.white = full;
    if (current_ != nullptr &&
        gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(W("auto-contrast"))) != FALSE) {
        levels.black = current_->histogram.Percentile(0.001);
        levels.white = std::max(current_->histogram.Percentile(0.999), levels.black + 1);
    }
    levels.markSaturated =
        gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(W("saturation-overlay"))) != FALSE;
    return levels;
}

void ViewerWindow::ShowMeasurements() {
    if (current_ == nullptr) return;
    const Histogram& h = current_->histogram;
    SetText(W("saturated-share"), Format("%s %.3f %%", T("Saturated:"), h.SaturatedShare() * 100));
    SetText(W("zero-share"), Format("%s %.3f %%", T("Zero:"), h.ZeroShare() * 100));
    SetText(W("frame-mean"), Format("%s %.1f   %s %.1f", T("Mean:"), h.Mean(), T("Std. dev.:"),
                                    h.StandardDeviation()));
    gtk_widget_queue_draw(histogram_);
    if (current_->region) {
        const RegionStatistics& r = *current_->region;
        SetText(W("region"),
                Format("%d, %d  %d × %d", r.rect.x, r.rect.y, r.rect.width, r.rect.height));
        SetText(W("region-mean"), Format("%.2f", r.mean));
        SetText(W("region-std"), Format("%.2f", r.standardDeviation));
        SetText(W("region-min"), Format("%d", r.minimum));
        SetText(W("region-max"), Format("%d", r.maximum));
    }
    if (current_->profile) gtk_widget_queue_draw(profile_);
    UpdateProbe();
    UpdateFlatFieldPage();
}

void ViewerWindow::UpdateProbe() {
    GtkWidget* probe = W("probe");
    if (current_ == nullptr || !pointer_ || !current_->frame->Contains(pointer_->x, pointer_->y)) {
        SetText(probe, "–");
        return;
    }
    const Frame& f = *current_->frame;
    SetText(probe, Format("x %d  y %d  %s %d", pointer_->x, pointer_->y, T("value"),
                          f.Sample(pointer_->x, pointer_->y)));
}

void ViewerWindow::UpdateMeasureRequest() {
    MeasureRequest request;
    request.region = region_;
    request.line = line_;
    camera_.Feed().SetMeasure(request);
    // The frame on show is measured at once, so a drawing shows its figures without waiting
    // for the next frame (a triggered camera may send none for a while).
    if (current_ != nullptr) {
        current_ = std::make_shared<const Analysis>(Analyse(current_->frame, request));
        ShowMeasurements();
        if (!region_) {
            for (const char* name :
                 {"region", "region-mean", "region-std", "region-min", "region-max"})
                SetText(W(name), "–");
        }
        gtk_widget_queue_draw(profile_);
    }
}

void ViewerWindow::Tick() {
    PollNotifications();
    const FeedFigures f = camera_.Feed().Figures();
    const LumoraStreamStats s = camera_.StreamStats();
    SetText(W("status-fps"), Format("%.1f %s", camera_.Feed().FramesPerSecond(), T("fps")));
    // Every frame the camera sent and the display did not show: skipped by the session while it
    // was busy, or by the display while it was.
    const unsigned long long skipped = s.framesSkipped + f.skipped;
    SetText(W("status-frames"),
            Format("%s %llu   %s %llu", T("shown"), static_cast<unsigned long long>(f.shown),
                   T("skipped"), skipped));
    UpdateRecordProgress();
    gtk_widget_set_sensitive(W("software-trigger"),
                             camera_.Mode() == RunMode::kTriggered && camera_.CanFireTrigger());
}

void ViewerWindow::TickSecond() {
    // A camera announced before it was ready to open, or one whose notice was missed: look
    // again while none is open.
    if (!camera_.IsOpen() && camera_.Handle() != 0) {
        FillCameraList();
        if (!devices_.empty()) CameraArrived();
    }
    const double now =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    if (camera_.IsOpen()) {
        if (const auto degrees = camera_.Temperature()) {
            temperatures_.Add(now, *degrees);
            const std::string text = Format("%s %.2f °C  (%s)", T("Sensor"), *degrees,
                                            camera_.Cooler() ? T("cooler on") : T("cooler off"));
            SetText(W("status-temperature"), text);
            SetText(W("temperature"), text);
        }
        SetText(W("status-exposure"), Format("%s %.3f ms", T("Exposure"), camera_.ExposureMs()));
        SetText(W("status-gain"), Format("%s %d", T("Gain"), camera_.Gain()));
    }
    gtk_widget_queue_draw(temperaturePlot_);
}

}  // namespace lumora_viewer
