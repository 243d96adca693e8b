// Where the program and the SDK's module live, and modules loaded at run time.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/DynamicModule.h"
#include "platform/ModulePath.h"

namespace lumora::platform {
namespace {

#if defined(_WIN32)
constexpr char kSeparator = '\\';
constexpr const char* kProgram = "test_platform.exe";
// A system module every process has, one of its exports, and what it answers.
constexpr const char* kSystemModule = "kernel32.dll";
constexpr const char* kSymbol = "lstrlenA";
using LengthFunction = int(__stdcall*)(const char*);
constexpr const char* kMissingModule = "C:\\nonexistent\\libnothing.dll";
#else
constexpr char kSeparator = '/';
constexpr const char* kProgram = "test_platform";
constexpr const char* kSystemModule = "libc.so.6";
constexpr const char* kSymbol = "strlen";
using LengthFunction = size_t (*)(const char*);
constexpr const char* kMissingModule = "/nonexistent/libnothing.so";
#endif

bool FileExists(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file != nullptr) std::fclose(file);
    return file != nullptr;
}

// Files beside the program or the library are found by appending their name to the folder.
TEST(ModulePathTest, FoldersEndInASeparatorAndHoldTheRunningFiles) {
    const std::string program = ExecutableFolder();
    ASSERT_FALSE(program.empty());
    EXPECT_EQ(program.back(), kSeparator);
    EXPECT_TRUE(FileExists(program + kProgram)) << program;
    // This program links the SDK statically: its module is the program itself (named as the
    // loader knows it, which may be relative to the working folder).
    EXPECT_TRUE(FileExists(LibraryFolder() + kProgram)) << LibraryFolder();
}

TEST(DynamicModuleTest, LoadsByNameFindsSymbolsAndSaysWhyItCouldNot) {
    std::string error;
    const auto system = DynamicModule::Load(kSystemModule, &error);
    ASSERT_TRUE(system) << error;
    const auto length = reinterpret_cast<LengthFunction>(system->Symbol(kSymbol));
    ASSERT_NE(length, nullptr);
    EXPECT_EQ(length("four"), 4);
    EXPECT_EQ(system->Symbol("no_such_symbol_anywhere"), nullptr);

    EXPECT_FALSE(DynamicModule::Load(kMissingModule, &error));
    EXPECT_NE(error.find("libnothing"), std::string::npos) << error;
}

}  // namespace
}  // namespace lumora::platform
