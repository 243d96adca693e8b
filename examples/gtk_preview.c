/*
 * The live picture inside a GTK 3 application: the SDK draws into a child of the drawing
 * area's native X11 window (under X11, or XWayland with the x11 backend).
 *
 *   example_gtk_preview [seconds]     (0 or none: until the window is closed)
 */
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>

#include "lumora/host.h"
#include "lumora/lumora.h"

enum { kAreaWidth = 640, kAreaHeight = 512 };

typedef struct {
    int handle;
    HWND parent;
    int failed;
} Preview;

static gboolean quit_now(gpointer data) {
    (void)data;
    gtk_main_quit();
    return G_SOURCE_REMOVE;
}

static void on_realize(GtkWidget* area, gpointer data) {
    Preview* preview = data;
    /* The drawing area's own window, made native so the SDK can place a child in it; the sync
     * makes sure the server knows it before the SDK's connection looks for it. */
    unsigned long xid = gdk_x11_window_get_xid(gtk_widget_get_window(area));
    gdk_display_sync(gtk_widget_get_display(area));
    preview->parent = LumoraHost_WrapX11Window(xid);
    if (preview->parent == NULL ||
        !Lumora_SetPreviewWindow(preview->handle, preview->parent, 0, 0, kAreaWidth, kAreaHeight) ||
        !Lumora_Preview(preview->handle)) {
        fprintf(stderr, "cannot start the preview (error %d)\n",
                Lumora_GetLastError(preview->handle));
        preview->failed = 1;
        g_idle_add(quit_now, NULL);
    }
}

int main(int argc, char** argv) {
    gdk_set_allowed_backends("x11");
    if (!gtk_init_check(&argc, &argv)) {
        fprintf(stderr, "no X display\n");
        return 1;
    }
    Preview preview = {Lumora_Initialize(NULL), NULL, 0};
    static char names[10 * 256];
    if (preview.handle == 0 || Lumora_EnumDevice(preview.handle, names) < 1) {
        fprintf(stderr, "no camera\n");
        return 1;
    }
    Lumora_SetSubSample(preview.handle, 1); /* a quarter of the pixels: 1280 x 1024 */

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Lumora in GTK");
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    GtkWidget* label = gtk_label_new("The picture below is drawn by the SDK.");
    GtkWidget* area = gtk_drawing_area_new();
    gtk_widget_set_size_request(area, kAreaWidth, kAreaHeight);
    gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 4);
    gtk_box_pack_start(GTK_BOX(box), area, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    g_signal_connect(area, "realize", G_CALLBACK(on_realize), &preview);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_widget_show_all(window);

    const int seconds = argc > 1 ? atoi(argv[1]) : 0;
    if (seconds > 0) g_timeout_add_seconds((guint)seconds, quit_now, NULL);
    gtk_main();

    /* The run ends before the parent window goes away. */
    Lumora_StopPreview(preview.handle);
    Lumora_Close(preview.handle);
    Lumora_Release(preview.handle);
    if (preview.parent != NULL) LumoraHost_DestroyWindow(preview.parent);
    return preview.failed;
}
