// The lumora command as a user meets it: every message and exit status for arguments it cannot
// use (2), failures (1) and a stop by signal (128 + the signal), the global options after the
// command, and a command that changes only what its options name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "CommandRun.h"

namespace lumora_cli_test {
namespace {

struct Case {
    std::vector<std::string> args;
    std::string message;  // what stderr must say
};

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumora-cli-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    Result Lumora(const std::vector<std::string>& args) { return RunLumora(folder_, args); }
    // Each case ends with `exitCode` and says its message, and none claims an error 0.
    template <size_t N>
    void ExpectEach(const Case (&cases)[N], int exitCode);
    std::string File(const std::string& name) const { return (folder_ / name).string(); }

    std::filesystem::path folder_;
};

// Nothing about a code 0 "error": a message without a code must not pretend to have one.
void ExpectHonest(const Result& result) {
    EXPECT_EQ(result.err.find("error 0"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("no error"), std::string::npos) << result.err;
}

template <size_t N>
void CommandLineTest::ExpectEach(const Case (&cases)[N], int exitCode) {
    std::vector<std::vector<std::string>> argLists;
    for (const Case& c : cases) argLists.push_back(c.args);
    const std::vector<Result> results = RunEach(folder_, argLists);
    for (size_t i = 0; i < N; ++i) {
        std::string line = "lumora";
        for (const auto& a : cases[i].args) line += " " + a;
        SCOPED_TRACE(line);
        const Result& result = results[i];
        EXPECT_EQ(result.exitCode, exitCode) << result.out << result.err;
        EXPECT_NE(result.err.find(cases[i].message), std::string::npos) << result.err;
        ExpectHonest(result);
    }
}

TEST_F(CommandLineTest, ArgumentsItCannotUseExitTwoAndSayWhatIsAllowed) {
    const std::string png = File("x.png");
    const std::string profile = File("broken.profile");
    {
        std::FILE* f = std::fopen(profile.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("# a profile\ngain 5\n", f);
        std::fclose(f);
    }
    const Case cases[] = {
        // The window off the sensor's steps: the steps and the nearest window that fits.
        {{"--sim", "1", "snap", "-w", "1,1,100,100", png},
         "x and width go in steps of 8 pixels, y and height in steps of 4"},
        {{"--sim", "1", "snap", "-w", "1,1,100,100", png}, "nearest that fits: 0,0,96,100"},
        {{"--sim", "1", "snap", "-w", "2000,0,640,480", png}, "within 2560 x 2048"},
        // Exposures outside the range, in the option's own unit and in milliseconds.
        {{"--sim", "1", "snap", "-e", "999999", png},
         "-e 999999: the exposure in 0.1 ms units goes from 1 to 20000 (0.1 .. 2000 ms)"},
        {{"--sim", "1", "snap", "-e", "-5", png}, "-e -5: the exposure in 0.1 ms units goes"},
        {{"--sim", "1", "snap", "--exposure-ms", "2500", png}, "exposure 2500 ms is outside 0.0"},
        {{"--sim", "1", "snap", "--exposure-ms", "2500", png}, " .. 2000 ms"},
        {{"--sim", "1", "snap", "-e", "100", "--exposure-ms", "10", png}, "give the exposure once"},
        {{"--sim", "1", "snap", "-g", "500", png}, "-g 500: gain 500 is outside 0 .. 420"},
        {{"--sim", "1", "snap", "-b", "12", png}, "--bits: 12 not in {8,16}"},
        {{"--sim", "1", "snap", "--subsample", "1", "-w", "0,0,640,480", png},
         "subsampling reads the whole sensor into 1280 x 1024 frames"},
        {{"--sim", "1", "snap", "--scale", "-b", "8", png}, "this frame has 8 bits (add -b 16)"},
        {{"--sim", "1", "snap", File("x.mp3")},
         "unknown file type '.mp3'; the formats are .bmp .raw .jpg .png .tif"},
        {{"--sim", "1", "temp", "--watch", "--interval", "-1"},
         "--interval -1: give the seconds between readings, above 0"},
        {{"--sim", "1", "temp", "--watch", "--interval", "0"}, "--interval 0: give the seconds"},
        {{"--sim", "1", "reg", "fpga", "0x10", "0x1FF"},
         "value 511 (0x1FF) does not fit the 8-bit register: 0x00 .. 0xFF"},
        {{"--sim", "1", "reg", "fpga", "0x100"},
         "fpga register address 256 is outside 0x00 .. 0xFF"},
        {{"--sim", "1", "reg", "sensor", "0x10000"}, "outside 0x00 .. 0xFFFF"},
        {{"--sim", "1", "eeprom", "0xFFFF", "-n", "2"}, "addresses 0x0000 .. 0xFFFF"},
        {{"--sim", "1", "record", File("x.mp4"), "-s", "1"},
         "record writes uncompressed AVI files; name the file with .avi"},
        {{"--sim", "1", "record", File("x.avi"), "-s", "0"}, "the duration goes from above 0"},
        {{"--sim", "1", "stream", "-n", "-3"}, "-n -3: give a number of frames above 0"},
        {{"--sim", "1", "stream", "--gamma", "300", "-n", "1"},
         "--gamma 300: gamma 300 is outside 0 .. 200"},
        {{"--sim", "1", "set", "gain=1000"}, "gain 1000 is outside 0 .. 420"},
        {{"--sim", "1", "set", "mirror-h=maybe"}, "mirror-h 'maybe': allowed off, on"},
        {{"--sim", "1", "set", "bits=8"}, "bits is not kept between programs"},
        {{"--sim", "1", "set", "gain"}, "'gain': give NAME=VALUE"},
        {{"--sim", "1", "set", "nosuch=1"}, "no setting 'nosuch'; the settings are exposure, gain"},
        {{"--sim", "1", "get", "nosuch"}, "no setting 'nosuch'"},
        {{"--sim", "1", "load", profile}, "broken.profile line 2: 'gain 5' is not NAME = VALUE"},
        // The command itself.
        {{"--sim", "1", "bogus"}, "unknown command 'bogus'; the commands are list, info"},
        {{}, "no command given; the commands are list, info"},
        {{"--sim", "40", "info"}, "--sim: Value 40 not in range 0 to 32"},
        {{"--sim", "1", "info", "--frobnicate"}, "--frobnicate"},
    };
    ExpectEach(cases, 2);
    // Refused before anything was written.
    EXPECT_FALSE(std::filesystem::exists(png));
    EXPECT_FALSE(std::filesystem::exists(File("x.mp4")));
}

TEST_F(CommandLineTest, FailuresExitOneAndNameTheirCause) {
    const Case cases[] = {
        {{"--sim", "1", "snap", "/proc/x.png"},
         "cannot write /proc/x.png: No such file or directory"},
        {{"--sim", "1", "record", "/proc/d.avi", "-s", "1"}, "cannot write /proc/d.avi"},
        {{"--sim", "1", "save", "/proc/p.profile"}, "cannot write /proc/p.profile"},
        {{"--sim", "1", "load", File("missing.profile")}, "cannot read"},
        {{"--sim", "1", "--profile", File("missing.profile"), "info"}, "cannot read"},
        {{"--sim", "1", "-d", "3", "info"},
         "there is no device 3: 1 camera present (devices 0..0)"},
        {{"--sim", "0", "info"}, "no camera found"},
        {{"--sim", "0", "info"}, "LUMORA_SIM_CAMERAS=1"},
    };
    ExpectEach(cases, 1);
}

TEST_F(CommandLineTest, GlobalOptionsMayFollowTheCommandAndVersionIsShown) {
    Result info = Lumora({"info", "--sim", "1"});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("serial number    LUM00001"), std::string::npos) << info.out;
    Result second = Lumora({"info", "--sim", "2", "-d", "1"});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_NE(second.out.find("serial number    LUM00002"), std::string::npos) << second.out;
    Result list = Lumora({"list", "--sim", "2"});
    EXPECT_NE(list.out.find("2 cameras"), std::string::npos) << list.out;
    Result version = Lumora({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("lumora " LUMORA_VERSION " (SDK library ", 0), 0u) << version.out;
    Result help = Lumora({"snap", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--scale"), std::string::npos) << help.out;
}

// The figures while it runs, then the summary and 128 + the signal.
TEST_F(CommandLineTest, StreamReportsAsItRunsAndStopsWithItsSummaryOnASignal) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        Command stream(folder_, {"--sim", "1", "stream", "-s", "600", "-w", "0,0,320,240"});
        ASSERT_TRUE(stream.Started());
        // A line a second when the output is not a terminal; the handler is in place by then.
        ASSERT_TRUE(stream.WaitForOutput("progress ", std::chrono::seconds(120)))
            << stream.OutputSoFar();
        stream.Signal(signal);
        const Result result = stream.Wait();
        EXPECT_EQ(result.exitCode, 128 + signal) << result.out << result.err;
        EXPECT_NE(result.out.find("stopped          by signal " + std::to_string(signal)),
                  std::string::npos)
            << result.out;
        EXPECT_NE(result.out.find("frames lost      "), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("frame rate       "), std::string::npos) << result.out;
    }
}

// --verbose: a line per frame with its counter and settings; with --every-frame the counters
// of a run that keeps up follow each other.
TEST_F(CommandLineTest, StreamVerbosePrintsEachFramesMetadata) {
    for (const bool every : {false, true}) {
        SCOPED_TRACE(every);
        std::vector<std::string> args = {"--sim", "1",           "stream",    "-n",    "6",
                                         "-w",    "0,0,320,240", "--verbose", "--fast"};
        if (every) args.push_back("--every-frame");
        const Result result = Lumora(args);
        ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
        std::istringstream lines(result.out);
        int frames = 0;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("frame ", 0) != 0 || line.rfind("frame rate", 0) == 0) continue;
            ++frames;
            EXPECT_NE(line.find(" exposure "), std::string::npos) << line;
            EXPECT_NE(line.find(" window 0,0 320x240 "), std::string::npos) << line;
            EXPECT_NE(line.find(" temp "), std::string::npos) << line;
            EXPECT_NE(line.find(" skipped "), std::string::npos) << line;
        }
        EXPECT_GE(frames, 6) << result.out;
    }
}

// On a terminal the figures are one redrawn bar instead of lines; the summary after a Ctrl-C
// starts on a line of its own.
TEST_F(CommandLineTest, StreamOnATerminalDrawsABarAndEndsItBeforeTheSummary) {
    Command stream(folder_, {"--sim", "1", "stream", "-s", "600", "-w", "0,0,320,240"}, {},
                   Output::kTerminal);
    ASSERT_TRUE(stream.Started());
    ASSERT_TRUE(stream.WaitForOutput(" lost ", std::chrono::seconds(120))) << stream.OutputSoFar();
    stream.Signal(SIGINT);
    const Result result = stream.Wait();
    EXPECT_EQ(result.exitCode, 130) << result.out << result.err;
    EXPECT_EQ(result.out.rfind("\r[", 0), 0u) << result.out;
    EXPECT_NE(result.out.find(" fps "), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("progress "), std::string::npos) << result.out;
    // The terminal turns each newline into CR LF.
    EXPECT_NE(result.out.find(" lost \r\nstopped          by signal 2\r\n"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("frames lost      "), std::string::npos) << result.out;
}

TEST_F(CommandLineTest, TempWatchStopsOnCtrlCWithOneThirty) {
    Command temp(folder_, {"--sim", "1", "temp", "--watch", "--interval", "0.2"});
    ASSERT_TRUE(temp.WaitForOutput(" degC\n", std::chrono::seconds(120))) << temp.OutputSoFar();
    temp.Signal(SIGINT);
    const Result result = temp.Wait();
    EXPECT_EQ(result.exitCode, 130) << result.err;
}

TEST_F(CommandLineTest, PreviewStopsOnCtrlCWithOneThirtyAsRecordDoes) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') GTEST_SKIP() << "preview needs a display";
    Command preview(folder_, {"--sim", "1", "preview", "-w", "0,0,320,240", "--seconds", "600"},
                    {"LUMORA_WINDOW=x11"});
    ASSERT_TRUE(preview.WaitForOutput("Ctrl-C", std::chrono::seconds(120)))
        << preview.OutputSoFar();
    preview.Signal(SIGINT);
    const Result result = preview.Wait();
    EXPECT_EQ(result.exitCode, 130) << result.out << result.err;
    EXPECT_NE(result.out.find(" frames in "), std::string::npos) << result.out;
}

// A capture changes only what its options name, and only while it runs: the stored settings
// stay as `set` left them, the mirrors included.
TEST_F(CommandLineTest, ACaptureChangesOnlyWhatItsOptionsNameAndOnlyWhileItRuns) {
    const Result set = Lumora({"--sim", "1", "set", "gain=50", "mirror-h=on", "exposure=12.5"});
    ASSERT_EQ(set.exitCode, 0) << set.err;
    EXPECT_EQ(set.out, "gain = 50\nmirror-h = on\nexposure = 12.5\n");
    const Result snap =
        Lumora({"--sim", "1", "snap", "-g", "7", "--exposure-ms", "3", "-b", "8", File("a.png")});
    ASSERT_EQ(snap.exitCode, 0) << snap.err;
    const Result after = Lumora({"--sim", "1", "get", "gain", "mirror-h", "mirror-v", "exposure"});
    EXPECT_EQ(after.out, "gain = 50\nmirror-h = on\nmirror-v = off\nexposure = 12.5\n");
    // A profile given to one command is for that command too.
    const std::string profile = File("p.profile");
    {
        std::FILE* f = std::fopen(profile.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("gain = 9\nmirror-v = on\n", f);
        std::fclose(f);
    }
    const Result withProfile =
        Lumora({"--sim", "1", "--profile", profile, "get", "gain", "mirror-v"});
    EXPECT_EQ(withProfile.out, "gain = 9\nmirror-v = on\n");
    const Result later = Lumora({"--sim", "1", "get", "gain", "mirror-v"});
    EXPECT_EQ(later.out, "gain = 50\nmirror-v = off\n");
}

}  // namespace
}  // namespace lumora_cli_test
