// The picture: drawn from the frame on show through the renderer into a surface the size of the
// area (renewed only when a new frame came or the view changed), with the user's rectangle,
// line and capture window on top; the pointer probes, draws and pans, the wheel zooms.
#include <cmath>

#include "Text.h"
#include "ViewerWindow.h"
#include "Widgets.h"

namespace lumora_viewer {
namespace {

constexpr double kWheelZoom = 1.25;

}  // namespace

void ViewerWindow::BuildPicture() {
    picture_ = Named(gtk_drawing_area_new(), "picture");
    gtk_widget_set_size_request(picture_, 320, 256);
    gtk_widget_set_hexpand(picture_, TRUE);
    gtk_widget_set_vexpand(picture_, TRUE);
    gtk_widget_add_events(picture_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                        GDK_POINTER_MOTION_MASK | GDK_SCROLL_MASK |
                                        GDK_LEAVE_NOTIFY_MASK);
    g_signal_connect(picture_, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer self) {
                         return static_cast<ViewerWindow*>(self)->DrawPicture(cr);
                     }),
                     this);
    g_signal_connect(picture_, "button-press-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEventButton* e, gpointer self) -> gboolean {
                         static_cast<ViewerWindow*>(self)->PointerPressed(e);
                         return TRUE;
                     }),
                     this);
    g_signal_connect(picture_, "motion-notify-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEventMotion* e, gpointer self) -> gboolean {
                         static_cast<ViewerWindow*>(self)->PointerMoved(e);
                         return TRUE;
                     }),
                     this);
    g_signal_connect(picture_, "button-release-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEventButton* e, gpointer self) -> gboolean {
                         static_cast<ViewerWindow*>(self)->PointerReleased(e);
                         return TRUE;
                     }),
                     this);
    g_signal_connect(picture_, "scroll-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEventScroll* e, gpointer self) -> gboolean {
                         static_cast<ViewerWindow*>(self)->Scrolled(e);
                         return TRUE;
                     }),
                     this);
    g_signal_connect(picture_, "leave-notify-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                         auto* v = static_cast<ViewerWindow*>(self);
                         v->pointer_.reset();
                         v->UpdateProbe();
                         return FALSE;
                     }),
                     this);
}

void ViewerWindow::RenderPicture(int width, int height) {
    if (surface_ == nullptr || cairo_image_surface_get_width(surface_) != width ||
        cairo_image_surface_get_height(surface_) != height) {
        if (surface_ != nullptr) cairo_surface_destroy(surface_);
        surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    }
    cairo_surface_flush(surface_);
    unsigned char* pixels = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    if (current_ != nullptr) {
        renderer_.Render(*current_->frame, view_, Levels(), pixels, stride, width, height);
        if (current_->frame->number != drawnNumber_) ++framesDrawn_;
        drawnNumber_ = current_->frame->number;
    } else {
        Frame none;
        renderer_.Render(none, view_, Levels(), pixels, stride, width, height);
    }
    cairo_surface_mark_dirty(surface_);
    pictureDirty_ = false;
}

gboolean ViewerWindow::DrawPicture(cairo_t* cr) {
    const int width = gtk_widget_get_allocated_width(picture_);
    const int height = gtk_widget_get_allocated_height(picture_);
    if (width <= 0 || height <= 0) return FALSE;
    if (width != view_.ViewportWidth() || height != view_.ViewportHeight()) {
        view_.SetViewport(width, height);
        pictureDirty_ = true;
    }
    if (pictureDirty_ || surface_ == nullptr) RenderPicture(width, height);
    cairo_set_source_surface(cr, surface_, 0, 0);
    cairo_paint(cr);

    if (current_ == nullptr) {
        // Pango, so the text finds glyphs in any language's fonts.
        PangoLayout* layout = gtk_widget_create_pango_layout(
            picture_, camera_.IsOpen() ? T("Waiting for frames…") : T("No camera"));
        cairo_set_source_rgb(cr, 0.7, 0.7, 0.7);
        cairo_move_to(cr, 20, 20);
        pango_cairo_show_layout(cr, layout);
        g_object_unref(layout);
        return FALSE;
    }
    // Outlines around pixels: from the left edge of the first to the right edge of the last.
    const auto outline = [&](const PixelRect& r) {
        const double x0 = view_.ToAreaX(r.x);
        const double y0 = view_.ToAreaY(r.y);
        cairo_rectangle(cr, std::floor(x0) + 0.5, std::floor(y0) + 0.5,
                        std::round(view_.ToAreaX(r.x + r.width) - x0),
                        std::round(view_.ToAreaY(r.y + r.height) - y0));
    };
    cairo_set_line_width(cr, 1.0);
    if (region_) {
        cairo_set_source_rgb(cr, 1.0, 0.85, 0.1);
        outline(*region_);
        cairo_stroke(cr);
    }
    if (line_) {
        cairo_set_source_rgb(cr, 0.2, 0.9, 1.0);
        cairo_move_to(cr, view_.ToAreaX(line_->first.x + 0.5), view_.ToAreaY(line_->first.y + 0.5));
        cairo_line_to(cr, view_.ToAreaX(line_->second.x + 0.5),
                      view_.ToAreaY(line_->second.y + 0.5));
        cairo_stroke(cr);
    }
    if (drawnWindow_) {
        // The window as the camera will take it: snapped to its grid.
        const int divisor = camera_.Subsample() ? 2 : 1;
        const SensorWindow current = camera_.Window();
        const SensorWindow snapped = WindowForPictureRect(*drawnWindow_, current, divisor);
        const double dashes[] = {6.0, 4.0};
        cairo_set_dash(cr, dashes, 2, 0);
        cairo_set_source_rgb(cr, 0.3, 1.0, 0.3);
        outline(PictureRectOf(snapped, current, divisor));
        cairo_stroke(cr);
        cairo_set_dash(cr, nullptr, 0, 0);
        char text[64];
        std::snprintf(text, sizeof text, "%d, %d  %d × %d", snapped.x, snapped.y, snapped.width,
                      snapped.height);
        cairo_set_font_size(cr, 12);
        cairo_move_to(cr, view_.ToAreaX(drawnWindow_->x) + 4, view_.ToAreaY(drawnWindow_->y) - 4);
        cairo_show_text(cr, text);
    }
    return FALSE;
}

