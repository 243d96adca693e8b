// The pages beside the picture (measurements, camera controls, cooler, filters, the flat-field
// assistant, files) and what their controls do.
#include <glib/gstdio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "Plots.h"
#include "ProfileSettings.h"
#include "Text.h"
#include "ViewerWindow.h"
#include "Widgets.h"

namespace lumora_viewer {
namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// A grid row: caption in the first column, the control across the rest.
void Row(GtkWidget* grid, int row, const std::string& caption, GtkWidget* control, int width = 2) {
    gtk_grid_attach(GTK_GRID(grid), Caption(caption), 0, row, 1, 1);
    gtk_widget_set_hexpand(control, TRUE);
    gtk_grid_attach(GTK_GRID(grid), control, 1, row, width, 1);
}

GtkWidget* Hint(const std::string& text) {
    GtkWidget* label = Caption(text);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 48);
    GtkStyleContext* style = gtk_widget_get_style_context(label);
    gtk_style_context_add_class(style, "dim-label");
    return label;
}

GtkWidget* Plot(const char* name, int width, int height) {
    GtkWidget* area = Named(gtk_drawing_area_new(), name);
    gtk_widget_set_size_request(area, width, height);
    return area;
}

bool Active(GtkWidget* toggle) {
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(toggle)) != FALSE;
}

void SetActive(GtkWidget* toggle, bool on) {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(toggle), on ? TRUE : FALSE);
}

double SpinValue(GtkWidget* spin) {
    return gtk_spin_button_get_value(GTK_SPIN_BUTTON(spin));
}

// A thumbnail of a frame, scaled to fit the area.
void DrawThumbnail(cairo_t* cr, GtkWidget* area, const Analysis* analysis) {
    const int w = gtk_widget_get_allocated_width(area);
    const int h = gtk_widget_get_allocated_height(area);
    cairo_set_source_rgb(cr, 0.12, 0.12, 0.12);
    cairo_paint(cr);
    if (analysis == nullptr || w <= 0 || h <= 0) return;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    ViewTransform view;
    view.SetViewport(w, h);
    view.SetImage(analysis->frame->geometry.width, analysis->frame->geometry.height);
    DisplayLevels levels;
    levels.white = analysis->frame->FullScale();
    PictureRenderer renderer;
    cairo_surface_flush(surface);
    renderer.Render(*analysis->frame, view, levels, cairo_image_surface_get_data(surface),
                    cairo_image_surface_get_stride(surface), w, h);
    cairo_surface_mark_dirty(surface);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_paint(cr);
    cairo_surface_destroy(surface);
}

std::string Spread(const Analysis* analysis) {
    if (analysis == nullptr) return "–";
    const Histogram& h = analysis->histogram;
    const double mean = h.Mean();
    return Format("%s %.1f, %s %.2f %%", T("mean"), mean, T("non-uniformity"),
                  mean > 0 ? h.StandardDeviation() / mean * 100 : 0.0);
}

// A file chooser run to its end; "" when the user cancelled.
std::string ChooseFile(GtkWidget* parent, const char* title, GtkFileChooserAction action,
                       const std::string& suggestion) {
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        title, GTK_WINDOW(parent), action, T("_Cancel"), GTK_RESPONSE_CANCEL,
        action == GTK_FILE_CHOOSER_ACTION_SAVE ? T("_Save") : T("_Open"), GTK_RESPONSE_ACCEPT,
        nullptr);
    gtk_widget_set_name(dialog, "file-chooser");
    if (action == GTK_FILE_CHOOSER_ACTION_SAVE) {
        gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(dialog), TRUE);
        if (!suggestion.empty())
            gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), suggestion.c_str());
    }
    std::string path;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        gchar* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
        if (chosen != nullptr) path = chosen;
        g_free(chosen);
    }
    gtk_widget_destroy(dialog);
    return path;
}

}  // namespace

// ---- pages ----------------------------------------------------------------------------------

