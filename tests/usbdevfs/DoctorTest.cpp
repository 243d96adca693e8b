// `lumora doctor` on the emulated bus: it finds both cameras and their SuperSpeed links.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <utility>

namespace {

#ifdef LUMORA_COMMAND_PATH
// The command's output and exit status.
std::pair<std::string, int> RunDoctor(const char* command) {
    FILE* pipe = ::popen(command, "r");
    if (pipe == nullptr) return {"popen failed", -1};
    std::string output;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) output += line;
    const int status = ::pclose(pipe);
    return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(DoctorTest, FindsTheEmulatedCamerasAndSaysStreamingCanWork) {
    const auto [output, status] = RunDoctor(LUMORA_COMMAND_PATH " doctor 2>&1");
    EXPECT_EQ(Count(output, "camera 1d50:3380"), 2u) << output;
    EXPECT_NE(output.find("link: SuperSpeed"), std::string::npos) << output;
    EXPECT_NE(output.find("Streaming can work."), std::string::npos) << output;
    EXPECT_EQ(status, 0) << output;
}

// Without the vendor id the SDK looks for no camera, but the doctor still recognises the
// family by its USB interface and says which id to set.
TEST(DoctorTest, RecognisesTheCamerasWithoutAVendorIdAndNamesTheIdToSet) {
    const auto [output, status] =
        RunDoctor("env -u LUMORA_USB_VENDOR_ID " LUMORA_COMMAND_PATH " doctor 2>&1");
    EXPECT_EQ(Count(output, "camera 1d50:3380"), 2u) << output;
    EXPECT_NE(output.find("LUMORA_USB_VENDOR_ID is not set"), std::string::npos) << output;
    EXPECT_EQ(Count(output, "fix: export LUMORA_USB_VENDOR_ID=1d50"), 2u) << output;
    EXPECT_NE(output.find("Streaming cannot work yet."), std::string::npos) << output;
    EXPECT_EQ(status, 1) << output;
}
#endif

}  // namespace
