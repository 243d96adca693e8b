// The viewer's main window: the live picture with its measurement tools, the camera's controls
// beside it, the flat-field assistant, snapshots and recordings, the camera chooser and the
// messages a user needs (no camera, camera lost). It shows what the camera session and the
// frame feed report and turns the user's actions into calls on them; the measuring and the
// picture's pixels are the model's (Histogram, MeasureRegion, ProfileAlong, PictureRenderer).
//
// Threads: everything here runs on GTK's thread. The feed's thread only wakes this window
// (an idle callback) when a frame is waiting.
#pragma once

#include <gtk/gtk.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "CameraSession.h"
#include "FileNamePattern.h"
#include "PictureRenderer.h"
#include "TemperatureHistory.h"
#include "ViewTransform.h"

namespace lumora_viewer {

struct ViewerOptions {
    int sim = -1;     // >= 0: that many simulated cameras
    int device = -1;  // >= 0: open this device number
    bool startLive = true;
};

enum class PictureTool { kProbe, kRectangle, kLine, kWindow };

// The bridge from the feed's thread to GTK's: it outlives the window by as long as an idle
// callback is pending, and forgets the window when it closes.
struct WakeTarget;

class ViewerWindow {
public:
    explicit ViewerWindow(const ViewerOptions& options);
    ~ViewerWindow();
    ViewerWindow(const ViewerWindow&) = delete;
    ViewerWindow& operator=(const ViewerWindow&) = delete;

    GtkWidget* Window() const { return window_; }
    CameraSession& Camera() { return camera_; }
    // The frame on the picture now, with its measurements; null before the first one.
    std::shared_ptr<const Analysis> Current() const { return current_; }
    // Called once when the user closes the window or chooses Quit.
    void OnClosed(std::function<void()> closed) { closed_ = std::move(closed); }
    // Frames whose pixels reached the screen: a frame taken and replaced by the next before the
    // picture was redrawn is not counted.
    uint64_t FramesDrawn() const { return framesDrawn_; }
    // The first text the message bar shows, "" when it is hidden.
    std::string Message() const;
    // The feed has a frame waiting, or its run ended with `endedCode` (0: it did not).
    void Woken(int endedCode);

private:
    // --- building (ViewerWindow.cpp and ViewerPanels.cpp)
    GtkWidget* BuildMenu();
    GtkWidget* BuildToolbar();
    GtkWidget* BuildStatusBar();
    GtkWidget* BuildCameraPage();
    GtkWidget* BuildCoolerPage();
    GtkWidget* BuildFilterPage();
    GtkWidget* BuildMeasurePage();
    GtkWidget* BuildFlatFieldPage();
    GtkWidget* BuildSavePage();
    // The named widget of this window (looked up once, then kept).
    GtkWidget* W(const char* name);

    // --- camera and run
    void FillCameraList();
    void ChooseCamera(int number);
    void CameraOpened();
    void StartLive();
    void SetLive(bool on);
    // The Live button and the controls as the run stands.
    void SyncLiveButton();
    void LoadControls();
    void SetControlsSensitive();
    void ShowMessage(const std::string& text, GtkMessageType type);
    void HideMessage();
    void ShowError(const CameraSession::Error& error);
    void PollNotifications();
    void CameraLost();
    void CameraArrived();

    // --- frames and measurements
    void TakeFrame();
    void ShowMeasurements();
    void UpdateProbe();
    void UpdateMeasureRequest();
    DisplayLevels Levels();
    void Tick();
    void TickSecond();

    // --- picture (PictureArea.cpp)
    void BuildPicture();
    gboolean DrawPicture(cairo_t* cr);
    void RenderPicture(int width, int height);
    void PointerPressed(GdkEventButton* event);
    void PointerMoved(GdkEventMotion* event);
    void PointerReleased(GdkEventButton* event);
    void Scrolled(GdkEventScroll* event);
    void SyncViewport();
    void ApplyDrawnWindow();
    void ZoomFit();
    void ZoomActual();
    void ZoomBy(double factor);
    void PictureChanged() {
        pictureDirty_ = true;
        gtk_widget_queue_draw(picture_);
    }

    // --- controls (ViewerPanels.cpp)
    void ExposureChanged(double ms);
    void WindowFromSpins();
    void ShowWindowSpins(const SensorWindow& window);
    void TriggerModeChanged();
    void FlatFieldChanged();
    void TakeReference(int which);
    void FinishReference();
    void UpdateFlatFieldPage();
    void Snapshot();
    void RecordToggled();
    void UpdateRecordProgress();
    void SaveProfile();
    void LoadProfile();
    void OpenDialog(int which);
    std::optional<FileNamePattern::Slot> NextFile(const char* extension);
    HWND Owner();

    ViewerOptions options_;
    CameraSession camera_;
    HWND notifications_ = nullptr;
    HWND owner_ = nullptr;
    std::shared_ptr<WakeTarget> wake_;
    std::function<void()> closed_;

    GtkWidget* window_ = nullptr;
    std::unordered_map<std::string, GtkWidget*> widgets_;
    GtkWidget* picture_ = nullptr;
    GtkWidget* histogram_ = nullptr;
    GtkWidget* profile_ = nullptr;
    GtkWidget* temperaturePlot_ = nullptr;
    GtkWidget* before_ = nullptr;
    GtkWidget* after_ = nullptr;
    guint tickSource_ = 0;
    guint secondSource_ = 0;
    bool updating_ = false;  // widgets are being set from the camera: no handler acts
    std::vector<DeviceEntry> devices_;
    bool lost_ = false;

    std::shared_ptr<const Analysis> current_;
    std::shared_ptr<const Analysis> beforeCorrection_;
    ViewTransform view_;
    PictureRenderer renderer_;
    cairo_surface_t* surface_ = nullptr;
    bool pictureDirty_ = true;
    uint64_t drawnNumber_ = 0;  // the feed's number of the last frame rendered into surface_
    uint64_t framesDrawn_ = 0;
    PictureTool tool_ = PictureTool::kProbe;
    std::optional<PixelRect> region_;
    std::optional<std::pair<PixelPoint, PixelPoint>> line_;
    std::optional<PixelRect> drawnWindow_;  // the capture window being drawn, picture pixels
    bool dragging_ = false;
    bool panning_ = false;
    double dragStartX_ = 0, dragStartY_ = 0;
    PixelPoint dragFrom_;
    std::optional<PixelPoint> pointer_;  // the image pixel under the pointer

    TemperatureHistory temperatures_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    int pendingReference_ = -1;  // a reference waiting for frames without corrections
    uint64_t referenceAfterFrame_ = 0;
    bool referenceMask_ = false;
    bool referenceDot_ = false;
    bool takenDark_ = false;
    bool takenBright_ = false;
    bool recording_ = false;
    std::string recordPath_;
    std::optional<std::chrono::steady_clock::time_point> recordFirstFrame_;
    int recordSeconds_ = 10;
};

}  // namespace lumora_viewer
