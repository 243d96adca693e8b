// The viewer as a person uses it, on a simulated camera under Xvfb: set the exposure and watch
// the histogram move, draw a rectangle and check its statistics against numpy on the same
// frame, record two seconds and have ffprobe read the file, unplug the camera and read the
// message, take the references of the flat-field assistant, open a settings dialog with the
// picture live behind it. With LUMORA_SCREENSHOT_DIR set, the README's pictures are taken.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Text.h"
#include "ViewerFixture.h"
#include "Widgets.h"

namespace lumora_viewer::testing {
namespace {

// The standard output of a shell command; empty when it cannot run.
std::string Shell(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, got);
    ::pclose(pipe);
    return out;
}

std::string Tool(const char* variable) {
    const char* path = std::getenv(variable);
    return path != nullptr ? path : "";
}

// The first number in a text ("Saturated: 4.436 %" -> 4.436).
double NumberIn(const std::string& text) {
    const size_t at = text.find_first_of("-0123456789");
    return at == std::string::npos ? NAN : std::strtod(text.c_str() + at, nullptr);
}

TEST_F(ViewerTest, OpensTheLivePictureWithHistogramMeasurementsAndStatus) {
    OpenViewer();
    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(W("live"))));
    EXPECT_EQ(Viewer().Message(), "");
    Configure(16, 1280, 1024, 20);
    ASSERT_TRUE(WaitFrames(3));
    const auto a = Viewer().Current();
    EXPECT_EQ(a->histogram.Total(), 1280u * 1024u);
    EXPECT_NE(Text("saturated-share").find("%"), std::string::npos);
    // The status bar: frame rate, frames, exposure, gain and the sensor's temperature.
    ASSERT_TRUE(PumpUntil([&] { return NumberIn(Text("status-fps")) > 0; }));
    ASSERT_TRUE(
        PumpUntil([&] { return Text("status-temperature").find("°C") != std::string::npos; }));
    EXPECT_NE(Text("status-exposure").find("20.0"), std::string::npos) << Text("status-exposure");
    EXPECT_GT(NumberIn(Text("status-frames")), 0);

    // A look as a user would have it: a rectangle, a line and the saturation marks.
    Click("tool-rectangle");
    DragOnPicture(700, 420, 1000, 640);
    Click("tool-line");
    DragOnPicture(80, 900, 1200, 120);
    Toggle("saturation-overlay", true);
    ASSERT_TRUE(WaitFrames(2));
    ASSERT_TRUE(Viewer().Current()->profile.has_value());
    EXPECT_GT(Viewer().Current()->profile->values.size(), 1000u);
    Screenshot("viewer-live");
}

TEST_F(ViewerTest, SettingTheExposureMovesTheHistogram) {
    OpenViewer();
    Configure(16, 640, 512, 10);
    ASSERT_TRUE(WaitFrames(2));
    const double before = Viewer().Current()->histogram.Mean();
    SetSpin("exposure", 1);
    ASSERT_TRUE(PumpUntil([&] { return Viewer().Current()->histogram.Mean() < before * 0.5; }))
        << "mean stays near " << Viewer().Current()->histogram.Mean() << " from " << before;
    SetSpin("exposure", 200);
    ASSERT_TRUE(PumpUntil([&] { return Viewer().Current()->histogram.SaturatedShare() > 0.3; }));
    // The figures under the histogram follow the frame on show.
    ASSERT_TRUE(WaitFrames(1));
    EXPECT_NEAR(NumberIn(Text("saturated-share")),
                Viewer().Current()->histogram.SaturatedShare() * 100, 0.001);
}

