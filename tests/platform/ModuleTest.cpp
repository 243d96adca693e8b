// Where the program and the SDK's module live, and modules loaded at run time.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/DynamicModule.h"
#include "platform/ModulePath.h"

namespace lumora::platform {
namespace {

bool FileExists(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file != nullptr) std::fclose(file);
    return file != nullptr;
}

// Files beside the program or the library are found by appending their name to the folder.
TEST(ModulePathTest, FoldersEndInASeparatorAndHoldTheRunningFiles) {
    const std::string program = ExecutableFolder();
    ASSERT_FALSE(program.empty());
    EXPECT_EQ(program.back(), '/');
    EXPECT_TRUE(FileExists(program + "test_platform")) << program;
    // This program links the SDK statically: its module is the program itself (named as the
    // loader knows it, which may be relative to the working folder).
    EXPECT_TRUE(FileExists(LibraryFolder() + "test_platform")) << LibraryFolder();
}

TEST(DynamicModuleTest, LoadsByNameFindsSymbolsAndSaysWhyItCouldNot) {
    std::string error;
    const auto libc = DynamicModule::Load("libc.so.6", &error);
    ASSERT_TRUE(libc) << error;
    const auto length = reinterpret_cast<size_t (*)(const char*)>(libc->Symbol("strlen"));
    ASSERT_NE(length, nullptr);
    EXPECT_EQ(length("four"), 4u);
    EXPECT_EQ(libc->Symbol("no_such_symbol_anywhere"), nullptr);

    EXPECT_FALSE(DynamicModule::Load("/nonexistent/libnothing.so", &error));
    EXPECT_NE(error.find("libnothing"), std::string::npos) << error;
}

}  // namespace
}  // namespace lumora::platform
