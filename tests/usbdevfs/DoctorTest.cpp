// `lumora doctor` on the emulated bus: it finds both cameras and their SuperSpeed links.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

#ifdef LUMORA_COMMAND_PATH
TEST(DoctorTest, FindsTheEmulatedCamerasAndSaysStreamingCanWork) {
    FILE* pipe = ::popen(LUMORA_COMMAND_PATH " doctor 2>&1", "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) output += line;
    const int status = ::pclose(pipe);
    size_t cameras = 0;
    for (size_t at = output.find("camera 1d50:3380"); at != std::string::npos;
         at = output.find("camera 1d50:3380", at + 1))
        ++cameras;
    EXPECT_EQ(cameras, 2u) << output;
    EXPECT_NE(output.find("link: SuperSpeed"), std::string::npos) << output;
    EXPECT_NE(output.find("Streaming can work."), std::string::npos) << output;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
}
#endif

}  // namespace