TEST_F(ViewerTest, RectangleStatisticsMatchNumpyOnTheSameFrame) {
    LumoraSim_SetStaticScene(1);  // every frame the same, so the saved one is the measured one
    OpenViewer();
    Configure(16, 640, 512, 6);
    Click("tool-rectangle");
    DragOnPicture(101, 83, 377, 301);
    ASSERT_TRUE(WaitFrames(2));
    const auto a = Viewer().Current();
    ASSERT_TRUE(a->region.has_value());
    const PixelRect r = a->region->rect;
    EXPECT_EQ(r, (PixelRect{101, 83, 277, 219}));
    EXPECT_EQ(Text("region"), "101, 83  277 × 219");

    std::filesystem::create_directories(Folder());
    SetEntry("folder", Folder().string());
    SetEntry("name-pattern", "frame-#");
    Select("format", 3);  // raw: the image as it is, 16-bit words, rows padded to 4 bytes
    Click("take-snapshot");
    const std::filesystem::path raw = Folder() / "frame-0.raw";
    ASSERT_TRUE(std::filesystem::exists(raw)) << Text("last-file") << " " << Viewer().Message();
    EXPECT_EQ(std::filesystem::file_size(raw), 640u * 2 * 512);

    const std::string python = Tool("LUMORA_TEST_PYTHON");
    if (python.empty()) GTEST_SKIP() << "no python3 with numpy to judge the statistics";
    std::ostringstream script;
    script << "import numpy as np; a = np.fromfile('" << raw.string()
           << "', dtype='<u2').reshape(512, 640)[" << r.y << ":" << r.y + r.height << ", " << r.x
           << ":" << r.x + r.width << "].astype(np.float64); "
           << "print('%.6f %.6f %d %d' % (a.mean(), a.std(), a.min(), a.max()))";
    const std::string out = Shell(python + " -c \"" + script.str() + "\"");
    double mean = 0, deviation = 0;
    int minimum = -1, maximum = -1;
    ASSERT_EQ(std::sscanf(out.c_str(), "%lf %lf %d %d", &mean, &deviation, &minimum, &maximum), 4)
        << out;
    EXPECT_NEAR(NumberIn(Text("region-mean")), mean, 0.006);
    EXPECT_NEAR(NumberIn(Text("region-std")), deviation, 0.006);
    EXPECT_EQ(NumberIn(Text("region-min")), minimum);
    EXPECT_EQ(NumberIn(Text("region-max")), maximum);
    EXPECT_GT(deviation, 1.0) << "a flat rectangle would not tell much";
}

TEST_F(ViewerTest, RecordsTwoSecondsThatFfprobeReads) {
    OpenViewer();
    Configure(8, 320, 256, 8, 1200, 880);  // the middle of the picture, where things move
    std::filesystem::create_directories(Folder());
    SetEntry("folder", Folder().string());
    SetEntry("name-pattern", "rec-##");
    SetSpin("record-seconds", 2);
    gtk_notebook_set_current_page(GTK_NOTEBOOK(W("panel")), 5);
    Toggle("record", true);
    ASSERT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(W("record")))) << Viewer().Message();
    // Halfway: the progress bar moves and the picture stays live.
    ASSERT_TRUE(PumpUntil([&] {
        return gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(W("record-progress"))) >= 0.4;
    }));
    EXPECT_NE(Text("record-state").find("skipped"), std::string::npos) << Text("record-state");
    Toggle("auto-contrast", true);  // the display stretched to the little the picture holds
    ASSERT_TRUE(WaitFrames(2));
    Screenshot("viewer-recording");
    ASSERT_TRUE(PumpUntil(
        [&] { return !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(W("record"))); }, 30));
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(W("record-progress"))), 1.0);
    EXPECT_NE(Text("record-state").find("Recorded"), std::string::npos) << Text("record-state");
    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(W("live"))));

    const std::filesystem::path avi = Folder() / "rec-00.avi";
    ASSERT_TRUE(std::filesystem::exists(avi)) << Text("last-file");
    const std::string ffprobe = Tool("LUMORA_TEST_FFPROBE");
    if (ffprobe.empty()) GTEST_SKIP() << "no ffprobe to read the recording";
    const std::string out = Shell(ffprobe +
                                  " -v error -count_frames -select_streams v:0 -show_entries "
                                  "stream=width,height,nb_read_frames,duration -of default=nw=1 " +
                                  avi.string());
    int width = 0, height = 0, frames = 0;
    double duration = 0;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::sscanf(line.c_str(), "width=%d", &width);
        std::sscanf(line.c_str(), "height=%d", &height);
        std::sscanf(line.c_str(), "nb_read_frames=%d", &frames);
        std::sscanf(line.c_str(), "duration=%lf", &duration);
    }
    EXPECT_EQ(width, 320) << out;
    EXPECT_EQ(height, 256);
    EXPECT_GE(frames, 10);
    EXPECT_NEAR(duration, 2.0, 0.5);
}