void ViewerWindow::SyncViewport() {
    // The area may have changed size since it was last drawn.
    view_.SetViewport(gtk_widget_get_allocated_width(picture_),
                      gtk_widget_get_allocated_height(picture_));
}

void ViewerWindow::PointerPressed(GdkEventButton* event) {
    if (event->type != GDK_BUTTON_PRESS) return;
    SyncViewport();
    dragStartX_ = event->x;
    dragStartY_ = event->y;
    dragFrom_ = view_.PixelAt(event->x, event->y);
    if (event->button == 2 || (event->button == 1 && tool_ == PictureTool::kProbe)) {
        panning_ = true;
        return;
    }
    if (event->button != 1 || current_ == nullptr) return;
    const FrameGeometry& g = current_->frame->geometry;
    // A drawing starts on the picture, at its nearest pixel.
    dragFrom_.x = std::clamp(dragFrom_.x, 0, g.width - 1);
    dragFrom_.y = std::clamp(dragFrom_.y, 0, g.height - 1);
    dragging_ = true;
}

void ViewerWindow::PointerMoved(GdkEventMotion* event) {
    SyncViewport();
    pointer_ = view_.PixelAt(event->x, event->y);
    UpdateProbe();
    if (panning_) {
        view_.PanBy(event->x - dragStartX_, event->y - dragStartY_);
        dragStartX_ = event->x;
        dragStartY_ = event->y;
        PictureChanged();
        return;
    }
    if (!dragging_ || current_ == nullptr) return;
    const FrameGeometry& g = current_->frame->geometry;
    const PixelPoint to{std::clamp(pointer_->x, 0, g.width - 1),
                        std::clamp(pointer_->y, 0, g.height - 1)};
    switch (tool_) {
        case PictureTool::kRectangle:
            region_ = PixelRect::Spanning(dragFrom_.x, dragFrom_.y, to.x, to.y);
            UpdateMeasureRequest();
            break;
        case PictureTool::kLine:
            line_ = std::make_pair(dragFrom_, to);
            UpdateMeasureRequest();
            break;
        case PictureTool::kWindow:
            drawnWindow_ = PixelRect::Spanning(dragFrom_.x, dragFrom_.y, to.x, to.y);
            break;
        case PictureTool::kProbe:
            break;
    }
    gtk_widget_queue_draw(picture_);  // the overlays only: the picture's pixels stay
}

void ViewerWindow::PointerReleased(GdkEventButton* event) {
    if (panning_) {
        panning_ = false;
        return;
    }
    if (!dragging_) return;
    GdkEventMotion last{};
    last.x = event->x;
    last.y = event->y;
    PointerMoved(&last);
    dragging_ = false;
    if (tool_ == PictureTool::kWindow) ApplyDrawnWindow();
}

void ViewerWindow::Scrolled(GdkEventScroll* event) {
    double factor = 1.0;
    if (event->direction == GDK_SCROLL_UP) factor = kWheelZoom;
    if (event->direction == GDK_SCROLL_DOWN) factor = 1.0 / kWheelZoom;
    if (event->direction == GDK_SCROLL_SMOOTH) factor = std::pow(kWheelZoom, -event->delta_y);
    if (factor == 1.0) return;
    SyncViewport();
    view_.ZoomBy(factor, event->x, event->y);
    PictureChanged();
}

void ViewerWindow::ZoomFit() {
    view_.Fit();
    PictureChanged();
}

void ViewerWindow::ZoomActual() {
    SyncViewport();
    view_.SetScale(1.0, view_.ViewportWidth() / 2.0, view_.ViewportHeight() / 2.0);
    PictureChanged();
}

void ViewerWindow::ZoomBy(double factor) {
    SyncViewport();
    view_.ZoomBy(factor, view_.ViewportWidth() / 2.0, view_.ViewportHeight() / 2.0);
    PictureChanged();
}

}  // namespace lumora_viewer