GtkWidget* ViewerWindow::BuildMeasurePage() {
    GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    histogram_ = Plot("histogram", 340, 120);
    g_signal_connect(histogram_, "draw", G_CALLBACK(+[](GtkWidget* w, cairo_t* cr, gpointer self) {
                         auto* v = static_cast<ViewerWindow*>(self);
                         DrawHistogram(cr, gtk_widget_get_allocated_width(w),
                                       gtk_widget_get_allocated_height(w),
                                       v->current_ ? v->current_->histogram : Histogram(),
                                       Active(v->W("histogram-log")), v->Levels());
                         return FALSE;
                     }),
                     this);
    gtk_box_pack_start(GTK_BOX(box), histogram_, FALSE, FALSE, 0);
    GtkWidget* shares = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 16);
    for (const char* name : {"saturated-share", "zero-share"})
        gtk_box_pack_start(GTK_BOX(shares), NamedLabel(name, "–"), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), shares, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), NamedLabel("frame-mean", "–"), FALSE, FALSE, 0);
    GtkWidget* log = NamedCheck("histogram-log", T("Logarithmic counts"));
    Connect(log, "toggled", [this] { gtk_widget_queue_draw(histogram_); });
    gtk_box_pack_start(GTK_BOX(box), log, FALSE, FALSE, 0);
    GtkWidget* overlay = NamedCheck("saturation-overlay", T("Mark saturated pixels in red"));
    GtkWidget* stretch = NamedCheck("auto-contrast", T("Stretch the display to the picture"));
    for (GtkWidget* toggle : {overlay, stretch}) {
        Connect(toggle, "toggled", [this] {
            gtk_widget_queue_draw(histogram_);
            PictureChanged();
        });
        gtk_box_pack_start(GTK_BOX(box), toggle, FALSE, FALSE, 0);
    }
    GtkWidget* probe = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_box_pack_start(GTK_BOX(probe), Caption(T("Under the pointer:")), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(probe), NamedLabel("probe", "–"), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), probe, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(page), Framed(T("Histogram"), box), FALSE, FALSE, 0);

    GtkWidget* grid = Grid();
    const struct {
        const char* caption;
        const char* name;
    } rows[] = {{N_("Position, size"), "region"},
                {N_("Mean"), "region-mean"},
                {N_("Standard deviation"), "region-std"},
                {N_("Minimum"), "region-min"},
                {N_("Maximum"), "region-max"}};
    int row = 0;
    for (const auto& r : rows) Row(grid, row++, T(r.caption), NamedLabel(r.name, "–"));
    GtkWidget* clearRegion = NamedButton("region-clear", T("Clear"));
    Connect(clearRegion, "clicked", [this] {
        region_.reset();
        UpdateMeasureRequest();
        PictureChanged();
    });
    gtk_grid_attach(GTK_GRID(grid), clearRegion, 0, row++, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), Hint(T("Draw it on the picture with the Rectangle tool.")), 0,
                    row, 3, 1);
    gtk_box_pack_start(GTK_BOX(page), Framed(T("Rectangle"), grid), FALSE, FALSE, 0);

    GtkWidget* lineBox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    profile_ = Plot("profile", 340, 90);
    g_signal_connect(profile_, "draw", G_CALLBACK(+[](GtkWidget* w, cairo_t* cr, gpointer self) {
                         auto* v = static_cast<ViewerWindow*>(self);
                         const bool have = v->current_ && v->current_->profile;
                         DrawProfile(cr, gtk_widget_get_allocated_width(w),
                                     gtk_widget_get_allocated_height(w),
                                     have ? *v->current_->profile : LineProfile(),
                                     have ? v->current_->frame->FullScale() : 255);
                         return FALSE;
                     }),
                     this);
    gtk_box_pack_start(GTK_BOX(lineBox), profile_, FALSE, FALSE, 0);
    GtkWidget* clearLine = NamedButton("profile-clear", T("Clear"));
    gtk_widget_set_halign(clearLine, GTK_ALIGN_START);
    Connect(clearLine, "clicked", [this] {
        line_.reset();
        UpdateMeasureRequest();
        PictureChanged();
    });
    gtk_box_pack_start(GTK_BOX(lineBox), clearLine, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(lineBox), Hint(T("Draw it on the picture with the Line tool.")),
                       FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(page), Framed(T("Line profile"), lineBox), FALSE, FALSE, 0);
    return page;
}