TEST_F(ViewerTest, AnUnpluggedCameraIsReportedAndReopenedWhenItReturns) {
    OpenViewer();
    Configure(8, 320, 256, 20);
    ASSERT_EQ(LumoraSim_Unplug(0), 1);
    ASSERT_TRUE(PumpUntil([&] { return Viewer().Message().find("lost") != std::string::npos; }))
        << Viewer().Message();
    EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(W("live"))));
    EXPECT_FALSE(gtk_widget_get_sensitive(W("page-camera")));
    Screenshot("viewer-camera-lost");

    ASSERT_EQ(LumoraSim_Replug(0), 1);
    ASSERT_TRUE(PumpUntil([&] { return Viewer().Message() == "The camera is back."; }))
        << Viewer().Message();
    EXPECT_TRUE(WaitFrames(2)) << "delivered " << Viewer().Camera().StreamStats().framesDelivered
                               << ", skipped by the display "
                               << Viewer().Camera().Feed().Figures().skipped;
    EXPECT_TRUE(gtk_widget_get_sensitive(W("page-camera")));
}

TEST_F(ViewerTest, WithoutACameraItSaysSoAndOpensOneThatArrives) {
    OpenViewer(0);
    EXPECT_NE(Viewer().Message().find("No camera found"), std::string::npos) << Viewer().Message();
    EXPECT_FALSE(gtk_widget_get_sensitive(W("live")));
    LumoraSim_SetCameraCount(1);
    ASSERT_TRUE(PumpUntil([&] { return Viewer().Camera().IsOpen(); })) << Viewer().Message();
    EXPECT_TRUE(WaitFrames(1));
}

// `--device N` for a number no camera has says so and opens no other camera in its place,
// however long it waits; the camera chosen from the list then opens.
TEST_F(ViewerTest, ACameraNumberThatIsNotPresentIsNamedAndNoOtherCameraOpens) {
    OpenViewer(1, 7);
    EXPECT_NE(Viewer().Message().find("No camera with this number is connected: 7"),
              std::string::npos)
        << Viewer().Message();
    EXPECT_EQ(Viewer().Message().find("error"), std::string::npos) << Viewer().Message();
    // The viewer looks for cameras every second.
    PumpUntil([] { return false; }, 2.5);
    EXPECT_FALSE(Viewer().Camera().IsOpen()) << Viewer().Message();
    ASSERT_TRUE(Viewer().Camera().Open(Viewer().Camera().Devices().front().number));
    EXPECT_EQ(Viewer().Camera().MissingDevice(), -1);
}

TEST_F(ViewerTest, TheFlatFieldAssistantTakesReferencesAndFlattensThePicture) {
    // Full-sensor 16-bit frames, copied, measured and drawn: slow under a sanitizer on a busy
    // machine, so their waits are generous.
    constexpr double kFullFrameWait = 90;
    OpenViewer();
    Configure(16, 2560, 2048, 0.03);  // the dark reference: little light, as with the cap on
    gtk_notebook_set_current_page(GTK_NOTEBOOK(W("panel")), 4);
    Click("take-dark");
    ASSERT_TRUE(PumpUntil([&] { return Text("references").find("Dark: taken") == 0; }))
        << Text("references") << " / " << Viewer().Message();
    SetSpin("exposure", 8);
    ASSERT_TRUE(WaitFrames(3, kFullFrameWait));
    Click("take-bright");
    ASSERT_TRUE(PumpUntil([&] {
        return Text("references").find("Bright: taken") != std::string::npos;
    })) << Text("references")
        << " / " << Viewer().Message();
    // The live view darker than the bright reference: the flattened picture is mid-gray.
    SetSpin("exposure", 4);
    ASSERT_NEAR(Viewer().Camera().ExposureMs(), 4, 0.1);
    ASSERT_TRUE(WaitFrames(3, kFullFrameWait));
    const Histogram before = Viewer().Current()->histogram;
    Toggle("flat-field", true);
    Toggle("defect-filter", true);
    // After the corrections the picture's spread is a fraction of what it was.
    ASSERT_TRUE(PumpUntil([&] {
        const Histogram& h = Viewer().Current()->histogram;
        return h.StandardDeviation() / h.Mean() < 0.5 * before.StandardDeviation() / before.Mean();
    }));
    EXPECT_NE(Text("before-spread"), "–");
    ASSERT_TRUE(WaitFrames(1));
    Screenshot("viewer-flat-field");

    const std::filesystem::path mask = Folder() / "references.msk";
    std::filesystem::create_directories(Folder());
    SetEntry("mask-path", mask.string());
    Click("save-mask");
    ASSERT_TRUE(std::filesystem::exists(mask)) << Viewer().Message();
    EXPECT_EQ(std::filesystem::file_size(mask), 31457320u);
    Click("load-mask");
    EXPECT_NE(Viewer().Message().find("loaded"), std::string::npos) << Viewer().Message();
}

