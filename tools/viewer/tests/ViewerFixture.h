#pragma once
// The viewer on a display, driven as a user drives it: widgets found by their names, clicks,
// typed values, drags on the picture, menus; the main loop runs while the test waits for what
// the user would wait for. Without a display (and no Xvfb to start) or under ThreadSanitizer
// (GTK's own threads are not instrumented) the tests skip.
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>

#include "SimCamera.h"
#include "ViewerWindow.h"

namespace lumora_viewer::testing {

class ViewerTest : public SimCameraWorld {
protected:
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Opens the viewer on `cameras` simulated cameras and waits until its window is mapped.
    void OpenViewer(int cameras = 1, int device = -1);
    ViewerWindow& Viewer() { return *viewer_; }
    GtkWidget* W(const char* name);

    // Runs the main loop until `done` holds or `seconds` pass.
    bool PumpUntil(const std::function<bool()>& done, double seconds = 20);
    // Frames the display has shown so far; waits for `n` more.
    uint64_t Shown();
    bool WaitFrames(int n, double seconds = 20);

    void Click(const char* name);
    void Toggle(const char* name, bool on);
    void Select(const char* name, int index);
    void SetSpin(const char* name, double value);
    void SetEntry(const char* name, const std::string& text);
    void ActivateMenu(const char* name);
    std::string Text(const char* name);
    // Bit depth, capture window and exposure through the Camera page, then a frame of them.
    void Configure(int bits, int width, int height, double exposureMs, int x = 0, int y = 0);
    // A drag with the left button on the picture between two image pixels (fit to the area).
    void DragOnPicture(int x0, int y0, int x1, int y1);
    // Saves the window as docs-ready PNG in LUMORA_SCREENSHOT_DIR, if set.
    void Screenshot(const std::string& name);
    // Runs `step` in the main loop every 150 ms until it returns true (for modal windows that
    // run their own loop, such as the settings dialogs and file choosers).
    static void WhileModal(std::function<bool()> step);

    std::unique_ptr<ViewerWindow> viewer_;
    guint pulse_ = 0;
};

// The visible toplevel window named `name`, or of the given type; null when none is shown.
GtkWidget* ShownToplevel(const std::function<bool(GtkWidget*)>& match);

}  // namespace lumora_viewer::testing