GtkWidget* ViewerWindow::BuildCameraPage() {
    GtkWidget* grid = Named(Grid(), "page-camera");
    int row = 0;
    GtkWidget* exposure = NamedSpin("exposure", 0.001, 100000, 0.1, 3);
    Connect(exposure, "value-changed", [this, exposure] {
        if (!updating_) ExposureChanged(SpinValue(exposure));
    });
    Row(grid, row++, T("Exposure (ms)"), exposure);
    GtkWidget* exposureScale = NamedScale("exposure-scale", -3, 5, 0.01, 2);
    gtk_scale_set_draw_value(GTK_SCALE(exposureScale), FALSE);
    Connect(exposureScale, "value-changed", [this, exposureScale] {
        if (!updating_)
            ExposureChanged(std::pow(10.0, gtk_range_get_value(GTK_RANGE(exposureScale))));
    });
    Row(grid, row++, "", exposureScale);
    Row(grid, row++, "", NamedLabel("exposure-range", ""));

    GtkWidget* gain = NamedScale("gain", 0, 1000, 1, 0);
    Connect(gain, "value-changed", [this, gain] {
        if (updating_) return;
        if (!camera_.SetGain(static_cast<int>(std::lround(gtk_range_get_value(GTK_RANGE(gain))))))
            ShowError(camera_.LastError());
    });
    Row(grid, row++, T("Gain"), gain);
    GtkWidget* black = NamedSpin("black-level", 0, 4095, 1, 0);
    Connect(black, "value-changed", [this, black] {
        if (updating_) return;
        if (!camera_.SetFilter(kFilterBlackLevel, static_cast<int>(SpinValue(black))))
            ShowError(camera_.LastError());
    });
    Row(grid, row++, T("Black level"), black);
    GtkWidget* gainMode = NamedCombo("gain-mode", {T("High gain"), T("Low gain")});
    Connect(gainMode, "changed", [this, gainMode] {
        const int mode = gtk_combo_box_get_active(GTK_COMBO_BOX(gainMode));
        if (updating_ || mode < 0) return;
        if (!camera_.SetFilter(kFilterGainMode, mode)) ShowError(camera_.LastError());
    });
    Row(grid, row++, T("Gain mode"), gainMode);
    GtkWidget* autoIris =
        NamedCombo("auto-exposure", {T("Off"), T("Regulate the exposure"), T("Regulate the gain")});
    Connect(autoIris, "changed", [this, autoIris] {
        const int mode = gtk_combo_box_get_active(GTK_COMBO_BOX(autoIris));
        if (updating_ || mode < 0) return;
        if (!camera_.SetAutoIris(mode)) ShowError(camera_.LastError());
    });
    Row(grid, row++, T("Automatic exposure"), autoIris);
    GtkWidget* bits = NamedCombo("bit-depth", {T("8 bits"), T("16 bits (12-bit values)")});
    Connect(bits, "changed", [this, bits] {
        const int i = gtk_combo_box_get_active(GTK_COMBO_BOX(bits));
        if (updating_ || i < 0) return;
        if (!camera_.SetBits(i == 1 ? 16 : 8)) ShowError(camera_.LastError());
        LoadControls();
    });
    Row(grid, row++, T("Bit depth"), bits);
    GtkWidget* mirrorH = NamedCheck("mirror-h", T("Horizontal"));
    Connect(mirrorH, "toggled", [this, mirrorH] {
        if (!updating_ && !camera_.SetMirrorH(Active(mirrorH))) ShowError(camera_.LastError());
    });
    GtkWidget* mirrorV = NamedCheck("mirror-v", T("Vertical"));
    Connect(mirrorV, "toggled", [this, mirrorV] {
        if (!updating_ && !camera_.SetMirrorV(Active(mirrorV))) ShowError(camera_.LastError());
    });
    gtk_grid_attach(GTK_GRID(grid), Caption(T("Mirror")), 0, row, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), mirrorH, 1, row, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), mirrorV, 2, row++, 1, 1);
    GtkWidget* subsample = NamedCheck("subsample", T("Half resolution (2 × 2 skipping)"));
    Connect(subsample, "toggled", [this, subsample] {
        if (updating_) return;
        if (!camera_.SetSubsample(Active(subsample))) ShowError(camera_.LastError());
        region_.reset();
        line_.reset();
        UpdateMeasureRequest();
        LoadControls();
    });
    Row(grid, row++, T("Subsampling"), subsample);

    GtkWidget* window = Grid();
    const struct {
        const char* caption;
        const char* name;
        int max;
    } spins[] = {{N_("Left"), "window-x", kSensorWidth - kWindowStep},
                 {N_("Top"), "window-y", kSensorHeight - kWindowStep},
                 {N_("Width"), "window-width", kSensorWidth},
                 {N_("Height"), "window-height", kSensorHeight}};
    int wrow = 0;
    for (const auto& s : spins) {
        GtkWidget* spin = NamedSpin(s.name, s.name[7] == 'w' || s.name[7] == 'h' ? kWindowStep : 0,
                                    s.max, kWindowStep, 0);
        Row(window, wrow++, T(s.caption), spin);
    }
    GtkWidget* apply = NamedButton("window-apply", T("Apply"));
    Connect(apply, "clicked", [this] { WindowFromSpins(); });
    GtkWidget* full = NamedButton("window-full", T("Full sensor"));
    Connect(full, "clicked", [this] {
        ShowWindowSpins(SensorWindow{});
        WindowFromSpins();
    });
    gtk_grid_attach(GTK_GRID(window), apply, 1, wrow, 1, 1);
    gtk_grid_attach(GTK_GRID(window), full, 2, wrow++, 1, 1);
    gtk_grid_attach(GTK_GRID(window),
                    Hint(T("Or drag it on the picture with the Capture window tool. The camera "
                           "takes windows in steps of 8 pixels.")),
                    0, wrow, 3, 1);
    gtk_grid_attach(GTK_GRID(grid), Framed(T("Capture window"), window), 0, row++, 3, 1);

    GtkWidget* trigger = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    GtkWidget* triggerMode = NamedCheck("trigger-mode", T("Trigger mode: one frame per trigger"));
    Connect(triggerMode, "toggled", [this] {
        if (!updating_) TriggerModeChanged();
    });
    gtk_box_pack_start(GTK_BOX(trigger), triggerMode, FALSE, FALSE, 0);
    GtkWidget* fire = NamedButton("software-trigger", T("Software trigger"));
    gtk_widget_set_halign(fire, GTK_ALIGN_START);
    Connect(fire, "clicked", [this] {
        if (!camera_.FireTrigger())
            ShowMessage(T("The trigger did not fire: the camera is still busy with the last "
                          "one, or it is not a simulated camera."),
                        GTK_MESSAGE_WARNING);
    });
    gtk_box_pack_start(GTK_BOX(trigger), fire, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(trigger),
                       Hint(T("The software trigger fires simulated cameras; a real camera "
                              "takes its trigger at its input.")),
                       FALSE, FALSE, 0);
    gtk_grid_attach(GTK_GRID(grid), Framed(T("Trigger"), trigger), 0, row++, 3, 1);
    return grid;
}

GtkWidget* ViewerWindow::BuildCoolerPage() {
    GtkWidget* page = Named(gtk_box_new(GTK_ORIENTATION_VERTICAL, 8), "page-cooler");
    GtkWidget* cooler = NamedCheck("cooler", T("Cooler on"));
    Connect(cooler, "toggled", [this, cooler] {
        if (!updating_ && !camera_.SetCooler(Active(cooler))) ShowError(camera_.LastError());
    });
    gtk_box_pack_start(GTK_BOX(page), cooler, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(page), NamedLabel("temperature", "–"), FALSE, FALSE, 0);
    temperaturePlot_ = Plot("temperature-plot", 340, 180);
    g_signal_connect(
        temperaturePlot_, "draw", G_CALLBACK(+[](GtkWidget* w, cairo_t* cr, gpointer self) {
            auto* v = static_cast<ViewerWindow*>(self);
            const double now =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - v->started_)
                    .count();
            DrawTemperature(cr, gtk_widget_get_allocated_width(w),
                            gtk_widget_get_allocated_height(w), v->temperatures_, now);
            return FALSE;
        }),
        this);
    gtk_box_pack_start(GTK_BOX(page), temperaturePlot_, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(page),
                       Hint(T("Sensor temperature over the last ten minutes, read once a second. "
                              "With the cooler on the sensor cools toward its set point; off, it "
                              "warms to the ambient temperature.")),
                       FALSE, FALSE, 0);
    return page;
}

