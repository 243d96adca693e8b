// lumora-viewer: the desktop application for Lumora cameras (live picture, measurements,
// controls, flat field, snapshots and recordings).
//
//   lumora-viewer [--sim N] [--device N]
#include <gtk/gtk.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Text.h"
#include "ViewerWindow.h"

#ifndef LUMORA_VIEWER_LOCALEDIR
#define LUMORA_VIEWER_LOCALEDIR "/usr/local/share/locale"
#endif

namespace {

// The translations beside the program (a build tree), in the installed tree's share/locale,
// or where the build installs them.
std::string LocaleFolder() {
    if (const char* dir = std::getenv("LUMORA_VIEWER_LOCALEDIR"); dir != nullptr && *dir != '\0')
        return dir;
    char self[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        const std::string program(self, static_cast<size_t>(n));
        const std::string folder = program.substr(0, program.rfind('/'));
        for (const std::string& candidate : {folder + "/locale", folder + "/../share/locale"}) {
            if (g_file_test((candidate + "/ja/LC_MESSAGES/lumora-viewer.mo").c_str(),
                            G_FILE_TEST_EXISTS))
                return candidate;
        }
    }
    return LUMORA_VIEWER_LOCALEDIR;
}

}  // namespace

int main(int argc, char** argv) {
    int sim = -1;
    int device = -1;
    const GOptionEntry entries[] = {
        {"sim", 0, 0, G_OPTION_ARG_INT, &sim, "Use N simulated cameras (no hardware needed)", "N"},
        {"device", 0, 0, G_OPTION_ARG_INT, &device, "Open camera number N", "N"},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
    };
    // X11 first: the settings dialogs are placed over the viewer through its X11 window.
    gdk_set_allowed_backends("x11,*");
    GError* error = nullptr;
    if (!gtk_init_with_args(&argc, &argv, "- live picture and measurements for Lumora cameras",
                            entries, nullptr, &error)) {
        // Without a display GTK says little ("Cannot open display: "): say what is needed.
        std::fprintf(stderr, "lumora-viewer needs a desktop (X11, or XWayland): %s\n",
                     error != nullptr ? error->message : "cannot open the display");
        if (error != nullptr) g_error_free(error);
        return 1;
    }
    if (sim > 32) {
        std::fprintf(stderr, "lumora-viewer: --sim takes 0 to 32 cameras\n");
        return 2;
    }
    lumora_viewer::LoadTranslations(LocaleFolder());
    lumora_viewer::ViewerOptions options;
    options.sim = sim;
    options.device = device;
    lumora_viewer::ViewerWindow viewer(options);
    viewer.OnClosed([] { gtk_main_quit(); });
    gtk_widget_show(viewer.Window());
    gtk_main();
    return 0;
}
