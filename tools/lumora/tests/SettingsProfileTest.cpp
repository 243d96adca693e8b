// lumora features, get, set, save and load: every setting goes from one simulated camera to
// another through a profile and comes back the same; what is kept survives the program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "CommandRun.h"

namespace lumora_cli_test {
namespace {

// A value for every setting, none of them what a camera starts with.
constexpr const char* kEverySetting =
    "# every setting away from its default\n"
    "exposure = 123.456789\n"
    "gain = 77\n"
    "black-level = 300\n"
    "gain-mode = low\n"
    "mirror-h = on\n"
    "mirror-v = on\n"
    "auto-iris = gain\n"
    "gamma = 120\n"
    "contrast = -5\n"
    "brightness = 7\n"
    "sharpness = 3\n"
    "hue = 10\n"
    "saturation = -10\n"
    "gray-mode = gain-offset\n"
    "gray-gain-r = 100\n"
    "gray-gain-g1 = 101\n"
    "gray-gain-g2 = 102\n"
    "gray-gain-b = 103\n"
    "gray-offset-r = -1\n"
    "gray-offset-g1 = -2\n"
    "gray-offset-g2 = 3   # a comment after a value\n"
    "gray-offset-b = 4\n"
    "bits = 8\n"
    "window = 8,4,1280,1024\n"
    "subsample = off\n"
    "wait-time = 5\n"
    "cooler = off\n"
    "dot-filter = on\n"
    "mask-filter = on\n";

const std::vector<std::string> kNotKept = {"bits",   "window",     "subsample",  "wait-time",
                                           "cooler", "dot-filter", "mask-filter"};

using Values = std::map<std::string, std::string>;

// The settings of a profile or of `get` output: name to value, comments dropped.
Values Parse(const std::string& text) {
    Values values;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        line = line.substr(0, line.find('#'));
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        auto trim = [](std::string s) {
            s.erase(0, s.find_first_not_of(' '));
            s.erase(s.find_last_not_of(' ') + 1);
            return s;
        };
        values[trim(line.substr(0, equals))] = trim(line.substr(equals + 1));
    }
    return values;
}

bool IsKept(const std::string& name) {
    for (const auto& n : kNotKept) {
        if (n == name) return false;
    }
    return true;
}

Values KeptOnly(Values values) {
    std::erase_if(values, [](const auto& entry) { return !IsKept(entry.first); });
    return values;
}

class SettingsProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumora-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        std::FILE* f = std::fopen(File("every.profile").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(kEverySetting, f);
        std::fclose(f);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::string File(const std::string& name) const { return (folder_ / name).string(); }
    // lumora with two simulated cameras, camera `device`.
    Result Lumora(int device, std::vector<std::string> args) {
        args.insert(args.begin(), {"--sim", "2", "-d", std::to_string(device)});
        Result result = RunLumora(folder_, args);
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
        return result;
    }

    std::filesystem::path folder_;
};

TEST_F(SettingsProfileTest, EverySettingGoesFromOneCameraToAnotherAndBack) {
    const Values every = Parse(kEverySetting);
    // Camera 0 keeps what may be kept; the rest is named, not applied.
    const Result load = Lumora(0, {"load", File("every.profile")});
    EXPECT_NE(load.out.find("camera LUM00001 keeps 22 settings"), std::string::npos) << load.out;
    EXPECT_NE(load.out.find("not applied, as no program keeps them"), std::string::npos);
    // A later program on camera 0 starts with them.
    EXPECT_EQ(KeptOnly(Parse(Lumora(0, {"get"}).out)), KeptOnly(every));

    // With the profile for the command, camera 0 has every setting, and its profile says so.
    Lumora(0, {"--profile", File("every.profile"), "save", File("camera0.profile")});
    const Values camera0 = Parse(ReadText(File("camera0.profile")));
    EXPECT_EQ(camera0, every);

    // Camera 1 takes camera 0's profile, and gives back the same.
    Lumora(1, {"load", File("camera0.profile")});
    Lumora(1, {"--profile", File("camera0.profile"), "save", File("camera1.profile")});
    EXPECT_EQ(Parse(ReadText(File("camera1.profile"))), camera0);
    // It keeps the kept settings on its own; the others are its own again.
    Lumora(1, {"save", File("camera1-alone.profile")});
    const Values alone = Parse(ReadText(File("camera1-alone.profile")));
    EXPECT_EQ(KeptOnly(alone), KeptOnly(camera0));
    for (const auto& name : {"cooler", "dot-filter", "mask-filter", "window"}) {
        EXPECT_NE(alone.at(name), camera0.at(name)) << name;
    }
    // Camera 0's own, without the profile, is untouched by what camera 1 did.
    EXPECT_EQ(KeptOnly(Parse(Lumora(0, {"get"}).out)), KeptOnly(every));
}

TEST_F(SettingsProfileTest, FeaturesShowEveryValueWhatItAllowsAndWhetherItIsKept) {
    Lumora(0, {"set", "gain=33", "black-level=250"});
    const Result features = Lumora(0, {"features"});
    const std::string& out = features.out;
    EXPECT_NE(out.find("camera LUM00001"), std::string::npos) << out;
    // One line per setting: its value, what it allows, its step and unit, whether it is kept.
    const Values everyName = Parse(kEverySetting);
    std::istringstream lines(out);
    std::map<std::string, std::string> rows;
    for (std::string line; std::getline(lines, line);) {
        const std::string name = line.substr(0, line.find(' '));
        if (everyName.count(name) != 0) rows.emplace(name, line);
    }
    EXPECT_EQ(rows.size(), everyName.size()) << out;
    EXPECT_NE(rows["gain"].find(" 33 "), std::string::npos) << rows["gain"];
    EXPECT_NE(rows["gain"].find("0 .. 420"), std::string::npos) << rows["gain"];
    EXPECT_NE(rows["black-level"].find(" 250 "), std::string::npos);
    EXPECT_NE(rows["black-level"].find("0 .. 4095"), std::string::npos);
    EXPECT_NE(rows["exposure"].find(".. 2000"), std::string::npos) << rows["exposure"];
    EXPECT_NE(rows["exposure"].find(" ms "), std::string::npos) << rows["exposure"];
    EXPECT_NE(rows["gain-mode"].find("high, low"), std::string::npos);
    EXPECT_NE(rows["window"].find("0,0,2560,2048"), std::string::npos) << rows["window"];
    for (const auto& [name, row] : rows) {
        const bool kept = row.size() >= 4 && row.compare(row.size() - 4, 4, " yes") == 0;
        EXPECT_EQ(kept, IsKept(name)) << row;
    }
}

}  // namespace
}  // namespace lumora_cli_test