GtkWidget* ViewerWindow::BuildFilterPage() {
    GtkWidget* grid = Named(Grid(), "page-filters");
    const struct {
        const char* caption;
        const char* name;
        int id;
        int min;
        int max;
    } filters[] = {{N_("Brightness"), "brightness", kFilterBrightness, -255, 255},
                   {N_("Contrast"), "contrast", kFilterContrast, -127, 127},
                   {N_("Gamma (100: linear)"), "gamma", kFilterGamma, 0, 200},
                   {N_("Sharpness"), "sharpness", kFilterSharpness, 0, 30}};
    int row = 0;
    for (const auto& f : filters) {
        GtkWidget* scale = NamedScale(f.name, f.min, f.max, 1, 0);
        const int id = f.id;
        Connect(scale, "value-changed", [this, scale, id] {
            if (updating_) return;
            if (!camera_.SetFilter(
                    id, static_cast<int>(std::lround(gtk_range_get_value(GTK_RANGE(scale))))))
                ShowError(camera_.LastError());
        });
        Row(grid, row++, T(f.caption), scale);
    }
    GtkWidget* neutral = NamedButton("filters-neutral", T("Neutral"));
    Connect(neutral, "clicked", [this] {
        for (const auto& [id, value] : {std::pair{kFilterBrightness, 0},
                                        {kFilterContrast, 0},
                                        {kFilterGamma, 100},
                                        {kFilterSharpness, 0}})
            camera_.SetFilter(id, value);
        LoadControls();
    });
    gtk_grid_attach(GTK_GRID(grid), neutral, 1, row++, 1, 1);
    GtkWidget* more = NamedButton("more-filters", T("All image filters…"));
    Connect(more, "clicked", [this] { OpenDialog(1); });
    gtk_grid_attach(GTK_GRID(grid), more, 1, row++, 1, 1);
    gtk_grid_attach(GTK_GRID(grid),
                    Hint(T("The filters change the frames the camera delivers: the histogram, "
                           "the measurements and the files show their effect.")),
                    0, row, 3, 1);
    return grid;
}

GtkWidget* ViewerWindow::BuildFlatFieldPage() {
    GtkWidget* page = Named(gtk_box_new(GTK_ORIENTATION_VERTICAL, 8), "page-flat-field");
    gtk_box_pack_start(
        GTK_BOX(page),
        Hint(T("The flat-field correction evens out shading and pixel differences; the defect "
               "filter replaces dead and hot pixels. Both work from a dark and a bright "
               "reference taken on full-sensor frames at the bit depth in use.")),
        FALSE, FALSE, 0);
    GtkWidget* hint = NamedLabel("flat-field-hint", "");
    gtk_label_set_line_wrap(GTK_LABEL(hint), TRUE);
    gtk_box_pack_start(GTK_BOX(page), hint, FALSE, FALSE, 0);
    GtkWidget* fullSensor = NamedButton("flat-field-full-sensor", T("Use the full sensor"));
    gtk_widget_set_halign(fullSensor, GTK_ALIGN_START);
    Connect(fullSensor, "clicked", [this] {
        if (camera_.Subsample() && !camera_.SetSubsample(false)) ShowError(camera_.LastError());
        if (!camera_.Window().Full() && !camera_.SetWindow(SensorWindow{}))
            ShowError(camera_.LastError());
        region_.reset();
        line_.reset();
        UpdateMeasureRequest();
        LoadControls();
    });
    gtk_box_pack_start(GTK_BOX(page), fullSensor, FALSE, FALSE, 0);

    // Steps 1 and 2: the references, each a short instruction and its button.
    GtkWidget* references = Grid();
    GtkWidget* dark = NamedButton("take-dark", T("Take the dark reference"));
    Connect(dark, "clicked", [this] { TakeReference(0); });
    GtkWidget* bright = NamedButton("take-bright", T("Take the bright reference"));
    Connect(bright, "clicked", [this] { TakeReference(1); });
    gtk_grid_attach(GTK_GRID(references),
                    Hint(T("1. Cap the lens so that no light reaches the sensor.")), 0, 0, 2, 1);
    gtk_grid_attach(GTK_GRID(references), dark, 0, 1, 1, 1);
    gtk_grid_attach(GTK_GRID(references),
                    Hint(T("2. Light the sensor evenly (a diffuser, or a uniform bright "
                           "surface), well below saturation.")),
                    0, 2, 2, 1);
    gtk_grid_attach(GTK_GRID(references), bright, 0, 3, 1, 1);
    gtk_grid_attach(GTK_GRID(references), NamedLabel("references", ""), 0, 4, 2, 1);
    gtk_box_pack_start(GTK_BOX(page), Framed(T("References"), references), FALSE, FALSE, 0);

    // Step 3: the switches, with the picture before they went on beside the live one.
    GtkWidget* corrections = Grid();
    GtkWidget* flat = NamedCheck("flat-field", T("3. Flat-field correction"));
    GtkWidget* defect = NamedCheck("defect-filter", T("Defect filter"));
    for (GtkWidget* toggle : {flat, defect}) {
        Connect(toggle, "toggled", [this] {
            if (!updating_) FlatFieldChanged();
        });
    }
    gtk_grid_attach(GTK_GRID(corrections), flat, 0, 0, 1, 1);
    gtk_grid_attach(GTK_GRID(corrections), defect, 1, 0, 1, 1);
    gtk_grid_set_column_homogeneous(GTK_GRID(corrections), TRUE);
    before_ = Plot("before", 160, 128);
    after_ = Plot("after", 160, 128);
    g_signal_connect(before_, "draw", G_CALLBACK(+[](GtkWidget* w, cairo_t* cr, gpointer self) {
                         DrawThumbnail(cr, w,
                                       static_cast<ViewerWindow*>(self)->beforeCorrection_.get());
                         return FALSE;
                     }),
                     this);
    g_signal_connect(after_, "draw", G_CALLBACK(+[](GtkWidget* w, cairo_t* cr, gpointer self) {
                         DrawThumbnail(cr, w, static_cast<ViewerWindow*>(self)->current_.get());
                         return FALSE;
                     }),
                     this);
    gtk_grid_attach(GTK_GRID(corrections), Caption(T("Before")), 0, 1, 1, 1);
    gtk_grid_attach(GTK_GRID(corrections), Caption(T("Now")), 1, 1, 1, 1);
    gtk_grid_attach(GTK_GRID(corrections), before_, 0, 2, 1, 1);
    gtk_grid_attach(GTK_GRID(corrections), after_, 1, 2, 1, 1);
    for (const auto& [name, column] : {std::pair{"before-spread", 0}, {"after-spread", 1}}) {
        GtkWidget* label = NamedLabel(name, "–");
        gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
        gtk_grid_attach(GTK_GRID(corrections), label, column, 3, 1, 1);
    }
    gtk_box_pack_start(GTK_BOX(page), Framed(T("Corrections"), corrections), FALSE, FALSE, 0);

    GtkWidget* files = Grid();
    GtkWidget* path = NamedEntry("mask-path", "", 24);
    gtk_entry_set_text(GTK_ENTRY(path),
                       (std::string(g_get_home_dir()) + "/lumora-references.msk").c_str());
    gtk_grid_attach(GTK_GRID(files), path, 0, 0, 3, 1);
    GtkWidget* browse = NamedButton("mask-browse", T("Choose…"));
    Connect(browse, "clicked", [this, path] {
        const std::string chosen = ChooseFile(window_, T("Mask file"), GTK_FILE_CHOOSER_ACTION_SAVE,
                                              "lumora-references.msk");
        if (!chosen.empty()) gtk_entry_set_text(GTK_ENTRY(path), chosen.c_str());
    });
    GtkWidget* save = NamedButton("save-mask", T("Save"));
    Connect(save, "clicked", [this, path] {
        const std::string file = gtk_entry_get_text(GTK_ENTRY(path));
        if (camera_.SaveMask(file)) {
            ShowMessage(std::string(T("References saved to")) + " " + file, GTK_MESSAGE_INFO);
        } else {
            ShowError(camera_.LastError());
        }
    });
    GtkWidget* load = NamedButton("load-mask", T("Load"));
    Connect(load, "clicked", [this, path] {
        const std::string file = gtk_entry_get_text(GTK_ENTRY(path));
        if (camera_.LoadMask(file)) {
            takenDark_ = takenBright_ = true;
            ShowMessage(std::string(T("References loaded from")) + " " + file, GTK_MESSAGE_INFO);
        } else {
            ShowError(camera_.LastError());
        }
        UpdateFlatFieldPage();
    });
    gtk_grid_attach(GTK_GRID(files), browse, 0, 1, 1, 1);
    gtk_grid_attach(GTK_GRID(files), save, 1, 1, 1, 1);
    gtk_grid_attach(GTK_GRID(files), load, 2, 1, 1, 1);
    gtk_box_pack_start(GTK_BOX(page), Framed(T("4. Mask file"), files), FALSE, FALSE, 0);
    return page;
}

