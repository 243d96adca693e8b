// Files on Windows: opened without harming what the path named, refused when they are devices,
// pipes or folders, removed only when the call created them; whole-file saves replace the old
// content only once the new one is complete.
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>

#include "platform/FileReplace.h"
#include "platform/RegularFile.h"
#include "platform/Win32Api.h"

namespace lumora::platform {
namespace {

class Folder {
public:
    Folder() {
        path_ = std::filesystem::temp_directory_path() /
                ("lumora-files-" + std::to_string(::GetCurrentProcessId()) + "-" +
                 std::to_string(::GetTickCount64()));
        std::filesystem::create_directories(path_);
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    std::string String() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

std::string ReadAll(const std::string& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

void WriteAll(const std::string& path, const std::string& text) {
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

TEST(Win32RegularFile, WritingOverAFileKeepsItsContentUntilTheWriterCutsIt) {
    Folder dir;
    const std::string path = dir / "old.bin";
    WriteAll(path, "0123456789");
    RegularFile file;
    ASSERT_TRUE(file.OpenForWriting(path.c_str()));
    EXPECT_FALSE(file.Created());
    EXPECT_EQ(file.Size(), 10u);
    ASSERT_TRUE(file.Write("ab", 2));
    // A positioned write and a cut leave the current position where it was.
    ASSERT_TRUE(file.WriteAt(3, "X", 1, "YZ", 2));
    EXPECT_EQ(file.Position(), 2u);
    ASSERT_TRUE(file.Truncate(6));
    EXPECT_EQ(file.Position(), 2u);
    ASSERT_TRUE(file.Write("\n", 1));  // binary: no carriage return joins it
    EXPECT_FALSE(file.RemoveIfCreated());  // not ours to remove
    EXPECT_EQ(ReadAll(path), std::string("ab\nXYZ"));
}

TEST(Win32RegularFile, OnlyAFileThisObjectCreatedIsRemovedAndOnlyWhileThePathNamesIt) {
    Folder dir;
    const std::string path = dir / "new.bin";
    RegularFile file;
    ASSERT_TRUE(file.OpenForWriting(path.c_str()));
    EXPECT_TRUE(file.Created());
    EXPECT_TRUE(file.RemoveIfCreated());
    EXPECT_FALSE(std::filesystem::exists(path));

    // Another file took the name meanwhile: it stays.
    ASSERT_TRUE(file.OpenForWriting(path.c_str()));
    ASSERT_TRUE(file.Close());
    const std::string other = dir / "other.bin";
    WriteAll(other, "someone else's");
    ASSERT_TRUE(::MoveFileExA(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(file.RemoveIfCreated());
    EXPECT_EQ(ReadAll(path), "someone else's");
}

TEST(Win32RegularFile, DevicesPipesAndFoldersAreRefusedAndLeftAsTheyWere) {
    Folder dir;
    const std::string pipeName = "\\\\.\\pipe\\lumora-test-" + std::to_string(::GetCurrentProcessId());
    HANDLE pipe = ::CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1, 0,
                                     0, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    const std::string reserved = dir / "nul";
    const std::string folder = dir.String();
    RegularFile file;
    for (const std::string& path : {std::string("NUL"), std::string("CON"), std::string("COM1"),
                                     reserved, pipeName, folder}) {
        EXPECT_FALSE(file.OpenForWriting(path.c_str())) << path;
        EXPECT_FALSE(file.OpenForReading(path.c_str())) << path;
        EXPECT_FALSE(file.RemoveIfCreated()) << path;
        EXPECT_FALSE(RegularFile::MayHoldAFile(path.c_str())) << path;
    }
    // The pipe's one instance was never taken: a client still connects.
    HANDLE client = ::CreateFileA(pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
    EXPECT_NE(client, INVALID_HANDLE_VALUE);
    if (client != INVALID_HANDLE_VALUE) ::CloseHandle(client);
    ::CloseHandle(pipe);

    EXPECT_TRUE(RegularFile::MayHoldAFile((dir / "missing").c_str()));
    EXPECT_FALSE(file.OpenForReading((dir / "missing").c_str()));
    EXPECT_FALSE(file.OpenForWriting((dir / "no\\folder").c_str()));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}

TEST(Win32RegularFile, ReadsStopAtTheEnd) {
    Folder dir;
    const std::string path = dir / "r.bin";
    WriteAll(path, "abcdef");
    RegularFile file;
    ASSERT_TRUE(file.OpenForReading(path.c_str()));
    char buffer[8] = {};
    ASSERT_TRUE(file.ReadExact(buffer, 4));
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    EXPECT_FALSE(file.ReadExact(buffer, 4));  // only two left
    size_t got = 1;
    ASSERT_TRUE(file.Read(buffer, 4, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(file.Write("x", 1));  // opened for reading
}

TEST(Win32FileSave, ReplacesTheOldContentOnlyWhenTheNewIsComplete) {
    Folder dir;
    const std::string path = dir / "saved.bin";
    WriteAll(path, "old content");
    FileSave save;
    save.write = [](RegularFile& out) { return out.Write("half", 4) && false; };
    EXPECT_FALSE(SaveFile(path, save));
    EXPECT_EQ(ReadAll(path), "old content");
    save.write = [](RegularFile& out) { return out.Write("new", 3); };
    ASSERT_TRUE(SaveFile(path, save));
    EXPECT_EQ(ReadAll(path), "new");
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.String()), {}), 1);
}

TEST(Win32FileSave, AFailedSaveRemovesOnlyTheFileItCreated) {
    Folder dir;
    const std::string path = dir / "fresh.bin";
    FileSave save;
    save.write = [](RegularFile&) { return false; };
    EXPECT_FALSE(SaveFile(path, save));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(std::filesystem::is_empty(dir.String()));
}

TEST(Win32FileSave, AFileWithASecondNameIsWrittenInPlaceWhenAllowed) {
    Folder dir;
    const std::string path = dir / "linked.bin";
    const std::string second = dir / "second.bin";
    WriteAll(path, "0123456789");
    ASSERT_TRUE(::CreateHardLinkA(second.c_str(), path.c_str(), nullptr));
    FileSave save;
    save.size = 3;
    save.write = [](RegularFile& out) { return out.Write("abc", 3); };
    EXPECT_FALSE(SaveFile(path, save));  // replacing would part the two names
    EXPECT_EQ(ReadAll(second), "0123456789");
    save.allowInPlace = true;
    ASSERT_TRUE(SaveFile(path, save));
    EXPECT_EQ(ReadAll(path), "abc");
    EXPECT_EQ(ReadAll(second), "abc");
}

}  // namespace
}  // namespace lumora::platform

#endif  // _WIN32