TEST_F(ViewerTest, TheImageDialogOpensFromTheMenuWithThePictureLiveBehindIt) {
    OpenViewer();
    Configure(8, 320, 256, 20);
    const uint64_t atOpen = Shown();
    uint64_t whileOpen = 0;
    bool closed = false;
    WhileModal([&] {
        GtkWidget* dialog = ShownToplevel(
            [](GtkWidget* w) { return std::string(gtk_widget_get_name(w)) == "lumora-dialog"; });
        if (dialog == nullptr || Shown() < atOpen + 5) return false;
        whileOpen = Shown();
        gtk_button_clicked(GTK_BUTTON(FindNamed(dialog, "2")));  // Cancel
        closed = true;
        return true;
    });
    ActivateMenu("menu-image-dialog");
    EXPECT_TRUE(closed) << Viewer().Message();
    EXPECT_GE(whileOpen, atOpen + 5);
    EXPECT_TRUE(WaitFrames(1));
}

TEST_F(ViewerTest, ACaptureWindowDrawnOnThePictureSnapsToTheCamerasGrid) {
    OpenViewer();
    Configure(8, 2560, 2048, 20);
    Click("tool-window");
    DragOnPicture(203, 101, 1001, 702);
    ASSERT_TRUE(PumpUntil([&] {
        const auto a = Viewer().Current();
        return a != nullptr && a->frame->geometry.width != 2560;
    }));
    const SensorWindow w = Viewer().Camera().Window();
    EXPECT_EQ(w, (SensorWindow{200, 96, 808, 608}));
    EXPECT_EQ(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(W("window-width"))), 808);
    EXPECT_EQ(Viewer().Current()->frame->geometry, (FrameGeometry{808, 608, 8}));
}

TEST_F(ViewerTest, TriggerModeTakesOneFramePerSoftwareTrigger) {
    OpenViewer();
    Configure(8, 320, 256, 5);
    Toggle("trigger-mode", true);
    ASSERT_TRUE(
        PumpUntil([&] { return gtk_widget_get_sensitive(W("software-trigger")) != FALSE; }));
    EXPECT_FALSE(gtk_widget_get_sensitive(W("record")));
    for (int i = 0; i < 2; ++i) {
        const uint64_t before = Viewer().Camera().Feed().Figures().taken;
        // A trigger that comes while the camera still reads out the last frame is refused:
        // the user presses again.
        bool taken = false;
        for (int press = 0; press < 10 && !taken; ++press) {
            Click("software-trigger");
            taken = PumpUntil([&] { return Viewer().Camera().Feed().Figures().taken > before; }, 3);
        }
        ASSERT_TRUE(taken);
    }
    Toggle("trigger-mode", false);
    EXPECT_TRUE(WaitFrames(3));
}