GtkWidget* ViewerWindow::BuildSavePage() {
    GtkWidget* page = Named(gtk_box_new(GTK_ORIENTATION_VERTICAL, 8), "page-save");
    GtkWidget* files = Grid();
    const char* pictures = g_get_user_special_dir(G_USER_DIRECTORY_PICTURES);
    GtkWidget* folder = NamedEntry("folder", pictures != nullptr ? pictures : g_get_home_dir(), 20);
    Row(files, 0, T("Folder"), folder, 1);
    GtkWidget* browse = NamedButton("folder-browse", T("Choose…"));
    Connect(browse, "clicked", [this, folder] {
        const std::string chosen =
            ChooseFile(window_, T("Folder"), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "");
        if (!chosen.empty()) gtk_entry_set_text(GTK_ENTRY(folder), chosen.c_str());
    });
    gtk_grid_attach(GTK_GRID(files), browse, 2, 0, 1, 1);
    Row(files, 1, T("Name"), NamedEntry("name-pattern", "lumora-####", 16));
    Row(files, 2, T("Next number"), NamedSpin("counter", 0, 999999, 1, 0));
    gtk_grid_attach(GTK_GRID(files),
                    Hint(T("A run of # in the name becomes the number (at least that many "
                           "digits); existing files are never overwritten.")),
                    0, 3, 3, 1);
    gtk_box_pack_start(GTK_BOX(page), Framed(T("Files"), files), FALSE, FALSE, 0);

    GtkWidget* snap = Grid();
    std::vector<std::string> formats;
    for (const ImageFormat& f : ImageFormats()) formats.push_back(T(f.label));
    GtkWidget* format = NamedCombo("format", formats);
    gtk_combo_box_set_active(GTK_COMBO_BOX(format), 0);
    Row(snap, 0, T("Format"), format);
    GtkWidget* take = NamedButton("take-snapshot", T("Save a snapshot"));
    Connect(take, "clicked", [this] { Snapshot(); });
    gtk_grid_attach(GTK_GRID(snap), take, 1, 1, 1, 1);
    gtk_grid_attach(GTK_GRID(snap),
                    Hint(T("Files carry the bit depth of the frames (8 or 16 bits, on the Camera "
                           "page); 16-bit files hold the 12-bit values.")),
                    0, 2, 3, 1);
    gtk_box_pack_start(GTK_BOX(page), Framed(T("Snapshot"), snap), FALSE, FALSE, 0);

    GtkWidget* record = Grid();
    GtkWidget* seconds = NamedSpin("record-seconds", 1, 3600, 1, 0);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(seconds), 10);
    Row(record, 0, T("Duration (s)"), seconds);
    GtkWidget* start = NamedButton("record-start", T("Record"));
    Connect(start, "clicked", [this] { SetActive(W("record"), !Active(W("record"))); });
    gtk_grid_attach(GTK_GRID(record), start, 1, 1, 1, 1);
    GtkWidget* progress = Named(gtk_progress_bar_new(), "record-progress");
    gtk_progress_bar_set_show_text(GTK_PROGRESS_BAR(progress), TRUE);
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(progress), "");
    gtk_grid_attach(GTK_GRID(record), progress, 0, 2, 3, 1);
    GtkWidget* state = NamedLabel("record-state", "");
    gtk_label_set_line_wrap(GTK_LABEL(state), TRUE);
    gtk_grid_attach(GTK_GRID(record), state, 0, 3, 3, 1);
    gtk_grid_attach(GTK_GRID(record),
                    Hint(T("Uncompressed AVI (24-bit gray). When the disk is slower than the "
                           "camera, frames are skipped and counted; the live picture goes on.")),
                    0, 4, 3, 1);
    gtk_box_pack_start(GTK_BOX(page), Framed(T("Recording"), record), FALSE, FALSE, 0);
    GtkWidget* last = NamedLabel("last-file", "");
    gtk_label_set_line_wrap(GTK_LABEL(last), TRUE);
    gtk_label_set_selectable(GTK_LABEL(last), TRUE);
    gtk_box_pack_start(GTK_BOX(page), last, FALSE, FALSE, 0);
    return page;
}

// ---- controls -------------------------------------------------------------------------------

void ViewerWindow::LoadControls() {
    if (!camera_.IsOpen()) {
        SetControlsSensitive();
        return;
    }
    updating_ = true;
    const CameraRanges r = camera_.Ranges();
    GtkWidget* exposure = W("exposure");
    gtk_spin_button_set_range(GTK_SPIN_BUTTON(exposure), r.exposureMinMs, r.exposureMaxMs);
    gtk_range_set_range(GTK_RANGE(W("exposure-scale")), std::log10(r.exposureMinMs),
                        std::log10(r.exposureMaxMs));
    SetText(W("exposure-range"),
            Format("%s %.3f – %.0f ms", T("Range"), r.exposureMinMs, r.exposureMaxMs));
    const double ms = camera_.ExposureMs();
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(exposure), ms);
    gtk_range_set_value(GTK_RANGE(W("exposure-scale")), std::log10(std::max(ms, 1e-6)));
    if (r.gainMax > r.gainMin) gtk_range_set_range(GTK_RANGE(W("gain")), r.gainMin, r.gainMax);
    gtk_range_set_value(GTK_RANGE(W("gain")), camera_.Gain());
    gtk_spin_button_set_range(GTK_SPIN_BUTTON(W("black-level")), r.blackLevelMin, r.blackLevelMax);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(W("black-level")), camera_.Filter(kFilterBlackLevel));
    gtk_combo_box_set_active(GTK_COMBO_BOX(W("gain-mode")), camera_.Filter(kFilterGainMode));
    gtk_combo_box_set_active(GTK_COMBO_BOX(W("auto-exposure")), camera_.AutoIris());
    gtk_combo_box_set_active(GTK_COMBO_BOX(W("bit-depth")), camera_.Bits() == 16 ? 1 : 0);
    SetActive(W("mirror-h"), camera_.MirrorH());
    SetActive(W("mirror-v"), camera_.MirrorV());
    SetActive(W("subsample"), camera_.Subsample());
    ShowWindowSpins(camera_.Window());
    SetActive(W("cooler"), camera_.Cooler());
    for (const auto& [name, id] : {std::pair{"brightness", kFilterBrightness},
                                   {"contrast", kFilterContrast},
                                   {"gamma", kFilterGamma},
                                   {"sharpness", kFilterSharpness}})
        gtk_range_set_value(GTK_RANGE(W(name)), camera_.Filter(id));
    SetActive(W("flat-field"), camera_.Filter(kFilterMask) == 1);
    SetActive(W("defect-filter"), camera_.Filter(kFilterDot) == 1);
    updating_ = false;
    SetControlsSensitive();
    UpdateFlatFieldPage();
}

void ViewerWindow::SetControlsSensitive() {
    const bool open = camera_.IsOpen();
    for (const char* name :
         {"page-camera", "page-cooler", "page-filters", "page-flat-field", "live", "snapshot",
          "take-snapshot", "menu-snapshot", "menu-load-profile", "menu-save-profile",
          "menu-camera-dialog", "menu-image-dialog", "menu-analog-dialog"})
        gtk_widget_set_sensitive(W(name), open);
    const bool triggered = camera_.Mode() == RunMode::kTriggered;
    // A recording rides on the free-running run; a triggered one cannot feed it.
    gtk_widget_set_sensitive(W("record"), open && (!triggered || recording_));
    gtk_widget_set_sensitive(W("record-start"), open && (!triggered || recording_));
    const bool sub = open && camera_.Subsample();
    for (const char* name : {"window-x", "window-y", "window-width", "window-height",
                             "window-apply", "window-full", "tool-window"})
        gtk_widget_set_sensitive(W(name), open && !sub);
    gtk_widget_set_sensitive(W("software-trigger"), triggered && camera_.CanFireTrigger());
}

void ViewerWindow::ExposureChanged(double ms) {
    if (!camera_.SetExposureMs(ms)) {
        // The range moves with the bit depth: a value just outside it gets its nearest end.
        const CameraRanges r = camera_.Ranges();
        const double nearest = std::clamp(ms, r.exposureMinMs, r.exposureMaxMs);
        if (nearest == ms || !camera_.SetExposureMs(nearest)) ShowError(camera_.LastError());
        LoadControls();
    }
    // The camera takes the exposure in whole sensor lines: show what it took.
    const double taken = camera_.ExposureMs();
    updating_ = true;
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(W("exposure")), taken);
    gtk_range_set_value(GTK_RANGE(W("exposure-scale")), std::log10(std::max(taken, 1e-6)));
    updating_ = false;
}

void ViewerWindow::ShowWindowSpins(const SensorWindow& window) {
    const bool was = updating_;
    updating_ = true;
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(W("window-x")), window.x);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(W("window-y")), window.y);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(W("window-width")), window.width);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(W("window-height")), window.height);
    updating_ = was;
}

void ViewerWindow::WindowFromSpins() {
    SensorWindow wanted;
    wanted.x = static_cast<int>(SpinValue(W("window-x")));
    wanted.y = static_cast<int>(SpinValue(W("window-y")));
    wanted.width = static_cast<int>(SpinValue(W("window-width")));
    wanted.height = static_cast<int>(SpinValue(W("window-height")));
    const SensorWindow window = SnapToGrid(wanted);
    if (!camera_.SetWindow(window)) ShowError(camera_.LastError());
    // Rectangles and lines were drawn on the old picture.
    region_.reset();
    line_.reset();
    UpdateMeasureRequest();
    ShowWindowSpins(camera_.Window());
    ZoomFit();
    SetControlsSensitive();
}