TEST_F(ViewerTest, SnapshotsInEveryFormatCountTheirNames) {
    OpenViewer();
    Configure(16, 320, 256, 5);
    std::filesystem::create_directories(Folder());
    SetEntry("folder", Folder().string());
    SetEntry("name-pattern", "snap-###");
    const std::vector<std::string> extensions = {".png", ".tif", ".bmp", ".raw",
                                                 ".jpg", ".jpg", ".jpg"};
    for (size_t i = 0; i < extensions.size(); ++i) {
        Select("format", static_cast<int>(i));
        Click("snapshot");
        char name[32];
        std::snprintf(name, sizeof name, "snap-%03zu%s", i, extensions[i].c_str());
        EXPECT_TRUE(std::filesystem::exists(Folder() / name)) << name << " " << Viewer().Message();
    }
    // A 16-bit frame makes a 16-bit PNG (bit depth at byte 24 of the file).
    std::ifstream png(Folder() / "snap-000.png", std::ios::binary);
    char header[25] = {};
    png.read(header, sizeof header);
    EXPECT_EQ(header[24], 16);
    // A file already there is never overwritten: the number moves on.
    SetSpin("counter", 0);
    Select("format", 0);
    Click("snapshot");
    EXPECT_TRUE(std::filesystem::exists(Folder() / "snap-007.png"));
}

TEST_F(ViewerTest, ASettingsProfileSavedFromTheMenuLoadsBack) {
    OpenViewer();
    Configure(8, 640, 480, 12);
    gtk_range_set_value(GTK_RANGE(W("gain")), 30);
    std::filesystem::create_directories(Folder());
    const std::filesystem::path profile = Folder() / "bench.profile";
    // The file chooser, as a person answers it: once it has settled, name the file and press
    // the accept button (again, if the chooser was still reading the folder).
    const auto answer = [&](bool save) {
        auto ticks = std::make_shared<int>(0);
        auto seen = std::make_shared<bool>(false);
        WhileModal([&, save, ticks, seen] {
            GtkWidget* chooser = ShownToplevel([](GtkWidget* w) { return GTK_IS_FILE_CHOOSER(w); });
            if (chooser == nullptr) return *seen || ++*ticks > 200;  // answered, or never shown
            *seen = true;
            if (++*ticks > 200) {  // no answer in 30 s: close it, so the test fails, not hangs
                gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
                return true;
            }
            if (*ticks < 4 || *ticks % 3 != 1) return false;
            if (save) {
                gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), Folder().c_str());
                gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(chooser), "bench.profile");
            } else {
                gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(chooser), profile.c_str());
            }
            gtk_button_clicked(GTK_BUTTON(
                gtk_dialog_get_widget_for_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT)));
            return false;
        });
    };
    answer(true);
    ActivateMenu("menu-save-profile");
    ASSERT_TRUE(std::filesystem::exists(profile)) << Viewer().Message();

    gtk_range_set_value(GTK_RANGE(W("gain")), 90);
    Configure(16, 320, 256, 30);
    answer(false);
    ActivateMenu("menu-load-profile");
    EXPECT_NE(Viewer().Message().find("Settings loaded"), std::string::npos) << Viewer().Message();
    EXPECT_EQ(Viewer().Camera().Gain(), 30);
    EXPECT_EQ(Viewer().Camera().Window(), (SensorWindow{0, 0, 640, 480}));
    EXPECT_EQ(std::lround(gtk_range_get_value(GTK_RANGE(W("gain")))), 30);
    ASSERT_TRUE(PumpUntil([&] {
        return Viewer().Current()->frame->geometry == FrameGeometry{640, 480, 8};
    }));
}

TEST_F(ViewerTest, JapaneseTextsShowWhenTheLanguageIsJapanese) {
    ::setenv("LANG", "ja_JP.UTF-8", 1);
    LoadTranslations(LUMORA_VIEWER_TEST_LOCALEDIR);
    OpenViewer();
    Configure(8, 1280, 1024, 8);
    GtkWidget* panel = W("panel");
    GtkWidget* first = gtk_notebook_get_nth_page(GTK_NOTEBOOK(panel), 0);
    EXPECT_EQ(std::string(gtk_notebook_get_tab_label_text(GTK_NOTEBOOK(panel), first)), "測定");
    EXPECT_EQ(Text("live"), "ライブ");
    EXPECT_NE(Text("status-temperature").find("センサー"), std::string::npos)
        << Text("status-temperature");
    ASSERT_TRUE(WaitFrames(2));
    Screenshot("viewer-ja");
    ::setenv("LANG", "C.UTF-8", 1);
    LoadTranslations("");
}

}  // namespace
}  // namespace lumora_viewer::testing