void ViewerWindow::ApplyDrawnWindow() {
    if (!drawnWindow_ || current_ == nullptr) return;
    const PixelRect rect = *drawnWindow_;
    drawnWindow_.reset();
    if (rect.width < 2 || rect.height < 2) {  // a click, not a drawing
        PictureChanged();
        return;
    }
    const int divisor = camera_.Subsample() ? 2 : 1;
    ShowWindowSpins(WindowForPictureRect(rect, camera_.Window(), divisor));
    WindowFromSpins();
}

void ViewerWindow::TriggerModeChanged() {
    if (camera_.Mode() != RunMode::kStopped) SetLive(true);
    SetControlsSensitive();
}

void ViewerWindow::FlatFieldChanged() {
    const bool flat = Active(W("flat-field"));
    const bool defect = Active(W("defect-filter"));
    const bool wasOff = camera_.Filter(kFilterMask) != 1 && camera_.Filter(kFilterDot) != 1;
    // The picture just before a correction goes on is the "before" of the comparison.
    if (wasOff && (flat || defect)) beforeCorrection_ = current_;
    if (!camera_.SetMaskFilter(flat)) ShowError(camera_.LastError());
    if (!camera_.SetDotFilter(defect)) ShowError(camera_.LastError());
    UpdateFlatFieldPage();
}

void ViewerWindow::TakeReference(int which) {
    if (camera_.Mode() == RunMode::kTriggered) {
        ShowMessage(T("Switch the trigger mode off to take references."), GTK_MESSAGE_WARNING);
        return;
    }
    const FrameGeometry g = camera_.Geometry();
    if (g.width != kSensorWidth || g.height != kSensorHeight) {
        ShowMessage(T("The references need full-sensor frames: choose the full sensor and no "
                      "subsampling first."),
                    GTK_MESSAGE_WARNING);
        return;
    }
    if (camera_.Mode() == RunMode::kStopped) SetLive(true);
    // A reference is the raw frame: the corrections stay off until a frame made without them
    // is in the session, then come back as they were.
    referenceMask_ = camera_.Filter(kFilterMask) == 1;
    referenceDot_ = camera_.Filter(kFilterDot) == 1;
    camera_.SetMaskFilter(false);
    camera_.SetDotFilter(false);
    pendingReference_ = which;
    referenceAfterFrame_ = (current_ != nullptr ? current_->frame->number : 0) + 3;
    UpdateFlatFieldPage();
}

void ViewerWindow::FinishReference() {
    const int which = pendingReference_;
    pendingReference_ = -1;
    const bool ok = camera_.TakeReference(which);
    const CameraSession::Error error = camera_.LastError();
    camera_.SetMaskFilter(referenceMask_);
    camera_.SetDotFilter(referenceDot_);
    if (!ok) {
        ShowError(error);
    } else if (which == 0) {
        takenDark_ = true;
    } else {
        takenBright_ = true;
    }
    UpdateFlatFieldPage();
}

void ViewerWindow::UpdateFlatFieldPage() {
    const FrameGeometry g = camera_.IsOpen() ? camera_.Geometry() : FrameGeometry{};
    const bool full = g.width == kSensorWidth && g.height == kSensorHeight;
    const bool busy = pendingReference_ >= 0;
    SetText(W("flat-field-hint"), full ? "" : T("The references need full-sensor frames."));
    gtk_widget_set_visible(W("flat-field-full-sensor"), camera_.IsOpen() && !full);
    gtk_widget_set_sensitive(W("take-dark"), full && !busy);
    gtk_widget_set_sensitive(W("take-bright"), full && !busy);
    std::string state;
    if (busy) {
        state = T("Taking the reference…");
    } else {
        state = Format("%s: %s   %s: %s", T("Dark"), takenDark_ ? T("taken") : T("not taken"),
                       T("Bright"), takenBright_ ? T("taken") : T("not taken"));
        state += Format("  (%d %s)", g.bits, T("bits"));
    }
    SetText(W("references"), state);
    SetText(W("before-spread"), Spread(beforeCorrection_.get()));
    SetText(W("after-spread"), Spread(current_.get()));
    gtk_widget_queue_draw(before_);
    gtk_widget_queue_draw(after_);
}

// ---- files ----------------------------------------------------------------------------------

std::optional<FileNamePattern::Slot> ViewerWindow::NextFile(const char* extension) {
    const auto pattern = FileNamePattern::Parse(gtk_entry_get_text(GTK_ENTRY(W("name-pattern"))));
    if (!pattern) {
        ShowMessage(T("The file name must not be empty or contain a '/'."), GTK_MESSAGE_WARNING);
        return std::nullopt;
    }
    std::string folder = gtk_entry_get_text(GTK_ENTRY(W("folder")));
    if (folder.empty()) folder = ".";
    if (g_mkdir_with_parents(folder.c_str(), 0755) != 0) {
        ShowMessage(std::string(T("Cannot create the folder")) + " " + folder, GTK_MESSAGE_ERROR);
        return std::nullopt;
    }
    // A number is used once, whatever kind of file holds it.
    return pattern->NextFree(
        folder, static_cast<int>(SpinValue(W("counter"))), extension, [](const std::string& stem) {
            for (const char* ext : {".png", ".tif", ".bmp", ".raw", ".jpg", ".avi"}) {
                if (g_file_test((stem + ext).c_str(), G_FILE_TEST_EXISTS)) return true;
            }
            return false;
        });
}

void ViewerWindow::Snapshot() {
    const int index = gtk_combo_box_get_active(GTK_COMBO_BOX(W("format")));
    const auto& formats = ImageFormats();
    const ImageFormat& format = formats[static_cast<size_t>(std::max(index, 0))];
    const auto slot = NextFile(format.extension);
    if (!slot) return;
    if (!camera_.SaveImage(slot->path, format.code)) {
        ShowError(camera_.LastError());
        return;
    }
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(W("counter")), slot->counter + 1);
    SetText(W("last-file"), (std::string(T("Saved")) + " " + slot->path));
}

void ViewerWindow::RecordToggled() {
    const bool on = Active(W("record"));
    if (!on) {
        if (recording_) camera_.StopRecording();
        UpdateRecordProgress();
        return;
    }
    const auto slot = NextFile(".avi");
    recordSeconds_ = static_cast<int>(SpinValue(W("record-seconds")));
    if (!slot || !camera_.Record(slot->path, recordSeconds_ * 1000)) {
        if (slot) ShowError(camera_.LastError());
        updating_ = true;
        SetActive(W("record"), false);
        updating_ = false;
        SyncLiveButton();
        return;
    }
    recording_ = true;
    recordPath_ = slot->path;
    recordFirstFrame_.reset();
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(W("counter")), slot->counter + 1);
    gtk_button_set_label(GTK_BUTTON(W("record-start")), T("Stop recording"));
    // The run the recording rides on shows as live.
    updating_ = true;
    SetActive(W("live"), true);
    updating_ = false;
    SetControlsSensitive();
    UpdateRecordProgress();
}

void ViewerWindow::UpdateRecordProgress() {
    if (!recording_) return;
    const LumoraRecordStats s = camera_.RecordStats();
    const auto now = std::chrono::steady_clock::now();
    if (s.framesWritten > 0 && !recordFirstFrame_) recordFirstFrame_ = now;
    // The duration runs from the first frame in the file, as the recorder measures it.
    const double elapsed =
        recordFirstFrame_ ? std::chrono::duration<double>(now - *recordFirstFrame_).count() : 0;
    const double shown = std::min(elapsed, static_cast<double>(recordSeconds_));
    GtkProgressBar* bar = GTK_PROGRESS_BAR(W("record-progress"));
    gtk_progress_bar_set_fraction(bar, recordSeconds_ > 0 ? shown / recordSeconds_ : 0);
    gtk_progress_bar_set_text(bar, Format("%.1f / %d s", shown, recordSeconds_).c_str());
    const std::string figures =
        Format("%llu %s, %llu %s, %.1f MB", static_cast<unsigned long long>(s.framesWritten),
               T("frames"), static_cast<unsigned long long>(s.framesSkipped), T("skipped"),
               static_cast<double>(s.bytesWritten) / 1e6);
    if (s.recording != 0) {
        SetText(W("record-state"), (std::string(T("Recording:")) + " " + figures));
        return;
    }
    recording_ = false;
    gtk_progress_bar_set_fraction(bar, 1.0);
    SetText(W("record-state"), (std::string(T("Recorded:")) + " " + figures +
                                Format(", %.2f %s", s.rate / 100.0, T("fps"))));
    SetText(W("last-file"), (std::string(T("Saved")) + " " + recordPath_));
    gtk_button_set_label(GTK_BUTTON(W("record-start")), T("Record"));
    updating_ = true;
    SetActive(W("record"), false);
    updating_ = false;
    SetControlsSensitive();
}

void ViewerWindow::SaveProfile() {
    const std::string path = ChooseFile(window_, T("Save settings profile"),
                                        GTK_FILE_CHOOSER_ACTION_SAVE, "camera.lumora-profile");
    if (path.empty()) return;
    const std::string text = CollectProfile(camera_).Text();
    GError* error = nullptr;
    if (!g_file_set_contents(path.c_str(), text.c_str(), static_cast<gssize>(text.size()),
                             &error)) {
        ShowMessage(std::string(T("Cannot save the settings profile:")) + " " + error->message,
                    GTK_MESSAGE_ERROR);
        g_error_free(error);
        return;
    }
    ShowMessage(std::string(T("Settings saved to")) + " " + path, GTK_MESSAGE_INFO);
}

void ViewerWindow::LoadProfile() {
    const std::string path =
        ChooseFile(window_, T("Load settings profile"), GTK_FILE_CHOOSER_ACTION_OPEN, "");
    if (path.empty()) return;
    gchar* contents = nullptr;
    gsize length = 0;
    GError* error = nullptr;
    if (!g_file_get_contents(path.c_str(), &contents, &length, &error)) {
        ShowMessage(std::string(T("Cannot read the settings profile:")) + " " + error->message,
                    GTK_MESSAGE_ERROR);
        g_error_free(error);
        return;
    }
    std::vector<std::string> problems;
    const auto profile = SettingsProfile::Parse(std::string(contents, length), problems);
    g_free(contents);
    if (!profile) {
        ShowMessage(std::string(T("Not a settings profile of this viewer:")) + " " + path,
                    GTK_MESSAGE_ERROR);
        return;
    }
    for (const std::string& p : ApplyProfile(camera_, *profile)) problems.push_back(p);
    region_.reset();
    line_.reset();
    UpdateMeasureRequest();
    LoadControls();
    SyncLiveButton();
    if (problems.empty()) {
        ShowMessage(std::string(T("Settings loaded from")) + " " + path, GTK_MESSAGE_INFO);
        return;
    }
    std::string text =
        std::string(T("Settings loaded from")) + " " + path + "; " + T("not applied:");
    for (const std::string& p : problems) text += "\n  " + p;
    ShowMessage(text, GTK_MESSAGE_WARNING);
}

void ViewerWindow::OpenDialog(int which) {
    HWND owner = Owner();
    bool ok = false;
    switch (which) {
        case 0:
            ok = camera_.CameraDialog(owner);
            region_.reset();
            line_.reset();
            UpdateMeasureRequest();
            break;
        case 1:
            ok = camera_.ImageDialog(owner);
            break;
        default:
            ok = camera_.AnalogDialog(owner);
            break;
    }
    if (!ok) ShowError(camera_.LastError());
    LoadControls();
    SyncLiveButton();
}

}  // namespace lumora_viewer
